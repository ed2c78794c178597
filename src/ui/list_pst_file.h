// The saving status dialog: the output store, the folder being written and
// the count that changed last, read from the run's status on a timer (first
// after 100 ms, then every 2 s), with a progress bar ("n of N items read")
// and Stop. It stays
// open until the run has ended; the analysis page then closes it.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace bm {
class SavingRun;
}

namespace bmui {

class WizardContext;

inline constexpr int kStatusFirstTickMs = 100;
inline constexpr int kStatusTickMs = 2000;

class ListPSTFile : public QDialog {
    Q_OBJECT
public:
    ListPSTFile(WizardContext& context, bm::SavingRun& run, QWidget* parent);

    // Stop (1076), Cancel and Esc: the run is held while the question is on
    // screen; Yes asks it to stop after the item it is writing.
    void Stop();
    // Timer 1: the status values onto the labels.
    void RefreshStatus();
    // The run has ended: the dialog closes.
    void RunEnded();

    QLabel* destinationValue() const { return destination_; }
    QLabel* folderValue() const { return folder_; }
    QLabel* countValue() const { return count_; }
    QLabel* progressLabel() const { return inProgress_; }
    QProgressBar* activityBar() const { return bar_; }
    QPushButton* stopButton() const { return stop_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    WizardContext& context_;
    bm::SavingRun& run_;
    QLabel* destination_ = nullptr;  // 1153
    QLabel* folder_ = nullptr;       // 1113
    QLabel* count_ = nullptr;        // 1115
    QLabel* inProgress_ = nullptr;   // 1154
    QProgressBar* bar_ = nullptr;    // 1031
    QPushButton* stop_ = nullptr;    // 1076
    QTimer* timer_ = nullptr;
    bool questionOpen_ = false;
    bool ended_ = false;
};

}  // namespace bmui
