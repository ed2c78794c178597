// Block reads and node data: decoding methods, XBLOCK/XXBLOCK assembly in
// buffer and sink mode, failure after partial delivery, damaged trees.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include "common/format_tables.h"
#include "store_test_helpers.h"

namespace {

using bmtest::Bytes;

Bytes Sequence(std::size_t n, std::uint8_t start) {
    Bytes out(n);
    std::iota(out.begin(), out.end(), start);
    return out;
}

TEST(DecodeBlock, UndoesEachEncodingMethod) {
    const Bytes plain{0x00, 0x01, 0x02, 0x41, 0xFF};
    for (std::uint32_t method : {0u, 1u, 2u}) {
        Bytes data = plain;
        bm::EncodeBytes(data, static_cast<bm::CryptMethod>(method), 0x1234);
        if (method != 0) {
            EXPECT_NE(data, plain);
        }
        EXPECT_EQ(bm::DecodeBlock(data, method, 0x1234), 0);
        EXPECT_EQ(data, plain) << "method " << method;
    }
}

TEST(DecodeBlock, AnUnknownMethodLeavesTheDataAsStored) {
    Bytes data{1, 2, 3};
    EXPECT_EQ(bm::DecodeBlock(data, 3), -1);
    EXPECT_EQ(data, (Bytes{1, 2, 3}));
}

// Data blocks 0x10.. of 8 bytes each, trees over them, and node 0x21.
class DataTrees : public ::testing::TestWithParam<const bm::StoreLayout*> {
protected:
    const bm::StoreLayout& layout() const { return *GetParam(); }

    void Open(const std::string& name) {
        ASSERT_EQ(bmtest::OpenAndBuild(store, builder.Build().image, name), 0);
    }
    std::uint64_t Read(std::uint64_t bid, Bytes& out, std::uint64_t* delivered = nullptr) {
        const bm::BlockEntry* entry = bm::FindBlock(store, bid);
        EXPECT_NE(entry, nullptr);
        return entry ? bm::ReadNodeData(store, *entry, {&out, {}}, delivered) : 0;
    }

    void SetUp() override {
        builder = bmtest::SmallStore(layout());
        for (std::uint64_t i = 0; i < 6; ++i) builder.AddDataBlock(0x10 + 4 * i, Sequence(8, std::uint8_t(i * 8)));
    }
    Bytes XBlock(const std::vector<std::uint64_t>& bids, std::uint8_t level = 1) {
        return bmtest::StoreImage(layout()).XBlock(bids, 0, level);
    }

    bmtest::StoreBuilder builder{bm::kAnsiLayout};
    bm::StoreFile store;
};

TEST_P(DataTrees, AnXxblockYieldsAllDataBlocksInEntryOrder) {
    builder.AddInternalBlock(0x102, XBlock({0x10, 0x14, 0x18}));
    builder.AddInternalBlock(0x106, XBlock({0x1C, 0x20}));
    builder.AddInternalBlock(0x10A, XBlock({0x102, 0x106}, 2));
    Open("xxblock");
    Bytes data;
    EXPECT_EQ(Read(0x10A, data), 40u);
    EXPECT_EQ(data, Sequence(40, 0));
}

TEST_P(DataTrees, SinkModeDeliversTheSameBytes) {
    builder.AddInternalBlock(0x102, XBlock({0x10, 0x14, 0x18, 0x1C}));
    Open("sink");
    Bytes sunk;
    bm::NodeDataTarget target;
    target.sink = [&](std::span<const std::uint8_t> piece) {
        sunk.insert(sunk.end(), piece.begin(), piece.end());
        return true;
    };
    EXPECT_EQ(bm::ReadNodeData(store, *bm::FindBlock(store, 0x102), target), 32u);
    EXPECT_EQ(sunk, Sequence(32, 0));

    target.sink = [](std::span<const std::uint8_t>) { return false; };
    EXPECT_EQ(bm::ReadNodeData(store, *bm::FindBlock(store, 0x102), target), 0u) << "a full disk is a failure";
}

TEST_P(DataTrees, AMissingChildFailsTheTreeAfterTheEarlierChildrenArrived) {
    builder.AddInternalBlock(0x102, XBlock({0x10, 0x14, 0x998, 0x18}));
    Open("missing-child");
    Bytes data;
    std::uint64_t delivered = 0;
    EXPECT_EQ(Read(0x102, data, &delivered), 0u);
    EXPECT_EQ(delivered, 16u);
    EXPECT_EQ(data, Sequence(16, 0));
    EXPECT_EQ(store.damage.dataTreesIncomplete, 1u);
    EXPECT_EQ(store.damage.blocksMissing, 1u);
}

TEST_P(DataTrees, AnEmptyXblockYieldsNoBytes) {
    builder.AddInternalBlock(0x102, XBlock({}));
    Open("empty-xblock");
    Bytes data{9};
    EXPECT_EQ(Read(0x102, data), 0u);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(store.damage.dataTreesIncomplete, 0u);
}

TEST_P(DataTrees, ADataBlockStartingWithOneIsNotATree) {
    builder.AddDataBlock(0x40, Bytes{1, 1, 1, 0, 0x10, 0, 0, 0});
    Open("data-starting-1");
    Bytes data;
    EXPECT_EQ(Read(0x40, data), 8u);
    EXPECT_EQ(data, (Bytes{1, 1, 1, 0, 0x10, 0, 0, 0}));
}

TEST_P(DataTrees, ATreeThatNamesItselfEnds) {
    builder.AddInternalBlock(0x102, XBlock({0x102, 0x10}, 2));
    builder.AddInternalBlock(0x106, XBlock({0x10, 0x106}));
    Open("self-tree");
    Bytes data;
    EXPECT_EQ(Read(0x102, data), 0u);
    EXPECT_EQ(Read(0x106, data), 0u) << "an XBLOCK child that is no data block";
}

TEST_P(DataTrees, AnInternalBlockThatIsNoXblockIsDeliveredAsData) {
    builder.AddInternalBlock(0x102, Bytes{7, 1, 2, 3});
    Open("not-xblock");
    Bytes data;
    EXPECT_EQ(Read(0x102, data), 4u);
    Bytes sunk;
    bm::NodeDataTarget target;
    target.sink = [&](std::span<const std::uint8_t> p) {
        sunk.assign(p.begin(), p.end());
        return true;
    };
    EXPECT_EQ(bm::ReadNodeData(store, *bm::FindBlock(store, 0x102), target), 4u);
    EXPECT_EQ(sunk, data) << "the sink gets the bytes too";
}

TEST_P(DataTrees, OneBufferTakesBlocksOfAnySizeWithoutLeftovers) {
    builder.AddDataBlock(0x40, Sequence(100, 100));
    builder.AddInternalBlock(0x102, XBlock({0x40, 0x10, 0x40, 0x14}));
    Open("reused-buffer");
    Bytes data;
    EXPECT_EQ(Read(0x40, data), 100u);
    EXPECT_EQ(Read(0x10, data), 8u);
    EXPECT_EQ(data, Sequence(8, 0)) << "a smaller block after a larger one";
    // 100 bytes, 8, 100, 8: the tree's data blocks share one buffer.
    std::vector<Bytes> pieces;
    bm::NodeDataTarget target;
    target.sink = [&](std::span<const std::uint8_t> piece) {
        pieces.emplace_back(piece.begin(), piece.end());
        return true;
    };
    EXPECT_EQ(bm::ReadNodeData(store, *bm::FindBlock(store, 0x102), target), 216u);
    EXPECT_EQ(pieces, (std::vector<Bytes>{Sequence(100, 100), Sequence(8, 0), Sequence(100, 100), Sequence(8, 8)}));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DataTrees, ::testing::Values(&bm::kAnsiLayout, &bm::kUnicodeLayout, &bm::kUnicode4kLayout),
                         [](const auto& info) { return bmtest::LayoutTestName(*info.param); });

TEST(ReadBlock, DamagedStoredBytesAreDeliveredAndCounted) {
    auto built = bmtest::SmallStore(bm::kUnicodeLayout).Build();
    const auto& heapEntry = built.blocks.front();
    built.image.bytes()[heapEntry.offset + 5] ^= 0xFF;
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, built.image, "crc"), 0);
    Bytes raw;
    EXPECT_EQ(bm::ReadBlock(store, 4, raw), 16u);
    EXPECT_GE(store.damage.blockCrcMismatches, 1u);
}

TEST(ReadBlock, ABlockCutByTheEndOfTheFileReadsShort) {
    bmtest::StoreImage image(bm::kAnsiLayout);
    image.AddDataBlock(4, Sequence(100, 0));
    const std::uint64_t bbt = image.Reserve(512, 512);
    bmtest::BbtLeafEntry far{4, 0, 100};
    far.offset = image.size() - 40;  // only 40 bytes remain
    image.WriteBbtLeafPage(bbt, {far});
    image.Reserve(0, 512);
    bm::StoreFile store;
    ASSERT_TRUE(bmtest::OpenImage(store, image, "short-block"));
    store.blocks.Append({4, far.offset, 100, 2, 100});
    Bytes raw;
    EXPECT_EQ(bm::ReadBlock(store, 4, raw), 40u);
    EXPECT_EQ(raw.size(), 40u);
    EXPECT_EQ(store.damage.blocksUnreadable, 1u);
    EXPECT_EQ(bm::ReadBlock(store, 8, raw), 0u);
    EXPECT_EQ(raw.size(), 40u) << "a missing BID leaves the slot alone";
}

// The blocks the saving run keeps for the copy's second read: the bytes and
// the damage counted are what reading the file again would give, and a
// store opened anew or released never sees another file's blocks.
TEST(RecentBlocks, ASecondReadGivesTheSameBytesAndCountsTheSameDamage) {
    auto built = bmtest::SmallStore(bm::kUnicodeLayout).Build();
    built.image.bytes()[built.blocks.front().offset + 5] ^= 0xFF;
    const auto damageOfTwoReads = [&](bool keeping, const std::string& name) {
        bm::StoreFile store;
        EXPECT_EQ(bmtest::OpenAndBuild(store, built.image, name), 0);
        store.recentBlocks.enable(keeping);
        const std::uint64_t before = store.damage.blockCrcMismatches;
        Bytes first;
        Bytes second{1, 2, 3};
        EXPECT_EQ(bm::ReadBlock(store, 4, first), 16u);
        EXPECT_EQ(bm::ReadBlock(store, 4, second), 16u);
        EXPECT_EQ(first, second);
        return store.damage.blockCrcMismatches - before;
    };
    EXPECT_EQ(damageOfTwoReads(true, "recent-kept"), damageOfTwoReads(false, "recent-plain"));
    EXPECT_EQ(damageOfTwoReads(true, "recent-kept2"), 2u);
}

TEST(RecentBlocks, KeepsAFewBlocksAndNeverAnotherFilesBlocks) {
    bmtest::StoreImage image(bm::kUnicodeLayout);
    std::vector<bmtest::BbtLeafEntry> entries;
    for (std::uint64_t i = 0; i <= bm::RecentBlocks::kSlots; ++i) {
        const std::uint64_t bid = 4 + 4 * i;
        entries.push_back(image.AddRawBlock(bid, Sequence(64, static_cast<std::uint8_t>(i))));
    }
    bm::StoreFile store;
    ASSERT_TRUE(bmtest::OpenImage(store, image, "recent-evict"));
    for (const auto& e : entries) store.blocks.Append({e.bid, e.offset, 64, 2, 64});
    store.recentBlocks.enable(true);
    Bytes slot;
    ASSERT_EQ(bm::ReadBlock(store, 4, slot), 64u);

    // The file changes under the store: a kept block still reads as it was
    // read, until enough other blocks have pushed it out.
    const std::filesystem::path path = store.file.name();
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(entries[0].offset));
        const Bytes changed(64, 0xEE);
        f.write(reinterpret_cast<const char*>(changed.data()), 64);
    }
    ASSERT_EQ(bm::ReadBlock(store, 4, slot), 64u);
    EXPECT_EQ(slot, Sequence(64, 0));
    for (std::size_t i = 1; i < entries.size(); ++i) bm::ReadBlock(store, entries[i].bid, slot);
    ASSERT_EQ(bm::ReadBlock(store, 4, slot), 64u);
    EXPECT_EQ(slot, Bytes(64, 0xEE)) << "only the last few blocks are kept";

    // Opened again, or released and opened, the store reads the file.
    image.bytes()[entries[1].offset] ^= 0x55;
    const Bytes keptBefore = [&] {
        Bytes b;
        bm::ReadBlock(store, 8, b);
        return b;
    }();
    image.Save(path);
    ASSERT_EQ(bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead), 0);
    ASSERT_EQ(bm::ReadBlock(store, 8, slot), 64u);
    EXPECT_NE(slot, keptBefore);
    EXPECT_TRUE(store.recentBlocks.enabled()) << "opening again keeps the choice";
    bm::ReleaseStore(store);
    EXPECT_FALSE(store.recentBlocks.enabled());
}

TEST(ReadAt, ClampsToTheFile) {
    bm::StoreFile store;
    ASSERT_TRUE(bmtest::OpenImage(store, bmtest::StoreImage(bm::kAnsiLayout), "read-at"));
    Bytes slot;
    EXPECT_EQ(bm::ReadAt(store, 0x3F0, 100, slot), 16u);
    EXPECT_EQ(bm::ReadAt(store, 1ull << 62, 100, slot), 0u);
    EXPECT_TRUE(slot.empty());
}

}  // namespace
