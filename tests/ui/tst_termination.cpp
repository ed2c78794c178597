// The process asked to end (SIGTERM) while a saving run writes: the event
// loops quit, the run stops after its item and closes the output store,
// and the application ends without a completion dialog. A program of its
// own: once the loops have quit, no later dialog could run.
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <csignal>
#include <filesystem>

#include "engine/log_texts.h"
#include "engine/saving_run.h"
#include "check/store_checker.h"
#include "ui/folder_tree.h"
#include "ui/last_saving_dialog.h"
#include "ui/list_pst_file.h"
#include "ui/repair_recover.h"
#include "ui/saving_bridge.h"
#include "ui/termination_watcher.h"
#include "ui/ui_texts.h"
#include "ui_test_support.h"

namespace fs = std::filesystem;

class TerminationTest : public QObject {
    Q_OBJECT
private slots:
    void terminationWhileSavingClosesTheOutputStoreFirst() {
        UITEST_REQUIRE_DEMO_STORE(store);
        uitest::TestWizard wizard;
        bmui::TerminationWatcher watcher;
        QVERIFY(watcher.active());
        QVERIFY(!bmui::TerminationWatcher().active());  // one at a time
        QSignalSpy asked(&watcher, &bmui::TerminationWatcher::terminationRequested);
        std::atomic<bool> held{false};
        int outcome = -1;
        bool completionShown = false;
        std::vector<fs::path> outputs;
        uitest::ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            page.tree()->ItemOf("Personal Folders\\")->setCheckState(0, Qt::Checked);
            QObject::connect(page.savingBridge(), &bmui::SavingBridge::positionReached, page.savingBridge(),
                             [&](int at) {
                                 if (at != 120) return;
                                 page.savingRun().Pause();
                                 held.store(true);
                             },
                             Qt::DirectConnection);
            QObject::connect(&page, &bmui::Repair_Recover::savingStatusOpened, &page, [&](bmui::ListPSTFile* status) {
                QTimer::singleShot(0, status, [&] {
                    QTRY_VERIFY_WITH_TIMEOUT(held.load(), 60000);
                    ::raise(SIGTERM);  // the run is still held
                });
            });
            QObject::connect(&page, &bmui::Repair_Recover::savingCompletionOpened, &page,
                             [&](bmui::Last_Saving_Dialog*) { completionShown = true; });
            QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page, [&](int o) {
                outcome = o;
                outputs = page.savingRun().outputStores();
            });
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            page.Save();
            QTRY_VERIFY_WITH_TIMEOUT(outcome >= 0, 60000);
        });
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.first().at(0).toInt(), SIGTERM);
        QCOMPARE(outcome, static_cast<int>(bm::AnalysisOutcome::Aborted));
        QVERIFY(!completionShown);
        QCOMPARE(wizard.services.exitRequests, 1);
        QCOMPARE(outputs.size(), std::size_t{1});
        QVERIFY(bm::CheckStore(outputs[0]).ok());
        QVERIFY(wizard.ReadLog().trimmed().endsWith(bmui::Text(bm::kLogSavingAborted)));
    }
};

QTEST_MAIN(TerminationTest)
#include "tst_termination.moc"
