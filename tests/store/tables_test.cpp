// Block table lookups and node forest placement: first-match lookups,
// parents, orphans waiting across pages, moves, loops, root folder search.
#include <gtest/gtest.h>

#include <vector>

#include "store_test_helpers.h"

namespace {

std::vector<std::uint32_t> ChildNids(const bm::NodeForest& forest, const bm::NodeEntry* parent) {
    std::vector<std::uint32_t> out;
    for (const bm::NodeEntry* c = forest.OldestChild(*parent); c != nullptr; c = forest.NewerSibling(*c))
        out.push_back(c->nid);
    return out;
}

TEST(FindBlock, ClearsBitZeroAndReturnsTheFirstAppendedEntry) {
    bm::StoreFile store;
    EXPECT_EQ(bm::FindBlock(store, 4), nullptr) << "empty table";
    const bm::BlockEntry& four = store.blocks.Append({4, 0x400, 10, 1, 10});
    const bm::BlockEntry& eight = store.blocks.Append({8, 0x500, 20, 1, 20});
    store.blocks.Append({8, 0x900, 30, 1, 30});
    EXPECT_EQ(bm::FindBlock(store, 5), &four);
    EXPECT_EQ(bm::FindBlock(store, 8), &eight);
    EXPECT_EQ(bm::FindBlock(store, 0), nullptr);
    EXPECT_EQ(bm::FindBlock(store, 12), nullptr);
    EXPECT_EQ(store.blocks.tail()->offset(), 0x900u);
}

TEST(FindBlock, FindsEveryBlockOfALongTableInOrderAndAfterAnEntryOutOfOrder) {
    // More entries than one lookup sample covers, BIDs stepping by 4 as a
    // block B-tree lists them: found without a hash index, which costs
    // nothing beside the entries but the sample.
    bm::StoreFile store;
    constexpr std::uint64_t kCount = 1000;
    std::vector<const bm::BlockEntry*> appended;
    for (std::uint64_t i = 1; i <= kCount; ++i) appended.push_back(&store.blocks.Append({i * 4, 0x4400 + i * 64, 8, 2, 8}));
    EXPECT_LT(store.blocks.LookupBytes(), kCount);
    for (std::uint64_t i = 1; i <= kCount; ++i) {
        ASSERT_EQ(bm::FindBlock(store, i * 4), appended[i - 1]) << i;
        ASSERT_EQ(bm::FindBlock(store, i * 4 + 1), appended[i - 1]) << "bit 0 is ignored";
        ASSERT_EQ(bm::FindBlock(store, i * 4 + 2), nullptr) << "between two BIDs";
    }
    EXPECT_EQ(bm::FindBlock(store, 2), nullptr) << "below the first";
    EXPECT_EQ(bm::FindBlock(store, (kCount + 1) * 4), nullptr) << "past the last";

    // An entry below the last (a second walk, a scanned block) and a second
    // entry for a listed BID: every lookup still right, the first listed
    // entry of a BID still the one found.
    const bm::BlockEntry& low = store.blocks.Append({2, 0x300, 8, 2, 8});
    store.blocks.Append({40, 0x9000, 8, 2, 8});
    EXPECT_EQ(bm::FindBlock(store, 2), &low);
    EXPECT_EQ(bm::FindBlock(store, 40), appended[9]);
    for (std::uint64_t i = 1; i <= kCount; ++i) ASSERT_EQ(bm::FindBlock(store, i * 4), appended[i - 1]) << i;
    EXPECT_EQ(bm::FindBlock(store, 6), nullptr);
    EXPECT_GT(store.blocks.LookupBytes(), kCount) << "the hash index now serves the lookups";

    store.blocks.Clear();
    EXPECT_EQ(bm::FindBlock(store, 4), nullptr);
    const bm::BlockEntry& again = store.blocks.Append({4, 0x400, 8, 2, 8});
    EXPECT_EQ(bm::FindBlock(store, 4), &again);
}

TEST(FindBlock, PrefersAnEntryFromALiveSlotOverAStaleCopy) {
    bm::StoreFile store;
    store.blocks.Append({4, 0x400, 10, 1, 10});
    bm::BlockInfo stale{12, 0x7FFF0000, 10, 1, 10};
    stale.pastPageCount = true;
    const bm::BlockEntry& staleEntry = store.blocks.Append(stale);
    EXPECT_EQ(bm::FindBlock(store, 12), &staleEntry) << "a stale copy is better than nothing";
    const bm::BlockEntry& live = store.blocks.Append({12, 0x800, 10, 1, 10});
    store.blocks.Append({12, 0x900, 10, 1, 10});
    EXPECT_EQ(bm::FindBlock(store, 12), &live);
}

TEST(FindNode, FindsEveryRecordOfALongForestInOrderAndAfterANidOutOfOrder) {
    // NIDs rising as a node B-tree lists them: found through the sample,
    // without a hash index.
    bm::StoreFile store;
    bm::LeafPageContext ctx;
    constexpr std::uint32_t kCount = 1000;
    bm::PlaceNodeEntry(store, ctx, 0x122, 0, 0, 0x122);
    for (std::uint32_t i = 1; i <= kCount; ++i) bm::PlaceNodeEntry(store, ctx, 0x200004 + i * 32, 0, 0, 0x122);
    EXPECT_LT(store.forest.LookupBytes(), std::size_t{kCount});
    const auto expectAll = [&](const char* when) {
        ASSERT_NE(bm::FindNode(store, 0x122), nullptr) << when;
        for (std::uint32_t i = 1; i <= kCount; ++i) {
            const bm::NodeEntry* r = bm::FindNode(store, 0x200004 + i * 32);
            ASSERT_NE(r, nullptr) << when << " " << i;
            ASSERT_EQ(r->nid, 0x200004 + i * 32) << when;
            ASSERT_EQ(&store.forest.records()[r->placedOrder], r) << when;
            ASSERT_EQ(bm::FindNode(store, 0x200004 + i * 32 + 4), nullptr) << when << " between two NIDs";
        }
        EXPECT_EQ(bm::FindNode(store, 0x21), nullptr) << when << " below the first";
        EXPECT_EQ(bm::FindNode(store, 0x200004 + (kCount + 1) * 32), nullptr) << when << " past the last";
    };
    expectAll("in order");

    // A NID placed again (in order or not) updates its record; a new NID
    // below the last builds the hash index, and nothing found before is lost.
    bm::PlaceNodeEntry(store, ctx, 0x200004 + 500 * 32, 0, 0, 0x122);
    EXPECT_EQ(store.forest.size(), kCount + 1);
    expectAll("after a NID placed again");
    bm::PlaceNodeEntry(store, ctx, 0x21, 0, 0, 0);
    EXPECT_EQ(store.forest.size(), kCount + 2);
    EXPECT_GT(store.forest.LookupBytes(), std::size_t{kCount}) << "the hash index now serves the lookups";
    ASSERT_NE(bm::FindNode(store, 0x21), nullptr);
    EXPECT_EQ(bm::FindNode(store, 0x21)->placedOrder, kCount + 1);
    for (std::uint32_t i = 1; i <= kCount; ++i)
        ASSERT_EQ(store.forest.Parent(*bm::FindNode(store, 0x200004 + i * 32)), bm::FindNode(store, 0x122)) << i;

    store.forest.Clear();
    EXPECT_EQ(bm::FindNode(store, 0x122), nullptr);
    bm::PlaceNodeEntry(store, ctx, 0x8022, 0, 0, 0);
    EXPECT_NE(bm::FindNode(store, 0x8022), nullptr);
    EXPECT_LT(store.forest.LookupBytes(), std::size_t{kCount}) << "sorted again after a clear";
}

class Forest : public ::testing::Test {
protected:
    void Place(std::uint32_t nid, std::uint32_t parent) { bm::PlaceNodeEntry(store, ctx, nid, 0, 0, parent); }
    const bm::NodeEntry* Node(std::uint32_t nid) { return bm::FindNode(store, nid); }
    const bm::NodeEntry* Parent(std::uint32_t nid) { return store.forest.Parent(*Node(nid)); }

    bm::StoreFile store;
    bm::LeafPageContext ctx;
};

TEST_F(Forest, RecordsWithoutParentOrWithThemselvesAsParentAreTopLevel) {
    Place(0x21, 0);
    Place(0x122, 0x122);
    Place(0x8022, 0x122);
    EXPECT_EQ(store.forest.first()->nid, 0x21u);
    EXPECT_EQ(store.forest.last()->nid, 0x122u);
    EXPECT_EQ(Parent(0x8022), Node(0x122));
    EXPECT_TRUE(store.forest.IsInForest(*Node(0x8022)));
}

TEST_F(Forest, AChildBeforeItsParentOnThePageIsAdopted) {
    Place(0x122, 0x122);
    Place(0x8004, 0x8082);
    EXPECT_EQ(bm::OrphanNodes(store).size(), 1u);
    Place(0x8082, 0x122);
    EXPECT_EQ(Parent(0x8004), Node(0x8082));
    EXPECT_EQ(Node(0x8082)->childCount, 1u);
    EXPECT_TRUE(bm::OrphanNodes(store).empty());
    EXPECT_TRUE(store.forest.IsInForest(*Node(0x8004)));
}

TEST_F(Forest, EveryOrphanWaitingForAParentIsAdoptedNewestFirst) {
    Place(0x122, 0x122);
    Place(0x8004, 0x8082);
    Place(0x8024, 0x8082);
    Place(0x8044, 0x8082);
    Place(0x8082, 0x122);
    EXPECT_EQ(ChildNids(store.forest, Node(0x8082)), (std::vector<std::uint32_t>{0x8044, 0x8024, 0x8004}));
    EXPECT_EQ(Node(0x8082)->childCount, 3u);
}

TEST_F(Forest, OrphansWaitAcrossLeafPages) {
    Place(0x122, 0x122);
    Place(0x8004, 0x8082);
    bm::LeafPageContext nextPage;
    bm::PlaceNodeEntry(store, nextPage, 0x8082, 0, 0, 0x122);
    EXPECT_EQ(Parent(0x8004), Node(0x8082));
}

TEST_F(Forest, OrphansNeverAdoptedStayReachable) {
    Place(0x122, 0x122);
    Place(0x8044, 0x9999);
    Place(0x200024, 0x8044);  // under the orphan: kept with it
    const auto orphans = bm::OrphanNodes(store);
    ASSERT_EQ(orphans.size(), 1u);
    EXPECT_EQ(orphans[0]->nid, 0x8044u);
    EXPECT_EQ(Node(0x8044), orphans[0]);
    EXPECT_EQ(Parent(0x200024), orphans[0]);
    EXPECT_FALSE(store.forest.IsInForest(*orphans[0]));
    EXPECT_FALSE(store.forest.IsInForest(*Node(0x200024)));
}

TEST_F(Forest, TwoRecordsNamingEachOtherDoNotFormALoop) {
    Place(0x8004, 0x8024);
    Place(0x8024, 0x8004);
    const bm::NodeEntry* a = Node(0x8004);
    const bm::NodeEntry* b = Node(0x8024);
    EXPECT_EQ(store.forest.Parent(*b), a);
    EXPECT_EQ(store.forest.Parent(*a), nullptr);
    EXPECT_EQ(bm::OrphanNodes(store).size(), 1u);
    EXPECT_FALSE(store.forest.IsInForest(*b));
}

TEST_F(Forest, AMoveUnderAnotherParentKeepsTheOldChildCount) {
    Place(0x122, 0x122);
    Place(0x8022, 0x122);
    Place(0x8042, 0x122);
    Place(0x200024, 0x8022);
    Place(0x200024, 0x8042);
    EXPECT_EQ(Parent(0x200024), Node(0x8042));
    EXPECT_EQ(store.forest.OldestChild(*Node(0x8022)), nullptr);
    EXPECT_FALSE(Node(0x8022)->hasChildren());
    EXPECT_EQ(store.forest.NewestChild(*Node(0x8022)), nullptr);
    EXPECT_EQ(Node(0x8022)->childCount, 1u);
    EXPECT_EQ(Node(0x8042)->childCount, 1u);
    EXPECT_EQ(store.forest.size(), 4u);
}

TEST_F(Forest, AMoveUnderItsOwnDescendantGoesToTheTopLevel) {
    Place(0x122, 0x122);
    Place(0x8022, 0x122);
    Place(0x8042, 0x8022);
    Place(0x8022, 0x8042);
    EXPECT_EQ(Parent(0x8022), nullptr);
    EXPECT_TRUE(Node(0x8022)->topLevel());
    EXPECT_EQ(Parent(0x8042), Node(0x8022));
}

TEST_F(Forest, BlockReferencesAreResolvedWhenPlaced) {
    const bm::BlockEntry& data = store.blocks.Append({8, 0x400, 10, 1, 10});
    bm::PlaceNodeEntry(store, ctx, 0x21, 9, 12, 0);
    EXPECT_EQ(Node(0x21)->dataBlock(), &data);
    EXPECT_EQ(Node(0x21)->bidData(), 9u) << "bit 0 of the NBT entry's BID is kept";
    EXPECT_EQ(Node(0x21)->subnodeBlock(), nullptr);
    EXPECT_EQ(Node(0x21)->bidSub(), 12u);
    EXPECT_EQ(store.damage.nodesWithoutData, 0u);
    bm::PlaceNodeEntry(store, ctx, 0x61, 16, 0, 0);
    EXPECT_EQ(store.damage.nodesWithoutData, 1u);
}

TEST_F(Forest, RootFolderComesFromTheIpmSubtreeEntryId) {
    Place(0x122, 0x122);
    Place(0x2142, 0x122);
    Place(0x8022, 0x122);
    std::vector<std::uint8_t> entryId(24, 0);
    entryId[20] = 0x22;
    entryId[21] = 0x80;
    EXPECT_EQ(bm::FindRootFolder(store, bm::StoreRecordState::Missing, entryId), nullptr);
    EXPECT_EQ(bm::FindRootFolder(store, bm::StoreRecordState::WithoutIpmSubtree), Node(0x2142));
    EXPECT_EQ(bm::FindRootFolder(store, bm::StoreRecordState::WithIpmSubtree, entryId), Node(0x8022));
    entryId.resize(22);
    EXPECT_EQ(bm::FindRootFolder(store, bm::StoreRecordState::WithIpmSubtree, entryId), Node(0x2142))
        << "an entry ID too short to hold a NID";
}

TEST(ReleaseStore, EmptiesTheTablesAndResetsTheStore) {
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, bmtest::SmallStore(bm::kAnsiLayout).Build().image, "release"), 0);
    ASSERT_FALSE(store.forest.empty());
    bm::ReleaseStore(store);
    EXPECT_TRUE(store.forest.empty());
    EXPECT_TRUE(store.blocks.empty());
    EXPECT_FALSE(store.file.isOpen());
    EXPECT_EQ(store.formatVersion, 0u);
    EXPECT_EQ(store.nbtRootOffset, 0u);
    EXPECT_EQ(store.forest.first(), nullptr);
}

}  // namespace

namespace {

TEST(FlatIndex, KeepsTheFirstIndexPerKeyThroughGrowth) {
    constexpr std::uint32_t kCount = 5000;
    bm::FlatIndex<std::uint64_t> index;
    EXPECT_EQ(index.Find(0), bm::FlatIndex<std::uint64_t>::kNoIndex);
    for (std::uint32_t i = 0; i < kCount; ++i) {
        // Keys 0, 2^32, 2*2^32...: all equal in their low bits.
        EXPECT_TRUE(index.TryEmplace(std::uint64_t{i} << 32, i).second);
    }
    EXPECT_FALSE(index.TryEmplace(std::uint64_t{7} << 32, 0).second);
    EXPECT_EQ(index.size(), kCount);
    for (std::uint32_t i = 0; i < kCount; ++i) EXPECT_EQ(index.Find(std::uint64_t{i} << 32), i);
    EXPECT_EQ(index.Find(1), bm::FlatIndex<std::uint64_t>::kNoIndex);
    EXPECT_EQ(bm::FlatIndex<std::uint64_t>::slotSize(), 12u) << "key and index packed";
    EXPECT_EQ(bm::FlatIndex<std::uint32_t>::slotSize(), 8u);
}

}  // namespace
