#include "ui/repair_recover.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <QAbstractButton>
#include <QAction>
#include <QBrush>
#include <QDateTime>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/analysis_run.h"
#include "engine/log_texts.h"
#include "engine/saving_run.h"
#include "engine/shipped_pages.h"
#include "ui/analysis_bridge.h"
#include "ui/attachment_shelf.h"
#include "ui/folder_tree.h"
#include "ui/icons.h"
#include "ui/item_cards.h"
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

// The row's item in the results, and on the time column its FILETIME.
constexpr int kSourceRole = Qt::UserRole;
constexpr int kTimeKeyRole = Qt::UserRole + 1;

// A list row that sorts a time column by time and text by the user's
// locale; equal rows keep the order the list was filled in.
class ListRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        const QVariant mine = data(column, kTimeKeyRole);
        const QVariant theirs = other.data(column, kTimeKeyRole);
        if (mine.isValid() && theirs.isValid() && mine.toLongLong() != theirs.toLongLong())
            return mine.toLongLong() < theirs.toLongLong();
        if (!mine.isValid() || !theirs.isValid()) {
            if (const int order = QString::localeAwareCompare(text(column), other.text(column)); order != 0)
                return order < 0;
        }
        return data(0, kSourceRole).toInt() < other.data(0, kSourceRole).toInt();
    }
};

// Why the new store cannot be written into `folder` (made first when
// `make`); empty when it can.
QString UnwritableFolder(const std::filesystem::path& folder, bool make) {
    std::error_code ec;
    if (make) std::filesystem::create_directories(folder, ec);
    int error = ec ? ec.value() : 0;
    if (error == 0 && ::access(folder.c_str(), W_OK | X_OK) != 0) error = errno;
    if (error == 0) return {};
    return Text(kDestinationNotWritable)
        .arg(QString::fromStdString(folder.string()), QString::fromLocal8Bit(std::strerror(error)));
}

// Of the items the analysis found in the selected folders, those a stopped
// saving run did not come to (it met `met` of them).
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
    savingBridge_ = new SavingBridge(this);
    saving_ = std::make_unique<bm::SavingRun>(*savingBridge_, &context.log());

    auto* layout = new QVBoxLayout(this);
    menu_ = new WizardMenu(this);
    layout->setMenuBar(menu_);

    auto* header = new QHBoxLayout;
    stepPicture_ = MakeStepPicture(this, context.AppFile(kStep2Picture), 2);
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
    captions_ = {new QLabel(Text(kFromLabel), previewBox), new QLabel(Text(kToLabel), previewBox),
                 new QLabel(Text(kSubjectLabel), previewBox)};
    const std::array<QLabel*, 3> values = {from_, to_, subject_};
    for (int row = 0; row < 3; ++row) {
        previewLayout->addWidget(captions_[static_cast<std::size_t>(row)], row, 0);
        previewLayout->addWidget(values[static_cast<std::size_t>(row)], row, 1);
    }
    // The mail's header shows only above a mail, not above a card or a page.
    ShowMailHeader(false);
    preview_ = new PreviewPane(previewBox);
    previewLayout->addWidget(preview_, 3, 0, 1, 2);
    // The mail's attachments, by name (text, never markup); one chosen is
    // saved into a folder the user picks.
    attachmentsLabel_ = new QLabel(Text(kAttachmentsLabel), previewBox);
    attachments_ = new QListWidget(previewBox);
    attachments_->setMaximumHeight(72);
    saveAttachment_ = new QPushButton(Text(kSaveAttachmentButton), previewBox);
    saveAttachment_->setAutoDefault(false);
    previewLayout->addWidget(attachmentsLabel_, 4, 0, Qt::AlignTop);
    auto* attachmentRow = new QHBoxLayout;
    attachmentRow->addWidget(attachments_, 1);
    attachmentRow->addWidget(saveAttachment_, 0, Qt::AlignTop);
    previewLayout->addLayout(attachmentRow, 4, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{attachmentsLabel_, attachments_, saveAttachment_}) w->hide();
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
                ShowMailHeader(false);
                ShowAttachments(0);
            },
            Qt::QueuedConnection);
    connect(filler_.get(), &ItemListFiller::rowsReady, this, &Repair_Recover::OnRowsReady, Qt::QueuedConnection);

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
    // A click on a column's header sorts by it; a second click reverses.
    list_->header()->setSectionsClickable(true);
    connect(list_->header(), &QHeaderView::sectionClicked, this, &Repair_Recover::SortList);
    connect(stop_, &QPushButton::clicked, this, &Repair_Recover::StopAnalysis);
    connect(pause_, &QPushButton::clicked, this, &Repair_Recover::TogglePause);
    connect(back_, &QPushButton::clicked, this, &Repair_Recover::Back);
    connect(save_, &QPushButton::clicked, this, &Repair_Recover::Save);
    connect(saveAttachment_, &QPushButton::clicked, this, &Repair_Recover::SaveAttachment);
    connect(attachments_, &QListWidget::itemActivated, this, [this] { SaveAttachment(); });
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
    shelf_.reset();
    ShowAttachments(0);
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

void Repair_Recover::SortList(int column) {
    if (column < 0 || column >= list_->columnCount()) return;
    const Qt::SortOrder order = column == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                           : Qt::AscendingOrder;
    sortColumn_ = column;
    sortOrder_ = order;
    list_->sortItems(column, order);
    list_->header()->setSortIndicator(column, order);
    list_->header()->setSortIndicatorShown(true);
}

void Repair_Recover::SetColumns(ListKind kind) {
    previewedItem_ = nullptr;
    list_->clear();
    // A new fill shows its rows in the order they come until a header is
    // clicked.
    sortColumn_ = -1;
    list_->header()->setSortIndicatorShown(false);
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
        auto* item = new ListRow(row.cells);
        item->setIcon(0, ListIconImage(row.icon));
        item->setData(0, kSourceRole, row.source);
        if (row.timeColumn >= 0) item->setData(row.timeColumn, kTimeKeyRole, static_cast<qlonglong>(row.timeKey));
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
    QTreeWidgetItem* item = list_->topLevelItem(row);
    // The list may be sorted: the row names its item.
    const int source = item != nullptr ? item->data(0, kSourceRole).toInt() : -1;
    const QTreeWidgetItem* selected = tree_->currentItem();
    const ListKind kind = ListKindOf(listedPath_);
    if (selected != nullptr && IsNonMailLabel(selected->text(0))) {
        from_->clear();
        to_->clear();
        subject_->clear();
        // A contact, appointment, task, note or journal item is shown as a
        // card of its fields; without one, the fixed page.
        const std::string card =
            item == nullptr || kind == ListKind::Mail
                ? std::string()
                : run_->results().Read([&](const bm::AnalysisData& data) { return CardOf(data, kind, source); });
        previewedItem_ = item;
        ShowAttachments(0);
        ShowMailHeader(false);
        if (card.empty() || !WritePreviewPage(card)) ShowPage(context_.AppFileText(bm::kPreviewPage));
        return;
    }
    if (item == nullptr || kind != ListKind::Mail) return;
    previewedItem_ = item;
    std::uint32_t nid = 0;
    const std::string page = run_->results().Read([&](const bm::AnalysisData& data) -> std::string {
        for (const bm::FolderRecord& folder : data.folders) {
            if (folder.path != listedPath_) continue;
            if (source < 0 || static_cast<std::size_t>(source) >= folder.messages.size()) return {};
            if (static_cast<std::size_t>(source) < folder.messageNids.size())
                nid = folder.messageNids[static_cast<std::size_t>(source)];
            const bm::MessageFields& message = folder.messages[static_cast<std::size_t>(source)];
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
    ShowMailHeader(true);
    ShowAttachments(nid);
    if (page.empty()) return;
    WritePreviewPage(page);
}

void Repair_Recover::ShowMailHeader(bool shown) {
    for (QLabel* label : captions_) label->setVisible(shown);
    for (QLabel* label : {from_, to_, subject_}) label->setVisible(shown);
}

void Repair_Recover::ShowAttachments(std::uint32_t nid) {
    previewedNid_ = nid;
    attachments_->clear();
    std::optional<std::vector<AttachmentEntry>> listed;
    if (nid != 0 && !saving_->running()) {
        if (!shelf_) shelf_ = std::make_unique<AttachmentShelf>(run_->sourcePath(), context_.deepScan, context_.recoverDeleted);
        listed = shelf_->List(nid);
    }
    const bool any = listed && !listed->empty();
    if (any) {
        for (const AttachmentEntry& entry : *listed) {
            auto* row = new QListWidgetItem(entry.size > 0 ? QStringLiteral("%1 (%2)").arg(entry.name,
                                                                    QLocale().formattedDataSize(entry.size))
                                                           : entry.name);
            row->setIcon(ListIconImage(kListMail));
            attachments_->addItem(row);
        }
        attachments_->setCurrentRow(0);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{attachmentsLabel_, attachments_, saveAttachment_})
        w->setVisible(any);
}

void Repair_Recover::SaveAttachment() {
    const int index = attachments_->currentRow();
    if (index < 0 || previewedNid_ == 0 || !shelf_ || saving_->running()) return;
    const QString chosen = context_.services().PickFolder(this, Text(kAttachmentFolderTitle), QString());
    if (chosen.isEmpty()) return;
    const AttachmentSaved saved = shelf_->Save(previewedNid_, static_cast<std::size_t>(index), chosen.toStdString());
    if (saved.ok)
        context_.services().Show(this, BoxKind::Information,
                                 Text(kAttachmentSaved) + QString::fromStdString(saved.path.string()));
    else
        context_.services().Show(this, BoxKind::Stop, Text(kAttachmentNotSaved) + saved.error);
}

bool Repair_Recover::WritePreviewPage(const std::string& page) {
    const QString file = context_.AppFileText(bm::kMessagePreviewPage);
    if (!QFile::exists(file)) return false;
    QFile out(file);
    out.setPermissions(out.permissions() | QFile::WriteOwner);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    for (std::size_t at = 0; at < page.size(); at += 4096) {
        const std::size_t piece = std::min<std::size_t>(4096, page.size() - at);
        if (out.write(page.data() + at, static_cast<qint64>(piece)) != static_cast<qint64>(piece)) return false;
    }
    out.close();
    ShowPage(file);
    return true;
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
        context_.services().Show(this, BoxKind::Stop, Text(bm::kSavingPathMissing));
        return;
    }
    const std::filesystem::path destination = bm::MakeSaveDestination(chosen.toStdString());
    context_.log().Append(std::string(bm::kLogTargetPath) + destination.string());
    for (const std::string& path : tree_->CheckedPaths()) selectedFolders_.Select(path);
    // The checked top folder stands for its own items too (and for folders
    // below it that could not be read), as "save --all" does.
    if (const QTreeWidgetItem* top = tree_->ItemOf(bm::kRootFolderPath);
        top != nullptr && top->checkState(0) == Qt::Checked && !selectedFolders_.empty())
        selectedFolders_.Select(bm::kRootFolderPath);
    if (selectedFolders_.empty()) {
        context_.services().Show(this, BoxKind::Warning, Text(bm::kSelectAnyFolder));
        return;
    }
    // The new store's name: the default one, offered in a save dialog that
    // can change it.
    const std::string source = std::filesystem::path(bm::ChooseSourcePath(SourceOfStep1())).filename().string();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::filesystem::path suggested = destination / bm::OutputStoreName(source, bm::OutputTimestamp(local));
    // The save dialog opens in the destination's Repair folder, made first
    // (a dialog cannot start in a folder that is not there yet); a folder
    // that cannot be written is said at once, before and after the dialog.
    if (const QString problem = UnwritableFolder(destination, true); !problem.isEmpty()) {
        context_.services().Show(this, BoxKind::Stop, problem);
        return;
    }
    const QString file =
        context_.services().PickSaveFile(this, Text(kSaveStoreTitle), QString::fromStdString(suggested.string()));
    if (file.isEmpty()) return;
    if (const QString problem = UnwritableFolder(std::filesystem::path(file.toStdString()).parent_path(), false);
        !problem.isEmpty()) {
        context_.services().Show(this, BoxKind::Stop, problem);
        return;
    }
    saveDestination_ = destination;
    // The offered name stays the run's own choice, so that a name taken
    // meanwhile moves on to " (2)"; a name the user chose is never replaced.
    saveFile_ = file.toStdString() == suggested.string() ? std::filesystem::path() : std::filesystem::path(file.toStdString());
    emit saveRequested(QString::fromStdString(destination.string()));
    StartSaving();
}

void Repair_Recover::StartSaving() {
    // The saving run opens the store for itself alone.
    if (shelf_) shelf_->Release();
    std::error_code ec;
    std::filesystem::create_directories(saveDestination_, ec);  // a failure is the writer's to report
    bm::SavingSource source;
    source.sourcePath = bm::ChooseSourcePath(SourceOfStep1());
    source.selected = selectedFolders_;
    source.destination = saveDestination_;
    source.outputFile = saveFile_;
    source.analysisStopped = run_->outcome() == bm::AnalysisOutcome::Aborted;
    source.analysisCounts = run_->results().counts();
    source.deepScan = context_.deepScan;
    source.recoverDeleted = context_.recoverDeleted;
    if (!saving_->Start(std::move(source))) return;
    savingStarted_ = true;
    savingEnded_ = false;
    stepPicture_->SetStep(3);
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
        context_.services().Show(this, BoxKind::Stop, QString::fromStdString(saving_->message()));
        stepPicture_->SetStep(2);
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
    const bm::FolderTally account = saving_->reconciliation().totals();
    result.itemsSaved = account.saved;
    result.itemsNotRecovered = account.lost;
    result.itemsNotReached = account.notReached;
    result.verdict = bm::SavingVerdictOf(saving_->reconciliation());
    result.headline = QString::fromStdString(bm::SavingHeadline(saving_->reconciliation()));
    result.report = saving_->reportText();
    Last_Saving_Dialog last(context_, result, this);
    emit savingCompletionOpened(&last);
    last.exec();
    emit savingDone(static_cast<int>(outcome));
    // The saving is over: back to the page below (step 1 or the search
    // page), as Back goes, where another store may be chosen.
    ReleaseAnalysis();
    done(QDialog::Accepted);
}

}  // namespace bmui
