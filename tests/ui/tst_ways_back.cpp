// Every way back to step 1, driven through the whole program as it starts
// (CTarnwickApp::InitInstance inside the application's own event loop):
// once the dialog that led back has closed and its loop has unwound, the
// program is still running with step 1 on screen. It ends only when step 1
// is left with Quit.
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/analysis_run.h"
#include "ui/disk_selection.h"
#include "ui/folder_tree.h"
#include "ui/last_saving_dialog.h"
#include "ui/repair_recover.h"
#include "ui/settings.h"
#include "ui/tarnwick_app.h"
#include "ui/ui_texts.h"
#include "ui_test_support.h"

using bmui::Text;
using uitest::BoxCatcher;
using uitest::TestWizard;
namespace fs = std::filesystem;

namespace {

constexpr int kRunTimeoutMs = 120000;

struct WayBack {
    bool pageOpened = false;       // the way away from step 1 was taken
    bool backOnStep1 = false;      // after the loops unwound: step 1 shown, on top
    int exitsBeforeQuit = -1;      // exit requests before Quit was chosen
    int initResult = -1;           // what the program returned after Quit
};

bmui::DiskSelection* ShownStep1() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* step1 = qobject_cast<bmui::DiskSelection*>(w); step1 != nullptr && step1->isVisible()) return step1;
    return nullptr;
}

// Runs the program; `away` leaves step 1 (it returns once the page it
// opened has closed). Then, from step 1's own loop, the program must still
// be running with step 1 shown; Quit ends it.
WayBack RunWayBack(TestWizard& wizard, const std::function<void(bmui::DiskSelection&, WayBack&)>& away) {
    bmui::CTarnwickApp app(wizard.services, wizard.dir() / "brightmend.conf", BRIGHTMEND_BIN_DIR "/libvestrel.so");
    WayBack seen;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            QPointer<bmui::DiskSelection> step1 = ShownStep1();
            if (step1 == nullptr) return;
            away(*step1, seen);
            // Back in step 1's loop once this handler returns: a program that
            // ended meanwhile destroys step 1, and this never runs.
            QTimer::singleShot(0, step1, [&, step1] {
                seen.backOnStep1 = QTest::qWaitFor(
                    [&] { return step1->isVisible() && QApplication::activeModalWidget() == step1; }, kRunTimeoutMs);
                seen.exitsBeforeQuit = wizard.services.exitRequests;
                wizard.services.answers = {true};
                step1->ExitRequested();
            });
        });
        seen.initResult = app.InitInstance();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    return seen;
}

// Opens the analysis page over `store` and runs `drive` on it from its own
// loop once its analysis has ended (or the page has closed).
void ConvertAndThen(bmui::DiskSelection& step1, const fs::path& store, WayBack& seen,
                    const std::function<void(bmui::Repair_Recover&)>& drive) {
    const QMetaObject::Connection opened =
        QObject::connect(&step1, &bmui::DiskSelection::analysisPageOpened, &step1, [&](bmui::Repair_Recover* page) {
            seen.pageOpened = true;
            QTimer::singleShot(0, page, [page, drive] {
                if (QTest::qWaitFor([page] { return page->analysisFinished() || !page->isVisible(); }, kRunTimeoutMs))
                    drive(*page);
                if (page->isVisible()) page->done(0);
            });
        });
    step1.ChooseSource(QString::fromStdString(store.string()));
    step1.Convert();
    QObject::disconnect(opened);
}

}  // namespace

class WaysBackTest : public QObject {
    Q_OBJECT
private slots:
    void everyWayBackLeavesTheProgramOnStep1_data() {
        QTest::addColumn<QString>("way");
        for (const char* way : {"back-yes", "completion-ok", "highly-corrupted-ok", "in-use-ok", "search-back"})
            QTest::newRow(way) << QString::fromLatin1(way);
    }

    void everyWayBackLeavesTheProgramOnStep1() {
        QFETCH(QString, way);
        UITEST_REQUIRE_DEMO_STORE(demo);
        TestWizard wizard;
        // The desktop's own message boxes, answered by the buttons a user
        // presses: OK, and Yes to the questions.
        wizard.services.realBoxes = true;
        BoxCatcher catcher(QMessageBox::Yes);
        const fs::path store = wizard.dir() / "outlook.ost";
        fs::copy_file(demo, store);
        int lock = -1;
        bool completionOk = false;
        const WayBack seen = RunWayBack(wizard, [&](bmui::DiskSelection& step1, WayBack& s) {
            if (way == QLatin1String("back-yes")) {
                ConvertAndThen(step1, store, s, [](bmui::Repair_Recover& page) { page.backButton()->click(); });
            } else if (way == QLatin1String("completion-ok")) {
                wizard.services.folder = QString::fromStdString(wizard.dir().string());
                ConvertAndThen(step1, store, s, [&](bmui::Repair_Recover& page) {
                    page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
                    QObject::connect(&page, &bmui::Repair_Recover::savingCompletionOpened, &page,
                                     [&](bmui::Last_Saving_Dialog* d) {
                                         QTimer::singleShot(0, d, [&, d] {
                                             completionOk = true;
                                             d->okButton()->click();
                                         });
                                     });
                    bool done = false;
                    QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page, [&done] { done = true; });
                    page.Save();
                    // The saving dialogs run from here; the page closes by itself.
                    QVERIFY(QTest::qWaitFor([&] { return done; }, kRunTimeoutMs));
                });
            } else if (way == QLatin1String("highly-corrupted-ok")) {
                const fs::path broken = wizard.dir() / "BROKEN.OST";
                std::ofstream(broken) << std::string(70000, 'x');
                ConvertAndThen(step1, broken, s, [](bmui::Repair_Recover&) {});
            } else if (way == QLatin1String("in-use-ok")) {
                lock = ::open(store.c_str(), O_RDONLY);
                ::flock(lock, LOCK_EX | LOCK_NB);
                ConvertAndThen(step1, store, s, [](bmui::Repair_Recover&) {});
            } else {
                QObject::connect(&step1, &bmui::DiskSelection::searchPageOpened, &step1, [&](bmui::Settings* search) {
                    s.pageOpened = true;
                    QTimer::singleShot(0, search, [search] { search->backButton()->click(); });
                });
                step1.Search();
            }
        });
        if (lock >= 0) ::close(lock);
        QVERIFY(seen.pageOpened);
        QVERIFY(seen.backOnStep1);
        QCOMPARE(seen.exitsBeforeQuit, 0);
        QCOMPARE(seen.initResult, 0);
        QCOMPARE(wizard.services.exitRequests, 1);
        QVERIFY(catcher.Find(Text(bmui::kExitQuestion)) != nullptr);
        if (way == QLatin1String("back-yes")) QVERIFY(catcher.Find(Text(bmui::kPreviousStepQuestion)) != nullptr);
        if (way == QLatin1String("completion-ok")) QVERIFY(completionOk);
        if (way == QLatin1String("highly-corrupted-ok"))
            QVERIFY(catcher.Find(Text(bm::kFileHighlyCorrupted)) != nullptr ||
                    catcher.Find(Text(bm::kCannotSearchPersonalFolder)) != nullptr);
        if (way == QLatin1String("in-use-ok")) QVERIFY(catcher.Find(Text(bm::kSourceFileInUse)) != nullptr);
    }
};

QTEST_MAIN(WaysBackTest)
#include "tst_ways_back.moc"
