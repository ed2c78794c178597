// Shared pieces of the GUI tests: desktop services that answer from a
// script, a wizard context over a scratch application directory, and the
// store files the tests open.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace bmui {
class Repair_Recover;
}

#include "ui/ui_services.h"
#include "ui/wizard_context.h"

namespace uitest {

class ScriptedServices : public bmui::UiServices {
public:
    struct Box {
        bmui::BoxKind kind;
        QString text;
    };

    void Show(QWidget* parent, bmui::BoxKind kind, const QString& text) override;
    bool Ask(QWidget* parent, const QString& question) override;
    QString PickStoreFile(QWidget* parent) override;
    QString PickFolder(QWidget* parent, const QString& title, const QString& start) override;
    QString PickSaveFile(QWidget* parent, const QString& title, const QString& suggested) override;
    bool OpenLocalFile(const QString& path) override;
    void RequestExit() override { ++exitRequests; }

    // What the dialogs did.
    std::vector<Box> shown;
    std::vector<QString> asked;
    std::vector<QString> folderTitles;
    std::vector<QString> opened;
    int exitRequests = 0;
    // How to answer: questions take `answers` in turn, then `defaultAnswer`.
    std::deque<bool> answers;
    // No program opens files (the desktop has no opener).
    bool noOpener = false;
    bool defaultAnswer = false;
    QString storeFile;
    QString folder;
    // The save dialog: what it offered, and the answer (empty: take the
    // offered name; "-": cancel).
    std::vector<QString> offeredSaveFiles;
    QString saveFile;
    // The desktop's own save dialog instead (still recorded).
    bool realSaveDialog = false;
    // Runs while a question is on screen (before it is answered).
    std::function<void(const QString&)> duringQuestion;
    // Messages and questions appear as the desktop's real message boxes
    // (still recorded); answers then come from whoever closes the box.
    bool realBoxes = false;

    bool WasShown(const QString& text) const;
};

// Catches the application's modal message boxes without blocking the test:
// polls for one, records it, and closes it with `answer` (a button the box
// lacks: its default button).
class BoxCatcher : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };
    explicit BoxCatcher(QMessageBox::StandardButton answer = QMessageBox::Ok);
    void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
    // The box seen with this text, or nullptr.
    const Seen* Find(const QString& text) const;

    std::vector<Seen> seen;

private:
    void Poll();
    QMessageBox::StandardButton answer_;
    QTimer timer_;
};

// A wizard over a scratch settings file and application directory.
class TestWizard {
public:
    TestWizard();
    std::filesystem::path dir() const { return dir_.path().toStdString(); }
    std::filesystem::path appDir() const { return dir() / "app"; }
    QString ReadLog() const;

    ScriptedServices services;
    std::unique_ptr<bmui::WizardContext> context;

private:
    QTemporaryDir dir_;
};

// Saves a picture of `widget` as <name>.png into $BRIGHTMEND_SCREENSHOTS
// when that is set (tools/screenshots.sh); nothing otherwise.
void Snap(QWidget* widget, const char* name);

// The demo offline store, generated once per test program (empty when the
// generator is missing).
std::filesystem::path DemoStore();
// A shared store or empty when the folder is absent.
std::filesystem::path SharedStore(const char* name);

inline constexpr int kAnalysisTimeoutMs = 60000;
inline constexpr int kSavingTimeoutMs = 120000;

// Opens the analysis page from step 1 over `store` and runs `drive` on it
// once its analysis has ended; the page is left by `drive` (or closed after
// it when it is still open).
void ConvertAndDrive(TestWizard& wizard, const std::filesystem::path& store,
                     const std::function<void(bmui::Repair_Recover&)>& drive);

// Clicks a folder and waits until its list is filled; false when the folder
// is missing or the list never came.
bool ClickFolder(bmui::Repair_Recover& page, const char* path);

}  // namespace uitest

// Skips the current test when the demo store generator is missing; else
// `var` is the demo store's path.
#define UITEST_REQUIRE_DEMO_STORE(var)                           \
    const std::filesystem::path var = ::uitest::DemoStore();     \
    if (var.empty()) QSKIP("demo store generator missing")
