#include "engine/saving_run.h"

#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "engine/analysis_collector.h"
#include "engine/analysis_run.h"
#include "engine/deep_recovery.h"
#include "engine/mail_subtree.h"
#include "engine/saving_actions.h"
#include "output/save_to_pst.h"

namespace bm {

namespace fs = std::filesystem;

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
        if (log_ != nullptr) LogSavingEnd(*log_, FormatSummary(WellKnownCounts()), false);
        return End(AnalysisOutcome::Aborted, std::string(SavingOutcomeText(true)));
    }
    switch (subtree.status) {
    case MailSubtreeStatus::OpenFailed:
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
    const std::int32_t total = CountSubtreeNodes(root) - 3 + RecoveredNodeCount(store_);
    status_.SetTotal(total);
    observer_.OnProgressRange(total);

    SaveOptions options;
    options.sourceFileName = fs::path(source.sourcePath).filename().string();
    options.defaultDirectory = source.destination;
    options.storeSizeLimit = source.storeSizeLimit;
    USave_to_PST_Format writer(std::move(options));
    if (const std::optional<std::string> error = writer.CreateOutputStore({})) {
        ReleaseStore(store_);
        ShowMessage(*error);
        return End(AnalysisOutcome::Failed, *error);
    }
    status_.SetOutputPath(writer.outputStorePath());

    SavingActions actions(writer, store_, source.selected, status_);
    // The current folder path and the path length before each open
    // folder's name, kept the way the analysis keeps them.
    std::string path(kRootFolderName);
    path += '\\';
    std::vector<std::size_t> stack{0};

    SubtreeWalk walk;
    walk.goOn = [&] {
        return !reader_.stopSaving.load() &&
               SavingWalkMayGoOn(source.analysisStopped, actions.saved(), source.analysisCounts);
    };
    walk.nodeRead = [&] {
        const std::int32_t pos = ++progressPos_;
        status_.SetPosition(pos);
        observer_.OnProgressPosition(pos);
    };
    walk.visit = [&](std::unique_ptr<ItemRecord> record, const NodeEntry& node) {
        if (record->folderCounts) {
            stack.push_back(path.size());
            path += record->displayName;
            path += '\\';
            actions.FolderEntered(*record, node.nid, path);
            if (node.oldestChild != nullptr) return true;
            path.resize(stack.back());
            stack.pop_back();
            return false;
        }
        const std::uint32_t parentNid = node.parent != nullptr ? node.parent->nid : node.nidParent;
        try {
            if (source.beforeItemWrite) source.beforeItemWrite(writer, *record);
            actions.ItemRead(*record, parentNid, path);
        } catch (const std::exception&) {
            // A damaged item is skipped; the store stays consistent.
            ++failedItems_;
        }
        return false;
    };
    walk.leaveFolder = [&] {
        if (stack.empty()) return false;
        path.resize(stack.back());
        stack.pop_back();
        return true;
    };
    WalkMailSubtree(store_, root, reader_, walk);

    writer.Finish();
    ReleaseStore(store_);
    const bool stopped = reader_.stopSaving.load();
    {
        const std::lock_guard lock(stateMutex_);
        saved_ = actions.saved();
        outputStores_ = writer.outputStores();
    }
    if (log_ != nullptr) LogSavingEnd(*log_, FormatSummary(actions.saved()), !stopped);
    return End(stopped ? AnalysisOutcome::Aborted : AnalysisOutcome::Completed, std::string(SavingOutcomeText(stopped)));
}

}  // namespace bm
