// The deep scan: one sequential pass over the whole file that finds blocks
// and index pages by their own trailers, without the header or the index.
//
// A block ends at an aligned position E (64 bytes, 512 in the 4 KiB layout)
// with its trailer: cb (u16), wSig (u16), then dwCRC and the BID in the
// layout's order (see layout.h). It is taken as a block when
//   0 < cb <= the largest block the layout allows,
//   the block starts at S = E - align(cb + trailer) inside the file,
//   the BID is not 0 and wSig equals the signature of (S, BID),
//   dwCRC equals the CRC of the cb bytes at S, or the block's structure
//   holds (see block_structure.h; it is marked checksumFailed).
// A B-tree page of the layout's page size sits at a page-aligned offset P
// with its trailer after the footer: ptype and a repeated ptype (0x80 block
// tree, 0x81 node tree), wSig (the signature of (P, BID), or 0), dwCRC over
// the bytes before the trailer, and the page's BID. Leaf pages (cLevel 0)
// are taken apart here: their live entries (cEnt, trusted once the CRC
// holds) become block entries and node entries; what the node-tree leaves'
// slots past cEnt still hold is kept apart (deleted items are found there).
// A page whose dwCRC differs is taken when its wSig holds (not 0) and so do
// its keys and references, entry by entry (see TryPage); it is marked, and
// its node entries are in doubt.
//
// The file is read in large chunks that overlap by the largest block, so
// each byte is read about once and each candidate end is tried once. The
// scan passes the reader's pause gate and honours its stop request between
// chunks.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "store/layout.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

inline constexpr std::uint8_t kBlockTreePageType = 0x80;
inline constexpr std::uint8_t kNodeTreePageType = 0x81;

// A block whose trailer checked out.
struct ScannedBlock {
    std::uint64_t bid = 0;
    std::uint64_t offset = 0;
    std::uint32_t size = 0;          // cb
    std::uint32_t inflatedSize = 0;  // equals size unless the layout deflates
    bool checksumFailed = false;     // dwCRC differs; taken because its structure holds
};

// A B-tree page whose trailer checked out.
struct ScannedPage {
    std::uint64_t offset = 0;
    std::uint64_t bid = 0;
    std::uint8_t type = 0;   // kBlockTreePageType or kNodeTreePageType
    std::uint8_t level = 0;  // cLevel: 0 for a leaf
    bool checksumFailed = false;  // dwCRC differs; taken by its keys and references
};

// One entry of a node-tree leaf page found by the scan (32 bytes).
struct ScannedNode {
    std::uint32_t nid = 0;
    std::uint32_t nidParent = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint64_t pageOffset = 0;
    bool doubtful = false;  // from a page whose checksum failed
};

// What the scan found. The lists grow a chunk at a time (std::deque), so a
// long list never needs twice its size while it grows, and what they hold
// stays where it is.
struct StoreScan {
    const StoreLayout* layout = nullptr;
    std::deque<ScannedBlock> blocks;      // in file order; those ScanFilters::keepBlock took
    std::uint64_t blocksFound = 0;        // every block found, kept or not
    std::uint64_t blocksChecksumFailed = 0;  // of those, taken by their structure (see block_structure.h)
    std::uint64_t pagesChecksumFailed = 0;   // pages taken by their keys and references
    std::vector<ScannedBlock> cryptSample;  // the first data blocks found, for DetectCryptMethod
    std::deque<ScannedPage> pages;        // in file order; those ScanFilters::keepPage took
    std::uint64_t pagesFound = 0;         // every page found, kept or not
    std::deque<BlockInfo> leafBlocks;     // entries of block-tree leaf pages
    std::deque<ScannedNode> leafNodes;    // entries of node-tree leaf pages
    std::deque<ScannedNode> staleLeafNodes;  // what slots past a leaf's count still hold
    std::uint64_t bytesScanned = 0;
    bool stopped = false;                  // ended early on a stop request
};

// Called after each chunk with the bytes done and the file's size.
using ScanProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// What the scan keeps of its finds; an empty filter keeps everything. Deep
// recovery that keeps its block table drops what that table already says:
// leaf entries whose BID it holds (only the others are merged) and blocks
// found where their entry puts them (only blocks the table lacks or places
// elsewhere are merged or moved). On a sound store the scan then holds
// next to nothing beside the tables.
struct ScanFilters {
    // Whether a block-tree leaf entry (its BID, bit 0 cleared) goes to leafBlocks.
    std::function<bool(std::uint64_t bid)> keepLeafBlock;
    // Whether a block found by its trailer goes to blocks.
    std::function<bool(const ScannedBlock& block)> keepBlock;
    // Whether a live node-tree leaf entry goes to leafNodes.
    std::function<bool(const ScannedNode& node)> keepLeafNode;
    // Whether what a slot past a leaf's count holds goes to staleLeafNodes.
    std::function<bool(const ScannedNode& node)> keepStaleLeafNode;
    // Whether a page goes to pages (a leaf page's entries are taken either way).
    std::function<bool(const ScannedPage& page)> keepPage;
};

// Scans [0, limit) of the file (the whole file when limit is 0) for blocks
// and pages of `layout`. `reader` (optional) carries the pause gate and the
// stop request.
StoreScan ScanStoreFile(const StoreFileHandle& file, const StoreLayout& layout, StoreReader* reader = nullptr,
                        const ScanProgress& progress = {}, std::uint64_t limit = 0, const ScanFilters& filters = {});

// Whether the scan finds a block of `bid` (bit 0 cleared) starting at
// `offset`: the same trailer checks, over the bytes such a block can take.
bool ScanFindsBlockAt(const StoreFileHandle& file, const StoreLayout& layout, std::uint64_t offset,
                      std::uint64_t bid);

// The layout whose blocks and pages a sample of the file holds most of;
// nullptr when none is found in the sample.
const StoreLayout* DetectLayout(const StoreFileHandle& file, std::uint64_t sampleBytes = 32u << 20);

// The encoding under which the most scanned data blocks (the scan's
// cryptSample) start like a heap
// (signature 0xEC, then a property- or table-context client signature):
// 0 none, 1 permutation, 2 cyclic. 1 when no block decides.
std::uint32_t DetectCryptMethod(const StoreFileHandle& file, const StoreScan& scan);

// The format version a detected layout stands for (14, 23 or 36).
std::uint32_t FormatVersionOf(const StoreLayout& layout);

}  // namespace bm
