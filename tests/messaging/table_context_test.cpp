// Table contexts: rows, row order, cells, the row matrix in a subnode.
#include <gtest/gtest.h>

#include "messaging/property_context.h"
#include "support/heap_image.h"

namespace bm {
namespace {

using Column = bmtest::TableContextImage::Column;

// An attachment table: row id at 0, method at 4, file name (HNID) at 8,
// last-modified time at 12 (8 bytes); row width 20 plus a 1-byte CEB.
const std::vector<Column> kColumns = {
    {0x67F2, kPtLong, 0, 4, 0},
    {0x3705, kPtLong, 4, 4, 1},
    {0x3704, kPtUnicode, 8, 4, 2},
    {0x3008, kPtSysTime, 12, 8, 3},
};
constexpr std::uint16_t kRowWidth = 21;

std::optional<PropertyList> Read(const bmtest::TableContextImage& image, const PropertyReadContext& ctx = {}) {
    const auto heap = HeapNode::Open(image.Build());
    if (!heap) return std::nullopt;
    return ReadPropertyObject(*heap, ctx);
}

bmtest::TableContextImage ThreeRows(std::uint8_t rowIndexEntrySize) {
    bmtest::TableContextImage t(kColumns, kRowWidth, rowIndexEntrySize);
    for (std::uint32_t r = 0; r < 3; ++r) {
        const std::uint32_t name = t.HeapValue(bmtest::Utf16(r == 0 ? u"a.txt" : r == 1 ? u"b.txt" : u"c.txt"));
        Bytes& row = t.AddRow();
        bmtest::PutU32(row, 0, 0x8025 + 0x20 * r);
        bmtest::PutU32(row, 4, 1);
        bmtest::PutU32(row, 8, name);
        bmtest::PutU32(row, 12, 0x01020304);
        bmtest::PutU32(row, 16, 0x05060708);
        row.resize(kRowWidth);
    }
    return t;
}

std::uint32_t RowId(const PropertyChunk& chunk) {
    for (const auto& v : chunk.entries)
        if (v.id == 0x67F2 && v.hasData()) return (*v.data)[0] | ((*v.data)[1] << 8);
    return 0;
}

TEST(TableContextRows, UnicodeTableYieldsOneChunkPerRowLastRowFirst) {
    const auto list = Read(ThreeRows(4));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->rowCount, 3);
    ASSERT_EQ(list->chunks.size(), 3u);
    EXPECT_EQ(RowId(list->chunks[0]), 0x8065u);
    EXPECT_EQ(RowId(list->chunks[1]), 0x8045u);
    EXPECT_EQ(RowId(list->chunks[2]), 0x8025u);
}

TEST(TableContextRows, AnsiRowIndexWithTwoByteEntriesCountsTheSame) {
    const auto list = Read(ThreeRows(2));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->chunks.size(), 3u);
}

TEST(TableContextRows, OneRowGivesOneChunk) {
    bmtest::TableContextImage t(kColumns, kRowWidth);
    bmtest::PutU32(t.AddRow(), 0, 0x8025);
    const auto list = Read(t);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->chunks.size(), 1u);
    EXPECT_EQ(RowId(list->chunks[0]), 0x8025u);
}

TEST(TableContextRows, NoRowsGivesNoObject) {
    bmtest::TableContextImage t(kColumns, kRowWidth);
    EXPECT_FALSE(Read(t));
}

TEST(TableContextCells, ValuesFollowTheRecordConversion) {
    const auto list = Read(ThreeRows(4));
    ASSERT_TRUE(list);
    const PropertyChunk& row0 = list->chunks[2];
    ASSERT_EQ(row0.count(), 4u);
    EXPECT_EQ(row0.entries[2].id, 0x3704u);
    EXPECT_EQ(*row0.entries[2].data, bmtest::Utf16(u"a.txt"));
    EXPECT_EQ(row0.entries[3].type, kPtSysTime);
    EXPECT_EQ(*row0.entries[3].data, (Bytes{4, 3, 2, 1, 8, 7, 6, 5}));
}

TEST(TableContextCells, CellWithHnidZeroIsLeftOutOfItsRow) {
    bmtest::TableContextImage t(kColumns, kRowWidth);
    bmtest::PutU32(t.AddRow(), 0, 0x8025);  // file name cell stays 0
    const auto list = Read(t);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->chunks[0].count(), 3u);
    for (const auto& v : list->chunks[0].entries) EXPECT_NE(v.id, 0x3704u);
}

TEST(TableContextCells, CellWithHnidZeroIsAnEmptyValueOfItsTypeForACopy) {
    // A recipient row as the mail client writes it: row id, an empty address
    // and an empty search key (references of 0).
    const std::vector<Column> columns = {
        {0x67F2, kPtLong, 0, 4, 0},
        {0x3003, kPtUnicode, 4, 4, 1},
        {0x300B, kPtBinary, 8, 4, 2},
    };
    bmtest::TableContextImage t(columns, 13);
    bmtest::PutU32(t.AddRow(), 0, 0x8025);
    PropertyReadContext copy;
    copy.keepEmptyValues = true;
    const auto list = Read(t, copy);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->chunks[0].count(), 3u);
    const auto& cells = list->chunks[0].entries;
    EXPECT_EQ(cells[1].id, 0x3003u);
    EXPECT_EQ(cells[1].type, kPtUnicode);
    ASSERT_TRUE(cells[1].hasData());
    EXPECT_TRUE(cells[1].data->empty());
    EXPECT_EQ(cells[2].id, 0x300Bu);
    EXPECT_EQ(cells[2].type, kPtBinary);
    ASSERT_TRUE(cells[2].hasData());
    EXPECT_TRUE(cells[2].data->empty());

    // The item mapping's reading leaves them out as before.
    const auto listed = Read(t);
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->chunks[0].count(), 1u);
    EXPECT_EQ(listed->chunks[0].entries[0].id, 0x67F2u);
}

TEST(TableContextCells, CellBeyondTheRowIsLeftOut) {
    std::vector<Column> columns = kColumns;
    columns.push_back({0x0E20, kPtLong, 200, 4, 4});
    bmtest::TableContextImage t(columns, kRowWidth);
    bmtest::PutU32(t.AddRow(), 0, 0x8025);
    const auto list = Read(t);
    ASSERT_TRUE(list);
    for (const auto& v : list->chunks[0].entries) EXPECT_NE(v.id, 0x0E20u);
}

TEST(TableContextMatrix, RowsKeptInASubnodeAreReadFromIt) {
    bmtest::TableContextImage t(kColumns, kRowWidth);
    for (std::uint32_t r = 0; r < 3; ++r) bmtest::PutU32(t.AddRow(), 0, 0x8025 + 0x20 * r);
    t.MatrixNid(0x0000809F);
    const Bytes matrix = t.Matrix();
    // Two blocks: two rows and padding in the first, one row in the second.
    Bytes first(matrix.begin(), matrix.begin() + 2 * kRowWidth);
    first.resize(first.size() + 7, 0xEE);
    const Bytes second(matrix.begin() + 2 * kRowWidth, matrix.end());
    PropertyReadContext ctx;
    ctx.subnodes = [&](std::uint32_t nid) -> std::optional<HeapBlocks> {
        if (nid != 0x809F) return std::nullopt;
        return HeapBlocks{first, second};
    };
    const auto list = Read(t, ctx);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->chunks.size(), 3u);
    EXPECT_EQ(RowId(list->chunks[0]), 0x8065u);
    EXPECT_EQ(RowId(list->chunks[2]), 0x8025u);

    // Without the subnode the rows are counted but hold nothing.
    const auto bare = Read(t);
    ASSERT_TRUE(bare);
    ASSERT_EQ(bare->chunks.size(), 3u);
    EXPECT_EQ(bare->chunks[0].count(), 0u);
}

TEST(TableContextDamage, WrongTableTypeGivesNoObject) {
    auto pages = ThreeRows(4).Build();
    const auto heap = HeapNode::Open(pages);
    ASSERT_TRUE(heap);
    const auto ibHnpm = static_cast<std::uint16_t>(pages[0][0] | (pages[0][1] << 8));
    const auto range = LookupHeapAllocation(pages[0], ibHnpm, heap->userRoot());
    ASSERT_TRUE(range);
    pages[0][range->start] = 0x6C;
    const auto damaged = HeapNode::Open(pages);
    EXPECT_FALSE(ReadPropertyObject(*damaged, {}));
}

}  // namespace
}  // namespace bm
