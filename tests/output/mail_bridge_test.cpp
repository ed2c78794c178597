// The mail bridge and the contact session write a real store that this
// project's reader, pypff and the store checker read back as written.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "output/bridge_texts.h"
#include "output/contact_session.h"
#include "output/item_time.h"
#include "output/mail_bridge.h"
#include "check/store_checker.h"
#include "output_readback.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::ReadBack;
using bmtest::ReadBackItem;
using bmtest::SubjectOf;

std::optional<FileTime> TimeOfBytes(const Bytes& raw) { return FileTimeOf(raw); }

constexpr FileTime FileTimeFromUnixForTest(std::int64_t seconds) { return (seconds + 11644473600LL) * 10000000LL; }

fs::path WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

class MailBridgeStore : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = bmtest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        path_ = dir_ / "bridge.pst";
        bridge_.Start();
        bridge_.CreateStore(path_.string(), name_);
    }
    std::string Folder(const std::string& rest) const { return "\\\\" + name_ + (rest.empty() ? "" : "\\" + rest); }

    fs::path dir_;
    fs::path path_;
    std::string name_ = "Bridge Test Store";
    MailBridge bridge_;
};

TEST_F(MailBridgeStore, FoldersAreCreatedLevelByLevelAndAnExistingOneIsLeftAlone) {
    bridge_.CreateFolder(Folder("Inbox"));
    bridge_.CreateFolder(Folder("Inbox\\Projects"));
    bridge_.CreateFolder(Folder("Inbox"));
    bridge_.CreateFolder(Folder("Deleted Items"));
    bridge_.CreateFolder(Folder("Calendar"));
    bridge_.CreateFolder(Folder("Diary"), "IPF.Journal");
    bridge_.Finish();

    const auto store = ReadBack(path_);
    EXPECT_EQ(store.folderClasses.count("Inbox"), 1u);
    EXPECT_EQ(store.folderClasses.count("Inbox\\Projects"), 1u);
    EXPECT_EQ(store.folderClasses.at("Calendar"), "IPF.Appointment");
    EXPECT_EQ(store.folderClasses.at("Diary"), "IPF.Journal");
    std::size_t deleted = 0;
    for (const auto& [path, cls] : store.folderClasses) deleted += path == "Deleted Items" ? 1 : 0;
    EXPECT_EQ(deleted, 1u);
    EXPECT_TRUE(CheckStore(path_).ok());
}

TEST_F(MailBridgeStore, ItemsLandInTheFolderOfTheirOwnPathWhateverCameBefore) {
    const std::vector<std::pair<std::string, std::string>> adds = {
        {"Notes", "n1"}, {"Notes", "n2"}, {"Notes\\Old", "o1"}, {"Notes", "n3"}, {"Old", "top-old"}, {"Notes\\Old", "o2"}};
    for (const auto& [folder, subject] : adds) bridge_.AddNote(Folder(folder), subject, "", "");
    // A path that fails between two of the same folder changes nothing.
    EXPECT_THROW(bridge_.AddNote("Notes", "bad", "", ""), std::invalid_argument);
    bridge_.AddNote(Folder("Notes"), "n4", "", "");
    bridge_.Finish();

    std::map<std::string, std::vector<std::string>> byFolder;
    for (const auto& item : ReadBack(path_).items) {
        if (item.record) byFolder[item.folder].push_back(SubjectOf(*item.record));
    }
    for (auto& [folder, subjects] : byFolder) std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(byFolder["Notes"], (std::vector<std::string>{"n1", "n2", "n3", "n4"}));
    EXPECT_EQ(byFolder["Notes\\Old"], (std::vector<std::string>{"o1", "o2"}));
    EXPECT_EQ(byFolder["Old"], (std::vector<std::string>{"top-old"}));
}

TEST_F(MailBridgeStore, ADeepChainCostsAboutOneFolderLookUpPerCallAndItsItemsLandWhereTheyBelong) {
    // Folder by folder, depth first, as the saving walk goes: each path is
    // its parent's and one level more. The work counted is the keyed
    // look-ups of a child folder, which grew with the square of the depth
    // when every call walked the path from the top.
    constexpr int kDepth = 400;
    std::vector<std::string> paths;  // below the store root, "L1\L2\..."
    std::string path;
    for (int level = 1; level <= kDepth; ++level) {
        path += (level > 1 ? "\\L" : "L") + std::to_string(level);
        paths.push_back(path);
        bridge_.CreateFolder(Folder(path));
        if (level % 100 == 0) bridge_.AddNote(Folder(path), "at " + std::to_string(level), "", "");
    }
    // Back up the chain: an ancestor, a new child of one, a path off it.
    bridge_.AddNote(Folder(paths[9]), "back at 10", "", "");
    bridge_.AddNote(Folder(paths[99] + "\\Side"), "side of 100", "", "");
    bridge_.AddNote(Folder(paths[kDepth - 1]), "at the bottom again", "", "");
    bridge_.AddNote(Folder("Other\\Deeper"), "elsewhere", "", "");
    const std::shared_ptr<OpenOutputStore> store = open_stores::Find(name_);
    ASSERT_NE(store, nullptr);
    const int calls = kDepth + kDepth / 100 + 4;
    EXPECT_LE(store->childLookups(), static_cast<std::uint64_t>(2 * calls))
        << "look-ups grow with the folders, not with their depth";
    bridge_.Finish();

    std::map<std::string, std::vector<std::string>> byFolder;
    for (const auto& item : ReadBack(path_).items) {
        if (item.record) byFolder[item.folder].push_back(SubjectOf(*item.record));
    }
    for (auto& [folder, subjects] : byFolder) std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(byFolder[paths[9]], (std::vector<std::string>{"back at 10"}));
    EXPECT_EQ(byFolder[paths[99]], (std::vector<std::string>{"at 100"}));
    EXPECT_EQ(byFolder[paths[99] + "\\Side"], (std::vector<std::string>{"side of 100"}));
    EXPECT_EQ(byFolder[paths[kDepth - 1]], (std::vector<std::string>{"at 400", "at the bottom again"}));
    EXPECT_EQ(byFolder["Other\\Deeper"], (std::vector<std::string>{"elsewhere"}));
    EXPECT_EQ(ReadBack(path_).folderClasses.count(paths[kDepth - 1]), 1u);
}

TEST_F(MailBridgeStore, AddMailTurnsItsTextsIntoProperties) {
    const fs::path header = WriteFile(dir_ / "Temp.eml", MakeHeaderLine(MakeSenderText("Ada Lovelace", "ada@example.org")));
    const fs::path a1 = WriteFile(dir_ / "notes.txt", "first attachment");
    const fs::path a2 = WriteFile(dir_ / "notes (2).txt", std::string(300000, 'z'));
    ItemTimeTexts when;
    FormatItemTime(FileTimeFromUnixForTest(1'780'000'009), when);
    bridge_.AddMail(Folder("Inbox"), "Quarterly report", MakeRecipientsText("Bob Brown; Cy Dee", "cy@example.org"),
                    header.string(), when.DateTime(), JoinFileList({a1.string(), a2.string()}),
                    std::string("<html><body><p>Hello</p></body></html>"), 1,
                    JoinFileList({"notes.txt", "Überblick;2024.txt"}), std::nullopt);
    bridge_.AddMail(Folder("Inbox"), "Plain one", "", (dir_ / "missing.eml").string(), "", std::nullopt,
                    std::string("just text"), 0);
    bridge_.Finish();

    const auto store = ReadBack(path_);
    const auto inbox = store.In("Inbox");
    ASSERT_EQ(inbox.size(), 2u);
    const ReadBackItem* html = SubjectOf(*inbox[0]->record) == "Quarterly report" ? inbox[0] : inbox[1];
    const ReadBackItem* plain = html == inbox[0] ? inbox[1] : inbox[0];
    const MessageFields& m = *html->record->messageFields;
    EXPECT_EQ(m.sentRepresentingName, "Ada Lovelace");
    EXPECT_EQ(m.sentRepresentingAddress, "ada@example.org");
    EXPECT_EQ(m.displayTo, "Bob Brown; Cy Dee");
    EXPECT_EQ(html->record->messageClass, "IPM.Note");
    EXPECT_EQ(TimeOfBytes(m.deliveryTime), FileTimeFromUnixForTest(1'780'000'009));
    EXPECT_EQ(TimeOfBytes(m.submitTime), FileTimeFromUnixForTest(1'780'000'009));
    const std::string htmlText(m.htmlBody.begin(), m.htmlBody.end());
    EXPECT_NE(htmlText.find("<p>Hello</p>"), std::string::npos);
    ASSERT_EQ(html->record->attachments.size(), 2u);
    std::map<std::string, std::size_t> sizes;
    for (std::size_t i = 0; i < 2; ++i)
        sizes[html->record->attachments[i].longFileName] = html->attachmentData[i].size();
    EXPECT_EQ(sizes["notes.txt"], 16u);
    EXPECT_EQ(sizes["Überblick;2024.txt"], 300000u);

    EXPECT_EQ(plain->record->messageFields->body, "just text");
    EXPECT_TRUE(plain->record->messageFields->htmlBody.empty());
    EXPECT_TRUE(plain->record->messageFields->sentRepresentingName.empty());
    EXPECT_TRUE(plain->record->messageFields->deliveryTime.empty());
    EXPECT_TRUE(CheckStore(path_).ok());
}

TEST_F(MailBridgeStore, MessageClassAndNoteAndJournalKeepTheirOwnClass) {
    bridge_.AddMail(Folder("Inbox"), "Undeliverable", "", "", "", std::nullopt, std::nullopt, 0, std::nullopt,
                    std::string("REPORT.IPM.Note.NDR"));
    bridge_.AddNote(Folder("Notes"), "Buy milk", "two litres", "3/4/2025 10.11.12");
    bridge_.AddJournal(Folder("Journal"), "Call with Ada", "talked", "3/4/2025 10.11.12", "Phone call");
    bridge_.Finish();

    const auto store = ReadBack(path_);
    ASSERT_EQ(store.In("Notes").size(), 1u);
    ASSERT_EQ(store.In("Journal").size(), 1u);
    EXPECT_EQ(store.In("Inbox")[0]->record->messageClass, "REPORT.IPM.Note.NDR");
    const ItemRecord& note = *store.In("Notes")[0]->record;
    EXPECT_EQ(note.messageClass, "IPM.StickyNote");
    EXPECT_EQ(SubjectOf(note), "Buy milk");
    EXPECT_EQ(note.messageFields->body, "two litres");
    EXPECT_EQ(TimeOfBytes(note.messageFields->deliveryTime), ParseItemDateTime("3/4/2025 10.11.12"));
    const ItemRecord& journal = *store.In("Journal")[0]->record;
    EXPECT_EQ(journal.messageClass, "IPM.Activity");
    EXPECT_EQ(journal.kind, ItemKind::Journal);
    ASSERT_TRUE(journal.journalFields);
    EXPECT_EQ(journal.journalFields->logType, "Phone call");
    EXPECT_EQ(store.folderClasses.at("Notes"), "IPF.StickyNote");
}

TEST_F(MailBridgeStore, AppointmentKeepsStartEndAndLocationAndTaskItsDueDate) {
    bridge_.AddAppointment(Folder("Calendar"), "Design review", "agenda", "5/6/2026 9.30.0", "5/6/2026 11.0.0",
                           "Room 4");
    bridge_.AddTask(Folder("Tasks"), "write it", "Ada", "Finish chapter", "7/6/2026 17.0.0");
    bridge_.AddTask(std::nullopt, "no folder given", "", "Loose task");
    bridge_.Finish();

    const auto store = ReadBack(path_);
    ASSERT_EQ(store.In("Calendar").size(), 1u);
    const ItemRecord& a = *store.In("Calendar")[0]->record;
    EXPECT_EQ(a.kind, ItemKind::Appointment);
    EXPECT_EQ(SubjectOf(a), "Design review");
    EXPECT_EQ(a.messageFields->body, "agenda");
    ASSERT_TRUE(a.appointmentFields);
    EXPECT_EQ(TimeOfBytes(a.appointmentFields->clipStart), ParseItemDateTime("5/6/2026 9.30.0"));
    EXPECT_EQ(TimeOfBytes(a.appointmentFields->clipEnd), ParseItemDateTime("5/6/2026 11.0.0"));
    EXPECT_EQ(a.appointmentFields->location, "Room 4");
    const auto tasks = store.In("Tasks");
    ASSERT_EQ(tasks.size(), 2u);
    for (const auto* t : tasks) {
        EXPECT_EQ(t->record->messageClass, "IPM.Task");
        if (SubjectOf(*t->record) == "Finish chapter") {
            EXPECT_EQ(TimeOfBytes(t->record->messageFields->deliveryTime), ParseItemDateTime("7/6/2026 17.0.0"));
            EXPECT_EQ(t->record->messageFields->body, "write it");
        } else {
            EXPECT_EQ(SubjectOf(*t->record), "Loose task");
        }
    }
}

TEST_F(MailBridgeStore, ASecondCreateStoreBeforeAnyContentRenamesTheStore) {
    bridge_.CreateStore(path_.string(), "Renamed Store(1)");
    EXPECT_NE(open_stores::Find("Renamed Store(1)"), nullptr);
    EXPECT_EQ(open_stores::Find(name_), nullptr);
    bridge_.CreateFolder("\\\\Renamed Store(1)\\Inbox");
    bridge_.Finish();
    EXPECT_EQ(open_stores::Find("Renamed Store(1)"), nullptr);

    StoreFile store;
    StoreReader reader;
    ASSERT_EQ(OpenStore(store, path_, StoreOpenMode::SharedRead), 0);
    ASSERT_EQ(BuildIndexes(store, reader), 0);
    const NodeEntry* storeObject = FindNode(store, 0x21);
    ASSERT_NE(storeObject, nullptr);
    const auto record = ReadItem(store, *storeObject, &reader);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->displayName, "Renamed Store(1)");
}

TEST_F(MailBridgeStore, AnAddForAnUnknownStoreFailsLoudly) {
    EXPECT_THROW(bridge_.AddNote("\\\\No Such Store\\Notes", "x", "", ""), std::invalid_argument);
    EXPECT_THROW(bridge_.AddNote("Personal Folders\\Notes", "x", "", ""), std::invalid_argument);
    MailBridge unstarted;
    EXPECT_THROW(unstarted.CreateStore((dir_ / "x.pst").string(), "X"), std::logic_error);
    bridge_.Finish();
}

TEST_F(MailBridgeStore, ContactSessionReachesTheBridgesStoreAndSavesPutsByDispid) {
    namespace d = contact_dispid;
    bridge_.CreateFolder(Folder("Contacts"));
    bridge_.CreateFolder(Folder("Friends"), "IPF.Contact");
    {
        ContactSession session;
        session.Logon("", "", "", "", "", "");
        const auto folder = session.GetFolderFromPath(Folder("Contacts"));
        ASSERT_TRUE(folder.has_value());
        ContactItem item = folder->Items().Add(kContactItemKind);
        item.Put(d::kFullName, "Grace Hopper");
        item.Put(d::kGivenName, "G.");
        item.Put(d::kSurname, "Hopper");
        item.Put(d::kGivenName, "Grace");  // a later put of the same DISPID wins
        item.Put(d::kEmail, "grace@navy.example");
        item.Put(d::kCompanyName, "US Navy");
        item.Put(d::kMobilePhone, "+1 555 0100");
        item.Put(d::kPostalAddress, "1 Main St");
        item.Put(d::kWorkAddress, "Pentagon");
        item.Put(d::kGender, 1);
        item.Put(d::kBody, "pioneer");
        item.Save();
        EXPECT_THROW(item.Save(), std::logic_error);
        EXPECT_THROW(item.Put(d::kGender, "one"), std::invalid_argument);
        EXPECT_THROW(item.Put(0x12345678u, "x"), std::invalid_argument);
        EXPECT_THROW(folder->Items().Add(1), std::invalid_argument);
    }
    {
        ContactSession session;
        EXPECT_FALSE(session.GetFolderFromPath(Folder("Contacts")).has_value()) << "before Logon";
        session.Logon();
        EXPECT_FALSE(session.GetFolderFromPath(Folder("Nowhere")).has_value());
        const auto friends = session.GetFolderFromPath(Folder("Friends"));
        ASSERT_TRUE(friends.has_value());
        ContactItem item = friends->Items().Add(kContactItemKind);
        item.Put(d::kFullName, "Alan Turing");
        item.Save();
    }
    bridge_.Finish();
    ContactSession after;
    after.Logon();
    EXPECT_FALSE(after.GetFolderFromPath(Folder("Contacts")).has_value()) << "a finished store is closed";

    const auto store = ReadBack(path_);
    ASSERT_EQ(store.In("Contacts").size(), 1u);
    const ItemRecord& c = *store.In("Contacts")[0]->record;
    EXPECT_EQ(c.messageClass, "IPM.Contact");
    EXPECT_EQ(c.kind, ItemKind::Contact);
    EXPECT_EQ(c.displayName, "Grace Hopper");
    EXPECT_EQ(SubjectOf(c), "Grace Hopper");
    ASSERT_TRUE(c.contactFields);
    EXPECT_EQ(c.contactFields->givenName, "Grace");
    EXPECT_EQ(c.contactFields->surname, "Hopper");
    EXPECT_EQ(c.contactFields->email, "grace@navy.example");
    EXPECT_EQ(c.contactFields->companyName, "US Navy");
    EXPECT_EQ(c.contactFields->mobilePhone, "+1 555 0100");
    EXPECT_EQ(c.contactFields->postalAddress, "1 Main St");
    EXPECT_EQ(c.contactFields->workAddress, "Pentagon");
    EXPECT_EQ(c.contactFields->gender, 1);
    EXPECT_EQ(c.messageFields->body, "pioneer");
    ASSERT_EQ(store.In("Friends").size(), 1u);
    EXPECT_EQ(store.folderClasses.at("Friends"), "IPF.Contact");
}

TEST_F(MailBridgeStore, PypffAndTheStoreCheckerSeeWhatTheBridgeWrote) {
    if (!bmtest::HavePypff()) GTEST_SKIP() << "python3-pypff not installed";
    const fs::path header = WriteFile(dir_ / "Temp.eml", MakeHeaderLine("Zoë<zoe@example.org>"));
    const fs::path blob = WriteFile(dir_ / "blob.bin", std::string(5 * 1024 * 1024 + 3, '\x7f'));
    bridge_.AddMail(Folder("Inbox\\Sub"), "Ünïcödé subject ✓", "x@y.z", header.string(), "1/2/2027 9.3.4",
                    JoinFileList({blob.string()}), std::string("body"), 0, JoinFileList({"données.bin"}));
    bridge_.AddNote(Folder("Notes"), "note", "", "");
    bridge_.Finish();

    const nlohmann::json dump = bmtest::PypffDump(path_);
    ASSERT_TRUE(dump.is_object()) << dump.dump();
    ASSERT_TRUE(dump.contains("Inbox\\Sub"));
    const auto& items = dump["Inbox\\Sub"];
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["subject"], "Ünïcödé subject ✓");
    ASSERT_EQ(items[0]["attachments"].size(), 1u);
    EXPECT_EQ(items[0]["attachments"][0][0], "données.bin");
    EXPECT_EQ(items[0]["attachments"][0][1], 5 * 1024 * 1024 + 3);
    ASSERT_EQ(dump["Notes"].size(), 1u);
    EXPECT_EQ(dump["Notes"][0]["class"], "IPM.StickyNote");
    const CheckReport report = CheckStore(path_, {.strictReferenceCounts = true});
    EXPECT_TRUE(report.ok()) << (report.findings.empty() ? "" : FormatFinding(report.findings[0]));
}

}  // namespace
}  // namespace bm
