// A damaged copy in the wizard: the analysis page says how many items could
// not be read, marks the folders holding them and ends its bar at 100%; the
// completion dialog says, beside the category counts, how many items of the
// selection were saved and how many were not recovered, and "Open Report"
// opens the report written beside the new store.
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/saving_run.h"
#include "engine/store_listing.h"
#include "check/store_checker.h"
#include "support/store_damage.h"
#include "ui/folder_tree.h"
#include "ui/last_saving_dialog.h"
#include "ui/repair_recover.h"
#include "ui_test_support.h"

namespace fs = std::filesystem;

using uitest::kSavingTimeoutMs;

namespace {

class ItemCounter : public bm::StoreListingVisitor {
public:
    void OnFolderBegin(const bm::ListedFolder&) override {}
    void OnItem(std::uint32_t, const bm::ItemRecord&) override { ++items; }
    int items = 0;
};

// Every item the store listing reads from `store`.
int ItemsIn(const fs::path& store) {
    ItemCounter counter;
    bm::StoreReader reader;
    const bm::StoreListing listing = bm::ListStoreContents(store, counter, reader);
    return listing.result == bm::StoreListingResult::Listed ? counter.items : -1;
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

class CompletionTest : public QObject {
    Q_OBJECT
private slots:
    void aDamagedCopyShowsSavedAndNotRecoveredAndOpensTheReport() {
        const fs::path sound = uitest::SharedStore("unicode-sample.ost");
        if (sound.empty()) QSKIP("shared store absent");
        uitest::TestWizard wizard;
        const fs::path store = wizard.dir() / "damaged.ost";
        QVERIFY(bmtest::DamagedCopy(sound, store, bmtest::Damage::TruncatedAt90));
        const fs::path target = wizard.dir() / "out";
        fs::create_directories(target);

        QString account;
        QString headline;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool iconShown = false;
        bool damageWarned = false;
        QString analysisText, calendarTip, inboxTip;
        bool reportShown = false;
        std::vector<QString> openedByReport;
        std::vector<fs::path> outputs;
        bm::FolderTally totals;
        fs::path report;
        int outcome = -1;
        uitest::ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            QVERIFY(page.analysisFinished());
            QCOMPARE(page.progress()->value(), page.progress()->maximum());
            QVERIFY(page.unreadableLabel()->isVisibleTo(&page));
            analysisText = page.unreadableLabel()->text();
            damageWarned = page.unreadableIcon()->isVisibleTo(&page) && !page.unreadableIcon()->pixmap().isNull();
            // The item whose block the cut removed is in the Calendar.
            QTreeWidgetItem* calendar = page.tree()->ItemOf("Personal Folders\\Calendar\\");
            QVERIFY(calendar != nullptr);
            calendarTip = calendar->toolTip(0);
            QTreeWidgetItem* inbox = page.tree()->ItemOf("Personal Folders\\Inbox\\");
            QVERIFY(inbox != nullptr);
            inboxTip = inbox->toolTip(0);
            QTreeWidgetItem* top = page.tree()->ItemOf("Personal Folders\\");
            QVERIFY(top != nullptr);
            top->setCheckState(0, Qt::Checked);
            QObject::connect(&page, &bmui::Repair_Recover::savingCompletionOpened, &page,
                             [&](bmui::Last_Saving_Dialog* d) {
                                 account = d->accountLabel()->text();
                                 headline = d->resultLabel()->text();
                                 icon = d->resultIcon();
                                 iconShown = d->resultIconLabel()->isVisibleTo(d) &&
                                             !d->resultIconLabel()->pixmap().isNull();
                                 reportShown = d->reportButton()->isVisibleTo(d);
                                 QTimer::singleShot(0, d, [&, d] {
                                     const std::size_t before = wizard.services.opened.size();
                                     d->reportButton()->click();
                                     for (std::size_t i = before; i < wizard.services.opened.size(); ++i)
                                         openedByReport.push_back(wizard.services.opened[i]);
                                     d->okButton()->click();
                                 });
                             });
            QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page, [&](int o) { outcome = o; });
            wizard.services.folder = QString::fromStdString(target.string() + "/");
            page.Save();
            QTRY_VERIFY_WITH_TIMEOUT(outcome >= 0, kSavingTimeoutMs);
            outputs = page.savingRun().outputStores();
            totals = page.savingRun().reconciliation().totals();
            report = page.savingRun().reportText();
        });
        QCOMPARE(outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
        QCOMPARE(outputs.size(), std::size_t{1});
        QVERIFY(bm::CheckStore(outputs[0]).ok());
        // The damage loses items; the new store holds every item said to be saved.
        QVERIFY(totals.lost > 0);
        QCOMPARE(ItemsIn(outputs[0]), static_cast<int>(totals.saved));
        // The analysis lost what the save lost: every folder was selected.
        QCOMPARE(analysisText, totals.lost == 1 ? QStringLiteral("1 item could not be read")
                                                : QStringLiteral("%1 items could not be read").arg(totals.lost));
        QVERIFY(damageWarned);
        QCOMPARE(calendarTip, QStringLiteral("1 item could not be read"));
        // A save that lost items is no success: a warning and a headline
        // that says how many.
        QCOMPARE(icon, QMessageBox::Warning);
        QVERIFY(iconShown);
        const QString damaged = totals.damaged > 0 ? QStringLiteral("; %1 of them damaged").arg(totals.damaged) : QString();
        QCOMPARE(headline, QStringLiteral("%1 of %2 items were saved; %3 could not be recovered%4 \u2014 see the report")
                               .arg(totals.saved)
                               .arg(totals.saved + totals.lost)
                               .arg(totals.lost)
                               .arg(damaged));
        QVERIFY2(inboxTip.isEmpty(), qPrintable(inboxTip));
        QCOMPARE(account, QStringLiteral("Items saved: %1, not recovered: %2").arg(totals.saved).arg(totals.lost));
        // "Open Report" opens the report beside the store, which lists the loss.
        QVERIFY(reportShown);
        QCOMPARE(openedByReport.size(), std::size_t{1});
        QCOMPARE(openedByReport[0], QString::fromStdString(report.string()));
        QCOMPARE(report.parent_path(), outputs[0].parent_path());
        const std::string text = ReadFile(report);
        QVERIFY2(text.find("not recovered " + std::to_string(totals.lost)) != std::string::npos, text.c_str());
    }
};

QTEST_MAIN(CompletionTest)
#include "tst_completion.moc"
