// Writes a store with every kind of content the writer supports and has it
// read back by independent readers (pypff, pffexport, readpst) through
// tools/pst_roundtrip_check.py, which compares what they see with a manifest
// of what was written (skipped when python3-pypff or the readers are
// missing), and by this project's own store reader and item reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <nlohmann/json.hpp>

#include "output/output_readback.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "support/command_run.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace bm::pst {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kPython = "/usr/bin/python3";

// Deterministic content: a 65,521-byte block from a linear congruential
// generator, repeated (the checker builds the same bytes).
std::vector<std::uint8_t> PatternBlock(std::uint32_t seed) {
    std::vector<std::uint8_t> block(65521);
    std::uint32_t x = seed;
    for (auto& b : block) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return block;
}

bool HaveTool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

class StoreBuilder {
public:
    explicit StoreBuilder(fs::path dir) : dir_(std::move(dir)) { fs::create_directories(dir_ / "expected"); }

    fs::path dir() const { return dir_; }


    // Records a message in the manifest under folderPath.
    json& Record(const std::string& folderPath, const Message& m) {
        ++counts_[folderPath];
        json entry;
        entry["folder"] = folderPath;
        entry["subject"] = m.properties.GetString(tags::kSubject).value_or("");
        if (auto sender = m.properties.GetString(tags::kSenderName)) entry["sender"] = *sender;
        if (auto body = m.properties.GetString(tags::kBody)) entry["body"] = *body;
        if (auto cls = m.properties.GetString(tags::kMessageClass)) entry["class"] = *cls;
        entry["attachments"] = json::array();
        entry["recipients"] = json::array();
        for (const auto& r : m.recipients) entry["recipients"].push_back(r.GetString(tags::kSmtpAddress).value_or(""));
        manifest_["messages"].push_back(entry);
        return manifest_["messages"].back();
    }

    std::string WriteExpected(const std::string& name, std::span<const std::uint8_t> bytes) {
        std::ofstream out(dir_ / "expected" / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return "expected/" + name;
    }

    void Finish(const std::map<std::string, std::size_t>& subfolders) {
        for (auto& [path, count] : counts_) manifest_["folders"][path]["messages"] = count;
        for (auto& [path, n] : subfolders) {
            manifest_["folders"][path]["subfolders"] = n;
            manifest_["folders"][path]["messages"] = counts_[path];
        }
        std::ofstream(dir_ / "manifest.json") << manifest_.dump(1);
    }

    json manifest_;
    std::map<std::string, std::size_t> counts_;

private:
    fs::path dir_;
};

Message Mail(const std::string& subject, const std::string& sender, const std::string& body) {
    Message m;
    m.properties.SetString(tags::kMessageClass, "IPM.Note");
    m.properties.SetString(tags::kSubject, subject);
    m.properties.SetString(tags::kConversationTopic, subject);
    m.properties.SetString(tags::kSenderName, sender);
    m.properties.SetString(tags::kSentRepresentingName, sender);
    m.properties.SetString(tags::kSenderEmailAddress, "sender@example.org");
    m.properties.SetString(tags::kSenderAddrType, "SMTP");
    m.properties.SetString(tags::kBody, body);
    m.properties.SetSysTime(tags::kClientSubmitTime, FileTimeFromUnix(1700000000));
    m.properties.SetSysTime(tags::kMessageDeliveryTime, FileTimeFromUnix(1700000100));
    m.properties.SetString(tags::kDisplayTo, "Recipient One");
    m.AddRecipient("Recipient One", "one@example.org", kRecipientTo);
    return m;
}

std::string Html(std::size_t size, const std::string& marker) {
    std::string html = "<html><head><meta charset=\"utf-8\"></head><body>\n<h1>" + marker + "</h1>\n";
    std::size_t n = 0;
    while (html.size() + 32 < size) html += "<p>Paragraph " + std::to_string(n++) + " текст 文字</p>\n";
    html += "</body></html>\n";
    return html;
}

using StoreFactory = std::function<std::unique_ptr<PstStore>(const fs::path&, const StoreOptions&)>;

// Writes the fixture store into a new directory beside its manifest.json
// and the expected bytes of bodies and attachments; returns the store's path.
fs::path WriteFixture(const std::string& name, const StoreFactory& create) {
    StoreBuilder b(bmtest::ScratchDir(name));
    const fs::path storePath = b.dir() / "roundtrip.pst";
    auto store = create(storePath, {.displayName = "Round Trip"});
    b.manifest_["display_name"] = "Round Trip";
    const std::string top = "Top of Personal Folders";
    std::map<std::string, std::size_t> subfolders;

    // Three levels, and 250 folders under one.
    const FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox", "IPF.Note");
    const FolderId level2 = store->CreateFolder(inbox, "Projects", "IPF.Note");
    const FolderId level3 = store->CreateFolder(level2, "Проект 三", "IPF.Note");
    const FolderId many = store->CreateFolder(store->ipmSubtree(), "Archive", "IPF.Note");
    for (int i = 1; i <= 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Year %03d", i);
        const FolderId f = store->CreateFolder(many, name, "IPF.Note");
        if (i % 50 == 0) {
            Message m = Mail(std::string("In ") + name, "Archiver", "archived");
            store->AddMessage(f, m);
            b.Record(top + "/Archive/" + name, m);
        }
        b.counts_[top + "/Archive/" + name] += 0;
    }
    subfolders[top + "/Archive"] = 250;
    subfolders[top + "/Inbox"] = 1;
    subfolders[top + "/Inbox/Projects"] = 1;

    // 1,200 messages in one folder.
    for (int i = 0; i < 1200; ++i) {
        Message m = Mail("Bulk message " + std::to_string(i), "Bulk Sender", "Body of bulk message " + std::to_string(i));
        if (i % 3 == 0) m.properties.SetInt32(tags::kMessageFlags, 0);  // unread
        store->AddMessage(inbox, m);
        b.Record(top + "/Inbox", m);
    }
    {
        Message m = Mail("Deep message", "Deep Sender", "three levels down");
        store->AddMessage(level3, m);
        b.Record(top + "/Inbox/Projects/Проект 三", m);
    }
    b.counts_[top + "/Inbox/Projects"] += 0;

    // Mail of every shape.
    const FolderId special = store->CreateFolder(store->ipmSubtree(), "Special", "IPF.Note");
    const std::string special_path = top + "/Special";
    {
        Message m = Mail("Привет, мир — 你好世界 — こんにちは 😀🎉", "Отправитель 送信者 🚀",
                         "Тело письма.\r\nСтрока два: 中文 한국어 🙂\r\n");
        store->AddMessage(special, m);
        b.Record(special_path, m);
    }
    for (std::size_t size : {std::size_t{300 * 1024}, std::size_t{3 * 1024 * 1024}}) {
        Message m = Mail("HTML body of " + std::to_string(size) + " bytes", "Html Sender", "plain alternative");
        const std::string html = Html(size, "html " + std::to_string(size));
        m.SetHtmlBody(html);
        store->AddMessage(special, m);
        b.Record(special_path, m)["html_file"] =
            b.WriteExpected("html-" + std::to_string(size) + ".html",
                            {reinterpret_cast<const std::uint8_t*>(html.data()), html.size()});
    }
    for (RtfStorage storage : {RtfStorage::Compressed, RtfStorage::Uncompressed}) {
        const bool packed = storage == RtfStorage::Compressed;
        Message m = Mail(packed ? "RTF compressed" : "RTF uncompressed", "Rtf Sender", "rtf plain");
        std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 ";
        for (int i = 0; i < 200; ++i) rtf += "Line " + std::to_string(i) + " of the {\\b RTF} body.\\par\n";
        rtf += "}";
        m.SetRtfBody(rtf, storage);
        store->AddMessage(special, m);
        json& entry = b.Record(special_path, m);
        entry["rtf_file"] = b.WriteExpected(packed ? "body-packed.rtf" : "body-plain.rtf",
                                            {reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()});
        entry["rtf_uncompressed"] = !packed;
    }
    {
        Message m = Mail("Ten attachments", "Attach Sender", "see attached");
        json atts = json::array();
        for (int i = 0; i < 10; ++i) {
            auto block = PatternBlock(100 + static_cast<std::uint32_t>(i));
            block.resize(static_cast<std::size_t>(i) * 1500 + 17);  // 17 bytes to 13.5 KB
            const std::string name = "file-" + std::to_string(i) + (i % 2 ? ".bin" : ".txt");
            atts.push_back({{"name", name}, {"file", b.WriteExpected("att-" + name, block)}});
            m.attachments.push_back(Attachment::FromBytes(name, block));
        }
        store->AddMessage(special, m);
        b.Record(special_path, m)["attachments"] = atts;
    }
    {
        Message m = Mail("Forty megabytes", "Big Sender", "a large attachment");
        const std::uint64_t size = 40ull * 1024 * 1024;
        const auto block = PatternBlock(4040);
        {
            std::ofstream out(b.dir() / "expected" / "big.bin", std::ios::binary);
            for (std::uint64_t done = 0; done < size;) {
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
                out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
                done += n;
            }
        }
        std::uint64_t at = 0;
        m.attachments.push_back(Attachment::FromStream("big.bin", size, [&](std::span<std::uint8_t> buf) {
            std::size_t n = 0;
            while (n < buf.size() && at < size) {
                buf[n++] = block[at % block.size()];
                ++at;
            }
            return n;
        }));
        m.attachments.push_back(Attachment::FromFile("copy-of-html.html", b.dir() / "expected" / "html-307200.html"));
        store->AddMessage(special, m);
        b.Record(special_path, m)["attachments"] = {{{"name", "big.bin"}, {"file", "expected/big.bin"}},
                                                    {{"name", "copy-of-html.html"}, {"file", "expected/html-307200.html"}}};
    }
    {
        Message inner = Mail("Inner embedded message", "Inner Sender", "I am inside another message");
        inner.attachments.push_back(Attachment::FromBytes("inner.txt", {'i', 'n', 'n', 'e', 'r'}));
        Message m = Mail("Outer with embedded message", "Outer Sender", "look inside");
        m.attachments.push_back(Attachment::FromMessage("Inner embedded message", inner));
        store->AddMessage(special, m);
        b.Record(special_path, m)["attachments"] = {{{"name", "Inner embedded message"},
                                                     {"embedded_subject", "Inner embedded message"}}};
    }

    // Contacts, appointments and tasks with their named properties.
    const FolderId contacts = store->CreateFolder(store->ipmSubtree(), "Contacts", "IPF.Contact");
    for (int i = 0; i < 3; ++i) {
        Message c;
        const std::string name = "Контакт " + std::to_string(i);
        c.properties.SetString(tags::kMessageClass, "IPM.Contact");
        c.properties.SetString(tags::kSubject, name);
        c.properties.SetString(tags::kDisplayName, name);
        c.properties.SetString(tags::kGivenName, "Имя" + std::to_string(i));
        c.properties.SetString(tags::kSurname, "Фамилия");
        c.properties.SetString(tags::kMobileTelephoneNumber, "+1 555 000" + std::to_string(i));
        c.properties.SetString(named::kFileUnder, name);
        c.properties.SetString(named::kEmail1EmailAddress, "contact" + std::to_string(i) + "@example.org");
        c.properties.SetString(named::kEmail1DisplayName, name);
        c.properties.SetString(named::kEmail1AddressType, "SMTP");
        store->AddMessage(contacts, c);
        b.Record(top + "/Contacts", c)["named"] = {{"email1", "contact" + std::to_string(i) + "@example.org"}};
    }
    const FolderId calendar = store->CreateFolder(store->ipmSubtree(), "Calendar", "IPF.Appointment");
    for (int i = 0; i < 3; ++i) {
        Message a;
        a.properties.SetString(tags::kMessageClass, "IPM.Appointment");
        a.properties.SetString(tags::kSubject, "Встреча " + std::to_string(i));
        a.properties.SetString(tags::kBody, "Agenda " + std::to_string(i));
        a.properties.SetString(named::kAppointmentLocation, "Room " + std::to_string(i));
        a.properties.SetSysTime(named::kAppointmentStartWhole, FileTimeFromUnix(1700000000 + 86400 * i));
        a.properties.SetSysTime(named::kAppointmentEndWhole, FileTimeFromUnix(1700003600 + 86400 * i));
        a.properties.SetSysTime(named::kCommonStart, FileTimeFromUnix(1700000000 + 86400 * i));
        a.properties.SetSysTime(named::kCommonEnd, FileTimeFromUnix(1700003600 + 86400 * i));
        a.properties.SetInt32(named::kAppointmentBusyStatus, 2);
        a.properties.SetMultiString(named::kKeywords, {"work", "план"});
        store->AddMessage(calendar, a);
        b.Record(top + "/Calendar", a)["named"] = {{"location", "Room " + std::to_string(i)},
                                                   {"start_unix", 1700000000 + 86400 * i}};
    }
    const FolderId tasks = store->CreateFolder(store->ipmSubtree(), "Tasks", "IPF.Task");
    for (int i = 0; i < 2; ++i) {
        Message t;
        t.properties.SetString(tags::kMessageClass, "IPM.Task");
        t.properties.SetString(tags::kSubject, "Задача " + std::to_string(i));
        t.properties.SetString(tags::kBody, "Do it " + std::to_string(i));
        t.properties.SetSysTime(named::kTaskDueDate, FileTimeFromUnix(1700500000 + 86400 * i));
        t.properties.SetSysTime(named::kTaskStartDate, FileTimeFromUnix(1700400000));
        t.properties.SetInt32(named::kTaskStatus, 1);
        t.properties.SetDouble(named::kTaskPercentComplete, 0.5);
        t.properties.SetBool(named::kTaskComplete, false);
        store->AddMessage(tasks, t);
        b.Record(top + "/Tasks", t)["named"] = {{"due_unix", 1700500000 + 86400 * i}};
    }
    {
        Message m = Mail("Deleted one", "Someone", "gone");
        store->AddMessage(store->deletedItems(), m);
        b.Record(top + "/Deleted Items", m);
    }
    subfolders[top] = 7;  // Deleted Items, Inbox, Archive, Special, Contacts, Calendar, Tasks
    store->Finish();
    b.counts_[top] += 0;
    b.Finish(subfolders);
    EXPECT_GT(fs::file_size(storePath), 40u * 1024 * 1024);
    return storePath;
}

// Writes the store and returns the independent readers' verdict; status
// receives the script's exit code.
std::string WriteAndCheck(const std::string& name, const StoreFactory& create, int& status) {
    const fs::path storePath = WriteFixture(name, create);
    const fs::path dir = storePath.parent_path();
    const fs::path script = fs::path(BRIGHTMEND_SOURCE_DIR) / "tools" / "pst_roundtrip_check.py";
    const std::string command = kPython.string() + " " + script.string() + " " + storePath.string() + " " +
                                (dir / "manifest.json").string() + " 2>&1";
    const bmtest::CommandRun run = bmtest::RunCommand(command);
    status = run.status;
    if (!run.started) return "cannot run " + command;
    // For a look with other tools: BRIGHTMEND_KEEP_ROUNDTRIP=<dir> keeps a copy.
    if (const char* keep = std::getenv("BRIGHTMEND_KEEP_ROUNDTRIP")) {
        fs::copy(dir, fs::path(keep) / name, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    return run.output;
}

bool ReadersInstalled() {
    return HaveTool(kPython.string() + " -c 'import pypff'") && HaveTool("readpst -V") && HaveTool("pffexport -V");
}

void ExpectAllReadersAgree(const std::string& output, int status) {
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("pypff: ok"), std::string::npos) << output;
    EXPECT_NE(output.find("pffexport: ok"), std::string::npos) << output;
    EXPECT_NE(output.find("readpst: ok"), std::string::npos) << output;
}

TEST(StoreRoundTrip, IndependentReadersSeeWhatWasWritten) {
    if (!ReadersInstalled()) GTEST_SKIP() << "python3-pypff, readpst or pffexport not installed";
    int status = 0;
    const std::string output = WriteAndCheck("pst_roundtrip", PstStore::Create, status);
    ExpectAllReadersAgree(output, status);
}

// The manifest's "Top of Personal Folders/A/B" as the own reader's "A\B".
std::string ReaderPath(const std::string& manifestPath) {
    const std::string top = "Top of Personal Folders";
    std::string p = manifestPath.size() > top.size() ? manifestPath.substr(top.size() + 1) : "";
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

TEST(StoreRoundTrip, OwnReaderSeesWhatWasWritten) {
    const fs::path storePath = WriteFixture("pst_roundtrip_own", PstStore::Create);
    const fs::path dir = storePath.parent_path();
    const json manifest = json::parse(std::ifstream(dir / "manifest.json"));
    const bmtest::ReadBackStore back = bmtest::ReadBack(storePath);

    // The folder tree: the same folders, each with its subfolder count.
    std::set<std::string> expectedFolders, folders;
    for (const auto& [path, info] : manifest["folders"].items()) {
        if (!ReaderPath(path).empty()) expectedFolders.insert(ReaderPath(path));
        if (info.contains("subfolders")) {
            const std::string prefix = ReaderPath(path).empty() ? "" : ReaderPath(path) + "\\";
            std::size_t children = 0;
            for (const auto& [p, cls] : back.folderClasses) {
                if (!p.empty() && p.rfind(prefix, 0) == 0 && p.find('\\', prefix.size()) == std::string::npos) ++children;
            }
            EXPECT_EQ(children, info["subfolders"].get<std::size_t>()) << path;
        }
    }
    for (const auto& [p, cls] : back.folderClasses)
        if (!p.empty()) folders.insert(p);
    EXPECT_EQ(folders, expectedFolders);

    // Item counts per folder, then each message by its subject.
    for (const auto& [path, info] : manifest["folders"].items()) {
        EXPECT_EQ(back.In(ReaderPath(path)).size(), info["messages"].get<std::size_t>()) << path;
    }
    std::size_t compared = 0;
    for (const json& m : manifest["messages"]) {
        const std::string folder = ReaderPath(m["folder"].get<std::string>());
        const std::string subject = m["subject"].get<std::string>();
        const bmtest::ReadBackItem* item = nullptr;
        for (const bmtest::ReadBackItem* i : back.In(folder))
            if (bmtest::SubjectOf(*i->record) == subject) item = i;
        if (item == nullptr) {
            ADD_FAILURE() << "not read back: " << folder << " / " << subject;
            continue;
        }
        ++compared;
        const bm::ItemRecord& r = *item->record;
        ASSERT_NE(r.messageFields, nullptr) << subject;
        if (m.contains("class")) {
            EXPECT_EQ(r.messageClass, m["class"].get<std::string>()) << subject;
        }
        if (m.contains("body")) {
            EXPECT_EQ(r.messageFields->body, m["body"].get<std::string>()) << subject;
        }
        if (m.contains("html_file")) {
            EXPECT_TRUE(r.messageFields->htmlBody == bmtest::ReadWholeFile(dir / m["html_file"].get<std::string>())) << subject;
        }
        if (m.contains("rtf_file")) {
            // The plain text of the RTF body holds the text of its lines.
            EXPECT_NE(r.messageFields->bodyText.find("Line 199 of the RTF body."), std::string::npos) << subject;
        }
        const json& atts = m["attachments"];
        ASSERT_EQ(r.attachments.size(), atts.size()) << subject;
        // Attachment records come in table order from its last row.
        std::map<std::string, std::size_t> byName;
        for (std::size_t k = 0; k < r.attachments.size(); ++k) {
            const auto& a = r.attachments[k];
            byName[a.longFileName.empty() ? a.fileName : a.longFileName] = k;
        }
        for (const json& a : atts) {
            const std::string name = a["name"].get<std::string>();
            if (!a.contains("file")) continue;  // an embedded message
            const auto it = byName.find(name);
            ASSERT_NE(it, byName.end()) << subject << ": attachment " << name;
            const auto expected = bmtest::ReadWholeFile(dir / a["file"].get<std::string>());
            const auto& got = item->attachmentData[it->second];
            EXPECT_EQ(got.size(), expected.size()) << subject << ": " << name;
            EXPECT_TRUE(got == expected) << subject << ": " << name;
        }
    }
    EXPECT_EQ(compared, manifest["messages"].size());
}

// The store checker is a program of its own (tools/storecheck); the test runs
// it when it has been built next to the tests.
TEST(StoreRoundTrip, StoreCheckerFindsNoFault) {
    const fs::path checker = fs::path(BRIGHTMEND_BINARY_DIR) / "tools" / "storecheck";
    if (!fs::exists(checker)) GTEST_SKIP() << "storecheck not built in " << checker.parent_path();
    const fs::path dir = bmtest::ScratchDir("pst_storecheck");
    auto store = PstStore::Create(dir / "check.pst", {.displayName = "Checked"});
    const FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    for (int i = 0; i < 1300; ++i) {
        Message m = Mail("checked " + std::to_string(i), "Checker", std::string(i % 7 == 0 ? 9000 : 40, 'x'));
        if (i % 100 == 0) m.attachments.push_back(Attachment::FromBytes("a.bin", std::vector<std::uint8_t>(20000, 7)));
        store->AddMessage(inbox, m);
    }
    for (int i = 0; i < 250; ++i) store->CreateFolder(inbox, "Sub " + std::to_string(i));
    store->Finish();
    const std::string command = checker.string() + " " + (dir / "check.pst").string() + " --strict 2>&1";
    const bmtest::CommandRun run = bmtest::RunCommand(command);
    ASSERT_TRUE(run.started);
    const std::string& output = run.output;
    EXPECT_EQ(run.status, 0) << output;
    EXPECT_NE(output.find(" 0 error(s), 0 warning(s)"), std::string::npos) << output;
}

TEST(StoreFile, OfflineFlavourIsMarkedInTheHeaderAndPlainStoresAreNot) {
    const fs::path dir = bmtest::ScratchDir("pst_flavour");
    for (bool offline : {false, true}) {
        const fs::path path = dir / (offline ? "offline.pst" : "personal.pst");
        auto store = PstStore::Create(path, {.displayName = "Flavour", .offlineFlavour = offline});
        store->AddMessage(store->ipmSubtree(), Mail("one", "me", "body"));
        store->Finish();
        std::ifstream in(path, std::ios::binary);
        char magic[10] = {};
        in.read(magic, sizeof magic);
        EXPECT_EQ(std::string(magic, 4), "!BDN");
        EXPECT_EQ(std::string(magic + 8, 2), offline ? "SO" : "SM");
    }
}

}  // namespace
}  // namespace bm::pst
