#include "ui/list_pst_file.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "engine/saving_run.h"
#include "ui/button_row.h"
#include "ui/icons.h"
#include "ui/skin.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"

namespace bmui {

ListPSTFile::ListPSTFile(WizardContext& context, bm::SavingRun& run, QWidget* parent)
    : QDialog(parent), context_(context), run_(run) {
    setWindowTitle(Text(kCaption));
    setWindowIcon(AppIcon());
    ApplySkin(*this, context.AppFile(kSkinMessage));

    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(Text(kSavingStatusGroup), this);
    group->setMinimumWidth(480);
    auto* grid = new QGridLayout(group);
    destination_ = new QLabel(group);
    folder_ = new QLabel(group);
    count_ = new QLabel(group);
    // Paths are shown whole on one line; the dialog widens to fit them.
    for (QLabel* value : {destination_, folder_, count_}) value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(new QLabel(Text(kDestinationPathLabel), group), 0, 0, Qt::AlignTop);
    grid->addWidget(destination_, 0, 1);
    grid->addWidget(new QLabel(Text(kFolderNameLabel), group), 1, 0, Qt::AlignTop);
    grid->addWidget(folder_, 1, 1);
    grid->addWidget(new QLabel(Text(kMailCountLabel), group), 2, 0);
    grid->addWidget(count_, 2, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(group);

    inProgress_ = new QLabel(Text(kSavingInProgress), this);
    layout->addWidget(inProgress_);
    // Busy until the run has counted the store's items, then "n of N":
    // the items the walk has read of all it will read.
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0);
    bar_->setTextVisible(false);
    bar_->setFormat(Text(kSavingProgressFormat));
    bar_->hide();
    layout->addWidget(bar_);

    stop_ = new QPushButton(Text(kStopButton), this);
    stop_->setAutoDefault(false);
    AddButtonRow(layout, {stop_});

    connect(stop_, &QPushButton::clicked, this, &ListPSTFile::Stop);
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] {
        RefreshStatus();
        if (!ended_) timer_->start(kStatusTickMs);
    });
    timer_->start(kStatusFirstTickMs);
}

void ListPSTFile::RefreshStatus() {
    const bm::SavingStatusValues values = run_.status().Snapshot();
    folder_->setText(QString::fromStdString(values.statusFolderText));
    count_->setText(QString::fromStdString(values.statusCountText));
    destination_->setText(QString::fromStdString(values.outputPath.string()));
    if (!values.statusFolderText.empty()) {
        bar_->show();
        inProgress_->hide();
    }
    if (values.savingTotal > 0) {
        bar_->setRange(0, values.savingTotal);
        bar_->setValue(std::clamp(values.savingPos, 0, values.savingTotal));
        bar_->setTextVisible(true);
        // Every item read and the run still on: the new store is being
        // finished and checked, which takes a while on a large one.
        const bool checking = !ended_ && run_.running() && values.savingPos >= values.savingTotal;
        bar_->setFormat(Text(checking ? kCheckingNewStore : kSavingProgressFormat));
    }
    // A long path widens the dialog rather than being cut.
    if (const int wanted = sizeHint().width(); wanted > width()) resize(wanted, height());
}

void ListPSTFile::Stop() {
    // After the run has ended there is nothing to hold or stop.
    if (ended_ || !run_.running() || questionOpen_ || run_.reader().stopSaving.load()) return;
    questionOpen_ = true;
    run_.Pause();
    if (context_.services().Ask(this, Text(kStopSavingQuestion))) {
        run_.Stop();
        stop_->setEnabled(false);
    }
    run_.Resume();
    questionOpen_ = false;
}

void ListPSTFile::RunEnded() {
    ended_ = true;
    timer_->stop();
    RefreshStatus();
    // A walk that ended early because everything chosen was saved has
    // still done all there was to do.
    if (run_.outcome() == bm::AnalysisOutcome::Completed && bar_->maximum() > 0) bar_->setValue(bar_->maximum());
    done(QDialog::Accepted);
}

void ListPSTFile::keyPressEvent(QKeyEvent* event) {
    // Enter would press the hidden OK: it does nothing here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

void ListPSTFile::reject() {
    // Esc and the window's Close ask to stop; the dialog stays until the
    // run has ended.
    if (ended_) {
        QDialog::reject();
        return;
    }
    Stop();
}

}  // namespace bmui
