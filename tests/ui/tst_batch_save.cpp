// "Save All Found" on the search page, driven from step 1: every store the
// search lists is saved in turn into the saving path's Repair folder with
// all its folders; a file that is no store is reported with its reason and
// the others are still saved; Stop ends the store at hand and starts no
// other. The closing box says what became of each store in the saving
// run's own words.
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "check/store_checker.h"
#include "engine/analysis_run.h"
#include "engine/saving_run.h"
#include "engine/store_listing.h"
#include "store/nid_types.h"
#include "ui/batch_progress_dialog.h"
#include "ui/batch_save.h"
#include "ui/disk_selection.h"
#include "ui/saving_bridge.h"
#include "ui/settings.h"
#include "ui/ui_texts.h"
#include "ui_test_support.h"

using bmui::Text;
using uitest::TestWizard;
namespace fs = std::filesystem;

namespace {

// The items of a store's mail folders (associated items left aside), each
// read whole by the store listing, independent of the runs.
class ItemCounter : public bm::StoreListingVisitor {
public:
    void OnFolderBegin(const bm::ListedFolder&) override {}
    void OnItem(std::uint32_t nid, const bm::ItemRecord&) override {
        if (!bm::IsAssociatedMessageNid(nid)) ++items;
    }
    void OnUnreadableItem(std::uint32_t) override { ++unreadable; }
    int items = 0;
    int unreadable = 0;
};

// -1 when the store cannot be listed whole.
int ItemsIn(const fs::path& store) {
    ItemCounter counter;
    bm::StoreReader reader;
    if (bm::ListStoreContents(store, counter, reader).result != bm::StoreListingResult::Listed ||
        counter.unreadable != 0)
        return -1;
    return counter.items;
}

// The paths after "Saved to: " in the closing box.
std::vector<fs::path> SavedTo(const QString& text) {
    std::vector<fs::path> out;
    const QString prefix = Text(bmui::kBatchOutputLine).arg(QString());
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (line.startsWith(prefix)) out.emplace_back(line.mid(prefix.size()).toStdString());
    return out;
}

QString Entry(const QString& store, const QString& outcome) {
    return Text(bmui::kBatchEntryFormat).arg(store, outcome);
}

// Opens the search page from step 1 over `folder`, finds its stores, and
// runs `drive` on the page and its list; the page is left by Back.
void SearchAndDrive(TestWizard& wizard, const fs::path& folder,
                    const std::function<void(bmui::Settings&, const QStringList&)>& drive) {
    bmui::DiskSelection step1(*wizard.context);
    QObject::connect(&step1, &bmui::DiskSelection::searchPageOpened, &step1, [&](bmui::Settings* search) {
        QTimer::singleShot(0, search, [&, search] {
            QVERIFY(!search->saveAllButton()->isEnabled());  // nothing listed yet
            wizard.services.folder = QString::fromStdString(folder.string());
            search->browseButton()->click();
            search->findButton()->click();
            QTRY_VERIFY(!search->searching() && search->resultList()->topLevelItemCount() > 0);
            QStringList listed;
            for (int row = 0; row < search->resultList()->topLevelItemCount(); ++row)
                listed << search->resultList()->topLevelItem(row)->text(1);
            drive(*search, listed);
            search->backButton()->click();
        });
    });
    step1.Search();
}

}  // namespace

class BatchSaveTest : public QObject {
    Q_OBJECT
private slots:
    void everyFoundStoreIsSavedWholeAndOneThatIsNoStoreIsReported() {
        UITEST_REQUIRE_DEMO_STORE(demo);
        TestWizard wizard;
        const fs::path team = wizard.dir() / "team";
        fs::create_directories(team / "bob");
        fs::copy_file(demo, team / "alice.ost");
        fs::copy_file(demo, team / "bob" / "outlook.ost");
        // Listed between the two stores (subfolders first, then by name), so
        // that the store after it shows the run went on.
        std::ofstream(team / "agenda.ost") << "Agenda of the Monday meeting; no mail store at all.\n";

        QStringList listed;
        QStringList storeLines;
        bool enabled = false;
        SearchAndDrive(wizard, team, [&](bmui::Settings& search, const QStringList& rows) {
            listed = rows;
            enabled = search.saveAllButton()->isEnabled();
            QObject::connect(&search, &bmui::Settings::batchSaveOpened, &search,
                             [&](bmui::BatchProgressDialog* dialog, bmui::BatchSave* batch) {
                                 QObject::connect(batch, &bmui::BatchSave::storeStarted, dialog,
                                                  [&, dialog] { storeLines << dialog->storeLabel()->text(); });
                             });
            // Returns once every store has its result and the box is answered.
            search.saveAllButton()->click();
        });
        QCOMPARE(listed.size(), 3);
        QVERIFY(listed[1].endsWith(QStringLiteral("/agenda.ost")));
        QVERIFY(enabled);
        // Each store in the list's order, named in the dialog.
        QCOMPARE(storeLines.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(storeLines[i], Text(bmui::kBatchStoreFormat)
                                        .arg(i + 1)
                                        .arg(3)
                                        .arg(QString::fromStdString(fs::path(listed[i].toStdString()).filename().string())));

        QVERIFY(!wizard.services.shown.empty());
        const uitest::ScriptedServices::Box box = wizard.services.shown.back();
        QCOMPARE(box.kind, bmui::BoxKind::Warning);  // one store was not saved
        const QStringList lines = box.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.front(), QStringLiteral("2 of 3 stores were saved whole."));
        const QString alice = QString::fromStdString((team / "alice.ost").string());
        const QString bob = QString::fromStdString((team / "bob" / "outlook.ost").string());
        const QString agenda = QString::fromStdString((team / "agenda.ost").string());
        QVERIFY2(lines.contains(Entry(alice, QStringLiteral("saved whole"))), qPrintable(box.text));
        QVERIFY2(lines.contains(Entry(bob, QStringLiteral("saved whole"))), qPrintable(box.text));
        QVERIFY2(lines.contains(Entry(agenda, QStringLiteral("failed: ") + Text(bm::kFileHighlyCorrupted))),
                 qPrintable(box.text));

        // Two new stores, each whole: sound, and every item of the source
        // (all its folders) in it.
        const std::vector<fs::path> outputs = SavedTo(box.text);
        QCOMPARE(outputs.size(), std::size_t{2});
        QVERIFY(outputs[0] != outputs[1]);
        const int sourceItems = ItemsIn(demo);
        QVERIFY(sourceItems > 100);
        for (const fs::path& output : outputs) {
            QCOMPARE(output.parent_path(), team / "Repair");
            const bm::CheckReport report = bm::CheckStore(output);
            for (const bm::Finding& f : report.findings) qWarning("%s", bm::FormatFinding(f).c_str());
            QVERIFY2(report.ok(), output.c_str());
            QCOMPARE(ItemsIn(output), sourceItems);
        }
        QCOMPARE(box.text.count(Text(bmui::kBatchReportLine).arg(QString())), 2);
    }

    void stopEndsTheStoreAtHandAndStartsNoOther() {
        UITEST_REQUIRE_DEMO_STORE(demo);
        TestWizard wizard;
        const fs::path team = wizard.dir() / "team";
        fs::create_directories(team);
        fs::copy_file(demo, team / "alice.ost");
        fs::copy_file(demo, team / "bob.ost");

        QStringList listed;
        QStringList storeLines;
        bool stopDisabled = false;
        SearchAndDrive(wizard, team, [&](bmui::Settings& search, const QStringList& rows) {
            listed = rows;
            QObject::connect(&search, &bmui::Settings::batchSaveOpened, &search,
                             [&](bmui::BatchProgressDialog* dialog, bmui::BatchSave* batch) {
                                 QObject::connect(batch, &bmui::BatchSave::storeStarted, dialog,
                                                  [&, dialog] { storeLines << dialog->storeLabel()->text(); });
                                 // The first saving run is held once it has read 60 items.
                                 auto held = std::make_shared<std::atomic<bool>>(false);
                                 QObject::connect(batch->savingBridge(), &bmui::SavingBridge::positionReached,
                                                  batch->savingBridge(),
                                                  [batch, held](int at) {
                                                      if (at == 60 && !held->exchange(true))
                                                          batch->savingRun()->Pause();
                                                  },
                                                  Qt::DirectConnection);
                                 QObject::connect(batch, &bmui::BatchSave::savingStarted, dialog, [&, dialog, batch, held] {
                                     QTimer::singleShot(0, dialog, [&, dialog, batch, held] {
                                         QTRY_VERIFY_WITH_TIMEOUT(held->load(), uitest::kSavingTimeoutMs);
                                         wizard.services.answers = {true};
                                         dialog->stopButton()->click();
                                         stopDisabled = !dialog->stopButton()->isEnabled();
                                         batch->savingRun()->Resume();
                                     });
                                 });
                             });
            search.saveAllButton()->click();
        });
        QCOMPARE(listed.size(), 2);
        QVERIFY(stopDisabled);
        // The second store was never begun, not even its analysis.
        QCOMPARE(storeLines, QStringList{Text(bmui::kBatchStoreFormat).arg(1).arg(2).arg(
                                 QString::fromStdString(fs::path(listed[0].toStdString()).filename().string()))});
        QCOMPARE(wizard.services.asked, std::vector<QString>{Text(bmui::kStopSavingQuestion)});

        const uitest::ScriptedServices::Box box = wizard.services.shown.back();
        QCOMPARE(box.kind, bmui::BoxKind::Warning);
        const QStringList lines = box.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.front(), QStringLiteral("0 of 2 stores were saved whole."));
        QVERIFY(lines.contains(QStringLiteral("The saving was stopped.")));
        QVERIFY2(lines.contains(Entry(listed[0], QStringLiteral("stopped: Saving aborted"))), qPrintable(box.text));
        QVERIFY2(lines.contains(Entry(listed[1], QStringLiteral("not started because the saving was stopped"))),
                 qPrintable(box.text));
        // The stopped store's output is closed properly and holds part of
        // the source; no other was begun.
        QVERIFY(lines.contains(Text(bmui::kBatchNoteLine).arg(Text(bmui::kPartialStoreNote))));
        const std::vector<fs::path> outputs = SavedTo(box.text);
        QCOMPARE(outputs.size(), std::size_t{1});
        QVERIFY(bm::CheckStore(outputs[0]).ok());
        const int saved = ItemsIn(outputs[0]);
        QVERIFY2(saved > 0 && saved < ItemsIn(demo), qPrintable(QString::number(saved)));
        std::size_t written = 0;
        for (const fs::directory_entry& e : fs::directory_iterator(team / "Repair"))
            written += e.path().extension() == ".pst";
        QCOMPARE(written, std::size_t{1});
    }
};

QTEST_MAIN(BatchSaveTest)
#include "tst_batch_save.moc"
