#include "output/pst/packed_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using bm::pst::PackedRows;
using bm::pst::TableRow;

TableRow Row(std::uint32_t id, std::uint32_t version, std::vector<TableRow::Cell> cells) {
    TableRow r;
    r.id = id;
    r.version = version;
    r.cells = std::move(cells);
    return r;
}

void ExpectSame(const TableRow& a, const TableRow& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.version, b.version);
    ASSERT_EQ(a.cells.size(), b.cells.size()) << "row " << a.id;
    for (std::size_t i = 0; i < a.cells.size(); ++i) {
        EXPECT_EQ(a.cells[i].tag, b.cells[i].tag);
        EXPECT_EQ(a.cells[i].bytes, b.cells[i].bytes) << "row " << a.id << " cell " << i;
    }
}

TEST(PackedRows, GivesBackEveryRowAsAddedAcrossBlocks) {
    PackedRows packed;
    EXPECT_TRUE(packed.empty());
    EXPECT_TRUE(packed.Unpack().empty());

    std::vector<TableRow> added;
    // A row without cells, an empty value, and a value larger than a block
    // (a long subject or body preview) among thousands of ordinary rows
    // that fill several blocks.
    added.push_back(Row(0x200024, 1, {}));
    added.push_back(Row(0x200044, 2, {{0x0037001F, {}}, {0x0E080003, {1, 2, 3, 4}}}));
    added.push_back(Row(0x200064, 3, {{0x1000001F, std::vector<std::uint8_t>(PackedRows::kBlockBytes + 100, 0x41)}}));
    for (std::uint32_t i = 0; i < 5000; ++i) {
        const std::string subject = "Subject of message " + std::to_string(i);
        added.push_back(Row(0x200084 + 32 * i, 4 + i,
                            {{0x0037001F, std::vector<std::uint8_t>(subject.begin(), subject.end())},
                             {0x0E060040, std::vector<std::uint8_t>(8, static_cast<std::uint8_t>(i))},
                             {0x0E170003, {static_cast<std::uint8_t>(i), 0, 0, 0}}}));
    }
    for (const TableRow& r : added) packed.Add(r);
    EXPECT_EQ(packed.size(), added.size());

    const std::vector<TableRow> back = packed.Unpack();
    ASSERT_EQ(back.size(), added.size());
    for (std::size_t i = 0; i < back.size(); ++i) ExpectSame(back[i], added[i]);

    // What is held is the rows' bytes and eight per cell, in blocks that
    // are mostly full: far below a vector per cell.
    std::size_t payload = 0;
    for (const TableRow& r : added) {
        payload += 12;
        for (const auto& c : r.cells) payload += 8 + c.bytes.size();
    }
    EXPECT_GE(packed.bytesHeld(), payload);
    EXPECT_LT(packed.bytesHeld(), payload + 3 * PackedRows::kBlockBytes);

    // Taking the rows gives the same and lets the packed bytes go.
    const std::vector<TableRow> taken = packed.Take();
    ASSERT_EQ(taken.size(), added.size());
    for (std::size_t i = 0; i < taken.size(); ++i) ExpectSame(taken[i], added[i]);
    EXPECT_TRUE(packed.empty());
    EXPECT_EQ(packed.bytesHeld(), 0u);
    EXPECT_TRUE(packed.Take().empty());
}

}  // namespace
