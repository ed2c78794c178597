// B-tree walks over small store images: leaf-depth discovery, the rules
// that decide which slots of a page are used, skipping of damaged pages,
// loops, and the run flags.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "store_test_helpers.h"

namespace {

using bm::kAnsiLayout;
using bm::kUnicodeLayout;
using bmtest::BbtLeafEntry;
using bmtest::InnerEntry;
using bmtest::NbtLeafEntry;
using bmtest::StoreImage;

// An image whose BBT is one leaf page with the given BIDs and whose NBT
// holds node 0x21.
StoreImage OneLeafBbt(const bm::StoreLayout& layout, const std::vector<std::uint64_t>& bids) {
    StoreImage image(layout);
    std::vector<BbtLeafEntry> entries;
    for (std::uint64_t bid : bids) entries.push_back(image.AddDataBlock(bid, bmtest::MinimalHeap()));
    const std::uint64_t bbt = image.Reserve(layout.page.size, layout.page.size);
    image.WriteBbtLeafPage(bbt, entries);
    const std::uint64_t nbt = image.Reserve(layout.page.size, layout.page.size);
    image.WriteNbtLeafPage(nbt, {{0x21, bids.front(), 0, 0}});
    image.Reserve(layout.page.size, layout.page.size);
    image.Reserve(layout.page.nbtReadLength, layout.page.size);
    image.WriteHeader(nbt, bbt);
    return image;
}

std::vector<std::uint64_t> BidsOf(const bm::StoreFile& store) {
    std::vector<std::uint64_t> out;
    for (const auto& e : store.blocks.entries()) out.push_back(e.bid());
    return out;
}

TEST(BlockTreeLeaf, EqualBidsInARowAreAllAppended) {
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, OneLeafBbt(kUnicodeLayout, {4, 8, 8, 12}), "equal-bids"), 0);
    EXPECT_EQ(BidsOf(store), (std::vector<std::uint64_t>{4, 8, 8, 12}));
    EXPECT_EQ(store.bbtLeafDepth, 0);
}

TEST(BlockTreeLeaf, ABidBelowThePreviousEndsThePage) {
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, OneLeafBbt(kAnsiLayout, {4, 8, 6, 10}), "descending"), 0);
    EXPECT_EQ(BidsOf(store), (std::vector<std::uint64_t>{4, 8}));
}

TEST(BlockTreeLeaf, ARootLeafNotStartingWithBidFourFailsTheBuild) {
    bm::StoreFile store;
    EXPECT_EQ(bmtest::OpenAndBuild(store, OneLeafBbt(kUnicodeLayout, {8, 12}), "first-bid-8"), 2);
    EXPECT_TRUE(store.blocks.empty());
    EXPECT_TRUE(store.forest.empty()) << "the NBT is not walked";
    EXPECT_EQ(store.damage.rootPagesUnusable, 1u);
}

TEST(BlockTreeLeaf, TakesAtMost42EntriesEvenPastThePageEnd) {
    // 43 ascending BIDs in the 1032 bytes a Unicode BBT page is read with.
    std::vector<std::uint64_t> bids;
    for (std::uint64_t i = 0; i < 20; ++i) bids.push_back(4 + 4 * i);
    StoreImage image = OneLeafBbt(kUnicodeLayout, bids);
    const std::uint64_t bbt = image.bytes()[240] | (image.bytes()[241] << 8) | (image.bytes()[242] << 16);
    for (std::uint64_t i = 20; i < 43; ++i) image.Put(bbt + i * 24, 4 + 4 * i, 8);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, image, "limit-42"), 0);
    EXPECT_EQ(store.blocks.size(), 42u);
    EXPECT_EQ(store.walkStats.bbtEntriesPastCount, 22u);
    EXPECT_EQ(store.blocks.entries().back().bid(), 4 + 4 * 41u);
}

TEST(NodeTreeLeaf, TakesAtMost31Entries) {
    StoreImage image(kUnicodeLayout);
    const auto block = image.AddDataBlock(4, bmtest::MinimalHeap());
    const std::uint64_t bbt = image.Reserve(512, 512);
    image.WriteBbtLeafPage(bbt, {block});
    const std::uint64_t nbt = image.Reserve(512, 512);
    image.WriteNbtLeafPage(nbt, {{0x21, 4, 0, 0}});
    for (std::uint64_t i = 1; i < 32; ++i) image.Put(nbt + i * 32, 0x21 + i, 8);  // 32 ascending slots
    image.Reserve(1024, 512);
    image.WriteHeader(nbt, bbt);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, image, "limit-31"), 0);
    EXPECT_EQ(store.forest.size(), 31u);
    EXPECT_NE(bm::FindNode(store, 0x21 + 30), nullptr);
    EXPECT_EQ(bm::FindNode(store, 0x21 + 31), nullptr);
}

TEST(NodeTreeLeaf, ARepeatedNidEndsThePage) {
    bmtest::StoreBuilder b(kAnsiLayout);
    b.AddDataBlock(4, bmtest::MinimalHeap());
    b.AddNode(0x21, 4, 0, 0);
    b.AddNode(0x61, 4, 0, 0);
    b.AddNode(0x61, 4, 0, 0);
    b.AddNode(0x81, 4, 0, 0);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, b.Build().image, "repeated-nid"), 0);
    EXPECT_EQ(store.forest.size(), 2u);
    EXPECT_EQ(bm::FindNode(store, 0x81), nullptr);
}

// A two-level BBT over three leaf pages (5 entries each).
bmtest::BuiltStore TwoLevelStore(const bm::StoreLayout& layout) {
    bmtest::StoreBuilder b = bmtest::SmallStore(layout);
    for (std::uint64_t bid = 12; bid <= 60; bid += 4) b.AddDataBlock(bid, bmtest::MinimalHeap(8));
    for (std::uint32_t i = 0; i < 12; ++i) b.AddNode(0x200024 + 0x20 * i, 12 + 4 * i, 0, 0x8022);
    b.SetEntriesPerPage(5, 5);
    return b.Build();
}

TEST(LeafDepth, IsFoundOneLevelBelowTheRoot) {
    for (const bm::StoreLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
        const auto built = TwoLevelStore(*layout);
        ASSERT_EQ(built.bbtLeafPages.size(), 3u);
        bm::StoreFile store;
        ASSERT_EQ(bmtest::OpenAndBuild(store, built.image, "two-level"), 0) << layout->name;
        EXPECT_EQ(store.bbtLeafDepth, 1) << layout->name;
        EXPECT_EQ(store.nbtLeafDepth, 1) << layout->name;
        EXPECT_EQ(store.blocks.size(), 15u) << layout->name;
        EXPECT_EQ(store.forest.size(), 15u) << layout->name;
        EXPECT_EQ(store.damage.Total(), 0u) << layout->name << ": discovery is not damage";
    }
}

TEST(DamagedPages, ALeafAfterTheFirstIsSkippedAndItsSiblingsAreRead) {
    auto built = TwoLevelStore(kUnicodeLayout);
    built.image.Zero(built.nbtLeafPages[1], 512);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, built.image, "zeroed-leaf"), 0);
    EXPECT_EQ(store.forest.size(), 10u);  // pages 0 and 2 of three
    EXPECT_EQ(store.damage.pagesRejected, 1u);
    EXPECT_NE(bm::FindNode(store, 0x21), nullptr);
    EXPECT_NE(bm::FindNode(store, 0x200024 + 0x20 * 11), nullptr) << "the last page is still read";
}

TEST(DamagedPages, AChildPastTheEndOfTheFileIsSkipped) {
    auto built = TwoLevelStore(kAnsiLayout);
    // Point the root's last entry far past the end of the file.
    const std::uint64_t root = built.bbtRoot;
    built.image.Put(root + 2 * 12 + 8, 0x7FFFFF00, 4);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, built.image, "child-past-eof"), 0);
    EXPECT_EQ(store.blocks.size(), 10u);
    EXPECT_EQ(store.damage.pagesUnreadable, 1u);
}

TEST(DamagedPages, APageMetTwiceInOneWalkIsNotReadAgain) {
    // Inner pages have no key-order test, so a damaged root can name a page
    // a second time (here the first leaf again, then the root itself, each
    // with that page's own first key).
    for (int target = 0; target < 2; ++target) {
        auto built = TwoLevelStore(kUnicodeLayout);
        const std::uint64_t root = built.nbtRoot;
        built.image.Put(root + 24, 0x21, 8);
        built.image.Put(root + 24 + 16, target == 0 ? built.nbtLeafPages[0] : root, 8);
        bm::StoreFile store;
        ASSERT_EQ(bmtest::OpenAndBuild(store, built.image, "revisit"), 0);
        EXPECT_EQ(store.damage.pagesRevisited, 1u) << target;
        EXPECT_EQ(store.forest.size(), 10u) << target;
        EXPECT_EQ(store.walkStats.nbtLeafEntries, 10u) << target << ": no page placed twice";
        ASSERT_NE(bm::FindNode(store, 0x21), nullptr);
        EXPECT_EQ(bm::FindNode(store, 0x21)->bidData(), 4u) << "not overwritten from a page read as a leaf";
    }
}

TEST(DamagedPages, APageNearTheEndOfTheFileIsRejectedEvenWhenComplete) {
    // The fixed read length reaches past the page; a page in the last bytes
    // of the file reads short.
    StoreImage image = OneLeafBbt(kAnsiLayout, {4});
    const std::uint64_t nbt = image.bytes()[188] | (image.bytes()[189] << 8) | (image.bytes()[190] << 16);
    image.Truncate(nbt + 512);
    bm::StoreFile store;
    EXPECT_EQ(bmtest::OpenAndBuild(store, image, "page-at-eof"), 2);
    EXPECT_EQ(store.blocks.size(), 1u);
    EXPECT_TRUE(store.forest.empty());
}

TEST(BlockTreeLeaf, AnEntryAboveTheParentsBoundIsStillAppended) {
    StoreImage image(kAnsiLayout);
    std::vector<BbtLeafEntry> first;
    for (std::uint64_t bid : {4, 8, 100}) first.push_back(image.AddDataBlock(bid, bmtest::MinimalHeap()));
    std::vector<BbtLeafEntry> second;
    for (std::uint64_t bid : {12, 16}) second.push_back(image.AddDataBlock(bid, bmtest::MinimalHeap()));
    const std::uint64_t leaf1 = image.Reserve(512, 512);
    image.WriteBbtLeafPage(leaf1, first);
    const std::uint64_t leaf2 = image.Reserve(512, 512);
    image.WriteBbtLeafPage(leaf2, second);
    const std::uint64_t root = image.Reserve(512, 512);
    image.WriteInnerPage(root, bmtest::PageType::Bbt, {{4, leaf1}, {12, leaf2}}, 1);
    const std::uint64_t nbt = image.Reserve(512, 512);
    image.WriteNbtLeafPage(nbt, {{0x21, 4, 0, 0}});
    image.Reserve(512, 512);
    image.WriteHeader(nbt, root);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, image, "above-bound"), 0);
    EXPECT_EQ(BidsOf(store), (std::vector<std::uint64_t>{4, 8, 100, 12, 16}));
}

TEST(WideIdentifiers, UnicodeBidsAndOffsetsAboveFourGigabytesAreKept) {
    // A BID with high bits set and a file offset above 4 GiB survive as
    // read; the reads past the end of this small file simply come back empty.
    StoreImage image = OneLeafBbt(kUnicodeLayout, {4, 8});
    const std::uint64_t bbt = image.bytes()[240] | (image.bytes()[241] << 8) | (image.bytes()[242] << 16);
    image.Put(bbt + 24, 0x100000008ull, 8);
    image.Put(bbt + 24 + 8, 0x123456789ull, 8);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, image, "wide"), 0);
    const bm::BlockEntry* wide = bm::FindBlock(store, 0x100000008ull);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->offset(), 0x123456789ull);
    EXPECT_EQ(bm::FindBlock(store, 8), nullptr) << "no truncation to 32 bits";
}

TEST(RunFlags, AStoppedAnalysisEndsTheNodeWalkWithoutReading) {
    const auto built = TwoLevelStore(kUnicodeLayout);
    bm::StoreFile store;
    ASSERT_TRUE(bmtest::OpenImage(store, built.image, "stop-analysis"));
    bm::StoreReader reader;
    reader.stopAnalysis = true;
    bm::BuildIndexes(store, reader);
    EXPECT_EQ(store.blocks.size(), 15u) << "the block walk has no stop point";
    EXPECT_TRUE(store.forest.empty());
}

TEST(RunFlags, TheSavingRunIgnoresTheAnalysisStopButNotItsOwn) {
    const auto built = TwoLevelStore(kUnicodeLayout);
    bm::StoreFile saving;
    ASSERT_TRUE(bmtest::OpenImage(saving, built.image, "saving-run"));
    bm::StoreReader reader;
    reader.stopAnalysis = true;
    reader.savingRunActive = true;
    EXPECT_EQ(bm::BuildIndexes(saving, reader), 0);
    EXPECT_EQ(saving.forest.size(), 15u);

    bm::StoreFile stopped;
    ASSERT_TRUE(bmtest::OpenImage(stopped, built.image, "saving-stopped"));
    reader.stopSaving = true;
    bm::BuildIndexes(stopped, reader);
    EXPECT_TRUE(stopped.forest.empty());
}

TEST(PauseGate, TwoSuspendsNeedTwoResumes) {
    bm::PauseGate gate;
    gate.Suspend();
    gate.Suspend();
    std::atomic<bool> passed{false};
    std::thread worker([&] {
        gate.Pass();
        passed = true;
    });
    gate.Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(passed.load());
    EXPECT_EQ(gate.count(), 1);
    gate.Resume();
    worker.join();
    EXPECT_TRUE(passed.load());
    gate.Resume();  // an extra resume is ignored
    EXPECT_EQ(gate.count(), 0);
}

TEST(Rebuild, ASecondBuildKeepsTheForestShapeAndAppendsTheBlocksAgain) {
    const auto built = TwoLevelStore(kAnsiLayout);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, built.image, "rebuild"), 0);
    const bm::BlockEntry* firstFour = bm::FindBlock(store, 4);
    const bm::NodeEntry* ipm = bm::FindNode(store, 0x8022);
    ASSERT_NE(ipm, nullptr);
    const std::uint32_t children = ipm->childCount;

    bm::StoreReader reader;
    ASSERT_EQ(bm::OpenStore(store, store.file.name(), bm::StoreOpenMode::SharedRead), 0);
    EXPECT_EQ(store.bbtLeafDepth, bm::kLeafDepthUnknown);
    EXPECT_FALSE(store.nbtLeafSeen);
    EXPECT_EQ(store.forest.size(), 15u) << "opening keeps the tables";
    ASSERT_EQ(bm::BuildIndexes(store, reader), 0);
    EXPECT_EQ(store.blocks.size(), 30u);
    EXPECT_EQ(bm::FindBlock(store, 4), firstFour) << "the first appended entry still wins";
    EXPECT_EQ(store.forest.size(), 15u);
    EXPECT_EQ(bm::FindNode(store, 0x8022), ipm);
    EXPECT_EQ(ipm->childCount, children);
}

TEST(CryptMethod, TheHeaderIsHonouredOnlyWhenPermutationDoesNotShowAHeap) {
    struct Case {
        std::uint8_t written;  // method the blocks are written with
        std::uint8_t header;   // bCryptMethod in the header
        std::uint32_t expected;
    };
    for (const Case c : {Case{1, 1, 1}, Case{0, 0, 0}, Case{2, 2, 2}, Case{1, 0, 1}, Case{1, 7, 1}, Case{0, 7, 1}}) {
        bmtest::StoreBuilder b = bmtest::SmallStore(kUnicodeLayout);
        b.SetCryptMethod(c.written);
        auto built = b.Build();
        built.image.Put(kUnicodeLayout.header.cryptMethodAt, c.header, 1);
        bm::StoreFile store;
        ASSERT_EQ(bmtest::OpenAndBuild(store, built.image, "crypt"), 0);
        EXPECT_EQ(store.cryptMethod, c.expected) << int(c.written) << "/" << int(c.header);
        if (c.expected == c.written) {
            bm::Bytes heap;
            bm::ReadNodeData(store, *bm::FindNode(store, 0x21)->dataBlock(), {&heap, {}});
            EXPECT_EQ(heap, bmtest::MinimalHeap());
        }
    }
}

TEST(Layouts, AnUnknownVersionOpensAndWalksNothing) {
    auto built = bmtest::SmallStore(kUnicodeLayout).Build();
    built.image.Put(10, 40, 2);
    bm::StoreFile store;
    EXPECT_EQ(bmtest::OpenAndBuild(store, built.image, "version-40"), 2);
    EXPECT_EQ(store.layout, nullptr);
    EXPECT_TRUE(store.blocks.empty());
    EXPECT_TRUE(store.forest.empty());
}

}  // namespace
