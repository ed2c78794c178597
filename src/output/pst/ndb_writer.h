// The node database (NDB) layer of the .pst writer: a sequential writer of a
// Unicode (wVer 23) Personal Folders store.
//
// Blocks are appended to the file as the caller hands them over, through one
// large buffer, so memory stays bounded whatever the size of the store; only
// the block and node B-tree entries are kept in memory. Allocation-map pages
// are reserved at their fixed places while writing and filled in by Finish,
// which then writes the B-trees, the maps, the density list and, last of all,
// the header. Until Finish completes, the header carries no valid magic, so a
// store whose writing was interrupted is never mistaken for a valid one.
//
// Reference counts: a BID returned by a Write* call carries no reference
// yet. Each SetNode and each WriteSubnodes entry counts one reference to the
// blocks it names (the blocks inside a data tree are referenced by the tree
// itself); AddBlockReference adds one where the caller shares a block by
// other means. Blocks still without a reference at Finish are dropped from
// the block B-tree and their space is marked free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "common/format_tables.h"
#include "output/pst/ndb_types.h"

namespace bm::pst {

struct NdbOptions {
    // Offline-store flavour: wMagicClient "SO" instead of "SM".
    bool offlineStore = false;
    CryptMethod crypt = CryptMethod::Permute;
};

class NdbWriter {
public:
    // Creates (truncates) the file. Throws OutputWriteError (a
    // std::runtime_error) naming the path and the system error when the
    // file cannot be created or written; after a failed write every later
    // call throws that error again and the file stays without a header.
    static std::unique_ptr<NdbWriter> Create(const std::filesystem::path& path, const NdbOptions& options);

    static constexpr std::size_t kMaxBlockData = pst::kMaxBlockData;  // data bytes in one block

    NdbWriter(const NdbWriter&) = delete;
    NdbWriter& operator=(const NdbWriter&) = delete;
    ~NdbWriter();  // without Finish the file stays invalid

    // Writes bytes as one data block, or as an XBLOCK (or XXBLOCK) tree over
    // pieces of kMaxBlockData bytes. Empty data writes no block and
    // returns 0 (an empty node has bidData 0).
    Bid WriteData(std::span<const std::uint8_t> bytes);
    // Writes the given pieces (each at most kMaxBlockData bytes, at least
    // one) as one block when there is one piece, else as a data tree over
    // exactly these pieces, in order (heap-on-node blocks need this).
    // Throws std::invalid_argument on an oversized piece or an empty list.
    Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces);
    // Writes size bytes taken from read, which fills the span it is given and
    // returns how many bytes it put there (0 before size bytes have been
    // delivered is an error: std::runtime_error). Memory stays bounded by
    // the size of one XBLOCK's worth of BIDs. Size 0 writes no block: 0.
    Bid WriteDataStream(std::uint64_t size, const std::function<std::size_t(std::span<std::uint8_t>)>& read);

    // A data block written on its own (by WriteData, at most kMaxBlockData
    // bytes) and the number of bytes it holds.
    struct DataPiece {
        Bid bid = 0;
        std::size_t size = 0;
    };
    // One node's data over blocks written earlier, in the order given: the
    // block itself when there is one, else a data tree over them. For data
    // made piece by piece whose blocks are not written in order (a heap's
    // first block is finished last). Throws std::invalid_argument for an
    // empty list or a BID that names no data block of this writer.
    Bid WriteDataTree(const std::vector<DataPiece>& pieces);

    struct Subnode {
        Nid nid = 0;
        Bid data = 0;
        Bid subnodes = 0;  // 0: none
    };
    // Writes a subnode tree: one SLBLOCK, or an SIBLOCK over SLBLOCKs.
    // Entries are sorted by NID here; a NID may appear only once
    // (std::invalid_argument otherwise). An empty list returns 0.
    Bid WriteSubnodes(std::vector<Subnode> entries);

    // Adds or replaces the node entry of nid. Replacing releases the old
    // entry's references; a block left without references is freed.
    // Throws std::invalid_argument when data or subnodes (if nonzero) names
    // no block written by this writer.
    void SetNode(Nid nid, Bid data, Bid subnodes, Nid parent);
    // One more reference to a block the caller shares.
    void AddBlockReference(Bid bid);

    // The next unused NID of a type; counters start above the ranges that
    // stores reserve for their fixed nodes. Also advances the header's
    // counter so the store's own next allocation follows on.
    Nid NewNid(NidType type);
    // The header's dwUnique (at least 1); callers pass one more than the
    // highest row version they wrote.
    void SetUnique(std::uint32_t unique);

    // Writes the B-trees, the allocation maps, the density list and the
    // header, and closes the file. No Write*/SetNode after this.
    void Finish();

    // Bytes the file holds so far (the end of allocated space).
    std::uint64_t FileSize() const;

private:
    class Impl;
    explicit NdbWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace bm::pst
