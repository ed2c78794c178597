#include "ui/save_flow.h"

#include <ctime>
#include <system_error>
#include <utility>
#include <variant>

#include <QAction>
#include <QPushButton>
#include <QTimer>

#include "engine/analysis_run.h"
#include "engine/export_destination.h"
#include "engine/journal_request.h"
#include "engine/log_texts.h"
#include "engine/save_journal.h"
#include "engine/saving_request.h"
#include "engine/saving_run.h"
#include "output/export/export_sink.h"
#include "ui/last_saving_dialog.h"
#include "ui/list_pst_file.h"
#include "ui/repair_recover.h"
#include "ui/save_destination.h"
#include "ui/saving_bridge.h"
#include "ui/step_picture.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"
#include "ui/wizard_menu.h"

namespace bmui {

namespace fs = std::filesystem;

SaveFlow::SaveFlow(WizardContext& context, Repair_Recover& page)
    : QObject(&page), context_(context), page_(page), bridge_(new SavingBridge(this)),
      run_(std::make_unique<bm::SavingRun>(*bridge_, &context.log())) {
    connect(bridge_, &SavingBridge::finished, this, [this] {
        ended_ = true;
        if (status_ != nullptr) status_->RunEnded();
    }, Qt::QueuedConnection);
}

SaveFlow::~SaveFlow() {
    // A saving run finishes the item it is writing and closes the output
    // store properly before the page goes.
    Stop();
    run_->Wait();
}

bool SaveFlow::running() const { return run_->running(); }

void SaveFlow::Stop() {
    if (!run_->running()) return;
    run_->Stop();
    // Nobody waits for a pause any more: a held run is let go so that it
    // sees the stop.
    while (run_->reader().pauseGate.count() > 0) run_->Resume();
}

void SaveFlow::Wait() { run_->Wait(); }

bool SaveFlow::Save(const bm::AnalysisRun& analysis, const Choice& choice) {
    UiServices& services = context_.services();
    if (bm::CheckMailClient(context_.appDir()) == bm::MailClientCheck::Missing) {
        services.Show(&page_, BoxKind::Stop, Text(bm::kMailClientMissing));
        return false;
    }
    if (!choice.since.empty() && !choice.until.empty() && choice.until < choice.since) {
        services.Show(&page_, BoxKind::Warning, Text(kDateRangeWrong));
        return false;
    }
    context_.log().Append(bm::kLogLineBreak);
    context_.log().Append(bm::kLogSavingStart);
    const QString chosen = services.PickFolder(&page_, Text(kDestinationTitle), QString());
    if (chosen.isEmpty()) return false;
    std::error_code ec;
    if (!fs::is_directory(chosen.toStdString(), ec)) {
        services.Show(&page_, BoxKind::Stop, Text(bm::kSavingPathMissing));
        return false;
    }
    const bool exporting = choice.outputKind != OutputKind::Pst;
    const fs::path destination =
        exporting ? fs::path(chosen.toStdString()) : bm::MakeSaveDestination(chosen.toStdString());
    context_.log().Append(std::string(bm::kLogTargetPath) + destination.string());
    // A save of this same file that was cut off there (killed, a crash, a
    // power cut) may go on instead of starting again.
    if (!exporting) {
        if (std::optional<Resumable> unfinished = ResumableSave(destination, choice.sourcePath)) {
            const bm::SaveJournal& journal = unfinished->save.journal;
            const QString question = Text(kResumeSaveQuestion)
                                         .arg(QString::fromStdString(journal.firstPart.filename().string()))
                                         .arg(journal.parts.size());
            if (services.Ask(&page_, question)) return GoOn(analysis, choice, destination, std::move(*unfinished));
        }
    }

    bm::SavingRequest request;
    request.sourcePath = choice.sourcePath;
    request.folders = choice.ticked;
    // The ticked top folder stands for its own items too (and for folders
    // below it that could not be read), as "save --all" does.
    if (choice.topTicked && !request.folders.empty()) request.folders.emplace_back(bm::kRootFolderPath);
    request.destination = destination;
    request.deepScan = context_.deepScan;
    request.recoverDeleted = context_.recoverDeleted;
    request.markDamaged = choice.markDamaged;
    if (!choice.since.empty()) request.filter.since = bm::ParseFilterDate(choice.since, false);
    if (!choice.until.empty()) request.filter.until = bm::ParseFilterDate(choice.until, true);
    request.dedupe = choice.dedupe;
    if (choice.partSizeMb > 0) request.storeSizeLimit = choice.partSizeMb << 20;
    auto made = bm::SavingSourceFor(request, analysis);
    if (!std::holds_alternative<bm::SavingSource>(made)) {
        services.Show(&page_, BoxKind::Warning, Text(bm::kSelectAnyFolder));
        return false;
    }
    bm::SavingSource& source = std::get<bm::SavingSource>(made);
    if (!exporting) source.journalRequest = JournalRequestFor(request, choice);
    exportSink_.reset();
    if (exporting) {
        // An export goes into a folder of its own; no store name to ask.
        if (!PrepareExport(destination, choice, source)) return false;
        selected_ = source.selected;
        destination_ = source.exportFolder;
        emit page_.saveRequested(QString::fromStdString(destination_.string()));
        Start(std::move(source));
        return started_;
    }

    // The new store's name: the default one, offered in a save dialog that
    // can change it.
    const std::string sourceName = fs::path(choice.sourcePath).filename().string();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const fs::path suggested = destination / bm::OutputStoreName(sourceName, bm::OutputTimestamp(local));
    // The save dialog opens in the destination's Repair folder, made first
    // (a dialog cannot start in a folder that is not there yet); a folder
    // that cannot be written is said at once, before and after the dialog.
    if (const QString problem = UnwritableFolder(destination, true); !problem.isEmpty()) {
        services.Show(&page_, BoxKind::Stop, problem);
        return false;
    }
    const QString file = services.PickSaveFile(&page_, Text(kSaveStoreTitle), QString::fromStdString(suggested.string()));
    if (file.isEmpty()) return false;
    if (const QString problem = UnwritableFolder(fs::path(file.toStdString()).parent_path(), false);
        !problem.isEmpty()) {
        services.Show(&page_, BoxKind::Stop, problem);
        return false;
    }
    // The offered name stays the run's own choice, so that a name taken
    // meanwhile moves on to " (2)"; a name the user chose is never replaced.
    if (file.toStdString() != suggested.string()) source.outputFile = file.toStdString();
    selected_ = source.selected;
    destination_ = destination;
    emit page_.saveRequested(QString::fromStdString(destination.string()));
    Start(std::move(source));
    return started_;
}

std::string SaveFlow::JournalRequestFor(const bm::SavingRequest& request, const Choice& choice) const {
    // The request as the command line would ask for it, so that either can
    // go on with the save.
    bm::JournalRequest kept;
    std::error_code ec;
    kept.store = fs::absolute(choice.sourcePath, ec).string();
    kept.folders = request.folders;
    kept.deepScan = request.deepScan;
    kept.recoverDeleted = request.recoverDeleted;
    kept.markDamaged = request.markDamaged;
    kept.since = choice.since;
    kept.until = choice.until;
    kept.dedupe = request.dedupe;
    if (choice.partSizeMb > 0) kept.splitSize = std::to_string(choice.partSizeMb) + "M";
    return bm::JournalRequestText(kept);
}

std::optional<SaveFlow::Resumable> SaveFlow::ResumableSave(const fs::path& destination,
                                                            const std::string& sourcePath) const {
    std::optional<bm::UnfinishedSave> found = bm::UnfinishedSaveOf(destination, sourcePath);
    if (!found) return std::nullopt;
    // Only a save that read the store the way this analysis did finds the
    // same items to go on with.
    std::optional<bm::JournalRequest> asked = bm::JournalRequestOfText(found->journal.request);
    if (!asked || asked->deepScan != context_.deepScan || asked->recoverDeleted != context_.recoverDeleted)
        return std::nullopt;
    return Resumable{std::move(*found), std::move(*asked)};
}

bool SaveFlow::GoOn(const bm::AnalysisRun& analysis, const Choice& choice, const fs::path& destination,
                    Resumable resumable) {
    bm::UnfinishedSave& unfinished = resumable.save;
    const bm::JournalRequest& asked = resumable.request;
    bm::SavingRequest request;
    request.sourcePath = choice.sourcePath;
    request.folders = asked.folders;
    request.trees = asked.trees;
    request.all = asked.all;
    request.destination = destination;
    request.outputFile = unfinished.journal.firstPart;
    request.deepScan = context_.deepScan;
    request.recoverDeleted = context_.recoverDeleted;
    request.markDamaged = asked.markDamaged;
    if (!asked.since.empty()) request.filter.since = bm::ParseFilterDate(asked.since, false);
    if (!asked.until.empty()) request.filter.until = bm::ParseFilterDate(asked.until, true);
    request.filter.senders = asked.senders;
    request.filter.classPrefixes = asked.classes;
    request.dedupe = asked.dedupe;
    const std::optional<std::uint64_t> size = asked.splitSize.empty() ? std::nullopt : bm::ParseSize(asked.splitSize);
    if (size) request.storeSizeLimit = *size;
    auto made = bm::SavingSourceFor(request, analysis);
    if (!std::holds_alternative<bm::SavingSource>(made) || (!asked.splitSize.empty() && !size) ||
        (!asked.since.empty() && !request.filter.since) || (!asked.until.empty() && !request.filter.until)) {
        context_.services().Show(&page_, BoxKind::Stop, Text(kResumeSaveRefused));
        return false;
    }
    bm::SavingSource& source = std::get<bm::SavingSource>(made);
    source.resume = std::move(unfinished.journal);
    source.resumedFrom = unfinished.journalPath;
    selected_ = source.selected;
    destination_ = destination;
    emit page_.saveRequested(QString::fromStdString(destination.string()));
    Start(std::move(source));
    return started_;
}

bool SaveFlow::PrepareExport(const fs::path& chosen, const Choice& choice, bm::SavingSource& source) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::variant<fs::path, std::string> folder = bm::CreateExportFolder(
        chosen, fs::path(choice.sourcePath).filename().string(), bm::OutputTimestamp(local));
    if (const auto* why = std::get_if<std::string>(&folder)) {
        context_.services().Show(&page_, BoxKind::Stop, Text(kExportFolderNotMade).arg(QString::fromStdString(*why)));
        return false;
    }
    const bm::mime::MailFormat format = choice.outputKind == OutputKind::Maildir ? bm::mime::MailFormat::Maildir
                                        : choice.outputKind == OutputKind::Eml   ? bm::mime::MailFormat::Eml
                                                                                 : bm::mime::MailFormat::Mbox;
    exportSink_ = std::make_unique<bm::ExportSink>(format, std::get<fs::path>(folder));
    source.exportSink = exportSink_.get();
    source.exportFolder = std::get<fs::path>(folder);
    return true;
}

void SaveFlow::Start(bm::SavingSource source) {
    std::error_code ec;
    fs::create_directories(destination_, ec);  // a failure is the writer's to report
    if (!run_->Start(std::move(source))) return;
    started_ = true;
    ended_ = false;
    SetSaving(true);
    // The status dialog opens once the Save handler has returned, as the
    // page's next paint would open it.
    QTimer::singleShot(0, this, &SaveFlow::RunDialogs);
}

void SaveFlow::SetSaving(bool saving) {
    page_.stepPicture()->SetStep(saving ? 3 : 2);
    page_.saveButton()->setEnabled(!saving);
    page_.menu()->save->setEnabled(!saving);
    page_.backButton()->setEnabled(!saving);
}

void SaveFlow::RunDialogs() {
    if (!ended_) {
        ListPSTFile status(context_, *run_, &page_);
        status_ = &status;
        emit page_.savingStatusOpened(&status);
        // Closed only by RunEnded (Stop and Esc ask, they do not close).
        if (!ended_) status.exec();
        status_ = nullptr;
    }
    // The dialog's loop also ends when the application quits (a signal to
    // end, the session closing) before the run has: the run then stops
    // after its item and closes the output store before the page goes.
    const bool quitting = !ended_ && run_->running();
    if (quitting) Stop();
    run_->Wait();
    const bm::AnalysisOutcome outcome = run_->outcome();
    if (quitting && !context_.exitRequested()) {
        context_.RequestExit();
        page_.done(QDialog::Rejected);
    }
    if (context_.exitRequested()) {
        emit page_.savingDone(static_cast<int>(outcome));
        return;  // the page is already closing
    }
    if (outcome == bm::AnalysisOutcome::Failed) {
        // Nothing was saved: back to the page with the reason; Save may be
        // tried again.
        context_.services().Show(&page_, BoxKind::Stop, QString::fromStdString(run_->message()));
        SetSaving(false);
        emit page_.savingDone(static_cast<int>(outcome));
        return;
    }
    ShowCompletion();
    emit page_.savingDone(static_cast<int>(outcome));
    emit over();
}

void SaveFlow::ShowCompletion() {
    SavingResult result;
    result.outcome = run_->outcome();
    result.saved = run_->saved();
    result.outputStores = run_->outputStores();
    result.failedItems = run_->failedItems();
    const bm::Reconciliation account = run_->reconciliation();
    const bm::FolderTally totals = account.totals();
    result.itemsSaved = totals.saved;
    result.itemsNotRecovered = totals.lost;
    result.itemsNotReached = totals.notReached;
    result.verdict = bm::SavingVerdictOf(account);
    result.headline = QString::fromStdString(bm::SavingHeadline(account));
    result.report = run_->reportText();
    result.exported = exportSink_ != nullptr;
    Last_Saving_Dialog last(context_, result, &page_);
    emit page_.savingCompletionOpened(&last);
    last.exec();
}

}  // namespace bmui
