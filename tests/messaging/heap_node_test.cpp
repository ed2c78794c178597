// Heap-on-node: allocation lookup, heap signatures, pages, BTH walks.
#include <gtest/gtest.h>

#include "messaging/heap_node.h"
#include "messaging/property_context.h"
#include "support/heap_image.h"

namespace bm {
namespace {

using bmtest::Hid;

// A page with the map at 16: cAlloc 2, cFree 0, offsets 8, 12, 14.
Bytes SmallPage() {
    Bytes page(16, 0);
    bmtest::PutU16(page, 0, 16);
    page[2] = 0xEC;
    page[3] = 0xBC;
    for (std::uint16_t v : {2, 0, 8, 12, 14}) bmtest::AppendU16(page, v);
    return page;
}

TEST(HeapLookup, FirstAllocationIsBetweenTheFirstTwoOffsets) {
    const Bytes page = SmallPage();
    const auto range = LookupHeapAllocation(page, 16, 0x20);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->start, 8);
    EXPECT_EQ(range->end, 12);
    EXPECT_EQ(range->size(), 4u);
    const auto second = LookupHeapAllocation(page, 16, 0x40);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->start, 12);
    EXPECT_EQ(second->end, 14);
}

TEST(HeapLookup, HidZeroAndIndexZeroFail) {
    const Bytes page = SmallPage();
    EXPECT_FALSE(LookupHeapAllocation(page, 16, 0));
    EXPECT_FALSE(LookupHeapAllocation(page, 16, 0x10000));  // page 1, index 0
}

TEST(HeapLookup, EndBelowStartHasSizeZero) {
    Bytes page = SmallPage();
    bmtest::PutU16(page, 22, 6);  // allocation 1 ends before it starts
    const auto range = LookupHeapAllocation(page, 16, 0x20);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->size(), 0u);
}

TEST(HeapLookup, EntryPastThePageMapOrRangeOutsideThePageFails) {
    Bytes page = SmallPage();
    EXPECT_FALSE(LookupHeapAllocation(page, 16, Hid(4)));  // the entry lies past the page
    bmtest::PutU16(page, 22, 400);
    EXPECT_FALSE(LookupHeapAllocation(page, 16, 0x20));   // end outside
    EXPECT_FALSE(LookupHeapAllocation(page, 60000, 0x20));  // map outside
}

TEST(HeapOpen, SignatureSelectsTheClient) {
    bmtest::HeapImage pc(0xBC);
    bmtest::HeapImage tc(0x7C);
    const auto pcHeap = HeapNode::Open(pc.Build());
    const auto tcHeap = HeapNode::Open(tc.Build());
    ASSERT_TRUE(pcHeap);
    ASSERT_TRUE(tcHeap);
    EXPECT_EQ(pcHeap->clientSignature(), kPropertyContextSig);
    EXPECT_EQ(tcHeap->clientSignature(), kTableContextSig);
}

TEST(HeapOpen, OtherClientOrNoHeapGivesNoObject) {
    bmtest::HeapImage other(0xB5);
    const auto heap = HeapNode::Open(other.Build());
    ASSERT_TRUE(heap);
    EXPECT_FALSE(ReadPropertyObject(*heap, PropertyReadContext{}));
    auto pages = bmtest::HeapImage(0xBC).Build();
    pages[0][2] = 0x01;  // an XBLOCK or anything that is not a heap
    EXPECT_FALSE(HeapNode::Open(pages));
    EXPECT_FALSE(HeapNode::Open({Bytes{0x10, 0x00, 0xEC}}));
    EXPECT_FALSE(HeapNode::Open({}));
}

TEST(HeapPages, HidWithAPageIndexResolvesInThatPage) {
    bmtest::HeapImage image(0xBC);
    image.Add({1, 2, 3});
    const std::uint32_t far = image.Add({7, 8, 9, 10}, 9);  // page 9: after the bitmap page 8
    const auto heap = HeapNode::Open(image.Build());
    ASSERT_TRUE(heap);
    EXPECT_EQ(heap->pageCount(), 10u);
    const auto alloc = heap->Allocation(far);
    ASSERT_TRUE(alloc);
    EXPECT_EQ(Bytes(alloc->begin(), alloc->end()), (Bytes{7, 8, 9, 10}));
    EXPECT_FALSE(heap->Allocation(Hid(1, 10)));  // no such page
    EXPECT_FALSE(heap->Allocation(far | 0x1F));  // a NID is no HID
}

TEST(HeapPages, FourKilobyteLayoutSplitsTheHidDifferently) {
    // Allocation 3 on page 1: index in bits 5-18, page from bit 19.
    const std::uint32_t hid = (3u << 5) | (1u << 19);
    EXPECT_EQ(HidIndex(hid, kHidLayout4k), 3u);
    EXPECT_EQ(HidBlock(hid, kHidLayout4k), 1u);
    EXPECT_EQ(HidBlock(hid, kHidLayout), 8u);
    EXPECT_EQ(HidIndex(Hid(1500), kHidLayout4k), 1500u);
}

std::vector<Bytes> Records(int n) {
    std::vector<Bytes> out;
    for (int i = 0; i < n; ++i) {
        Bytes r;
        bmtest::AppendU16(r, static_cast<std::uint16_t>(0x100 + i));
        bmtest::AppendU16(r, 3);
        bmtest::AppendU32(r, static_cast<std::uint32_t>(i));
        out.push_back(r);
    }
    return out;
}

TEST(HeapBth, IndexLevelsAreFollowedToTheLeavesInOrder) {
    bmtest::HeapImage image(0xBC);
    const std::uint32_t hid = bmtest::AddBth(image, 2, 6, Records(6), 1);
    const auto heap = HeapNode::Open(image.Build());
    ASSERT_TRUE(heap);
    const auto header = ReadBthHeader(*heap, hid);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->indexLevels, 1);
    const auto records = ReadBthRecords(*heap, *header, 8);
    ASSERT_EQ(records.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(records[i][0], 0x00 + i);
}

TEST(HeapBth, IndexThatPointsAtItselfEnds) {
    bmtest::HeapImage image(0xBC);
    Bytes index;
    bmtest::AppendU16(index, 1);
    bmtest::AppendU32(index, Hid(1));  // allocation 1 is this index record
    image.Add(index);
    Bytes header{0xB5, 2, 6, 3};
    bmtest::AppendU32(header, Hid(1));
    const std::uint32_t h = image.Add(header);
    const auto heap = HeapNode::Open(image.Build());
    const auto bth = ReadBthHeader(*heap, h);
    ASSERT_TRUE(bth);
    EXPECT_TRUE(ReadBthRecords(*heap, *bth, 8).empty());
}

TEST(HeapBth, ALeafNamedTwiceIsReadOnceAndIndexOrderIsKept) {
    bmtest::HeapImage image(0xBC);
    const auto leaf = [&](std::initializer_list<std::uint8_t> firsts) {
        Bytes bytes;
        for (const std::uint8_t f : firsts) {
            Bytes r(8, 0);
            r[0] = f;
            bytes.insert(bytes.end(), r.begin(), r.end());
        }
        return image.Add(bytes);
    };
    const std::uint32_t low = leaf({0x10, 0x11});  // the lower HID, named second
    const std::uint32_t high = leaf({0x20});
    Bytes index;
    for (const std::uint32_t child : {high, low, high}) {
        bmtest::AppendU16(index, 0);
        bmtest::AppendU32(index, child);
    }
    const std::uint32_t root = image.Add(index);
    Bytes header{0xB5, 2, 6, 1};
    bmtest::AppendU32(header, root);
    const std::uint32_t h = image.Add(header);
    const auto heap = HeapNode::Open(image.Build());
    ASSERT_TRUE(heap);
    const auto bth = ReadBthHeader(*heap, h);
    ASSERT_TRUE(bth);
    const auto records = ReadBthRecords(*heap, *bth, 8);
    std::vector<std::uint8_t> firsts;
    for (const auto r : records) firsts.push_back(r[0]);
    EXPECT_EQ(firsts, (std::vector<std::uint8_t>{0x20, 0x10, 0x11}));
}

TEST(HeapBth, ImplausibleLevelCountReadsTheRootAsLeaves) {
    bmtest::HeapImage image(0xBC);
    const std::uint32_t hid = bmtest::AddBth(image, 2, 6, Records(3), 0);
    auto pages = image.Build();
    // Patch bIdxLevels in the header allocation of the built page.
    const auto range = LookupHeapAllocation(pages[0], static_cast<std::uint16_t>(pages[0][0] | (pages[0][1] << 8)), hid);
    ASSERT_TRUE(range);
    pages[0][range->start + 3] = 200;
    const auto heap = HeapNode::Open(pages);
    const auto header = ReadBthHeader(*heap, hid);
    ASSERT_TRUE(header);
    EXPECT_EQ(ReadBthRecords(*heap, *header, 8).size(), 3u);
}

TEST(HeapBth, RootZeroHasNoRecords) {
    bmtest::HeapImage image(0xBC);
    const std::uint32_t hid = bmtest::AddBth(image, 2, 6, {});
    const auto heap = HeapNode::Open(image.Build());
    const auto header = ReadBthHeader(*heap, hid);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->root, 0u);
    EXPECT_TRUE(ReadBthRecords(*heap, *header, 8).empty());
}

}  // namespace
}  // namespace bm
