// The dialog "Save All Found" shows while its stores are saved: which
// store of how many is at hand ("Saving store 2 of 5: NAME"), how far its
// analysis or its saving is, and Stop. Stop asks first (the run held while
// the question is on screen); Yes stops the store at hand and starts no
// other. The dialog closes once the last store has its result.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace bmui {

class BatchSave;
class WizardContext;

class BatchProgressDialog : public QDialog {
    Q_OBJECT
public:
    BatchProgressDialog(WizardContext& context, BatchSave& batch, QWidget* parent);

    void Stop();

    QLabel* storeLabel() const { return store_; }
    QProgressBar* progressBar() const { return bar_; }
    QPushButton* stopButton() const { return stop_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void ShowSavingProgress();

    WizardContext& context_;
    BatchSave& batch_;
    QLabel* store_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* stop_ = nullptr;
    QTimer* timer_ = nullptr;
    bool questionOpen_ = false;
};

}  // namespace bmui
