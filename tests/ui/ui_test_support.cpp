#include "ui_test_support.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include "engine/shipped_pages.h"
#include "support/test_paths.h"
#include "ui/disk_selection.h"
#include "ui/folder_tree.h"
#include "ui/repair_recover.h"
#include "ui/shipped_page_set.h"

namespace uitest {

namespace fs = std::filesystem;

void ScriptedServices::Show(QWidget* parent, bmui::BoxKind kind, const QString& text) {
    shown.push_back({kind, text});
    if (realBoxes) bmui::QtUiServices().Show(parent, kind, text);
}

bool ScriptedServices::Ask(QWidget* parent, const QString& question) {
    asked.push_back(question);
    if (realBoxes) return bmui::QtUiServices().Ask(parent, question);
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

QString ScriptedServices::PickSaveFile(QWidget* parent, const QString& title, const QString& suggested) {
    offeredSaveFiles.push_back(suggested);
    if (realSaveDialog) return bmui::QtUiServices().PickSaveFile(parent, title, suggested);
    if (saveFile == QStringLiteral("-")) return QString();
    return saveFile.isEmpty() ? suggested : saveFile;
}

bool ScriptedServices::OpenLocalFile(const QString& path) {
    opened.push_back(path);
    return !noOpener;
}

bool ScriptedServices::WasShown(const QString& text) const {
    for (const Box& box : shown)
        if (box.text == text) return true;
    return false;
}

BoxCatcher::BoxCatcher(QMessageBox::StandardButton answer) : answer_(answer) {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &BoxCatcher::Poll);
    timer_.start();
}

void BoxCatcher::Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->defaultButton();
    if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().first();
    if (button != nullptr) button->click();
}

const BoxCatcher::Seen* BoxCatcher::Find(const QString& text) const {
    for (const Seen& s : seen)
        if (s.text == text) return &s;
    return nullptr;
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

void ConvertAndDrive(TestWizard& wizard, const fs::path& store, const std::function<void(bmui::Repair_Recover&)>& drive) {
    bmui::DiskSelection step1(*wizard.context);
    wizard.services.storeFile = QString::fromStdString(store.string());
    step1.Browse();
    QObject::connect(&step1, &bmui::DiskSelection::analysisPageOpened, &step1, [&](bmui::Repair_Recover* page) {
        QTimer::singleShot(0, page, [page, &drive] {
            QTRY_VERIFY_WITH_TIMEOUT(page->analysisFinished() || !page->isVisible(), kAnalysisTimeoutMs);
            drive(*page);
            if (page->isVisible()) page->done(0);  // a failed check leaves the page open
        });
    });
    step1.show();
    Snap(&step1, "1-step1");
    step1.Convert();
}

bool ClickFolder(bmui::Repair_Recover& page, const char* path) {
    QTreeWidgetItem* item = page.tree()->ItemOf(path);
    if (item == nullptr) return false;
    bool filled = false;
    const QMetaObject::Connection c = QObject::connect(&page, &bmui::Repair_Recover::itemListFilled, &page,
                                                       [&](const QString& p) { filled = filled || p == path; });
    page.TreeItemClicked(item);
    const bool ok = QTest::qWaitFor([&] { return filled && !page.listFillRunning(); }, 10000);
    QObject::disconnect(c);
    return ok;
}

}  // namespace uitest
