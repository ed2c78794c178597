// The saving run: opens the store again, reloads its indexes and name-to-ID
// map, finds the mail folder subtree and repeats the analysis walk (the
// shared WalkMailSubtree), handing every folder and item to SavingActions,
// which writes the selected ones through the output's ItemSink (the .pst
// writer). Progress and the current folder go to a SavingStatus.
//
// Order of one run:
//   open (exclusive) -> BuildIndexes -> named-property map -> message store
//   object -> FindRootFolder -> counting walk (total) -> output store
//   created (as "<name>.partial") -> walk -> writer Finish, store closed ->
//   each part checked and given its name -> summary and closing words
//   logged (SavingHeadline: "Saving completed successfully" or what was
//   lost; "Saving aborted")
//
// Stop: Stop() sets the reader's stopSaving; the index loading sees it
// between B-tree pages and the walk before each node (the item being
// written is finished first), and the run then finishes the output store
// and logs "Saving aborted". A stop during the index loading ends the run
// as aborted before any output store is made.
//
// An item the writer fails on (an exception while writing it) is counted
// in failedItems() and skipped; the walk goes on with the next one. Every
// item of a selected folder is accounted for (reconciliation()): saved, or
// not recovered with its reason; the totals and the list go to the log and
// to a report (text and JSON) next to the output store. Every part written
// is held to the store checker before it gets its name; a part that fails
// it makes the run fail with the checker's findings and is renamed
// "<name>.pst.incomplete" (removed instead when a write failed: a full
// disk), so no broken file has a .pst name, and its items count as not
// saved. A walk that ends early (stop, failed write, changed source)
// counts per folder the items it never reached. A source that changes
// under the run (a short read inside the size seen at the open, another
// size, time or file) ends the walk with kSourceChanged. After a stopped
// analysis the walk also ends once every saved count reached the analysis
// count (SavingWalkMayGoOn). An item saved from blocks that failed their
// checks is counted as saved and named as damaged too (see
// content_damage.h), and with markDamaged gets a category saying so.
// Pause/Resume go through the reader's pause gate.
//
// Failures never end the process: "Can Not Read OST File", "File Analysis
// Failed" and "Root Folder Not Found" end the run with a failed outcome, as
// does an exception that escapes the run.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/activity_log.h"
#include "engine/analysis_observer.h"
#include "engine/item_filter.h"
#include "engine/reconciliation.h"
#include "engine/save_journal.h"
#include "engine/saving_selection.h"
#include "engine/saving_status.h"
#include "engine/well_known_counts.h"
#include "messaging/item_record.h"
#include "output/item_sink.h"
#include "output/save_to_pst.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

inline constexpr std::string_view kCannotReadStore = "Can Not Read OST File";
inline constexpr std::string_view kFileAnalysisFailed = "File Analysis Failed";
inline constexpr std::string_view kRootFolderNotFound = "Root Folder Not Found";
// Followed by the source's path and what changed.
inline constexpr std::string_view kSourceChanged = "the source file changed while it was read: ";
// Followed by the source's path: a save is not resumed from another file.
inline constexpr std::string_view kSourceChangedSinceCut =
    "The source file changed since the save was cut off; it cannot go on from its journal: ";

struct SavingSource {
    std::string sourcePath;
    SelectedFolders selected;
    // The directory the output store is created in (see MakeSaveDestination).
    std::filesystem::path destination;
    // How the analysis before ended, and what it counted.
    bool analysisStopped = false;
    WellKnownCounts analysisCounts;
    // Called before each item is handed to the writer. Tests make the
    // writer fail here; an exception counts the item as failed.
    std::function<void(USave_to_PST_Format&, const ItemRecord&)> beforeItemWrite;
    // Called with the file of each finished part before it is checked.
    // Tests damage a part here.
    std::function<void(const std::filesystem::path&)> beforeCheck;
    // Past this size of the output file the writer goes on in a new one.
    std::uint64_t storeSizeLimit = kDefaultStoreSizeLimit;
    // One part per year of the items' time (see FilterYearOf), "<name>
    // (2019).pst" ..., each still going on in a new part past the size.
    bool splitByYear = false;
    // The output file chosen by name (it must not exist); empty: the
    // default name in `destination`.
    std::filesystem::path outputFile;
    // Scan the whole file (deep recovery) even when the index looks sound,
    // as the analysis before did when it was asked to.
    bool deepScan = false;
    // Look for deleted items too, as the analysis before did.
    bool recoverDeleted = false;
    // Give the items saved with damaged content the category
    // kDamagedCategory ("Damaged in recovery") in the new store.
    bool markDamaged = false;
    // Items of the selected folders the filter leaves out are not saved;
    // the account counts them apart (left out by the filter). Folders'
    // associated items (views, rules, settings) are never left out.
    ItemFilter filter;
    // Leave out each item that is a copy of one saved before into the
    // same folder (see duplicate_items.h), listed in the account.
    bool dedupe = false;
    // An export instead of a new store: the walk writes through this sink
    // (which writes into `exportFolder`, made before the run) and finishes
    // it; the report goes beside the folder. nullptr: a .pst is made.
    ItemSink* exportSink = nullptr;
    std::filesystem::path exportFolder;
    // For the benchmarks alone (bench/save_bench --damage-account): false
    // keeps no account of damaged content (the store is given no
    // ContentDamage, no item is named damaged), to time what it costs.
    bool accountDamage = true;
    // A journal beside the new store lets a save that is killed go on
    // (see save_journal.h); it holds this text, what the caller needs to
    // ask for the same save again. Empty: no journal. Not kept for an
    // export, nor for parts by year (no part is finished before the end).
    std::string journalRequest;
    // The journal of a save that was killed: this run goes on from it
    // (into its store, with its clock), and removes it when it ends.
    std::optional<SaveJournal> resume;
    std::filesystem::path resumedFrom;
};

struct SavingFinish {
    AnalysisOutcome outcome = AnalysisOutcome::Failed;
    // "Saving completed successfully", what was lost (SavingHeadline),
    // "Saving aborted", or the failure.
    std::string message;
    // "completed", "partial", "aborted" or "failed" (see saving_verdict.h).
    std::string outcomeName;
    WellKnownCounts saved;
    std::vector<std::filesystem::path> outputStores;
    // Items of the selected folders: saved, and found but not recovered.
    std::int64_t itemsSaved = 0;
    std::int64_t itemsNotRecovered = 0;
    // Of the saved items, those saved with damaged content.
    std::int64_t itemsDamaged = 0;
    // The report written next to the output store; empty when none was.
    std::filesystem::path reportText;
    std::filesystem::path reportJson;
};

// Called on the run's worker thread; every call has an empty default.
class SavingObserver {
public:
    virtual ~SavingObserver() = default;
    virtual void OnProgressRange(std::int32_t /*maximum*/) {}
    virtual void OnProgressPosition(std::int32_t /*position*/) {}
    virtual void OnMessage(const std::string& /*text*/) {}
    // The run is over; called exactly once per run.
    virtual void OnFinished(const SavingFinish& /*finish*/) {}
};

class SavingRun {
public:
    // `log` may be nullptr (no activity log).
    SavingRun(SavingObserver& observer, const ActivityLog* log);
    ~SavingRun();  // waits for a running worker
    SavingRun(const SavingRun&) = delete;
    SavingRun& operator=(const SavingRun&) = delete;

    // Clears the run flags and starts the worker; false while one runs.
    bool Start(SavingSource source);
    void Wait();
    bool running() const { return running_.load(); }

    // The whole run on the calling thread (the worker calls this).
    AnalysisOutcome SaveStore(const SavingSource& source);

    void Stop() { reader_.stopSaving.store(true); }
    void Pause() { reader_.pauseGate.Suspend(); }
    void Resume() { reader_.pauseGate.Resume(); }
    StoreReader& reader() { return reader_; }
    SavingStatus& status() { return status_; }

    // Of the last finished run. A run that walked to its end is Completed
    // even when it lost items; outcomeName() and SavingVerdictOf(
    // reconciliation()) tell those apart.
    AnalysisOutcome outcome() const;
    std::string outcomeName() const;
    std::string message() const;
    WellKnownCounts saved() const;
    std::vector<std::filesystem::path> outputStores() const;
    // Items the writer refused (an exception while writing); skipped.
    std::int32_t failedItems() const { return failedItems_.load(); }
    // What the last run found, read, saved and lost in the selected folders.
    Reconciliation reconciliation() const;
    // The report files of the last run (empty paths when none was written).
    std::filesystem::path reportText() const;
    std::filesystem::path reportJson() const;

private:
    void ThreadEntry(SavingSource source);
    AnalysisOutcome Run(const SavingSource& source);
    AnalysisOutcome End(AnalysisOutcome outcome, std::string message);
    // Finishes the writer and holds every part to the store checker; the
    // failure to report, nullopt when every part passed. `parts` gets the
    // parts as they now are named (a failed one ends in ".incomplete").
    // A part that passes gets its name; one that fails is set apart as
    // ".incomplete", or removed when a write failed (`writeFailed`), and
    // the items `savedByPart` lists for it are no longer saved.
    std::optional<std::string> FinishAndVerify(USave_to_PST_Format& writer,
                                               std::vector<std::filesystem::path>& parts, bool writeFailed,
                                               const std::function<void(const std::filesystem::path&)>& beforeCheck,
                                               const std::vector<std::vector<LostItem>>& savedByPart,
                                               Reconciliation& account);
    void WriteReport(const SavingSource& source, const std::string& outcomeName, const std::string& message);
    void ShowMessage(std::string_view text);

    SavingObserver& observer_;
    const ActivityLog* log_;
    StoreReader reader_;
    StoreFile store_;
    SavingStatus status_;
    std::atomic<std::int32_t> progressPos_{0};
    std::atomic<std::int32_t> failedItems_{0};
    std::atomic<bool> running_{false};
    std::thread worker_;
    mutable std::mutex stateMutex_;
    AnalysisOutcome outcome_ = AnalysisOutcome::Failed;
    std::string outcomeName_;
    std::string message_;
    WellKnownCounts saved_;
    std::vector<std::filesystem::path> outputStores_;
    // When and from where the run went on after a save was cut off; empty:
    // a new save.
    std::string resumed_;
    // The store name the report's name is made from.
    std::filesystem::path reportBase_;
    Reconciliation account_;
    std::filesystem::path reportText_;
    std::filesystem::path reportJson_;
};

}  // namespace bm
