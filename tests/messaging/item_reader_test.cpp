// ReadItem and StreamAttachmentData over a small store built in the test:
// a message with attachments whose data lives in the attachment's heap, in
// a data subnode, or nowhere.
#include <gtest/gtest.h>

#include <map>

#include "item_store_test.h"
#include "messaging/messaging.h"
#include "store/store.h"
#include "support/heap_image.h"
#include "support/store_image.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using Column = bmtest::TableContextImage::Column;

constexpr std::uint32_t kMessageNid = 0x200024;
constexpr std::uint32_t kLargeNid = 0x200044;
constexpr std::uint32_t kDataSubnode = 0x5F;  // the same local NID under two attachments

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes AttachmentObject(std::u16string_view longName, std::optional<Bytes> inlineData, bool dataInSubnode,
                       std::u16string_view language = {}) {
    bmtest::PropertyContextImage pc;
    if (inlineData) pc.Heap(0x3701, kPtBinary, *inlineData);
    if (dataInSubnode) pc.Raw(0x3701, kPtBinary, kDataSubnode);
    pc.Heap(0x3707, kPtUnicode, bmtest::Utf16(longName));
    if (!language.empty()) pc.Heap(0x3A0C, kPtUnicode, bmtest::Utf16(language));  // PR_LANGUAGE
    return pc.Build()[0];
}

class ItemReaderStore : public ItemStoreTest<::testing::Test> {
protected:
    void SetUp() override {
        bmtest::StoreBuilder b(kUnicodeLayout);
        bmtest::StoreImage shapes(kUnicodeLayout);
        b.AddDataBlock(4, bmtest::MinimalHeap());
        b.AddNode(0x21, 4, 0, 0);

        b.AddDataBlock(8, bmtest::PropertyContextImage{}
                              .Heap(0x001A, kPtUnicode, bmtest::Utf16(u"IPM.Note"))
                              .Heap(0x0037, kPtUnicode, bmtest::Utf16(u"Four attachments"))
                              .Build()[0]);
        // The attachment table: row id and file name.
        bmtest::TableContextImage table({{0x67F2, kPtLong, 0, 4, 0}, {0x3704, kPtUnicode, 4, 4, 1}}, 9);
        const char16_t* names[] = {u"ONE.TXT", u"TWO.TXT", u"THREE.TXT", u"FOUR.TXT"};
        for (std::uint32_t i = 0; i < 4; ++i) {
            const std::uint32_t name = table.HeapValue(bmtest::Utf16(names[i]));
            Bytes& row = table.AddRow();
            bmtest::PutU32(row, 0, 0x8025 + 0x20 * i);
            bmtest::PutU32(row, 4, name);
            row.resize(9);
        }
        b.AddDataBlock(12, table.Build()[0]);
        b.AddDataBlock(16, AttachmentObject(u"one.txt", std::nullopt, true));
        b.AddDataBlock(20, AttachmentObject(u"two.txt", std::nullopt, true));
        b.AddDataBlock(24, AttachmentObject(u"three.txt", Text("held in the heap"), false));
        b.AddDataBlock(28, AttachmentObject(u"four.txt", std::nullopt, false, u"en-US"));
        b.AddDataBlock(32, Text("data of the first attachment"));
        // The second attachment's data spans two blocks under an XBLOCK.
        b.AddDataBlock(36, Text("data of the second "));
        b.AddDataBlock(40, Text("attachment"));
        b.AddInternalBlock(42, shapes.XBlock({36, 40}, 29));
        b.AddInternalBlock(14, shapes.SlBlock({{kDataSubnode, 32, 0}}));
        b.AddInternalBlock(18, shapes.SlBlock({{kDataSubnode, 42, 0}}));
        // The recipient table: type, display name, address, address type.
        bmtest::TableContextImage recipients({{0x0C15, kPtLong, 0, 4, 0},
                                              {0x3001, kPtUnicode, 4, 4, 1},
                                              {0x3003, kPtUnicode, 8, 4, 2},
                                              {0x3002, kPtUnicode, 12, 4, 3}},
                                             17);
        const struct {
            std::uint32_t type;
            const char16_t* name;
            const char16_t* address;
            const char16_t* kind;
        } rows[] = {{1, u"Ann Archer", u"ann@example.org", u"SMTP"},
                    {2, u"Bo Brandt", u"/O=EXAMPLE/CN=BO", u"EX"},
                    {0x10000003, u"Cy Cole", u"cy@example.org", u"SMTP"}};  // Bcc, with a flag above the type
        for (const auto& r : rows) {
            const std::uint32_t name = recipients.HeapValue(bmtest::Utf16(r.name));
            const std::uint32_t address = recipients.HeapValue(bmtest::Utf16(r.address));
            const std::uint32_t kind = recipients.HeapValue(bmtest::Utf16(r.kind));
            Bytes& row = recipients.AddRow();
            bmtest::PutU32(row, 0, r.type);
            bmtest::PutU32(row, 4, name);
            bmtest::PutU32(row, 8, address);
            bmtest::PutU32(row, 12, kind);
        }
        b.AddDataBlock(56, recipients.Build()[0]);
        b.AddInternalBlock(10, shapes.SlBlock({{0x671, 12, 0},
                                               {0x692, 56, 0},
                                               {0x8025, 16, 14},
                                               {0x8045, 20, 18},
                                               {0x8065, 24, 0},
                                               {0x8085, 28, 0}}));
        b.AddNode(kMessageNid, 8, 10, 0x21);
        // A message whose heap spans two blocks under an XBLOCK.
        const auto pages = bmtest::PropertyContextImage{}
                               .Heap(0x001A, kPtUnicode, bmtest::Utf16(u"IPM.Note"))
                               .Heap(0x1000, kPtUnicode, bmtest::Utf16(u"body on the second page"), 1)
                               .Heap(0x3A06, kPtUnicode, bmtest::Utf16(u"Ann"), 1)  // PR_GIVEN_NAME
                               .Build();
        b.AddDataBlock(48, pages[0]);
        b.AddDataBlock(52, pages[1]);
        b.AddInternalBlock(46, shapes.XBlock({48, 52}, static_cast<std::uint32_t>(pages[0].size() + pages[1].size())));
        b.AddNode(kLargeNid, 46, 0, 0x21);
        const auto path = bmtest::ScratchDir("item-reader") / "message.pst";
        b.Build().image.Save(path);
        Open(path);
    }
};

std::string Stream(StoreFile& store, AttachmentRecord& a) {
    std::string out;
    StreamAttachmentData(store, a, [&](std::span<const std::uint8_t> d) {
        out.append(d.begin(), d.end());
        return true;
    });
    return out;
}

TEST_F(ItemReaderStore, MessageHasOneRecordPerRowLastRowFirst) {
    auto record = Read(kMessageNid);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->kind, ItemKind::Mail);
    ASSERT_NE(record->messageFields, nullptr);
    EXPECT_EQ(record->messageFields->subject->text, "Four attachments");
    ASSERT_EQ(record->attachments.size(), 4u);
    EXPECT_EQ(record->currentAttachment, 0u);
    EXPECT_EQ(record->attachments[0].fileName, "FOUR.TXT");
    EXPECT_EQ(record->attachments[0].longFileName, "four.txt");
    EXPECT_EQ(record->attachments[3].fileName, "ONE.TXT");
    EXPECT_EQ(record->attachments[3].longFileName, "one.txt");
}

TEST_F(ItemReaderStore, RecipientRowsAreReadInTableOrderWithTheirTypes) {
    auto record = Read(kMessageNid);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->recipients.size(), 3u);
    const RecipientRecord& ann = record->recipients[0];
    EXPECT_EQ(ann.displayName, "Ann Archer");
    EXPECT_EQ(ann.address, "ann@example.org");
    EXPECT_EQ(ann.addressType, "SMTP");
    EXPECT_EQ(ann.type, 1u);
    EXPECT_EQ(record->recipients[1].displayName, "Bo Brandt");
    EXPECT_EQ(record->recipients[1].addressType, "EX");
    EXPECT_EQ(record->recipients[1].type, 2u);
    EXPECT_EQ(record->recipients[2].displayName, "Cy Cole");
    EXPECT_EQ(record->recipients[2].type, 3u) << "the flags above the type are no part of it";
    // The rows' properties fill nothing else: no contact e-mail from 0x3003.
    EXPECT_EQ(record->contactFields ? record->contactFields->email : std::string(), "");

    const NodeEntry* node = FindNode(store_, kLargeNid);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(ReadItem(store_, *node, &reader_, &rtf_)->recipients.empty()) << "no recipient table";
}

TEST_F(ItemReaderStore, ARecordReadWithoutBodiesGetsThemAndItsRecipientsBackFromItsNode) {
    const NodeEntry* message = FindNode(store_, kMessageNid);
    const NodeEntry* large = FindNode(store_, kLargeNid);
    ASSERT_NE(message, nullptr);
    ASSERT_NE(large, nullptr);
    auto withRows = ReadItem(store_, *message, &reader_, &rtf_, RecipientRows::Read, ItemParts::WithoutBodies);
    ASSERT_NE(withRows, nullptr);
    EXPECT_TRUE(withRows->bodiesLeftOut);
    EXPECT_TRUE(withRows->recipients.empty());
    // Everything else is read as always.
    EXPECT_EQ(withRows->messageFields->subject->text, "Four attachments");
    EXPECT_EQ(withRows->attachments.size(), 4u);
    ReadLeftOutParts(store_, *withRows);
    EXPECT_FALSE(withRows->bodiesLeftOut);
    ASSERT_EQ(withRows->recipients.size(), 3u);
    EXPECT_EQ(withRows->recipients[2].displayName, "Cy Cole");

    auto withBody = ReadItem(store_, *large, &reader_, &rtf_, RecipientRows::Read, ItemParts::WithoutBodies);
    ASSERT_NE(withBody, nullptr);
    EXPECT_TRUE(!withBody->messageFields || withBody->messageFields->body.empty());
    ASSERT_NE(withBody->contactFields, nullptr);
    EXPECT_EQ(withBody->contactFields->givenName, "Ann");
    ReadLeftOutParts(store_, *withBody);
    ASSERT_NE(withBody->messageFields, nullptr);
    EXPECT_EQ(withBody->messageFields->body, "body on the second page");
    // A complete record is left as it is.
    withBody->messageFields->body = "kept";
    ReadLeftOutParts(store_, *withBody);
    EXPECT_EQ(withBody->messageFields->body, "kept");
}

TEST_F(ItemReaderStore, ContactFieldsFilledOnlyByAnAttachmentAreMarkedAsSuch) {
    auto record = Read(kMessageNid);
    ASSERT_NE(record, nullptr);
    ASSERT_NE(record->contactFields, nullptr) << "the attachment's language still lands in the record";
    EXPECT_EQ(record->contactFields->language, "en-US");
    EXPECT_TRUE(record->contactFieldsOnlyFromAttachments);

    const NodeEntry* node = FindNode(store_, kLargeNid);
    ASSERT_NE(node, nullptr);
    auto own = ReadItem(store_, *node, &reader_, &rtf_);
    ASSERT_NE(own, nullptr);
    ASSERT_NE(own->contactFields, nullptr);
    EXPECT_EQ(own->contactFields->givenName, "Ann");
    EXPECT_FALSE(own->contactFieldsOnlyFromAttachments);
}

TEST_F(ItemReaderStore, DataInASubnodeIsFoundUnderItsOwnAttachment) {
    auto record = Read(kMessageNid);
    ASSERT_NE(record, nullptr);
    std::map<std::string, AttachmentRecord*> byName;
    for (AttachmentRecord& a : record->attachments) byName[a.longFileName] = &a;
    AttachmentRecord& one = *byName["one.txt"];
    AttachmentRecord& two = *byName["two.txt"];
    EXPECT_FALSE(one.hasData);
    EXPECT_EQ(one.nid, kDataSubnode);
    EXPECT_EQ(one.dataBid, 32u);
    EXPECT_EQ(two.dataBid, 42u);  // not the first attachment's block of the same NID
    EXPECT_EQ(Stream(store_, one), "data of the first attachment");
    EXPECT_EQ(one.size, 28);
    EXPECT_EQ(Stream(store_, two), "data of the second attachment");
    EXPECT_EQ(two.size, 29);
}

TEST_F(ItemReaderStore, DataInTheHeapIsHeldInTheRecordAndReleasedWhenStreamed) {
    auto record = Read(kMessageNid);
    ASSERT_NE(record, nullptr);
    AttachmentRecord& three = record->attachments[1];
    ASSERT_EQ(three.longFileName, "three.txt");
    EXPECT_TRUE(three.hasData);
    EXPECT_EQ(three.dataBid, kAttachmentDataInRecord);
    EXPECT_EQ(three.size, 16);
    EXPECT_EQ(Stream(store_, three), "held in the heap");
    EXPECT_TRUE(three.data.empty());
    EXPECT_FALSE(three.hasData);
}

TEST_F(ItemReaderStore, AttachmentWithoutDataStreamsNothingRatherThanItsOwnObject) {
    auto record = Read(kMessageNid);
    ASSERT_NE(record, nullptr);
    AttachmentRecord& four = record->attachments[0];
    EXPECT_EQ(four.nid, 0x8085u);
    EXPECT_EQ(four.dataBid, 0u);
    EXPECT_EQ(Stream(store_, four), "");
    EXPECT_EQ(four.size, 0);
}

TEST_F(ItemReaderStore, HeapSpreadOverAnXBlockIsAssembled) {
    const NodeEntry* node = FindNode(store_, kLargeNid);
    ASSERT_NE(node, nullptr);
    const auto record = ReadItem(store_, *node, &reader_, &rtf_);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->messageClass, "IPM.Note");
    ASSERT_NE(record->messageFields, nullptr);
    EXPECT_EQ(record->messageFields->body, "body on the second page");
}

TEST_F(ItemReaderStore, SubnodeValueIsReadWholeThroughItsDataTree) {
    const NodeEntry* node = FindNode(store_, kMessageNid);
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->subnodeBlock(), nullptr);
    const SubnodeList message = ReadSubnodes(store_, *node->subnodeBlock());
    Bytes out;
    // The flat list holds both data subnodes of NID 0x5F; the first wins.
    EXPECT_EQ(ReadSubnodeValue(store_, kDataSubnode, &message, out), 28u);
    EXPECT_EQ(std::string(out.begin(), out.end()), "data of the first attachment");
    EXPECT_EQ(ReadSubnodeValue(store_, 0x9999, &message, out), 0u);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadSubnodeValue(store_, kDataSubnode, nullptr, out), 0u);
}

TEST_F(ItemReaderStore, NodeWithoutDataOrHeapGivesNoRecord) {
    const NodeEntry* store = FindNode(store_, 0x21);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(ReadItem(store_, *store, &reader_, &rtf_), nullptr);  // a bare heap without a property context
    NodeEntry bare;
    EXPECT_EQ(ReadItem(store_, bare, &reader_, &rtf_), nullptr);
}

// Attachments that embed a message keep it as an object in a subnode and
// often carry no file name: they are shown by their display name, else by
// the embedded message's subject, with the attachment size the store holds.
TEST(ItemReaderEmbedded, AnEmbeddedMessageIsNamedByItsDisplayNameOrSubjectAndSizedByItsAttachmentSize) {
    constexpr std::uint32_t kEmbeddedNid = 0x2A4;
    const struct {
        std::uint32_t nid;
        std::u16string_view displayName;
        std::u16string_view longName;
        std::uint32_t size;
        std::string shown;
    } cases[] = {{0x8025, u"message 1 (2.23 KB)", u"", 2283, "message 1 (2.23 KB)"},
                 {0x8045, u"", u"", 1900, "Minutes of Monday"},
                 {0x8065, u"shown", u"long name.msg", 512, "long name.msg"}};
    bmtest::StoreBuilder b(kUnicodeLayout);
    bmtest::StoreImage shapes(kUnicodeLayout);
    b.AddDataBlock(4, bmtest::PropertyContextImage{}.Heap(0x001A, kPtUnicode, bmtest::Utf16(u"IPM.Note")).Build()[0]);
    bmtest::TableContextImage table(
        {{0x67F2, kPtLong, 0, 4, 0}, {0x0E20, kPtLong, 4, 4, 1}, {0x3705, kPtLong, 8, 4, 2}}, 13);
    std::vector<bmtest::SubnodeLeafEntry> subnodes{{0x671, 8, 0}};
    std::uint64_t bid = 12;
    for (const auto& c : cases) {
        Bytes& row = table.AddRow();
        bmtest::PutU32(row, 0, c.nid);
        bmtest::PutU32(row, 4, c.size);
        bmtest::PutU32(row, 8, 5);
        row[12] = 0xE0;
        bmtest::PropertyContextImage object;
        object.Inline(0x0E20, kPtLong, c.size).Inline(0x3705, kPtLong, 5);
        if (!c.displayName.empty()) object.Heap(0x3001, kPtUnicode, bmtest::Utf16(c.displayName));
        if (!c.longName.empty()) object.Heap(0x3707, kPtUnicode, bmtest::Utf16(c.longName));
        Bytes reference = bmtest::Le32(kEmbeddedNid);
        const Bytes size = bmtest::Le32(100);
        reference.insert(reference.end(), size.begin(), size.end());
        object.Heap(0x3701, kPtObject, reference);
        const std::uint64_t objectBid = bid, messageBid = bid + 4, listBid = bid + 6;
        bid += 8;
        b.AddDataBlock(objectBid, object.Build()[0]);
        b.AddDataBlock(messageBid, bmtest::PropertyContextImage{}
                                       .Heap(0x001A, kPtUnicode, bmtest::Utf16(u"IPM.Note"))
                                       .Heap(0x0037, kPtUnicode, bmtest::Utf16(u"Minutes of Monday"))
                                       .Build()[0]);
        b.AddInternalBlock(listBid, shapes.SlBlock({{kEmbeddedNid, messageBid, 0}}));
        subnodes.push_back({c.nid, objectBid, listBid});
    }
    b.AddDataBlock(8, table.Build()[0]);
    b.AddInternalBlock(10, shapes.SlBlock(subnodes));
    b.AddDataBlock(2000, bmtest::MinimalHeap());
    b.AddNode(0x21, 2000, 0, 0);
    b.AddNode(kMessageNid, 4, 10, 0x21);
    const auto path = bmtest::ScratchDir("item-reader-embedded") / "message.pst";
    b.Build().image.Save(path);
    StoreFile store;
    StoreReader reader;
    ASSERT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0);
    ASSERT_EQ(BuildIndexes(store, reader), 0);
    const auto record = ReadItem(store, *FindNode(store, kMessageNid), &reader);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->attachments.size(), 3u);
    std::map<std::string, std::int32_t> shown;
    for (const AttachmentRecord& a : record->attachments) {
        EXPECT_EQ(a.method, 5);
        shown[AttachmentShownName(a)] = AttachmentShownSize(a);
    }
    for (const auto& c : cases) {
        ASSERT_TRUE(shown.contains(c.shown)) << c.shown;
        EXPECT_EQ(shown[c.shown], static_cast<std::int32_t>(c.size)) << c.shown;
    }
    ReleaseStore(store);
}

}  // namespace
}  // namespace bm
