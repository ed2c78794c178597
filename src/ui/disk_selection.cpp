#include "ui/disk_selection.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/activity_log.h"
#include "engine/log_texts.h"
#include "ui/icons.h"
#include "ui/modal_run.h"
#include "ui/repair_recover.h"
#include "ui/settings.h"
#include "ui/skin.h"
#include "ui/source_check.h"
#include "ui/step_picture.h"
#include "ui/top_buttons.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"
#include "ui/wizard_context.h"
#include "ui/wizard_menu.h"

namespace bmui {

bool EndsInOst(const std::string& upperPath) { return upperPath.ends_with("OST"); }

void RunPageOver(QDialog& below, QDialog& page, const WizardContext& context) {
    below.hide();
    RunModal(page);
    if (!context.exitRequested()) below.show();
}

DiskSelection::DiskSelection(WizardContext& context, QWidget* parent) : QDialog(parent), context_(context) {
    setWindowTitle(Text(kCaption));
    setWindowIcon(AppIcon());
    ApplySkin(*this, context.AppFile(kSkinStep1));

    auto* layout = new QVBoxLayout(this);
    menu_ = new WizardMenu(this);
    layout->setMenuBar(menu_);

    auto* header = new QHBoxLayout;
    header->addWidget(MakeStepPicture(this, context.AppFile(kStep1Picture), 1), 1);
    top_ = new TopButtons(this);
    header->addWidget(top_, 0, Qt::AlignTop);
    layout->addLayout(header);

    auto* intro = new QLabel(Text(kStep1Hint), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(Text(kSourcePathLabel), this));
    // The path as the file is named (case matters here); a typed or pasted
    // path is the one Convert uses.
    pathEdit_ = new QLineEdit(this);
    pathEdit_->setMinimumWidth(380);
    pathEdit_->setClearButtonEnabled(true);
    connect(pathEdit_, &QLineEdit::textEdited, this,
            [this](const QString& text) { context_.sourcePath = text.toStdString(); });
    row->addWidget(pathEdit_, 1);
    browse_ = new QPushButton(Text(kBrowseButton), this);
    row->addWidget(browse_);
    layout->addLayout(row);

    // The scan runs by itself when the index is visibly damaged; the box
    // asks for it on a store whose index looks sound.
    deepScan_ = new QCheckBox(Text(kDeepScanBox), this);
    deepScan_->setChecked(context_.deepScan);
    layout->addWidget(deepScan_);
    connect(deepScan_, &QCheckBox::toggled, this, [this](bool on) { context_.deepScan = on; });
    recoverDeleted_ = new QCheckBox(Text(kRecoverDeletedBox), this);
    recoverDeleted_->setChecked(context_.recoverDeleted);
    layout->addWidget(recoverDeleted_);
    connect(recoverDeleted_, &QCheckBox::toggled, this, [this](bool on) { context_.recoverDeleted = on; });

    auto* buttons = new QHBoxLayout;
    search_ = new QPushButton(Text(kSearchButton), this);
    convert_ = new QPushButton(Text(kConvertButton), this);
    for (QPushButton* button : {browse_, search_, convert_}) button->setAutoDefault(false);
    buttons->addWidget(search_);
    buttons->addStretch(1);
    buttons->addWidget(convert_);
    layout->addLayout(buttons);

    connect(browse_, &QPushButton::clicked, this, &DiskSelection::Browse);
    connect(search_, &QPushButton::clicked, this, &DiskSelection::Search);
    connect(convert_, &QPushButton::clicked, this, &DiskSelection::Convert);
    connect(top_->viewReport, &QToolButton::clicked, this, [this] { context_.ViewReport(); });
    connect(top_->help, &QToolButton::clicked, this, [this] { context_.ShowHelp(); });
    connect(top_->exit, &QToolButton::clicked, this, &DiskSelection::ExitRequested);

    connect(menu_->selectFile, &QAction::triggered, this, &DiskSelection::Browse);
    connect(menu_->exit, &QAction::triggered, this, &DiskSelection::ExitRequested);
    menu_->ConnectCommon(context_, this);

    // Tab walks the path field, Browse, the Deep scan and Recover deleted items boxes, Search, Convert and
    // the three picture buttons; F1 opens the help.
    top_->TabAfter({pathEdit_, browse_, deepScan_, recoverDeleted_, search_, convert_});
    // Ctrl+O browses and Ctrl+Q asks the exit question.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { context_.ShowHelp(); });
    menu_->selectFile->setShortcut(QKeySequence::Open);
    menu_->exit->setShortcut(QKeySequence::Quit);
    // The focus starts in the path field, not on a picture button.
    pathEdit_->setFocus();
}

void DiskSelection::ChooseSource(const QString& path) {
    pathEdit_->setText(path);
    context_.sourcePath = path.toStdString();
    LogSource();
}

void DiskSelection::LogSource() {
    if (loggedSource_ == context_.sourcePath) return;
    loggedSource_ = context_.sourcePath;
    bm::LogSourceChosen(context_.log(), context_.sourcePath);
}

void DiskSelection::Browse() {
    const QString chosen = context_.services().PickStoreFile(this);
    if (chosen.isEmpty()) return;
    ChooseSource(chosen);
}

void DiskSelection::Convert() {
    // A file that is not there, cannot be read or holds no store is said
    // here; the analysis page opens only for one it may read.
    if (const QString problem = SourceFileProblem(context_.sourcePath); !problem.isEmpty()) {
        context_.services().Show(this, BoxKind::Stop, problem);
        return;
    }
    // A typed path is logged when it is used.
    LogSource();
    context_.sourceKind = 0;
    Repair_Recover page(context_, this);
    emit analysisPageOpened(&page);
    RunPageOver(*this, page, context_);
}

void DiskSelection::Search() {
    context_.log().Append(bm::kLogLineBreak);
    context_.log().Append(bm::kLogSearchButton);
    Settings page(context_, this);
    emit searchPageOpened(&page);
    RunPageOver(*this, page, context_);
}

void DiskSelection::SetButtonsEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{browse_, search_, convert_, top_}) w->setEnabled(enabled);
}

void DiskSelection::ExitRequested() {
    if (questionOpen_) return;
    questionOpen_ = true;
    SetButtonsEnabled(false);
    const bool yes = context_.services().Ask(this, Text(kExitQuestion));
    SetButtonsEnabled(true);
    questionOpen_ = false;
    if (yes) {
        context_.RequestExit();
        done(0);
    }
}

void DiskSelection::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the focused button (a box is ticked with Space), and
        // in the path field converts the path typed there.
        if (focusWidget() == pathEdit_) {
            Convert();
        } else if (auto* button = qobject_cast<QAbstractButton*>(focusWidget());
                   button != nullptr && button->isEnabled() && qobject_cast<QCheckBox*>(button) == nullptr) {
            button->click();
        }
        return;
    case Qt::Key_Escape:
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void DiskSelection::closeEvent(QCloseEvent* event) {
    if (context_.exitRequested()) return;  // accepted: the application ends
    event->ignore();
    ExitRequested();
}

void DiskSelection::reject() {
    // The window's Close and Esc reach here; Esc is filtered above.
    ExitRequested();
}

}  // namespace bmui
