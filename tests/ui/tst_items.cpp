// What the analysis page shows of each item: the preview of every folder by
// its kind and depth (a folder named like a special folder below another is
// a mail folder), and the mark on an item read from damaged blocks, whose
// saved copy gets the category "Damaged in recovery" when "Mark damaged
// items" is ticked.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/analysis_run.h"
#include "output/damage_mark.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "support/damaged_mail_store.h"
#include "support/synced_store.h"
#include "ui/folder_tree.h"
#include "ui/item_list.h"
#include "ui/last_saving_dialog.h"
#include "ui/preview_pane.h"
#include "ui/repair_recover.h"
#include "ui/ui_texts.h"
#include "ui_test_support.h"

using uitest::ClickFolder;
using uitest::ConvertAndDrive;
using uitest::TestWizard;
namespace fs = std::filesystem;
namespace pst = bm::pst;
namespace tags = bm::pst::tags;

using uitest::kSavingTimeoutMs;

namespace {

constexpr const char* kSpecialNames[] = {"Calendar", "Contacts", "Tasks", "Notes", "Journal"};

pst::Message MailIn(const std::string& path) {
    pst::Message m = bmtest::MessageOf("IPM.Note", "Mail in " + path);
    m.properties.SetString(tags::kSentRepresentingName, "Sender of " + path);
    m.properties.SetString(tags::kBody, "Body of " + path);
    return m;
}

// One item of each kind in the special folders at the top, and one mail in
// the Inbox, in folders of the special folders' names below it, and below
// its Projects.
fs::path WriteFolderKindsStore(const fs::path& dir) {
    const fs::path path = dir / "kinds.ost";
    auto store = pst::PstStore::Create(path, {});
    const auto top = store->ipmSubtree();
    const auto inbox = store->CreateFolder(top, "Inbox");
    store->AddMessage(inbox, MailIn("Inbox"));
    const auto projects = store->CreateFolder(inbox, "Projects");
    for (const char* name : kSpecialNames) {
        store->AddMessage(store->CreateFolder(inbox, name), MailIn(std::string("Inbox\\") + name));
        store->AddMessage(store->CreateFolder(projects, name), MailIn(std::string("Inbox\\Projects\\") + name));
    }
    pst::Message meeting = bmtest::MessageOf("IPM.Appointment", "Meeting at the top");
    meeting.properties.SetString(pst::named::kAppointmentLocation, "Room 7");
    store->AddMessage(store->CreateFolder(top, "Calendar", "IPF.Appointment"), meeting);
    pst::Message contact = bmtest::MessageOf("IPM.Contact", "Contact at the top");
    contact.properties.SetString(tags::kDisplayName, "Contact at the top");
    contact.properties.SetString(pst::named::kFileUnder, "Contact at the top");
    store->AddMessage(store->CreateFolder(top, "Contacts", "IPF.Contact"), contact);
    pst::Message task = bmtest::MessageOf("IPM.Task", "Task at the top");
    store->AddMessage(store->CreateFolder(top, "Tasks", "IPF.Task"), task);
    pst::Message note = bmtest::MessageOf("IPM.StickyNote", "Note at the top");
    note.properties.SetString(tags::kBody, "Text of the note at the top");
    store->AddMessage(store->CreateFolder(top, "Notes", "IPF.StickyNote"), note);
    pst::Message journal = bmtest::MessageOf("IPM.Activity", "Journal at the top");
    journal.properties.SetString(
        pst::NamedPropTag{pst::GuidFromText("0006200A-0000-0000-C000-000000000046"), 0x8700u, pst::PropType::Unicode},
        "Phone call");
    store->AddMessage(store->CreateFolder(top, "Journal", "IPF.Journal"), journal);
    store->Finish();
    return path;
}

bool HeaderShown(bmui::Repair_Recover& page) {
    for (QLabel* caption : page.headerCaptions())
        if (!caption->isVisibleTo(&page)) return false;
    return true;
}

}  // namespace

class ItemsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { kindsStore_ = WriteFolderKindsStore(fs::path(dir_.path().toStdString())); }

    void eachFolderPreviewsItsItemsByItsKindAndDepth_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("mail");
        // What the preview shows of the folder's first item.
        QTest::addColumn<QString>("shown");
        QTest::newRow("Calendar at the top") << "Calendar" << false << "Room 7";
        QTest::newRow("Contacts at the top") << "Contacts" << false << "Contact at the top";
        QTest::newRow("Tasks at the top") << "Tasks" << false << "Task at the top";
        QTest::newRow("Notes at the top") << "Notes" << false << "Text of the note at the top";
        QTest::newRow("Journal at the top") << "Journal" << false << "Phone call";
        QTest::newRow("Inbox") << "Inbox" << true << "Body of Inbox";
        for (const char* name : kSpecialNames) {
            for (const char* parent : {"Inbox\\", "Inbox\\Projects\\"}) {
                const QString path = QString::fromLatin1(parent) + QString::fromLatin1(name);
                QTest::newRow(qPrintable(path)) << path << true << QStringLiteral("Body of ") + path;
            }
        }
    }

    void eachFolderPreviewsItsItemsByItsKindAndDepth() {
        QFETCH(QString, folder);
        QFETCH(bool, mail);
        QFETCH(QString, shown);
        const std::string path = "Personal Folders\\" + folder.toStdString() + "\\";
        TestWizard wizard;
        bool driven = false;
        ConvertAndDrive(wizard, kindsStore_, [&](bmui::Repair_Recover& page) {
            driven = true;
            page.show();
            QVERIFY2(ClickFolder(page, path.c_str()), path.c_str());
            QCOMPARE(page.itemList()->topLevelItemCount(), 1);
            // Clicked as a user does: the preview follows the selection.
            page.itemList()->setCurrentItem(page.itemList()->topLevelItem(0));
            QVERIFY2(page.shownPage().endsWith(QStringLiteral("~MO.html")), qPrintable(page.shownPage()));
            const QString text = page.preview()->toPlainText();
            QVERIFY2(text.contains(shown), qPrintable(text));
            QCOMPARE(HeaderShown(page), mail);
            if (mail) {
                QCOMPARE(page.subjectLabel()->text(), QStringLiteral("Mail in ") + folder);
                QCOMPARE(page.fromLabel()->text(), QStringLiteral("Sender of ") + folder);
            }
            wizard.services.answers = {true};
            page.Back();
        });
        QVERIFY(driven);
    }

    void aDamagedItemIsMarkedAndSavedWithTheCategoryWhenAsked_data() {
        QTest::addColumn<bool>("markDamaged");
        QTest::newRow("box ticked") << true;
        QTest::newRow("box left") << false;
    }

    void aDamagedItemIsMarkedAndSavedWithTheCategoryWhenAsked() {
        QFETCH(bool, markDamaged);
        TestWizard wizard;
        const fs::path store = bmtest::WriteMailStore(wizard.dir());
        bmtest::Damage(store, bmtest::Spot::BodyByte, "long body");
        const fs::path target = wizard.dir() / "out";
        fs::create_directories(target);
        std::vector<fs::path> saved;
        int outcome = -1;
        QString headline;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            QVERIFY(ClickFolder(page, "Personal Folders\\Inbox\\"));
            QTreeWidget* list = page.itemList();
            QCOMPARE(list->topLevelItemCount(), 4);
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* row = list->topLevelItem(i);
                const bool damaged = row->text(1) == QStringLiteral("long body");
                QCOMPARE(bmui::ItemList::MarkedDamaged(row), damaged);
                // The tooltip says what is damaged, on every column.
                for (int column = 0; column < list->columnCount(); ++column)
                    QCOMPARE(row->toolTip(column).contains(QStringLiteral("message: 1 block failed its checksum")),
                             damaged);
            }
            page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
            page.markDamagedBox()->setChecked(markDamaged);
            QObject::connect(&page, &bmui::Repair_Recover::savingCompletionOpened, &page,
                             [&](bmui::Last_Saving_Dialog* d) {
                                 saved = page.savingRun().outputStores();
                                 headline = d->resultLabel()->text();
                                 icon = d->resultIcon();
                                 QTimer::singleShot(0, d, [d] { d->okButton()->click(); });
                             });
            QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page, [&](int done) { outcome = done; });
            wizard.services.folder = QString::fromStdString(target.string());
            page.Save();
            QVERIFY(page.savingStarted());
            QTRY_VERIFY_WITH_TIMEOUT(outcome >= 0, kSavingTimeoutMs);
        });
        QCOMPARE(outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
        // The summary warns of the damaged item.
        QVERIFY2(headline.contains(QStringLiteral("1 of them damaged")), qPrintable(headline));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(saved.size(), std::size_t{1});
        const auto categories = bmtest::CategoriesBySubject(saved[0]);
        const std::vector<std::string> work{"Work"};
        const std::vector<std::string> workAndDamaged{"Work", std::string(bm::kDamagedCategory)};
        QVERIFY(categories.count("long body") == 1 && categories.count("short one") == 1);
        QVERIFY(categories.at("long body") == (markDamaged ? workAndDamaged : work));
        QVERIFY(categories.at("short one").empty());
    }

    // A contact, task, note, journal item or appointment read from a block
    // that failed its checksum carries the damage mark in its list too.
    void damagedItemsOfEveryKindAreMarkedInTheirLists() {
        TestWizard wizard;
        const fs::path store = wizard.dir() / "kinds-damaged.ost";
        fs::copy_file(kindsStore_, store);
        const std::pair<const char*, const char*> items[] = {{"Calendar", "Meeting at the top"},
                                                             {"Contacts", "Contact at the top"},
                                                             {"Tasks", "Task at the top"},
                                                             {"Notes", "Note at the top"},
                                                             {"Journal", "Journal at the top"}};
        // Every kind but the journal is damaged; the journal item stays sound.
        for (const auto& [folder, subject] : items)
            if (std::string(folder) != "Journal") bmtest::Damage(store, bmtest::Spot::OwnBlockByte, subject);
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            for (const auto& [folder, subject] : items) {
                const std::string path = std::string("Personal Folders\\") + folder + "\\";
                QVERIFY2(ClickFolder(page, path.c_str()), path.c_str());
                QCOMPARE(page.itemList()->topLevelItemCount(), 1);
                const QTreeWidgetItem* row = page.itemList()->topLevelItem(0);
                const bool expected = std::string(folder) != "Journal";
                QVERIFY2(bmui::ItemList::MarkedDamaged(row) == expected, folder);
                QCOMPARE(row->toolTip(0).contains(QStringLiteral("failed its checksum")), expected);
            }
        });
    }

    // Save as MBOX, Maildir or .eml files: no store name is asked for, the
    // damage mark is off, and the mail is in a new folder below Export.
    void anExportChosenOnThePageWritesMailFilesBelowExport_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("inboxMail");  // below Mail/: what holds the Inbox's mail
        QTest::newRow("MBOX") << 1 << QStringLiteral("Inbox");
        QTest::newRow("Maildir") << 2 << QStringLiteral(".Inbox/cur");
        QTest::newRow("eml") << 3 << QStringLiteral("Inbox");
    }

    void anExportChosenOnThePageWritesMailFilesBelowExport() {
        QFETCH(int, kind);
        QFETCH(QString, inboxMail);
        TestWizard wizard;
        const fs::path store = bmtest::WriteMailStore(wizard.dir());
        const fs::path target = wizard.dir() / "out";
        fs::create_directories(target);
        std::vector<fs::path> written;
        QString where;
        int outcome = -1;
        bool markOff = false;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
            page.markDamagedBox()->setChecked(true);
            page.outputKindBox()->setCurrentIndex(kind);
            markOff = !page.markDamagedBox()->isEnabled();
            QObject::connect(&page, &bmui::Repair_Recover::savingCompletionOpened, &page,
                             [&](bmui::Last_Saving_Dialog* d) {
                                 written = page.savingRun().outputStores();
                                 where = d->storesLabel()->text();
                                 QTimer::singleShot(0, d, [d] { d->okButton()->click(); });
                             });
            QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page, [&](int done) { outcome = done; });
            wizard.services.folder = QString::fromStdString(target.string());
            QTest::mouseClick(page.saveButton(), Qt::LeftButton);
            QVERIFY(page.savingStarted());
            QTRY_VERIFY_WITH_TIMEOUT(outcome >= 0, kSavingTimeoutMs);
        });
        QCOMPARE(outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
        QVERIFY(markOff);
        QVERIFY(wizard.services.offeredSaveFiles.empty());
        QCOMPARE(written.size(), std::size_t{1});
        QCOMPARE(written[0].parent_path(), target / "Export");
        QVERIFY2(where.startsWith(QStringLiteral("Exported to")), qPrintable(where));
        QVERIFY(where.contains(QString::fromStdString(written[0].string())));
        const fs::path mail = written[0] / "Mail" / inboxMail.toStdString();
        QVERIFY2(fs::exists(mail), mail.c_str());
        std::size_t messages = 0;
        if (fs::is_directory(mail))
            for (const auto& e : fs::directory_iterator(mail)) messages += e.is_regular_file() ? 1 : 0;
        else {  // an mbox file: one separator line per message (mboxrd quotes the others)
            std::istringstream lines(bmtest::ReadTextFile(mail));
            for (std::string line; std::getline(lines, line);) messages += line.starts_with("From ") ? 1 : 0;
        }
        QCOMPARE(messages, std::size_t{4});
        QVERIFY(!fs::exists(target / "Repair"));
    }

    // The save step's own choices: a date range (both days kept) and
    // "Leave out duplicates" reach the run, whose account counts the items
    // left out apart; a range that ends before it begins is refused.
    void theDateRangeAndLeaveOutDuplicatesChooseWhatIsSaved() {
        TestWizard wizard;
        const fs::path store = bmtest::WriteSyncedStore(wizard.dir() / "synced.ost");
        const fs::path target = wizard.dir() / "out";
        fs::create_directories(target);
        bm::Reconciliation account;
        bool partSizeOff = false;
        int outcome = -1;
        ConvertAndDrive(wizard, store, [&](bmui::Repair_Recover& page) {
            page.show();
            page.tree()->ItemOf("Personal Folders\\Inbox\\")->setCheckState(0, Qt::Checked);
            QVERIFY(!page.sinceEdit()->isEnabled());
            QTest::mouseClick(page.dateRangeBox(), Qt::LeftButton);
            QVERIFY(page.sinceEdit()->isEnabled());
            // Backwards first: refused with a message, nothing started.
            page.sinceEdit()->setDate(QDate(2020, 1, 1));
            page.untilEdit()->setDate(QDate(2019, 1, 1));
            wizard.services.folder = QString::fromStdString(target.string());
            QTest::mouseClick(page.saveButton(), Qt::LeftButton);
            QVERIFY(!page.savingStarted());
            QVERIFY(!wizard.services.shown.empty());
            QCOMPARE(wizard.services.shown.back().text, bmui::Text(bmui::kDateRangeWrong));
            page.sinceEdit()->setDate(QDate(2019, 1, 1));
            page.untilEdit()->setDate(QDate(2019, 6, 1));
            QTest::mouseClick(page.leaveOutDuplicatesBox(), Qt::LeftButton);
            page.outputKindBox()->setCurrentIndex(1);
            partSizeOff = !page.partSizeBox()->isEnabled();
            page.outputKindBox()->setCurrentIndex(0);
            page.partSizeBox()->setValue(700);
            QObject::connect(&page, &bmui::Repair_Recover::savingCompletionOpened, &page,
                             [&](bmui::Last_Saving_Dialog* d) {
                                 account = page.savingRun().reconciliation();
                                 QTimer::singleShot(0, d, [d] { d->okButton()->click(); });
                             });
            QObject::connect(&page, &bmui::Repair_Recover::savingDone, &page, [&](int done) { outcome = done; });
            QTest::mouseClick(page.saveButton(), Qt::LeftButton);
            QVERIFY(page.savingStarted());
            QTRY_VERIFY_WITH_TIMEOUT(outcome >= 0, kSavingTimeoutMs);
        });
        QCOMPARE(outcome, static_cast<int>(bm::AnalysisOutcome::Completed));
        QVERIFY(partSizeOff);
        // Of the Inbox's nine: the five of 2019-06-01 are in the range and
        // one of them is a copy; the two of 2020 and the two contacts made
        // in 2018 are not.
        const bm::FolderTally t = account.totals();
        QCOMPARE(t.saved, std::int64_t{4});
        QCOMPARE(t.leftOut, std::int64_t{4});
        QCOMPARE(t.duplicates, std::int64_t{1});
        QCOMPARE(t.lost, std::int64_t{0});
    }

private:
    QTemporaryDir dir_;
    fs::path kindsStore_;
};

QTEST_MAIN(ItemsTest)
#include "tst_items.moc"
