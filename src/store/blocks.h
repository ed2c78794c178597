// Reading bytes out of the store: raw ranges, blocks by BID, and the whole
// data of a node.
//
// A block is `cb` stored bytes followed by padding and a trailer at the end
// of the aligned block (see layout.h). Data blocks (BID bit 1 clear) are
// encoded with the store's method; internal blocks (bit 1 set: XBLOCK,
// XXBLOCK, SLBLOCK, SIBLOCK) and B-tree pages are stored plain. In the
// 4 KiB layout a block whose stored size is below its inflated size holds
// deflated data and is inflated on reading; one that fails to inflate reads
// as unreadable.
//
// A node's data is either one data block or a data tree:
//   XBLOCK  btype 1, cLevel 1, cEnt u16 at 2, lcbTotal u32 at 4, then cEnt
//           BIDs of data blocks from offset 8 (4 or 8 bytes each)
//   XXBLOCK the same with cLevel 2 and BIDs of XBLOCKs
// The tree is delivered block by block in entry order to a caller's buffer
// or to a sink. A tree that meets a child it cannot read stops there and
// reports failure (0), although the earlier children have been delivered;
// the `delivered` count tells how much arrived.
//
// Buffers carry their length: a read returns exactly the bytes read, with no
// terminator appended. Every read clamps to the file, so a damaged size can
// not make the reader allocate more than the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "format/ndb.h"
#include "store/store_file.h"

namespace bm {

using Bytes = std::vector<std::uint8_t>;

// Receives node data piece by piece; returns false when it cannot take it
// (the read then fails like an unreadable block).
using DataSink = std::function<bool(std::span<const std::uint8_t>)>;

// Where ReadNodeData delivers: the caller's buffer when set, else the sink.
struct NodeDataTarget {
    Bytes* buffer = nullptr;
    DataSink sink;
};

// Largest node data delivered (the format's own 32-bit total size).
inline constexpr std::uint64_t kMaxNodeDataBytes = 0xFFFFFFFFull;
// The first byte (btype) of an internal block: a data tree (XBLOCK or
// XXBLOCK) or a subnode list (SLBLOCK or SIBLOCK).
inline constexpr std::uint8_t kDataTreeBlockType = kBlockTypeData;
inline constexpr std::uint8_t kSubnodeBlockType = kBlockTypeSubnode;

// Reads up to `length` bytes at `offset` into a new buffer in `slot`;
// returns the number read (short at the end of the file).
std::size_t ReadAt(const StoreFile& store, std::uint64_t offset, std::size_t length, Bytes& slot);

// Reads a block's stored bytes (inflated in the 4 KiB layout) by BID; 0 and
// the slot untouched when the BID is not in the block table.
std::size_t ReadBlock(StoreFile& store, std::uint64_t bid, Bytes& slot);

// ReadBlock for an entry already looked up (no lookup, no decoding).
std::size_t ReadBlockEntry(StoreFile& store, const BlockEntry& entry, Bytes& slot);

// The one walk of a data tree: the leaf blocks below block `bid` in order,
// each read (not decoded) for `visit`. A block whose first byte is not a
// data tree's is a leaf itself; an XXBLOCK below the top, an XBLOCK naming
// an internal block, a block not listed (counted as missing damage when
// `countMissing`) or one that cannot be read, or a visit that returns
// false, ends the walk: false. Entries past the bytes of their block are
// not there.
using DataTreeVisitor = std::function<bool(const BlockEntry& leaf, Bytes& bytes)>;
bool WalkDataTree(StoreFile& store, std::uint64_t bid, bool countMissing, const DataTreeVisitor& visit);

// ReadBlock, then decoded with the store's method.
std::size_t ReadBlockDecoded(StoreFile& store, std::uint64_t bid, Bytes& slot);

// Decodes in place: method 0 none, 1 permutation, 2 cyclic keyed by `bid`.
// 0 when done, -1 for an unknown method (the data is left as it is).
int DecodeBlock(std::span<std::uint8_t> buffer, std::uint32_t method, std::uint64_t bid = 0);

// Delivers the whole data of a node whose data block is `entry`. Returns the
// total bytes, 0 when the data could not be read whole; `delivered` (when
// given) receives the bytes that reached the target in either case.
std::uint64_t ReadNodeData(StoreFile& store, const BlockEntry& entry, const NodeDataTarget& target,
                           std::uint64_t* delivered = nullptr);

// Delivers the data tree under `bid` after `total` bytes already delivered;
// returns the new total, 0 on failure.
std::uint64_t ReadDataTree(StoreFile& store, std::uint64_t bid, const NodeDataTarget& target, std::uint64_t total);

}  // namespace bm
