// Heap-on-node, BTH, property-context and table-context builders, read back
// with a separate reader.
#include <gtest/gtest.h>

#include <numeric>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "ltp_reader_for_tests.h"
#include "output/pst/ltp_bth.h"
#include "output/pst/ltp_heap.h"
#include "output/pst/ltp_pc.h"
#include "output/pst/ltp_tc.h"
#include "output/pst/props_tags.h"

namespace bm::pst {
namespace {

using bmtest::ReadHeap;

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7);
    return v;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& v, std::size_t at) {
    return static_cast<std::uint32_t>(ByteReader(v).peekAt(at, 4).value_or(0xFFFFFFFF));
}

// ---- heap ----

TEST(HeapBuilder, FirstAllocationsGetConsecutiveHidsInBlockZero) {
    HeapBuilder heap(HeapClient::PropertyContext);
    EXPECT_EQ(heap.Allocate(Bytes(10, 1)), 0x20u);
    EXPECT_EQ(heap.Allocate(Bytes(3, 2)), 0x40u);
    heap.SetUserRoot(0x20);
    auto view = ReadHeap(heap.Finish());
    EXPECT_EQ(view.error, "");
    EXPECT_EQ(view.client, 0xBC);
    EXPECT_EQ(view.userRoot, 0x20u);
    EXPECT_EQ(view.Alloc(0x20), Bytes(10, 1));
    EXPECT_EQ(view.Alloc(0x40), Bytes(3, 2));
    EXPECT_FALSE(view.Alloc(0x60).has_value());
}

TEST(HeapBuilder, OddSizedAllocationsStillPutThePageMapAtAnEvenOffset) {
    HeapBuilder heap(HeapClient::TableContext);
    heap.Allocate(Bytes(7, 3));
    auto view = ReadHeap(heap.Finish());
    EXPECT_EQ(view.error, "");
    EXPECT_EQ(view.Alloc(0x20), Bytes(7, 3));
}

TEST(HeapBuilder, ZeroLengthAllocationIsAddressable) {
    HeapBuilder heap(HeapClient::PropertyContext);
    const Hid empty = heap.Allocate({});
    const Hid next = heap.Allocate(Bytes(4, 9));
    auto view = ReadHeap(heap.Finish());
    ASSERT_TRUE(view.Alloc(empty).has_value());
    EXPECT_TRUE(view.Alloc(empty)->empty());
    EXPECT_EQ(view.Alloc(next), Bytes(4, 9));
}

TEST(HeapBuilder, RefusesAllocationsLargerThanTheHeapLimit) {
    HeapBuilder heap(HeapClient::PropertyContext);
    EXPECT_NO_THROW(heap.Allocate(Bytes(kMaxHeapAllocation, 0)));
    EXPECT_THROW(heap.Allocate(Bytes(kMaxHeapAllocation + 1, 0)), std::length_error);
}

TEST(HeapBuilder, ManyAllocationsSpreadOverBlocksWithBitmapHeaderAtBlockEight) {
    HeapBuilder heap(HeapClient::TableContext);
    std::vector<std::pair<Hid, std::vector<std::uint8_t>>> written;
    for (int i = 0; i < 60; ++i) {
        auto bytes = Bytes(1500 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i));
        written.emplace_back(heap.Allocate(bytes), bytes);
    }
    const auto blocks = heap.Finish();
    ASSERT_GE(blocks.size(), 10u);
    auto view = ReadHeap(blocks);
    EXPECT_EQ(view.error, "");
    for (const auto& [hid, bytes] : written) EXPECT_EQ(view.Alloc(hid), bytes) << std::hex << hid;
    // Block 8 starts its allocations after the 66-byte bitmap header.
    Hid firstOfBlock8 = 0;
    for (const auto& w : written) {
        if ((w.first >> 16) == 8) {
            firstOfBlock8 = w.first;
            break;
        }
    }
    ASSERT_NE(firstOfBlock8, 0u);
    ByteReader b8(blocks[8]);
    const std::size_t pageMap = b8.readU16();
    EXPECT_EQ(ByteReader(blocks[8]).peekAt(pageMap + 4, 2), 66u);
    // Full blocks report a high fill level; the HNHDR nibbles cover blocks 0-7.
    EXPECT_NE(blocks[0][8], 0);
    EXPECT_NE(blocks[8][2], 0);
}

TEST(HeapBuilder, EveryBlockButTheLastIsFullAndZeroLengthAllocationsCountAsFreed) {
    HeapBuilder heap(HeapClient::TableContext);
    std::vector<std::pair<Hid, std::vector<std::uint8_t>>> written;
    for (int i = 0; i < 12; ++i) {
        written.emplace_back(heap.Allocate({}), std::vector<std::uint8_t>{});
        auto bytes = Bytes(2500 + static_cast<std::size_t>(i) * 3, static_cast<std::uint8_t>(i));
        written.emplace_back(heap.Allocate(bytes), bytes);
    }
    const auto blocks = heap.Finish();
    ASSERT_GE(blocks.size(), 3u);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i].size(), kMaxBlockData) << "block " << i;
    EXPECT_LT(blocks.back().size(), kMaxBlockData);
    // The reader compares each page map's cFree with its zero-length allocations.
    auto view = ReadHeap(blocks);
    EXPECT_EQ(view.error, "");
    for (const auto& [hid, bytes] : written) EXPECT_EQ(view.Alloc(hid), bytes) << std::hex << hid;
    for (const auto& block : blocks) {
        ByteReader r(block);
        const std::size_t pageMap = r.readU16();
        EXPECT_GT(ByteReader(block).peekAt(pageMap + 2, 2).value_or(0), 0u) << "each block holds empty allocations";
    }
    // Block 0 is full although less than 8,176 bytes are allocated: its
    // fill level still reports the free room.
    EXPECT_NE(blocks[0][8] & 0x0F, 15);
}

TEST(HeapBuilder, FillLevelsFollowFreeSpace) {
    EXPECT_EQ(HeapFillLevel(8000), 0);
    EXPECT_EQ(HeapFillLevel(3584), 0);
    EXPECT_EQ(HeapFillLevel(3583), 1);
    EXPECT_EQ(HeapFillLevel(100), 11);
    EXPECT_EQ(HeapFillLevel(7), 15);
}

TEST(HeapBuilder, OverwriteKeepsSizeAndRejectsOtherSizes) {
    HeapBuilder heap(HeapClient::PropertyContext);
    const Hid hid = heap.Allocate(Bytes(8, 0));
    heap.Overwrite(hid, Bytes(8, 50));
    EXPECT_THROW(heap.Overwrite(hid, Bytes(9, 0)), std::invalid_argument);
    EXPECT_THROW(heap.Overwrite(0x40, Bytes(8, 0)), std::invalid_argument);
    EXPECT_EQ(ReadHeap(heap.Finish()).Alloc(hid), Bytes(8, 50));
}

// ---- BTH ----

std::vector<BthRecord> Records(std::size_t n, std::uint32_t step) {
    std::vector<BthRecord> records;
    for (std::size_t i = 0; i < n; ++i) {
        BthRecord r;
        r.key = static_cast<std::uint32_t>((n - i) * step);  // given in reverse order
        PutLe(r.data.data(), r.key ^ 0xABCD, 4);
        records.push_back(r);
    }
    return records;
}

TEST(BthBuilder, EmptyTreeHasNoRoot) {
    HeapBuilder heap(HeapClient::BTree);
    const Hid header = BuildBth(heap, 4, 4, {});
    auto view = ReadHeap(heap.Finish());
    auto bth = bmtest::ReadBth(view, header);
    EXPECT_EQ(bth.error, "");
    EXPECT_EQ(bth.levels, 0);
    EXPECT_TRUE(bth.records.empty());
    EXPECT_EQ(Le32(*view.Alloc(header), 4), 0u);
}

TEST(BthBuilder, SmallTreeIsOneSortedLeaf) {
    HeapBuilder heap(HeapClient::BTree);
    const Hid header = BuildBth(heap, 2, 6, Records(20, 3));
    auto bth = bmtest::ReadBth(ReadHeap(heap.Finish()), header);
    EXPECT_EQ(bth.error, "");
    EXPECT_EQ(bth.levels, 0);
    ASSERT_EQ(bth.records.size(), 20u);
    EXPECT_EQ(bth.records.front().first, 3u);
    EXPECT_EQ(Le32(bth.records.front().second, 0), 3u ^ 0xABCD);
}

TEST(BthBuilder, LargeTreeGrowsIndexLevelsAndKeepsEveryRecord) {
    HeapBuilder heap(HeapClient::BTree);
    // 447 records of 8 bytes fit one node: 1200 need an index level,
    // 250,000 need two.
    for (std::size_t n : {1200u, 250000u}) {
        HeapBuilder h(HeapClient::BTree);
        const Hid header = BuildBth(h, 4, 4, Records(n, 2));
        auto bth = bmtest::ReadBth(ReadHeap(h.Finish()), header);
        EXPECT_EQ(bth.error, "");
        EXPECT_EQ(bth.levels, n == 1200 ? 1 : 2);
        ASSERT_EQ(bth.records.size(), n);
        EXPECT_EQ(bth.records.back().first, n * 2);
    }
}

TEST(BthBuilder, DuplicateKeysAreRefused) {
    HeapBuilder heap(HeapClient::BTree);
    auto records = Records(3, 1);
    records[1].key = records[0].key;
    EXPECT_THROW(BuildBth(heap, 4, 4, records), std::invalid_argument);
}

// ---- property context ----

struct SinkLog {
    std::vector<std::vector<std::uint8_t>> values;
    LargeValueSink Sink() {
        return [this](std::span<const std::uint8_t> bytes) {
            values.emplace_back(bytes.begin(), bytes.end());
            return static_cast<Nid>(0x801F + 0x20 * (values.size() - 1));
        };
    }
};

TEST(PropertyContext, SmallValuesInlineOthersInHeapLargeOnesInSubnodes) {
    PropertyBag bag;
    bag.SetInt32(tags::kImportance, 2);
    bag.SetBool(tags::kHasAttachments, true);
    bag.SetString(tags::kSubject, "Привет 世界 😀");
    bag.SetSysTime(tags::kMessageDeliveryTime, 0x01D2030405060708LL);
    bag.SetString(tags::kBody, "");
    bag.SetBinary(tags::kHtml, Bytes(5000, 1));
    std::vector<PcValue> values;
    for (const auto& p : bag.properties()) values.push_back({p.key.id, p.type, p.bytes, std::nullopt});
    values.push_back({tags::kAttachDataBinary.id, PropType::Binary, {}, Nid{0x12345F}});
    SinkLog log;
    auto view = ReadHeap(BuildPropertyContext(values, log.Sink()));
    EXPECT_EQ(view.error, "");
    EXPECT_EQ(view.userRoot, 0x20u) << "the BTH header is the heap's first allocation";
    std::string error;
    auto pc = bmtest::ReadPc(view, error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(pc.size(), 7u);
    EXPECT_EQ(pc[0x0017].type, 0x0003);
    EXPECT_EQ(pc[0x0017].ref, 2u);
    EXPECT_EQ(pc[0x0E1B].ref, 1u);
    EXPECT_EQ(Utf16LeToUtf8(pc[0x0037].heapValue), "Привет 世界 😀");
    EXPECT_EQ(pc[0x0E06].heapValue, (std::vector<std::uint8_t>{8, 7, 6, 5, 4, 3, 0xD2, 0x01}));
    EXPECT_EQ(pc[0x1000].ref, 0u) << "an empty string has no heap allocation, as in the mail client's stores";
    EXPECT_EQ(pc[0x1000].type, 0x001F);
    EXPECT_TRUE(pc[0x1000].heapValue.empty());
    ASSERT_EQ(log.values.size(), 1u);
    EXPECT_EQ(log.values[0], Bytes(5000, 1));
    EXPECT_EQ(pc[0x1013].ref, 0x801Fu);
    EXPECT_EQ(pc[0x3701].ref, 0x12345Fu);
}

TEST(PropertyContext, ValueAtTheHeapLimitStaysInTheHeap) {
    SinkLog log;
    std::vector<PcValue> values{{0x1013, PropType::Binary, Bytes(kMaxHeapAllocation, 4), std::nullopt},
                                {0x1014, PropType::Binary, Bytes(kMaxHeapAllocation + 1, 4), std::nullopt}};
    auto view = ReadHeap(BuildPropertyContext(values, log.Sink()));
    std::string error;
    auto pc = bmtest::ReadPc(view, error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(pc[0x1013].heapValue.size(), kMaxHeapAllocation);
    EXPECT_EQ(log.values.size(), 1u);
    EXPECT_EQ(log.values[0].size(), kMaxHeapAllocation + 1);
}

TEST(PropertyContext, ManyPropertiesSpanHeapBlocksAndIndexLevels) {
    std::vector<PcValue> values;
    for (std::uint16_t id = 0x4000; id < 0x4000 + 600; ++id) {
        values.push_back({id, PropType::Binary, Bytes(100, static_cast<std::uint8_t>(id)), std::nullopt});
    }
    auto blocks = BuildPropertyContext(values, {});
    EXPECT_GT(blocks.size(), 1u);
    auto view = ReadHeap(blocks);
    EXPECT_EQ(view.error, "");
    std::string error;
    auto pc = bmtest::ReadPc(view, error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(pc.size(), 600u);
    EXPECT_EQ(pc[0x4000 + 599].heapValue, Bytes(100, static_cast<std::uint8_t>(0x4000 + 599)));
    EXPECT_EQ(bmtest::ReadBth(view, view.userRoot).levels, 1);
}

TEST(PropertyContext, RejectsRepeatedIdsAndMisSizedInlineValues) {
    std::vector<PcValue> repeated{{0x0017, PropType::Int32, {1, 0, 0, 0}, std::nullopt},
                                  {0x0017, PropType::Int32, {2, 0, 0, 0}, std::nullopt}};
    EXPECT_THROW(BuildPropertyContext(repeated, {}), std::invalid_argument);
    std::vector<PcValue> misSized{{0x0017, PropType::Int32, {1, 0}, std::nullopt}};
    EXPECT_THROW(BuildPropertyContext(misSized, {}), std::invalid_argument);
}


// A value set after the context is built (the message size, which counts
// the context itself) lands in its record, also below an index level, and
// leaves every other byte as it was.
TEST(PropertyContext, SetInlineValueReplacesOneRecordsValueOnly) {
    std::vector<PcValue> values;
    for (std::uint16_t id = 0x4000; id < 0x4000 + 600; ++id) {
        values.push_back({id, PropType::Int32, {1, 0, 0, 0}, std::nullopt});
    }
    values.push_back({0x0E08, PropType::Int32, {0, 0, 0, 0}, std::nullopt});
    values.push_back({0x0037, PropType::Unicode, {'a', 0}, std::nullopt});
    auto blocks = BuildPropertyContext(values, {});
    const auto before = blocks;
    ASSERT_EQ(bmtest::ReadBth(ReadHeap(blocks), ReadHeap(blocks).userRoot).levels, 1) << "the test needs an index";
    for (const std::uint16_t id : {std::uint16_t{0x0E08}, std::uint16_t{0x4000 + 599}}) {
        SetInlineValue(blocks, id, 0x12345678);
        std::string error;
        auto pc = bmtest::ReadPc(ReadHeap(blocks), error);
        EXPECT_EQ(error, "");
        EXPECT_EQ(pc[id].ref, 0x12345678u) << id;
        EXPECT_EQ(pc[0x4000 + 300].ref, 1u);
    }
    // Only the two value fields changed: 8 bytes.
    std::size_t changed = 0;
    ASSERT_EQ(blocks.size(), before.size());
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        ASSERT_EQ(blocks[b].size(), before[b].size());
        for (std::size_t i = 0; i < blocks[b].size(); ++i) changed += blocks[b][i] != before[b][i];
    }
    EXPECT_EQ(changed, 8u);
    EXPECT_THROW(SetInlineValue(blocks, 0x0E09, 1), std::invalid_argument) << "no such property";
    EXPECT_THROW(SetInlineValue(blocks, 0x0037, 1), std::invalid_argument) << "a heap value is no inline one";
}
// ---- table context ----

TEST(TableLayout, ArrangeGroupsCellsBySizeAfterRowIdAndVersion) {
    auto layout = TableLayout::Arrange({tags::kSubject.value(), tags::kHasAttachments.value(),
                                        tags::kMessageDeliveryTime.value(), PropTag{0x1234, PropType::Int16}.value(),
                                        tags::kMessageFlags.value()});
    EXPECT_EQ(layout.Find(tags::kLtpRowId.value())->offset, 0);
    EXPECT_EQ(layout.Find(tags::kLtpRowVer.value())->offset, 4);
    EXPECT_EQ(layout.Find(tags::kMessageDeliveryTime.value())->offset, 8);
    EXPECT_EQ(layout.Find(tags::kSubject.value())->offset, 16);
    EXPECT_EQ(layout.Find(tags::kMessageFlags.value())->offset, 20);
    EXPECT_EQ(layout.end4(), 24);
    EXPECT_EQ(layout.Find(0x12340002)->offset, 24);
    EXPECT_EQ(layout.end2(), 26);
    EXPECT_EQ(layout.Find(tags::kHasAttachments.value())->offset, 26);
    EXPECT_EQ(layout.end1(), 27);
    EXPECT_EQ(layout.rowSize(), 28);
}

TEST(TableLayout, RejectsOverlapsWrongSizesAndMisplacedRowId) {
    const std::uint32_t id = tags::kLtpRowId.value(), ver = tags::kLtpRowVer.value();
    EXPECT_NO_THROW(TableLayout::FromColumns({{id, 0, 4, 0}, {ver, 4, 4, 1}}));
    EXPECT_THROW(TableLayout::FromColumns({{id, 0, 4, 0}, {ver, 2, 4, 1}}), std::invalid_argument);
    EXPECT_THROW(TableLayout::FromColumns({{id, 0, 4, 0}, {ver, 4, 4, 1}, {tags::kSubject.value(), 8, 8, 2}}),
                 std::invalid_argument);
    EXPECT_THROW(TableLayout::FromColumns({{id, 4, 4, 0}, {ver, 0, 4, 1}}), std::invalid_argument);
    EXPECT_THROW(TableLayout::FromColumns({{id, 0, 4, 0}, {ver, 4, 4, 0}}), std::invalid_argument);
}

TableRow MailRow(std::uint32_t id, const std::string& subject, bool withTime) {
    PropertyBag bag;
    bag.SetString(tags::kSubject, subject);
    bag.SetInt32(tags::kMessageFlags, static_cast<std::int32_t>(id));
    if (withTime) bag.SetSysTime(tags::kMessageDeliveryTime, 1000 + id);
    TableRow row;
    row.id = id;
    row.version = 7;
    for (const auto& p : bag.properties()) row.cells.push_back({PropTag{p.key.id, p.type}.value(), p.bytes});
    return row;
}

TEST(TableContext, SmallTableKeepsRowsInTheHeapWithExistenceBits) {
    auto layout = TableLayout::Arrange(
        {tags::kSubject.value(), tags::kMessageFlags.value(), tags::kMessageDeliveryTime.value()});
    std::vector<TableRow> rows{MailRow(0x200024, "первый", true), MailRow(0x200044, "second", false)};
    auto view = ReadHeap(BuildTableContext(layout, rows, {}));
    EXPECT_EQ(view.error, "");
    auto tc = bmtest::ReadTcInfo(view);
    EXPECT_EQ(tc.error, "");
    ASSERT_EQ(tc.columns.size(), 5u);
    EXPECT_EQ(tc.rowSize, layout.rowSize());
    ASSERT_EQ(tc.rowIndex.records.size(), 2u);
    EXPECT_EQ(tc.rowIndex.records[1].first, 0x200044u);
    EXPECT_EQ(Le32(tc.rowIndex.records[1].second, 0), 1u);
    auto matrix = view.Alloc(tc.rowsRef);
    ASSERT_TRUE(matrix.has_value());
    ASSERT_EQ(matrix->size(), 2u * tc.rowSize);
    auto col = [&](std::uint32_t tag) {
        for (const auto& c : tc.columns) {
            if (c.tag == tag) return c;
        }
        return bmtest::TcColumnView{};
    };
    auto row0 = bmtest::RowAt(*matrix, tc, 0, false);
    auto row1 = bmtest::RowAt(*matrix, tc, 1, false);
    EXPECT_EQ(Le32(row0, 0), 0x200024u);
    EXPECT_EQ(Le32(row0, 4), 7u);
    EXPECT_EQ(Utf16LeToUtf8(*view.Alloc(Le32(row0, col(tags::kSubject.value()).offset))), "первый");
    EXPECT_TRUE(bmtest::CellExists(row0, tc, col(tags::kMessageDeliveryTime.value())));
    EXPECT_EQ(Le32(row0, col(tags::kMessageDeliveryTime.value()).offset), 1000u + 0x200024u);
    EXPECT_FALSE(bmtest::CellExists(row1, tc, col(tags::kMessageDeliveryTime.value())));
    EXPECT_TRUE(bmtest::CellExists(row1, tc, col(tags::kLtpRowId.value())));
}

TEST(TableContext, EmptyTextAndBinaryCellsExistWithAZeroLengthAllocation) {
    constexpr PropTag kSearchKey{0x300B, PropType::Binary};
    auto layout = TableLayout::Arrange({tags::kSubject.value(), kSearchKey.value()});
    TableRow row;
    row.id = 0x21;
    row.cells = {{tags::kSubject.value(), {}}, {kSearchKey.value(), {}}};
    auto view = ReadHeap(BuildTableContext(layout, {row}, {}));
    EXPECT_EQ(view.error, "");
    auto tc = bmtest::ReadTcInfo(view);
    EXPECT_EQ(tc.error, "");
    auto matrix = view.Alloc(tc.rowsRef);
    ASSERT_TRUE(matrix.has_value());
    const auto empty = bmtest::RowAt(*matrix, tc, 0, false);
    int seen = 0;
    for (const auto& c : tc.columns) {
        if (c.tag != tags::kSubject.value() && c.tag != kSearchKey.value()) continue;
        ++seen;
        // The cell is there (an empty value, not a missing one) and refers
        // to an allocation of no bytes: validators reject a cell of 0.
        EXPECT_TRUE(bmtest::CellExists(empty, tc, c)) << std::hex << c.tag;
        EXPECT_NE(Le32(empty, c.offset), 0u) << std::hex << c.tag;
        ASSERT_TRUE(view.Alloc(Le32(empty, c.offset)).has_value()) << std::hex << c.tag;
        EXPECT_TRUE(view.Alloc(Le32(empty, c.offset))->empty()) << std::hex << c.tag;
    }
    EXPECT_EQ(seen, 2);
}

TEST(TableContext, RowIndexHeaderIsTheFirstAllocationAndTheTcInfoTheUserRoot) {
    auto layout = TableLayout::Arrange({tags::kSubject.value()});
    std::vector<TableRow> rows{MailRow(0x200024, "a", true)};
    auto view = ReadHeap(BuildTableContext(layout, rows, {}));
    EXPECT_EQ(view.error, "");
    // Readers look for a BTH header at HID 0x20 in every table.
    ASSERT_TRUE(view.Alloc(0x20).has_value());
    EXPECT_EQ(view.Alloc(0x20)->at(0), 0xB5);
    EXPECT_EQ(view.userRoot, 0x40u);
    auto tc = bmtest::ReadTcInfo(view);
    EXPECT_EQ(tc.error, "");
    ASSERT_EQ(tc.rowIndex.records.size(), 1u);
}

TEST(TableContext, EmptyTableHasNoRowsAndAnEmptyIndex) {
    auto layout = TableLayout::Arrange({tags::kSubject.value()});
    auto view = ReadHeap(BuildTableContext(layout, {}, {}));
    auto tc = bmtest::ReadTcInfo(view);
    EXPECT_EQ(tc.error, "");
    EXPECT_EQ(tc.rowsRef, 0u);
    EXPECT_TRUE(tc.rowIndex.records.empty());
}

TEST(TableContext, LargeTablePutsWholeRowsInPaddedSubnodeBlocks) {
    auto layout = TableLayout::Arrange(
        {tags::kSubject.value(), tags::kMessageFlags.value(), tags::kMessageDeliveryTime.value()});
    std::vector<TableRow> rows;
    for (std::uint32_t i = 0; i < 1200; ++i) rows.push_back(MailRow(0x200004 + 0x20 * i, "subject " + std::to_string(i), true));
    SinkLog log;
    auto blocks = BuildTableContext(layout, rows, log.Sink());
    EXPECT_GT(blocks.size(), 1u) << "1,200 subjects need more than one heap block";
    auto view = ReadHeap(blocks);
    EXPECT_EQ(view.error, "");
    auto tc = bmtest::ReadTcInfo(view);
    EXPECT_EQ(tc.error, "");
    EXPECT_EQ(tc.rowIndex.levels, 1);
    ASSERT_EQ(log.values.size(), 1u);
    EXPECT_EQ(tc.rowsRef, 0x801Fu);
    const auto& matrix = log.values[0];
    const std::size_t perBlock = 8176 / tc.rowSize;
    const std::size_t fullBlocks = (1200 - 1) / perBlock;
    EXPECT_EQ(matrix.size(), fullBlocks * 8176 + (1200 - fullBlocks * perBlock) * tc.rowSize);
    for (std::size_t i : {std::size_t{0}, perBlock - 1, perBlock, std::size_t{1199}}) {
        auto row = bmtest::RowAt(matrix, tc, i, true);
        EXPECT_EQ(Le32(row, 0), 0x200004u + 0x20 * i);
        EXPECT_EQ(Utf16LeToUtf8(*view.Alloc(Le32(row, 16))), "subject " + std::to_string(i));
    }
}

}  // namespace
}  // namespace bm::pst
