#include "ui/batch_progress_dialog.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "engine/saving_run.h"
#include "ui/analysis_bridge.h"
#include "ui/batch_save.h"
#include "ui/button_row.h"
#include "ui/icons.h"
#include "ui/skin.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"

namespace bmui {

namespace {
constexpr int kSavingTickMs = 250;
}  // namespace

BatchProgressDialog::BatchProgressDialog(WizardContext& context, BatchSave& batch, QWidget* parent)
    : QDialog(parent), context_(context), batch_(batch) {
    setWindowTitle(Text(kCaption));
    setWindowIcon(AppIcon());
    ApplySkin(*this, context.AppFile(kSkinMessage));
    setMinimumWidth(480);

    auto* layout = new QVBoxLayout(this);
    store_ = new QLabel(this);
    store_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(store_);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0);
    layout->addWidget(bar_);
    stop_ = new QPushButton(Text(kStopButton), this);
    stop_->setAutoDefault(false);
    AddButtonRow(layout, {stop_});
    connect(stop_, &QPushButton::clicked, this, &BatchProgressDialog::Stop);

    timer_ = new QTimer(this);
    timer_->setInterval(kSavingTickMs);
    connect(timer_, &QTimer::timeout, this, &BatchProgressDialog::ShowSavingProgress);
    connect(&batch_, &BatchSave::storeStarted, this, [this](int position, int count, const QString& name) {
        timer_->stop();
        store_->setText(Text(kBatchStoreFormat).arg(position).arg(count).arg(name));
        bar_->setRange(0, 0);
        bar_->setFormat(Text(kBatchAnalysing));
        // A long name widens the dialog rather than being cut.
        if (const int wanted = sizeHint().width(); wanted > width()) resize(wanted, height());
    });
    // The analysis's own count of the nodes it reads; the saving run's
    // status is read on the timer, as the single save's dialog does.
    connect(batch_.analysisBridge(), &AnalysisBridge::progressRange, this, [this](int maximum) {
        if (batch_.saving()) return;
        bar_->setRange(0, std::max(maximum, 1));
        bar_->setFormat(Text(kBatchAnalysisProgressFormat));
    }, Qt::QueuedConnection);
    connect(batch_.analysisBridge(), &AnalysisBridge::progressPosition, this, [this](int position) {
        if (!batch_.saving()) bar_->setValue(std::min(position, bar_->maximum()));
    }, Qt::QueuedConnection);
    connect(&batch_, &BatchSave::savingStarted, this, [this] {
        bar_->setRange(0, 0);
        bar_->setFormat(Text(kSavingProgressFormat));
        timer_->start();
    });
    connect(&batch_, &BatchSave::finished, this, [this] {
        timer_->stop();
        done(QDialog::Accepted);
    });
}

void BatchProgressDialog::ShowSavingProgress() {
    bm::SavingRun* run = batch_.savingRun();
    if (run == nullptr || !batch_.saving()) return;
    const bm::SavingStatusValues values = run->status().Snapshot();
    if (values.savingTotal <= 0) return;
    bar_->setRange(0, values.savingTotal);
    bar_->setValue(std::clamp(values.savingPos, 0, values.savingTotal));
    bar_->setFormat(Text(values.savingPos >= values.savingTotal ? kCheckingNewStore : kSavingProgressFormat));
}

void BatchProgressDialog::Stop() {
    if (questionOpen_ || batch_.over() || batch_.stopRequested()) return;
    questionOpen_ = true;
    batch_.Pause();
    if (context_.services().Ask(this, Text(kStopSavingQuestion))) {
        batch_.Stop();
        stop_->setEnabled(false);
    }
    batch_.Resume();
    questionOpen_ = false;
}

void BatchProgressDialog::keyPressEvent(QKeyEvent* event) {
    // Enter would press a default button: there is none to press here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

void BatchProgressDialog::reject() {
    // Esc and the window's Close ask to stop; the dialog stays until the
    // last store has its result.
    if (batch_.over()) {
        QDialog::reject();
        return;
    }
    Stop();
}

}  // namespace bmui
