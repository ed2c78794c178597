// The checker's packed block list gives back every value it was given,
// those kept apart (BIDs past 32 bits, offsets that are no 64-byte multiple
// or lie past 256 GiB, inflated sizes, reference counts past 16 bits) as
// well as the packed ones, and finds blocks as a lookup by BID should.
#include "check/check_block_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct Listed {
    std::uint64_t bid, ib;
    std::uint16_t cb, inflated, cRef;
};

void ExpectListed(const bm::CheckBlockList& list, const std::vector<Listed>& blocks) {
    ASSERT_EQ(list.size(), blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list.bid(i), blocks[i].bid);
        EXPECT_EQ(list.ib(i), blocks[i].ib);
        EXPECT_EQ(list.cb(i), blocks[i].cb);
        EXPECT_EQ(list.inflated(i), blocks[i].inflated);
        EXPECT_EQ(list.cRef(i), blocks[i].cRef);
        EXPECT_EQ(list.references(i), 0u);
    }
}

TEST(CheckBlockList, ValuesThatDoNotFitTheRecordComeBackExactly) {
    const std::vector<Listed> blocks = {
        {0x4, 0x4400, 100, 100, 2},
        {0x9, 0x4440, 8176, 8176, 3},                              // bit 0 set, as listed
        {0x1'0000'0004, 0x4481, 64, 64, 2},                        // high half, odd offset
        {0x1'0000'0008, 0x40'0000'0000ull, 64, 4000, 2},           // past 256 GiB, deflated
        {0x7'FFFF'FFFE, 0xFFFF'FFFF'FFFF'FFC0ull, 0xFFFF, 1, 0xFFFF},
        {0x7FFF'FFFF'0000'0002ull, 0x4500, 0, 0, 0},
    };
    bm::CheckBlockList list;
    for (const Listed& b : blocks) list.append(b.bid, b.ib, b.cb, b.inflated, b.cRef);
    list.index();
    ExpectListed(list, blocks);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(list.find(blocks[i].bid), i);
        EXPECT_EQ(list.find(blocks[i].bid ^ 1), i) << "bit 0 is not part of the BID";
    }
    EXPECT_EQ(list.find(0x1'0000'000C), bm::CheckBlockList::kAbsent);
    EXPECT_EQ(list.find(0xC), bm::CheckBlockList::kAbsent);
}

TEST(CheckBlockList, BlocksListedOutOfOrderAreFoundAndTheFirstOfTwiceListedWins) {
    const std::vector<Listed> blocks = {
        {0x30, 0x8000, 10, 10, 2}, {0x10, 0x8040, 11, 11, 2}, {0x2'0000'0010, 0x8080, 12, 12, 2},
        {0x11, 0x80C0, 13, 13, 2}, {0x20, 0x8100, 14, 14, 2}, {0x10, 0x8140, 15, 15, 2},
    };
    bm::CheckBlockList list;
    for (const Listed& b : blocks) list.append(b.bid, b.ib, b.cb, b.inflated, b.cRef);
    list.index();
    ExpectListed(list, blocks);
    EXPECT_EQ(list.find(0x30), 0u);
    EXPECT_EQ(list.find(0x10), 1u);  // listed at 1, 3 (with bit 0) and 5
    EXPECT_EQ(list.find(0x2'0000'0010), 2u);
    EXPECT_EQ(list.find(0x20), 4u);
    EXPECT_EQ(list.find(0x40), bm::CheckBlockList::kAbsent);
    EXPECT_EQ(list.find(0x1'0000'0010), bm::CheckBlockList::kAbsent);
}

TEST(CheckBlockList, ReferencesAreCountedPastSixteenBitsAndStateIsKeptPerBlock) {
    bm::CheckBlockList list;
    list.append(0x4, 0x4400, 100, 100, 2);
    list.append(0x6, 0x4480, 100, 100, 2);
    list.index();
    for (std::uint32_t i = 0; i < 70000; ++i) list.addReference(0);
    list.addReference(1);
    EXPECT_EQ(list.references(0), 70000u);
    EXPECT_EQ(list.references(1), 1u);

    list.setInternal(1, 2, 0x90);
    list.setSound(1, true);
    EXPECT_EQ(list.level(1), 2);
    EXPECT_EQ(list.type(1), 0x7F) << "types from 0x7F up read as 0x7F";
    EXPECT_TRUE(list.sound(1));
    list.setSound(1, false);
    EXPECT_FALSE(list.sound(1));
    EXPECT_EQ(list.type(1), 0x7F);
    EXPECT_EQ(list.level(0), 0);
    EXPECT_FALSE(list.sound(0));
    EXPECT_EQ(list.cb(1), 100);
}

}  // namespace
