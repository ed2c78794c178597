#include "engine/analysis_run.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "engine/deep_recovery.h"
#include "engine/unlisted_items.h"
#include "engine/shipped_pages.h"
#include "engine/mail_subtree.h"
#include "messaging/item_reader.h"
#include "store/content_damage.h"

namespace bm {

namespace fs = std::filesystem;

std::string ChooseSourcePath(const AnalysisSource& source) {
    std::string chosen = source.sourceKind == 1 ? source.searchedSourcePath : source.sourcePath;
    std::error_code ec;
    if (chosen.empty() || !fs::exists(chosen, ec)) chosen = source.searchedSourcePath;
    return chosen;
}

const char* OutcomeName(AnalysisOutcome outcome) {
    switch (outcome) {
    case AnalysisOutcome::Completed: return "completed";
    case AnalysisOutcome::Aborted: return "aborted";
    case AnalysisOutcome::Failed: break;
    }
    return "failed";
}

std::int32_t CountSubtreeNodes(const NodeForest& forest, const NodeEntry& root) {
    std::int32_t n = 0;
    const NodeEntry* node = forest.OldestChild(root);
    while (node != nullptr) {
        ++n;
        if (node->dataBlock() != nullptr && node->hasChildren()) {
            node = forest.OldestChild(*node);
            continue;
        }
        while (node != nullptr && forest.NewerSibling(*node) == nullptr) {
            const NodeEntry* parent = forest.Parent(*node);
            node = parent == nullptr || parent == &root ? nullptr : parent;
        }
        if (node != nullptr) node = forest.NewerSibling(*node);
    }
    return n;
}

AnalysisRun::AnalysisRun(AnalysisObserver& observer, const ActivityLog* log, fs::path appDir)
    : observer_(observer), log_(log), appDir_(std::move(appDir)) {}

AnalysisRun::~AnalysisRun() { Wait(); }

bool AnalysisRun::Start(const AnalysisSource& source) {
    if (running_.load()) return false;
    Wait();
    // Cleared here rather than on the worker, so a Stop() right after
    // Start() is never lost.
    reader_.stopSaving.store(false);
    reader_.stopAnalysis.store(false);
    reader_.savingRunActive.store(false);
    running_.store(true);
    worker_ = std::thread(&AnalysisRun::ThreadEntry, this, source);
    return true;
}

void AnalysisRun::Wait() {
    if (worker_.joinable()) worker_.join();
}

void AnalysisRun::ThreadEntry(AnalysisSource source) {
    AnalyzeStore(source);
    running_.store(false);
}

AnalysisOutcome AnalysisRun::outcome() const {
    const std::lock_guard lock(stateMutex_);
    return outcome_;
}

std::string AnalysisRun::message() const {
    const std::lock_guard lock(stateMutex_);
    return message_;
}

Reconciliation AnalysisRun::reconciliation() const {
    const std::lock_guard lock(stateMutex_);
    return account_;
}

std::string AnalysisRun::sourcePath() const {
    const std::lock_guard lock(stateMutex_);
    return sourcePath_;
}

void AnalysisRun::ShowMessage(std::string_view text) {
    {
        const std::lock_guard lock(stateMutex_);
        message_ = std::string(text);
    }
    observer_.OnMessage(std::string(text));
}

AnalysisOutcome AnalysisRun::AnalyzeStore(const AnalysisSource& source) {
    {
        const std::lock_guard lock(stateMutex_);
        message_.clear();
        outcome_ = AnalysisOutcome::Failed;
        account_ = Reconciliation();
    }
    try {
        return Run(source);
    } catch (const std::exception&) {
    } catch (...) {
    }
    // Whatever was built stays; the store is closed and the run reported
    // as failed, so the page never waits for a finish that cannot come.
    ReleaseStore(store_);
    ShowMessage(kFileHighlyCorrupted);
    return Finish(AnalysisOutcome::Failed, nullptr);
}

AnalysisOutcome AnalysisRun::EndEarly(std::string_view message) {
    ShowMessage(message);
    AnalysisFinish finish;
    finish.outcome = AnalysisOutcome::Failed;
    finish.message = std::string(message);
    {
        const std::lock_guard lock(stateMutex_);
        outcome_ = finish.outcome;
    }
    observer_.OnFinished(finish);
    return finish.outcome;
}

AnalysisOutcome AnalysisRun::Run(const AnalysisSource& source) {
    const std::string path = ChooseSourcePath(source);
    {
        const std::lock_guard lock(stateMutex_);
        sourcePath_ = path;
    }
    observer_.OnSourcePath(path);
    results_.Clear();

    ReleaseStore(store_);
    MailSubtreeOptions options;
    options.deepScan = source.deepScan;
    options.recoverDeleted = source.recoverDeleted;
    bool scanRangeShown = false;
    options.scanProgress = [&](std::uint64_t done, std::uint64_t total) {
        if (!scanRangeShown) observer_.OnProgressRange(kScanProgressRange);
        scanRangeShown = true;
        const std::uint64_t permille = total == 0 ? kScanProgressRange : done * kScanProgressRange / total;
        observer_.OnProgressPosition(static_cast<std::int32_t>(std::min<std::uint64_t>(permille, kScanProgressRange)));
    };
    const MailSubtree subtree = OpenMailSubtree(
        store_, path, reader_,
        [&] {
            results_.Modify([&](AnalysisData& d) { d.formatVersion = store_.formatVersion; });
            if (log_ != nullptr) LogAnalysisStart(*log_);
        },
        options);
    if (subtree.deepRecoveryRan) {
        results_.Modify([&](AnalysisData& d) { d.formatVersion = store_.formatVersion; });
        if (const RecoveredItems* recovery = RecoveryOf(store_); recovery != nullptr && log_ != nullptr) {
            log_->Append(FormatRecoveryLine(recovery->report));
            if (source.recoverDeleted) log_->Append(FormatDeletedLine(recovery->deleted));
        }
    }
    switch (subtree.status) {
    case MailSubtreeStatus::OpenFailed:
        // A FIFO or device is named as what it is, not as a file in use.
        if (const std::optional<std::string> what = NotARegularFile(path)) return EndEarly(*what);
        return EndEarly(kSourceFileInUse);
    case MailSubtreeStatus::StoreObjectMissing: {
        const bool stopped = reader_.stopAnalysis.load();
        ShowMessage(stopped ? kAnalysisAbortedByUser : kFileHighlyCorrupted);
        return Finish(stopped ? AnalysisOutcome::Aborted : AnalysisOutcome::Failed, nullptr);
    }
    case MailSubtreeStatus::NoRootFolder:
        ReleaseStore(store_);
        return EndEarly(kCannotSearchPersonalFolder);
    case MailSubtreeStatus::Found:
        break;
    }
    const NodeEntry& root = *subtree.root;

    AnalysisCollector collector(results_, observer_);
    observer_.OnProgressRange(CountSubtreeNodes(store_.forest, root) - 3 + RecoveredNodeCount(store_));
    collector.Begin(root.nid);
    Walk(root, collector);
    return Finish(reader_.stopAnalysis.load() ? AnalysisOutcome::Aborted : AnalysisOutcome::Completed, &collector);
}

void AnalysisRun::Walk(const NodeEntry& root, AnalysisCollector& collector) {
    SubtreeWalk walk;
    walk.recipients = RecipientRows::Skip;  // the analysis keeps no recipient rows
    walk.goOn = [&] { return !reader_.stopAnalysis.load(); };
    walk.nodeRead = [&] { observer_.OnProgressPosition(++progressPos_); };
    Reconciliation account;
    walk.readFailed = [&](const NodeEntry& node, NodeReadFailure why) {
        account.Unreadable(store_.forest, node, why == NodeReadFailure::NoDataBlock, collector.currentPath());
    };
    walk.scanPhase = [&] { account.BeginScanPhase(); };
    if (std::optional<DeletedAccount> deleted = DeletedAccountOf(store_)) account.DeletedSearched(std::move(*deleted));
    // Which items came from damaged blocks, for the item list to mark.
    ContentDamage itemDamage;
    store_.contentDamage = &itemDamage;
    walk.beforeRead = [&](const NodeEntry&) { itemDamage.Clear(); };
    walk.visit = [&](std::unique_ptr<ItemRecord> record, const NodeEntry& node) {
        if (!record->folderCounts && IsCountedItemNid(node.nid) && !itemDamage.empty())
            results_.Modify([&](AnalysisData& d) { d.damagedItems[node.nid] = itemDamage.Describe(); });
        if (!record->folderCounts && IsCountedItemNid(node.nid)) {
            if (IsUnlistedItemRecord(store_, node)) {
                const MessageFields* m = record->messageFields.get();
                account.FoundUnlisted(
                    {node.nid, collector.currentPath(), m != nullptr && m->subject ? m->subject->text : ""});
            } else {
                account.Found(collector.currentPath(), node.nid);
            }
            account.Read(collector.currentPath());
            if (record->incomplete) {
                const MessageFields* m = record->messageFields.get();
                account.Incomplete({node.nid, collector.currentPath(), m != nullptr && m->subject ? m->subject->text : "",
                                    std::string(kIncompleteDeletedItemLoss)});
            }
        }
        if (record->folderCounts && record->ownRecordLost)
            account.FolderRecordLost(collector.currentPath() + record->displayName + "\\");
        const WalkedNode walked{node.nid, store_.forest.ParentNid(node),
                                node.hasChildren()};
        return collector.Classify(std::move(record), walked);
    };
    walk.leaveFolder = [&] { return collector.LeaveFolder(); };
    WalkMailSubtree(store_, root, reader_, walk);
    store_.contentDamage = nullptr;
    const std::lock_guard lock(stateMutex_);
    account_ = std::move(account);
}

AnalysisOutcome AnalysisRun::Finish(AnalysisOutcome outcome, const AnalysisCollector* collector) {
    AnalysisFinish finish;
    finish.outcome = outcome;
    // A run that did not complete never shows the completed page.
    finish.page = appDir_ / std::string(outcome == AnalysisOutcome::Completed ? kCompletedPage : kAbortPage);
    finish.treeHasItems = collector != nullptr && collector->treeCount() > 0;
    ReleaseStore(store_);
    const Reconciliation account = reconciliation();
    finish.itemsFound = account.totals().found();
    finish.itemsNotRead = account.totals().lost;
    if (log_ != nullptr) {
        log_->Append(FormatSummary(results_.counts()));
        LogReconciliation(*log_, account, false);
    }
    {
        const std::lock_guard lock(stateMutex_);
        outcome_ = outcome;
        finish.message = message_;
    }
    observer_.OnFinished(finish);
    return outcome;
}

}  // namespace bm
