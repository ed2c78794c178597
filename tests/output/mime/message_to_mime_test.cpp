// Messages written with the project's writer, read back with its reader and
// exported as MIME: Python's email package must read every one without a
// defect and find the source's subject, addresses, date, bodies and
// attachments.
#include "output/mime/message_to_mime.h"

#include <gtest/gtest.h>

#include <functional>

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
    pst::Attachment ole = File("Picture.bmp", "", kBinary);
    ole.objectData = true;
    ole.properties.SetInt32(tags::kAttachMethod, 6);
    m.attachments.push_back(ole);

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
          {{"name", "notes.txt"}, {"hex", bmtest::Hex("plain notes\n")}, {"type", "text/plain"}},
          {{"name", "Picture.bmp"}, {"hex", bmtest::Hex(kBinary)}, {"type", "application/octet-stream"}}}},
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

namespace bm {
namespace {

// The 8-bit form of a text property, as older stores keep it.
void SetString8(pst::PropertyBag& bag, std::uint16_t id, std::string_view bytes) {
    bag.SetRaw(pst::KeyOf(pst::PropTag{id, PropType::String8}), PropType::String8, {bytes.begin(), bytes.end()});
}

struct BodyCase {
    const char* name;
    std::function<void(pst::Message&)> setUp;
    json expect;
};

TEST(MessageToMime, BodiesKeptAsRtfOrEightBitTextComeOutAsUtf8Text) {
    BM_REQUIRE_PYTHON();
    const std::vector<BodyCase> cases = {
        {"rtf-encapsulating-html",
         [](pst::Message& m) {
             m.SetRtfBody(
                 "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0 Arial;}}"
                 "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <body>}\\htmlrtf {\\htmlrtf0 "
                 "{\\*\\htmltag84 <b>}caf\\'e9 \\u8364?{\\*\\htmltag92 </b>}\\htmlrtf }\\htmlrtf0 "
                 "{\\*\\htmltag35 </body>}{\\*\\htmltag27 </html>}}");
         },
         {{"html_contains", "<html><body><b>café €</b></body></html>"}}},
        {"rtf-only",
         [](pst::Message& m) {
             m.SetRtfBody(
                 "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Arial;}}\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 world\\par}");
         },
         {{"text", "Привет world"}}},
        {"code-page-1251",
         [](pst::Message& m) {
             m.properties.SetInt32(tags::kInternetCodepage, 1251);
             SetString8(m.properties, 0x0037, "\xcf\xf0\xe8\xe2\xe5\xf2");  // subject
             SetString8(m.properties, 0x1000, "\xd2\xe5\xea\xf1\xf2");      // body
         },
         {{"subject", "Привет"}, {"text", "Текст"}}},
        {"html-in-its-code-page",
         [](pst::Message& m) {
             m.properties.SetInt32(tags::kInternetCodepage, 1252);
             const std::string html = "<p>na\xefve \x80</p>";
             m.properties.SetBinary(tags::kHtml, {reinterpret_cast<const std::uint8_t*>(html.data()), html.size()});
         },
         {{"html_contains", "<p>naïve €</p>"}}},
        {"html-naming-its-old-charset",
         [](pst::Message& m) {
             m.properties.SetInt32(tags::kInternetCodepage, 1252);
             const std::string html =
                 "<html><head><META http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
                 "<meta charset='iso-8859-1'></head><body>Gr\xfc\xdf</body></html>";
             m.properties.SetBinary(tags::kHtml, {reinterpret_cast<const std::uint8_t*>(html.data()), html.size()});
         },
         {{"html_contains",
           "<META http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><meta charset='utf-8'></head>"
           "<body>Grüß</body>"}}},
    };
    for (const BodyCase& c : cases) {
        pst::Message m = Mail("bodies", "");
        c.setUp(m);
        EXPECT_EQ(ExportAndCheck(std::string("mime-") + c.name, m, c.expect), "") << c.name;
    }
}

TEST(MessageToMime, TransportHeadersAreKeptAndTheBodyRebuiltFromTheStoredBodies) {
    BM_REQUIRE_PYTHON();
    pst::Message m = Mail("the stored subject", "rebuilt body");
    m.AddRecipient("John Doe", "jdoe@example.org", pst::kRecipientCc);
    m.properties.SetString(tags::kTransportMessageHeaders,
                           "Received: from mx.example.org (mx.example.org [192.0.2.1])\r\n"
                           "\tby mail.example.net; Tue, 30 Apr 2024 08:00:00 +0200\r\n"
                           "Message-ID: <original@example.org>\r\n"
                           "In-Reply-To: <parent@example.org>\r\n"
                           "References: <root@example.org> <parent@example.org>\r\n"
                           "List-Id: The list <list.example.org>\r\n"
                           "Date: Tue, 30 Apr 2024 08:00:00 +0200\r\n"
                           "From: Original Sender <orig@example.org>\r\n"
                           "To: list@example.org\r\n"
                           // Kept by old gateways, taken by no reader: made anew.
                           "Cc: jdoe, Carl\r\n"
                           // Obsolete but clear: written again with the name quoted.
                           "Reply-To: J. Doe <jd@example.org>\r\n"
                           "Subject: the original subject\r\n"
                           "MIME-Version: 1.0\r\n"
                           "Content-Type: multipart/alternative; boundary=\"old\"\r\n"
                           "Content-Transfer-Encoding: 7bit\r\n"
                           "X-Mozilla-Status: 0001\r\n");
    const json expect = {
        {"subject", "the original subject"},
        {"from", {"orig@example.org"}},
        {"to", {"list@example.org"}},
        {"cc", {"jdoe@example.org"}},
        {"reply-to", {"jd@example.org"}},
        {"date", 1714456800},
        {"text", "rebuilt body"},
        {"headers",
         {{"Message-ID", "<original@example.org>"},
          {"In-Reply-To", "<parent@example.org>"},
          {"References", "<root@example.org> <parent@example.org>"},
          {"List-Id", "The list <list.example.org>"},
          {"Content-Type", "text/plain; charset=\"utf-8\""},
          {"X-Brightmend-Original-Cc", "jdoe, Carl"},
          {"X-Mozilla-Status", "None"}}},
    };
    std::string bytes;
    EXPECT_EQ(ExportAndCheck("mime-transport", m, expect, &bytes), "");
    EXPECT_NE(bytes.find("Received: from mx.example.org (mx.example.org [192.0.2.1])"), std::string::npos) << bytes;
    for (const char* once : {"\nContent-Type:", "\nMIME-Version:", "\nDate:", "\nMessage-ID:"}) {
        const auto first = bytes.find(once);
        EXPECT_NE(first, std::string::npos) << once;
        EXPECT_EQ(bytes.find(once, first + 1), std::string::npos) << once << " twice in\n" << bytes;
    }
}

// A one-off entry ID (Unicode strings), as a reply recipient is kept.
std::vector<std::uint8_t> OneOff(std::u16string_view name, std::u16string_view type, std::u16string_view address) {
    std::vector<std::uint8_t> out(4, 0);
    for (const int b : {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02,
                        0x00, 0x00, 0x00, 0x80})
        out.push_back(static_cast<std::uint8_t>(b));
    for (const std::u16string_view s : {name, type, address}) {
        for (const char16_t u : s) {
            out.push_back(static_cast<std::uint8_t>(u & 0xFF));
            out.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        out.insert(out.end(), {0, 0});
    }
    return out;
}

// A FLATENTRYLIST of the entries, each padded to four bytes.
std::vector<std::uint8_t> FlatEntryList(const std::vector<std::vector<std::uint8_t>>& entries) {
    std::vector<std::uint8_t> body;
    for (const auto& e : entries) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(e.size() >> (8 * i)));
        body.insert(body.end(), e.begin(), e.end());
        while (body.size() % 4 != 0) body.push_back(0);
    }
    std::vector<std::uint8_t> out;
    for (const std::size_t v : {entries.size(), body.size()})
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TEST(MessageToMime, ReplyToComesFromTheReplyRecipientsAndLargeOrFileAttachmentsArriveWhole) {
    BM_REQUIRE_PYTHON();
    pst::Message m = Mail("replies elsewhere", "body");
    m.properties.SetBinary({0x004F, PropType::Binary},
                           FlatEntryList({OneOff(u"Ann Ärger", u"SMTP", u"ann@example.org"),
                                          OneOff(u"Exchange Only", u"EX", u"/o=Org/cn=xonly")}));
    m.properties.SetString({0x0050, PropType::Unicode}, "Ann Ärger; Exchange Only");
    // Larger than a heap holds: the reader hands it over as a stream.
    std::string large(600 * 1024, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919) >> 5);
    m.attachments.push_back(File("large.bin", "application/octet-stream", large));
    const auto onDisk = bmtest::ScratchDir("mime-file-attachment") / "on disk.txt";
    bmtest::WriteFile(onDisk, "kept in a file\n");
    pst::Message fromFile = Mail("from a file", "body");
    fromFile.attachments.push_back(pst::Attachment::FromFile("on disk.txt", onDisk));
    const json expect = {
        {"reply-to", {"ann@example.org", "group:Exchange Only"}},
        {"headers", {{"X-Brightmend-Exchange-Reply-To", "Exchange Only </o=Org/cn=xonly>"}}},
        {"attachments", {{{"name", "large.bin"}, {"hex", bmtest::Hex(large)}}}},
    };
    EXPECT_EQ(ExportAndCheck("mime-reply-to", m, expect), "");
    // Not through a store: the writer's file attachment as it is handed over.
    const auto file = bmtest::ScratchDir("mime-file-attachment-out") / "message.eml";
    bmtest::WriteFile(file, mime::MessageToMime(fromFile));
    const json fileAttachment = {{"name", "on disk.txt"}, {"hex", bmtest::Hex("kept in a file\n")}};
    const json entry = {{"file", file.string()}, {"expect", {{"attachments", json::array({fileAttachment})}}}};
    EXPECT_EQ(bmtest::CheckMail("messages", {}, json::array({entry})), "");
}

// Runs a shell command; true when it exits 0.
bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

TEST(MessageToMime, SignedMailIsWrittenFromItsStoredMimeContentAndStillVerifies) {
    BM_REQUIRE_PYTHON();
    if (!Shell("openssl version")) GTEST_SKIP() << "openssl is not installed";
    const auto dir = bmtest::ScratchDir("mime-smime");
    const std::string d = "'" + dir.string() + "/";
    ASSERT_TRUE(Shell("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=signer -days 2 -keyout " + d +
                      "key.pem' -out " + d + "cert.pem'"));
    bmtest::WriteFile(dir / "body.txt", "Signed text, grüße.\r\n");
    ASSERT_TRUE(Shell("openssl smime -sign -text -in " + d + "body.txt' -signer " + d + "cert.pem' -inkey " + d +
                      "key.pem' -out " + d + "signed.eml'"));
    std::ifstream in(dir / "signed.eml", std::ios::binary);
    std::string signedMail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // What a store keeps: the multipart/signed entity without the mail's own headers.
    const std::string entity = signedMail.substr(signedMail.find("Content-Type:"));

    pst::Message m = Mail("signed mail", "");
    m.properties.SetString(tags::kMessageClass, "IPM.Note.SMIME.MultipartSigned");
    m.AddRecipient("Bob", "bob@example.net", pst::kRecipientTo);
    m.attachments.push_back(File("smime.p7m", "multipart/signed", entity));
    std::string bytes;
    EXPECT_EQ(ExportAndCheck("mime-smime-export", m,
                             {{"subject", "signed mail"}, {"from", {"zoe@example.org"}}, {"to", {"bob@example.net"}}},
                             &bytes),
              "");
    ASSERT_GE(bytes.size(), entity.size());
    EXPECT_EQ(bytes.substr(bytes.size() - entity.size()), entity);
    bmtest::WriteFile(dir / "exported.eml", bytes);
    EXPECT_TRUE(Shell("openssl smime -verify -noverify -in " + d + "exported.eml' -out " + d + "verified.txt'"));
}

}  // namespace
}  // namespace bm
