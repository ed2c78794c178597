// What the shared stores do not show, in small stores written here: each
// store is saved with `save --all` and read back by pypff, readpst and
// pffexport beside its source. The saved store must show, reader by reader,
// what the source shows: folder names, the folder of every item, subjects,
// bodies, attachment names and bytes, inline images (content id and hidden
// flag), embedded messages to the last level, distribution list members and
// associated items (tools/compare_saved_contents.py), every property of every
// item (tools/compare_item_properties.py) and the same items per folder
// (tools/compare_saved_store.py).
//
// Each case also says what the readers must find in its source (so many
// embedded levels, so many members, ...): a case whose source a reader does
// not read as built fails instead of comparing nothing with nothing.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "engine/engine_test_helpers.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;
using pst::Attachment;
using pst::FolderId;
using pst::Message;
using pst::PstStore;
namespace tags = pst::tags;

constexpr std::int64_t kBaseTime = 1'717'200'000;  // 2024-06-01

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// A mail with a plain text body and fixed times.
Message Mail(const std::string& subject, const std::string& body, int serial) {
    Message m = bmtest::MessageOf("IPM.Note", subject);
    const pst::FileTime when = pst::FileTimeFromUnix(kBaseTime + 3600LL * serial);
    m.properties.SetSysTime(tags::kClientSubmitTime, when);
    m.properties.SetSysTime(tags::kMessageDeliveryTime, when);
    m.properties.SetSysTime(tags::kCreationTime, when);
    m.properties.SetSysTime(tags::kLastModificationTime, when);
    m.properties.SetString(tags::kSenderName, "Zoë Müller");
    m.properties.SetString(tags::kSenderEmailAddress, "zoe@example.com");
    m.properties.SetString(tags::kSenderAddrType, "SMTP");
    m.AddRecipient("Алексей Петров", "alexey@example.com", pst::kRecipientTo);
    if (!body.empty()) m.properties.SetString(tags::kBody, body);
    return m;
}

// ---- the cases ----

void UnicodeNames(PstStore& s) {
    const FolderId cyrillic = s.CreateFolder(s.ipmSubtree(), "Входящие письма");
    Message ru = Mail("Отчёт за квартал — итоги", "Добрый день!\r\nВо вложении отчёт.\r\n", 1);
    ru.attachments.push_back(Attachment::FromBytes("отчёт_2024.txt", Bytes("Итоги: всё хорошо.\n")));
    s.AddMessage(cyrillic, ru);

    const FolderId cjk = s.CreateFolder(s.ipmSubtree(), "受信トレイ");
    const FolderId cjkSub = s.CreateFolder(cjk, "会議資料");
    Message ja = Mail("会議の議事録について", "お疲れ様です。\r\n議事録を添付します。\r\n", 2);
    ja.SetHtmlBody("<html><body><p>お疲れ様です。</p><p>议事录 회의록</p></body></html>");
    ja.attachments.push_back(Attachment::FromBytes("議事録.bin", Pattern(3000, 7)));
    s.AddMessage(cjk, ja);
    s.AddMessage(cjkSub, Mail("資料 第二版", "내용을 확인해 주세요.", 3));

    const FolderId accented = s.CreateFolder(s.ipmSubtree(), "Élèves à côté");
    Message fr = Mail("Réunion au café — déjà prévue", "Ça va? Naïve façade, coöperation, São Paulo.\r\n", 4);
    fr.attachments.push_back(Attachment::FromBytes("résumé_Ångström.pdf", Pattern(5000, 9)));
    s.AddMessage(accented, fr);
}

// A one-off entry ID in Unicode: the flags, the one-off provider, version,
// flags (MAPI_UNICODE), then name, address type and address.
std::vector<std::uint8_t> OneOffEntryId(const std::u16string& name, const std::u16string& address) {
    std::vector<std::uint8_t> id(4, 0);
    for (const int b : {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02})
        id.push_back(static_cast<std::uint8_t>(b));
    for (const int b : {0x00, 0x00, 0x00, 0x80}) id.push_back(static_cast<std::uint8_t>(b));
    for (const std::u16string& part : {name, std::u16string(u"SMTP"), address}) {
        for (const char16_t c : part) {
            id.push_back(static_cast<std::uint8_t>(c & 0xFF));
            id.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        id.push_back(0);
        id.push_back(0);
    }
    return id;
}

void DistributionList(PstStore& s) {
    const FolderId contacts = s.CreateFolder(s.ipmSubtree(), "Contacts", "IPF.Contact");
    Message contact = bmtest::MessageOf("IPM.Contact", "Zoë Müller");
    contact.properties.SetString(tags::kDisplayName, "Zoë Müller");
    contact.properties.SetString(pst::named::kEmail1EmailAddress, "zoe@example.com");
    s.AddMessage(contacts, contact);

    Message list = bmtest::MessageOf("IPM.DistList", "Équipe Проект 日本");
    list.properties.SetString(tags::kDisplayName, "Équipe Проект 日本");
    list.properties.SetString(pst::NamedPropTag{pst::propsets::kAddress, 0x8053u, pst::PropType::Unicode},
                              "Équipe Проект 日本");
    const std::vector<std::vector<std::uint8_t>> members = {
        OneOffEntryId(u"Zoë Müller", u"zoe@example.com"),
        OneOffEntryId(u"Алексей Петров", u"alexey@example.com"),
        OneOffEntryId(u"李小龍", u"lee@example.com"),
    };
    // Written as the stored form of a multi-valued binary value.
    pst::PropertyBag form;
    form.SetMultiBinary(pst::PropTag{0x0001, pst::PropType::MvBinary}, members);
    const std::vector<std::uint8_t> stored = form.properties().front().bytes;
    for (const std::uint32_t lid : {0x8054u, 0x8055u})
        list.properties.SetRaw(pst::KeyOf(pst::NamedPropTag{pst::propsets::kAddress, lid, pst::PropType::MvBinary}),
                               pst::PropType::MvBinary, stored);
    s.AddMessage(contacts, list);
}

void InlineImage(PstStore& s) {
    const FolderId inbox = s.CreateFolder(s.ipmSubtree(), "Inbox");
    Message m = Mail("Logo inline", "See the logo below.", 5);
    m.SetHtmlBody(
        "<html><body><p>See the logo below.</p><img src=\"cid:logo.png@01DA2B3C.4D5E6F70\" alt=\"logo\">"
        "</body></html>");
    Attachment image = Attachment::FromBytes("logo.png", Pattern(1800, 11));
    image.properties.SetString(tags::kAttachContentId, "logo.png@01DA2B3C.4D5E6F70");
    image.properties.SetString(tags::kAttachMimeTag, "image/png");
    image.properties.SetBool(tags::kAttachmentHidden, true);
    image.properties.SetInt32(tags::kAttachFlags, 4);  // rendered in the HTML body
    m.attachments.push_back(std::move(image));
    m.attachments.push_back(Attachment::FromBytes("terms.pdf", Pattern(2500, 12)));
    s.AddMessage(inbox, m);
}

void NestedEmbedded(PstStore& s) {
    const FolderId inbox = s.CreateFolder(s.ipmSubtree(), "Inbox");
    Message inner = Mail("Innermost message", "The bottom of three levels.\r\n", 6);
    inner.attachments.push_back(Attachment::FromBytes("deep.txt", Bytes("found at the third level\n")));
    Message middle = Mail("Middle message", "Holds the innermost one.\r\n", 7);
    middle.attachments.push_back(Attachment::FromBytes("middle.bin", Pattern(700, 13)));
    middle.attachments.push_back(Attachment::FromMessage("Innermost message", std::move(inner)));
    Message outer = Mail("Outer message", "Holds the middle one.\r\n", 8);
    outer.attachments.push_back(Attachment::FromMessage("Middle message", std::move(middle)));
    s.AddMessage(inbox, outer);
}

void TopFolderItems(PstStore& s) {
    for (int i = 0; i < 3; ++i) {
        Message m = Mail("In the top folder " + std::to_string(i), "Top folder body " + std::to_string(i), 10 + i);
        if (i == 1) m.attachments.push_back(Attachment::FromBytes("top.dat", Pattern(900, 14)));
        s.AddMessage(s.ipmSubtree(), m);
    }
    s.AddMessage(s.CreateFolder(s.ipmSubtree(), "Inbox"), Mail("In the inbox", "Inbox body", 13));
}

void SameNamedSiblings(PstStore& s) {
    const FolderId first = s.CreateFolder(s.ipmSubtree(), "Projects");
    const FolderId second = s.CreateFolder(s.ipmSubtree(), "Projects");
    s.AddMessage(first, Mail("First projects folder, mail A", "first A", 20));
    s.AddMessage(first, Mail("First projects folder, mail B", "first B", 21));
    for (int i = 0; i < 3; ++i)
        s.AddMessage(second, Mail("Second projects folder, mail " + std::to_string(i), "second", 22 + i));
    s.AddMessage(s.CreateFolder(second, "Archive"), Mail("Below the second projects folder", "archive", 25));
}

void AssociatedItems(PstStore& s) {
    const FolderId inbox = s.CreateFolder(s.ipmSubtree(), "Inbox");
    s.AddMessage(inbox, Mail("An ordinary mail", "ordinary", 30));
    s.AddMessage(inbox, Mail("Another ordinary mail", "ordinary too", 31));
    Message config = bmtest::MessageOf("IPM.Configuration.Categories", "");
    config.properties.SetBinary(pst::PropTag{0x7C08, pst::PropType::Binary},
                                Bytes("<?xml version=\"1.0\"?><categories default=\"Rot\"/>"));
    s.AddAssociatedMessage(inbox, config);
    Message view = bmtest::MessageOf("IPM.Microsoft.FolderDesign.NamedView", "Compact view");
    view.properties.SetBinary(pst::PropTag{0x7C06, pst::PropType::Binary}, Pattern(400, 15));
    s.AddAssociatedMessage(inbox, view);
    const FolderId calendar = s.CreateFolder(s.ipmSubtree(), "Calendar", "IPF.Appointment");
    s.AddAssociatedMessage(calendar, bmtest::MessageOf("IPM.Configuration.Calendar", ""));
}

struct FidelityCase {
    const char* name;
    std::function<void(PstStore&)> build;
    // Associated items the case writes: the save's account gives them apart.
    int associated;
    // Per reader, what its "ok" line must say about the source.
    std::vector<std::pair<const char*, std::vector<const char*>>> seen;
};

void PrintTo(const FidelityCase& c, std::ostream* os) { *os << c.name; }

const FidelityCase kCases[] = {
    {"UnicodeNames", UnicodeNames, 0,
     {{"pypff", {" 4 items,", " 4 bodies,", " 3 attachments,"}},
      {"readpst", {" 4 items,", " 4 bodies,", " 3 attachments,"}},
      {"pffexport", {" 4 items,", " 3 attachments,"}}}},
    {"DistributionList", DistributionList, 0,
     // readpst writes no distribution lists: the contact alone.
     {{"pypff", {" 2 items,", " 6 members,"}}, {"readpst", {" 1 items,"}}, {"pffexport", {" 2 items,"}}}},
    {"InlineImage", InlineImage, 0,
     {{"pypff", {" 1 items,", " 2 attachments,", " 1 inline,"}},
      {"readpst", {" 1 items,", " 2 attachments,", " 1 inline,"}},
      {"pffexport", {" 1 items,", " 2 attachments,"}}}},
    {"NestedEmbedded", NestedEmbedded, 0,
     // pypff reads an embedded message's own properties, not what lies below it.
     {{"pypff", {" 1 items,", " 1 embedded,", "deepest 2,"}},
      {"readpst", {" 1 items,", " 2 embedded,", "deepest 3,", " 2 attachments,"}},
      {"pffexport", {" 1 items,", " 2 embedded,", "deepest 3,", " 2 attachments,"}}}},
    {"TopFolderItems", TopFolderItems, 0,
     {{"pypff", {" 4 items,", " 1 attachments,"}},
      {"readpst", {" 4 items,", " 1 attachments,"}},
      {"pffexport", {" 4 items,", " 1 attachments,"}}}},
    {"SameNamedSiblings", SameNamedSiblings, 0,
     {{"pypff", {" 6 items,"}}, {"readpst", {" 6 items,"}}, {"pffexport", {" 6 items,"}}}},
    {"AssociatedItems", AssociatedItems, 3,
     // readpst and pffexport show no associated items.
     {{"pypff", {" 5 items,", " 3 associated"}}, {"readpst", {" 2 items,"}}, {"pffexport", {" 2 items,"}}}},
};

using bmtest::Shell;

Shell RunTool(const std::string& script, const fs::path& source, const fs::path& output, const fs::path& log) {
    return bmtest::RunShell(bmtest::Python() + " " + ShellQuote(std::string(BRIGHTMEND_SOURCE_DIR "/tools/") + script) +
                                " " + ShellQuote(source.string()) + " " + ShellQuote(output.string()),
                            log);
}

// The line "<reader>: ..." of a tool's output.
std::string ReaderLine(const std::string& text, const std::string& reader) {
    const std::string head = reader + ": ";
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.starts_with(head)) return line;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return {};
}

class SavedItemsKeepTheirContents : public ::testing::TestWithParam<FidelityCase> {};

TEST_P(SavedItemsKeepTheirContents, EveryReaderSeesTheSourcesContentsInTheSavedStore) {
    const FidelityCase& c = GetParam();
    const fs::path home = bmtest::ScratchDir(std::string("cli-fidelity-") + c.name);
    const fs::path source = home / "source.ost";
    {
        auto writer = PstStore::Create(source, {.offlineFlavour = true, .defaultMessageTime = kBaseTime});
        c.build(*writer);
        writer->Finish();
    }
    const CliResult saved = RunCli({"-q", "save", source.string(), "--to", home.string(), "--all", "--json"}, home);
    ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;
    const nlohmann::json result = nlohmann::json::parse(saved.out);
    EXPECT_EQ(result["failedItems"], 0);
    EXPECT_EQ(result["reconciliation"]["totals"]["notRecovered"], 0) << saved.out;
    EXPECT_EQ(result["reconciliation"]["totals"]["associatedCount"], c.associated) << saved.out;
    ASSERT_EQ(result["outputStores"].size(), 1u);
    const fs::path output = result["outputStores"][0].get<std::string>();
    bmtest::ExpectStrictlyClean(output);

    const Shell contents = RunTool("compare_saved_contents.py", source, output, home / "contents.txt");
    if (contents.code == 77) GTEST_SKIP() << contents.text;
    EXPECT_EQ(contents.code, 0) << contents.text;
    for (const auto& [reader, expected] : c.seen) {
        const std::string line = ReaderLine(contents.text, reader);
        EXPECT_TRUE(line.starts_with(std::string(reader) + ": ok (")) << contents.text;
        for (const char* fact : expected) EXPECT_NE(line.find(fact), std::string::npos) << fact << "\n" << line;
    }

    const Shell properties = RunTool("compare_item_properties.py", source, output, home / "properties.txt");
    EXPECT_EQ(properties.code, 0) << properties.text;
    EXPECT_NE(properties.text.find("properties: ok"), std::string::npos) << properties.text;

    const Shell items = RunTool("compare_saved_store.py", source, output, home / "items.txt");
    EXPECT_EQ(items.code, 0) << items.text;
    EXPECT_NE(items.text.find("pypff: ok"), std::string::npos) << items.text;
    EXPECT_NE(items.text.find("readpst: ok"), std::string::npos) << items.text;
}

INSTANTIATE_TEST_SUITE_P(Cases, SavedItemsKeepTheirContents, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bm
