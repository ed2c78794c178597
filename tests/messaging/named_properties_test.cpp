// The name-to-ID map built from its entry and string streams.
#include <gtest/gtest.h>

#include "messaging/named_properties.h"
#include "support/heap_image.h"

namespace bm {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Record(std::uint32_t propertyId, std::uint16_t guidWord, std::uint16_t propIdx) {
    Bytes r;
    bmtest::AppendU32(r, propertyId);
    bmtest::AppendU16(r, guidWord);
    bmtest::AppendU16(r, propIdx);
    return r;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(NamedPropertyMapBuild, EveryWholeRecordBecomesAnEntry) {
    const auto map = BuildNamedPropertyMap(Join({Record(0x8005, 6, 0), Record(0x8006, 6, 1), Record(0x8007, 6, 2),
                                                 Bytes{1, 2, 3}}),
                                           {});
    EXPECT_EQ(map.size(), 3u);
}

// Some writers leave a record that names nothing among the others: the
// names after it are still read.
TEST(NamedPropertyMapBuild, RecordWithGuidWordZeroIsPassedOverAndTheRestRead) {
    const auto map = BuildNamedPropertyMap(Join({Record(0x8005, 6, 0), Record(0x8006, 0, 1), Record(0x8007, 6, 2)}),
                                           {});
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.entries()[0].propertyId, 0x8000u);
    EXPECT_EQ(map.Find(0x8001), nullptr);
    ASSERT_NE(map.Find(0x8002), nullptr);
    EXPECT_EQ(map.Find(0x8002)->lid, 0x8007u);
}

// A string stream past 64 KiB: the record's offset is the whole 32 bits,
// and the low 16 bits alone would name another place (here another name).
TEST(NamedPropertyMapBuild, StringNameBeyondSixtyFourKiBIsReadAtItsWholeOffset) {
    Bytes strings;
    const auto put = [&](std::u16string_view text) {
        const Bytes name = bmtest::Utf16(text);
        bmtest::AppendU32(strings, static_cast<std::uint32_t>(name.size()));
        strings.insert(strings.end(), name.begin(), name.end());
    };
    put(u"Near");
    strings.resize(0x10000, 0);
    put(u"Far");
    const auto map = BuildNamedPropertyMap(Join({Record(0, 5, 0), Record(0x10000, 5, 1)}), strings);
    ASSERT_TRUE(map.Find(0x8000)->name);
    EXPECT_EQ(*map.Find(0x8000)->name, "Near");
    ASSERT_TRUE(map.Find(0x8001)->name);
    EXPECT_EQ(*map.Find(0x8001)->name, "Far");
}

// The hash buckets repeat the records: a numeric name the entry stream
// lost comes from them, with its property set; a string name does not
// (a bucket holds its hash, not its offset), nor one the stream has.
TEST(NamedPropertyMapBuild, NumericNamesOnlyTheBucketsHoldAreTaken) {
    const Bytes entries = Record(0x8501, 6, 0);
    const Bytes bucketA = Join({Record(0x8501, 4, 0), Record(0x8233, 2, 1)});
    const Bytes bucketB = Record(0x12345678, 5, 2);
    const auto map = BuildNamedPropertyMap(entries, {}, {}, {bucketA, bucketB});
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.Find(0x8000)->guidWord, 6u);
    const NamedPropertyEntry* fromBucket = map.Find(0x8001);
    ASSERT_NE(fromBucket, nullptr);
    EXPECT_EQ(fromBucket->kind, NamedKind::Numeric);
    EXPECT_EQ(fromBucket->lid, 0x8233u);
    ASSERT_TRUE(fromBucket->propertySet);
    EXPECT_EQ(*fromBucket->propertySet, kPsMapiGuid);
    EXPECT_EQ(map.Find(0x8002), nullptr);
}

TEST(NamedPropertyMapBuild, StringNameIsReadAtItsOffset) {
    Bytes strings(0x10, 0);
    bmtest::AppendU32(strings, 8);
    const Bytes name = bmtest::Utf16(u"Test");
    strings.insert(strings.end(), name.begin(), name.end());
    const auto map = BuildNamedPropertyMap(Record(0x10, 7, 4), strings);
    const NamedPropertyEntry* e = map.Find(0x8004);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, NamedKind::String);
    ASSERT_TRUE(e->name);
    EXPECT_EQ(*e->name, "Test");
    EXPECT_EQ(e->guidWord, 7u);
}

TEST(NamedPropertyMapBuild, NonLatinNameStaysIntact) {
    Bytes strings;
    const Bytes name = bmtest::Utf16(u"\u0418\u043c\u044f");
    bmtest::AppendU32(strings, static_cast<std::uint32_t>(name.size()));
    strings.insert(strings.end(), name.begin(), name.end());
    const auto map = BuildNamedPropertyMap(Record(0, 1, 0), strings);
    ASSERT_TRUE(map.Find(0x8000)->name);
    EXPECT_EQ(*map.Find(0x8000)->name, "\u0418\u043c\u044f");
}

TEST(NamedPropertyMapBuild, NameLengthPastTheStreamIsCut) {
    Bytes strings;
    bmtest::AppendU32(strings, 1000);
    const Bytes name = bmtest::Utf16(u"Ab");
    strings.insert(strings.end(), name.begin(), name.end());
    const auto map = BuildNamedPropertyMap(Record(0, 1, 0), strings);
    EXPECT_EQ(*map.Find(0x8000)->name, "Ab");
}

TEST(NamedPropertyMapBuild, NameOutsideTheStringStreamLeavesAStringEntryWithoutName) {
    const auto map = BuildNamedPropertyMap(Record(0x400, 1, 0), Bytes(16, 0));
    const NamedPropertyEntry* e = map.Find(0x8000);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, NamedKind::String);
    EXPECT_FALSE(e->name);
}

TEST(NamedPropertyMapBuild, EntriesAreKeptAscending) {
    const auto map = BuildNamedPropertyMap(Join({Record(1, 6, 5), Record(2, 6, 3)}), {});
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.entries()[0].propertyId, 0x8003u);
    EXPECT_EQ(map.entries()[1].propertyId, 0x8005u);
}

TEST(NamedPropertyMapBuild, NumericNameTakesTheLowSixteenBits) {
    const auto map = BuildNamedPropertyMap(Record(0x00018005, 6, 0), {});
    EXPECT_EQ(map.Find(0x8000)->lid, 0x8005u);
    EXPECT_EQ(map.Find(0x8000)->kind, NamedKind::Numeric);
}

TEST(NamedPropertyMapBuild, OfEqualIdentifiersTheOneReadLastIsFound) {
    const auto map = BuildNamedPropertyMap(Join({Record(0x8001, 6, 7), Record(0x8002, 6, 7)}), {});
    EXPECT_EQ(map.Find(0x8007)->lid, 0x8002u);
    EXPECT_EQ(map.Find(0x8008), nullptr);
}

}  // namespace
}  // namespace bm
