// The deep scan: blocks and index pages found by their trailers in every
// layout, the layout and encoding found from the data, and the scan's finds
// merged into the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "store/store_scan.h"
#include "store/table_rebuild.h"
#include "store_test_helpers.h"
#include "support/child_process.h"

namespace {

using bmtest::Bytes;

const bm::StoreLayout* const kLayouts[] = {&bm::kAnsiLayout, &bm::kUnicodeLayout, &bm::kUnicode4kLayout};

// A store with many nodes on several leaf pages under inner pages.
bmtest::BuiltStore ManyNodes(const bm::StoreLayout& layout, std::uint8_t crypt = 1) {
    bmtest::StoreBuilder b = bmtest::SmallStore(layout);
    b.SetCryptMethod(crypt);
    b.SetEntriesPerPage(4, 4);
    for (std::uint32_t i = 0; i < 20; ++i) {
        b.AddDataBlock(100 + 4 * i, bmtest::MinimalHeap(40 + i));
        b.AddNode(0x200004 + 32 * i, 100 + 4 * i, 0, 0x8022);
    }
    return b.Build();
}

struct Opened {
    bm::StoreFile store;
    bm::StoreReader reader;
};

void Open(Opened& o, const bmtest::StoreImage& image, const std::string& name) {
    ASSERT_TRUE(bmtest::OpenImage(o.store, image, name));
}

TEST(StoreScan, FiltersKeepOnlyTheFindsTheyAcceptAndEveryBlockIsStillCounted) {
    const bmtest::BuiltStore built = ManyNodes(bm::kUnicodeLayout);
    Opened o;
    Open(o, built.image, "scan-filter");
    const bm::StoreScan all = bm::ScanStoreFile(o.store.file, bm::kUnicodeLayout);
    std::vector<std::uint64_t> asked;
    bm::ScanFilters filters;
    filters.keepLeafBlock = [&](std::uint64_t bid) {
        asked.push_back(bid);
        return bid >= 108 && bid < 120;
    };
    filters.keepBlock = [](const bm::ScannedBlock& b) { return b.bid == 104; };
    filters.keepPage = [](const bm::ScannedPage& p) { return p.type == bm::kNodeTreePageType; };
    filters.keepLeafNode = [](const bm::ScannedNode& n) { return n.nid != 0x200004; };
    filters.keepStaleLeafNode = [](const bm::ScannedNode&) { return false; };
    const bm::StoreScan some = bm::ScanStoreFile(o.store.file, bm::kUnicodeLayout, nullptr, {}, 0, filters);
    EXPECT_EQ(asked.size(), all.leafBlocks.size()) << "asked once per leaf entry";
    std::vector<std::uint64_t> kept;
    for (const bm::BlockInfo& e : some.leafBlocks) kept.push_back(e.bid);
    std::sort(kept.begin(), kept.end());  // in the order of the pages in the file
    EXPECT_EQ(kept, (std::vector<std::uint64_t>{108, 112, 116}));
    ASSERT_EQ(some.blocks.size(), 1u);
    EXPECT_EQ(some.blocks.front().bid, 104u);
    EXPECT_EQ(some.blocksFound, all.blocks.size()) << "every block found is counted";
    EXPECT_EQ(all.blocksFound, all.blocks.size());
    EXPECT_FALSE(some.cryptSample.empty());
    EXPECT_EQ(bm::DetectCryptMethod(o.store.file, some), bm::DetectCryptMethod(o.store.file, all))
        << "the encoding is told from the same sample";
    EXPECT_EQ(some.leafNodes.size() + 1, all.leafNodes.size()) << "leaf pages are taken apart, kept or not";
    EXPECT_TRUE(std::none_of(some.leafNodes.begin(), some.leafNodes.end(),
                             [](const bm::ScannedNode& n) { return n.nid == 0x200004; }));
    EXPECT_TRUE(some.staleLeafNodes.empty());
    EXPECT_EQ(some.pagesFound, all.pages.size());
    EXPECT_EQ(all.pagesFound, all.pages.size());
    EXPECT_EQ(some.pages.size(), static_cast<std::size_t>(std::count_if(all.pages.begin(), all.pages.end(), [](const bm::ScannedPage& p) {
                                     return p.type == bm::kNodeTreePageType;
                                 })));
    EXPECT_LT(some.pages.size(), all.pages.size());
}

TEST(StoreScan, EveryBlockAndLeafPageIsFoundByItsTrailerInEveryLayout) {
    for (const bm::StoreLayout* layout : kLayouts) {
        SCOPED_TRACE(layout->name);
        const bmtest::BuiltStore built = ManyNodes(*layout);
        Opened o;
        Open(o, built.image, "scan-all-" + bmtest::LayoutTestName(*layout));
        const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *layout);
        for (const bmtest::BbtLeafEntry& e : built.blocks) {
            const bool found = std::any_of(scan.blocks.begin(), scan.blocks.end(), [&](const bm::ScannedBlock& s) {
                return s.bid == e.bid && s.offset == e.offset && s.size == e.cb;
            });
            EXPECT_TRUE(found) << "block " << e.bid;
        }
        const auto leaves = [&](std::uint8_t type) {
            return std::count_if(scan.pages.begin(), scan.pages.end(),
                                 [&](const bm::ScannedPage& p) { return p.type == type && p.level == 0; });
        };
        EXPECT_EQ(leaves(bm::kBlockTreePageType), static_cast<long>(built.bbtLeafPages.size()));
        EXPECT_EQ(leaves(bm::kNodeTreePageType), static_cast<long>(built.nbtLeafPages.size()));
        EXPECT_EQ(scan.leafNodes.size(), 23u);
        EXPECT_EQ(scan.leafBlocks.size(), built.blocks.size());
        EXPECT_EQ(scan.bytesScanned, o.store.file.size());
    }
}

TEST(StoreScan, ABlockWithOneChangedByteIsNotTakenAndItsNeighboursAre) {
    bmtest::BuiltStore built = ManyNodes(bm::kUnicodeLayout);
    const bmtest::BbtLeafEntry victim = built.blocks[5];
    built.image.Put(victim.offset + 3, 0x5A, 1);
    Opened o;
    Open(o, built.image, "scan-crc");
    const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, bm::kUnicodeLayout);
    EXPECT_EQ(scan.blocks.size(), built.blocks.size() - 1);
    EXPECT_TRUE(std::none_of(scan.blocks.begin(), scan.blocks.end(),
                             [&](const bm::ScannedBlock& s) { return s.bid == victim.bid; }));
}

TEST(StoreScan, TheLayoutAndEncodingAreFoundFromTheDataWhenTheHeaderNamesNone) {
    for (const bm::StoreLayout* layout : kLayouts) {
        for (std::uint8_t crypt : {0, 1, 2}) {
            SCOPED_TRACE(std::string(layout->name) + " method " + std::to_string(crypt));
            bmtest::BuiltStore built = ManyNodes(*layout, crypt);
            built.image.Zero(0, 600);  // the whole header, wVer included
            Opened o;
            Open(o, built.image, "scan-detect-" + bmtest::LayoutTestName(*layout) + std::to_string(crypt));
            EXPECT_EQ(o.store.layout, nullptr);
            EXPECT_EQ(bm::DetectLayout(o.store.file), layout);
            const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *layout);
            EXPECT_EQ(bm::DetectCryptMethod(o.store.file, scan), crypt);
        }
    }
}

TEST(StoreScan, AStopRequestEndsTheScanBeforeItReads) {
    const bmtest::BuiltStore built = ManyNodes(bm::kUnicodeLayout);
    Opened o;
    Open(o, built.image, "scan-stop");
    o.reader.stopAnalysis.store(true);
    const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, bm::kUnicodeLayout, &o.reader);
    EXPECT_TRUE(scan.stopped);
    EXPECT_TRUE(scan.blocks.empty());
}

TEST(StoreScan, ALeafPageTheIndexNoLongerReachesGivesBackItsNodesOnlyWhenGapsAreFilled) {
    for (const bool fill : {false, true}) {
        bmtest::BuiltStore built = ManyNodes(bm::kUnicodeLayout);
        // A message the index lost: its heap and a leaf page nobody links.
        const bmtest::BbtLeafEntry heap = built.image.AddDataBlock(900, bmtest::MinimalHeap(64));
        const std::uint64_t stale = built.image.Reserve(512, 512);
        built.image.WriteNbtLeafPage(stale, {{0x300004, 900, 0, 0x8022}});
        Opened o;
        Open(o, built.image, fill ? "scan-fill" : "scan-nofill");
        ASSERT_EQ(bm::BuildIndexes(o.store, o.reader), 0);
        EXPECT_EQ(bm::FindBlock(o.store, 900), nullptr);
        const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *o.store.layout);
        const bm::RebuildCounts counts = bm::MergeScanIntoTables(o.store, scan, fill);
        EXPECT_EQ(counts.blocksFromTrailers, 1u);
        ASSERT_NE(bm::FindBlock(o.store, 900), nullptr);
        EXPECT_EQ(bm::FindBlock(o.store, 900)->offset(), heap.offset);
        const bm::NodeEntry* node = bm::FindNode(o.store, 0x300004);
        if (!fill) {
            EXPECT_EQ(node, nullptr);
            continue;
        }
        ASSERT_NE(node, nullptr);
        ASSERT_NE(o.store.forest.Parent(*node), nullptr);
        EXPECT_EQ(o.store.forest.Parent(*node)->nid, 0x8022u);
        EXPECT_EQ(counts.nodesAdded, 1u);
    }
}

TEST(StoreScan, OfSeveralVersionsOfANodeTheNewestWhoseDataReadsAsAHeapWins) {
    bmtest::BuiltStore built = ManyNodes(bm::kUnicodeLayout);
    built.image.AddDataBlock(900, bmtest::MinimalHeap(64));
    Bytes notAHeap(64, 0x11);
    built.image.AddDataBlock(1000, notAHeap);
    built.image.AddDataBlock(800, bmtest::MinimalHeap(64));
    // Versions: 800 (heap), 900 (heap, newest heap), 1000 (no heap),
    // 1100 (block missing).
    for (const std::uint64_t bid : {800u, 900u, 1000u, 1100u}) {
        const std::uint64_t page = built.image.Reserve(512, 512);
        built.image.WriteNbtLeafPage(page, {{0x300004, bid, 0, 0x8022}});
    }
    Opened o;
    Open(o, built.image, "scan-versions");
    ASSERT_EQ(bm::BuildIndexes(o.store, o.reader), 0);
    const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *o.store.layout);
    bm::MergeScanIntoTables(o.store, scan, true);
    const bm::NodeEntry* node = bm::FindNode(o.store, 0x300004);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->bidData(), 900u);
}

TEST(StoreScan, NodesTheWalkReadAreKeptWhenTheScanAgreesWithThem) {
    const bmtest::BuiltStore built = ManyNodes(bm::kAnsiLayout);
    Opened o;
    Open(o, built.image, "scan-keep");
    ASSERT_EQ(bm::BuildIndexes(o.store, o.reader), 0);
    const std::size_t blocks = o.store.blocks.size();
    const std::size_t nodes = o.store.forest.size();
    const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *o.store.layout);
    const bm::RebuildCounts counts = bm::MergeScanIntoTables(o.store, scan, true);
    EXPECT_EQ(counts.nodesAdded + counts.nodesReplaced + counts.blocksFromTrailers + counts.blocksFromLeafPages +
                  counts.blocksRelocated,
              0u);
    EXPECT_EQ(o.store.blocks.size(), blocks);
    EXPECT_EQ(o.store.forest.size(), nodes);
}

TEST(StoreScan, ARecordALeftOutLeafEntryAgreedWithIsKeptAgainstAnotherVersion) {
    bmtest::BuiltStore built = ManyNodes(bm::kUnicodeLayout);
    // A second version of node 0x200004 (data 100 in the tree) on a page the
    // index no longer reaches, naming another block that reads as a heap.
    const std::uint64_t page = built.image.Reserve(512, 512);
    built.image.WriteNbtLeafPage(page, {{0x200004, 104, 0, 0x8022}});
    for (const int run : {0, 1, 2}) {
        SCOPED_TRACE(run);
        Opened o;
        Open(o, built.image, "scan-agreed-" + std::to_string(run));
        ASSERT_EQ(bm::BuildIndexes(o.store, o.reader), 0);
        const bm::NodeEntry* node = bm::FindNode(o.store, 0x200004);
        ASSERT_NE(node, nullptr);
        ASSERT_EQ(node->bidData(), 100u);
        std::vector<bool> agreed(o.store.forest.size(), false);
        bm::ScanFilters filters;
        if (run > 0) {
            filters.keepLeafNode = [&](const bm::ScannedNode& n) {
                const bm::NodeEntry* r = bm::FindNode(o.store, n.nid);
                if (r == nullptr || r->dataBlock() == nullptr || r->bidData() != n.bidData || r->nidParent != n.nidParent)
                    return true;
                agreed[r->placedOrder] = true;
                return false;
            };
        }
        const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *o.store.layout, nullptr, {}, 0, filters);
        const auto versions = std::count_if(scan.leafNodes.begin(), scan.leafNodes.end(),
                                            [](const bm::ScannedNode& n) { return n.nid == 0x200004; });
        EXPECT_EQ(versions, run == 0 ? 2 : 1);
        // Run 2 leaves the marks out: the other version then wins, which is
        // what the marks are there to prevent.
        const bm::RebuildCounts counts =
            bm::MergeScanIntoTables(o.store, scan, true, run == 2 ? std::vector<bool>{} : agreed);
        EXPECT_EQ(node->bidData(), run == 2 ? 104u : 100u);
        EXPECT_EQ(counts.nodesReplaced, run == 2 ? 1u : 0u);
    }
}

TEST(StoreScan, AnIndexEntryPointingAwayFromItsBlockIsMovedToWhereTheBlockLies) {
    // Also with the scan keeping only what the table lacks or places
    // elsewhere, as deep recovery has it: the block at the entry's own
    // offset is then looked for again, not taken from the scan's list.
    for (const bool filtered : {false, true})
    for (const bm::StoreLayout* layout : kLayouts) {
        SCOPED_TRACE(std::string(layout->name) + (filtered ? ", filtered scan" : ""));
        bmtest::BuiltStore built = ManyNodes(*layout);
        // The second leaf page of the block tree says block 112 lies where
        // block 108 does: a sound page whose entry is wrong.
        std::vector<bmtest::BbtLeafEntry> page(built.blocks.begin() + 4, built.blocks.begin() + 8);
        ASSERT_EQ(page[1].bid, 112u);
        const bmtest::BbtLeafEntry truth = page[1];
        page[1].offset = page[0].offset;
        page[1].cb = page[0].cb;
        page[1].inflated = page[0].inflated;
        built.image.WriteBbtLeafPage(built.bbtLeafPages[1], page);

        Opened o;
        Open(o, built.image, "scan-move-" + bmtest::LayoutTestName(*layout));
        ASSERT_EQ(bm::BuildIndexes(o.store, o.reader), 0);
        const bm::BlockEntry* entry = bm::FindBlock(o.store, 112);
        ASSERT_NE(entry, nullptr);
        ASSERT_EQ(entry->offset(), page[0].offset) << "the walk takes the entry as the page has it";
        const bm::NodeEntry* node = bm::FindNode(o.store, 0x200064);
        ASSERT_NE(node, nullptr);
        ASSERT_EQ(node->dataBlock(), entry);

        bm::ScanFilters filters;
        if (filtered) {
            filters.keepLeafBlock = [&](std::uint64_t bid) { return bm::FindBlock(o.store, bid) == nullptr; };
            filters.keepBlock = [&](const bm::ScannedBlock& b) {
                const bm::BlockEntry* e = bm::FindBlock(o.store, b.bid);
                return e == nullptr || e->offset() != b.offset;
            };
        }
        const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *layout, nullptr, {}, 0, filters);
        if (filtered) {
            EXPECT_LT(scan.blocks.size(), scan.blocksFound) << "blocks where their entries put them are left out";
        }
        const bm::RebuildCounts counts = bm::MergeScanIntoTables(o.store, scan, false);
        EXPECT_EQ(counts.blocksRelocated, 1u);
        EXPECT_EQ(bm::FindBlock(o.store, 112), entry) << "moved in place: the node keeps its block";
        EXPECT_EQ(entry->offset(), truth.offset);
        EXPECT_EQ(entry->size(), truth.cb);
        EXPECT_EQ(bm::FindBlock(o.store, 108)->offset(), page[0].offset) << "the block really there stays";

        Bytes data;
        bm::ReadBlockDecoded(o.store, 112, data);
        EXPECT_EQ(data, bmtest::MinimalHeap(43));
    }
}

TEST(StoreScan, AnIndexEntryPastTheEndOfTheFileIsMovedToItsBlockAndTheMergeEnds) {
    // Exit codes of the child: what went wrong, 0 for nothing.
    enum : int { kMoved = 0, kNotBuilt = 10, kNotMoved, kMovedWrongly, kStopIgnored };
    for (const bm::StoreLayout* layout : kLayouts) {
        bmtest::BuiltStore built = ManyNodes(*layout);
        const std::uint64_t size = built.image.size();
        for (const std::uint64_t offset : {size, size + 4096, std::uint64_t{1} << 63, ~std::uint64_t{0}}) {
            SCOPED_TRACE(std::string(layout->name) + ", offset " + std::to_string(offset));
            std::vector<bmtest::BbtLeafEntry> page(built.blocks.begin() + 4, built.blocks.begin() + 8);
            ASSERT_EQ(page[1].bid, 112u);
            const bmtest::BbtLeafEntry truth = page[1];
            page[1].offset = offset;
            bmtest::StoreImage image = built.image;
            image.WriteBbtLeafPage(built.bbtLeafPages[1], page);
            Opened o;
            Open(o, image, "scan-past-end-" + bmtest::LayoutTestName(*layout));
            const auto merge = [&](bool stop) {
                return [&o, layout, truth, stop]() -> int {
                    if (bm::BuildIndexes(o.store, o.reader) != 0) return kNotBuilt;
                    const bm::StoreScan scan = bm::ScanStoreFile(o.store.file, *layout, &o.reader);
                    o.reader.stopAnalysis.store(stop);
                    const bm::RebuildCounts counts = bm::MergeScanIntoTables(o.store, scan, true, {}, &o.reader);
                    if (stop) return counts.stopped && counts.blocksRelocated == 0 ? kMoved : kStopIgnored;
                    if (counts.blocksRelocated != 1 || counts.stopped) return kNotMoved;
                    const bm::BlockEntry* entry = bm::FindBlock(o.store, 112);
                    return entry != nullptr && entry->offset() == truth.offset && entry->size() == truth.cb
                               ? kMoved
                               : kMovedWrongly;
                };
            };
            EXPECT_EQ(bmtest::ExitCodeWithin(merge(false), std::chrono::seconds(30)), kMoved)
                << "moved like any misplaced entry, and promptly (nullopt: still running after 30 s)";
            EXPECT_EQ(bmtest::ExitCodeWithin(merge(true), std::chrono::seconds(30)), kMoved)
                << "a stop request ends the merge";
        }
    }
}

}  // namespace
