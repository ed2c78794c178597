// What the wizard asks of the desktop: message boxes, file and folder
// pickers, opening a local file with its program, and ending the
// application. The dialogs reach all of it through this interface, so tests
// drive them with their own answers.
#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

namespace bmui {

enum class BoxKind {
    Information,  // a result: information icon, OK
    Warning,      // exclamation icon, OK
    Stop,         // a fatal condition or refused input: stop icon, OK
    QuestionOk,   // a notice with the question icon, OK
};

class UiServices {
public:
    virtual ~UiServices() = default;
    // A message box captioned "Brightmend".
    virtual void Show(QWidget* parent, BoxKind kind, const QString& text) = 0;
    // A Yes/No question with the question icon; true for Yes.
    virtual bool Ask(QWidget* parent, const QString& question) = 0;
    // An existing *.ost file; empty when cancelled.
    virtual QString PickStoreFile(QWidget* parent) = 0;
    // An existing directory; empty when cancelled.
    virtual QString PickFolder(QWidget* parent, const QString& title, const QString& start) = 0;
    // The file to save into, offering `suggested` (folder and name); empty
    // when the user cancels.
    virtual QString PickSaveFile(QWidget* parent, const QString& title, const QString& suggested) = 0;
    // Opens a local file with the desktop's program for it; false when no
    // program could be started for it (no desktop opener installed).
    virtual bool OpenLocalFile(const QString& path) = 0;
    // Ends the application (exit code 0) once every event loop has returned.
    virtual void RequestExit() = 0;
};

// The message box a kind stands for, captioned "Brightmend".
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, BoxKind kind, const QString& text);
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& question);

// The desktop's own dialogs and programs.
class QtUiServices : public UiServices {
public:
    void Show(QWidget* parent, BoxKind kind, const QString& text) override;
    bool Ask(QWidget* parent, const QString& question) override;
    QString PickStoreFile(QWidget* parent) override;
    QString PickFolder(QWidget* parent, const QString& title, const QString& start) override;
    QString PickSaveFile(QWidget* parent, const QString& title, const QString& suggested) override;
    bool OpenLocalFile(const QString& path) override;
    void RequestExit() override;
};

}  // namespace bmui
