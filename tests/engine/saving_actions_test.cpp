// The saving actions over a real writer: what is written where and what is
// counted, read back from the new store.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "engine/saving_actions.h"
#include "output/output_readback.h"
#include "output/save_to_pst.h"
#include "check/store_checker.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::ReadBack;
using bmtest::SubjectOf;

std::unique_ptr<ItemRecord> Item(const std::string& cls, ItemKind kind, const std::string& subject) {
    auto r = std::make_unique<ItemRecord>();
    r->messageClass = cls;
    r->kind = kind;
    r->messageFields = std::make_unique<MessageFields>();
    r->messageFields->subject = std::make_unique<SubjectParts>();
    r->messageFields->subject->text = subject;
    return r;
}

ItemRecord Folder(const std::string& name, const std::string& cls = "IPF.Note") {
    ItemRecord f;
    f.displayName = name;
    f.messageClass = cls;
    f.folderCounts = std::make_unique<FolderCounts>();
    return f;
}

class Saving : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = bmtest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void Open(std::uint64_t limit = kDefaultStoreSizeLimit) {
        SaveOptions o;
        o.sourceFileName = "outlook.ost";
        o.defaultDirectory = dir_;
        o.tempDirectory = dir_ / "tmp";
        o.storeSizeLimit = limit;
        writer_ = std::make_unique<USave_to_PST_Format>(o);
        ASSERT_EQ(writer_->CreateOutputStore({}), std::nullopt);
        actions_ = std::make_unique<SavingActions>(*writer_, store_, selected_, status_, kTop);
    }
    // The walk enters the folder at `path` below the folder of the path
    // before its name (the top when there is none).
    void Enter(const std::string& path, std::uint32_t nid, const std::string& cls = "IPF.Note") {
        const std::size_t cut = path.rfind('\\', path.size() - 2);
        const auto parent = entered_.find(path.substr(0, cut + 1));
        NodeEntry& node = nodes_.emplace_back();
        node.nid = nid;
        actions_->FolderEntered(Folder(path.substr(cut + 1, path.size() - cut - 2), cls), node,
                                parent != entered_.end() ? parent->second : kTop, path);
        entered_[path] = nid;
    }
    // An item of folder `nid` read while the walk is in `open` (the same
    // folder unless given).
    void Read(ItemRecord& item, std::uint32_t nid, const std::string& path, std::uint32_t open = 0) {
        actions_->ItemRead(item, nid, open != 0 ? open : nid, path);
    }
    bmtest::ReadBackStore Finish() {
        writer_->Finish();
        return ReadBack(writer_->outputStorePath());
    }

    fs::path dir_;
    StoreFile store_;
    SelectedFolders selected_;
    SavingStatus status_;
    std::unique_ptr<USave_to_PST_Format> writer_;
    std::unique_ptr<SavingActions> actions_;
    static constexpr std::uint32_t kTop = 0x22;
    std::deque<NodeEntry> nodes_;
    std::map<std::string, std::uint32_t> entered_;
};

TEST_F(Saving, ACheckedFolderDoesNotSaveTheMessagesOfAnUncheckedSubfolder) {
    selected_.Select("Personal Folders\\Inbox\\");
    Open();
    Enter("Personal Folders\\Inbox\\", 0x102);
    Read(*Item("IPM.Note", ItemKind::Mail, "top"), 0x102, "Personal Folders\\Inbox\\");
    Enter("Personal Folders\\Inbox\\Sub\\", 0x202);
    Read(*Item("IPM.Note", ItemKind::Mail, "below"), 0x202, "Personal Folders\\Inbox\\Sub\\");
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Inbox], 1);
    EXPECT_EQ(status_.Snapshot().statusFolderText, "Personal Folders\\Inbox\\");
    EXPECT_EQ(status_.Snapshot().statusCountText, "1");
    const auto store = Finish();
    ASSERT_EQ(store.In("Inbox").size(), 1u);
    EXPECT_EQ(SubjectOf(*store.In("Inbox")[0]->record), "top");
    EXPECT_EQ(store.folderClasses.count("Inbox\\Sub"), 0u);
}

TEST_F(Saving, ContactsInAnySelectedFolderAreWrittenAndCounted) {
    selected_.Select("Personal Folders\\Friends\\");
    selected_.Select("Personal Folders\\Contacts\\");
    Open();
    for (const auto& [path, nid] : {std::pair{std::string("Personal Folders\\Friends\\"), 0x302u},
                                    std::pair{std::string("Personal Folders\\Contacts\\"), 0x402u}}) {
        Enter(path, nid, "IPF.Contact");
        auto contact = Item("IPM.Contact", ItemKind::Contact, "c " + path);
        contact->contactFields = std::make_unique<ContactFields>();
        contact->contactFields->surname = "Doe";
        Read(*contact, nid, path);
    }
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Contacts], 2);
    const auto store = Finish();
    EXPECT_EQ(store.In("Friends").size(), 1u);
    EXPECT_EQ(store.In("Contacts").size(), 1u);
}

TEST_F(Saving, NotesAndJournalItemsAreWrittenAndCountedAsTheAnalysisCountsThem) {
    selected_.Select("Personal Folders\\Notes\\");
    selected_.Select("Personal Folders\\Journal\\");
    Open();
    Enter("Personal Folders\\Notes\\", 0x502, "IPF.StickyNote");
    Read(*Item("IPM.StickyNote", ItemKind::StickyNote, "note"), 0x502, "Personal Folders\\Notes\\");
    Enter("Personal Folders\\Journal\\", 0x602, "IPF.Journal");
    auto typed = Item("IPM.Activity", ItemKind::Journal, "typed");
    typed->journalFields = std::make_unique<JournalFields>();
    typed->journalFields->logType = "Phone call";
    Read(*typed, 0x602, "Personal Folders\\Journal\\");
    Read(*Item("IPM.Activity", ItemKind::Journal, "untyped"), 0x602, "Personal Folders\\Journal\\");
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Notes], 1);
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Journal], 1) << "counted only with an entry type";
    const auto store = Finish();
    EXPECT_EQ(store.In("Notes").size(), 1u);
    EXPECT_EQ(store.In("Journal").size(), 2u) << "both are written";
}

TEST_F(Saving, AnItemAfterASubfolderGoesIntoItsOwnFolder) {
    selected_.SelectAll({"Personal Folders\\Calendar\\", "Personal Folders\\Calendar\\Holidays\\"});
    Open();
    Enter("Personal Folders\\Calendar\\", 0x702, "IPF.Appointment");
    Enter("Personal Folders\\Calendar\\Holidays\\", 0x802, "IPF.Appointment");
    Read(*Item("IPM.Appointment", ItemKind::Appointment, "holiday"), 0x802, "Personal Folders\\Calendar\\Holidays\\");
    // The walk climbed back out of Holidays.
    Read(*Item("IPM.Appointment", ItemKind::Appointment, "meeting"), 0x702, "Personal Folders\\Calendar\\");
    Enter("Personal Folders\\Tasks\\", 0x902, "IPF.Task");
    Read(*Item("IPM.Task", ItemKind::Task, "not selected here"), 0x902, "Personal Folders\\Tasks\\");
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Calendar], 2);
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Tasks], 0);
    const auto store = Finish();
    ASSERT_EQ(store.In("Calendar").size(), 1u);
    EXPECT_EQ(SubjectOf(*store.In("Calendar")[0]->record), "meeting");
    ASSERT_EQ(store.In("Calendar\\Holidays").size(), 1u);
    EXPECT_EQ(SubjectOf(*store.In("Calendar\\Holidays")[0]->record), "holiday");
}

TEST_F(Saving, AMailIsWrittenIntoItsParentFolderAndCountedByItsPath) {
    selected_.SelectAll({"Personal Folders\\Sent Items\\", "Personal Folders\\Calendar\\"});
    Open();
    Enter("Personal Folders\\Sent Items\\", 0xA02);
    Enter("Personal Folders\\Calendar\\", 0xB02, "IPF.Appointment");
    // Read while the walk is in the calendar: it goes to its own folder.
    Read(*Item("IPM.Note", ItemKind::Mail, "sent"), 0xA02, "Personal Folders\\Sent Items\\", 0xB02);
    Read(*Item("IPM.Schedule.Meeting.Request", ItemKind::Other, "invite"), 0xB02,
                       "Personal Folders\\Calendar\\");
    EXPECT_EQ(actions_->saved()[WellKnownCategory::SentItems], 1);
    const auto store = Finish();
    EXPECT_EQ(store.In("Sent Items").size(), 1u);
    ASSERT_EQ(store.In("Calendar").size(), 1u) << "a mail in a calendar stays in the calendar";
    EXPECT_EQ(store.In("Calendar")[0]->record->messageClass, "IPM.Schedule.Meeting.Request");
}

TEST_F(Saving, AMeetingRequestWhoseAttachmentsAloneGaveItContactFieldsIsSavedAsAMailWithItsAttachments) {
    selected_.Select("Personal Folders\\Inbox\\");
    Open();
    Enter("Personal Folders\\Inbox\\", 0xC02);
    auto invitation = Item("IPM.Schedule.Meeting.Request", ItemKind::Other, "invitation");
    invitation->contactFields = std::make_unique<ContactFields>();
    invitation->contactFields->language = "en-US";
    invitation->contactFieldsOnlyFromAttachments = true;
    AttachmentRecord agenda;
    agenda.longFileName = "agenda.pdf";
    const std::string bytes = "agenda bytes";
    agenda.data.assign(bytes.begin(), bytes.end());
    agenda.hasData = true;
    agenda.size = static_cast<std::int32_t>(bytes.size());
    agenda.dataBid = kAttachmentDataInRecord;
    invitation->attachments.push_back(agenda);
    Read(*invitation, 0xC02, "Personal Folders\\Inbox\\");
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Inbox], 1);
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Contacts], 0);
    const auto store = Finish();
    ASSERT_EQ(store.In("Inbox").size(), 1u);
    const auto& saved = *store.In("Inbox")[0];
    EXPECT_EQ(saved.record->messageClass, "IPM.Schedule.Meeting.Request");
    ASSERT_EQ(saved.attachmentData.size(), 1u);
    EXPECT_EQ(std::string(saved.attachmentData[0].begin(), saved.attachmentData[0].end()), bytes);
}

TEST_F(Saving, AfterAStoreSwitchEachMailIsInExactlyOnePart) {
    selected_.Select("Personal Folders\\Inbox\\");
    Open(200 * 1024);
    Enter("Personal Folders\\Inbox\\", 0x102);
    for (int i = 0; i < 6; ++i) {
        auto mail = Item("IPM.Note", ItemKind::Mail, "mail " + std::to_string(i));
        AttachmentRecord a;
        a.fileName = "blob.bin";
        a.data.assign(90 * 1024, static_cast<std::uint8_t>(i));
        a.hasData = true;
        a.dataBid = kAttachmentDataInRecord;
        mail->attachments.push_back(std::move(a));
        Read(*mail, 0x102, "Personal Folders\\Inbox\\");
    }
    writer_->Finish();
    EXPECT_EQ(actions_->saved()[WellKnownCategory::Inbox], 6);
    ASSERT_GE(writer_->outputStores().size(), 2u);
    std::set<std::string> subjects;
    std::size_t total = 0;
    for (const fs::path& p : writer_->outputStores()) {
        EXPECT_TRUE(CheckStore(p).ok()) << p;
        const auto back = ReadBack(p);
        for (const auto* item : back.In("Inbox")) {
            subjects.insert(SubjectOf(*item->record));
            ++total;
        }
    }
    EXPECT_EQ(subjects.size(), 6u);
    EXPECT_EQ(total, 6u) << "each mail is in exactly one part";
}

}  // namespace
}  // namespace bm
