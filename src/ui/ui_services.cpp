#include "ui/ui_services.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "engine/log_texts.h"
#include "ui/ui_texts.h"

namespace bmui {

namespace {

QMessageBox::Icon IconOf(BoxKind kind) {
    switch (kind) {
    case BoxKind::Information:
        return QMessageBox::Information;
    case BoxKind::Warning:
        return QMessageBox::Warning;
    case BoxKind::Stop:
        return QMessageBox::Critical;
    case BoxKind::QuestionOk:
        return QMessageBox::Question;
    }
    return QMessageBox::Information;
}

// The button that answers Yes to `question`, named by its action.
QString ActionOf(const QString& question) {
    if (question == Text(kExitQuestion)) return Text(kQuitButton);
    if (question == Text(kStopAnalysisQuestion) || question == Text(kStopSavingQuestion))
        return Text(kStopActionButton);
    if (question == Text(kPreviousStepQuestion)) return Text(kGoBackButton);
    if (question == Text(bm::kClearLogQuestion)) return Text(kClearButton);
    return {};
}

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, BoxKind kind, const QString& text) {
    return std::make_unique<QMessageBox>(IconOf(kind), Text(kCaption), text, QMessageBox::Ok, parent);
}

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& question) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Question, Text(kCaption), question,
                                             QMessageBox::Yes | QMessageBox::No, parent);
    // The action is named on its button; the safe choice is the default,
    // so Enter and Esc never end, stop or throw away anything.
    if (const QString action = ActionOf(question); !action.isEmpty()) {
        box->button(QMessageBox::Yes)->setText(action);
        box->button(QMessageBox::No)->setText(Text(kCancelChoice));
    }
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    return box;
}

void QtUiServices::Show(QWidget* parent, BoxKind kind, const QString& text) {
    MakeMessageBox(parent, kind, text)->exec();
}

bool QtUiServices::Ask(QWidget* parent, const QString& question) {
    return MakeQuestionBox(parent, question)->exec() == QMessageBox::Yes;
}

QString QtUiServices::PickStoreFile(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, Text(kCaption), QString(), Text(kStoreFileFilter));
}

QString QtUiServices::PickFolder(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, title, start);
}

QString QtUiServices::PickSaveFile(QWidget* parent, const QString& title, const QString& suggested) {
    // An existing file is refused by the saving run with its own message,
    // so the dialog does not offer to replace one.
    return QFileDialog::getSaveFileName(parent, title, suggested, Text(kOutputStoreFilter), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

bool QtUiServices::OpenLocalFile(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void QtUiServices::RequestExit() { QCoreApplication::exit(0); }

}  // namespace bmui
