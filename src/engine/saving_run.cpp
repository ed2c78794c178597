#include "engine/saving_run.h"

#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/analysis_collector.h"
#include "engine/analysis_run.h"
#include "engine/deep_recovery.h"
#include "engine/deleted_items.h"
#include "engine/duplicate_items.h"
#include "engine/log_texts.h"
#include "engine/lost_folders.h"
#include "engine/unlisted_items.h"
#include "engine/mail_subtree.h"
#include "engine/not_reached.h"
#include "engine/saving_actions.h"
#include "output/damage_mark.h"
#include "store/content_damage.h"
#include "engine/saving_verdict.h"
#include "messaging/item_reader.h"
#include "store/nid_types.h"
#include "output/pst/output_write_error.h"
#include "output/save_to_pst.h"
#include "check/store_checker.h"

namespace bm {

namespace fs = std::filesystem;

namespace {
constexpr const char* kOutputNotCompleted = "The output store could not be completed: ";
constexpr const char* kOutputNotWritten = "The output store could not be written: ";

// "2026-12-11 13:05:09 UTC from /out/x.pst.journal, 2 finished parts kept".
std::string ResumedText(const fs::path& journal, std::size_t partsKept) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return std::string(when) + " from " + journal.string() + ", " + std::to_string(partsKept) +
           (partsKept == 1 ? " finished part kept" : " finished parts kept");
}

// Names the saved items whose content came from damaged blocks, and ties
// each to a whole copy of the same item that the scan found later in the
// walk (an earlier version, kept in "Recovered Items") and the run saved
// too: the same node, or a heap nothing names any more (it has no node of
// its own) with the item's subject and delivery time, or its class when it
// has none, as the search for deleted items tells versions of one item.
class DamageWitness {
public:
    void BeginScanPhase() { scanPhase_ = true; }

    void Saved(Reconciliation& account, const ContentDamage& damage, std::uint32_t nid, const std::string& folder,
               const std::string& subject, const ItemRecord& record) {
        if (damage.empty()) {
            std::uint32_t damaged = nid;
            if (damagedNids_.count(nid) == 0) {
                if (!scanPhase_) return;
                const auto same = byIdentity_.find(IdentityKey(record));
                if (same == byIdentity_.end()) return;
                damaged = same->second;
            }
            DamagedItem* item = account.FindDamaged(damaged);
            if (item != nullptr && item->wholeCopyFolder.empty()) item->wholeCopyFolder = folder;
            return;
        }
        damagedNids_.insert(nid);
        byIdentity_.emplace(IdentityKey(record), nid);
        account.Damaged(DamagedItem{nid, folder, subject, damage.Describe(), {}});
    }

private:
    bool scanPhase_ = false;
    std::unordered_set<std::uint32_t> damagedNids_;
    // The first damaged item of each identity.
    std::unordered_map<std::string, std::uint32_t> byIdentity_;
};

// How often (in nodes) the walk asks whether the source file is still the
// one it opened; a short read is seen at once anyway.
constexpr std::int32_t kSourceCheckInterval = 1024;

}  // namespace

SavingRun::SavingRun(SavingObserver& observer, const ActivityLog* log) : observer_(observer), log_(log) {}

SavingRun::~SavingRun() { Wait(); }

bool SavingRun::Start(SavingSource source) {
    if (running_.load()) return false;
    Wait();
    // Cleared here rather than on the worker, so a Stop() right after
    // Start() is never lost.
    reader_.stopSaving.store(false);
    reader_.stopAnalysis.store(source.analysisStopped);
    reader_.savingRunActive.store(true);
    running_.store(true);
    worker_ = std::thread(&SavingRun::ThreadEntry, this, std::move(source));
    return true;
}

void SavingRun::Wait() {
    if (worker_.joinable()) worker_.join();
}

void SavingRun::ThreadEntry(SavingSource source) {
    SaveStore(source);
    running_.store(false);
}

AnalysisOutcome SavingRun::outcome() const {
    const std::lock_guard lock(stateMutex_);
    return outcome_;
}

std::string SavingRun::message() const {
    const std::lock_guard lock(stateMutex_);
    return message_;
}

WellKnownCounts SavingRun::saved() const {
    const std::lock_guard lock(stateMutex_);
    return saved_;
}

Reconciliation SavingRun::reconciliation() const {
    const std::lock_guard lock(stateMutex_);
    return account_;
}

fs::path SavingRun::reportText() const {
    const std::lock_guard lock(stateMutex_);
    return reportText_;
}

fs::path SavingRun::reportJson() const {
    const std::lock_guard lock(stateMutex_);
    return reportJson_;
}

std::string SavingRun::outcomeName() const {
    const std::lock_guard lock(stateMutex_);
    return outcomeName_;
}

std::vector<fs::path> SavingRun::outputStores() const {
    const std::lock_guard lock(stateMutex_);
    return outputStores_;
}

void SavingRun::ShowMessage(std::string_view text) {
    {
        const std::lock_guard lock(stateMutex_);
        message_ = std::string(text);
    }
    observer_.OnMessage(std::string(text));
}

AnalysisOutcome SavingRun::SaveStore(const SavingSource& source) {
    {
        const std::lock_guard lock(stateMutex_);
        message_.clear();
        outcome_ = AnalysisOutcome::Failed;
        saved_ = WellKnownCounts();
        outputStores_.clear();
        reportBase_.clear();
        outcomeName_ = OutcomeName(AnalysisOutcome::Failed);
        account_ = Reconciliation();
        reportText_.clear();
        reportJson_.clear();
    }
    failedItems_.store(0);
    status_.Reset();
    std::string failure(kFileAnalysisFailed);
    try {
        return Run(source);
    } catch (const std::exception& e) {
        failure += ": ";
        failure += e.what();
    } catch (...) {
    }
    ReleaseStore(store_);
    ShowMessage(failure);
    return End(AnalysisOutcome::Failed, failure);
}

AnalysisOutcome SavingRun::End(AnalysisOutcome outcome, std::string message) {
    SavingFinish finish;
    finish.outcome = outcome;
    finish.message = std::move(message);
    {
        const std::lock_guard lock(stateMutex_);
        outcome_ = outcome;
        message_ = finish.message;
        finish.saved = saved_;
        finish.outputStores = outputStores_;
        finish.itemsSaved = account_.totals().saved;
        finish.itemsNotRecovered = account_.totals().lost;
        finish.itemsDamaged = account_.totals().damaged;
        finish.reportText = reportText_;
        finish.reportJson = reportJson_;
        if (outcome != AnalysisOutcome::Completed) outcomeName_ = OutcomeName(outcome);
        finish.outcomeName = outcomeName_;
    }
    observer_.OnFinished(finish);
    return outcome;
}

AnalysisOutcome SavingRun::Run(const SavingSource& source) {
    ReleaseStore(store_);
    MailSubtreeOptions subtreeOptions;
    subtreeOptions.deepScan = source.deepScan;
    subtreeOptions.recoverDeleted = source.recoverDeleted;
    const MailSubtree subtree = OpenMailSubtree(store_, source.sourcePath, reader_, {}, subtreeOptions);
    if (subtree.status != MailSubtreeStatus::OpenFailed && reader_.stopSaving.load()) {
        // A stop seen by the index loading leaves the tables cut short; what
        // is missing then is no fault of the store. No output store exists yet.
        ReleaseStore(store_);
        if (log_ != nullptr) LogSavingEnd(*log_, FormatSummary(WellKnownCounts()), kLogSavingAborted);
        return End(AnalysisOutcome::Aborted, std::string(SavingOutcomeText(true)));
    }
    switch (subtree.status) {
    case MailSubtreeStatus::OpenFailed:
        if (const std::optional<std::string> what = NotARegularFile(source.sourcePath)) {
            ShowMessage(*what);
            return End(AnalysisOutcome::Failed, *what);
        }
        ShowMessage(kCannotReadStore);
        return End(AnalysisOutcome::Failed, std::string(kCannotReadStore));
    case MailSubtreeStatus::StoreObjectMissing:
        ReleaseStore(store_);
        ShowMessage(kFileAnalysisFailed);
        return End(AnalysisOutcome::Failed, std::string(kFileAnalysisFailed));
    case MailSubtreeStatus::NoRootFolder:
        ReleaseStore(store_);
        ShowMessage(kRootFolderNotFound);
        return End(AnalysisOutcome::Failed, std::string(kRootFolderNotFound));
    case MailSubtreeStatus::Found:
        break;
    }
    const NodeEntry& root = *subtree.root;
    const std::int32_t total = CountSubtreeNodes(store_.forest, root) - 3 + RecoveredNodeCount(store_);
    status_.SetTotal(total);
    observer_.OnProgressRange(total);

    // What a run killed on the way leaves for the next to go on from; made
    // before the writer, which reports its parts to it until it is gone.
    std::unique_ptr<SaveJournalWriter> journal;
    // The output: a new store, or the export's sink.
    std::optional<USave_to_PST_Format> writer;
    SaveJournal journalHead;
    std::string resumed;
    if (source.resume) {
        const std::optional<SourceIdentity> now = IdentifySource(source.sourcePath);
        if (!now || !(*now == source.resume->source)) {
            ReleaseStore(store_);
            const std::string what = std::string(kSourceChangedSinceCut) + source.sourcePath;
            ShowMessage(what);
            return End(AnalysisOutcome::Failed, what);
        }
    }
    if (source.exportSink == nullptr) {
        SaveOptions options;
        const bool journaled = (!source.journalRequest.empty() || source.resume) && !source.splitByYear;
        if (journaled) {
            // One clock for every name of the run, and the same again when
            // it goes on.
            std::time_t clock = std::time(nullptr);
            if (source.resume) clock = static_cast<std::time_t>(std::strtoll(source.resume->timestamp.c_str(), nullptr, 10));
            options.localClock = [clock] {
                std::tm local{};
                localtime_r(&clock, &local);
                return local;
            };
            options.partFinished = [&journal](std::size_t, const fs::path& part, std::uint64_t itemsThrough,
                                              bool last) {
                if (journal) journal->AddPart({itemsThrough, part, last});
            };
            if (source.resume) {
                std::vector<SaveOptions::FinishedPart> parts;
                for (const JournalPart& p : source.resume->parts) parts.push_back({p.path, p.itemsThrough});
                options.resume = std::move(parts);
                options.resumeEnded = !source.resume->parts.empty() && source.resume->parts.back().last;
            }
            journalHead.timestamp = std::to_string(static_cast<long long>(clock));
        }
        options.sourceFileName = fs::path(source.sourcePath).filename().string();
        options.defaultDirectory = source.destination;
        options.storeSizeLimit = source.storeSizeLimit;
        if (source.splitByYear) options.partYear = FilterYearOf;
        options.outputFile = source.resume ? source.resume->firstPart : source.outputFile;
        if (source.markDamaged) options.damagedCategory = std::string(kDamagedCategory);
        // Each part gets its name only once the check below has passed it.
        options.publishAfterCheck = true;
        writer.emplace(std::move(options));
        if (const std::optional<std::string> error = writer->CreateOutputStore({})) {
            ReleaseStore(store_);
            ShowMessage(*error);
            return End(AnalysisOutcome::Failed, *error);
        }
        writer->KeepStoreFolderLinks(root, store_);
        if (journaled) {
            std::string error;
            if (source.resume) {
                journal = SaveJournalWriter::Open(JournalPath(source.resume->firstPart), *source.resume, true, error);
                resumed = ResumedText(source.resumedFrom, source.resume->parts.size());
            } else if (const std::optional<SourceIdentity> id = IdentifySource(source.sourcePath)) {
                journalHead.sourcePath = source.sourcePath;
                journalHead.source = *id;
                journalHead.firstPart = writer->outputStores().front();
                journalHead.request = source.journalRequest;
                journal = SaveJournalWriter::Open(JournalPath(journalHead.firstPart), journalHead, false, error);
            }
            // The save goes on without one: it can still finish, only not
            // go on after being killed.
            if (!journal && !error.empty() && log_ != nullptr) log_->Append(error);
        }
    }
    const auto outputPath = [&] { return writer ? writer->outputStorePath() : source.exportFolder; };
    status_.SetOutputPath(outputPath());

    // The walk writes through the output's interface alone.
    ItemSink& sink = writer ? static_cast<ItemSink&>(*writer) : *source.exportSink;
    SavingActions actions(sink, store_, source.selected, status_, root.nid);
    // The current folder path and the path length before each open
    // folder's name, kept the way the analysis keeps them, and the open
    // folders' nodes (the root first).
    std::string path(kRootFolderName);
    path += '\\';
    std::vector<std::size_t> stack{0};
    std::vector<std::uint32_t> openNids{root.nid};

    // Set when the output store could not be written: nothing more can go
    // into it, so the walk ends and the run reports the failure.
    std::optional<std::string> outputFailure;
    SubtreeWalk walk;
    // Items are copied from their nodes; bodies and recipient rows are read
    // into the record only for an item whose copy fails.
    walk.parts = ItemParts::WithoutBodies;
    // The copy reads again the blocks the walk just read for the record.
    store_.recentBlocks.enable(true);
    walk.goOn = [&] {
        return !outputFailure && !reader_.stopSaving.load() && !store_.file.changed() &&
               SavingWalkMayGoOn(source.analysisStopped, actions.saved(), source.analysisCounts);
    };
    walk.nodeRead = [&] {
        const std::int32_t pos = ++progressPos_;
        status_.SetPosition(pos);
        observer_.OnProgressPosition(pos);
        if (pos % kSourceCheckInterval == 0) store_.file.CheckUnchanged();
    };
    Reconciliation account;
    // The items counted as saved, by the part of the output they went
    // into: a part that is set apart takes its items with it.
    std::vector<std::vector<LostItem>> savedByPart;
    // What each item's content came from is noted while it is read and
    // written; the account begins anew before each node is read.
    ContentDamage itemDamage;
    itemDamage.completeBeforeWrite = source.markDamaged;
    if (source.accountDamage) {
        store_.contentDamage = &itemDamage;
        walk.beforeRead = [&](const NodeEntry&) { itemDamage.Clear(); };
    }
    DamageWitness witness;
    std::optional<DuplicateItems> duplicates;
    if (source.dedupe) duplicates.emplace(store_);
    walk.readFailed = [&](const NodeEntry& node, NodeReadFailure why) {
        if (source.selected.IsSelected(path)) account.Unreadable(store_.forest, node, why == NodeReadFailure::NoDataBlock, path);
    };
    walk.scanPhase = [&] {
        account.BeginScanPhase();
        witness.BeginScanPhase();
    };
    if (std::optional<DeletedAccount> deleted = DeletedAccountOf(store_)) account.DeletedSearched(std::move(*deleted));
    walk.visit = [&](std::unique_ptr<ItemRecord> record, const NodeEntry& node) {
        if (record->folderCounts) {
            stack.push_back(path.size());
            path += record->displayName;
            path += '\\';
            if (record->ownRecordLost && source.selected.IsSelected(path)) account.FolderRecordLost(path);
            actions.FolderEntered(*record, node, openNids.back(), path);
            if (node.hasChildren()) {
                openNids.push_back(node.nid);
                return true;
            }
            path.resize(stack.back());
            stack.pop_back();
            return false;
        }
        const std::uint32_t parentNid = store_.forest.ParentNid(node);
        // The folder the item belongs to, as the actions choose it: mostly
        // the one the walk is in.
        const std::uint32_t owner = actions.FolderOf(parentNid, openNids.back());
        std::string ownerPath;
        if (owner != openNids.back()) ownerPath = actions.PathOf(owner).value_or(path);
        const std::string& itemFolder = owner != openNids.back() ? ownerPath : path;
        // An export leaves a folder's associated items (views, rules,
        // settings) out by design and counts them apart: they are not items
        // of its account.
        const bool leftOutByDesign = source.exportSink != nullptr && IsAssociatedMessageNid(node.nid);
        const bool counted = IsCountedItemNid(node.nid) && !leftOutByDesign && source.selected.IsSelected(itemFolder);
        const std::string subject =
            record->messageFields && record->messageFields->subject ? record->messageFields->subject->text : "";
        if (counted) {
            if (IsUnlistedItemRecord(store_, node))
                account.FoundUnlisted({node.nid, itemFolder, subject});
            else
                account.Found(itemFolder, node.nid);
            account.Read(itemFolder);
            if (record->incomplete)
                account.Incomplete({node.nid, itemFolder, subject, std::string(kIncompleteDeletedItemLoss)});
        }
        // A normal item of a selected folder that the filter leaves out, or
        // that is a copy of one saved before, is counted apart, not written.
        const bool normal = counted && !IsAssociatedMessageNid(node.nid);
        if (normal && !FilterKeeps(source.filter, *record)) {
            account.LeftOut(itemFolder);
            return false;
        }
        DuplicateItems::Check copy;
        if (normal && duplicates) {
            copy = duplicates->CheckItem(*record, node, itemFolder);
            if (copy.copyOf) {
                account.Duplicate({node.nid, itemFolder, subject, *copy.copyOf});
                return false;
            }
        }
        const std::uint64_t writtenBefore = sink.itemsWritten();
        const std::size_t partBefore = sink.currentPart();
        sink.TakeUnnamedValues();
        try {
            if (source.beforeItemWrite && writer) source.beforeItemWrite(*writer, *record);
            actions.ItemRead(*record, parentNid, openNids.back(), itemFolder);
            if (sink.currentPart() != partBefore) status_.SetOutputPath(outputPath());
        } catch (const pst::OutputWriteError& e) {
            ++failedItems_;
            if (counted) account.Lost(LostItem{node.nid, itemFolder, subject, LossReason::WriteFailed, e.what()});
            outputFailure = e.what();
            return false;
        } catch (const std::system_error& e) {
            // The export's files could not be written (a full disk, a
            // folder taken away): nothing more can go there either.
            ++failedItems_;
            if (counted) account.Lost(LostItem{node.nid, itemFolder, subject, LossReason::WriteFailed, e.what()});
            if (!writer) outputFailure = e.what();
            return false;
        } catch (const std::exception& e) {
            // A damaged item is skipped; the store stays consistent.
            ++failedItems_;
            if (counted) account.Lost(LostItem{node.nid, itemFolder, subject, LossReason::WriteFailed, e.what()});
            return false;
        }
        if (!counted) return false;
        if (sink.itemsWritten() > writtenBefore) {
            const std::size_t part = sink.lastItemPart();
            account.Saved(itemFolder);
            if (duplicates) duplicates->Saved(copy, node);
            if (source.accountDamage) witness.Saved(account, itemDamage, node.nid, itemFolder, subject, *record);
            if (savedByPart.size() <= part) savedByPart.resize(part + 1);
            savedByPart[part].push_back(LostItem{node.nid, itemFolder, subject, LossReason::OutputUnusable, {}});
            account.UnnamedValues({node.nid, itemFolder, subject, sink.TakeUnnamedValues()});
        } else
            account.Lost(LostItem{node.nid, itemFolder, subject, LossReason::NotWritten,
                                  record->messageClass.empty() ? std::string() : "class " + record->messageClass});
        return false;
    };
    walk.leaveFolder = [&] {
        if (stack.empty()) return false;
        path.resize(stack.back());
        stack.pop_back();
        if (openNids.size() > 1) openNids.pop_back();
        return true;
    };
    WalkMailSubtree(store_, root, reader_, walk);
    store_.contentDamage = nullptr;
    status_.SetOutputPath(outputPath());
    const bool stopped = reader_.stopSaving.load();
    store_.file.CheckUnchanged();
    std::optional<std::string> sourceChanged;
    if (store_.file.changed())
        sourceChanged = std::string(kSourceChanged) + source.sourcePath + " (" + store_.file.ChangeDescription() + ")";
    // A walk that ended early names what it did not reach.
    if (stopped || sourceChanged || outputFailure) AccountNotReached(store_, root, source.selected,
                          [&](std::uint32_t nid) { return actions.PathOf(nid); }, account);

    std::vector<fs::path> parts;
    std::optional<std::string> unusable;
    if (writer) {
        unusable = FinishAndVerify(*writer, parts, outputFailure.has_value(), source.beforeCheck, savedByPart, account);
        // The run has ended, however: nothing is left to go on from.
        if (journal) journal->Remove();
    } else {
        // The export's files are whole once finished; one that could not be
        // finished was never given its name, and its items are not saved.
        try {
            sink.Finish();
        } catch (const std::exception& e) {
            if (!outputFailure) outputFailure = e.what();
            // Which of its files were whole before is not known here, so
            // no item is claimed as saved.
            for (const std::vector<LostItem>& saved : savedByPart)
                for (LostItem item : saved) {
                    item.detail = e.what();
                    account.Unsaved(std::move(item));
                }
        }
        parts.push_back(source.exportFolder);
    }
    // A part that could not even be created leaves nothing for the check to
    // find, yet the items after it were never written.
    if (outputFailure && !unusable) unusable = std::string(kOutputNotWritten) + *outputFailure;
    ReleaseStore(store_);
    // What the run ends with: the failure, the stop, or what it saved.
    AnalysisOutcome outcome = AnalysisOutcome::Completed;
    std::string message = SavingHeadline(account);
    std::string outcomeName(SavingVerdictName(SavingVerdictOf(account)));
    if (unusable) {
        outcome = AnalysisOutcome::Failed;
        message = *unusable;
        outcomeName = OutcomeName(outcome);
    } else if (sourceChanged) {
        // Nothing saved is a failed run; what was saved before is kept.
        const bool anySaved = account.totals().saved > 0;
        outcome = anySaved ? AnalysisOutcome::Completed : AnalysisOutcome::Failed;
        outcomeName = anySaved ? SavingVerdictName(SavingVerdict::SomeLost) : OutcomeName(outcome);
        message = *sourceChanged + "; " + message;
    } else if (stopped) {
        outcome = AnalysisOutcome::Aborted;
        message = std::string(SavingOutcomeText(true));
        outcomeName = OutcomeName(outcome);
    }
    {
        const std::lock_guard lock(stateMutex_);
        saved_ = actions.saved();
        outputStores_ = std::move(parts);
        // Parts by year are named after a store that is not written itself.
        resumed_ = resumed;
        reportBase_ = outputStores_.empty()  ? fs::path()
                      : writer && source.splitByYear ? writer->baseStorePath()
                                                     : outputStores_.front();
        account_ = std::move(account);
        outcomeName_ = outcomeName;
    }
    if (log_ != nullptr) {
        // The account first, so the run's entry still closes with its
        // summary and its closing words.
        LogReconciliation(*log_, reconciliation(), true);
        LogSavingEnd(*log_, FormatSummary(actions.saved()), unusable ? kLogSavingAborted : message);
        if (unusable) log_->Append(*unusable);
    }
    WriteReport(source, outcomeName, message);
    if (unusable || sourceChanged) ShowMessage(message);
    return End(outcome, message);
}

std::optional<std::string> SavingRun::FinishAndVerify(USave_to_PST_Format& writer, std::vector<fs::path>& parts,
                                                      bool writeFailed,
                                                      const std::function<void(const fs::path&)>& beforeCheck,
                                                      const std::vector<std::vector<LostItem>>& savedByPart,
                                                      Reconciliation& account) {
    std::optional<std::string> failure;
    try {
        writer.Finish();
    } catch (const std::exception& e) {
        failure = std::string(kOutputNotCompleted) + e.what();
        writeFailed = true;
    }
    // Every item is written: the source's index is let go before the parts
    // are checked, so the check's own index of a part never sits beside it.
    ReleaseStore(store_);
    const auto addFailure = [&](const std::string& text) { failure = failure ? *failure + "\n" + text : text; };
    std::vector<std::string> kept;
    std::vector<bool> gone(writer.outputStores().size(), false);
    for (std::size_t i = 0; i < writer.outputStores().size(); ++i) {
        const fs::path name = writer.outputStores()[i];
        if (beforeCheck) beforeCheck(writer.partPath(i));
        const CheckReport report = CheckStore(writer.partPath(i));
        std::string setApart;
        if (report.ok()) {
            const std::string notNamed = writer.PublishPart(i);
            if (notNamed.empty()) {
                kept.push_back(name.filename().string());
                continue;
            }
            addFailure("The saved store " + name.string() + " could not be given its name: " + notNamed);
            setApart = "the store was left as " + writer.partPath(i).filename().string();
        } else {
            std::string findings;
            std::size_t shown = 0;
            for (const Finding& f : report.findings) {
                if (f.severity != FindingSeverity::Error) continue;
                if (shown++ == 3) break;
                findings += "; " + FormatFinding(f);
            }
            std::string text = "The saved store " + name.string() + " does not pass the store check (" +
                               std::to_string(report.errorCount()) + (report.errorCount() == 1 ? " error" : " errors") + findings + ")";
            if (writeFailed) {
                // A store cut short by a failed write (a full disk) is of no
                // use and would only go on filling the disk.
                writer.RemovePart(i);
                gone[i] = true;
                text = "The unfinished store " + name.string() + " was removed";
                setApart = name.filename().string() + " could not be finished and was removed";
            } else {
                const fs::path incomplete(name.string() + ".incomplete");
                const std::string notMoved = writer.SetPartApart(i, incomplete);
                text += notMoved.empty() ? "; it was renamed " + incomplete.filename().string() : "; " + notMoved;
                setApart = name.filename().string() + " failed the store check and was set apart as " +
                           writer.partPath(i).filename().string();
            }
            addFailure(text);
        }
        if (i < savedByPart.size()) {
            for (LostItem item : savedByPart[i]) {
                item.detail = setApart;
                account.Unsaved(std::move(item));
            }
        }
    }
    if (failure && !kept.empty()) {
        std::string names;
        for (const std::string& k : kept) names += (names.empty() ? "" : ", ") + k;
        addFailure("These parts passed the store check and are kept: " + names);
    }
    parts.clear();
    for (std::size_t i = 0; i < writer.outputStores().size(); ++i)
        if (!gone[i]) parts.push_back(writer.partPath(i));  // where each part is now, under whatever name
    return failure;
}

void SavingRun::WriteReport(const SavingSource& source, const std::string& outcomeName, const std::string& message) {
    std::vector<fs::path> stores;
    fs::path base;
    Reconciliation account;
    {
        const std::lock_guard lock(stateMutex_);
        stores = outputStores_;
        base = reportBase_;
        account = account_;
    }
    if (stores.empty()) return;
    ReportHeader header;
    header.run = source.exportSink != nullptr ? "export" : "saving";
    header.source = source.sourcePath;
    header.outcome = outcomeName;
    header.message = message;
    header.outputStores = stores;
    header.filter = DescribeFilter(source.filter);
    {
        const std::lock_guard lock(stateMutex_);
        header.resumed = resumed_;
    }
    if (source.dedupe) header.filter += std::string(header.filter.empty() ? "" : ", ") + "duplicates left out";
    const std::optional<ReportFiles> files = WriteReportFiles(base, header, account);
    if (!files) {
        if (log_ != nullptr) log_->Append("The report could not be written next to " + base.string());
        return;
    }
    const std::lock_guard lock(stateMutex_);
    reportText_ = files->text;
    reportJson_ = files->json;
}

}  // namespace bm
