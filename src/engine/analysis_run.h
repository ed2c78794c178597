// The analysis run: opens a store, loads its indexes and name-to-ID map,
// finds the mail folder subtree and walks it in pre-order, sorting every
// node's record into the results (see AnalysisCollector), with progress,
// Stop and Pause, and a summary in the activity log.
//
// Order of one run:
//   path choice -> open (exclusive) -> "Step2" entries in the log ->
//   BuildIndexes -> named-property map -> message store object (node 0x21)
//   -> FindRootFolder -> counting walk (progress range) -> main walk ->
//   finish (page, store closed, summary logged)
// Deep recovery (deep_recovery.h) runs inside the subtree lookup; while it
// scans, the progress range is 1000 and the position the permille of the
// file scanned.
//
// Stop: Stop() sets the reader's stopAnalysis; the index loading sees it
// between B-tree pages and the walk before each node, and the run then goes
// through the finish with the abort page. Pause/Resume count: two pauses
// need two resumes. The walk waits at the gate between nodes.
//
// Failures never end the process: a store that cannot be opened, and a
// store without a mail folder root, end the run with a message and a failed
// outcome (the latter closes the store file too). An exception that escapes
// the run is caught at the thread entry and reported as a failed run.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/activity_log.h"
#include "engine/analysis_collector.h"
#include "engine/analysis_observer.h"
#include "engine/reconciliation.h"
#include "engine/analysis_results.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

inline constexpr std::string_view kProductCaption = "Brightmend";
inline constexpr std::string_view kSourceFileInUse = "Selected Source File in use.";
inline constexpr std::string_view kFileHighlyCorrupted = "Unable to parse file. File is Highly Corrupted";
inline constexpr std::string_view kAnalysisAbortedByUser = "Analysis process aborted by user";
inline constexpr std::string_view kCannotSearchPersonalFolder = "Cannot Search Personal Folder";

// Where the store path comes from: step 1 (kind 0) or the search page (1).
struct AnalysisSource {
    std::string sourcePath;
    std::string searchedSourcePath;
    int sourceKind = 0;
    // Scan the whole file for blocks and index pages (deep recovery) even
    // when the index looks sound; it runs by itself when it does not.
    bool deepScan = false;
    // Look for deleted items too ("Recovered Items\Deleted").
    bool recoverDeleted = false;
};

// The search page's path when the user came from there, else step 1's;
// the search page's path also when the choice is empty or names nothing.
std::string ChooseSourcePath(const AnalysisSource& source);

const char* OutcomeName(AnalysisOutcome outcome);  // "completed", "aborted", "failed"

class AnalysisRun {
public:
    // `log` may be nullptr (no activity log); `appDir` holds the pages.
    AnalysisRun(AnalysisObserver& observer, const ActivityLog* log, std::filesystem::path appDir);
    ~AnalysisRun();  // waits for a running worker
    AnalysisRun(const AnalysisRun&) = delete;
    AnalysisRun& operator=(const AnalysisRun&) = delete;

    // Clears the run flags and starts the worker (the thread entry); false
    // while a worker still runs.
    bool Start(const AnalysisSource& source);
    // Waits for the worker to end.
    void Wait();
    bool running() const { return running_.load(); }

    // The whole run on the calling thread (the worker calls this).
    AnalysisOutcome AnalyzeStore(const AnalysisSource& source);

    void Stop() { reader_.stopAnalysis.store(true); }
    void Pause() { reader_.pauseGate.Suspend(); }
    void Resume() { reader_.pauseGate.Resume(); }
    StoreReader& reader() { return reader_; }

    const AnalysisResults& results() const { return results_; }
    AnalysisResults& results() { return results_; }
    // Nodes read so far; never reset by a run.
    std::int32_t progressPos() const { return progressPos_.load(); }
    // Of the last finished run.
    AnalysisOutcome outcome() const;
    std::string message() const;
    std::string sourcePath() const;
    // What the last run found, read and could not read, folder by folder.
    Reconciliation reconciliation() const;

private:
    void ThreadEntry(AnalysisSource source);
    AnalysisOutcome Run(const AnalysisSource& source);
    void Walk(const NodeEntry& root, AnalysisCollector& collector);
    AnalysisOutcome Finish(AnalysisOutcome outcome, const AnalysisCollector* collector);
    AnalysisOutcome EndEarly(std::string_view message);
    void ShowMessage(std::string_view text);

    AnalysisObserver& observer_;
    const ActivityLog* log_;
    std::filesystem::path appDir_;
    StoreReader reader_;
    StoreFile store_;
    AnalysisResults results_;
    std::atomic<std::int32_t> progressPos_{0};
    std::atomic<bool> running_{false};
    std::thread worker_;
    mutable std::mutex stateMutex_;
    AnalysisOutcome outcome_ = AnalysisOutcome::Failed;
    std::string message_;
    std::string sourcePath_;
    Reconciliation account_;
};

// The number of nodes the counting walk visits below `root`: it descends
// only into nodes that have a data block.
std::int32_t CountSubtreeNodes(const NodeForest& forest, const NodeEntry& root);

}  // namespace bm
