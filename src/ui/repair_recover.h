// The analysis page (steps 2 and 3): runs the analysis at once, shows the
// folder tree, the item list and the preview, and saves the checked folders.
// Everything the run builds belongs to the page and goes with it.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/saving_selection.h"
#include "engine/well_known_counts.h"
#include "ui/item_rows.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace bm {
class AnalysisRun;
struct AnalysisSource;
class SavingRun;
}

namespace bmui {

class AnalysisBridge;
class AttachmentShelf;
class FolderTree;
class Last_Saving_Dialog;
class ListPSTFile;
class SavingBridge;
class StepPicture;
class ItemListFiller;
class PreviewPane;
class TopButtons;
class WizardContext;
class WizardMenu;

class Repair_Recover : public QDialog {
    Q_OBJECT
public:
    Repair_Recover(WizardContext& context, QWidget* parent);
    ~Repair_Recover() override;

    // Handlers, also driven by tests.
    void StopAnalysis();
    void TogglePause();
    void Back();
    void ExitRequested();
    void Save();
    void TreeItemClicked(QTreeWidgetItem* item);
    // Previews the list's row `row` (as the list shows it, sorted or not).
    void ShowPreview(int row);
    // Sorts the list by `column`, as a click on its header does; a second
    // click on the same column reverses the order.
    void SortList(int column);
    // Saves the attachment chosen in the preview's list into a folder the
    // user picks.
    void SaveAttachment();

    bool analysisRunning() const { return analysisRunning_; }
    bool savingStarted() const { return savingStarted_; }
    bool analysisFinished() const { return analysisFinished_; }
    bool listFillRunning() const;
    const std::string& selectedPath() const { return selectedPath_; }
    const bm::SelectedFolders& selectedFolders() const { return selectedFolders_; }
    const std::filesystem::path& saveDestination() const { return saveDestination_; }
    QString shownPage() const { return shownPage_; }
    bm::AnalysisRun& run() { return *run_; }
    bm::SavingRun& savingRun() { return *saving_; }
    SavingBridge* savingBridge() const { return savingBridge_; }
    AnalysisBridge* analysisBridge() const { return bridge_; }

    FolderTree* tree() const { return tree_; }
    QTreeWidget* itemList() const { return list_; }
    PreviewPane* preview() const { return preview_; }
    QLabel* fromLabel() const { return from_; }
    QLabel* toLabel() const { return to_; }
    QLabel* subjectLabel() const { return subject_; }
    // "From :", "To :" and "Subject :" beside them.
    const std::array<QLabel*, 3>& headerCaptions() const { return captions_; }
    QListWidget* attachmentList() const { return attachments_; }
    QPushButton* saveAttachmentButton() const { return saveAttachment_; }
    QLabel* countLabel(bm::WellKnownCategory category) const;
    QProgressBar* progress() const { return progress_; }
    // "N items could not be read" after an analysis that lost some; hidden otherwise.
    QLabel* unreadableLabel() const { return unreadable_; }
    // The warning icon beside it.
    QLabel* unreadableIcon() const { return unreadableIcon_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* saveButton() const { return save_; }
    TopButtons* topButtons() const { return top_; }
    StepPicture* stepPicture() const { return stepPicture_; }
    WizardMenu* menu() const { return menu_; }

signals:
    void analysisDone(int outcome);
    void itemListFilled(const QString& path);
    // Save passed its checks: the selected folders and the destination
    // ("<chosen>/Repair") are settled.
    void saveRequested(const QString& destination);
    // The saving dialogs, before they run (tests drive them from here).
    void savingStatusOpened(bmui::ListPSTFile* dialog);
    void savingCompletionOpened(bmui::Last_Saving_Dialog* dialog);
    // The saving run ended and its dialogs are done; outcome as
    // bm::AnalysisOutcome.
    void savingDone(int outcome);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;

private:
    void StartAnalysis();
    // What step 1 chose: the paths, Deep scan and Recover deleted items.
    bm::AnalysisSource SourceOfStep1() const;
    void StartSaving();
    void RunSavingDialogs();
    void OnSavingFinished();
    void OnFinished(int outcome, const QString& page, bool treeHasItems, const QString& message);
    void OnRowsReady(const ItemRows& rows);
    void SetColumns(ListKind kind);
    // Writes `page` into the preview page file and shows it; false when the
    // file is missing or cannot be written (the preview stays as it was).
    bool WritePreviewPage(const std::string& page);
    void ShowPage(const QString& path);
    void ReleaseAnalysis();
    void ShowUnreadableItems();
    void StopRuns();
    void StopSaving();
    void SetMainButtonsEnabled(bool enabled);
    void ShowAttachments(std::uint32_t nid);
    void ShowMailHeader(bool shown);

    WizardContext& context_;
    WizardMenu* menu_ = nullptr;
    TopButtons* top_ = nullptr;
    StepPicture* stepPicture_ = nullptr;
    QLabel* source_ = nullptr;
    std::array<QLabel*, bm::kWellKnownCategoryCount> counts_{};
    QProgressBar* progress_ = nullptr;
    QLabel* unreadable_ = nullptr;
    QLabel* unreadableIcon_ = nullptr;
    FolderTree* tree_ = nullptr;       // 1001
    QTreeWidget* list_ = nullptr;      // 1000
    PreviewPane* preview_ = nullptr;   // 1118
    QLabel* from_ = nullptr;
    QLabel* to_ = nullptr;
    QLabel* subject_ = nullptr;
    std::array<QLabel*, 3> captions_{};  // "From :", "To :", "Subject :"
    QLabel* attachmentsLabel_ = nullptr;
    QListWidget* attachments_ = nullptr;
    QPushButton* saveAttachment_ = nullptr;
    QPushButton* back_ = nullptr;      // 1076
    QPushButton* pause_ = nullptr;     // 1109
    QPushButton* stop_ = nullptr;      // 1146
    QPushButton* save_ = nullptr;      // 1078
    AnalysisBridge* bridge_ = nullptr;
    SavingBridge* savingBridge_ = nullptr;
    ListPSTFile* status_ = nullptr;  // while the status dialog runs

    std::unique_ptr<bm::AnalysisRun> run_;
    std::unique_ptr<ItemListFiller> filler_;
    std::unique_ptr<bm::SavingRun> saving_;
    std::unique_ptr<AttachmentShelf> shelf_;  // opened by the first preview that lists attachments
    std::uint32_t previewedNid_ = 0;          // the mail whose attachments are listed
    bm::SelectedFolders selectedFolders_;
    std::string selectedPath_;
    std::filesystem::path saveDestination_;
    std::filesystem::path saveFile_;  // the new store's file as the save dialog chose it
    std::string listedPath_;  // the folder the list shows
    QTreeWidgetItem* previewedItem_ = nullptr;  // the row the preview shows
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QString shownPage_;
    bool started_ = false;
    bool analysisRunning_ = false;
    bool analysisFinished_ = false;
    bool questionOpen_ = false;
    bool savingStarted_ = false;
    bool savingEnded_ = false;
    int pauseCount_ = 0;
};

}  // namespace bmui
