// The 4 KiB-page layout: deflated blocks, damaged deflate data, and pages
// whose footer misstates its entries.
#include <gtest/gtest.h>

#include "store_test_helpers.h"

namespace {

using bm::kUnicode4kLayout;
using bmtest::Bytes;
using bmtest::StoreImage;

Bytes Heap(std::size_t size) {
    Bytes heap = bmtest::MinimalHeap(size);
    for (std::size_t i = 4; i < heap.size(); ++i) heap[i] = static_cast<std::uint8_t>(i % 7);
    return heap;
}

// Node 0x21 on a deflated heap, node 0x61 on a plain block, no encoding.
struct Store4k {
    StoreImage image{kUnicode4kLayout};
    bmtest::BbtLeafEntry heap;
    bmtest::BbtLeafEntry plain;
    std::uint64_t nbt = 0;

    explicit Store4k(StoreImage::Deflate form = StoreImage::Deflate::ZlibStream) {
        heap = image.AddCompressedBlock(4, Heap(3000), form);
        plain = image.AddDataBlock(8, Heap(100), 0);
        const std::uint64_t bbt = image.Reserve(4096, 4096);
        image.WriteBbtLeafPage(bbt, {heap, plain});
        nbt = image.Reserve(4096, 4096);
        image.WriteNbtLeafPage(nbt, {{0x21, 4, 0, 0}, {0x61, 8, 0, 0}});
        image.Reserve(kUnicode4kLayout.page.nbtReadLength, 4096);
        image.WriteHeader(nbt, bbt, 0);
    }
};

TEST(Layout4k, DeflatedBlocksAreInflatedWhetherZlibStreamOrRaw) {
    for (auto form : {StoreImage::Deflate::ZlibStream, StoreImage::Deflate::Raw}) {
        Store4k s(form);
        ASSERT_LT(s.heap.cb, 3000u);
        bm::StoreFile store;
        ASSERT_EQ(bmtest::OpenAndBuild(store, s.image, "deflated"), 0);
        EXPECT_EQ(store.cryptMethod, 0u) << "the heap shows its signature only unencoded";
        const bm::BlockEntry* entry = bm::FindBlock(store, 4);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->inflatedSize(), 3000u);
        Bytes data;
        EXPECT_EQ(bm::ReadNodeData(store, *entry, {&data, {}}), 3000u);
        EXPECT_EQ(data, Heap(3000));
        EXPECT_EQ(store.damage.Total(), 0u);
    }
}

TEST(Layout4k, ABlockThatFailsToInflateIsUnreadableAndTheRestGoesOn) {
    Store4k s;
    for (std::size_t i = 10; i < 30; ++i) s.image.bytes()[s.heap.offset + i] ^= 0x5A;
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, s.image, "bad-deflate"), 0);
    Bytes data;
    EXPECT_EQ(bm::ReadNodeData(store, *bm::FindBlock(store, 4), {&data, {}}), 0u);
    EXPECT_TRUE(data.empty());
    EXPECT_GE(store.damage.blocksUnreadable, 1u);
    EXPECT_EQ(bm::ReadNodeData(store, *bm::FindBlock(store, 8), {&data, {}}), 100u);
    EXPECT_EQ(data, Heap(100));
}

TEST(Layout4k, APageFooterMisstatingItsEntriesDoesNotCutThePage) {
    Store4k s;
    std::vector<bmtest::NbtLeafEntry> nodes{{0x21, 4, 0, 0}};
    for (std::uint32_t i = 1; i < 5; ++i) nodes.push_back({0x21 + 0x20 * i, 8, 0, 0});
    bmtest::PageOptions wrong;
    wrong.entryCount = 1;
    s.image.WriteNbtLeafPage(s.nbt, nodes, wrong);
    s.image.Put(s.nbt + kUnicode4kLayout.page.footerCapacityAt, 2, 2);  // capacity 2
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, s.image, "footer-count"), 0);
    EXPECT_EQ(store.forest.size(), 5u);
    EXPECT_EQ(store.walkStats.nbtEntriesPastCount, 4u);

    s.image.Put(s.nbt + kUnicode4kLayout.page.footerEntrySizeAt, 0, 1);  // no entry size either
    bm::StoreFile again;
    ASSERT_EQ(bmtest::OpenAndBuild(again, s.image, "footer-size"), 0);
    EXPECT_EQ(again.forest.size(), 5u);
}

TEST(Layout4k, TheLeafLimitIsThePagesCapacity) {
    // 130 ascending NIDs: a 4 KiB NBT page holds 126 entries of 32 bytes.
    Store4k s;
    std::vector<bmtest::NbtLeafEntry> nodes;
    for (std::uint32_t i = 0; i < 126; ++i) nodes.push_back({0x21 + 0x20 * i, 8, 0, 0});
    s.image.WriteNbtLeafPage(s.nbt, nodes);
    for (std::uint32_t i = 126; i < 130; ++i) s.image.Put(s.nbt + 32 * i, 0x21 + 0x20 * i, 8);
    bm::StoreFile store;
    ASSERT_EQ(bmtest::OpenAndBuild(store, s.image, "capacity"), 0);
    EXPECT_EQ(store.forest.size(), 126u);
}

}  // namespace
