// USave_to_PST_Format: names, folders and every kind of item written from
// its item record (an item without a node to copy it from), read back from
// the store it wrote; the store switch with a small injected limit.
#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>
#include <map>

#include "output/item_time.h"
#include "output/save_to_pst.h"
#include "check/store_checker.h"
#include "store/nid_types.h"
#include "output_readback.h"
#include "support/calendar_time.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::ReadBack;
using bmtest::SubjectOf;

constexpr FileTime FromUnix(std::int64_t seconds) { return (seconds + 11644473600LL) * 10000000LL; }

Bytes TimeBytes(FileTime t) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(t) >> (8 * i));
    return b;
}

std::tm Feb1st2027() { return bmtest::CalendarTime(2027, 2, 1, 9, 3, 4); }

std::unique_ptr<ItemRecord> Mail(const std::string& subject) {
    auto r = std::make_unique<ItemRecord>();
    r->kind = ItemKind::Mail;
    r->messageClass = "IPM.Note";
    r->messageFields = std::make_unique<MessageFields>();
    r->messageFields->subject = std::make_unique<SubjectParts>();
    r->messageFields->subject->text = subject;
    return r;
}

AttachmentRecord Attached(const std::string& shortName, const std::string& longName, const std::string& bytes) {
    AttachmentRecord a;
    a.fileName = shortName;
    a.longFileName = longName;
    a.data.assign(bytes.begin(), bytes.end());
    a.hasData = true;
    a.size = static_cast<std::int32_t>(bytes.size());
    a.dataBid = kAttachmentDataInRecord;
    return a;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

class Writer : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = bmtest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        writer_ = std::make_unique<USave_to_PST_Format>(Options());
    }
    SaveOptions Options() {
        SaveOptions o;
        o.sourceFileName = "outlook.ost";
        o.defaultDirectory = dir_ / "Repair";
        o.tempDirectory = dir_ / "tmp";
        o.localClock = Feb1st2027;
        return o;
    }
    fs::path Create() {
        EXPECT_EQ(writer_->CreateOutputStore(dir_ / "out"), std::nullopt);
        folders_.clear();
        return writer_->outputStorePath();
    }
    // The output folder at `path` below the top ("Inbox\\Sub"), each level
    // opened once; `containerClass` for the last level.
    OutputFolderHandle FolderAt(const std::string& path, const std::string& containerClass = {}) {
        OutputFolderHandle parent = kTopOutputFolder;
        std::size_t at = 0;
        while (at < path.size()) {
            std::size_t end = path.find('\\', at);
            if (end == std::string::npos) end = path.size();
            const std::string upTo = path.substr(0, end);
            auto known = folders_.find(upTo);
            if (known == folders_.end()) {
                SinkFolder f;
                f.name = std::string_view(path).substr(at, end - at);
                f.parent = parent;
                if (end == path.size()) f.containerClass = containerClass;
                known = folders_.emplace(upTo, writer_->OpenFolder(f, source_)).first;
            }
            parent = known->second;
            at = end + 1;
        }
        return parent;
    }
    void Save(ItemRecord& item, const std::string& folder) { writer_->AddItem(item, source_, FolderAt(folder)); }

    fs::path dir_;
    StoreFile source_;  // attachments in these tests hold their bytes
    std::unique_ptr<USave_to_PST_Format> writer_;
    std::map<std::string, OutputFolderHandle> folders_;
    OutputFolderHandle current_ = kTopOutputFolder;
};

TEST(OutputNaming, TimestampHasNoLeadingZeros) { EXPECT_EQ(OutputTimestamp(Feb1st2027()), "1-2-2027 9-3-4"); }

TEST(OutputNaming, TheSourceExtensionIsDroppedWhateverItsCase) {
    EXPECT_EQ(OutputStoreName("outlook.ost", "7-12-2026 14-5-9"), "outlook7-12-2026 14-5-9.pst");
    EXPECT_EQ(OutputStoreName("OUTLOOK.OST", "1-2-2027 9-3-4"), "OUTLOOK1-2-2027 9-3-4.pst");
    EXPECT_EQ(OutputStoreName("x.pst", "T"), "xT.pst");
    EXPECT_EQ(OutputStoreName("Jane Doe (work).OST", "T"), "Jane Doe (work)T.pst");
    EXPECT_EQ(OutputStoreName("unicode-enron.pst", "T"), "unicode-enronT.pst");
}

TEST(OutputNaming, ABackupCopyLosesBothItsExtensionsAndStaysAPst) {
    EXPECT_EQ(OutputStoreName("outlook.ost.bak", "T"), "outlookT.pst");
    EXPECT_EQ(OutputStoreName("my.mail.ost", "T"), "my.mailT.pst");
    EXPECT_EQ(OutputStoreName("outlook", "T"), "outlookT.pst");
    EXPECT_EQ(OutputStoreName("notes.txt", "T"), "notesT.pst");
}

TEST(OutputNaming, ATakenNameGetsTheFirstFreeNumber) {
    const fs::path dir = bmtest::ScratchDir("OutputNamingTaken");
    const fs::path wanted = dir / "outT.pst";
    EXPECT_EQ(FreeOutputPath(wanted), wanted);
    { std::ofstream(wanted) << "x"; }
    EXPECT_EQ(FreeOutputPath(wanted), dir / "outT (2).pst");
    { std::ofstream(dir / "outT (2).pst") << "x"; }
    EXPECT_EQ(FreeOutputPath(wanted), dir / "outT (3).pst");
}

TEST(OutputNaming, LaterPartsSitNextToTheFirst) {
    EXPECT_EQ(StorePartPath("/out/outlookT.pst", 2), fs::path("/out/outlookT (part 2).pst"));
    EXPECT_EQ(StorePartPath("/out/outlookT.pst", 3), fs::path("/out/outlookT (part 3).pst"));
}

TEST_F(Writer, OutputStoreIsNamedAfterTheSourceWithTheTimestamp) {
    const std::uint32_t before = USave_to_PST_Format::StoreCount();
    const fs::path path = Create();
    EXPECT_EQ(path, dir_ / "out" / "outlook1-2-2027 9-3-4.pst");
    EXPECT_TRUE(fs::exists(PartialPath(path)));  // its name comes when it is finished
    EXPECT_EQ(writer_->storeDisplayName(), "Brightmend_Personal_Folder1-2-2027 9-3-4");
    EXPECT_EQ(USave_to_PST_Format::StoreCount(), before + 1);
    writer_->Finish();
    EXPECT_TRUE(CheckStore(path).ok());
}

TEST_F(Writer, WithoutADirectoryTheDefaultOneIsCreatedAndUsed) {
    ASSERT_EQ(writer_->CreateOutputStore({}), std::nullopt);
    EXPECT_EQ(writer_->outputStorePath(), dir_ / "Repair" / "outlook1-2-2027 9-3-4.pst");
    EXPECT_TRUE(fs::exists(PartialPath(writer_->outputStorePath())));
}

TEST_F(Writer, AStoreThatCannotBeCreatedIsReportedNotFatal) {
    std::ofstream(dir_ / "blocker") << "a file, not a directory";
    const auto message = writer_->CreateOutputStore(dir_ / "blocker" / "out");
    ASSERT_TRUE(message.has_value());
    EXPECT_TRUE(message->starts_with(kCannotCreateOutputStore)) << *message;
    EXPECT_THROW(writer_->OpenFolder(SinkFolder{}, source_), std::logic_error);
}

// One folder per OpenFolder, below its parent's: same-named siblings stay
// apart, the first "Deleted Items" is the new store's own, an untitled
// folder gets a name, and a name holding "\\" stays one folder.
TEST_F(Writer, EveryOpenedFolderIsAFolderOfItsOwnBelowItsParent) {
    const fs::path path = Create();
    const struct {
        const char* name;
        const char* containerClass;
        int parent;  // index of an earlier row; -1: the top
    } opened[] = {{"Inbox", "", -1},        {"Archive", "", -1}, {"2024", "", 1},
                  {"People", "IPF.Contact", -1}, {"Inbox", "IPF.Task", -1}, {"Deleted Items", "", -1},
                  {"", "", 1},              {"A\\B", "", -1}};
    std::vector<OutputFolderHandle> handles;
    for (const auto& o : opened) {
        SinkFolder f;
        f.name = o.name;
        f.containerClass = o.containerClass;
        f.parent = o.parent < 0 ? kTopOutputFolder : handles[static_cast<std::size_t>(o.parent)];
        handles.push_back(writer_->OpenFolder(f, source_));
    }
    EXPECT_EQ(std::set<OutputFolderHandle>(handles.begin(), handles.end()).size(), handles.size());
    EXPECT_THROW(writer_->AddItem(*Mail("nowhere"), source_, 99), std::invalid_argument);
    writer_->AddItem(*Mail("in the task inbox"), source_, handles[4]);
    writer_->Finish();

    const auto store = ReadBack(path);
    std::multiset<std::string> paths;
    for (const auto& [p, cls] : store.folderClasses) paths.insert(p);
    EXPECT_EQ(store.folderClasses.at("People"), "IPF.Contact");
    EXPECT_EQ(store.folderClasses.at("Archive\\2024"), "IPF.Note");
    EXPECT_TRUE(store.folderClasses.contains("Archive\\" + std::string(kUntitledFolderName)));
    EXPECT_TRUE(store.folderClasses.contains("A\\B"));
    // Two folders named Inbox: the read-back keys them by path, so the
    // second one's item tells them apart.
    ASSERT_EQ(store.In("Inbox").size(), 1u);
    EXPECT_EQ(SubjectOf(*store.In("Inbox")[0]->record), "in the task inbox");
    EXPECT_EQ(paths.count("Deleted Items"), 1u) << "the store's own Deleted Items is taken";
    EXPECT_TRUE(CheckStore(path).ok());
}

TEST(MailBodyChoice, HtmlWinsThenRtfTextThenTheLongestPlainText) {
    ItemRecord r;
    r.messageFields = std::make_unique<MessageFields>();
    MessageFields& m = *r.messageFields;
    m.body = "short";
    m.bodyText = "the longer rtf text";
    EXPECT_EQ(ChooseMailBody(r).text, "the longer rtf text");
    EXPECT_EQ(ChooseMailBody(r).htmlFlag, 0);
    m.body = "an even longer plain body";
    EXPECT_EQ(ChooseMailBody(r).text, "an even longer plain body");
    m.rtfFlag = 1;
    EXPECT_EQ(ChooseMailBody(r).text, "the longer rtf text");
    const std::string html = "<html>" + std::string(600'000, 'h') + "</html>";
    m.htmlBody.assign(html.begin(), html.end());
    EXPECT_EQ(ChooseMailBody(r).htmlFlag, 1);
    EXPECT_EQ(ChooseMailBody(r).text, html) << "a body of 500,000 characters or more is passed";
}

TEST(MailBodyChoice, NamedTextsOnlyWhenThereIsNoBody) {
    MessageFields m;
    const std::u16string wide = u"named body text";
    m.namedText1.assign(reinterpret_cast<const std::uint8_t*>(wide.data()),
                        reinterpret_cast<const std::uint8_t*>(wide.data()) + wide.size() * 2);
    m.namedText2 = {'x'};
    EXPECT_EQ(PlainBodyText(m), "named body text");
    m.body = "b";
    EXPECT_EQ(PlainBodyText(m), "b");
    ItemRecord none;
    EXPECT_FALSE(ChooseMailBody(none).text.has_value());
}

TEST(MailBodyChoice, EightBitHtmlIsConvertedFromItsCodePage) {
    ItemRecord r;
    r.codePage = 1252;
    r.messageFields = std::make_unique<MessageFields>();
    r.messageFields->htmlBody = {'<', 'p', '>', 0xE9, '<', '/', 'p', '>'};
    EXPECT_EQ(ChooseMailBody(r).text, "<p>é</p>");
}

TEST_F(Writer, SaveMailWritesSenderRecipientsTimeBodyAndEveryAttachment) {
    const fs::path path = Create();
    auto mail = Mail("Quarterly numbers");
    MessageFields& m = *mail->messageFields;
    m.sentRepresentingName = "Ada Lovelace";
    m.sentRepresentingAddress = "ada@example.org";
    m.displayTo = "Bob Brown";
    m.receivedByAddress = "bob@example.org";
    m.submitTime = TimeBytes(FromUnix(1'700'000'000));
    m.deliveryTime = TimeBytes(FromUnix(1'700'000'321));
    m.body = std::string(700'000, 'b');
    mail->attachments.push_back(Attached("REPORT~1.PDF", "Report for Q3.pdf", "pdf bytes"));
    mail->attachments.push_back(Attached("", "Überblick.txt", "unicode name"));
    mail->attachments.push_back(Attached("con.txt", "", "device name"));
    mail->attachments.push_back(Attached("a?b", "", "question mark"));
    mail->attachments.push_back(Attached("same.txt", "", "first"));
    mail->attachments.push_back(Attached("same.txt", "", "second"));
    AttachmentRecord shownOnly = Attached("", "", "display name only");
    shownOnly.displayName = "Minutes.txt";
    mail->attachments.push_back(shownOnly);
    Save(*mail, "Inbox");
    writer_->Finish();

    const auto store = ReadBack(path);
    const auto inbox = store.In("Inbox");
    ASSERT_EQ(inbox.size(), 1u);
    const ItemRecord& r = *inbox[0]->record;
    EXPECT_EQ(SubjectOf(r), "Quarterly numbers");
    EXPECT_EQ(r.messageFields->sentRepresentingName, "Ada Lovelace");
    EXPECT_EQ(r.messageFields->sentRepresentingAddress, "ada@example.org");
    EXPECT_EQ(r.messageFields->displayTo, "Bob Brown");
    EXPECT_EQ(FileTimeOf(r.messageFields->deliveryTime), FromUnix(1'700'000'321)) << "delivery time wins";
    EXPECT_EQ(r.messageFields->body.size(), 700'000u);
    std::map<std::string, std::string> attachments;
    ASSERT_EQ(r.attachments.size(), 7u);
    for (std::size_t i = 0; i < r.attachments.size(); ++i) {
        const std::string name = r.attachments[i].longFileName;
        attachments[name + (attachments.count(name) ? "#2" : "")] = Text(inbox[0]->attachmentData[i]);
    }
    EXPECT_EQ(attachments["Report for Q3.pdf"], "pdf bytes");
    EXPECT_EQ(attachments["Überblick.txt"], "unicode name");
    EXPECT_EQ(attachments["con.txt"], "device name");
    EXPECT_EQ(attachments["a?b"], "question mark");
    EXPECT_EQ(attachments["Minutes.txt"], "display name only") << "the display name names the attachment";
    std::set<std::string> same = {attachments["same.txt"], attachments["same.txt#2"]};
    EXPECT_EQ(same, (std::set<std::string>{"first", "second"}));
    EXPECT_TRUE(CheckStore(path).ok());
}

TEST_F(Writer, TheSourcesRecipientRowsAreSavedWithTheirTypesAndAddresses) {
    const fs::path path = Create();
    auto mail = Mail("to, cc and bcc");
    mail->messageFields->displayTo = "only the display list";
    mail->recipients = {{"Ann Archer", "ann@example.org", "SMTP", "", 1},
                        {"Bo Brandt", "/O=EXAMPLE/CN=BO", "EX", "bo@example.org", 2},
                        {"", "cy@example.org", "SMTP", "", 3},
                        {"Di Dunn", "di@example.org", "SMTP", "", 1}};
    Save(*mail, "Inbox");
    auto plain = Mail("display list only");
    plain->messageFields->displayTo = "Eve Early";
    Save(*plain, "Inbox");
    writer_->Finish();

    const auto store = ReadBack(path);
    const auto inbox = store.In("Inbox");
    ASSERT_EQ(inbox.size(), 2u);
    const ItemRecord& r = *inbox[0]->record;
    ASSERT_EQ(r.recipients.size(), 4u);
    EXPECT_EQ(r.recipients[0].displayName, "Ann Archer");
    EXPECT_EQ(r.recipients[0].address, "ann@example.org");
    EXPECT_EQ(r.recipients[0].type, 1u);
    EXPECT_EQ(r.recipients[1].addressType, "EX");
    EXPECT_EQ(r.recipients[1].address, "/O=EXAMPLE/CN=BO");
    EXPECT_EQ(r.recipients[1].smtpAddress, "bo@example.org");
    EXPECT_EQ(r.recipients[1].type, 2u);
    EXPECT_EQ(r.recipients[2].displayName, "cy@example.org") << "no name: the address is shown";
    EXPECT_EQ(r.recipients[2].type, 3u);
    EXPECT_EQ(r.messageFields->displayTo, "Ann Archer; Di Dunn");
    EXPECT_EQ(r.messageFields->displayCc, "Bo Brandt");
    // Without recipient rows the display list is kept as it is.
    const ItemRecord& p = *inbox[1]->record;
    EXPECT_TRUE(p.recipients.empty());
    EXPECT_EQ(p.messageFields->displayTo, "Eve Early");
    EXPECT_TRUE(CheckStore(path).ok());
}

TEST_F(Writer, UnreadMailStaysUnreadAndADraftStaysUnsent) {
    const fs::path path = Create();
    const struct {
        const char* subject;
        std::optional<std::uint32_t> flags;
    } mails[] = {{"unread", 0x00}, {"read", 0x01}, {"draft", 0x08 | 0x01}, {"no flags", std::nullopt},
                 {"associated", 0x40 | 0x01}};
    for (const auto& m : mails) {
        auto mail = Mail(m.subject);
        mail->messageFields->messageFlags = m.flags;
        Save(*mail, "Inbox");
    }
    writer_->Finish();
    std::map<std::string, std::uint32_t> flags;
    const auto store = ReadBack(path);
    for (const auto* item : store.In("Inbox"))
        flags[SubjectOf(*item->record)] = item->record->messageFields->messageFlags.value_or(0xFFFF);
    EXPECT_EQ(flags["unread"], 0x00u);
    EXPECT_EQ(flags["read"], 0x01u);
    EXPECT_EQ(flags["draft"], 0x09u);
    EXPECT_EQ(flags["no flags"], 0x01u) << "without the source's flags a mail is saved as read";
    EXPECT_EQ(flags["associated"], 0x01u) << "saved as an ordinary item";
}

TEST_F(Writer, AMailKeepsItsInternetIdentityImportanceAndConversation) {
    const fs::path path = Create();
    auto mail = Mail("Re: plans");
    MessageFields& f = *mail->messageFields;
    f.transportHeaders = "Received: from mx.example.org\r\nMessage-ID: <b@example.org>\r\n";
    f.internetMessageId = "<b@example.org>";
    f.inReplyToId = "<a@example.org>";
    f.internetReferences = "<a@example.org>";
    f.conversationTopic = "plans";
    f.importance = 2;
    Save(*mail, "Inbox");
    writer_->Finish();
    const auto store = ReadBack(path);
    ASSERT_EQ(store.In("Inbox").size(), 1u);
    const MessageFields& g = *store.In("Inbox")[0]->record->messageFields;
    EXPECT_EQ(g.transportHeaders, f.transportHeaders);
    EXPECT_EQ(g.internetMessageId, f.internetMessageId);
    EXPECT_EQ(g.inReplyToId, f.inReplyToId);
    EXPECT_EQ(g.internetReferences, f.internetReferences);
    EXPECT_EQ(g.conversationTopic, f.conversationTopic);
    EXPECT_EQ(g.importance, 2u);
}

TEST_F(Writer, AttachmentDataIsStreamedFromTheSourceStore) {
    // The first message of a shared store whose attachment data sits in a
    // subnode of its own (not in the record).
    StoreReader reader;
    std::unique_ptr<ItemRecord> withAttachment;
    for (const char* name : {"unicode-sample.ost", "unicode-sample.pst", "unicode-enron.pst"}) {
        const fs::path sourcePath = bmtest::SharedStore(name);
        if (sourcePath.empty()) continue;
        ASSERT_EQ(OpenStore(source_, sourcePath, StoreOpenMode::SharedRead), 0);
        ASSERT_EQ(BuildIndexes(source_, reader), 0);
        LoadNamedPropertyMap(source_);
        for (const NodeEntry& node : source_.forest.records()) {
            if (!IsNormalMessageNid(node.nid)) continue;
            auto record = ReadItem(source_, node, &reader);
            // A file (named) rather than an embedded message, which is saved
            // as a message of its own, not as the bytes of its node.
            if (record && !record->attachments.empty() && !record->attachments[0].hasData &&
                record->attachments[0].dataBid != 0 &&
                (!record->attachments[0].longFileName.empty() || !record->attachments[0].fileName.empty())) {
                withAttachment = std::move(record);
                break;
            }
        }
        if (withAttachment) break;
        ReleaseStore(source_);
    }
    if (!withAttachment) GTEST_SKIP() << "no shared store with an attachment in its own subnode";
    AttachmentRecord copy = withAttachment->attachments[0];
    Bytes expected;
    StreamAttachmentData(source_, copy, [&](std::span<const std::uint8_t> d) {
        expected.insert(expected.end(), d.begin(), d.end());
        return true;
    });
    ASSERT_FALSE(expected.empty());
    const fs::path path = Create();
    Save(*withAttachment, "Inbox");
    writer_->Finish();
    ReleaseStore(source_);
    const auto back = ReadBack(path);
    ASSERT_EQ(back.In("Inbox").size(), 1u);
    const auto& data = back.In("Inbox")[0]->attachmentData;
    EXPECT_NE(std::find(data.begin(), data.end(), expected), data.end());
}

// readpst writes each item of a folder as a numbered file, attachments
// beside it as "<number>-<name>"; it leaves out tasks and sticky notes.
TEST_F(Writer, ReadpstFindsTheItemsAndAttachmentsTheWriterSaved) {
    if (std::system("readpst -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "readpst not installed";
    const fs::path path = Create();
    for (int i = 0; i < 3; ++i) {
        auto mail = Mail("mail " + std::to_string(i));
        mail->messageFields->body = "body " + std::to_string(i);
        if (i == 1) {
            mail->attachments.push_back(Attached("", "Übersicht März.pdf", std::string(70'000, 'p')));
            mail->attachments.push_back(Attached("same.txt", "", "first"));
            mail->attachments.push_back(Attached("same.txt", "", "second"));
        }
        Save(*mail, "Inbox\\Sub");
    }
    current_ = FolderAt("Contacts", "IPF.Contact");
    for (int i = 0; i < 2; ++i) {
        ItemRecord contact;
        contact.displayName = "Contact " + std::to_string(i);
        contact.contactFields = std::make_unique<ContactFields>();
        contact.contactFields->surname = "Surname " + std::to_string(i);
        writer_->AddItem(contact, source_, current_);
    }
    current_ = FolderAt("Journal", "IPF.Journal");
    writer_->AddItem(*Mail("journal entry"), source_, current_);
    writer_->Finish();

    const fs::path out = dir_ / "readpst";
    fs::create_directories(out);
    // One job: with parallel jobs readpst may return before every file is
    // written, and the counts below would come up short now and then.
    ASSERT_EQ(std::system(("readpst -j 0 -S -D -q -o '" + out.string() + "' '" + path.string() + "' >/dev/null 2>&1").c_str()), 0);
    const fs::path top = out / ("Brightmend_Personal_Folder" + OutputTimestamp(Feb1st2027()));
    const auto items = [](const fs::path& folder) {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(folder))
            n += e.is_regular_file() && e.path().filename().string().find('-') == std::string::npos ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(fs::is_directory(top / "Inbox" / "Sub")) << top;
    EXPECT_EQ(items(top / "Inbox" / "Sub"), 3u);
    EXPECT_EQ(items(top / "Contacts"), 2u);
    EXPECT_EQ(items(top / "Journal"), 1u);
    std::map<std::string, std::string> attached;
    for (const auto& e : fs::directory_iterator(top / "Inbox" / "Sub")) {
        const std::string name = e.path().filename().string();
        const std::size_t dash = name.find('-');
        if (dash == std::string::npos) continue;
        std::ifstream in(e.path(), std::ios::binary);
        attached[name.substr(dash + 1)] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(attached["Übersicht März.pdf"].size(), 70'000u);
    std::set<std::string> same;
    for (const auto& [name, bytes] : attached)
        if (name.starts_with("same.txt")) same.insert(bytes);
    EXPECT_EQ(same, (std::set<std::string>{"first", "second"}));
}

TEST_F(Writer, ContactsAppointmentsTasksNotesAndJournalItemsGoToTheCurrentFolder) {
    const fs::path path = Create();
    current_ = FolderAt("Inbox\\People", "IPF.Contact");
    ItemRecord contact;
    contact.kind = ItemKind::Contact;
    contact.displayName = "Grace Hopper";
    contact.contactFields = std::make_unique<ContactFields>();
    contact.contactFields->givenName = "Grace";
    contact.contactFields->surname = "Hopper";
    contact.contactFields->email = "grace@example.org";
    contact.contactFields->department = "Research";
    contact.contactFields->workAddress = "Pentagon";
    contact.contactFields->postalAddress = "1 Main St";
    contact.contactFields->gender = 2;
    contact.contactFields->mobilePhone = "+1 555 0199";
    writer_->AddItem(contact, source_, current_);

    current_ = FolderAt("Calendar", "IPF.Appointment");
    auto appointment = Mail("Design review");
    appointment->kind = ItemKind::Appointment;
    appointment->messageFields->body = "agenda";
    appointment->appointmentFields = std::make_unique<AppointmentFields>();
    appointment->appointmentFields->clipStart = TimeBytes(FromUnix(1'800'000'000));
    appointment->appointmentFields->clipEnd = TimeBytes(FromUnix(1'800'003'600));
    appointment->appointmentFields->location = "Room 4";
    writer_->AddItem(*appointment, source_, current_);

    current_ = FolderAt("Tasks", "IPF.Task");
    auto task = Mail("Finish chapter");
    task->messageFields->bodyText = "write";
    task->messageFields->deliveryTime = TimeBytes(FromUnix(1'800'100'000));
    writer_->AddItem(*task, source_, current_);

    current_ = FolderAt("Notes", "IPF.StickyNote");
    auto note = Mail("Buy milk");
    note->messageClass = "IPM.StickyNote";
    note->messageFields->body = "two litres";
    writer_->AddItem(*note, source_, current_);

    current_ = FolderAt("Journal", "IPF.Journal");
    auto journal = Mail("Call");
    journal->messageClass = "IPM.Activity";
    journal->journalFields = std::make_unique<JournalFields>();
    journal->journalFields->logType = "Phone call";
    writer_->AddItem(*journal, source_, current_);
    writer_->Finish();

    const auto store = ReadBack(path);
    ASSERT_EQ(store.In("Inbox\\People").size(), 1u);
    const ItemRecord& c = *store.In("Inbox\\People")[0]->record;
    EXPECT_EQ(c.displayName, "Grace Hopper");
    EXPECT_EQ(c.contactFields->email, "grace@example.org");
    EXPECT_EQ(c.contactFields->department, "Research") << "written without an account too";
    EXPECT_EQ(c.contactFields->workAddress, "Pentagon");
    EXPECT_EQ(c.contactFields->postalAddress, "1 Main St");
    EXPECT_EQ(c.contactFields->gender, 2);
    EXPECT_EQ(c.contactFields->givenName, "Grace");
    EXPECT_EQ(c.contactFields->mobilePhone, "+1 555 0199");
    ASSERT_EQ(store.In("Calendar").size(), 1u);
    const ItemRecord& a = *store.In("Calendar")[0]->record;
    EXPECT_EQ(SubjectOf(a), "Design review");
    EXPECT_EQ(a.messageFields->body, "agenda");
    EXPECT_EQ(FileTimeOf(a.appointmentFields->clipStart), FromUnix(1'800'000'000));
    EXPECT_EQ(FileTimeOf(a.appointmentFields->clipEnd), FromUnix(1'800'003'600));
    EXPECT_EQ(a.appointmentFields->location, "Room 4");
    ASSERT_EQ(store.In("Tasks").size(), 1u);
    const ItemRecord& t = *store.In("Tasks")[0]->record;
    EXPECT_EQ(SubjectOf(t), "Finish chapter");
    EXPECT_EQ(t.messageFields->body, "write");
    EXPECT_EQ(FileTimeOf(t.messageFields->deliveryTime), FromUnix(1'800'100'000));
    ASSERT_EQ(store.In("Notes").size(), 1u);
    EXPECT_EQ(store.In("Notes")[0]->record->messageClass, "IPM.StickyNote");
    EXPECT_EQ(store.In("Notes")[0]->record->messageFields->body, "two litres");
    ASSERT_EQ(store.In("Journal").size(), 1u);
    EXPECT_EQ(store.In("Journal")[0]->record->journalFields->logType, "Phone call");
}

TEST_F(Writer, AnAppointmentKeepsItsAttachmentsUnderTheirOriginalNames) {
    const fs::path path = Create();
    current_ = FolderAt("Calendar", "IPF.Appointment");
    auto appointment = Mail("Board meeting");
    appointment->kind = ItemKind::Appointment;
    appointment->messageClass = "IPM.Appointment";
    appointment->appointmentFields = std::make_unique<AppointmentFields>();
    appointment->appointmentFields->clipStart = TimeBytes(FromUnix(1'800'000'000));
    appointment->attachments.push_back(Attached("AGENDA~1.PDF", "agenda: März.pdf", "pdf bytes"));
    appointment->attachments.push_back(Attached("", "agenda: März.pdf", "second"));
    writer_->AddItem(*appointment, source_, current_);
    writer_->Finish();

    const auto store = ReadBack(path);
    ASSERT_EQ(store.In("Calendar").size(), 1u);
    const bmtest::ReadBackItem& item = *store.In("Calendar")[0];
    EXPECT_EQ(item.record->kind, ItemKind::Appointment);
    ASSERT_EQ(item.record->attachments.size(), 2u);
    ASSERT_EQ(item.attachmentData.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(item.record->attachments[i].longFileName, "agenda: März.pdf");
    std::vector<std::string> data{Text(item.attachmentData[0]), Text(item.attachmentData[1])};
    std::sort(data.begin(), data.end());
    EXPECT_EQ(data, (std::vector<std::string>{"pdf bytes", "second"}));
}

// A weekly series: its clip times span the series' range, its own times
// are one meeting's hour.
TEST_F(Writer, ARecurringSeriesIsSavedAsTheSeriesWithTheTimesOfOneMeeting) {
    const fs::path path = Create();
    current_ = FolderAt("Calendar", "IPF.Appointment");
    auto series = Mail("Weekly sync");
    series->kind = ItemKind::Appointment;
    series->messageClass = "IPM.Appointment";
    series->messageFields->messageFlags = 0x01;
    series->recipients = {{"Ann Archer", "ann@example.org", "SMTP", "", 1}};
    series->appointmentFields = std::make_unique<AppointmentFields>();
    AppointmentFields& a = *series->appointmentFields;
    a.clipStart = TimeBytes(FromUnix(1'800'000'000));
    a.clipEnd = TimeBytes(FromUnix(1'805'443'200));  // nine weeks later
    a.startWhole = TimeBytes(FromUnix(1'800'036'000));
    a.endWhole = TimeBytes(FromUnix(1'800'039'600));
    a.recurrence = {0x04, 0x30, 0x04, 0x30, 0x0B, 0x20, 0x01, 0x00};
    a.recurring = true;
    a.recurrenceType = 2;
    a.recurrencePattern = "every Monday from 10:00 to 11:00";
    a.timeZoneDescription = "(UTC) Coordinated Universal Time";
    auto single = Mail("One-off");
    single->kind = ItemKind::Appointment;
    single->appointmentFields = std::make_unique<AppointmentFields>();
    single->appointmentFields->clipStart = TimeBytes(FromUnix(1'800'100'000));
    single->appointmentFields->clipEnd = TimeBytes(FromUnix(1'800'101'800));
    writer_->AddItem(*series, source_, current_);
    writer_->AddItem(*single, source_, current_);
    writer_->Finish();

    const auto store = ReadBack(path);
    const auto calendar = store.In("Calendar");
    ASSERT_EQ(calendar.size(), 2u);
    std::map<std::string, const ItemRecord*> bySubject;
    for (const auto* item : calendar) bySubject[SubjectOf(*item->record)] = item->record.get();
    const ItemRecord& saved = *bySubject.at("Weekly sync");
    ASSERT_NE(saved.appointmentFields, nullptr);
    const AppointmentFields& b = *saved.appointmentFields;
    EXPECT_EQ(FileTimeOf(b.startWhole), FromUnix(1'800'036'000));
    EXPECT_EQ(FileTimeOf(b.endWhole), FromUnix(1'800'039'600)) << "one meeting long, not the series' range";
    EXPECT_EQ(FileTimeOf(b.clipStart), FromUnix(1'800'000'000));
    EXPECT_EQ(FileTimeOf(b.clipEnd), FromUnix(1'805'443'200));
    EXPECT_EQ(b.recurrence, a.recurrence);
    EXPECT_EQ(b.recurring, true);
    EXPECT_EQ(b.recurrenceType, 2u);
    EXPECT_EQ(b.recurrencePattern, a.recurrencePattern);
    EXPECT_EQ(b.timeZoneDescription, a.timeZoneDescription);
    ASSERT_EQ(saved.recipients.size(), 1u) << "the attendees stay";
    EXPECT_EQ(saved.recipients[0].address, "ann@example.org");

    // Without its own times a meeting takes the clip times, and it is no series.
    const AppointmentFields& c = *bySubject.at("One-off")->appointmentFields;
    EXPECT_EQ(FileTimeOf(c.startWhole), FromUnix(1'800'100'000));
    EXPECT_EQ(FileTimeOf(c.endWhole), FromUnix(1'800'101'800));
    EXPECT_TRUE(c.recurrence.empty());
    EXPECT_EQ(c.recurring, std::nullopt);
    EXPECT_TRUE(CheckStore(path).ok());
}

TEST_F(Writer, ATaskKeepsItsOwnStatusProgressAndDates) {
    const fs::path path = Create();
    current_ = FolderAt("Tasks", "IPF.Task");
    auto task = Mail("Write the report");
    task->messageClass = "IPM.Task";
    task->messageFields->deliveryTime = TimeBytes(FromUnix(1'700'000'000));
    task->taskFields = std::make_unique<TaskFields>();
    TaskFields& t = *task->taskFields;
    t.status = 1;  // in progress
    t.percentComplete = 0.5;
    t.startDate = TimeBytes(FromUnix(1'800'000'000));
    t.dueDate = TimeBytes(FromUnix(1'800'604'800));
    t.complete = false;
    writer_->AddItem(*task, source_, current_);
    auto open = Mail("Someday");
    open->messageClass = "IPM.Task";
    open->messageFields->deliveryTime = TimeBytes(FromUnix(1'700'000'000));
    open->taskFields = std::make_unique<TaskFields>();
    open->taskFields->status = 0;
    writer_->AddItem(*open, source_, current_);
    writer_->Finish();

    const auto store = ReadBack(path);
    std::map<std::string, const ItemRecord*> bySubject;
    for (const auto* item : store.In("Tasks")) bySubject[SubjectOf(*item->record)] = item->record.get();
    ASSERT_EQ(bySubject.size(), 2u);
    const TaskFields* saved = bySubject.at("Write the report")->taskFields.get();
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->status, 1u);
    EXPECT_EQ(saved->percentComplete, 0.5);
    EXPECT_EQ(FileTimeOf(saved->startDate), FromUnix(1'800'000'000));
    EXPECT_EQ(FileTimeOf(saved->dueDate), FromUnix(1'800'604'800)) << "its own due date, not the delivery time";
    EXPECT_EQ(saved->complete, false);
    const TaskFields* someday = bySubject.at("Someday")->taskFields.get();
    ASSERT_NE(someday, nullptr);
    EXPECT_TRUE(someday->dueDate.empty()) << "a task without a due date gets none";
}

TEST_F(Writer, ContactsTasksNotesAndJournalItemsKeepTheirAttachments) {
    const fs::path path = Create();
    const struct {
        const char* folder;
        const char* containerClass;
        const char* messageClass;
        const char* subject;
    } kinds[] = {{"Contacts", "IPF.Contact", "IPM.Contact", "Grace Hopper"},
                 {"Tasks", "IPF.Task", "IPM.Task", "Write the report"},
                 {"Notes", "IPF.StickyNote", "IPM.StickyNote", "Buy milk"},
                 {"Journal", "IPF.Journal", "IPM.Activity", "Call"}};
    for (const auto& k : kinds) {
        current_ = FolderAt(k.folder, k.containerClass);
        auto item = Mail(k.subject);
        item->messageClass = k.messageClass;
        item->displayName = k.subject;
        if (std::string(k.folder) == "Contacts") item->contactFields = std::make_unique<ContactFields>();
        item->attachments.push_back(Attached("", std::string(k.folder) + ".jpg", std::string("bytes of ") + k.folder));
        const std::string folder = k.folder;
        if (folder == "Contacts") writer_->AddItem(*item, source_, current_);
        if (folder == "Tasks") writer_->AddItem(*item, source_, current_);
        if (folder == "Notes") writer_->AddItem(*item, source_, current_);
        if (folder == "Journal") writer_->AddItem(*item, source_, current_);
        }
    writer_->Finish();

    const auto store = ReadBack(path);
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.folder);
        const auto items = store.In(k.folder);
        ASSERT_EQ(items.size(), 1u);
        ASSERT_EQ(items[0]->record->attachments.size(), 1u);
        EXPECT_EQ(items[0]->record->attachments[0].longFileName, std::string(k.folder) + ".jpg");
        ASSERT_EQ(items[0]->attachmentData.size(), 1u);
        EXPECT_EQ(Text(items[0]->attachmentData[0]), std::string("bytes of ") + k.folder);
    }
    EXPECT_TRUE(CheckStore(path).ok());
}

TEST_F(Writer, AWriterDestroyedBeforeFinishLeavesACompleteStore) {
    const fs::path path = Create();
    Save(*Mail("kept"), "Inbox");
    writer_.reset();
    EXPECT_TRUE(CheckStore(path).ok());
    EXPECT_EQ(ReadBack(path).In("Inbox").size(), 1u);
}

TEST_F(Writer, PastTheSizeLimitTheStoreContinuesInASecondValidFileAndNoMailIsWrittenTwice) {
    SaveOptions options = Options();
    options.storeSizeLimit = 400 * 1024;
    writer_ = std::make_unique<USave_to_PST_Format>(options);
    const fs::path first = Create();
    const std::string firstRoot = writer_->storeDisplayName();
    constexpr int kMails = 12;
    for (int i = 0; i < kMails; ++i) {
        auto mail = Mail("mail " + std::to_string(i));
        mail->attachments.push_back(Attached("blob.bin", "", std::string(100 * 1024, static_cast<char>('a' + i))));
        Save(*mail, "Inbox");
        EXPECT_FALSE(writer_->storeSwitched()) << "the run has nothing to write again";
    }
    writer_->Finish();
    ASSERT_GE(writer_->outputStores().size(), 2u);
    const fs::path second = writer_->outputStores()[1];
    EXPECT_EQ(second, StorePartPath(first, 2));
    EXPECT_EQ(second.parent_path(), first.parent_path());
    if (writer_->outputStores().size() > 2) {
        EXPECT_EQ(writer_->outputStores()[2], StorePartPath(first, 3));
    }
    const std::string secondRoot = "Brightmend_Personal_Folder1-2-2027 9-3-4(";
    EXPECT_NE(firstRoot, writer_->storeDisplayName());
    std::size_t total = 0;
    std::set<std::string> subjects;
    for (const fs::path& p : writer_->outputStores()) {
        EXPECT_TRUE(CheckStore(p).ok()) << p;
        const auto back = ReadBack(p);
        for (const auto* item : back.In("Inbox")) {
            subjects.insert(SubjectOf(*item->record));
            ASSERT_EQ(item->attachmentData.size(), 1u);
            EXPECT_EQ(item->attachmentData[0].size(), 100u * 1024);
            ++total;
        }
    }
    EXPECT_EQ(total, static_cast<std::size_t>(kMails)) << "each mail is in exactly one part";
    EXPECT_EQ(subjects.size(), static_cast<std::size_t>(kMails)) << "every mail is in one of the parts";
    EXPECT_GT(ReadBack(second).In("Inbox").size(), 1u) << "the second part holds the rest";
    if (writer_->outputStores().size() == 2) {
        EXPECT_TRUE(writer_->storeDisplayName().starts_with(secondRoot)) << writer_->storeDisplayName();
    }
}

// Parts by year: the items of one year share a part, whatever comes
// between them, a year that passes the size goes on in a part of its own,
// items without a time go into the undated part, and so does a folder no
// item went into. Every part is a whole store; each item is in one.
TEST_F(Writer, PartsByYearTakeEachItemIntoThePartOfItsYearAndEveryFolderSomewhere) {
    SaveOptions options = Options();
    options.storeSizeLimit = 400 * 1024;
    options.partYear = [](const ItemRecord& item) -> std::optional<int> {
        const std::string subject = SubjectOf(item);
        if (subject.starts_with("old")) return 2019;
        if (subject.starts_with("new")) return 2020;
        return std::nullopt;
    };
    writer_ = std::make_unique<USave_to_PST_Format>(options);
    const fs::path base = Create();
    EXPECT_TRUE(writer_->outputStores().empty()) << "a part is made when its first item comes";
    FolderAt("Inbox\\Empty");
    const char* const order[] = {"old 1", "new 1", "none 1", "old 2", "new 2", "old 3", "old 4", "old 5"};
    for (const char* subject : order) {
        auto mail = Mail(subject);
        if (std::string(subject).starts_with("old"))
            mail->attachments.push_back(Attached("blob.bin", "", std::string(150 * 1024, 'x')));
        Save(*mail, "Inbox");
    }
    writer_->Finish();
    const auto named = [&](const std::string& suffix) {
        return base.parent_path() / (base.stem().string() + suffix + ".pst");
    };
    EXPECT_EQ(writer_->baseStorePath(), base);
    const std::vector<fs::path> parts = writer_->outputStores();
    ASSERT_GE(parts.size(), 4u);
    EXPECT_EQ(parts[0], named(" (2019)"));
    EXPECT_EQ(parts[1], named(" (2020)"));
    EXPECT_EQ(parts[2], named(" (undated)"));
    EXPECT_EQ(parts[3], named(" (2019) (part 2)"));
    std::map<std::string, std::vector<std::string>> subjectsIn;
    for (const fs::path& p : parts) {
        EXPECT_TRUE(CheckStore(p).ok()) << p;
        const auto back = ReadBack(p);
        for (const auto* item : back.In("Inbox")) subjectsIn[p.filename().string()].push_back(SubjectOf(*item->record));
        EXPECT_EQ(back.folderClasses.count("Inbox\\Empty"), p == named(" (undated)") ? 1u : 0u) << p;
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(subjectsIn[named(" (2020)").filename().string()], (V{"new 1", "new 2"}));
    EXPECT_EQ(subjectsIn[named(" (undated)").filename().string()], V{"none 1"});
    std::size_t old = 0;
    for (const fs::path& p : parts)
        if (p.filename().string().find("(2019)") != std::string::npos) old += subjectsIn[p.filename().string()].size();
    EXPECT_EQ(old, 5u) << "each item of 2019 in exactly one of its parts";
    EXPECT_FALSE(fs::exists(base)) << "the name itself only names the parts";
}

TEST_F(Writer, TwoWritersInTheSameSecondWriteTwoFiles) {
    const fs::path first = Create();
    writer_->Finish();
    writer_ = std::make_unique<USave_to_PST_Format>(Options());
    ASSERT_FALSE(writer_->CreateOutputStore(first.parent_path()).has_value());
    const fs::path second = writer_->outputStorePath();
    writer_->Finish();
    EXPECT_NE(first, second);
    EXPECT_EQ(second.filename().string(), first.stem().string() + " (2).pst");
    EXPECT_TRUE(CheckStore(first).ok());
    EXPECT_TRUE(CheckStore(second).ok());
}

TEST_F(Writer, AnOutputFileChosenByNameThatExistsIsRefusedAndLeftAlone) {
    const fs::path taken = dir_ / "mine.pst";
    { std::ofstream(taken) << "precious"; }
    SaveOptions options = Options();
    options.outputFile = taken;
    writer_ = std::make_unique<USave_to_PST_Format>(options);
    const std::optional<std::string> error = writer_->CreateOutputStore({});
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find(kOutputFileExists), std::string::npos) << *error;
    std::ifstream in(taken);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "precious");
    EXPECT_TRUE(writer_->outputStores().empty());
}

TEST_F(Writer, AnOutputFileChosenByNameIsUsedAsGiven) {
    SaveOptions options = Options();
    options.outputFile = dir_ / "chosen.pst";
    writer_ = std::make_unique<USave_to_PST_Format>(options);
    ASSERT_FALSE(writer_->CreateOutputStore({}).has_value());
    Save(*Mail("kept"), "Inbox");
    writer_->Finish();
    EXPECT_EQ(writer_->outputStorePath(), dir_ / "chosen.pst");
    EXPECT_EQ(ReadBack(dir_ / "chosen.pst").In("Inbox").size(), 1u);
}

}  // namespace
}  // namespace bm
