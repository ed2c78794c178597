#include "ui_test_support.h"

#include <QFile>
#include <QProcess>
#include <QWidget>

#include "engine/shipped_pages.h"
#include "support/test_paths.h"
#include "ui/shipped_page_set.h"

namespace uitest {

namespace fs = std::filesystem;

void ScriptedServices::Show(QWidget*, bmui::BoxKind kind, const QString& text) { shown.push_back({kind, text}); }

bool ScriptedServices::Ask(QWidget*, const QString& question) {
    asked.push_back(question);
    if (duringQuestion) duringQuestion(question);
    if (answers.empty()) return defaultAnswer;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

QString ScriptedServices::PickStoreFile(QWidget*) { return storeFile; }

QString ScriptedServices::PickFolder(QWidget*, const QString& title, const QString&) {
    folderTitles.push_back(title);
    return folder;
}

void ScriptedServices::OpenLocalFile(const QString& path) { opened.push_back(path); }

bool ScriptedServices::WasShown(const QString& text) const {
    for (const Box& box : shown)
        if (box.text == text) return true;
    return false;
}

TestWizard::TestWizard() {
    const fs::path settingsFile = dir() / "brightmend.conf";
    {
        bm::Settings settings(settingsFile);
        settings.SetValue(bm::kSettingFilePath, appDir().string());
    }
    context = std::make_unique<bmui::WizardContext>(settingsFile, services);
    const bmui::ShippedPageSet pages;
    bm::PrepareAppDir(context->appDir(), pages.pages());
}

QString TestWizard::ReadLog() const {
    QFile file(QString::fromStdString((appDir() / "Activity Log.txt").string()));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

void Snap(QWidget* widget, const char* name) {
    const QByteArray dir = qgetenv("BRIGHTMEND_SCREENSHOTS");
    if (dir.isEmpty() || widget == nullptr) return;
    widget->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

fs::path DemoStore() {
    static const fs::path store = [] {
        static QTemporaryDir dir;
        const fs::path path = fs::path(dir.path().toStdString()) / "outlook.ost";
        const QString tool = QStringLiteral(BRIGHTMEND_TOOLS_DIR "/make_demo_store");
        if (!QFile::exists(tool)) return fs::path();
        QProcess process;
        process.start(tool, {QString::fromStdString(path.string())});
        if (!process.waitForFinished(120000) || process.exitCode() != 0) return fs::path();
        return path;
    }();
    return store;
}

fs::path SharedStore(const char* name) { return bmtest::SharedStore(name); }

}  // namespace uitest
