// Messages written with the project's writer, read back with its reader and
// exported as MIME: Python's email package must read every one without a
// defect and find the source's subject, addresses, date, bodies and
// attachments.
#include "output/mime/message_to_mime.h"

#include <gtest/gtest.h>

#include "output/pst/props_tags.h"
#include "output/mime/mail_check.h"

namespace bm {
namespace {

using nlohmann::json;
namespace tags = pst::tags;
using pst::PropType;

using bmtest::File;
using bmtest::kSent;
using bmtest::Mail;

// Exports the message read back from a store and runs the checker on it.
std::string ExportAndCheck(const std::string& name, const pst::Message& source, const json& expect,
                           std::string* mime = nullptr) {
    bmtest::WrittenStore store(name);
    const auto nid = store.writer().AddMessage(store.writer().ipmSubtree(), source);
    store.Open();
    const std::optional<pst::Message> read = store.Read(nid);
    if (!read) return "the message was not read back";
    const std::string bytes = mime::MessageToMime(*read);
    if (mime) *mime = bytes;
    const auto file = bmtest::ScratchDir(name + "-out") / "message.eml";
    bmtest::WriteFile(file, bytes);
    return bmtest::CheckMail("messages", {}, json::array({{{"file", file.string()}, {"expect", expect}}}));
}

const std::string kPng = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(40, '\xA5');
const std::string kBinary = std::string("\0\1\2\xff\xfe From here\r\n.\r\n", 20);

TEST(MessageToMime, AMailWithHtmlInlineImageAttachmentsAndTwoLevelsOfEmbeddedMessagesReadsBackWhole) {
    BM_REQUIRE_PYTHON();
    pst::Message m = Mail("Grüße — Привет — 你好", "Hallo Welt, grüß dich.\r\nZweite Zeile");
    m.SetHtmlBody("<html><body><p>Grüß dich</p><img src=\"cid:logo@brightmend\"></body></html>");
    m.AddRecipient("Ян Новак", "jan@example.org", pst::kRecipientTo);
    m.AddRecipient("Bob", "bob@example.net", pst::kRecipientTo);
    // Known only by its Exchange address: kept by name, the legacy address apart.
    m.AddRecipient("Exchange Only", "/o=Org/ou=Site/cn=Recipients/cn=xonly", "EX", "", pst::kRecipientCc);
    pst::Attachment logo = File("logo.png", "image/png", kPng);
    logo.properties.SetString(tags::kAttachContentId, "logo@brightmend");
    m.attachments.push_back(logo);
    m.attachments.push_back(File("Отчёт über 2024.bin", "", kBinary));
    m.attachments.push_back(File("notes.txt", "text/plain", "plain notes\n"));

    pst::Message deepest = Mail("Level two", "the innermost text");
    deepest.attachments.push_back(File("deep ü.dat", "application/octet-stream", kBinary));
    pst::Message middle = Mail("Level one ∑", "the middle text");
    middle.attachments.push_back(pst::Attachment::FromMessage("Level two", deepest));
    m.attachments.push_back(pst::Attachment::FromMessage("Level one ∑", middle));

    const json expect = {
        {"subject", "Grüße — Привет — 你好"},
        {"from", {"zoe@example.org"}},
        {"to", {"jan@example.org", "bob@example.net"}},
        {"cc", {"group:Exchange Only"}},
        {"date", kSent},
        {"headers", {{"X-Brightmend-Exchange-Cc", "Exchange Only </o=Org/ou=Site/cn=Recipients/cn=xonly>"}}},
        {"text", "Hallo Welt, grüß dich.\nZweite Zeile"},
        {"html_contains", "<p>Grüß dich</p>"},
        {"inline", {{{"cid", "logo@brightmend"}, {"hex", bmtest::Hex(kPng)}}}},
        {"attachments",
         {{{"name", "Отчёт über 2024.bin"}, {"hex", bmtest::Hex(kBinary)}},
          {{"name", "notes.txt"}, {"hex", bmtest::Hex("plain notes\n")}}}},
        {"embedded",
         {{{"subject", "Level one ∑"},
           {"text", "the middle text"},
           {"embedded",
            {{{"subject", "Level two"},
              {"text", "the innermost text"},
              {"attachments", {{{"name", "deep ü.dat"}, {"hex", bmtest::Hex(kBinary)}}}}}}}}}},
    };
    std::string bytes;
    EXPECT_EQ(ExportAndCheck("mime-whole", m, expect, &bytes), "");
    // 8-bit content never goes out raw, and no header line overflows.
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_LT(static_cast<unsigned char>(bytes[i]), 0x80) << "raw 8-bit byte at " << i;
        if (bytes[i] == '\n') {
            EXPECT_LE(i - lineStart, 998u) << "line at " << lineStart;
            lineStart = i + 1;
        }
    }
}

}  // namespace
}  // namespace bm
