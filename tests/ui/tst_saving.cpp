// Saving from the wizard: folders checked in the tree, Save with a chosen
// directory, the status dialog while the run writes, the completion dialog,
// and the written store checked and read again. Also Stop and exit while the
// run writes: the output store is closed properly and never reported as
// complete.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/analysis_run.h"
#include "engine/journal_request.h"
#include "engine/log_texts.h"
#include "engine/save_journal.h"
#include "engine/saving_request.h"
#include "engine/saving_run.h"
#include "engine/saving_selection.h"
#include "engine/store_listing.h"
#include "engine/engine_test_helpers.h"
#include "check/store_checker.h"
#include "store/nid_types.h"
#include "ui/folder_tree.h"
#include "ui/last_saving_dialog.h"
#include "ui/list_pst_file.h"
#include "ui/repair_recover.h"
#include "ui/saving_bridge.h"
#include "ui/step_picture.h"
#include "ui/ui_texts.h"
#include "ui_test_support.h"

using bmui::Text;
using uitest::ConvertAndDrive;
using uitest::TestWizard;
namespace fs = std::filesystem;

using uitest::kSavingTimeoutMs;

namespace {

// Items per folder path of `store`, each folder read whole by the store
// listing (independent of the analysis and its lists). A folder's associated
// items (views, rules, settings) are no mail: the analysis does not count
// them, and they are saved into the folder's associated contents.
class FolderItemCounter : public bm::StoreListingVisitor {
public:
    void OnFolderBegin(const bm::ListedFolder& folder) override { current_ = &counts[folder.path]; }
    void OnItem(std::uint32_t nid, const bm::ItemRecord&) override {
        if (!bm::IsAssociatedMessageNid(nid)) ++*current_;
    }
    void OnUnreadableItem(std::uint32_t) override { ++unreadable; }

    std::map<std::string, int> counts;
    int unreadable = 0;

private:
    int* current_ = nullptr;
};

std::map<std::string, int> ItemsPerFolder(const fs::path& store) {
    FolderItemCounter counter;
    bm::StoreReader reader;
    const bm::StoreListing listing = bm::ListStoreContents(store, counter, reader);
    if (listing.result != bm::StoreListingResult::Listed || counter.unreadable != 0) return {};
    return counter.counts;
}

// The items of the selected folders.
std::map<std::string, int> SelectedItems(const std::map<std::string, int>& items, const bm::SelectedFolders& selected) {
    std::map<std::string, int> out;
    for (const auto& [path, count] : items)
        if (selected.IsSelected(path) && count > 0) out[path] = count;
    return out;
}

int Total(const std::map<std::string, int>& counts) {
    int n = 0;
    for (const auto& [path, count] : counts) n += count;
    return n;
}

// Every finding of the checker as a test failure; whether the store is sound.
bool StoreIsClean(const fs::path& store) {
    const bm::CheckReport report = bm::CheckStore(store);
    for (const bm::Finding& f : report.findings) qWarning("%s", bm::FormatFinding(f).c_str());
    return report.ok();
}

// A save of every folder of `store` into `output`, as a run of the command
// line would make it, killed (SIGKILL) half-way in a child process: it
// leaves its ".partial" store and its journal. False when it was not killed.
bool SaveCutOffHalfWay(const fs::path& store, const fs::path& output, const fs::path& appDir) {
    const pid_t child = ::fork();
    if (child == 0) {
        class Quiet : public bm::AnalysisObserver {} quiet;
        bm::AnalysisRun analysis(quiet, nullptr, appDir);
        bm::AnalysisSource what;
        what.sourcePath = store.string();
        analysis.AnalyzeStore(what);
        bm::SavingRequest request;
        request.sourcePath = store.string();
        request.all = true;
        request.outputFile = output;
        request.destination = output.parent_path();
        auto made = bm::SavingSourceFor(request, analysis);
        if (!std::holds_alternative<bm::SavingSource>(made)) ::_exit(2);
        bm::SavingSource source = std::get<bm::SavingSource>(std::move(made));
        bm::JournalRequest kept;
        kept.store = store.string();
        kept.all = true;
        source.journalRequest = bm::JournalRequestText(kept);
        // Killed once half of the nodes are read, the store being written.
        class KillHalfWay : public bm::SavingObserver {
        public:
            void OnProgressRange(std::int32_t maximum) override { half_ = maximum / 2; }
            void OnProgressPosition(std::int32_t position) override {
                if (half_ > 0 && position >= half_) ::raise(SIGKILL);
            }

        private:
            std::int32_t half_ = 0;
        } observer;
        bm::SavingRun run(observer, nullptr);
        run.SaveStore(source);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// What the saving dialogs showed.
struct SavingSeen {
    bool statusOpened = false;
    bool barHiddenAtFirst = false;
    bool inProgressShownAtFirst = false;
    QString statusTitle;
    QString folderWhileHeld;
    QString destinationWhileHeld;
    bool barWhileHeld = false;
    int barValueWhileHeld = -1;
    int barMaximumWhileHeld = -1;
    QString barTextWhileHeld;
    int statusTotal = -1;
    int stepWhileSaving = -1;
    bool completionOpened = false;
    QString result;
    QMessageBox::Icon resultIcon = QMessageBox::NoIcon;
    QString account;
    QString stores;
    QString inboxCount;
    std::vector<fs::path> outputStores;
    int outcome = -1;
};

// Records both dialogs; the completion dialog is left with OK, "View Log
// File" checked.
void WatchSavingDialogs(bmui::Repair_Recover& page, SavingSeen& seen,
                        const std::function<void(bmui::ListPSTFile&)>& duringStatus = {}) {
    QObject::connect(&page, &bmui::Repair_Recover::savingStatusOpened, &page, [&seen, duringStatus](bmui::ListPSTFile* d) {
        seen.statusOpened = true;
        seen.statusTitle = d->windowTitle();
        seen.barHiddenAtFirst = !d->activityBar()->isVisibleTo(d);
        seen.inProgressShownAtFirst = d->progressLabel()->isVisibleTo(d) &&
                                      d->progressLabel()->text() == QStringLiteral("Saving Process in Progress...");
        if (duringStatus) QTimer::singleShot(0, d, [d, duringStatus] { duringStatus(*d); });
    });
    QObject::connect(&page, &bmui::Repair_Recover::savingCompletionOpened, &page,
                     [&seen, &page](bmui::Last_Saving_Dialog* d) {
                         seen.completionOpened = true;
                         seen.result = d->resultLabel()->text();
                         seen.resultIcon = d->resultIcon();
                         seen.account = d->accountLabel()->text();
                         seen.stores = d->storesLabel()->text();
                         seen.inboxCount = d->countLabel(bm::WellKnownCategory::Inbox)->text();
                         seen.outputStores = page.savingRun().outputStores();
                         QTimer::singleShot(0, d, [d] {
                             uitest::Snap(d, "6-completed");
                             d->viewLogBox()->setChecked(true);
                             d->okButton()->click();
                         });
                     });
    QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page, [&seen](int outcome) { seen.outcome = outcome; });
}

// Holds the run on its worker thread once it has read `position` nodes.
class HoldAt {
public:
    HoldAt(bmui::Repair_Recover& page, int position) {
        QObject::connect(page.savingBridge(), &bmui::SavingBridge::positionReached, page.savingBridge(),
                         [this, &page, position](int at) {
                             if (at != position) return;
                             page.savingRun().Pause();
                             held_.store(true);
                         },
                         Qt::DirectConnection);
    }
    bool held() const { return held_.load(); }

private:
    std::atomic<bool> held_{false};
};

}  // namespace

class SavingTest : public QObject {
    Q_OBJECT
private slots:
    void checkedFoldersAreSavedIntoACleanStoreWithTheirMail_data() {
        QTest::addColumn<QString>("storeName");
        QTest::newRow("demo") << QString();
        QTest::newRow("unicode-sample") << QStringLiteral("unicode-sample.ost");
    }

    void checkedFoldersAreSavedIntoACleanStoreWithTheirMail() {
        QFETCH(QString, storeName);
        const bool demo = storeName.isEmpty();
        const fs::path store = demo ? uitest::DemoStore() : uitest::SharedStore(storeName.toUtf8().constData());
        if (store.empty()) QSKIP("store absent");
        TestWizard wizard;
        const fs::path target = wizard.dir() / "out";
        fs::create_directories(target);
        SavingSeen seen;
        bm::SelectedFolders selected;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            for (const char* path : {"Personal Folders\\Inbox\\", "Personal Folders\\Sent Items\\"})
                if (QTreeWidgetItem* item = page.tree()->ItemOf(path); item != nullptr) item->setCheckState(0, Qt::Checked);
            if (demo) uitest::Snap(&page, "3-folders-checked");
            // Held halfway through the demo store, the status shows the
            // folder being written and the output store, with the activity
            // bar instead of the notice.
            auto hold = demo ? std::make_shared<HoldAt>(page, 60) : nullptr;
            if (demo) WatchSavingDialogs(page, seen, [&, hold](bmui::ListPSTFile& status) {
                QTRY_VERIFY_WITH_TIMEOUT(hold->held(), kSavingTimeoutMs);
                status.RefreshStatus();
                seen.folderWhileHeld = status.folderValue()->text();
                seen.destinationWhileHeld = status.destinationValue()->text();
                seen.barWhileHeld = status.activityBar()->isVisibleTo(&status) &&
                                    !status.progressLabel()->isVisibleTo(&status);
                seen.barValueWhileHeld = status.activityBar()->value();
                seen.barMaximumWhileHeld = status.activityBar()->maximum();
                seen.barTextWhileHeld = status.activityBar()->text();
                seen.statusTotal = page.savingRun().status().Snapshot().savingTotal;
                seen.stepWhileSaving = page.stepPicture()->step();
                QTest::qWait(50);  // the dialog widens to the path before the picture
                uitest::Snap(&status, "5-saving");
                page.savingRun().Resume();
            });
            else WatchSavingDialogs(page, seen);
            wizard.services.folder = QString::fromStdString(target.string() + "/");
            page.Save();
            QVERIFY(page.savingStarted());
            QVERIFY(!page.saveButton()->isEnabled());
            QVERIFY(!page.backButton()->isEnabled());
            selected = page.selectedFolders();
            QTRY_VERIFY_WITH_TIMEOUT(seen.outcome >= 0, kSavingTimeoutMs);
        });
        QVERIFY(seen.statusOpened);
        QCOMPARE(seen.statusTitle, QStringLiteral("Brightmend"));
        QVERIFY(seen.barHiddenAtFirst);
        QVERIFY(seen.inProgressShownAtFirst);
        const std::map<std::string, int> sourceItems = SelectedItems(ItemsPerFolder(store), selected);
        if (demo) {
            QVERIFY(seen.barWhileHeld);
            QCOMPARE(seen.stepWhileSaving, 3);  // the step indicator is on "Save"
            // Determinate: held after the 60th item read, of all the walk reads.
            QCOMPARE(seen.barValueWhileHeld, 60);
            QVERIFY(seen.statusTotal > 60);
            QCOMPARE(seen.barMaximumWhileHeld, seen.statusTotal);
            QCOMPARE(seen.barTextWhileHeld, QStringLiteral("60 of %1 items read").arg(seen.statusTotal));
            QVERIFY2(sourceItems.count(seen.folderWhileHeld.toStdString()) == 1, qPrintable(seen.folderWhileHeld));
        }
        QVERIFY(seen.completionOpened);
        QCOMPARE(seen.outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
        QCOMPARE(seen.result, QStringLiteral("Saving Completed Sucessfully"));
        QCOMPARE(seen.resultIcon, QMessageBox::Information);
        // The completion's OK goes back to step 1 (the application goes on),
        // after the log was opened.
        QCOMPARE(wizard.services.exitRequests, 0);
        QVERIFY(!wizard.services.opened.empty() && wizard.services.opened.back().endsWith(QStringLiteral("Activity Log.txt")));

        QCOMPARE(seen.outputStores.size(), std::size_t{1});
        const fs::path output = seen.outputStores[0];
        QCOMPARE(output.parent_path(), target / "Repair");
        QVERIFY(seen.stores.contains(QString::fromStdString(output.string())));
        if (demo) QCOMPARE(seen.destinationWhileHeld, QString::fromStdString(output.string()));
        QVERIFY(StoreIsClean(output));

        // Read again: the selected folders' items, folder by folder, and
        // nothing else.
        QVERIFY(Total(sourceItems) > (demo ? 100 : 0));  // the demo: Inbox and its subfolders, Sent Items
        const std::map<std::string, int> savedItems = SelectedItems(ItemsPerFolder(output), selected);
        QCOMPARE(Total(ItemsPerFolder(output)), Total(sourceItems));
        for (const auto& [path, count] : sourceItems) {
            QVERIFY2(savedItems.count(path) == 1, path.c_str());
            QCOMPARE(savedItems.at(path), count);
        }
        int inboxMail = 0;
        for (const auto& [path, count] : sourceItems)
            if (path.starts_with("Personal Folders\\Inbox\\")) inboxMail += count;
        QCOMPARE(seen.inboxCount, QString::number(inboxMail));

        const QString log = wizard.ReadLog();
        QVERIFY(log.contains(Text(bm::kLogSavingStart)));
        QVERIFY(log.contains(QStringLiteral("Target Path: ") + QString::fromStdString((target / "Repair").string())));
        QVERIFY(log.trimmed().endsWith(Text(bm::kLogSavingCompleted)));
    }

    void stopWhileSavingEndsAbortedWithAClosedPartialStore() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        SavingSeen seen;
        bool stopAskedTwice = false;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            page.tree()->ItemOf("Personal Folders\\")->setCheckState(0, Qt::Checked);
            auto hold = std::make_shared<HoldAt>(page, 120);
            WatchSavingDialogs(page, seen, [&, hold](bmui::ListPSTFile& status) {
                QTRY_VERIFY_WITH_TIMEOUT(hold->held(), kSavingTimeoutMs);
                // No leaves the run as it was.
                wizard.services.answers = {false};
                status.Stop();
                QVERIFY(!page.savingRun().reader().stopSaving.load());
                QCOMPARE(page.savingRun().reader().pauseGate.count(), 1);
                // Yes: the run stops after the item it writes, once let go.
                wizard.services.answers = {true};
                status.Stop();
                QVERIFY(page.savingRun().reader().stopSaving.load());
                QVERIFY(!status.stopButton()->isEnabled());
                status.Stop();  // asked once only
                stopAskedTwice = wizard.services.asked.size() == 2;
                page.savingRun().Resume();
            });
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            page.Save();
            QTRY_VERIFY_WITH_TIMEOUT(seen.outcome >= 0, kSavingTimeoutMs);
        });
        QVERIFY(stopAskedTwice);
        QCOMPARE(wizard.services.asked.front(), QStringLiteral("Do you want to stop Saving ?"));
        QCOMPARE(seen.outcome, static_cast<int>(bm::AnalysisOutcome::Aborted));
        QCOMPARE(seen.result, QStringLiteral("Saving aborted"));
        QVERIFY(seen.stores.contains(Text(bmui::kPartialStoreNote)));
        // The account says how many items the stopped run did not reach
        // (all it did reach were saved), and warns.
        const int all = Total(ItemsPerFolder(store));
        const int saved = Total(ItemsPerFolder(seen.outputStores.at(0)));
        QVERIFY2(seen.account == QStringLiteral("Items saved: %1; not reached before the stop: %2").arg(saved).arg(all - saved),
                 qPrintable(seen.account));
        QCOMPARE(seen.resultIcon, QMessageBox::Warning);
        QVERIFY(wizard.ReadLog().trimmed().endsWith(Text(bm::kLogSavingAborted)));

        // The store was closed properly and holds part of the selection.
        QCOMPARE(seen.outputStores.size(), std::size_t{1});
        QVERIFY(StoreIsClean(seen.outputStores[0]));
        QVERIFY2(saved > 0 && saved < all, qPrintable(QStringLiteral("%1 of %2").arg(saved).arg(all)));
    }

    void theSaveDialogOffersTheDefaultNameAndTakesAnother() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        SavingSeen seen;
        bool cancelledStartsNothing = false;
        const fs::path chosen = wizard.dir() / "My recovery.pst";
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            page.tree()->ItemOf("Personal Folders\\")->setCheckState(0, Qt::Checked);
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            // Cancel in the save dialog: no run starts.
            wizard.services.saveFile = QStringLiteral("-");
            page.Save();
            cancelledStartsNothing = !page.savingStarted();
            // Another name: the store is written under it.
            WatchSavingDialogs(page, seen);
            wizard.services.saveFile = QString::fromStdString(chosen.string());
            page.Save();
            QTRY_VERIFY_WITH_TIMEOUT(seen.outcome >= 0, kSavingTimeoutMs);
        });
        QVERIFY(cancelledStartsNothing);
        QCOMPARE(wizard.services.offeredSaveFiles.size(), std::size_t{2});
        // The offer is the default name in the destination's Repair folder:
        // the source's stem, the time, ".pst".
        const fs::path offered = wizard.services.offeredSaveFiles.front().toStdString();
        QCOMPARE(offered.parent_path(), bm::MakeSaveDestination(wizard.dir().string()));
        QVERIFY2(offered.filename().string().rfind(store.stem().string(), 0) == 0, offered.c_str());
        QCOMPARE(offered.extension().string(), std::string(".pst"));
        QCOMPARE(seen.outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
        QCOMPARE(seen.outputStores.size(), std::size_t{1});
        QCOMPARE(seen.outputStores[0], chosen);
        QVERIFY(StoreIsClean(chosen));
    }

    void aSaveCutOffInTheDestinationGoesOnWhenAskedOrANewStoreStartsBesideIt() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        const fs::path repair = bm::MakeSaveDestination(wizard.dir().string());
        fs::create_directories(repair);
        const fs::path cut = repair / "cut off.pst";
        QVERIFY(SaveCutOffHalfWay(store, cut, wizard.appDir()));
        QVERIFY(fs::exists(bm::JournalPath(cut)));
        QVERIFY(fs::exists(cut.string() + ".partial"));

        // No: a new store beside it, the cut-off save left as it is.
        // Yes: the same save goes on into its own store.
        SavingSeen fresh;
        SavingSeen resumed;
        fs::path resumedReport;
        for (const bool yes : {false, true}) {
            SavingSeen& seen = yes ? resumed : fresh;
            wizard.services.answers = {yes};
            ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
                QVERIFY(page.analysisFinished());
                page.tree()->ItemOf("Personal Folders\\")->setCheckState(0, Qt::Checked);
                wizard.services.folder = QString::fromStdString(wizard.dir().string());
                WatchSavingDialogs(page, seen);
                if (yes)
                    QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page,
                                     [&] { resumedReport = page.savingRun().reportText(); });
                page.Save();
                QTRY_VERIFY_WITH_TIMEOUT(seen.outcome >= 0, kSavingTimeoutMs);
            });
            QCOMPARE(seen.outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
            QCOMPARE(seen.outputStores.size(), std::size_t{1});
            QVERIFY(StoreIsClean(seen.outputStores[0]));
        }
        // Each time the question named the store that was cut off.
        QCOMPARE(wizard.services.asked.size(), std::size_t{2});
        for (const QString& question : wizard.services.asked)
            QVERIFY2(question.contains(QStringLiteral("cut off.pst")), qPrintable(question));
        // No asked for a name and made a new store; Yes asked for none.
        QCOMPARE(wizard.services.offeredSaveFiles.size(), std::size_t{1});
        QVERIFY(fresh.outputStores[0] != cut);
        QCOMPARE(resumed.outputStores[0], cut);
        QVERIFY(!fs::exists(cut.string() + ".partial"));
        QVERIFY(!fs::exists(bm::JournalPath(cut)));
        // The save that went on holds what a whole save holds.
        const std::map<std::string, int> whole = ItemsPerFolder(fresh.outputStores[0]);
        QVERIFY(Total(whole) > 0);
        QVERIFY(ItemsPerFolder(cut) == whole);
        QCOMPARE(resumed.account, fresh.account);
        QVERIFY(!resumedReport.empty());
        QVERIFY(bmtest::ReadTextFile(resumedReport).find("Resumed:") != std::string::npos);
        // The store made after a No keeps a journal of its own only while
        // it is written: nothing is left to go on with.
        QVERIFY(!bm::UnfinishedSaveOf(repair, store));
    }

    void theSaveDialogOpensInTheNewRepairFolderAndAnUnwritableOneIsRefused() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        const fs::path fresh = wizard.dir() / "fresh";  // no Repair in it yet
        fs::create_directories(fresh);
        QString startedIn;
        bool offeredName = false;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
            // The desktop's save dialog, seen while it is open and cancelled.
            wizard.services.realSaveDialog = true;
            wizard.services.folder = QString::fromStdString(fresh.string());
            QTimer poll;
            poll.setInterval(10);
            QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (dialog == nullptr || !dialog->isVisible()) return;
                poll.stop();
                startedIn = dialog->directory().absolutePath();
                const QStringList chosen = dialog->selectedFiles();
                offeredName = !chosen.isEmpty() && QFileInfo(chosen.first()).fileName().endsWith(QStringLiteral(".pst"));
                dialog->reject();
            });
            poll.start();
            page.Save();
            QVERIFY(!page.savingStarted());
            // A destination that cannot be written is refused before any
            // dialog, with the reason.
            wizard.services.realSaveDialog = false;
            const std::size_t offered = wizard.services.offeredSaveFiles.size();
            wizard.services.folder = QStringLiteral("/sys");
            page.Save();
            QVERIFY(!page.savingStarted());
            QCOMPARE(wizard.services.offeredSaveFiles.size(), offered);
            QVERIFY(!wizard.services.shown.empty());
            QCOMPARE(wizard.services.shown.back().kind, bmui::BoxKind::Stop);
            QVERIFY2(wizard.services.shown.back().text.startsWith(
                         QStringLiteral("The new store cannot be written into /sys/Repair: ")),
                     qPrintable(wizard.services.shown.back().text));
            wizard.services.answers = {true};
            page.Back();
        });
        QCOMPARE(startedIn, QString::fromStdString((fresh / "Repair").string()));
        QVERIFY(offeredName);
    }

    void theBarSaysTheNewStoreIsCheckedOnceEveryItemIsRead() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        SavingSeen seen;
        QString barText;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
            // Held once the walk has read its last node, before the new
            // store is finished and checked.
            std::atomic<bool> held{false};
            QObject::connect(page.savingBridge(), &bmui::SavingBridge::positionReached, page.savingBridge(),
                             [&](int at) {
                                 const int total = page.savingRun().status().Snapshot().savingTotal;
                                 if (total > 0 && at >= total && !held.exchange(true)) page.savingRun().Pause();
                             },
                             Qt::DirectConnection);
            WatchSavingDialogs(page, seen, [&](bmui::ListPSTFile& status) {
                QTRY_VERIFY_WITH_TIMEOUT(held.load(), kSavingTimeoutMs);
                status.RefreshStatus();
                barText = status.activityBar()->text();
                page.savingRun().Resume();
            });
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            page.Save();
            QTRY_VERIFY_WITH_TIMEOUT(seen.outcome >= 0, kSavingTimeoutMs);
        });
        QCOMPARE(barText, QStringLiteral("Checking the new store\u2026"));
        QCOMPARE(seen.outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
    }

    void exitWhileSavingClosesTheOutputStoreBeforeTheEnd() {
        UITEST_REQUIRE_DEMO_STORE(store);
        TestWizard wizard;
        SavingSeen seen;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            page.tree()->ItemOf("Personal Folders\\")->setCheckState(0, Qt::Checked);
            auto hold = std::make_shared<HoldAt>(page, 120);
            WatchSavingDialogs(page, seen, [&, hold](bmui::ListPSTFile&) {
                QTRY_VERIFY_WITH_TIMEOUT(hold->held(), kSavingTimeoutMs);
                wizard.services.answers = {true};
                page.ExitRequested();  // the run is still held: exit lets it go
                QVERIFY(!page.savingRun().running());
                seen.outputStores = page.savingRun().outputStores();
            });
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            page.Save();
            QTRY_VERIFY_WITH_TIMEOUT(seen.outcome >= 0, kSavingTimeoutMs);
        });
        QCOMPARE(wizard.services.exitRequests, 1);
        QCOMPARE(seen.outcome, static_cast<int>(bm::AnalysisOutcome::Aborted));
        QVERIFY(!seen.completionOpened);
        QCOMPARE(seen.outputStores.size(), std::size_t{1});
        QVERIFY(StoreIsClean(seen.outputStores[0]));
        QVERIFY(wizard.ReadLog().trimmed().endsWith(Text(bm::kLogSavingAborted)));
    }

    void anUnreadableStoreAtSaveReturnsToThePageWithTheMessage() {
        UITEST_REQUIRE_DEMO_STORE(source);
        TestWizard wizard;
        const fs::path store = wizard.dir() / "copy.ost";
        fs::copy_file(source, store);
        SavingSeen seen;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
            WatchSavingDialogs(page, seen);
            fs::remove(store);  // gone between the analysis and the saving
            wizard.services.folder = QString::fromStdString(wizard.dir().string());
            page.Save();
            QTRY_VERIFY_WITH_TIMEOUT(seen.outcome >= 0, kSavingTimeoutMs);
            QCOMPARE(seen.outcome, static_cast<int>(bm::AnalysisOutcome::Failed));
            QVERIFY(page.isVisible());
            QVERIFY(page.saveButton()->isEnabled());
            QVERIFY(page.backButton()->isEnabled());
            wizard.services.answers = {true};
            page.Back();
        });
        QVERIFY(wizard.services.WasShown(Text(bm::kCannotReadStore)));
        QVERIFY(!seen.completionOpened);
        QCOMPARE(wizard.services.exitRequests, 0);
    }
};

QTEST_MAIN(SavingTest)
#include "tst_saving.moc"
