// The whole-item copy read from a store this project's writer made: named
// properties carried by name, what the new store makes anew left out,
// bodies and 8-bit text as stored, embedded messages to their depth limit,
// and a folder's own properties kept beside the ones the writer computes.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <optional>
#include <vector>

#include "messaging/heap_node.h"
#include "messaging/messaging.h"
#include "messaging/property_context.h"
#include "messaging/property_reader.h"
#include "output/pst/message.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "output/source_copy.h"
#include "store/store.h"
#include "store/subnodes.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using pst::PropType;

std::vector<std::uint8_t> Bytes8(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> Utf16(std::u16string_view s) {
    std::vector<std::uint8_t> out;
    for (char16_t c : s) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

const pst::NamedPropTag kNumbered{pst::propsets::kCommon, std::uint32_t{0x8514}, PropType::Int32};
const pst::NamedPropTag kNamed{pst::propsets::kPublicStrings, std::u16string(u"X-Brightmend-Test"), PropType::Unicode};
constexpr pst::PropTag kTopic8{0x0070, PropType::String8};

// A store file written by the project's writer, opened again for reading.
class WrittenStore {
public:
    explicit WrittenStore(const std::string& name) : path_(bmtest::ScratchDir(name) / "source.pst") {
        writer_ = pst::PstStore::Create(path_, {.displayName = "Source", .seed = 7, .defaultMessageTime = 1700000000});
    }
    pst::PstStore& writer() { return *writer_; }

    StoreFile& Open() {
        writer_->Finish();
        EXPECT_EQ(OpenStore(store_, path_, StoreOpenMode::SharedRead), 0);
        EXPECT_EQ(BuildIndexes(store_, reader_), 0);
        LoadNamedPropertyMap(store_);
        return store_;
    }
    const NodeEntry* Node(std::uint32_t nid) const {
        for (const NodeEntry& n : store_.forest.records())
            if (n.nid == nid) return &n;
        return nullptr;
    }
    ~WrittenStore() { ReleaseStore(store_); }

private:
    fs::path path_;
    std::unique_ptr<pst::PstStore> writer_;
    StoreFile store_;
    StoreReader reader_;
};

const pst::Property* FindIn(const pst::PropertyBag& bag, pst::PropTag tag) { return bag.Find(tag); }

TEST(SourceCopy, AMessageComesBackWholeWithNamedPropertiesByNameAndWithoutWhatTheNewStoreMakes) {
    WrittenStore source("source-copy-message");
    pst::Message m;
    m.properties.SetString(pst::tags::kSubject, "Ünïcödé — Привет — 你好");
    m.properties.SetString(pst::tags::kBody, "plain body");
    m.SetHtmlBody("<html><body>caf\xc3\xa9</body></html>");
    m.SetRtfBody("{\\rtf1\\ansi hello}");
    m.properties.SetInt32(kNumbered, 7);
    m.properties.SetString(kNamed, "named value");
    // 8-bit text, kept as the store holds it: code page 1252 bytes.
    m.properties.SetRaw(pst::KeyOf(kTopic8), PropType::String8, Bytes8("caf\xe9"));
    m.AddRecipient("Ян Новак", "jan@example.org", pst::kRecipientTo);
    const pst::Message written = m;
    const auto nid = source.writer().AddMessage(source.writer().ipmSubtree(), m);

    StoreFile& store = source.Open();
    const NodeEntry* node = source.Node(nid);
    ASSERT_NE(node, nullptr);
    const std::optional<pst::Message> copy = CopySourceMessage(store, *node);
    ASSERT_TRUE(copy.has_value());

    // Named properties come back under their property set and LID or name.
    const pst::Property* numbered = copy->properties.Find(pst::KeyOf(kNumbered));
    ASSERT_NE(numbered, nullptr);
    EXPECT_EQ(numbered->bytes, (std::vector<std::uint8_t>{7, 0, 0, 0}));
    const pst::Property* named = copy->properties.Find(pst::KeyOf(kNamed));
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->bytes, Utf16(u"named value"));

    // Bodies and 8-bit text as stored, with their types.
    for (const pst::PropTag tag : {pst::tags::kSubject, pst::tags::kBody, pst::tags::kHtml, pst::tags::kRtfCompressed,
                                   pst::tags::kRtfInSync, pst::tags::kInternetCodepage, kTopic8}) {
        const pst::Property* want = FindIn(written.properties, tag);
        const pst::Property* got = FindIn(copy->properties, tag);
        ASSERT_NE(want, nullptr);
        ASSERT_NE(got, nullptr) << std::hex << tag.id;
        EXPECT_EQ(got->type, want->type) << std::hex << tag.id;
        EXPECT_EQ(got->bytes, want->bytes) << std::hex << tag.id;
    }

    // The writer gave the source its size, row ids and the like; none of
    // the made-anew ones is copied, on the message or its recipient.
    for (const MadeAnewProperty& p : MadeAnewProperties()) {
        for (const pst::Property& q : copy->properties.properties()) EXPECT_NE(q.key.id, p.id) << p.reason;
        for (const pst::PropertyBag& r : copy->recipients) {
            for (const pst::Property& q : r.properties()) {
                // A recipient's entry ID names its address book entry: kept.
                if (p.id != 0x0FFF) {
                    EXPECT_NE(q.key.id, p.id) << p.reason;
                }
            }
        }
    }
    ASSERT_EQ(copy->recipients.size(), 1u);
    EXPECT_EQ(copy->recipients[0].GetString(pst::tags::kDisplayName), "Ян Новак");
}

// The heap of a node's data, with a failure of the test when it cannot be read.
std::optional<HeapNode> HeapOf(StoreFile& store, const BlockEntry& data) {
    auto blocks = ReadNodeBlocks(store, data);
    EXPECT_TRUE(blocks.has_value());
    if (!blocks) return std::nullopt;
    auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store));
    EXPECT_TRUE(heap.has_value());
    return heap;
}

// The cells of property `id` in a heap read as a property context (or,
// with `recipients`, as the message's recipient table), with the reading
// the copy uses or the one the item mapping uses.
std::vector<PropertyValue> CellsOf(StoreFile& store, const NodeEntry& node, std::uint16_t id, bool recipients,
                                   bool forCopy) {
    std::vector<PropertyValue> out;
    const BlockEntry* data = node.dataBlock();
    if (recipients) {
        data = node.subnodeBlock() != nullptr ? FindSubnode(ReadSubnodes(store, *node.subnodeBlock()), 0x692) : nullptr;
    }
    EXPECT_NE(data, nullptr);
    if (data == nullptr) return out;
    const auto heap = HeapOf(store, *data);
    if (!heap) return out;
    PropertyReadContext ctx;
    ctx.onlyExistingCells = true;
    ctx.keepEmptyValues = forCopy;
    const auto list = ReadPropertyObject(*heap, ctx);
    EXPECT_TRUE(list.has_value());
    if (!list) return out;
    for (const PropertyChunk& chunk : list->chunks) {
        for (const PropertyValue& v : chunk.entries)
            if (v.id == id) out.push_back(v);
    }
    return out;
}

TEST(SourceCopy, EmptyTextAndBinaryValuesOfTheMessageAndItsRecipientsStayEmptyValuesOfTheirType) {
    constexpr pst::PropTag kSearchKey{0x300B, PropType::Binary};
    WrittenStore source("source-copy-empty-values");
    pst::Message m;
    m.properties.SetString(pst::tags::kSubject, "empty values");
    m.properties.SetString(pst::tags::kBody, "");
    m.AddRecipient("Ян Новак", "jan@example.org", pst::kRecipientTo);
    m.recipients.back().SetString(pst::tags::kEmailAddress, "");
    m.recipients.back().SetBinary(kSearchKey, {});
    m.AddRecipient("Second", "second@example.org", pst::kRecipientCc);
    m.recipients.back().SetBinary(kSearchKey, Bytes8("SMTP:SECOND@EXAMPLE.ORG"));
    const auto nid = source.writer().AddMessage(source.writer().ipmSubtree(), m);

    StoreFile& store = source.Open();
    const NodeEntry* node = source.Node(nid);
    ASSERT_NE(node, nullptr);

    // The writer keeps an empty value of a property context as the mail
    // client does, with a reference of 0: the item mapping's reading leaves
    // it out as it does in the client's stores, the copy's reading finds
    // it, empty. A table cell refers to an allocation of no bytes (validators
    // reject a cell of 0): both readings find it.
    EXPECT_TRUE(CellsOf(store, *node, 0x1000, false, false).empty());
    const auto body = CellsOf(store, *node, 0x1000, false, true);
    ASSERT_EQ(body.size(), 1u);
    EXPECT_EQ(body[0].type, static_cast<std::uint32_t>(PropType::Unicode));
    ASSERT_TRUE(body[0].hasData());
    EXPECT_TRUE(body[0].data->empty());
    for (const std::uint16_t id : {std::uint16_t{0x3003}, std::uint16_t{0x300B}}) {
        EXPECT_EQ(CellsOf(store, *node, id, true, false).size(), 2u) << std::hex << id;
        EXPECT_EQ(CellsOf(store, *node, id, true, true).size(), 2u) << std::hex << id;
    }

    // The copy holds them as empty values of their type, the other
    // recipient's as they were.
    const std::optional<pst::Message> copy = CopySourceMessage(store, *node);
    ASSERT_TRUE(copy.has_value());
    auto expectEmpty = [](const pst::PropertyBag& bag, pst::PropTag tag, const char* what) {
        const pst::Property* p = bag.Find(tag);
        ASSERT_NE(p, nullptr) << what;
        EXPECT_EQ(p->type, tag.type) << what;
        EXPECT_TRUE(p->bytes.empty()) << what;
    };
    expectEmpty(copy->properties, pst::tags::kBody, "the body");
    ASSERT_EQ(copy->recipients.size(), 2u);
    expectEmpty(copy->recipients[0], pst::tags::kEmailAddress, "the first recipient's address");
    expectEmpty(copy->recipients[0], kSearchKey, "the first recipient's search key");
    EXPECT_EQ(copy->recipients[0].GetString(pst::tags::kDisplayName), "Ян Новак");
    const pst::Property* key = copy->recipients[1].Find(kSearchKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->bytes, Bytes8("SMTP:SECOND@EXAMPLE.ORG"));
    EXPECT_EQ(copy->recipients[1].GetString(pst::tags::kEmailAddress), "second@example.org");

    // Saved again and copied back, they are still there and still empty.
    WrittenStore saved("source-copy-empty-values-saved");
    const auto savedNid = saved.writer().AddMessage(saved.writer().ipmSubtree(), *copy);
    StoreFile& again = saved.Open();
    const std::optional<pst::Message> back = CopySourceMessage(again, *saved.Node(savedNid));
    ASSERT_TRUE(back.has_value());
    expectEmpty(back->properties, pst::tags::kBody, "the body, saved");
    ASSERT_EQ(back->recipients.size(), 2u);
    expectEmpty(back->recipients[0], pst::tags::kEmailAddress, "the first recipient's address, saved");
    expectEmpty(back->recipients[0], kSearchKey, "the first recipient's search key, saved");
}

// A chain of embedded messages `levels` deep below `m`, the innermost with
// a file attachment.
pst::Message Nested(int levels) {
    pst::Message inner;
    inner.properties.SetString(pst::tags::kSubject, "level " + std::to_string(levels));
    if (levels == 0) {
        inner.attachments.push_back(pst::Attachment::FromBytes("data.bin", {1, 2, 3, 4, 5}));
        return inner;
    }
    inner.attachments.push_back(pst::Attachment::FromMessage("embedded", Nested(levels - 1)));
    return inner;
}

// How many messages deep the copy goes, and the innermost message copied.
int Depth(const pst::Message& m, const pst::Message** innermost) {
    *innermost = &m;
    if (m.attachments.empty()) return 0;
    const auto* next = std::get_if<std::shared_ptr<const pst::Message>>(&m.attachments[0].content);
    if (next == nullptr || *next == nullptr) return 0;
    return 1 + Depth(**next, innermost);
}

TEST(SourceCopy, EmbeddedMessagesAreFollowedToTheirDepthLimitAndNoFurther) {
    WrittenStore source("source-copy-nested");
    const auto shallow = source.writer().AddMessage(source.writer().ipmSubtree(), Nested(3));
    const auto deep = source.writer().AddMessage(source.writer().ipmSubtree(), Nested(kMaxEmbeddingDepth + 3));
    StoreFile& store = source.Open();

    // Three levels: every one a message, the innermost with its file.
    const std::optional<pst::Message> a = CopySourceMessage(store, *source.Node(shallow));
    ASSERT_TRUE(a.has_value());
    const pst::Message* innermost = nullptr;
    EXPECT_EQ(Depth(*a, &innermost), 3);
    EXPECT_EQ(innermost->properties.GetString(pst::tags::kSubject), "level 0");
    ASSERT_EQ(innermost->attachments.size(), 1u);
    const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&innermost->attachments[0].content);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));

    // Deeper than the limit: the messages down to it, and the attachment
    // below it kept as its properties without the message.
    const std::optional<pst::Message> b = CopySourceMessage(store, *source.Node(deep));
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(Depth(*b, &innermost), kMaxEmbeddingDepth);
    EXPECT_EQ(innermost->properties.GetString(pst::tags::kSubject), "level 3");
    ASSERT_EQ(innermost->attachments.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<pst::NoContent>(innermost->attachments[0].content));
}

TEST(SourceCopy, AFolderKeepsItsOwnPropertiesBesideTheOnesTheWriterComputes) {
    WrittenStore source("source-copy-folder");
    pst::PstStore& w = source.writer();
    const pst::FolderId folder = w.CreateFolder(w.ipmSubtree(), "Входящие", "IPF.Note");
    pst::PropertyBag own;
    own.SetString(pst::tags::kComment, "a folder comment");
    own.SetBool(pst::PropTag{0x10F4, PropType::Boolean}, true);  // hidden
    own.SetString(kNamed, "folder tag");
    // These the writer computes itself; the copied values must lose.
    own.SetString(pst::tags::kDisplayName, "another name");
    own.SetInt32(pst::tags::kContentCount, 99);
    own.SetString(pst::tags::kContainerClass, "IPF.Other");
    // Names a view of the old store: never copied.
    own.SetBinary(pst::PropTag{0x3616, PropType::Binary}, Bytes8("old view entry id"));
    w.SetFolderProperties(folder, own);
    pst::Message m;
    m.properties.SetString(pst::tags::kSubject, "one item");
    w.AddMessage(folder, m);

    StoreFile& store = source.Open();
    const NodeEntry* node = source.Node(folder);
    ASSERT_NE(node, nullptr);
    StoreReader reader;
    const auto record = ReadItem(store, *node, &reader, nullptr);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->displayName, "Входящие");
    EXPECT_EQ(record->messageClass, "IPF.Note");
    ASSERT_NE(record->folderCounts, nullptr);
    EXPECT_EQ(record->folderCounts->contentCount, 1u);

    const std::optional<pst::PropertyBag> copy = CopySourceFolderProperties(store, *node);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->GetString(pst::tags::kComment), "a folder comment");
    const pst::Property* hidden = copy->Find(pst::PropTag{0x10F4, PropType::Boolean});
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(hidden->bytes, std::vector<std::uint8_t>{1});
    const pst::Property* named = copy->Find(pst::KeyOf(kNamed));
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->bytes, Utf16(u"folder tag"));
    EXPECT_EQ(copy->GetString(pst::tags::kContainerClass), "IPF.Note");
    for (const pst::Property& p : copy->properties()) EXPECT_FALSE(IsFolderMadeAnew(p.key.id)) << std::hex << p.key.id;
}

// The subject cells (type, bytes) of a folder's contents table, in row order.
std::vector<std::pair<std::uint32_t, Bytes>> ContentsSubjects(StoreFile& store, const WrittenStore& source,
                                                               pst::FolderId folder) {
    std::vector<std::pair<std::uint32_t, Bytes>> out;
    const NodeEntry* table = source.Node((folder & ~0x1Fu) | 0x0Eu);
    EXPECT_NE(table, nullptr);
    if (table == nullptr || table->dataBlock() == nullptr) return out;
    const auto heap = HeapOf(store, *table->dataBlock());
    if (!heap) return out;
    PropertyReadContext ctx;
    ctx.onlyExistingCells = true;
    ctx.everyType = true;
    const auto rows = ReadTableContext(*heap, ctx);
    EXPECT_TRUE(rows.has_value());
    if (!rows) return out;
    for (auto chunk = rows->chunks.rbegin(); chunk != rows->chunks.rend(); ++chunk) {
        for (const PropertyValue& v : chunk->entries)
            if (v.id == 0x0037 && v.hasData()) out.emplace_back(v.type, *v.data);
    }
    return out;
}

TEST(SourceCopy, EightBitTextFillsUnicodeColumnsDecodedWithTheMessagesCodePageAndStaysBytesInTheItem) {
    WrittenStore source("source-copy-8bit");
    pst::PstStore& w = source.writer();
    const pst::FolderId folder = w.CreateFolder(w.ipmSubtree(), "Mail", "IPF.Note");
    struct Case {
        std::string bytes;
        std::int32_t codePage;  // 0: none given (Windows-1252)
        std::u16string text;
    };
    const std::vector<Case> cases = {
        {"Caf\xe9 \xe0 la carte", 1252, u"Café à la carte"},
        {"\xcf\xf0\xe8\xe2\xe5\xf2", 1251, u"Привет"},
        {"Gr\xfc\xdf" "e", 0, u"Grüße"},
    };
    std::vector<pst::Nid> nids;
    for (const Case& c : cases) {
        pst::Message m;
        m.properties.SetRaw(pst::KeyOf(pst::tags::kSubject), PropType::String8, Bytes8(c.bytes));
        if (c.codePage != 0) m.properties.SetInt32(pst::PropTag{0x3FFD, PropType::Int32}, c.codePage);
        nids.push_back(w.AddMessage(folder, m));
    }
    StoreFile& store = source.Open();

    const auto subjects = ContentsSubjects(store, source, folder);
    ASSERT_EQ(subjects.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(subjects[i].first, static_cast<std::uint32_t>(PropType::Unicode)) << i;
        EXPECT_EQ(subjects[i].second, Utf16(cases[i].text)) << i;
        // The item itself keeps the 8-bit bytes.
        const std::optional<pst::Message> copy = CopySourceMessage(store, *source.Node(nids[i]));
        ASSERT_TRUE(copy.has_value());
        const pst::Property* subject = copy->properties.Find(pst::KeyOf(pst::tags::kSubject));
        ASSERT_NE(subject, nullptr);
        EXPECT_EQ(subject->type, PropType::String8);
        EXPECT_EQ(subject->bytes, Bytes8(cases[i].bytes));
    }
}

}  // namespace
}  // namespace bm
