#include "ui/repair_recover.h"

#include <QAbstractButton>
#include <QAction>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "engine/analysis_run.h"
#include "engine/log_texts.h"
#include "engine/saving_run.h"
#include "engine/shipped_pages.h"
#include "output/output_texts.h"
#include "ui/analysis_bridge.h"
#include "ui/folder_tree.h"
#include "ui/icons.h"
#include "ui/item_list.h"
#include "ui/item_list_filler.h"
#include "ui/preview_box.h"
#include "ui/preview_pane.h"
#include "ui/save_flow.h"
#include "ui/skin.h"
#include "ui/step_picture.h"
#include "ui/top_buttons.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"
#include "ui/wizard_menu.h"

namespace bmui {

namespace {

QString CategoryName(bm::WellKnownCategory category) {
    return QString::fromUtf8(bm::CategoryLogLabel(category).data()).trimmed();
}

QString UnreadableText(std::int64_t lost) {
    return lost == 1 ? QStringLiteral("1 item could not be read") : QStringLiteral("%1 items could not be read").arg(lost);
}

}  // namespace

Repair_Recover::Repair_Recover(WizardContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
    setWindowTitle(Text(kCaption));
    setWindowIcon(AppIcon());
    ApplySkin(*this, context.AppFile(kSkinAnalysis));
    // As large as the page likes, but never larger than the screen (a
    // scale factor of 2 halves the room).
    const QSize room = screen() != nullptr ? screen()->availableGeometry().size() * 0.95 : QSize(1000, 680);
    resize(QSize(1000, 680).boundedTo(room));

    bridge_ = new AnalysisBridge(this);
    run_ = std::make_unique<bm::AnalysisRun>(*bridge_, &context.log(), context.appDir());
    filler_ = std::make_unique<ItemListFiller>(run_->results());

    auto* layout = new QVBoxLayout(this);
    BuildHeader(layout);
    BuildPanes(layout);
    BuildButtons(layout);
    saveFlow_ = new SaveFlow(context, *this);

    // Initial state: nothing to save, log items grayed until the analysis ends.
    if (!context.ReportAvailable()) top_->viewReport->setEnabled(false);
    for (QAction* action : {menu_->viewLog, menu_->clearLog, menu_->changePath, menu_->selectFile, menu_->save,
                            menu_->selectDirectory})
        action->setEnabled(false);
    save_->setEnabled(false);
    back_->setEnabled(false);
    list_->SetColumns(ListKind::Mail);

    ConnectRuns();
    ConnectControls();
    SetKeyboard();
}

void Repair_Recover::BuildHeader(QVBoxLayout* layout) {
    menu_ = new WizardMenu(this);
    layout->setMenuBar(menu_);
    auto* header = new QHBoxLayout;
    stepPicture_ = MakeStepPicture(this, context_.AppFile(kStep2Picture), 2);
    header->addWidget(stepPicture_, 1);
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
    // The damage the analysis met, as a warning beside the counts.
    auto* damage = new QHBoxLayout;
    unreadableIcon_ = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    unreadableIcon_->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(iconSize, iconSize));
    unreadable_ = new QLabel(this);
    QFont bold = unreadable_->font();
    bold.setBold(true);
    unreadable_->setFont(bold);
    for (QLabel* label : {unreadableIcon_, unreadable_}) label->setVisible(false);
    damage->addWidget(unreadableIcon_);
    damage->addWidget(unreadable_, 1);
    layout->addLayout(damage);
}

void Repair_Recover::BuildPanes(QVBoxLayout* layout) {
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    tree_ = new FolderTree(splitter);
    auto* right = new QSplitter(Qt::Vertical, splitter);
    list_ = new ItemList(right);
    previewBox_ = new PreviewBox(context_, right);
    splitter->setStretchFactor(1, 3);
    layout->addWidget(splitter, 1);
}

void Repair_Recover::BuildButtons(QVBoxLayout* layout) {
    auto* buttons = new QHBoxLayout;
    back_ = new QPushButton(Text(kBackButton), this);
    pause_ = new QPushButton(Text(kPauseButton), this);
    stop_ = new QPushButton(Text(kStopButton), this);
    save_ = new QPushButton(Text(kSaveButton), this);
    for (QPushButton* button : {back_, pause_, stop_, save_}) button->setAutoDefault(false);
    markDamaged_ = new QCheckBox(Text(kMarkDamagedBox), this);
    markDamaged_->setToolTip(Text(kMarkDamagedTip));
    outputKind_ = new QComboBox(this);
    for (const std::string_view kind : kOutputKinds) outputKind_->addItem(Text(kind));
    outputKind_->setToolTip(Text(kOutputKindTip));
    // Narrow on the page (the list shows the whole names), so the page
    // still fits a small screen.
    outputKind_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    outputKind_->setMinimumContentsLength(22);
    // The damage mark is a category in the new store, and only a store has
    // parts; an export has neither.
    connect(outputKind_, &QComboBox::currentIndexChanged, this, [this](int kind) {
        markDamaged_->setEnabled(kind == 0);
        partSize_->setEnabled(kind == 0);
    });
    buttons->addWidget(back_);
    buttons->addStretch(1);
    buttons->addWidget(pause_);
    buttons->addWidget(stop_);
    buttons->addWidget(outputKind_);
    buttons->addWidget(markDamaged_);
    buttons->addWidget(save_);
    BuildSaveOptions(layout);
    layout->addLayout(buttons);
}

void Repair_Recover::BuildSaveOptions(QVBoxLayout* layout) {
    auto* row = new QHBoxLayout;
    dateRange_ = new QCheckBox(Text(kDateRangeBox), this);
    dateRange_->setToolTip(Text(kDateRangeTip));
    since_ = new QDateEdit(QDate::currentDate().addYears(-1), this);
    until_ = new QDateEdit(QDate::currentDate(), this);
    auto* to = new QLabel(Text(kDateRangeTo), this);
    for (QDateEdit* edit : {since_, until_}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
    }
    connect(dateRange_, &QCheckBox::toggled, this, [this](bool on) {
        since_->setEnabled(on);
        until_->setEnabled(on);
    });
    dedupe_ = new QCheckBox(Text(kLeaveOutDuplicatesBox), this);
    dedupe_->setToolTip(Text(kLeaveOutDuplicatesTip));
    auto* partLabel = new QLabel(Text(kPartSizeLabel), this);
    partSize_ = new QSpinBox(this);
    partSize_->setRange(static_cast<int>(bm::kSmallestStoreSizeLimit >> 20),
                        static_cast<int>(bm::kLargestStoreSizeLimit >> 20));
    partSize_->setValue(static_cast<int>(bm::kDefaultStoreSizeLimit >> 20));
    partSize_->setSingleStep(100);
    partSize_->setSuffix(QStringLiteral(" MB"));
    partSize_->setToolTip(Text(kPartSizeTip));
    partLabel->setBuddy(partSize_);
    row->addWidget(dateRange_);
    row->addWidget(since_);
    row->addWidget(to);
    row->addWidget(until_);
    row->addSpacing(12);
    row->addWidget(dedupe_);
    row->addStretch(1);
    row->addWidget(partLabel);
    row->addWidget(partSize_);
    layout->addLayout(row);
}

void Repair_Recover::ConnectRuns() {
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
    connect(filler_.get(), &ItemListFiller::fillStarted, previewBox_, &PreviewBox::Clear, Qt::QueuedConnection);
    connect(filler_.get(), &ItemListFiller::rowsReady, this, &Repair_Recover::OnRowsReady, Qt::QueuedConnection);
    // The saving is over: back to the page below (step 1 or the search
    // page), as Back goes, where another store may be chosen.
    connect(saveFlow_, &SaveFlow::over, this, [this] {
        ReleaseAnalysis();
        done(QDialog::Accepted);
    });
}

void Repair_Recover::ConnectControls() {
    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { TreeItemClicked(item); });
    // A folder the arrow keys move to is listed as a clicked one is.
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current == nullptr || FolderTree::PathOf(current) == selectedPath_) return;
        selectedPath_ = FolderTree::PathOf(current);
        filler_->Start(selectedPath_);
    });
    connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        if (item != previewedItem_) ShowPreview(list_->indexOfTopLevelItem(item));
    });
    // The preview follows the selection, also when the arrow keys move it.
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current != nullptr && current != previewedItem_) ShowPreview(list_->indexOfTopLevelItem(current));
    });
    connect(stop_, &QPushButton::clicked, this, &Repair_Recover::StopAnalysis);
    connect(pause_, &QPushButton::clicked, this, &Repair_Recover::TogglePause);
    connect(back_, &QPushButton::clicked, this, &Repair_Recover::Back);
    connect(save_, &QPushButton::clicked, this, &Repair_Recover::Save);
    connect(saveAttachmentButton(), &QPushButton::clicked, this, &Repair_Recover::SaveAttachment);
    connect(attachmentList(), &QListWidget::itemActivated, this, [this] { SaveAttachment(); });
    connect(menu_->save, &QAction::triggered, this, &Repair_Recover::Save);
    connect(top_->viewReport, &QToolButton::clicked, this, [this] {
        context_.ViewReport();
        top_->viewReport->setFocus();
    });
    connect(top_->help, &QToolButton::clicked, this, [this] { context_.ShowHelp(); });
    connect(top_->exit, &QToolButton::clicked, this, &Repair_Recover::ExitRequested);
    menu_->ConnectCommon(context_, this);
}

// Tab walks the page's main controls in this order; F1 opens the help,
// Ctrl+S saves once Save is enabled; in the tree Space toggles a folder's
// box and Enter lists the folder, in the list Enter previews the mail.
void Repair_Recover::SetKeyboard() {
    top_->TabAfter({tree_, list_, preview(), dateRange_, since_, until_, dedupe_, partSize_, back_, pause_, stop_,
                    outputKind_, markDamaged_, save_});
    menu_->save->setShortcut(QKeySequence::Save);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { context_.ShowHelp(); });
    // Ctrl+Q asks the exit question, as the Exit button does.
    auto* quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, &Repair_Recover::ExitRequested);
    tree_->installEventFilter(this);
    list_->installEventFilter(this);
    // The focus starts in the tree (not on a picture button), and the
    // control that has it is framed, the list and the preview included.
    tree_->setFocus();
    setStyleSheet(QStringLiteral("QTreeWidget:focus, QTextBrowser:focus { border: 2px solid palette(highlight); }"));
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

Repair_Recover::~Repair_Recover() {
    // The list worker reads the run's results: it goes first. The run's own
    // destructor waits for its worker; a paused one is let go first.
    filler_.reset();
    if ((run_ && run_->running()) || saveFlow_->running()) StopRuns();
}

bool Repair_Recover::listFillRunning() const { return filler_->running(); }
bool Repair_Recover::savingStarted() const { return saveFlow_->started(); }
const bm::SelectedFolders& Repair_Recover::selectedFolders() const { return saveFlow_->selectedFolders(); }
const std::filesystem::path& Repair_Recover::saveDestination() const { return saveFlow_->destination(); }
QString Repair_Recover::shownPage() const { return previewBox_->shownPage(); }
bm::SavingRun& Repair_Recover::savingRun() { return saveFlow_->run(); }
SavingBridge* Repair_Recover::savingBridge() const { return saveFlow_->bridge(); }
QTreeWidget* Repair_Recover::itemList() const { return list_; }
PreviewPane* Repair_Recover::preview() const { return previewBox_->pane(); }
QLabel* Repair_Recover::fromLabel() const { return previewBox_->fromLabel(); }
QLabel* Repair_Recover::toLabel() const { return previewBox_->toLabel(); }
QLabel* Repair_Recover::subjectLabel() const { return previewBox_->subjectLabel(); }
const std::array<QLabel*, 3>& Repair_Recover::headerCaptions() const { return previewBox_->headerCaptions(); }
QListWidget* Repair_Recover::attachmentList() const { return previewBox_->attachmentList(); }
QPushButton* Repair_Recover::saveAttachmentButton() const { return previewBox_->saveAttachmentButton(); }

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

bm::AnalysisSource Repair_Recover::SourceOfStep1() const {
    bm::AnalysisSource source;
    source.sourcePath = context_.sourcePath;
    source.searchedSourcePath = context_.searchedSourcePath;
    source.sourceKind = context_.sourceKind;
    source.deepScan = context_.deepScan;
    source.recoverDeleted = context_.recoverDeleted;
    return source;
}

void Repair_Recover::StartAnalysis() {
    bm::AnalysisSource source = SourceOfStep1();
    analysisRunning_ = run_->Start(source);
    ShowPage(context_.AppFileText(bm::kProgressPage));
}

void Repair_Recover::ShowPage(const QString& path) { previewBox_->ShowPage(path); }

void Repair_Recover::OnFinished(int outcome, const QString& page, bool treeHasItems, const QString& message) {
    run_->Wait();
    analysisRunning_ = false;
    analysisFinished_ = true;
    stop_->setEnabled(false);
    pause_->setEnabled(false);
    pauseCount_ = 0;
    if (static_cast<bm::AnalysisOutcome>(outcome) == bm::AnalysisOutcome::Failed) {
        // The store could not be read: back to the page below with the reason.
        context_.services().Show(this, BoxKind::Stop, message.isEmpty() ? Text(bm::kFileHighlyCorrupted) : message);
        ReleaseAnalysis();
        done(QDialog::Rejected);
        emit analysisDone(outcome);
        return;
    }
    if (!page.isEmpty()) ShowPage(page);
    if (static_cast<bm::AnalysisOutcome>(outcome) == bm::AnalysisOutcome::Completed)
        progress_->setValue(progress_->maximum());  // the walk is over, whatever it skipped
    ShowUnreadableItems();
    back_->setEnabled(true);
    for (QAction* action : {menu_->viewLog, menu_->clearLog, menu_->changePath}) action->setEnabled(true);
    save_->setEnabled(treeHasItems);
    menu_->save->setEnabled(treeHasItems);
    if (!message.isEmpty()) context_.services().Show(this, BoxKind::Information, message);
    emit analysisDone(outcome);
}

// Beside the page's own texts: how many items the analysis could not read, and
// in the tree each folder holding some (a lost folder marks its parent).
void Repair_Recover::ShowUnreadableItems() {
    const bm::Reconciliation account = run_->reconciliation();
    const std::int64_t lost = account.totals().lost;
    for (QLabel* label : {unreadableIcon_, unreadable_}) label->setVisible(lost > 0);
    if (lost == 0) return;
    unreadable_->setText(UnreadableText(lost));
    for (const bm::FolderTally& folder : account.folders()) {
        if (folder.lost == 0) continue;
        std::string path = folder.path;
        QTreeWidgetItem* item = tree_->ItemOf(path);
        while (item == nullptr && path.size() > 1) {
            path.pop_back();  // the final backslash
            const auto cut = path.rfind('\\');
            if (cut == std::string::npos) break;
            path.resize(cut + 1);
            item = tree_->ItemOf(path);
        }
        if (item == nullptr) continue;
        item->setForeground(0, QBrush(Qt::red));
        item->setToolTip(0, UnreadableText(folder.lost));
    }
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
    previewedItem_ = nullptr;
    list_->clear();
    previewBox_->ForgetStore();
}

void Repair_Recover::Back() {
    if (analysisRunning_ || saveFlow_->running()) return;
    saveFlow_->ClearSelection();
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
    saveFlow_->Stop();
    saveFlow_->Wait();
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
        // Enter presses the focused button, and no default button.
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()); button != nullptr && button->isEnabled())
            button->click();
        return;
    case Qt::Key_Escape:
        return;  // no cancel button is pressed
    default:
        QDialog::keyPressEvent(event);
    }
}

void Repair_Recover::TreeItemClicked(QTreeWidgetItem* item) {
    if (item == nullptr) return;
    selectedPath_ = FolderTree::PathOf(item);
    tree_->setCurrentItem(item);  // lists nothing: the path is the current one
    tree_->setFocus();
    filler_->Start(selectedPath_);
}

void Repair_Recover::SortList(int column) { list_->SortBy(column); }

void Repair_Recover::OnRowsReady(const ItemRows& rows) {
    previewedItem_ = nullptr;
    list_->SetColumns(rows.kind);
    list_->Fill(rows);
    listedPath_ = rows.path;
    emit itemListFilled(QString::fromStdString(rows.path));
    // A folder clicked while this fill ran is listed now.
    if (selectedPath_ != rows.path && !selectedPath_.empty()) filler_->Start(selectedPath_);
}

void Repair_Recover::ShowPreview(int row) {
    if (filler_->running()) return;
    QTreeWidgetItem* item = list_->topLevelItem(row);
    // What is shown goes by the listed folder's path, whatever the tree's
    // label (a "Calendar" below the Inbox holds mail).
    if (item == nullptr && bm::ListKindOf(listedPath_) == ListKind::Mail) return;
    previewedItem_ = item;
    previewBox_->ShowItem(run_->results(), listedPath_, item, run_->sourcePath(), !saveFlow_->running());
}

void Repair_Recover::SaveAttachment() { previewBox_->SaveAttachment(!saveFlow_->running()); }

void Repair_Recover::Save() {
    if (!analysisFinished_ || !save_->isEnabled()) return;
    SaveFlow::Choice choice;
    choice.sourcePath = bm::ChooseSourcePath(SourceOfStep1());
    choice.ticked = tree_->CheckedPaths();
    const QTreeWidgetItem* top = tree_->ItemOf(bm::kRootFolderPath);
    choice.topTicked = top != nullptr && top->checkState(0) == Qt::Checked;
    choice.outputKind = static_cast<SaveFlow::OutputKind>(outputKind_->currentIndex());
    choice.markDamaged = choice.outputKind == SaveFlow::OutputKind::Pst && markDamaged_->isChecked();
    if (dateRange_->isChecked()) {
        choice.since = since_->date().toString(Qt::ISODate).toStdString();
        choice.until = until_->date().toString(Qt::ISODate).toStdString();
    }
    choice.dedupe = dedupe_->isChecked();
    choice.partSizeMb = static_cast<std::uint64_t>(partSize_->value());
    // The saving run opens the store for itself alone.
    previewBox_->ReleaseStore();
    saveFlow_->Save(*run_, choice);
}

}  // namespace bmui
