// Subnode lists: SLBLOCK entries, SIBLOCK levels, nesting order, lookups,
// and damaged subnode blocks.
#include <gtest/gtest.h>

#include "common/byte_reader.h"
#include "store_test_helpers.h"

namespace {

using bmtest::Bytes;
using bmtest::SubnodeLeafEntry;

std::vector<std::uint32_t> Nids(const bm::SubnodeList& list) {
    std::vector<std::uint32_t> out;
    for (const auto& e : list.entries()) out.push_back(e.nid);
    return out;
}

class Subnodes : public ::testing::TestWithParam<const bm::StoreLayout*> {
protected:
    const bm::StoreLayout& layout() const { return *GetParam(); }
    bmtest::StoreImage Image() const { return bmtest::StoreImage(layout()); }

    void SetUp() override {
        builder = bmtest::SmallStore(layout());
        for (std::uint64_t bid = 0x10; bid <= 0x20; bid += 4) builder.AddDataBlock(bid, Bytes(8, std::uint8_t(bid)));
    }
    bm::SubnodeList Read(std::uint64_t bid, const std::string& name) {
        EXPECT_EQ(bmtest::OpenAndBuild(store, builder.Build().image, name), 0);
        const bm::BlockEntry* block = bm::FindBlock(store, bid);
        EXPECT_NE(block, nullptr);
        return block ? bm::ReadSubnodes(store, *block) : bm::SubnodeList{};
    }

    bmtest::StoreBuilder builder{bm::kAnsiLayout};
    bm::StoreFile store;
};

TEST_P(Subnodes, NestedSubnodesFollowTheirOwner) {
    builder.AddInternalBlock(0x202, Image().SlBlock({{0x8025, 0x18, 0}, {0x8045, 0x1C, 0}}));
    builder.AddInternalBlock(0x206, Image().SlBlock({{0x671, 0x10, 0}, {0x8005, 0x14, 0x202}, {0x692, 0x20, 0}}));
    const auto list = Read(0x206, "nested");
    EXPECT_EQ(Nids(list), (std::vector<std::uint32_t>{0x671, 0x8005, 0x8025, 0x8045, 0x692}));
    EXPECT_EQ(list.entries()[2].level, 1u);
    EXPECT_EQ(bm::FindSubnode(list, 0x671), bm::FindBlock(store, 0x10));
    EXPECT_EQ(bm::FindSubnode(list, 0x9999), nullptr);
}

TEST_P(Subnodes, AnSiblockListsTheEntriesOfAllItsSlblocks) {
    builder.AddInternalBlock(0x202, Image().SlBlock({{0x671, 0x10, 0}, {0x692, 0x14, 0}}));
    builder.AddInternalBlock(0x206, Image().SlBlock({{0x8005, 0x18, 0}}));
    builder.AddInternalBlock(0x20A, Image().SiBlock({{0x671, 0x202}, {0x8005, 0x206}}));
    EXPECT_EQ(Nids(Read(0x20A, "siblock")), (std::vector<std::uint32_t>{0x671, 0x692, 0x8005}));
}

TEST_P(Subnodes, ALocalNidAtTwoLevelsIsFoundAtTheFirst) {
    builder.AddInternalBlock(0x202, Image().SlBlock({{0x671, 0x18, 0}}));
    builder.AddInternalBlock(0x206, Image().SlBlock({{0x8005, 0x14, 0x202}, {0x671, 0x10, 0}}));
    const auto list = Read(0x206, "two-levels");
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(bm::FindSubnode(list, 0x671), bm::FindBlock(store, 0x18));
}

TEST_P(Subnodes, ASubnodeWithoutItsDataBlockIsLeftOut) {
    builder.AddInternalBlock(0x206, Image().SlBlock({{0x671, 0x998, 0}, {0x692, 0x10, 0x99A}}));
    const auto list = Read(0x206, "missing-data");
    EXPECT_EQ(Nids(list), (std::vector<std::uint32_t>{0x692}));
}

TEST_P(Subnodes, EmptyLoopingAndForeignBlocksYieldNoSubnodes) {
    builder.AddInternalBlock(0x202, Image().SlBlock({}));
    builder.AddInternalBlock(0x206, Image().SlBlock({{0x671, 0x10, 0x206}}));  // names itself
    builder.AddInternalBlock(0x20A, Image().XBlock({0x10}, 8));
    EXPECT_TRUE(Read(0x202, "empty").empty());
    EXPECT_EQ(Nids(bm::ReadSubnodes(store, *bm::FindBlock(store, 0x206))), (std::vector<std::uint32_t>{0x671}));
    EXPECT_TRUE(bm::ReadSubnodes(store, *bm::FindBlock(store, 0x20A)).empty());
    EXPECT_EQ(store.damage.subnodeBlocksRejected, 2u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Subnodes, ::testing::Values(&bm::kAnsiLayout, &bm::kUnicodeLayout, &bm::kUnicode4kLayout),
                         [](const auto& info) { return bmtest::LayoutTestName(*info.param); });

TEST(SubnodeList, EachNidFindsItsFirstRecordWhateverTheOrder) {
    const bm::BlockEntry blocks[7]{};
    bm::SubnodeList list;
    const std::uint32_t nids[6] = {0x692, 0x671, 0x8005, 0x671, 0x692, 0x100};
    for (std::size_t i = 0; i < 6; ++i) list.Append(bm::SubnodeEntry{nids[i], &blocks[i], nullptr, 0});
    EXPECT_EQ(Nids(list), (std::vector<std::uint32_t>(std::begin(nids), std::end(nids))));
    EXPECT_EQ(list.Find(0x692), &blocks[0]);
    EXPECT_EQ(list.Find(0x671), &blocks[1]);
    EXPECT_EQ(list.Find(0x8005), &blocks[2]);
    EXPECT_EQ(list.Find(0x100), &blocks[5]);
    EXPECT_EQ(list.Find(0x693), nullptr);
    EXPECT_EQ(list.Find(0), nullptr);
    EXPECT_EQ(list.FindEntry(0x671), &list.entries()[1]);
    EXPECT_EQ(list.FindEntry(0x692), &list.entries()[0]);
    EXPECT_EQ(list.FindEntry(0x693), nullptr);

    // A table's own subnodes first, then the message's: a NID both hold is
    // the table's.
    bm::SubnodeList table;
    table.Append(bm::SubnodeEntry{0x671, &blocks[6], nullptr, 0});
    table.Reserve(table.size() + list.size());
    for (const auto& e : list.entries()) table.Append(e);
    EXPECT_EQ(table.size(), 7u);
    EXPECT_EQ(table.Find(0x671), &blocks[6]);
    EXPECT_EQ(table.Find(0x692), &blocks[0]);
    EXPECT_EQ(table.Find(0x100), &blocks[5]);

    // Records appended after a lookup, one of them an earlier NID again:
    // the first record still wins, and new NIDs are found.
    list.Append(bm::SubnodeEntry{0x671, &blocks[6], nullptr, 0});
    list.Append(bm::SubnodeEntry{0x50, &blocks[6], nullptr, 0});
    EXPECT_EQ(list.Find(0x671), &blocks[1]);
    EXPECT_EQ(list.Find(0x50), &blocks[6]);
    EXPECT_EQ(list.Find(0x8005), &blocks[2]);
}

TEST(SubnodeLayout, UnicodeEntriesStartAtEightAndTakeTwentyFourBytes) {
    // Written by hand rather than by the image builder, so that the entry
    // offsets are checked against the format and not against themselves.
    Bytes sl(8 + 3 * 24, 0);
    sl[0] = 2;
    sl[2] = 3;
    const std::uint32_t nids[] = {0x671, 0x692, 0x6B6};
    for (int i = 0; i < 3; ++i) {
        bm::PutLe(sl.data() + 8 + 24 * i, nids[i], 4);
        bm::PutLe(sl.data() + 8 + 24 * i + 8, 0x10 + 4 * i, 4);
    }
    bmtest::StoreBuilder b = bmtest::SmallStore(bm::kUnicodeLayout);
    for (std::uint64_t bid : {0x10, 0x14, 0x18}) b.AddDataBlock(bid, Bytes(4, 1));
    b.AddInternalBlock(0x202, sl);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, b.Build().image, "unicode-sl"), 0);
    const auto list = bm::ReadSubnodes(store, *bm::FindBlock(store, 0x202));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(bm::FindSubnode(list, 0x6B6), bm::FindBlock(store, 0x18));
}

}  // namespace
