#include "ui/repair_recover.h"

#include <QAction>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

#include "engine/analysis_run.h"
#include "engine/log_texts.h"
#include "engine/saving_run.h"
#include "engine/shipped_pages.h"
#include "ui/analysis_bridge.h"
#include "ui/folder_tree.h"
#include "ui/icons.h"
#include "ui/item_list_filler.h"
#include "ui/last_saving_dialog.h"
#include "ui/list_pst_file.h"
#include "ui/preview_pane.h"
#include "ui/saving_bridge.h"
#include "ui/skin.h"
#include "ui/step_picture.h"
#include "ui/top_buttons.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"
#include "ui/wizard_menu.h"

namespace bmui {

namespace {

// The folders whose click shows the fixed preview page instead of a mail.
bool IsNonMailLabel(const QString& label) {
    static const QStringList kLabels = {QStringLiteral("Calendar"), QStringLiteral("Contacts"),
                                        QStringLiteral("Journal"), QStringLiteral("Tasks"), QStringLiteral("Notes")};
    return kLabels.contains(label);
}

QString CategoryName(bm::WellKnownCategory category) {
    return QString::fromUtf8(bm::CategoryLogLabel(category).data()).trimmed();
}

}  // namespace

Repair_Recover::Repair_Recover(WizardContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
    setWindowTitle(Text(kCaption));
    setWindowIcon(AppIcon());
    ApplySkin(*this, context.AppFile(kSkinAnalysis));
    resize(1000, 680);

    bridge_ = new AnalysisBridge(this);
    run_ = std::make_unique<bm::AnalysisRun>(*bridge_, &context.log(), context.appDir());
    filler_ = std::make_unique<ItemListFiller>(run_->results());
    savingBridge_ = new SavingBridge(this);
    saving_ = std::make_unique<bm::SavingRun>(*savingBridge_, &context.log());

    auto* layout = new QVBoxLayout(this);
    menu_ = new WizardMenu(this);
    layout->setMenuBar(menu_);

    auto* header = new QHBoxLayout;
    header->addWidget(MakeStepPicture(this, context.AppFile(kStep2Picture), 2), 1);
    top_ = new TopButtons(this);
    header->addWidget(top_, 0, Qt::AlignTop);
    layout->addLayout(header);

    source_ = new QLabel(this);
    layout->addWidget(source_);
    auto* countsGrid = new QGridLayout;
    int shown = 0;
    for (bm::WellKnownCategory category : bm::SummaryOrder()) {
        if (!bm::CategoryShownDuringWalk(category)) continue;
        auto* label = new QLabel(QStringLiteral("%1 : 0").arg(CategoryName(category)), this);
        counts_[static_cast<std::size_t>(category)] = label;
        countsGrid->addWidget(label, shown / 5, shown % 5);
        ++shown;
    }
    layout->addLayout(countsGrid);
    progress_ = new QProgressBar(this);
    layout->addWidget(progress_);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    tree_ = new FolderTree(splitter);
    auto* right = new QSplitter(Qt::Vertical, splitter);
    list_ = new QTreeWidget(right);
    list_->setRootIsDecorated(false);
    list_->setAllColumnsShowFocus(true);
    list_->setUniformRowHeights(true);
    list_->setIconSize(QSize(16, 16));
    auto* previewBox = new QWidget(right);
    auto* previewLayout = new QGridLayout(previewBox);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    from_ = new QLabel(previewBox);
    to_ = new QLabel(previewBox);
    subject_ = new QLabel(previewBox);
    // What a mail says of itself is shown as text, never read as markup.
    for (QLabel* label : {from_, to_, subject_}) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    previewLayout->addWidget(new QLabel(Text(kFromLabel), previewBox), 0, 0);
    previewLayout->addWidget(from_, 0, 1);
    previewLayout->addWidget(new QLabel(Text(kToLabel), previewBox), 1, 0);
    previewLayout->addWidget(to_, 1, 1);
    previewLayout->addWidget(new QLabel(Text(kSubjectLabel), previewBox), 2, 0);
    previewLayout->addWidget(subject_, 2, 1);
    preview_ = new PreviewPane(previewBox);
    previewLayout->addWidget(preview_, 3, 0, 1, 2);
    previewLayout->setColumnStretch(1, 1);
    splitter->setStretchFactor(1, 3);
    layout->addWidget(splitter, 1);

    auto* buttons = new QHBoxLayout;
    back_ = new QPushButton(Text(kBackButton), this);
    pause_ = new QPushButton(Text(kPauseButton), this);
    stop_ = new QPushButton(Text(kStopButton), this);
    save_ = new QPushButton(Text(kSaveButton), this);
    for (QPushButton* button : {back_, pause_, stop_, save_}) button->setAutoDefault(false);
    buttons->addWidget(back_);
    buttons->addStretch(1);
    buttons->addWidget(pause_);
    buttons->addWidget(stop_);
    buttons->addWidget(save_);
    layout->addLayout(buttons);

    // Initial state: nothing to save, log items grayed until the analysis ends.
    if (!context.ReportAvailable()) top_->viewReport->setEnabled(false);
    for (QAction* action : {menu_->viewLog, menu_->clearLog, menu_->changePath, menu_->selectFile, menu_->save,
                            menu_->selectDirectory})
        action->setEnabled(false);
    save_->setEnabled(false);
    back_->setEnabled(false);
    SetColumns(ListKind::Mail);

    connect(bridge_, &AnalysisBridge::sourcePath, this,
            [this](const QString& path) { source_->setText(Text(kSourcePathLabel) + QLatin1Char(' ') + path); },
            Qt::QueuedConnection);
    connect(bridge_, &AnalysisBridge::progressRange, this,
            [this](int maximum) { progress_->setRange(0, std::max(maximum, 1)); }, Qt::QueuedConnection);
    connect(bridge_, &AnalysisBridge::progressPosition, this,
            [this](int position) { progress_->setValue(std::min(position, progress_->maximum())); },
            Qt::QueuedConnection);
    connect(bridge_, &AnalysisBridge::countChanged, this,
            [this](int category, int count) {
                if (QLabel* label = counts_[static_cast<std::size_t>(category)]; label != nullptr)
                    label->setText(QStringLiteral("%1 : %2")
                                       .arg(CategoryName(static_cast<bm::WellKnownCategory>(category)))
                                       .arg(count));
            },
            Qt::QueuedConnection);
    connect(bridge_, &AnalysisBridge::folderFound, this,
            [this](const QString& path, const QString& cls) {
                tree_->InsertFolderPath(path.toStdString(), cls.toStdString());
            },
            Qt::QueuedConnection);
    connect(bridge_, &AnalysisBridge::finished, this, &Repair_Recover::OnFinished, Qt::QueuedConnection);
    connect(savingBridge_, &SavingBridge::finished, this, &Repair_Recover::OnSavingFinished, Qt::QueuedConnection);
    connect(filler_.get(), &ItemListFiller::fillStarted, this,
            [this] {
                from_->clear();
                to_->clear();
                subject_->clear();
            },
            Qt::QueuedConnection);
    connect(filler_.get(), &ItemListFiller::rowsReady, this, &Repair_Recover::OnRowsReady, Qt::QueuedConnection);

    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { TreeItemClicked(item); });
    connect(list_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { ShowPreview(list_->indexOfTopLevelItem(item)); });
    connect(stop_, &QPushButton::clicked, this, &Repair_Recover::StopAnalysis);
    connect(pause_, &QPushButton::clicked, this, &Repair_Recover::TogglePause);
    connect(back_, &QPushButton::clicked, this, &Repair_Recover::Back);
    connect(save_, &QPushButton::clicked, this, &Repair_Recover::Save);
    connect(menu_->save, &QAction::triggered, this, &Repair_Recover::Save);
    connect(top_->viewReport, &QToolButton::clicked, this, [this] {
        context_.ViewReport();
        top_->viewReport->setFocus();
    });
    connect(top_->help, &QToolButton::clicked, this, [this] { context_.ShowHelp(); });
    connect(top_->exit, &QToolButton::clicked, this, &Repair_Recover::ExitRequested);
    menu_->ConnectCommon(context_, this);

    // Keyboard: Tab walks the page's main controls in this order; F1 opens
    // the help, Ctrl+S saves once Save is enabled; in the tree Space toggles
    // a folder's box and Enter lists the folder, in the list Enter previews
    // the mail.
    setTabOrder(tree_, list_);
    setTabOrder(list_, preview_);
    setTabOrder(preview_, back_);
    setTabOrder(back_, pause_);
    setTabOrder(pause_, stop_);
    setTabOrder(stop_, save_);
    setTabOrder(save_, top_->viewReport);
    setTabOrder(top_->viewReport, top_->help);
    setTabOrder(top_->help, top_->exit);
    menu_->save->setShortcut(QKeySequence::Save);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { context_.ShowHelp(); });
    // Ctrl+Q asks the exit question, as the Exit button does.
    auto* quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, &Repair_Recover::ExitRequested);
    tree_->installEventFilter(this);
    list_->installEventFilter(this);
}

bool Repair_Recover::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && watched == tree_) {
            TreeItemClicked(tree_->currentItem());
            return true;
        }
        if (enter && watched == list_) {
            if (QTreeWidgetItem* item = list_->currentItem(); item != nullptr)
                ShowPreview(list_->indexOfTopLevelItem(item));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool Repair_Recover::focusNextPrevChild(bool next) {
    // Shift+Tab goes to the focused control and moves nothing.
    if (!next) return true;
    return QDialog::focusNextPrevChild(next);
}

Repair_Recover::~Repair_Recover() {
    // The list worker reads the run's results: it goes first. The run's own
    // destructor waits for its worker; a paused one is let go first.
    filler_.reset();
    if ((run_ && run_->running()) || (saving_ && saving_->running())) StopRuns();
}

bool Repair_Recover::listFillRunning() const { return filler_->running(); }

QLabel* Repair_Recover::countLabel(bm::WellKnownCategory category) const {
    return counts_[static_cast<std::size_t>(category)];
}

void Repair_Recover::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!started_) {
        started_ = true;
        StartAnalysis();
    }
}

void Repair_Recover::StartAnalysis() {
    bm::AnalysisSource source;
    source.sourcePath = context_.sourcePath;
    source.searchedSourcePath = context_.searchedSourcePath;
    source.sourceKind = context_.sourceKind;
    source.deepScan = context_.deepScan;
    analysisRunning_ = run_->Start(source);
    ShowPage(context_.AppFileText(bm::kProgressPage));
}

void Repair_Recover::ShowPage(const QString& path) {
    shownPage_ = path;
    preview_->Navigate(path);
}

void Repair_Recover::OnFinished(int outcome, const QString& page, bool treeHasItems, const QString& message) {
    run_->Wait();
    analysisRunning_ = false;
    analysisFinished_ = true;
    stop_->setEnabled(false);
    pause_->setEnabled(false);
    pauseCount_ = 0;
    if (static_cast<bm::AnalysisOutcome>(outcome) == bm::AnalysisOutcome::Failed) {
        // The store could not be read: back to the page below with the reason.
        context_.services().Show(this, BoxKind::Information,
                                 message.isEmpty() ? Text(bm::kFileHighlyCorrupted) : message);
        ReleaseAnalysis();
        done(QDialog::Rejected);
        emit analysisDone(outcome);
        return;
    }
    if (!page.isEmpty()) ShowPage(page);
    back_->setEnabled(true);
    for (QAction* action : {menu_->viewLog, menu_->clearLog, menu_->changePath}) action->setEnabled(true);
    save_->setEnabled(treeHasItems);
    menu_->save->setEnabled(treeHasItems);
    if (!message.isEmpty()) context_.services().Show(this, BoxKind::Information, message);
    emit analysisDone(outcome);
}

void Repair_Recover::StopAnalysis() {
    if (!analysisRunning_) return;
    run_->Pause();
    if (context_.services().Ask(this, Text(kStopAnalysisQuestion))) {
        run_->Stop();
        stop_->setEnabled(false);
        // A paused run is let go as well: it sees the stop at once instead
        // of waiting for a Resume that nobody will press.
        for (; pauseCount_ > 0; --pauseCount_) run_->Resume();
        pause_->setText(Text(kPauseButton));
        pause_->setEnabled(false);
    }
    run_->Resume();
}

void Repair_Recover::TogglePause() {
    if (!analysisRunning_) return;
    if (pause_->text().compare(Text(kPauseButton), Qt::CaseInsensitive) == 0) {
        pause_->setText(Text(kResumeButton));
        ++pauseCount_;
        run_->Pause();
    } else {
        pause_->setText(Text(kPauseButton));
        if (pauseCount_ > 0) --pauseCount_;
        run_->Resume();
    }
}

void Repair_Recover::ReleaseAnalysis() {
    filler_->CancelAndWait();
    run_->Wait();
    run_->results().Clear();
    tree_->Reset();
    list_->clear();
}

void Repair_Recover::Back() {
    if (analysisRunning_ || saving_->running()) return;
    selectedFolders_.Clear();
    if (!context_.services().Ask(this, Text(kPreviousStepQuestion))) return;
    ReleaseAnalysis();
    done(QDialog::Rejected);
}

void Repair_Recover::StopRuns() {
    if (filler_) filler_->CancelAndWait();
    if (run_->running()) {
        run_->Stop();
        for (; pauseCount_ > 0; --pauseCount_) run_->Resume();
        run_->Wait();
    }
    analysisRunning_ = false;
    // A saving run finishes the item it is writing and closes the output
    // store properly before the application may end.
    StopSaving();
    saving_->Wait();
}

void Repair_Recover::StopSaving() {
    if (!saving_->running()) return;
    saving_->Stop();
    // Nobody waits for a pause any more: a held run is let go so that it
    // sees the stop.
    while (saving_->reader().pauseGate.count() > 0) saving_->Resume();
}

void Repair_Recover::SetMainButtonsEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{back_, pause_, stop_, save_, top_})
        w->setEnabled(enabled && (w != back_ || !analysisRunning_) && (w != save_ || analysisFinished_) &&
                      ((w != stop_ && w != pause_) || analysisRunning_));
}

void Repair_Recover::ExitRequested() {
    if (questionOpen_) return;
    questionOpen_ = true;
    const bool saveWasEnabled = save_->isEnabled();
    SetMainButtonsEnabled(false);
    const bool yes = context_.services().Ask(this, Text(kExitQuestion));
    questionOpen_ = false;
    if (!yes) {
        SetMainButtonsEnabled(true);
        save_->setEnabled(saveWasEnabled);
        top_->exit->setFocus();
        return;
    }
    StopRuns();
    context_.RequestExit();
    done(QDialog::Rejected);
}

void Repair_Recover::reject() { ExitRequested(); }

void Repair_Recover::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return;  // neither the default nor the cancel button is pressed
    default:
        QDialog::keyPressEvent(event);
    }
}

void Repair_Recover::TreeItemClicked(QTreeWidgetItem* item) {
    if (item == nullptr) return;
    tree_->setCurrentItem(item);
    tree_->setFocus();
    selectedPath_ = FolderTree::PathOf(item);
    filler_->Start(selectedPath_);
}

void Repair_Recover::SetColumns(ListKind kind) {
    list_->clear();
    const auto columns = ColumnsOf(kind);
    QStringList titles;
    for (const ListColumn& column : columns) titles << Text(column.title);
    list_->setColumnCount(static_cast<int>(titles.size()));
    list_->setHeaderLabels(titles);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i)
        list_->setColumnWidth(i, columns[static_cast<std::size_t>(i)].width);
}

void Repair_Recover::OnRowsReady(const ItemRows& rows) {
    SetColumns(rows.kind);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.rows.size()));
    for (const ItemRow& row : rows.rows) {
        auto* item = new QTreeWidgetItem(row.cells);
        item->setIcon(0, ListIconImage(row.icon));
        items.push_back(item);
    }
    list_->addTopLevelItems(items);
    listedPath_ = rows.path;
    emit itemListFilled(QString::fromStdString(rows.path));
    // A folder clicked while this fill ran is listed now.
    if (selectedPath_ != rows.path && !selectedPath_.empty()) filler_->Start(selectedPath_);
}

void Repair_Recover::ShowPreview(int row) {
    if (filler_->running()) return;
    const QTreeWidgetItem* selected = tree_->currentItem();
    if (selected != nullptr && IsNonMailLabel(selected->text(0))) {
        from_->clear();
        to_->clear();
        subject_->clear();
        ShowPage(context_.AppFileText(bm::kPreviewPage));
        return;
    }
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item == nullptr || ListKindOf(listedPath_) != ListKind::Mail) return;
    const std::string page = run_->results().Read([&](const bm::AnalysisData& data) -> std::string {
        for (const bm::FolderRecord& folder : data.folders) {
            if (folder.path != listedPath_) continue;
            if (row < 0 || static_cast<std::size_t>(row) >= folder.messages.size()) return {};
            const bm::MessageFields& message = folder.messages[static_cast<std::size_t>(row)];
            if (!message.htmlBody.empty())
                return std::string(message.htmlBody.begin(), message.htmlBody.end()) + " ";
            // Plain text (the RTF body's text, else PR_BODY) is shown as text,
            // never read as markup.
            const std::string& text = !message.bodyText.empty() ? message.bodyText : message.body;
            if (text.empty()) return {};
            return "<html><head><meta charset=\"utf-8\"></head><body><pre style=\"white-space:pre-wrap\">" +
                   QString::fromStdString(text).toHtmlEscaped().toStdString() + "</pre></body></html>";
        }
        return {};
    });
    subject_->setText(item->text(1));
    from_->setText(item->text(0));
    to_->setText(item->text(2));
    if (page.empty()) return;
    const QString file = context_.AppFileText(bm::kMessagePreviewPage);
    if (!QFile::exists(file)) return;
    QFile out(file);
    out.setPermissions(out.permissions() | QFile::WriteOwner);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    for (std::size_t at = 0; at < page.size(); at += 4096) {
        const std::size_t piece = std::min<std::size_t>(4096, page.size() - at);
        if (out.write(page.data() + at, static_cast<qint64>(piece)) != static_cast<qint64>(piece)) return;
    }
    out.close();
    ShowPage(file);
}

void Repair_Recover::Save() {
    if (!analysisFinished_ || !save_->isEnabled()) return;
    if (bm::CheckMailClient(context_.appDir()) == bm::MailClientCheck::Missing) {
        context_.services().Show(this, BoxKind::Stop, Text(bm::kMailClientMissing));
        return;
    }
    context_.log().Append(bm::kLogLineBreak);
    context_.log().Append(bm::kLogSavingStart);
    const QString chosen = context_.services().PickFolder(this, Text(kDestinationTitle), QString());
    if (chosen.isEmpty()) return;
    std::error_code ec;
    if (!std::filesystem::is_directory(chosen.toStdString(), ec)) {
        context_.services().Show(this, BoxKind::Information, Text(bm::kSavingPathMissing));
        return;
    }
    const std::filesystem::path destination = bm::MakeSaveDestination(chosen.toStdString());
    context_.log().Append(std::string(bm::kLogTargetPath) + destination.string());
    for (const std::string& path : tree_->CheckedPaths()) selectedFolders_.Select(path);
    if (selectedFolders_.empty()) {
        context_.services().Show(this, BoxKind::Warning, Text(bm::kSelectAnyFolder));
        return;
    }
    saveDestination_ = destination;
    emit saveRequested(QString::fromStdString(destination.string()));
    StartSaving();
}

void Repair_Recover::StartSaving() {
    std::error_code ec;
    std::filesystem::create_directories(saveDestination_, ec);  // a failure is the writer's to report
    bm::AnalysisSource from;
    from.sourcePath = context_.sourcePath;
    from.searchedSourcePath = context_.searchedSourcePath;
    from.sourceKind = context_.sourceKind;
    bm::SavingSource source;
    source.sourcePath = bm::ChooseSourcePath(from);
    source.selected = selectedFolders_;
    source.destination = saveDestination_;
    source.analysisStopped = run_->outcome() == bm::AnalysisOutcome::Aborted;
    source.analysisCounts = run_->results().counts();
    source.deepScan = context_.deepScan;
    if (!saving_->Start(std::move(source))) return;
    savingStarted_ = true;
    savingEnded_ = false;
    save_->setEnabled(false);
    menu_->save->setEnabled(false);
    back_->setEnabled(false);
    // The status dialog opens once this handler has returned, as the
    // page's next paint would open it.
    QTimer::singleShot(0, this, &Repair_Recover::RunSavingDialogs);
}

void Repair_Recover::OnSavingFinished() {
    savingEnded_ = true;
    if (status_ != nullptr) status_->RunEnded();
}

void Repair_Recover::RunSavingDialogs() {
    if (!savingEnded_) {
        ListPSTFile status(context_, *saving_, this);
        status_ = &status;
        emit savingStatusOpened(&status);
        // Closed only by RunEnded (Stop and Esc ask, they do not close).
        if (!savingEnded_) status.exec();
        status_ = nullptr;
    }
    // The dialog's loop also ends when the application quits (a signal to
    // end, the session closing) before the run has: the run then stops
    // after its item and closes the output store before the page goes.
    const bool quitting = !savingEnded_ && saving_->running();
    if (quitting) StopSaving();
    saving_->Wait();
    const bm::AnalysisOutcome outcome = saving_->outcome();
    if (quitting && !context_.exitRequested()) {
        context_.RequestExit();
        done(QDialog::Rejected);
    }
    if (context_.exitRequested()) {
        emit savingDone(static_cast<int>(outcome));
        return;  // the page is already closing
    }
    if (outcome == bm::AnalysisOutcome::Failed) {
        // Nothing was saved: back to the page with the reason; Save may be
        // tried again.
        context_.services().Show(this, BoxKind::Information, QString::fromStdString(saving_->message()));
        save_->setEnabled(true);
        menu_->save->setEnabled(true);
        back_->setEnabled(true);
        emit savingDone(static_cast<int>(outcome));
        return;
    }
    SavingResult result;
    result.outcome = outcome;
    result.saved = saving_->saved();
    result.outputStores = saving_->outputStores();
    result.failedItems = saving_->failedItems();
    Last_Saving_Dialog last(context_, result, this);
    emit savingCompletionOpened(&last);
    last.exec();
    emit savingDone(static_cast<int>(outcome));
    context_.RequestExit();
    done(QDialog::Accepted);
}

}  // namespace bmui
