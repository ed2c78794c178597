#include "ui/settings.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/activity_log.h"
#include "engine/log_texts.h"
#include "engine/saving_selection.h"
#include "ui/batch_progress_dialog.h"
#include "ui/batch_save.h"
#include "ui/batch_summary.h"
#include "ui/disk_selection.h"
#include "ui/icons.h"
#include "ui/repair_recover.h"
#include "ui/save_destination.h"
#include "ui/skin.h"
#include "ui/step_picture.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"
#include "ui/wizard_menu.h"

namespace bmui {

namespace {
enum Column { kName = 0, kInFolder = 1, kSize = 2, kModified = 3 };
// Where a row keeps the store's path as the search found it.
constexpr int kPathRole = Qt::UserRole;
}  // namespace

Settings::Settings(WizardContext& context, QWidget* parent) : QDialog(parent), context_(context) {
    setWindowTitle(Text(kSearchTitle));
    setWindowIcon(AppIcon());
    ApplySkin(*this, context.AppFile(kSkinSearch));
    resize(820, 520);

    auto* layout = new QVBoxLayout(this);
    menu_ = new WizardMenu(this);
    layout->setMenuBar(menu_);
    layout->addWidget(MakeStepPicture(this, context.AppFile(kStep5Picture), 1));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(Text(kSearchingDirectoryLabel), this), 0, 0);
    directory_ = new QLineEdit(this);
    grid->addWidget(directory_, 0, 1);
    browse_ = new QPushButton(Text(kSearchBrowseButton), this);
    grid->addWidget(browse_, 0, 2);
    grid->addWidget(new QLabel(Text(kSavingPathLabel), this), 1, 0);
    savingPath_ = new QLineEdit(this);
    savingPath_->setReadOnly(true);
    grid->addWidget(savingPath_, 1, 1);
    subdirectories_ = new QCheckBox(Text(kSearchSubdirectories), this);
    subdirectories_->setChecked(true);
    grid->addWidget(subdirectories_, 2, 1);
    find_ = new QPushButton(Text(kFindNowButton), this);
    grid->addWidget(find_, 2, 2);
    layout->addLayout(grid);

    results_ = new QTreeWidget(this);
    results_->setRootIsDecorated(false);
    results_->setAllColumnsShowFocus(true);
    results_->setColumnCount(6);
    results_->setHeaderLabels({Text(kColumnName), Text(kColumnInFolder), Text(kColumnSize), Text(kColumnModified),
                               QString(), QString()});
    const int widths[] = {150, 300, 100, 120, 0, 0};
    for (int i = 0; i < 6; ++i) results_->setColumnWidth(i, widths[i]);
    layout->addWidget(results_, 1);
    status_ = new QLabel(Text(kNoItemsFound), this);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    back_ = new QPushButton(Text(kBackButton), this);
    convert_ = new QPushButton(Text(kConvertButton), this);
    convert_->setEnabled(false);
    saveAll_ = new QPushButton(Text(kSaveAllFoundButton), this);
    saveAll_->setToolTip(Text(kSaveAllFoundTip));
    saveAll_->setEnabled(false);
    for (QPushButton* button : {browse_, find_, back_, convert_, saveAll_}) button->setAutoDefault(false);
    buttons->addWidget(back_);
    buttons->addStretch(1);
    buttons->addWidget(saveAll_);
    buttons->addWidget(convert_);
    layout->addLayout(buttons);

    menu_->save->setEnabled(false);
    connect(browse_, &QPushButton::clicked, this, &Settings::Browse);
    connect(menu_->selectDirectory, &QAction::triggered, this, &Settings::Browse);
    connect(find_, &QPushButton::clicked, this, &Settings::FindNow);
    connect(convert_, &QPushButton::clicked, this, &Settings::Convert);
    connect(saveAll_, &QPushButton::clicked, this, &Settings::SaveAllFound);
    connect(back_, &QPushButton::clicked, this, &Settings::Back);
    connect(menu_->exit, &QAction::triggered, this, &Settings::Back);
    connect(results_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { selectedPath_ = item->text(kInFolder).toStdString(); });
    menu_->ConnectCommon(context_, this);
}

void Settings::SetBrowseEnabled(bool enabled) {
    browse_->setEnabled(enabled);
    menu_->selectDirectory->setEnabled(enabled);
}

void Settings::SetListButtonsEnabled(bool enabled) {
    const bool any = enabled && !searching_ && results_->topLevelItemCount() > 0;
    convert_->setEnabled(any);
    saveAll_->setEnabled(any);
}

void Settings::Browse() {
    const QString chosen = context_.services().PickFolder(this, Text(kSearchBrowseTitle), directory_->text());
    if (chosen.isEmpty()) return;
    directory_->setText(chosen);
    savingPath_->setText(chosen);
    context_.log().Append(std::string(bm::kLogSearchDirectoryChosen));
    context_.log().Append(chosen.toStdString());
}

void Settings::AddRow(const std::string& path) {
    const bm::FoundFileRow row = bm::DescribeFoundFile(path);
    auto* item = new QTreeWidgetItem(results_);
    item->setText(kName, QString::fromStdString(row.name));
    item->setText(kInFolder, QString::fromStdString(row.inFolder));
    item->setText(kSize, QString::fromStdString(row.size));
    item->setText(kModified, QString::fromStdString(row.modified));
    item->setData(kName, kPathRole, QString::fromStdString(path));
    emit fileFound(QString::fromStdString(path));
}

void Settings::FindNow() {
    if (searching_) {
        finder_.StopSearch();
        return;
    }
    SetListButtonsEnabled(false);
    back_->setEnabled(false);
    SetBrowseEnabled(false);
    const QString directory = directory_->text();
    std::error_code ec;
    if (directory.isEmpty() || !std::filesystem::is_directory(directory.toStdString(), ec)) {
        context_.services().Show(this, BoxKind::QuestionOk, Text(bm::kSearchInvalidDirectory));
        back_->setEnabled(true);
        SetBrowseEnabled(true);
        return;
    }
    bm::LogSearchStarted(context_.log(), directory.toStdString());
    results_->clear();
    status_->setText(Text(kNoItemsFound));
    searching_ = true;
    find_->setText(Text(kStopButton));

    bm::FileFinderOptions options;
    options.baseDirectory = directory.toStdString();
    options.searchSubdirectories = subdirectories_->isChecked();
    const auto progress = [this](std::size_t found, const std::string& dir) {
        status_->setText(Text(kSearchProgressFormat).arg(found).arg(QString::fromStdString(dir)));
        // The search runs on this thread: let Stop and the window work.
        QCoreApplication::processEvents();
    };
    const std::size_t found = finder_.FindFiles(options, progress, [&](const std::string& path) {
        AddRow(path);
        progress(finder_.found().size(), path);
    });

    find_->setText(Text(kFindNowButton));
    searching_ = false;
    status_->setText(Text(kItemsFoundFormat).arg(found));
    if (found > 0) convert_->setVisible(true);
    SetListButtonsEnabled(true);
    back_->setVisible(true);
    back_->setEnabled(true);
    SetBrowseEnabled(true);
}

void Settings::Convert() {
    if (selectedPath_.empty() || results_->currentItem() == nullptr) {
        context_.services().Show(this, BoxKind::Information, Text(bm::kSelectFilePrompt));
        return;
    }
    context_.searchedSourcePath = selectedPath_;
    context_.sourceKind = 1;
    bm::LogSourceChosen(context_.log(), QString::fromStdString(selectedPath_).toUpper().toStdString());
    Repair_Recover page(context_, this);
    emit analysisPageOpened(&page);
    RunPageOver(*this, page, context_);
    if (context_.exitRequested()) done(QDialog::Rejected);
}

void Settings::SaveAllFound() {
    if (searching_ || results_->topLevelItemCount() == 0) return;
    UiServices& services = context_.services();
    // The single save's rules: a mail client, a saving path that is a
    // folder, and its Repair folder, made and writable.
    if (bm::CheckMailClient(context_.appDir()) == bm::MailClientCheck::Missing) {
        services.Show(this, BoxKind::Stop, Text(bm::kMailClientMissing));
        return;
    }
    QString chosen = savingPath_->text();
    if (chosen.isEmpty()) {
        // A directory typed rather than browsed for leaves no saving path.
        chosen = services.PickFolder(this, Text(kDestinationTitle), directory_->text());
        if (chosen.isEmpty()) return;
        savingPath_->setText(chosen);
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(chosen.toStdString(), ec)) {
        services.Show(this, BoxKind::Stop, Text(bm::kSavingPathMissing));
        return;
    }
    const std::filesystem::path destination = bm::MakeSaveDestination(chosen.toStdString());
    if (const QString problem = UnwritableFolder(destination, true); !problem.isEmpty()) {
        services.Show(this, BoxKind::Stop, problem);
        return;
    }
    std::vector<std::string> stores;
    for (int row = 0; row < results_->topLevelItemCount(); ++row)
        stores.push_back(results_->topLevelItem(row)->data(kName, kPathRole).toString().toStdString());

    BatchSave batch(context_);
    BatchProgressDialog dialog(context_, batch, this);
    emit batchSaveOpened(&dialog, &batch);
    batch.Start(std::move(stores), destination);
    if (!batch.over()) dialog.exec();
    if (!batch.over()) {
        // The dialog's loop also ends when the application quits: the
        // store at hand stops after its item and its output store is
        // closed before the page goes.
        batch.Stop();
        batch.Wait();
        if (!context_.exitRequested()) context_.RequestExit();
        done(QDialog::Rejected);
        return;
    }
    services.Show(this, EveryStoreWhole(batch.results()) ? BoxKind::Information : BoxKind::Warning,
                  BatchSummaryText(batch.results(), batch.stopRequested()));
}

void Settings::Back() {
    if (searching_) return;
    context_.log().Append(bm::kLogSearchBack);
    done(QDialog::Rejected);
}

void Settings::reject() { Back(); }

}  // namespace bmui
