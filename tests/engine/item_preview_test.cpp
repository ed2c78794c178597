// What the preview shows of a mail: the body the writer saves, with plain
// text shown as text; and a card's fields, escaped, with its times written
// by the caller.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/item_preview.h"

namespace bm {
namespace {

struct BodyCase {
    const char* name;
    std::string html;
    std::string rtfText;
    bool rtfDecoded;
    std::string body;
    // What the page must hold, and what it must not.
    std::string shown;
    std::string notShown;
};

TEST(ItemPreview, AMailShowsTheBodyTheWriterSavesWithPlainTextAsText) {
    const std::vector<BodyCase> cases = {
        {"HTML is the page itself", "<html><body><p>Hello</p></body></html>", "Hello", true, "Hello",
         "<html><body><p>Hello</p></body></html>", "<pre"},
        {"markup in a plain body is text", "", "", false, "<img src=\"file:///dev/zero\"> & more",
         "&lt;img src=&quot;file:///dev/zero&quot;&gt; &amp; more", "<img"},
        {"a decoded RTF body's text, even when shorter", "", "from RTF", true, "the longer plain body", "from RTF",
         "the longer plain body"},
        {"of the RTF text and a plain body the longer", "", "short", false, "the longer plain body",
         "the longer plain body", "short"},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.name);
        AnalysisData data;
        FolderRecord& folder = data.folders.emplace_back();
        folder.path = "Personal Folders\\Inbox\\Calendar\\";
        MessageFields& message = folder.messages.emplace_back();
        message.htmlBody.assign(c.html.begin(), c.html.end());
        message.bodyText = c.rtfText;
        message.rtfFlag = c.rtfDecoded ? 1 : 0;
        message.body = c.body;
        folder.messageNids.push_back(0x200024);
        const ItemPreview preview = PreviewItem(data, folder.path, 0, {});
        EXPECT_TRUE(preview.mail);
        EXPECT_EQ(preview.nid, 0x200024u);
        EXPECT_NE(preview.page.find(c.shown), std::string::npos) << preview.page;
        EXPECT_EQ(preview.page.find(c.notShown), std::string::npos) << preview.page;
    }
}

TEST(ItemPreview, ACardEscapesItsFieldsAndLeavesOutTheEmptyOnes) {
    AnalysisData data;
    ContactFields& c = data.contacts.emplace_back();
    c.fileAs = "Doe <Jane>";
    c.email = "jane@example.org";
    c.birthday = {0x00, 0x80, 0x3e, 0xd5, 0xde, 0xb1, 0x9d, 0x01};  // 2000-01-01
    std::int64_t asked = 0;
    const ItemPreview preview = PreviewItem(data, "Personal Folders\\Contacts\\", 0, [&](std::int64_t fileTime) {
        asked = fileTime;
        return std::string("the first day");
    });
    EXPECT_FALSE(preview.mail);
    EXPECT_NE(preview.page.find("<h3>Doe &lt;Jane&gt;</h3>"), std::string::npos) << preview.page;
    EXPECT_NE(preview.page.find("jane@example.org"), std::string::npos);
    EXPECT_NE(preview.page.find("the first day"), std::string::npos);
    EXPECT_EQ(asked, 0x019db1ded53e8000);
    EXPECT_EQ(preview.page.find("Company"), std::string::npos) << "an empty field is left out";
    // No card for a row the list does not have.
    EXPECT_TRUE(PreviewItem(data, "Personal Folders\\Contacts\\", 1, {}).page.empty());
}

}  // namespace
}  // namespace bm
