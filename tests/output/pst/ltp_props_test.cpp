// Property bags, the name-to-ID map, table templates and the compressed-RTF
// writer.
#include <gtest/gtest.h>

#include <random>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "common/utf.h"
#include "output/pst/message_rtf.h"
#include "output/pst/props_name_map.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"

namespace bm::pst {
namespace {

// ---- property bag ----

TEST(PropertyBag, TypedSettersStoreTheOnDiskForm) {
    PropertyBag bag;
    bag.SetString(tags::kSubject, "Aé");
    bag.SetInt32(tags::kImportance, -2);
    bag.SetBool(tags::kHasAttachments, true);
    bag.SetMultiString(PropTag{0x6000, PropType::MvUnicode}, {"a", "bc"});
    bag.SetMultiInt32(PropTag{0x6001, PropType::MvInt32}, std::vector<std::int32_t>{1, 2});
    EXPECT_EQ(bag.Find(tags::kSubject)->bytes, (std::vector<std::uint8_t>{'A', 0, 0xE9, 0}));
    EXPECT_EQ(bag.GetInt32(tags::kImportance), -2);
    EXPECT_EQ(bag.Find(tags::kHasAttachments)->bytes, std::vector<std::uint8_t>{1});
    // count, two offsets, then NUL-terminated UTF-16 values
    EXPECT_EQ(bag.Find(PropTag{0x6000, PropType::MvUnicode})->bytes,
              (std::vector<std::uint8_t>{2, 0, 0, 0, 12, 0, 0, 0, 16, 0, 0, 0, 'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0}));
    EXPECT_EQ(bag.Find(PropTag{0x6001, PropType::MvInt32})->bytes,
              (std::vector<std::uint8_t>{1, 0, 0, 0, 2, 0, 0, 0}));
}

TEST(PropertyBag, SettingAgainReplacesInPlaceAndTypesAreChecked) {
    PropertyBag bag;
    bag.SetString(tags::kSubject, "one");
    bag.SetInt32(tags::kImportance, 1);
    bag.SetString(tags::kSubject, "two");
    ASSERT_EQ(bag.size(), 2u);
    EXPECT_EQ(bag.properties()[0].key.id, tags::kSubject.id);
    EXPECT_EQ(bag.GetString(tags::kSubject), "two");
    EXPECT_THROW(bag.SetInt32(tags::kSubject, 1), std::invalid_argument);
    EXPECT_THROW(bag.SetString(PropTag{0x8001, PropType::Unicode}, "x"), std::invalid_argument);
    EXPECT_THROW(bag.SetRaw(KeyOf(tags::kImportance), PropType::Int32, {1, 2}), std::invalid_argument);
    bag.Remove(KeyOf(tags::kSubject));
    EXPECT_EQ(bag.size(), 1u);
    EXPECT_EQ(bag.GetInt32(tags::kImportance), 1);
}

TEST(PropertyBag, KeysOfEqualHashStayApartThroughReplaceAndRemove) {
    // The hash takes the set byte by byte and the LID last: a set one lower
    // in its last byte with a LID 31 higher hashes the same.
    NamedPropTag a{GuidFromText("00062008-0000-0000-C000-000000000046"), std::uint32_t{5}, PropType::Int32};
    NamedPropTag b = a;
    b.propertySet[15] = 0x45;
    b.name = std::uint32_t{36};
    ASSERT_EQ(PropKeyHash{}(KeyOf(a)), PropKeyHash{}(KeyOf(b)));
    ASSERT_FALSE(KeyOf(a) == KeyOf(b));

    PropertyBag bag;
    for (std::uint16_t id = 0x3000; id < 0x3020; ++id) bag.SetInt32(PropTag{id, PropType::Int32}, id);
    bag.SetInt32(a, 1);
    bag.SetInt32(b, 2);
    bag.SetInt32(a, 3);  // replaced in its place
    ASSERT_EQ(bag.size(), 0x22u);
    EXPECT_EQ(bag.properties()[0x20].key, KeyOf(a));
    EXPECT_EQ(ByteReader(bag.Find(KeyOf(a))->bytes).readI32(), 3);
    EXPECT_EQ(ByteReader(bag.Find(KeyOf(b))->bytes).readI32(), 2);

    bag.Remove(KeyOf(a));
    bag.Remove(KeyOf(PropTag{0x3005, PropType::Int32}));
    bag.Remove(KeyOf(PropTag{0x3005, PropType::Int32}));  // gone already: nothing happens
    ASSERT_EQ(bag.size(), 0x20u);
    EXPECT_EQ(bag.Find(KeyOf(a)), nullptr);
    EXPECT_EQ(ByteReader(bag.Find(KeyOf(b))->bytes).readI32(), 2);
    EXPECT_EQ(bag.Find(PropTag{0x3005, PropType::Int32}), nullptr);
    // Every other property is still found, at its place in the order.
    for (std::uint16_t id = 0x3000; id < 0x3020; ++id) {
        if (id == 0x3005) continue;
        const Property* p = bag.Find(PropTag{id, PropType::Int32});
        ASSERT_NE(p, nullptr) << id;
        EXPECT_EQ(ByteReader(p->bytes).readI32(), id);
        EXPECT_EQ(&bag.properties()[id < 0x3005 ? id - 0x3000 : id - 0x3001], p);
    }
    bag.SetInt32(a, 4);  // back at the end
    EXPECT_EQ(bag.properties().back().key, KeyOf(a));
}

TEST(PropertyBag, GuidTextIsStoredWithLittleEndianGroups) {
    const Guid g = GuidFromText("00062002-0000-0000-C000-000000000046");
    EXPECT_EQ(g, (Guid{0x02, 0x20, 0x06, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}));
    EXPECT_THROW(GuidFromText("0006200-0000"), std::invalid_argument);
}

// ---- name-to-ID map ----

std::map<std::uint16_t, std::vector<std::uint8_t>> MapValues(const NameToIdMap& map) {
    std::map<std::uint16_t, std::vector<std::uint8_t>> out;
    for (const auto& v : map.PropertyValues()) out[v.id] = v.bytes;
    return out;
}

TEST(NameToIdMap, AssignsIdsFrom0x8000OncePerName) {
    NameToIdMap map;
    EXPECT_EQ(map.IdOf(KeyOf(named::kAppointmentStartWhole)), 0x8000);
    EXPECT_EQ(map.IdOf(KeyOf(named::kKeywords)), 0x8001);
    EXPECT_EQ(map.IdOf(KeyOf(named::kAppointmentStartWhole)), 0x8000);
    EXPECT_EQ(map.IdOf(KeyOf(named::kTaskDueDate)), 0x8002);
    EXPECT_THROW(map.IdOf(KeyOf(tags::kSubject)), std::invalid_argument);
}

TEST(NameToIdMap, StreamsAndBucketsFollowTheStoredLayout) {
    NameToIdMap map;
    map.IdOf(KeyOf(named::kAppointmentStartWhole));  // PSETID_Appointment, numeric
    map.IdOf(KeyOf(named::kKeywords));               // PS_PUBLIC_STRINGS, named
    map.IdOf(KeyOf(named::kTaskDueDate));            // PSETID_Task, numeric
    auto values = MapValues(map);
    EXPECT_EQ(ByteReader(values[0x0001]).readU32(), 251u);
    // Two property sets in the GUID stream; PS_PUBLIC_STRINGS is index 2.
    ASSERT_EQ(values[0x0002].size(), 32u);
    EXPECT_TRUE(std::equal(propsets::kAppointment.begin(), propsets::kAppointment.end(), values[0x0002].begin()));
    ByteReader entries(values[0x0003]);
    ASSERT_EQ(entries.size(), 24u);
    EXPECT_EQ(entries.readU32(), 0x820Du);
    EXPECT_EQ(entries.readU16(), 3 << 1);
    EXPECT_EQ(entries.readU16(), 0);
    EXPECT_EQ(entries.readU32(), 0u);  // offset of "Keywords"
    EXPECT_EQ(entries.readU16(), (2 << 1) | 1);
    EXPECT_EQ(entries.readU16(), 1);
    EXPECT_EQ(entries.readU32(), 0x8105u);
    EXPECT_EQ(entries.readU16(), 4 << 1);
    ByteReader strings(values[0x0004]);
    EXPECT_EQ(strings.readU32(), 16u);
    EXPECT_EQ(Utf16LeToUtf8(strings.readBytes(16)), "Keywords");
    // Each entry sits in bucket (key XOR guid field) mod 251, names keyed by CRC.
    const std::uint32_t nameCrc = ComputeCrc(std::span<const std::uint8_t>(values[0x0004]).subspan(4, 16));
    auto bucketOf = [&](std::uint32_t key, std::uint16_t field) {
        return static_cast<std::uint16_t>(0x1000 + (key ^ field) % 251);
    };
    EXPECT_EQ(ByteReader(values[bucketOf(0x820D, 6)]).readU32(), 0x820Du);
    ASSERT_TRUE(values.count(bucketOf(nameCrc, 5)));
    EXPECT_EQ(ByteReader(values[bucketOf(nameCrc, 5)]).readU32(), nameCrc);
}

// ---- templates ----

TEST(StoreTemplates, LayoutsMatchTheirRowSizes) {
    EXPECT_EQ(HierarchyTableLayout().rowSize(), 55);
    EXPECT_EQ(ContentsTableLayout().rowSize(), 122);
    EXPECT_EQ(AssocContentsTableLayout().rowSize(), 59);
    EXPECT_EQ(SearchContentsTableLayout().rowSize(), 78);
    EXPECT_EQ(AttachmentTableLayout().rowSize(), 25);
    EXPECT_EQ(RecipientTableLayout().rowSize(), 52);
}

TEST(StoreTemplates, ExtendingTheRecipientTableKeepsWideCellsAndBits) {
    const TableLayout& base = RecipientTableLayout();
    const TableLayout wide = base.Extend({tags::kSmtpAddress.value(), tags::kRecipientDisplayName.value(),
                                          tags::kResponsibility.value(), PropTag{0x5FDE, PropType::Boolean}.value()});
    for (const auto& c : base.columns()) {
        const TableColumn* now = wide.Find(c.tag);
        ASSERT_NE(now, nullptr);
        EXPECT_EQ(now->bit, c.bit);
        if (c.size >= 4) {
            EXPECT_EQ(now->offset, c.offset);
        }
    }
    EXPECT_EQ(wide.columns().size(), base.columns().size() + 3);
    EXPECT_EQ(wide.Find(tags::kSmtpAddress.value())->offset, 48);
    EXPECT_EQ(wide.end4(), 56);
    EXPECT_EQ(wide.Find(tags::kResponsibility.value())->offset, 56);
    EXPECT_EQ(wide.Find(0x5FDE000B)->bit, 16);
}

// ---- compressed RTF ----

// Decompresses LZFu or returns the text of MELA; empty on any damage.
std::string DecodeRtf(const std::vector<std::uint8_t>& stored) {
    ByteReader r(stored);
    const std::uint32_t compSize = r.readU32();
    const std::uint32_t rawSize = r.readU32();
    const std::uint32_t type = r.readU32();
    const std::uint32_t crc = r.readU32();
    if (r.failed() || compSize != stored.size() - 4) return "<bad size>";
    auto body = r.readBytes(r.remaining());
    if (type == 0x414C454D) return crc == 0 ? std::string(body.begin(), body.end()) : "<bad crc>";
    if (type != 0x75465A4C || ComputeCrc(body) != crc) return "<bad crc>";
    std::vector<std::uint8_t> ring(4096, 0);
    std::copy(kRtfDictionary.begin(), kRtfDictionary.end(), ring.begin());
    std::size_t w = kRtfDictionary.size();
    std::string out;
    ByteReader in(body);
    while (in.remaining() > 0) {
        const std::uint8_t flags = in.readU8();
        for (int bit = 0; bit < 8; ++bit) {
            if (in.remaining() == 0) return "<no end marker>";
            if (flags & (1 << bit)) {
                const std::uint16_t v = static_cast<std::uint16_t>((in.readU8() << 8) | in.readU8());
                std::size_t at = v >> 4;
                const std::size_t len = (v & 0xF) + 2;
                if (at == w % 4096) return out.size() == rawSize ? out : "<wrong raw size>";
                for (std::size_t k = 0; k < len; ++k) {
                    const std::uint8_t c = ring[at++ % 4096];
                    out.push_back(static_cast<char>(c));
                    ring[w++ % 4096] = c;
                }
            } else {
                const std::uint8_t c = in.readU8();
                out.push_back(static_cast<char>(c));
                ring[w++ % 4096] = c;
            }
        }
    }
    return "<no end marker>";
}

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

TEST(CompressedRtf, RoundTripsShortRepetitiveAndLargeDocuments) {
    const std::string shortDoc = "{\\rtf1\\ansi\\ansicpg1252\\pard hello\\par}";
    EXPECT_EQ(DecodeRtf(CompressRtf(Text(shortDoc))), shortDoc);
    EXPECT_EQ(DecodeRtf(CompressRtf({})), "");
    std::string big = "{\\rtf1\\ansi ";
    std::mt19937 rng(7);
    while (big.size() < 300000) {
        big += "\\par line " + std::to_string(rng() % 1000) + " {\\b bold} ";
        big.push_back(static_cast<char>('a' + rng() % 26));
    }
    big += "}";
    const auto packed = CompressRtf(Text(big));
    EXPECT_EQ(DecodeRtf(packed), big);
    EXPECT_LT(packed.size(), big.size() / 2) << "repetitive RTF compresses";
    const std::string runs(5000, 'x');
    EXPECT_EQ(DecodeRtf(CompressRtf(Text(runs))), runs);
}

TEST(CompressedRtf, UncompressedFormCarriesTheTextAfterTheHeader) {
    const std::string doc = "{\\rtf1 plain}";
    const auto stored = StoreRtfUncompressed(Text(doc));
    EXPECT_EQ(stored.size(), doc.size() + 16);
    EXPECT_EQ(DecodeRtf(stored), doc);
}

}  // namespace
}  // namespace bm::pst
