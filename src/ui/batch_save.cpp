#include "ui/batch_save.h"

#include <QTimer>

#include <utility>
#include <variant>

#include "engine/activity_log.h"
#include "engine/analysis_run.h"
#include "engine/saving_request.h"
#include "engine/saving_run.h"
#include "engine/saving_selection.h"
#include "engine/saving_verdict.h"
#include "ui/analysis_bridge.h"
#include "ui/saving_bridge.h"
#include "ui/source_check.h"
#include "ui/wizard_context.h"

namespace bmui {

namespace fs = std::filesystem;

namespace {

// What the saving run's own verdict makes of the store.
BatchStoreResult::Kind KindOf(const bm::SavingRun& run) {
    const std::string name = run.outcomeName();
    if (name == bm::SavingVerdictName(bm::SavingVerdict::AllSaved)) return BatchStoreResult::Kind::SavedWhole;
    if (name == bm::SavingVerdictName(bm::SavingVerdict::SomeLost)) return BatchStoreResult::Kind::SavedPartly;
    if (name == bm::OutcomeName(bm::AnalysisOutcome::Aborted)) return BatchStoreResult::Kind::Stopped;
    return BatchStoreResult::Kind::Failed;
}

}  // namespace

BatchSave::BatchSave(WizardContext& context, QObject* parent)
    : QObject(parent), context_(context), analysisBridge_(new AnalysisBridge(this)),
      savingBridge_(new SavingBridge(this)) {
    connect(analysisBridge_, &AnalysisBridge::finished, this,
            [this](int outcome, const QString&, bool, const QString& message) { OnAnalysisFinished(outcome, message); },
            Qt::QueuedConnection);
    connect(savingBridge_, &SavingBridge::finished, this, &BatchSave::OnSavingFinished, Qt::QueuedConnection);
}

BatchSave::~BatchSave() {
    // The saving run finishes the item it writes and closes its output
    // store; a held run is let go first so that it sees the stop.
    stopRequested_ = true;
    Resume();
    if (analysis_) analysis_->Stop();
    if (saving_) saving_->Stop();
    Wait();
}

void BatchSave::Start(std::vector<std::string> stores, fs::path destination) {
    if (phase_ != Phase::Idle) return;
    stores_ = std::move(stores);
    destination_ = std::move(destination);
    results_.clear();
    Next();
}

void BatchSave::Stop() {
    stopRequested_ = true;
    if (phase_ == Phase::Analysing) analysis_->Stop();
    if (phase_ == Phase::Saving) saving_->Stop();
}

void BatchSave::Pause() {
    if (held_) return;
    held_ = true;
    heldPhase_ = phase_;
    if (heldPhase_ == Phase::Analysing) analysis_->Pause();
    if (heldPhase_ == Phase::Saving) saving_->Pause();
}

void BatchSave::Resume() {
    if (!held_) return;
    held_ = false;
    if (heldPhase_ == Phase::Analysing) analysis_->Resume();
    if (heldPhase_ == Phase::Saving) saving_->Resume();
    // What came while the run was held happens now.
    if (std::function<void()> step = std::exchange(pending_, {})) QTimer::singleShot(0, this, std::move(step));
}

void BatchSave::Wait() {
    if (analysis_) analysis_->Wait();
    if (saving_) saving_->Wait();
}

bool BatchSave::Deferred(std::function<void()> step) {
    // While a run is held the runs stay as they are, so that the run let
    // go is the one that was held.
    if (!held_) return false;
    pending_ = std::move(step);
    return true;
}

void BatchSave::Next() {
    if (Deferred([this] { Next(); })) return;
    if (stopRequested_ || results_.size() == stores_.size()) {
        Finish();
        return;
    }
    const std::string& path = stores_[results_.size()];
    emit storeStarted(static_cast<int>(results_.size() + 1), static_cast<int>(stores_.size()),
                      QString::fromStdString(fs::path(path).filename().string()));
    bm::LogSourceChosen(context_.log(), QString::fromStdString(path).toUpper().toStdString());
    // What step 1 says of a file that is not there, not a file or not a
    // store is said here too; such a file is never opened.
    if (const QString problem = SourceFileProblem(path); !problem.isEmpty()) {
        context_.log().Append(problem.toStdString());
        Record(BatchStoreResult::Kind::Failed, problem.toStdString());
        QTimer::singleShot(0, this, [this] { Next(); });
        return;
    }
    saving_.reset();
    analysis_ = std::make_unique<bm::AnalysisRun>(*analysisBridge_, &context_.log(), context_.appDir());
    bm::AnalysisSource source;
    source.searchedSourcePath = path;
    source.sourceKind = 1;
    source.deepScan = context_.deepScan;
    source.recoverDeleted = context_.recoverDeleted;
    phase_ = Phase::Analysing;
    if (!analysis_->Start(source)) {
        phase_ = Phase::Idle;
        Record(BatchStoreResult::Kind::Failed, std::string(bm::kFileHighlyCorrupted));
        QTimer::singleShot(0, this, [this] { Next(); });
    }
}

void BatchSave::OnAnalysisFinished(int outcome, const QString& message) {
    if (phase_ != Phase::Analysing) return;
    if (Deferred([this, outcome, message] { OnAnalysisFinished(outcome, message); })) return;
    analysis_->Wait();
    phase_ = Phase::Idle;
    const std::string path = stores_[results_.size()];
    if (static_cast<bm::AnalysisOutcome>(outcome) == bm::AnalysisOutcome::Failed) {
        Record(BatchStoreResult::Kind::Failed,
               message.isEmpty() ? std::string(bm::kFileHighlyCorrupted) : message.toStdString());
        analysis_.reset();
        Next();
        return;
    }
    if (stopRequested_) {
        // Nothing of this store was written.
        if (static_cast<bm::AnalysisOutcome>(outcome) == bm::AnalysisOutcome::Aborted)
            Record(BatchStoreResult::Kind::Stopped, std::string(bm::kAnalysisAbortedByUser));
        analysis_.reset();
        Finish();
        return;
    }
    // Every folder, as "save --all", under the default name in the
    // destination, with the scan the analysis made.
    bm::SavingRequest request;
    request.sourcePath = path;
    request.all = true;
    request.destination = destination_;
    request.deepScan = context_.deepScan;
    request.recoverDeleted = context_.recoverDeleted;
    auto made = bm::SavingSourceFor(request, *analysis_);
    // The saving run reads the store again: the analysis's results go.
    analysis_.reset();
    if (!std::holds_alternative<bm::SavingSource>(made)) {
        Record(BatchStoreResult::Kind::Failed, std::string(bm::kSelectAnyFolder));
        Next();
        return;
    }
    bm::LogSavingStart(context_.log(), destination_.string());
    saving_ = std::make_unique<bm::SavingRun>(*savingBridge_, &context_.log());
    phase_ = Phase::Saving;
    if (!saving_->Start(std::move(std::get<bm::SavingSource>(made)))) {
        phase_ = Phase::Idle;
        Record(BatchStoreResult::Kind::Failed, std::string(bm::kFileAnalysisFailed));
        Next();
        return;
    }
    emit savingStarted();
}

void BatchSave::OnSavingFinished() {
    if (phase_ != Phase::Saving) return;
    if (Deferred([this] { OnSavingFinished(); })) return;
    saving_->Wait();
    phase_ = Phase::Idle;
    BatchStoreResult& result = Record(KindOf(*saving_), saving_->message());
    result.outputs = saving_->outputStores();
    result.report = saving_->reportText();
    Next();
}

BatchStoreResult& BatchSave::Record(BatchStoreResult::Kind kind, std::string words) {
    BatchStoreResult result;
    result.path = stores_[results_.size()];
    result.kind = kind;
    result.words = std::move(words);
    results_.push_back(std::move(result));
    return results_.back();
}

void BatchSave::Finish() {
    while (results_.size() < stores_.size()) Record(BatchStoreResult::Kind::NotStarted, {});
    phase_ = Phase::Over;
    emit finished();
}

}  // namespace bmui
