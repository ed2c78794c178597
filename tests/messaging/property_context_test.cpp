// Property contexts: record conversion, dropped values, subnodes, named
// properties, damaged heaps.
#include <gtest/gtest.h>

#include <map>

#include "messaging/property_context.h"
#include "support/heap_image.h"

namespace bm {
namespace {

using bmtest::Hid;
using bmtest::PropertyContextImage;

std::optional<PropertyList> Read(const PropertyContextImage& image, const PropertyReadContext& ctx = {}) {
    const auto heap = HeapNode::Open(image.Build());
    if (!heap) return std::nullopt;
    return ReadPropertyObject(*heap, ctx);
}

const std::vector<PropertyValue>& Entries(const std::optional<PropertyList>& list) {
    static const std::vector<PropertyValue> none;
    return list && !list->chunks.empty() ? list->chunks.front().entries : none;
}

// Subnodes of the node being read, as data blocks by NID.
SubnodeDataReader Subnodes(std::map<std::uint32_t, HeapBlocks> data) {
    return [data = std::move(data)](std::uint32_t nid) -> std::optional<HeapBlocks> {
        const auto it = data.find(nid);
        if (it == data.end()) return std::nullopt;
        return it->second;
    };
}

TEST(PropertyContextRead, EmptyContextHasOneChunkWithNoEntries) {
    const auto list = Read(PropertyContextImage{});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->rowCount, 1);
    ASSERT_EQ(list->chunks.size(), 1u);
    EXPECT_EQ(list->chunks[0].count(), 0u);
}

TEST(PropertyContextRead, LongKeepsItsFourBytesInline) {
    const auto list = Read(PropertyContextImage{}.Inline(0x0E07, kPtLong, 0x11223344));
    ASSERT_EQ(Entries(list).size(), 1u);
    const PropertyValue& v = Entries(list)[0];
    EXPECT_EQ(v.id, 0x0E07u);
    EXPECT_EQ(v.type, kPtLong);
    EXPECT_EQ(v.size, 4u);
    EXPECT_EQ(*v.data, (Bytes{0x44, 0x33, 0x22, 0x11}));
}

TEST(PropertyContextRead, UnicodeValueIsCopiedWithItsSize) {
    const auto list = Read(PropertyContextImage{}.Heap(0x0037, kPtUnicode, bmtest::Utf16(u"Hello")));
    ASSERT_EQ(Entries(list).size(), 1u);
    EXPECT_EQ(Entries(list)[0].size, 10u);
    EXPECT_EQ(*Entries(list)[0].data, bmtest::Utf16(u"Hello"));
}

TEST(PropertyContextRead, ZeroHnidDropsTheRecordAndTheNextTakesItsSlot) {
    const auto list = Read(PropertyContextImage{}
                               .Raw(0x0037, kPtUnicode, 0)
                               .Heap(0x0E04, kPtUnicode, bmtest::Utf16(u"To"))
                               .Inline(0x0E07, kPtLong, 1));
    ASSERT_EQ(Entries(list).size(), 2u);
    EXPECT_EQ(Entries(list)[0].id, 0x0E04u);
    EXPECT_EQ(Entries(list)[1].id, 0x0E07u);
}

TEST(PropertyContextRead, UnsupportedTypesStayListedWithoutData) {
    const auto list = Read(PropertyContextImage{}.Raw(0x1234, 0x101F, Hid(1)).Raw(0x1235, 0x1040, Hid(1)));
    ASSERT_EQ(Entries(list).size(), 2u);
    for (const auto& v : Entries(list)) {
        EXPECT_EQ(v.type, 0u);
        EXPECT_EQ(v.size, 0u);
        EXPECT_FALSE(v.hasData());
    }
}

TEST(PropertyContextRead, SubnodeValueWithoutASubnodeListCarriesTheNid) {
    const auto list = Read(PropertyContextImage{}.Raw(0x3701, kPtBinary, 0x8045));
    ASSERT_EQ(Entries(list).size(), 1u);
    EXPECT_FALSE(Entries(list)[0].hasData());
    EXPECT_EQ(Entries(list)[0].type, 0x8045u);
    EXPECT_EQ(Entries(list)[0].size, 0u);
}

TEST(PropertyContextRead, SubnodeValueIsAssembledFromItsBlocks) {
    PropertyReadContext ctx;
    ctx.subnodes = Subnodes({{0x8045, {Bytes{1, 2}, Bytes{3}}}});
    const auto list = Read(PropertyContextImage{}.Raw(0x1000, kPtBinary, 0x8045), ctx);
    ASSERT_EQ(Entries(list).size(), 1u);
    EXPECT_EQ(*Entries(list)[0].data, (Bytes{1, 2, 3}));
    EXPECT_EQ(Entries(list)[0].type, kPtBinary);
}

TEST(PropertyContextRead, ObjectIsReadFromTheSubnodeItsHeapValueNames) {
    Bytes ref;
    bmtest::AppendU32(ref, 0x8064);
    bmtest::AppendU32(ref, 100);
    PropertyReadContext ctx;
    ctx.subnodes = Subnodes({{0x8064, {Bytes{9, 9, 9}}}});
    const auto withData = Read(PropertyContextImage{}.Heap(0x3701, kPtObject, ref), ctx);
    ASSERT_EQ(Entries(withData).size(), 1u);
    EXPECT_EQ(*Entries(withData)[0].data, (Bytes{9, 9, 9}));
    EXPECT_EQ(Entries(withData)[0].type, kPtObject);

    const auto without = Read(PropertyContextImage{}.Heap(0x3701, kPtObject, ref));
    ASSERT_EQ(Entries(without).size(), 1u);
    EXPECT_FALSE(Entries(without)[0].hasData());
    EXPECT_EQ(Entries(without)[0].type, 0x8064u);
}

TEST(PropertyContextRead, NamedPropertiesAreListedByLidOrName) {
    std::vector<NamedPropertyEntry> entries(2);
    entries[0].propertyId = 0x8012;
    entries[0].kind = NamedKind::Numeric;
    entries[0].lid = 0x8005;
    entries[1].propertyId = 0x8014;
    entries[1].kind = NamedKind::String;
    entries[1].name = "Keywords";
    const NamedPropertyMap names(std::move(entries));
    PropertyReadContext ctx;
    ctx.names = &names;
    const auto list = Read(PropertyContextImage{}
                               .Heap(0x8012, kPtUnicode, bmtest::Utf16(u"a"))
                               .Heap(0x8013, kPtUnicode, bmtest::Utf16(u"b"))
                               .Heap(0x8014, kPtUnicode, bmtest::Utf16(u"c")),
                           ctx);
    ASSERT_EQ(Entries(list).size(), 3u);
    EXPECT_EQ(Entries(list)[0].id, 0x8005u);
    EXPECT_EQ(Entries(list)[1].id, 0x8013u);
    EXPECT_EQ(Entries(list)[2].id, kStringNamedId);
    EXPECT_EQ(Entries(list)[2].name, "Keywords");
}

TEST(PropertyContextRead, ValueOnALaterHeapPageIsRead) {
    const auto list = Read(PropertyContextImage{}
                               .Heap(0x0037, kPtUnicode, bmtest::Utf16(u"first page"))
                               .Heap(0x1000, kPtUnicode, bmtest::Utf16(u"second page"), 1));
    ASSERT_EQ(Entries(list).size(), 2u);
    EXPECT_EQ(*Entries(list)[1].data, bmtest::Utf16(u"second page"));
}

TEST(PropertyContextRead, IndexedBthIsReadToItsLeaves) {
    PropertyContextImage image;
    for (std::uint16_t id = 0x3000; id < 0x3010; ++id) image.Inline(id, kPtLong, id);
    image.IndexLevels(1);
    const auto list = Read(image);
    ASSERT_EQ(Entries(list).size(), 16u);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(Entries(list)[i].id, 0x3000u + i);
}

TEST(PropertyContextDamage, ValueOutsideTheHeapIsDroppedOthersStay) {
    const auto list = Read(PropertyContextImage{}
                               .Raw(0x0037, kPtUnicode, Hid(40))  // no such allocation
                               .Inline(0x0E07, kPtLong, 5));
    ASSERT_EQ(Entries(list).size(), 1u);
    EXPECT_EQ(Entries(list)[0].id, 0x0E07u);
}

TEST(PropertyContextDamage, RootOutsideTheHeapGivesNoObject) {
    auto pages = PropertyContextImage{}.Inline(0x0E07, kPtLong, 5).Build();
    bmtest::PutU32(pages[0], 4, Hid(30));
    const auto heap = HeapNode::Open(pages);
    ASSERT_TRUE(heap);
    EXPECT_FALSE(ReadPropertyObject(*heap, {}));
}

TEST(PropertyContextDamage, WrongBthHeaderGivesNoObject) {
    bmtest::HeapImage image(0xBC);
    image.SetUserRoot(image.Add({0xB5, 4, 6, 0, 0, 0, 0, 0}));  // cbKey 4 is a table's row index
    const auto heap = HeapNode::Open(image.Build());
    EXPECT_FALSE(ReadPropertyObject(*heap, {}));
}

TEST(PropertyContextDamage, RecordArrayCutShortKeepsWholeRecordsOnly) {
    bmtest::HeapImage image(0xBC);
    Bytes records;
    for (std::uint16_t id : {0x0E07, 0x0E08}) {
        bmtest::AppendU16(records, id);
        bmtest::AppendU16(records, kPtLong);
        bmtest::AppendU32(records, 1);
    }
    records.resize(13);
    const std::uint32_t leaf = image.Add(records);
    Bytes header{0xB5, 2, 6, 0};
    bmtest::AppendU32(header, leaf);
    image.SetUserRoot(image.Add(header));
    const auto heap = HeapNode::Open(image.Build());
    const auto list = ReadPropertyObject(*heap, {});
    ASSERT_EQ(Entries(list).size(), 1u);
}

}  // namespace
}  // namespace bm

namespace bm {
namespace {

// Every single-byte change of a property context and of a table context is
// read without reading outside the heap, and whatever comes out is
// consistent: a value's size is the size of its data.
void ExpectConsistent(const std::optional<PropertyList>& list) {
    if (!list) return;
    EXPECT_EQ(list->rowCount, static_cast<std::int32_t>(list->chunks.size()));
    for (const auto& chunk : list->chunks) {
        for (const auto& v : chunk.entries) {
            if (v.hasData()) {
                EXPECT_EQ(v.size, v.data->size());
            }
        }
    }
}

void DamageEveryByte(const std::vector<Bytes>& pages) {
    PropertyReadContext ctx;
    ctx.subnodes = [](std::uint32_t) -> std::optional<HeapBlocks> { return HeapBlocks{Bytes{1, 2, 3}}; };
    for (std::size_t p = 0; p < pages.size(); ++p) {
        for (std::size_t i = 0; i < pages[p].size(); ++i) {
            for (const std::uint8_t value : {0x00, 0x01, 0x7F, 0xFF}) {
                auto damaged = pages;
                damaged[p][i] = value;
                const auto heap = HeapNode::Open(damaged);
                if (heap) ExpectConsistent(ReadPropertyObject(*heap, ctx));
            }
        }
    }
}

TEST(PropertyContextDamage, EveryDamagedByteIsReadSafely) {
    DamageEveryByte(PropertyContextImage{}
                        .Inline(0x0E07, kPtLong, 1)
                        .Heap(0x0037, kPtUnicode, bmtest::Utf16(u"Subject"))
                        .Raw(0x1000, kPtBinary, 0x8045)
                        .Heap(0x3701, kPtObject, Bytes{0x64, 0x80, 0, 0, 5, 0, 0, 0})
                        .Heap(0x1013, kPtBinary, Bytes(9, 0x3C), 1)
                        .IndexLevels(1)
                        .Build());
}

TEST(TableContextDamage, EveryDamagedByteIsReadSafely) {
    bmtest::TableContextImage t({{0x67F2, kPtLong, 0, 4, 0}, {0x3704, kPtUnicode, 4, 4, 1}, {0x3008, kPtSysTime, 8, 8, 2}},
                                17);
    for (std::uint32_t r = 0; r < 2; ++r) {
        const std::uint32_t name = t.HeapValue(bmtest::Utf16(u"n.txt"));
        Bytes& row = t.AddRow();
        bmtest::PutU32(row, 0, 0x8025 + 0x20 * r);
        bmtest::PutU32(row, 4, name);
    }
    DamageEveryByte(t.Build());
}

}  // namespace
}  // namespace bm
