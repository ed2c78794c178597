// Sorting records into folders, result lists and counts, from records made
// in the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/analysis_collector.h"
#include "messaging/item_mapping.h"

namespace bm {
namespace {

constexpr std::uint32_t kRootNid = 0x2142;

class RecordingObserver : public AnalysisObserver {
public:
    void OnCountChanged(WellKnownCategory c, std::int32_t n) override { counts.emplace_back(c, n); }
    void OnFolderFound(const std::string& path, const std::string& cls) override { folders.emplace_back(path, cls); }
    std::vector<std::pair<WellKnownCategory, std::int32_t>> counts;
    std::vector<std::pair<std::string, std::string>> folders;
};

std::unique_ptr<ItemRecord> Folder(const std::string& name, const std::string& cls) {
    auto r = std::make_unique<ItemRecord>();
    r->folderCounts = std::make_unique<FolderCounts>();
    r->displayName = name;
    r->messageClass = cls;
    r->kind = cls.empty() ? ItemKind::None : ClassifyFolder(cls);
    return r;
}

std::unique_ptr<ItemRecord> Item(const std::string& cls, const std::string& subject = "s") {
    auto r = std::make_unique<ItemRecord>();
    r->messageClass = cls;
    r->kind = ClassifyMessage(cls);
    r->messageFields = std::make_unique<MessageFields>();
    r->messageFields->subject = std::make_unique<SubjectParts>();
    r->messageFields->subject->text = subject;
    return r;
}

class Collector : public ::testing::Test {
protected:
    void SetUp() override { collector.Begin(kRootNid); }

    // Opens a folder with children under the current one.
    void Open(const std::string& name, std::uint32_t nid, const std::string& cls = "IPF.Note") {
        ASSERT_TRUE(collector.Classify(Folder(name, cls), {nid, 0, true}));
    }
    void Mail(std::uint32_t parent, const std::string& cls = "IPM.Note") {
        EXPECT_FALSE(collector.Classify(Item(cls), {0x200004, parent, false}));
    }
    const FolderRecord& Record(const std::string& path) {
        const FolderRecord* found = nullptr;
        results.Read([&](const AnalysisData& d) {
            for (const FolderRecord& f : d.folders)
                if (f.path == path) found = &f;
        });
        EXPECT_NE(found, nullptr) << path;
        static const FolderRecord none;
        return found != nullptr ? *found : none;
    }
    std::int32_t Count(WellKnownCategory c) { return results.counts()[c]; }

    AnalysisResults results;
    RecordingObserver observer;
    AnalysisCollector collector{results, observer};
};

TEST_F(Collector, TheWalkStartsAtTheRootRecordWithZeroCounts) {
    EXPECT_EQ(collector.currentPath(), "Personal Folders\\");
    EXPECT_EQ(collector.stackDepth(), 1u);
    const auto folders = results.folderSummaries();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].path, "Personal Folders\\");
    EXPECT_EQ(folders[0].nid, kRootNid);
    EXPECT_EQ(results.counts(), WellKnownCounts());
}

TEST_F(Collector, WithoutARootIdThereIsNoRootRecord) {
    collector.Begin(0);
    EXPECT_TRUE(results.folderSummaries().empty());
}

TEST_F(Collector, AFolderWithChildrenIsEnteredAndLeftWithItsPath) {
    Open("Inbox", 0x2182);
    EXPECT_EQ(collector.currentPath(), "Personal Folders\\Inbox\\");
    Open("Sub\\Odd", 0x80a2);  // a backslash in a name does not upset the climb
    EXPECT_EQ(collector.currentPath(), "Personal Folders\\Inbox\\Sub\\Odd\\");
    EXPECT_TRUE(collector.LeaveFolder());
    EXPECT_EQ(collector.currentPath(), "Personal Folders\\Inbox\\");
    EXPECT_TRUE(collector.LeaveFolder());
    EXPECT_TRUE(collector.LeaveFolder());  // the base entry
    EXPECT_FALSE(collector.LeaveFolder());
    EXPECT_EQ(observer.folders,
              (std::vector<std::pair<std::string, std::string>>{{"Personal Folders\\Inbox\\", "IPF.Note"},
                                                                {"Personal Folders\\Inbox\\Sub\\Odd\\", "IPF.Note"}}));
}

TEST_F(Collector, AFolderWithoutChildrenIsTreeOnlyAndNotEntered) {
    EXPECT_FALSE(collector.Classify(Folder("Empty", "IPF.Note"), {0x8022, kRootNid, false}));
    EXPECT_EQ(collector.currentPath(), "Personal Folders\\");
    EXPECT_EQ(collector.treeCount(), 1u);
    EXPECT_EQ(results.tree().front().path, "Personal Folders\\Empty\\");
    EXPECT_EQ(results.folderSummaries().size(), 2u);
}

TEST_F(Collector, MailFoldersAreTheNoteClassTheMailKindOrAFolderWithoutClass) {
    struct Case {
        std::string cls;
        bool attachment;
        bool mail;
    };
    const std::vector<Case> cases{{"IPF.Note", false, true},         {"IPF.Note.OutlookHomepage", false, true},
                                  {"", false, true},                 {"", true, false},
                                  {"IPF.Appointment", false, false}, {"IPF.Contact", false, false},
                                  {"IPF.Task", false, false},        {"IPF.Configuration", false, false}};
    std::uint32_t nid = 0x8002;
    for (const Case& c : cases) {
        auto folder = Folder("F" + std::to_string(nid), c.cls);
        if (c.attachment) folder->attachments.emplace_back();
        collector.Classify(std::move(folder), {nid, kRootNid, false});
        const auto folders = results.folderSummaries();
        EXPECT_EQ(folders.back().nid == nid, c.mail) << "class '" << c.cls << "'";
        nid += 0x20;
    }
    EXPECT_EQ(collector.treeCount(), cases.size());
}

TEST_F(Collector, AFolderKeepsFiftyMessagesAndCountsThemAll) {
    Open("Inbox", 0x2182);
    for (int i = 0; i < 51; ++i) Mail(0x2182);
    const FolderRecord& inbox = Record("Personal Folders\\Inbox\\");
    EXPECT_EQ(inbox.count, 51);
    EXPECT_EQ(inbox.messages.size(), 50u);
    EXPECT_EQ(Count(WellKnownCategory::Inbox), 51);
    ASSERT_FALSE(observer.counts.empty());
    EXPECT_EQ(observer.counts.back(), std::make_pair(WellKnownCategory::Inbox, 51));
}

TEST_F(Collector, SubfoldersAndFoldersThatMerelyBeginWithInboxCountUnderInbox) {
    Open("Inbox", 0x2182);
    Open("Old", 0x80a2);
    Mail(0x80a2);
    collector.LeaveFolder();
    collector.LeaveFolder();
    Open("Inboxes", 0x80c2);
    Mail(0x80c2);
    collector.LeaveFolder();
    Open("inbox", 0x80e2);  // prefixes are case-sensitive
    Mail(0x80e2);
    EXPECT_EQ(Count(WellKnownCategory::Inbox), 2);
    EXPECT_EQ(Record("Personal Folders\\inbox\\").count, 1);
}

TEST_F(Collector, EachMailPrefixCountsItsCategory) {
    const std::vector<std::pair<std::string, WellKnownCategory>> folders{
        {"Drafts", WellKnownCategory::Drafts},         {"Outbox", WellKnownCategory::Outbox},
        {"Sent Items", WellKnownCategory::SentItems},  {"Sync Issues", WellKnownCategory::SyncIssues},
        {"Deleted Items", WellKnownCategory::DeletedItems}, {"Junk E-mail", WellKnownCategory::JunkEmail}};
    std::uint32_t nid = 0x8002;
    for (const auto& [name, category] : folders) {
        Open(name, nid);
        Mail(nid);
        Mail(nid);
        collector.LeaveFolder();
        EXPECT_EQ(Count(category), 2) << name;
        nid += 0x20;
    }
    EXPECT_EQ(Count(WellKnownCategory::Inbox), 0);
    // Junk E-mail is not shown while walking.
    for (const auto& [category, value] : observer.counts) EXPECT_NE(category, WellKnownCategory::JunkEmail);
}

TEST_F(Collector, AMessageOutsideAnyMailFolderLandsInTheLastRecord) {
    Open("Sent Items", 0x21c2);
    collector.LeaveFolder();
    Open("Calendar", 0x8022, "IPF.Appointment");
    Mail(0x8022);
    EXPECT_EQ(Record("Personal Folders\\Sent Items\\").count, 1);
    EXPECT_EQ(Count(WellKnownCategory::SentItems), 1);
}

TEST_F(Collector, ItemsAreSortedByClassThenKindThenContactFields) {
    Open("Stuff", 0x8022, "IPF.Note");
    collector.Classify(Item("IPM.Task"), {0x4, 0x8022, false});
    collector.Classify(Item("IPM.Task.Custom"), {0x24, 0x8022, false});  // not a task: a mail
    collector.Classify(Item("IPM.StickyNote", "note"), {0x44, 0x8022, false});
    auto bareNote = Item("IPM.StickyNote");
    bareNote->messageFields.reset();
    collector.Classify(std::move(bareNote), {0x64, 0x8022, false});  // nothing to keep
    auto journal = Item("IPM.Activity", "call");
    journal->journalFields = std::make_unique<JournalFields>();
    journal->journalFields->logType = "Phone call";
    collector.Classify(std::move(journal), {0x84, 0x8022, false});
    collector.Classify(Item("IPM.Activity"), {0xa4, 0x8022, false});  // listed, not counted: no entry type
    auto appointment = Item("IPM.Appointment");
    appointment->appointmentFields = std::make_unique<AppointmentFields>();
    appointment->appointmentFields->location = "Room 1";
    collector.Classify(std::move(appointment), {0xc4, 0x8022, false});
    auto contact = Item("IPM.Contact");
    contact->contactFields = std::make_unique<ContactFields>();
    contact->contactFields->givenName = "Ann";
    collector.Classify(std::move(contact), {0xe4, 0x8022, false});
    auto mailWithContact = Item("IPM.Note");
    mailWithContact->contactFields = std::make_unique<ContactFields>();
    collector.Classify(std::move(mailWithContact), {0x104, 0x8022, false});
    auto otherWithContact = Item("IPM.Note.Custom");  // kind Mail as well
    otherWithContact->contactFields = std::make_unique<ContactFields>();
    collector.Classify(std::move(otherWithContact), {0x124, 0x8022, false});
    // A meeting request whose attachments alone gave it contact fields is
    // a message of its folder.
    auto invitation = Item("IPM.Schedule.Meeting.Request");
    invitation->contactFields = std::make_unique<ContactFields>();
    invitation->contactFields->language = "en-US";
    invitation->contactFieldsOnlyFromAttachments = true;
    collector.Classify(std::move(invitation), {0x144, 0x8022, false});

    const WellKnownCounts c = results.counts();
    EXPECT_EQ(c[WellKnownCategory::Tasks], 1);
    EXPECT_EQ(c[WellKnownCategory::Notes], 1);
    EXPECT_EQ(c[WellKnownCategory::Journal], 1);
    EXPECT_EQ(c[WellKnownCategory::Calendar], 1);
    EXPECT_EQ(c[WellKnownCategory::Contacts], 1);
    EXPECT_EQ(Record("Personal Folders\\Stuff\\").count, 4);
    results.Read([](const AnalysisData& d) {
        ASSERT_EQ(d.tasks.size(), 1u);
        ASSERT_EQ(d.notes.size(), 1u);
        EXPECT_EQ(d.notes[0].subject, "note");
        ASSERT_EQ(d.journal.size(), 2u);
        EXPECT_EQ(d.journal[0].entryType, "Phone call");
        EXPECT_EQ(d.journal[0].subject, "call");
        ASSERT_EQ(d.calendar.size(), 1u);
        EXPECT_EQ(d.calendar[0].location, "Room 1");
        ASSERT_NE(d.calendar[0].message, nullptr);
        ASSERT_EQ(d.contacts.size(), 1u);
        EXPECT_EQ(d.contacts[0].givenName, "Ann");
    });
}

TEST_F(Collector, AnEmptyRecordIsPassedOver) {
    EXPECT_FALSE(collector.Classify(std::make_unique<ItemRecord>(), {0x4, kRootNid, false}));
    EXPECT_FALSE(collector.Classify(nullptr, {0x4, kRootNid, false}));
    EXPECT_EQ(Record("Personal Folders\\").count, 0);
    EXPECT_EQ(collector.treeCount(), 0u);
}

TEST(MailFolderCategory, PrefixesArePlainAndCaseSensitive) {
    EXPECT_EQ(MailFolderCategory("Personal Folders\\Inbox\\"), WellKnownCategory::Inbox);
    EXPECT_EQ(MailFolderCategory("Personal Folders\\Inboxes\\"), WellKnownCategory::Inbox);
    EXPECT_EQ(MailFolderCategory("Personal Folders\\Junk E-mail\\"), WellKnownCategory::JunkEmail);
    EXPECT_EQ(MailFolderCategory("Personal Folders\\Junk E-Mail\\"), std::nullopt);
    EXPECT_EQ(MailFolderCategory("Personal Folders\\Archive\\Inbox\\"), std::nullopt);
    EXPECT_EQ(MailFolderCategory("Personal Folders\\"), std::nullopt);
}

TEST(AnalysisResultsLock, ReadersSeeConsistentListsWhileTheRunAppends) {
    AnalysisResults results;
    RecordingObserver observer;
    AnalysisCollector collector(results, observer);
    collector.Begin(kRootNid);
    ASSERT_TRUE(collector.Classify(Folder("Inbox", "IPF.Note"), {0x2182, kRootNid, true}));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            results.Read([](const AnalysisData& d) {
                const FolderRecord& inbox = d.folders.back();
                EXPECT_EQ(static_cast<std::int32_t>(inbox.messages.size()), std::min(inbox.count, kFolderKeptMessages));
                EXPECT_EQ(d.counts[WellKnownCategory::Inbox], inbox.count);
            });
        }
    });
    for (int i = 0; i < 2000; ++i) collector.Classify(Item("IPM.Note"), {0x4, 0x2182, false});
    done.store(true);
    reader.join();
    EXPECT_EQ(results.counts()[WellKnownCategory::Inbox], 2000);
}

}  // namespace
}  // namespace bm
