// The folder tree (icons, insertion, check boxes, bold) and the item list
// rows (kinds, columns, cleaning, limits).
#include <QFont>
#include <QDateTime>
#include <QLocale>
#include <QTest>

#include <atomic>

#include "engine/analysis_results.h"
#include "ui/folder_tree.h"
#include "ui/icons.h"
#include "ui/item_rows.h"

using bmui::FolderIcon;
using bmui::FolderTree;
using bmui::IconPair;
using bmui::kFolderIcons;

class FolderTreeTest : public QObject {
    Q_OBJECT
private slots:
    void folderIconFollowsLabelsAndClasses() {
        QCOMPARE(FolderIcon("Inbox", "", kFolderIcons), IconPair(7, 7));
        QCOMPARE(FolderIcon("inbox", "", kFolderIcons), IconPair(7, 7));
        QCOMPARE(FolderIcon("Projects", "", kFolderIcons), IconPair(0, 1));
        QCOMPARE(FolderIcon("Personal Folders", "", bmui::kRootLevelIcons), IconPair(2, 2));
        QCOMPARE(FolderIcon("Elsewhere", "", bmui::kRootLevelIcons), IconPair(5, 5));
        QCOMPARE(FolderIcon("Family", "IPF.Contact", kFolderIcons), IconPair(4, 4));
        QCOMPARE(FolderIcon("Meetings", "ipf.appointment", kFolderIcons), IconPair(3, 3));
        QCOMPARE(FolderIcon("Junk E-mails", "", kFolderIcons), IconPair(9, 9));
        QCOMPARE(FolderIcon("Sync Issues", "", kFolderIcons), IconPair(14, 14));
        QCOMPARE(FolderIcon("Outbox", "", kFolderIcons), IconPair(11, 11));
        QCOMPARE(FolderIcon("Drafts", "", kFolderIcons), IconPair(6, 6));
        QCOMPARE(FolderIcon("Deleted Items", "", kFolderIcons), IconPair(5, 5));
    }

    void laterRulesOverrideEarlierOnes() {
        // A folder labelled "Sent Items" holding tasks gets the task icon.
        QCOMPARE(FolderIcon("Sent Items", "IPF.Task", kFolderIcons), IconPair(13, 13));
        QCOMPARE(FolderIcon("Inbox", "IPF.Journal", kFolderIcons), IconPair(8, 8));
        QCOMPARE(FolderIcon("Calendar", "IPF.StickyNote", kFolderIcons), IconPair(10, 10));
    }

    void insertFolderPathAddsMissingLevelsOnce() {
        FolderTree tree(nullptr);
        tree.InsertFolderPath("Personal Folders\\Inbox\\Projects\\");
        tree.InsertFolderPath("Personal Folders\\Inbox\\");
        tree.InsertFolderPath("Personal Folders\\Calendar\\", "IPF.Appointment");
        tree.InsertFolderPath("Personal Folders\\inbox\\");  // case-sensitive: a second folder
        QCOMPARE(tree.topLevelItemCount(), 1);
        QTreeWidgetItem* root = tree.topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("Personal Folders"));
        QCOMPARE(root->childCount(), 3);
        QCOMPARE(root->child(0)->text(0), QStringLiteral("Inbox"));
        QCOMPARE(root->child(0)->childCount(), 1);
        QVERIFY(root->child(0)->isExpanded());
        QCOMPARE(FolderTree::IconsOf(root), IconPair(2, 2));
        QCOMPARE(FolderTree::IconsOf(root->child(0)), IconPair(7, 7));
        QCOMPARE(FolderTree::IconsOf(root->child(0)->child(0)), IconPair(0, 1));
        QCOMPARE(FolderTree::IconsOf(root->child(1)), IconPair(3, 3));
        QCOMPARE(FolderTree::PathOf(root->child(0)->child(0)), std::string("Personal Folders\\Inbox\\Projects\\"));
    }

    void containerClassAppliesToTheInsertedFolderOnly() {
        FolderTree tree(nullptr);
        // "Family" is new and takes the class; the missing "Stuff" above it does not.
        tree.InsertFolderPath("Personal Folders\\Stuff\\Family\\", "IPF.Contact");
        QTreeWidgetItem* stuff = tree.topLevelItem(0)->child(0);
        QCOMPARE(FolderTree::IconsOf(stuff), IconPair(0, 1));
        QCOMPARE(FolderTree::IconsOf(stuff->child(0)), IconPair(4, 4));
    }

    void componentWithoutTrailingBackslashIsIgnored() {
        FolderTree tree(nullptr);
        tree.InsertFolderPath("Personal Folders\\Inbox");
        QCOMPARE(tree.topLevelItemCount(), 1);
        QCOMPARE(tree.topLevelItem(0)->childCount(), 0);
    }

    void checkingAFolderChecksItsDescendantsAndBoldsAncestors() {
        FolderTree tree(nullptr);
        tree.InsertFolderPath("Personal Folders\\Inbox\\Projects\\Phoenix\\");
        tree.InsertFolderPath("Personal Folders\\Sent Items\\");
        QTreeWidgetItem* root = tree.topLevelItem(0);
        QTreeWidgetItem* inbox = root->child(0);
        QTreeWidgetItem* projects = inbox->child(0);
        QTreeWidgetItem* phoenix = projects->child(0);
        projects->setCheckState(0, Qt::Checked);
        QCOMPARE(phoenix->checkState(0), Qt::Checked);
        QCOMPARE(inbox->checkState(0), Qt::Unchecked);
        QVERIFY(projects->font(0).bold());
        QVERIFY(phoenix->font(0).bold());
        QVERIFY(inbox->font(0).bold());
        QVERIFY(root->font(0).bold());
        QVERIFY(!root->child(1)->font(0).bold());
        QCOMPARE(tree.CheckedPaths(), (std::vector<std::string>{"Personal Folders\\Inbox\\Projects\\",
                                                                "Personal Folders\\Inbox\\Projects\\Phoenix\\"}));
        projects->setCheckState(0, Qt::Unchecked);
        QCOMPARE(phoenix->checkState(0), Qt::Unchecked);
        QVERIFY(!inbox->font(0).bold());
        QVERIFY(!root->font(0).bold());
        QVERIFY(tree.CheckedPaths().empty());
    }

    void checkedRootItemAloneSelectsNothing() {
        FolderTree tree(nullptr);
        tree.InsertFolderPath("Personal Folders\\");
        tree.topLevelItem(0)->setCheckState(0, Qt::Checked);
        QVERIFY(tree.CheckedPaths().empty());
    }

    void listKindIsChosenByTheWholePath() {
        using bmui::ListKind;
        QCOMPARE(bmui::ListKindOf("Personal Folders\\Contacts\\"), ListKind::Contacts);
        QCOMPARE(bmui::ListKindOf("Personal Folders\\Contacts\\Family\\"), ListKind::Mail);
        QCOMPARE(bmui::ListKindOf("Personal Folders\\Tasks\\"), ListKind::Tasks);
        QCOMPARE(bmui::ListKindOf("Personal Folders\\Journal\\"), ListKind::Journal);
        QCOMPARE(bmui::ListKindOf("Personal Folders\\Notes\\"), ListKind::Notes);
        QCOMPARE(bmui::ListKindOf("Personal Folders\\Calendar\\"), ListKind::Calendar);
        QCOMPARE(bmui::ListKindOf("Personal Folders\\Inbox\\"), ListKind::Mail);
        QCOMPARE(bmui::ColumnsOf(ListKind::Tasks).size(), std::size_t{2});
        QCOMPARE(bmui::ColumnsOf(ListKind::Tasks)[0].width, 260);
        QCOMPARE(bmui::ColumnsOf(ListKind::Mail)[2].title, std::string_view("Received"));
    }

    void cellCleaningKeepsLettersAndReplacesControls() {
        QCOMPARE(bmui::CleanCell("Åsa\tÍris\r\nZoë\x03x\x1b"), std::string("Åsa Íris  Zoë x "));
        QCOMPARE(bmui::CleanCell("M\xc3\xbcller"), std::string("M\xc3\xbcller"));
        QCOMPARE(bmui::CleanNewlines("a\tb\r\nc\x03"), std::string("a b  c\x03"));
    }

    void longJournalTextIsCutTo200CharactersAndDots() {
        const QString text(300, QLatin1Char('j'));
        const QString cut = bmui::CutLongText(text);
        QCOMPARE(cut.size(), 203);
        QVERIFY(cut.endsWith(QStringLiteral("...")));
        QCOMPARE(bmui::CutLongText(QString(254, QLatin1Char('k'))).size(), 254);
    }

    void mailFolderListsItsMessagesWithFallbackTexts() {
        bm::AnalysisData data;
        bm::FolderRecord folder;
        folder.path = "Personal Folders\\Inbox\\";
        for (int i = 0; i < 50; ++i) {
            bm::MessageFields m;
            if (i > 0) {
                m.sentRepresentingName = "Zoë\tMüller";
                m.subject = std::make_unique<bm::SubjectParts>();
                m.subject->text = "Hello " + std::to_string(i);
                m.displayTo = "Ada";
                // 2024-01-01 22:44:05 UTC as FILETIME
                const std::uint64_t ft = 133486226450000000ull;
                for (int b = 0; b < 8; ++b) m.deliveryTime.push_back(static_cast<std::uint8_t>(ft >> (8 * b)));
            }
            folder.messages.push_back(std::move(m));
        }
        data.folders.push_back(std::move(folder));
        const std::atomic<bool> cancel{false};
        const bmui::ItemRows rows = bmui::BuildItemRows(data, "Personal Folders\\Inbox\\", cancel);
        QCOMPARE(rows.rows.size(), std::size_t{50});
        // An empty sender or recipient is an empty cell, not a word.
        QCOMPARE(rows.rows[0].cells, (QStringList{"", "Unspecified", "", ""}));
        QCOMPARE(rows.rows[1].cells[0], QStringLiteral("Zoë Müller"));
        QCOMPARE(rows.rows[1].cells[1], QStringLiteral("Hello 1"));
        // In the user's locale, as the cards show times.
        QCOMPARE(rows.rows[1].cells[3],
                 QLocale().toString(QDateTime::fromSecsSinceEpoch(1704149045, Qt::UTC).toLocalTime(), QLocale::ShortFormat));
        QCOMPARE(rows.rows[1].icon, int(bmui::kListMail));
        // Each row names its mail and carries the time the Date column sorts by.
        QCOMPARE(rows.rows[7].source, 7);
        QCOMPARE(rows.rows[1].timeColumn, 3);
        QCOMPARE(rows.rows[1].timeKey, std::int64_t{133486226450000000});
        QCOMPARE(rows.rows[0].timeKey, std::int64_t{0});
        const bmui::ItemRows none = bmui::BuildItemRows(data, "Personal Folders\\Drafts\\", cancel);
        QVERIFY(none.rows.empty());
    }

    void tasksAndNotesAreListedNewestFirst() {
        bm::AnalysisData data;
        for (const char* subject : {"first", "second"}) {
            bm::MessageFields task;
            task.subject = std::make_unique<bm::SubjectParts>();
            task.subject->text = subject;
            data.tasks.push_back(std::move(task));
            data.notes.push_back({subject, std::string("line1\r\nline2"), {}});
        }
        const std::atomic<bool> cancel{false};
        const bmui::ItemRows tasks = bmui::BuildItemRows(data, "Personal Folders\\Tasks\\", cancel);
        QCOMPARE(tasks.rows.size(), std::size_t{2});
        QCOMPARE(tasks.rows[0].cells[0], QStringLiteral("second"));
        QCOMPARE(tasks.rows[0].icon, int(bmui::kListTask));
        // Listed newest first, each row still names its own task and note.
        QCOMPARE(tasks.rows[0].source, 1);
        QCOMPARE(tasks.rows[1].source, 0);
        const bmui::ItemRows notes = bmui::BuildItemRows(data, "Personal Folders\\Notes\\", cancel);
        QCOMPARE(notes.rows[0].cells[0], QStringLiteral("second"));
        QCOMPARE(notes.rows[0].cells[1], QStringLiteral("line1  line2"));
        QCOMPARE(notes.rows[0].source, 1);
    }

    void contactsUseFileAsElseGivenName() {
        bm::AnalysisData data;
        bm::ContactFields a;
        a.fileAs = "Lovelace, Ada";
        a.givenName = "Ada";
        a.email = "ada@example.org";
        a.postalAddress = "1 Road\r\nLondon";
        bm::ContactFields b;
        b.givenName = "Grace";
        data.contacts = {a, b};
        const std::atomic<bool> cancel{false};
        const bmui::ItemRows rows = bmui::BuildItemRows(data, "Personal Folders\\Contacts\\", cancel);
        QCOMPARE(rows.rows.size(), std::size_t{2});
        QCOMPARE(rows.rows[0].cells, (QStringList{"Lovelace, Ada", "ada@example.org", "", "1 Road  London"}));
        QCOMPARE(rows.rows[1].cells[0], QStringLiteral("Grace"));
    }

    void cancelledFillStopsEarly() {
        bm::AnalysisData data;
        data.contacts.resize(10);
        const std::atomic<bool> cancel{true};
        const bmui::ItemRows rows = bmui::BuildItemRows(data, "Personal Folders\\Contacts\\", cancel);
        QVERIFY(rows.cancelled);
        QVERIFY(rows.rows.empty());
    }
};

QTEST_MAIN(FolderTreeTest)
#include "tst_folder_tree.moc"
