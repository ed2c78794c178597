// The compact records of the reader's tables: block entries whose values do
// not fit the 16-byte record read back whole, relocation between the two
// forms, node records keeping their BIDs exactly, made-up records outside the
// forest, and tables refusing to grow past what their indices number.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "store_test_helpers.h"

namespace {

void ExpectSame(const bm::BlockInfo& got, const bm::BlockInfo& want, const char* what) {
    EXPECT_EQ(got.bid, want.bid) << what;
    EXPECT_EQ(got.offset, want.offset) << what;
    EXPECT_EQ(got.size, want.size) << what;
    EXPECT_EQ(got.refCount, want.refCount) << what;
    EXPECT_EQ(got.inflatedSize, want.inflatedSize) << what;
    EXPECT_EQ(got.pastPageCount, want.pastPageCount) << what;
}

struct Case {
    const char* what;
    bm::BlockInfo info;
    bool wide;
};

// Rising BIDs, so the table stays in BID order and its lookups run through
// the sorted sample; every value at or past an edge of the packed form.
std::vector<Case> EdgeCases() {
    constexpr std::uint64_t k47 = std::uint64_t{1} << 47;
    return {
        {"all values at the top of the packed form", {0x10, k47 - 1, 0xFFFF, -1, 0xFFFF, true}, false},
        {"lowest packed cRef", {0x14, 0x4400, 8, std::numeric_limits<std::int16_t>::min(), 8, false}, false},
        {"offset of 2^47", {0x18, k47, 8, 1, 8, false}, true},
        {"offset past 2^48", {0x1C, (std::uint64_t{1} << 48) + 0x40, 8, 1, 8, true}, true},
        {"offset at the top of 64 bits", {0x20, ~std::uint64_t{0}, 8, 1, 8, false}, true},
        {"cb of 2^16", {0x24, 0x4400, 0x10000, 2, 0x10000, false}, true},
        {"huge cb", {0x28, 0x4400, 0xFFFFFFFFu, 2, 0xFFFFFFFFu, false}, true},
        {"inflated size past 16 bits", {0x2C, 0x4400, 100, 1, 0x12345, false}, true},
        {"cRef below 16 bits", {0x30, 0x4400, 8, std::numeric_limits<std::int16_t>::min() - 1, 8, false}, true},
        {"most negative cRef", {0x34, 0x4400, 8, std::numeric_limits<std::int32_t>::min(), 8, true}, true},
        {"cRef above 16 bits", {0x38, 0x4400, 8, std::numeric_limits<std::int16_t>::max() + 1, 8, false}, true},
        {"BID with bit 0 set", {0x3D, 0x4400, 8, 1, 8, false}, true},
        {"BID at the top of 32 bits", {0xFFFFFFFCu, 0x4400, 8, 1, 8, false}, false},
        {"BID past 32 bits", {0x100000000ull, 0x123456789ull, 8, 1, 8, true}, true},
        {"BID at the top of 64 bits", {~std::uint64_t{1}, 0x4400, 8, 1, 8, false}, true},
    };
}

TEST(CompactBlockTable, EveryValueReadsBackAsAppendedInBothForms) {
    const std::vector<Case> cases = EdgeCases();
    for (const bool inOrder : {true, false}) {
        bm::BlockTable table;
        // A first entry above all the others sends the table to its hash
        // lookup at once.
        if (!inOrder) table.Append({~std::uint64_t{0} - 3, 0x100, 8, 1, 8, false});
        std::vector<const bm::BlockEntry*> appended;
        std::size_t wide = inOrder ? 0 : 1;  // that first BID is past 32 bits
        for (const Case& c : cases) {
            appended.push_back(&table.Append(c.info));
            EXPECT_EQ(appended.back()->Wide(), c.wide) << c.what;
            if (c.wide) ++wide;
        }
        EXPECT_EQ(table.wideCount(), wide);
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const Case& c = cases[i];
            const bm::BlockEntry& e = *appended[i];
            ExpectSame(e.info(), c.info, c.what);
            EXPECT_EQ(e.bid(), c.info.bid) << c.what;
            EXPECT_EQ(e.offset(), c.info.offset) << c.what;
            EXPECT_EQ(e.size(), c.info.size) << c.what;
            EXPECT_EQ(e.refCount(), c.info.refCount) << c.what;
            EXPECT_EQ(e.inflatedSize(), c.info.inflatedSize) << c.what;
            EXPECT_EQ(e.pastPageCount(), c.info.pastPageCount) << c.what;
            if ((c.info.bid & 1) == 0) {
                EXPECT_EQ(table.Find(c.info.bid), &e) << c.what;
                EXPECT_EQ(table.Find(c.info.bid | 1), &e) << c.what << ": bit 0 is ignored";
            } else {
                EXPECT_EQ(table.Find(c.info.bid), nullptr) << c.what << ": a lookup clears bit 0, as before";
            }
        }
        EXPECT_EQ(table.Find(0x12), nullptr) << "between two BIDs";
    }
}

TEST(CompactBlockTable, AStaleWideCopyGivesWayToALiveEntry) {
    bm::BlockTable table;
    table.Append({8, 0x400, 10, 1, 10});
    const bm::BlockEntry& stale = table.Append({0x100000000ull, std::uint64_t{1} << 50, 10, 1, 10, true});
    EXPECT_EQ(table.Find(0x100000000ull), &stale);
    const bm::BlockEntry& live = table.Append({0x100000000ull, 0x800, 10, 1, 10, false});
    table.Append({0x100000000ull, 0x900, 10, 1, 10, false});
    EXPECT_EQ(table.Find(0x100000000ull), &live);
    EXPECT_EQ(table.Find(0x100000001ull), &live);
    EXPECT_EQ(live.offset(), 0x800u);
}

TEST(CompactBlockTable, RelocationMovesBetweenFormsAndNodeRecordsFollow) {
    bm::StoreFile store;
    const bm::BlockEntry& packed = store.blocks.Append({8, 0x400, 10, -2, 10, true});
    const bm::BlockEntry& wide = store.blocks.Append({12, std::uint64_t{1} << 60, 0x20000, 70000, 0x30000, false});
    bm::LeafPageContext ctx;
    bm::PlaceNodeEntry(store, ctx, 0x21, 8, 12, 0);
    const bm::NodeEntry* node = bm::FindNode(store, 0x21);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->dataBlock(), &packed);
    ASSERT_EQ(node->subnodeBlock(), &wide);
    EXPECT_EQ(store.blocks.wideCount(), 1u);

    // A packed entry moved to values past the packed form: same record,
    // now wide; the values the move does not set are kept.
    const std::uint64_t far = (std::uint64_t{1} << 48) + 0x1240;
    ASSERT_TRUE(store.blocks.Relocate(9, far, 0x12345, 0x23456));
    EXPECT_EQ(node->dataBlock(), &packed);
    ExpectSame(node->dataBlock()->info(), {8, far, 0x12345, -2, 0x23456, true}, "packed moved far");
    EXPECT_TRUE(packed.Wide());
    EXPECT_EQ(store.blocks.wideCount(), 2u);

    // A wide entry moved again, to values that would fit: its values change
    // in place, nothing new is kept aside.
    ASSERT_TRUE(store.blocks.Relocate(12, 0x8000, 100, 100));
    ExpectSame(node->subnodeBlock()->info(), {12, 0x8000, 100, 70000, 100, false}, "wide moved near");
    EXPECT_EQ(store.blocks.wideCount(), 2u);
    EXPECT_EQ(node->bidData(), 8u);
    EXPECT_EQ(node->bidSub(), 12u);

    // A packed entry moved within the packed form stays packed.
    const bm::BlockEntry& other = store.blocks.Append({16, 0x500, 8, 1, 8});
    ASSERT_TRUE(store.blocks.Relocate(16, 0x600, 9, 9));
    EXPECT_FALSE(other.Wide());
    ExpectSame(other.info(), {16, 0x600, 9, 1, 9, false}, "packed moved near");
    EXPECT_FALSE(store.blocks.Relocate(20, 0x600, 9, 9)) << "no entry for that BID";

    store.blocks.Clear();
    EXPECT_EQ(store.blocks.wideCount(), 0u);
}

TEST(CompactNodeRecords, BidsAreKeptExactlyWithOrWithoutTheirBlock) {
    bm::StoreFile store;
    const bm::BlockEntry& data = store.blocks.Append({0x100000000ull, 0x400, 10, 1, 10});
    const bm::BlockEntry& sub = store.blocks.Append({0x100000004ull, 0x500, 10, 1, 10});
    bm::LeafPageContext ctx;
    // Bit 0 set on the entry's BIDs, the blocks found with it cleared.
    bm::PlaceNodeEntry(store, ctx, 0x21, 0x100000001ull, 0x100000005ull, 0);
    // No block for either BID: the BIDs themselves are kept.
    bm::PlaceNodeEntry(store, ctx, 0x61, 0xFFFFFFFFFFFFFFF0ull, 0x8000000000000001ull, 0);
    const bm::NodeEntry* found = bm::FindNode(store, 0x21);
    const bm::NodeEntry* missing = bm::FindNode(store, 0x61);
    ASSERT_NE(found, nullptr);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(found->dataBlock(), &data);
    EXPECT_EQ(found->subnodeBlock(), &sub);
    EXPECT_EQ(found->bidData(), 0x100000001ull);
    EXPECT_EQ(found->bidSub(), 0x100000005ull);
    EXPECT_EQ(missing->dataBlock(), nullptr);
    EXPECT_EQ(missing->subnodeBlock(), nullptr);
    EXPECT_EQ(missing->bidData(), 0xFFFFFFFFFFFFFFF0ull);
    EXPECT_EQ(missing->bidSub(), 0x8000000000000001ull);
    EXPECT_EQ(store.damage.nodesWithoutData, 1u);

    // Placed again with other BIDs: the record changes with them.
    bm::PlaceNodeEntry(store, ctx, 0x21, 0x77, 0, 0);
    EXPECT_EQ(found->dataBlock(), nullptr);
    EXPECT_EQ(found->bidData(), 0x77u);
    EXPECT_EQ(found->subnodeBlock(), nullptr);
    EXPECT_EQ(found->bidSub(), 0u);

    // A block entry whose BID is not the one named is refused.
    bm::NodeEntry record;
    EXPECT_THROW(record.SetData(0x200000000ull, &data), std::invalid_argument);
    EXPECT_THROW(record.SetSubnodes(0x100000008ull, &sub), std::invalid_argument);
}

TEST(CompactNodeRecords, AMadeUpRecordHasNoForestLinks) {
    bm::StoreFile store;
    bm::LeafPageContext ctx;
    bm::PlaceNodeEntry(store, ctx, 0x122, 0, 0, 0x122);
    bm::PlaceNodeEntry(store, ctx, 0x8022, 0, 0, 0x122);
    bm::NodeEntry madeUp;
    madeUp.nid = 0x7FFFFFE2;
    madeUp.nidParent = 0x122;
    EXPECT_FALSE(madeUp.hasChildren());
    madeUp.SetHoldsItems(true);
    EXPECT_TRUE(madeUp.hasChildren());
    EXPECT_EQ(store.forest.OldestChild(madeUp), nullptr) << "its items are listed elsewhere";
    EXPECT_EQ(store.forest.Parent(madeUp), nullptr);
    EXPECT_EQ(store.forest.ParentNid(madeUp), 0x122u) << "the NID it names";
    EXPECT_EQ(store.forest.ParentNid(*bm::FindNode(store, 0x8022)), 0x122u);
    madeUp.SetHoldsItems(false);
    EXPECT_FALSE(madeUp.hasChildren());
}

TEST(CompactTableLimits, AFullBlockTableRefusesMoreAndKeepsWhatItHolds) {
    bm::BlockTable table(3);
    table.Append({4, 0x400, 8, 1, 8});
    table.Append({8, 0x500, 8, 1, 8});
    const bm::BlockEntry& last = table.Append({12, 0x600, 8, 1, 8});
    EXPECT_THROW(table.Append({16, 0x700, 8, 1, 8}), std::length_error);
    EXPECT_THROW(table.Append({2, 0x700, 8, 1, 8}), std::length_error) << "out of order too";
    EXPECT_EQ(table.size(), 3u);
    EXPECT_EQ(table.Find(12), &last);
    EXPECT_EQ(table.Find(16), nullptr);
    EXPECT_EQ(table.Find(2), nullptr);
}

TEST(CompactTableLimits, AFullForestRefusesANewNidButStillUpdatesItsOwn) {
    bm::NodeForest forest(2);
    bm::LeafPageContext ctx;
    forest.Place(ctx, 0x122, 0, 0, 0x122, nullptr, nullptr);
    forest.Place(ctx, 0x8022, 0, 0, 0x9999, nullptr, nullptr);
    EXPECT_EQ(forest.Orphans().size(), 1u);
    EXPECT_THROW(forest.Place(ctx, 0x8042, 0, 0, 0x122, nullptr, nullptr), std::length_error);
    EXPECT_EQ(forest.size(), 2u);
    EXPECT_EQ(forest.Find(0x8042), nullptr);
    EXPECT_EQ(ctx.placed, 2u) << "the refused entry is not counted as placed";
    // A NID it holds placed again, under the other record: adopted.
    forest.Place(ctx, 0x8022, 0, 0, 0x122, nullptr, nullptr);
    EXPECT_TRUE(forest.Orphans().empty());
    EXPECT_EQ(forest.Parent(*forest.Find(0x8022)), forest.Find(0x122));
}

}  // namespace
