// The analysis page (steps 2 and 3): runs the analysis at once, shows the
// folder tree, the item list (ItemList) and the preview (PreviewBox), and
// saves the checked folders (SaveFlow). Everything the run builds belongs
// to the page and goes with it.
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

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

namespace bm {
class AnalysisRun;
struct AnalysisSource;
class SavingRun;
}

namespace bmui {

class AnalysisBridge;
class FolderTree;
class ItemList;
class Last_Saving_Dialog;
class ListPSTFile;
class PreviewBox;
class PreviewPane;
class SaveFlow;
class SavingBridge;
class StepPicture;
class ItemListFiller;
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
    bool savingStarted() const;
    bool analysisFinished() const { return analysisFinished_; }
    bool listFillRunning() const;
    const std::string& selectedPath() const { return selectedPath_; }
    const bm::SelectedFolders& selectedFolders() const;
    const std::filesystem::path& saveDestination() const;
    QString shownPage() const;
    bm::AnalysisRun& run() { return *run_; }
    bm::SavingRun& savingRun();
    SavingBridge* savingBridge() const;
    AnalysisBridge* analysisBridge() const { return bridge_; }

    FolderTree* tree() const { return tree_; }
    QTreeWidget* itemList() const;
    PreviewPane* preview() const;
    QLabel* fromLabel() const;
    QLabel* toLabel() const;
    QLabel* subjectLabel() const;
    // "From :", "To :" and "Subject :" beside them.
    const std::array<QLabel*, 3>& headerCaptions() const;
    QListWidget* attachmentList() const;
    QPushButton* saveAttachmentButton() const;
    // "Mark damaged items": the saved items read from damaged blocks get
    // the category "Damaged in recovery".
    QCheckBox* markDamagedBox() const { return markDamaged_; }
    // What Save makes: 0 a .pst, 1 MBOX, 2 Maildir, 3 .eml files.
    QComboBox* outputKindBox() const { return outputKind_; }
    // What Save keeps: with "Only items from" ticked, the items of the days
    // from the first date to the second (both included); with "Leave out
    // duplicates", one of each set of copies in a folder. The part size (in
    // MB) is where a new store goes on in its next part.
    QCheckBox* dateRangeBox() const { return dateRange_; }
    QDateEdit* sinceEdit() const { return since_; }
    QDateEdit* untilEdit() const { return until_; }
    QCheckBox* leaveOutDuplicatesBox() const { return dedupe_; }
    QSpinBox* partSizeBox() const { return partSize_; }
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
    // The parts of the page, top to bottom, and how they are wired.
    void BuildHeader(QVBoxLayout* layout);
    void BuildPanes(QVBoxLayout* layout);
    void BuildButtons(QVBoxLayout* layout);
    // The row of what Save keeps: the date range, duplicates, the part size.
    void BuildSaveOptions(QVBoxLayout* layout);
    void ConnectRuns();
    void ConnectControls();
    void SetKeyboard();

    void StartAnalysis();
    // What step 1 chose: the paths, Deep scan and Recover deleted items.
    bm::AnalysisSource SourceOfStep1() const;
    void OnFinished(int outcome, const QString& page, bool treeHasItems, const QString& message);
    void OnRowsReady(const ItemRows& rows);
    void ShowPage(const QString& path);
    void ReleaseAnalysis();
    void ShowUnreadableItems();
    void StopRuns();
    void SetMainButtonsEnabled(bool enabled);

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
    ItemList* list_ = nullptr;         // 1000
    PreviewBox* previewBox_ = nullptr;
    QPushButton* back_ = nullptr;      // 1076
    QPushButton* pause_ = nullptr;     // 1109
    QPushButton* stop_ = nullptr;      // 1146
    QPushButton* save_ = nullptr;      // 1078
    QCheckBox* markDamaged_ = nullptr;
    QComboBox* outputKind_ = nullptr;
    QCheckBox* dateRange_ = nullptr;
    QDateEdit* since_ = nullptr;
    QDateEdit* until_ = nullptr;
    QCheckBox* dedupe_ = nullptr;
    QSpinBox* partSize_ = nullptr;
    AnalysisBridge* bridge_ = nullptr;

    std::unique_ptr<bm::AnalysisRun> run_;
    std::unique_ptr<ItemListFiller> filler_;
    SaveFlow* saveFlow_ = nullptr;
    std::string selectedPath_;
    std::string listedPath_;  // the folder the list shows
    QTreeWidgetItem* previewedItem_ = nullptr;  // the row the preview shows
    bool started_ = false;
    bool analysisRunning_ = false;
    bool analysisFinished_ = false;
    bool questionOpen_ = false;
    int pauseCount_ = 0;
};

}  // namespace bmui
