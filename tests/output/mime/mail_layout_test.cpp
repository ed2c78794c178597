// The three layouts over one folder tree with awkward names: Python's
// mailbox package finds every folder with its messages and their state, no
// file lands outside the output folder, and a stop leaves no partial file.
#include "output/mime/mail_layout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>
#include <set>

#include "output/mime/message_to_mime.h"
#include "output/mime/part_file.h"
#include "output/mime/mail_check.h"

namespace bm::mime {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Sample {
    std::vector<std::string> folder;
    std::string subject;
    MailFlags flags;
    std::string body = "text";
};

// Folder names a store may hold: separators, a control byte, a device name,
// two that read the same once made safe, an MBOX directory suffix, a
// parent that holds no mail itself.
const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = {
        {{"Inbox"}, "read and replied", {.seen = true, .replied = true}},
        {{"Inbox"}, "flagged", {.flagged = true}},
        {{"Inbox"}, "a draft", {.draft = true}},
        {{"Inbox", "Sub.Folder"}, "quoted", {.seen = true}, "From here\n>From there\nFrom: not a header\n"},
        {{"../evil/\x01name"}, "evil", {}},
        {{"CON"}, "device", {}},
        {{"A/B"}, "slash", {}},
        {{"A_B"}, "underscore", {}},
        {{"Folder.sbd"}, "suffix", {}},
        {{"Empty parent", "Child"}, "child", {.forwarded = true}},
    };
    return samples;
}

MailEntry Entry(std::string_view bytes, const std::string& subject) {
    return {.bytes = bytes, .flags = {}, .deliveryTime = bmtest::kSent, .envelopeSender = {}, .subject = subject};
}

void Export(MailLayout& layout) {
    std::vector<std::string> open;
    for (const Sample& s : Samples()) {
        if (s.folder != open) {
            layout.CloseFolder();
            layout.OpenFolder(s.folder);
            open = s.folder;
        }
        const std::string bytes = MessageToMime(bmtest::Mail(s.subject, s.body));
        layout.AddMessage({.bytes = bytes,
                           .flags = s.flags,
                           .deliveryTime = bmtest::kSent + 60,
                           .envelopeSender = "zoe@example.org",
                           .subject = s.subject});
    }
    layout.CloseFolder();
}

// Every file below `scratch`, relative to it.
std::set<std::string> FilesBelow(const fs::path& scratch) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(scratch))
        if (!e.is_directory()) out.insert(fs::relative(e.path(), scratch).string());
    return out;
}

void ExpectContained(const fs::path& scratch) {
    for (const std::string& f : FilesBelow(scratch)) {
        EXPECT_TRUE(f.starts_with("out/")) << f << " is outside the output folder";
        EXPECT_EQ(f.find(".part-"), std::string::npos) << f << " was left half written";
    }
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MailLayout, MboxIsThunderbirdsTreeWithQuotedFromLinesAndTheMessageState) {
    BM_REQUIRE_PYTHON();
    const fs::path scratch = bmtest::ScratchDir("layout-mbox");
    fs::create_directory(scratch / "out");
    Export(*CreateMailLayout(MailFormat::Mbox, scratch / "out"));
    ExpectContained(scratch);
    const json expected = {
        {"folders",
         {{"Inbox", 3},
          {"Inbox.sbd/Sub.Folder", 1},
          {"_evil__name", 1},
          {"_CON", 1},
          {"A_B", 1},
          {"A_B (2)", 1},
          {"Folder.sbd_", 1},
          {"Empty parent", 0},
          {"Empty parent.sbd/Child", 1}}},
        {"flags", {{"read and replied", "ROA"}, {"flagged", "OF"}, {"a draft", "OT"}, {"child", "O"}}},
    };
    EXPECT_EQ(bmtest::CheckMail("mbox", scratch / "out", expected), "");

    const std::string inbox = Read(scratch / "out" / "Inbox");
    EXPECT_TRUE(
        inbox.starts_with("From zoe@example.org Wed May  1 10:01:00 2024\nStatus: RO\nX-Status: A\n"
                          "X-Mozilla-Status: 0003\nX-Mozilla-Status2: 00000000\n"))
        << inbox.substr(0, 200);
    const std::string quoted = Read(scratch / "out" / "Inbox.sbd" / "Sub.Folder");
    EXPECT_NE(quoted.find("\n>From here\n>>From there\nFrom: not a header\n"), std::string::npos) << quoted;
    EXPECT_NE(Read(scratch / "out" / "Empty parent.sbd" / "Child").find("X-Mozilla-Status: 1000\n"), std::string::npos);
}

TEST(MailLayout, MaildirHasMaildirPlusPlusFoldersAndFlagsInTheInfoPart) {
    BM_REQUIRE_PYTHON();
    const fs::path scratch = bmtest::ScratchDir("layout-maildir");
    fs::create_directory(scratch / "out");
    Export(*CreateMailLayout(MailFormat::Maildir, scratch / "out"));
    ExpectContained(scratch);
    const json expected = {
        {"folders",
         {{"", 0},
          {"Inbox", 3},
          {"Inbox.Sub_Folder", 1},
          {"___evil__name", 1},
          {"_CON", 1},
          {"A_B", 1},
          {"A_B (2)", 1},
          {"Folder_sbd", 1},
          {"Empty parent.Child", 1}}},
        {"flags", {{"read and replied", "RS"}, {"flagged", "F"}, {"a draft", "D"}, {"child", "P"}, {"quoted", "S"}}},
    };
    EXPECT_EQ(bmtest::CheckMail("maildir", scratch / "out", expected), "");
    // Names the convention gives: unique, nothing left in tmp/.
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(scratch / "out" / ".Inbox" / "cur")) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name.find(":2,"), std::string::npos) << name;
        names.insert(name.substr(0, name.find(':')));
    }
    EXPECT_EQ(names.size(), 3u);
    EXPECT_TRUE(fs::is_empty(scratch / "out" / ".Inbox" / "tmp"));
}

TEST(MailLayout, EmlFilesAreNamedSafelyAndUniquelyFromTheirSubjects) {
    BM_REQUIRE_PYTHON();
    const fs::path scratch = bmtest::ScratchDir("layout-eml");
    fs::create_directory(scratch / "out");
    auto layout = CreateMailLayout(MailFormat::Eml, scratch / "out");
    Export(*layout);
    const std::string longSubject(300, 'x');
    layout->OpenFolder({"Names"});
    json messages = json::array();
    for (const std::string subject : {"a/b\\c:d\x01", "Same", "same", "", "..", "NUL.txt", longSubject.c_str()}) {
        const std::string bytes = MessageToMime(bmtest::Mail(subject, "text"));
        layout->AddMessage(Entry(bytes, subject));
    }
    layout->CloseFolder();
    ExpectContained(scratch);

    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(scratch / "out" / "Names")) {
        names.insert(e.path().filename().string());
        messages.push_back({{"file", e.path().string()}, {"expect", json::object()}});
    }
    const std::set<std::string> want = {"a_b_c_d_.eml",
                                        "Same.eml",
                                        "same (2).eml",
                                        "(no subject).eml",
                                        "_.eml",
                                        "_NUL.txt.eml",
                                        std::string(100, 'x') + ".eml"};
    EXPECT_EQ(names, want);
    const std::set<std::string> files = FilesBelow(scratch / "out");
    EXPECT_EQ(files.count("Inbox/read and replied.eml"), 1u);
    EXPECT_EQ(files.count("Inbox/Sub.Folder/quoted.eml"), 1u);
    EXPECT_EQ(files.count("A_B (2)/underscore.eml"), 1u);
    EXPECT_EQ(files.count("_evil__name/evil.eml"), 1u);
    EXPECT_EQ(files.size(), Samples().size() + want.size());
    for (const std::string& f : files)
        if (!f.starts_with("Names/"))
            messages.push_back({{"file", (scratch / "out" / f).string()}, {"expect", json::object()}});
    EXPECT_EQ(bmtest::CheckMail("messages", {}, messages), "");
}

// The separator line of an MBOX takes its sender and time from the source
// message: the sender's SMTP address, else the one it was sent for, else
// none (the layout then writes MAILER-DAEMON).
TEST(MailLayout, TheSeparatorLineCarriesTheSourcesSenderAndDeliveryTime) {
    struct Case {
        const char* name;
        std::function<void(pst::Message&)> change;
        const char* separator;
    };
    const std::vector<Case> cases = {
        {"smtp-sender", [](pst::Message&) {}, "From zoe@example.org Wed May  1 10:01:00 2024\n"},
        {"exchange-sender-sent-for-smtp",
         [](pst::Message& m) {
             m.properties.SetString(pst::tags::kSenderAddrType, "EX");
             m.properties.SetString(pst::tags::kSenderEmailAddress, "/o=Org/cn=zoe");
             m.properties.SetString(pst::tags::kSentRepresentingEmailAddress, "boss@example.org");
         },
         "From boss@example.org Wed May  1 10:01:00 2024\n"},
        {"no-address-no-delivery",
         [](pst::Message& m) {
             for (const auto tag : {pst::tags::kSenderEmailAddress, pst::tags::kSentRepresentingEmailAddress})
                 m.properties.Remove(pst::KeyOf(tag));
             m.properties.Remove(pst::KeyOf(pst::tags::kMessageDeliveryTime));
         },
         "From MAILER-DAEMON Wed May  1 10:00:00 2024\n"},
    };
    for (const Case& c : cases) {
        const fs::path scratch = bmtest::ScratchDir(std::string("layout-separator-") + c.name);
        pst::Message m = bmtest::Mail(c.name, "text");
        c.change(m);
        const std::string bytes = MessageToMime(m);
        auto layout = CreateMailLayout(MailFormat::Mbox, scratch);
        layout->OpenFolder({"Inbox"});
        layout->AddMessage(MailEntryOf(m, bytes));
        layout->CloseFolder();
        EXPECT_TRUE(Read(scratch / "Inbox").starts_with(c.separator)) << c.name << ": " << Read(scratch / "Inbox").substr(0, 60);
    }
}

TEST(MailLayout, AStopPartWayLeavesOnlyWholeFiles) {
    for (const MailFormat format : {MailFormat::Mbox, MailFormat::Maildir, MailFormat::Eml}) {
        const fs::path scratch = bmtest::ScratchDir("layout-stop-" + std::to_string(static_cast<int>(format)));
        fs::create_directory(scratch / "out");
        const std::string bytes = MessageToMime(bmtest::Mail("whole", "text"));
        {
            auto layout = CreateMailLayout(format, scratch / "out");
            layout->OpenFolder({"Done"});
            layout->AddMessage(Entry(bytes, "whole"));
            layout->CloseFolder();
            layout->OpenFolder({"Stopped"});
            layout->AddMessage(Entry(bytes, "whole"));
            // The export stops here: the layout goes without CloseFolder.
        }
        for (const std::string& f : FilesBelow(scratch)) {
            EXPECT_EQ(f.find(".part-"), std::string::npos) << f;
            // MBOX writes a folder as one file: the stopped one is not there.
            if (format == MailFormat::Mbox) {
                EXPECT_EQ(f.find("Stopped"), std::string::npos) << f;
            }
            if (!f.ends_with("maildirfolder")) {
                EXPECT_NE(Read(scratch / f).find(bytes), std::string::npos) << f << " is not whole";
            }
        }
    }
}

// Maildir and .eml files are put in place in batches: until a batch is
// full or the folder closes, a message waits under its temporary name; what
// has a final name is whole, and a stop drops the waiting ones without
// leaving their temporary files.
TEST(MailLayout, FilesPerMessageArePutInPlaceInWholeBatches) {
    const struct {
        MailFormat format;
        const char* placed;  // where the files in place are, below the folder
        const char* ending;  // how their names end
    } cases[] = {{MailFormat::Maildir, "out/.Inbox/cur", ""}, {MailFormat::Eml, "out/Inbox", ".eml"}};
    constexpr std::size_t kBatch = PartFileBatch::kFilesPerBatch;
    const std::size_t total = 2 * kBatch + 44;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.placed);
        for (const bool closed : {true, false}) {
            const fs::path scratch = bmtest::ScratchDir("layout-batches");
            fs::create_directory(scratch / "out");
            // Each message its own bytes, so a file can be told whole.
            std::vector<std::string> messages;
            for (std::size_t i = 0; i < total; ++i)
                messages.push_back(MessageToMime(bmtest::Mail("mail " + std::to_string(i), std::string(i * 7, 'x'))));
            const auto placed = [&] {
                std::set<std::string> whole(messages.begin(), messages.end());
                std::size_t n = 0;
                for (const auto& e : fs::directory_iterator(scratch / c.placed)) {
                    const std::string name = e.path().filename().string();
                    if (name == "maildirfolder" || !name.ends_with(c.ending) || name.starts_with(".part-")) continue;
                    EXPECT_EQ(whole.count(Read(e.path())), 1u) << name << " is not a whole message";
                    ++n;
                }
                return n;
            };
            {
                auto layout = CreateMailLayout(c.format, scratch / "out");
                layout->OpenFolder({"Inbox"});
                for (std::size_t i = 0; i < total; ++i) {
                    layout->AddMessage(Entry(messages[i], "mail " + std::to_string(i)));
                    if (i + 1 == kBatch - 1 || i + 1 == kBatch || i + 1 == total) {
                        SCOPED_TRACE(i + 1);
                        EXPECT_EQ(placed(), (i + 1) / kBatch * kBatch);
                    }
                }
                if (closed) layout->CloseFolder();
            }
            EXPECT_EQ(placed(), closed ? total : total / kBatch * kBatch);
            for (const std::string& f : FilesBelow(scratch)) {
                EXPECT_EQ(f.find(".part-"), std::string::npos) << f;
                EXPECT_EQ(f.find("/tmp/"), std::string::npos) << f;
            }
        }
    }
}

TEST(MailLayout, AFileOfABatchThatCannotBePutInPlaceCostsThatFileAlone) {
    const fs::path scratch = bmtest::ScratchDir("layout-batch-failure");
    fs::create_directories(scratch / "tmp");
    fs::create_directories(scratch / "cur");
    PartFileBatch batch(8);
    for (const char* name : {"one", "two", "three"}) {
        // The second one's place is in a folder that is not there.
        const fs::path final = std::string(name) == "two" ? scratch / "gone" / name : scratch / "cur" / name;
        auto file = std::make_unique<PartFile>(scratch / "tmp" / name, final);
        file->Write(name);
        batch.Add(std::move(file), std::nullopt);
    }
    EXPECT_THROW(batch.Flush(), std::system_error);
    EXPECT_EQ(Read(scratch / "cur" / "one"), "one");
    EXPECT_EQ(Read(scratch / "cur" / "three"), "three");
    EXPECT_TRUE(fs::is_empty(scratch / "tmp"));
}

}  // namespace
}  // namespace bm::mime
