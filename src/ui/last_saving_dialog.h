// The saving completion dialog: whether the saving completed or was
// stopped, what was saved and where, items that could not be written, how
// many items of the selection were saved and how many not recovered (with
// "Open Report" for the run's report), and "View Log File". Its OK (and its
// Close) closes it; the wizard then goes back to the page below the
// analysis page.
#pragma once

#include <QDialog>
#include <QMessageBox>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/analysis_observer.h"
#include "engine/saving_verdict.h"
#include "engine/well_known_counts.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace bmui {

class WizardContext;

// What a finished saving run reports.
struct SavingResult {
    bm::AnalysisOutcome outcome = bm::AnalysisOutcome::Completed;
    bm::WellKnownCounts saved;
    std::vector<std::filesystem::path> outputStores;
    std::int32_t failedItems = 0;
    // The run's account of the selected folders' items.
    std::int64_t itemsSaved = 0;
    std::int64_t itemsNotRecovered = 0;
    // Items of the selected folders that a run ended early did not come to.
    std::int64_t itemsNotReached = 0;
    // Whether all was saved, and the saving run's closing words for it.
    bm::SavingVerdict verdict = bm::SavingVerdict::AllSaved;
    QString headline;
    // The text report beside the output store; empty when none was written.
    std::filesystem::path report;
    // An export: outputStores holds its folder.
    bool exported = false;
};

class Last_Saving_Dialog : public QDialog {
    Q_OBJECT
public:
    Last_Saving_Dialog(WizardContext& context, const SavingResult& result, QWidget* parent);

    // OK (1): the log when "View Log File" is checked, then the dialog ends.
    void Ok();

    // The headline: complete, stopped, or how many items were lost.
    QLabel* resultLabel() const { return result_; }
    // The icon beside it: information for a complete save, a warning when
    // items were lost or not reached.
    QLabel* resultIconLabel() const { return resultIcon_; }
    QMessageBox::Icon resultIcon() const { return iconKind_; }
    QLabel* storesLabel() const { return stores_; }
    QLabel* failedLabel() const { return failed_; }
    // "Items saved: N, not recovered: M"; after a stop, how many were not
    // reached.
    QLabel* accountLabel() const { return account_; }
    // Opens the report; hidden when there is none.
    QPushButton* reportButton() const { return report_; }
    // The count shown for a category.
    QLabel* countLabel(bm::WellKnownCategory category) const;
    QCheckBox* viewLogBox() const { return viewLog_; }
    QPushButton* okButton() const { return ok_; }

protected:
    void reject() override;

private:
    WizardContext& context_;
    QLabel* result_ = nullptr;  // 1155
    QLabel* resultIcon_ = nullptr;
    QMessageBox::Icon iconKind_ = QMessageBox::Information;
    QLabel* stores_ = nullptr;
    QLabel* failed_ = nullptr;
    QLabel* account_ = nullptr;
    QPushButton* report_ = nullptr;
    std::vector<QLabel*> counts_;
    QCheckBox* viewLog_ = nullptr;  // 1116
    QPushButton* ok_ = nullptr;     // 1
};

}  // namespace bmui
