// The heap-on-node (HN): the allocator that property and table contexts are
// built on. A heap is a node's data split into blocks of at most 8176 bytes;
// each block holds a header, the allocations one after another, and at its
// end (at an even offset) the page map: the number of allocations, the number
// of freed ones (always 0 here) and the start offset of every allocation plus
// the end of the last one.
//
//   block 0            HNHDR: page-map offset, 0xEC, client signature,
//                      HID of the client's root, fill levels of blocks 0-7
//   block 8, 136, ...  HNBITMAPHDR: page-map offset, fill levels of the
//                      128 blocks from this one on
//   other blocks       HNPAGEHDR: page-map offset only
//
// An allocation is named by a HID: its block index in the upper 16 bits and
// its 1-based index in the block's page map in bits 5..15 (the low 5 bits are
// the HID node type, 0). No allocation is larger than 3580 bytes; larger
// values go to subnodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace bm::pst {

using Hid = std::uint32_t;

enum class HeapClient : std::uint8_t {
    TableContext = 0x7C,
    BTree = 0xB5,
    PropertyContext = 0xBC,
};

inline constexpr std::size_t kMaxHeapAllocation = 3580;

class HeapBuilder {
public:
    explicit HeapBuilder(HeapClient client);

    // Adds an allocation (0 to kMaxHeapAllocation bytes) and returns its HID.
    // Throws std::length_error when it is larger.
    Hid Allocate(std::span<const std::uint8_t> bytes);
    // Replaces the bytes of an earlier allocation with as many new ones
    // (std::invalid_argument otherwise).
    void Overwrite(Hid hid, std::span<const std::uint8_t> bytes);
    void SetUserRoot(Hid hid) { userRoot_ = hid; }

    // The heap's blocks, each at most 8176 bytes, ready to be written as one
    // node's data.
    std::vector<std::vector<std::uint8_t>> Finish() const;

    // Hands each block over, in its final form, as soon as nothing can change
    // it any more, so a heap of any size holds only a few blocks in memory:
    // the first block (its header names the client's root and it may be
    // overwritten to the end), the current bitmap block (it holds the fill
    // levels of the 127 blocks after it) and the block being filled. Blocks
    // arrive out of order (the first one last); each comes with its index.
    // Must be called before the first allocation; FinishStreaming then takes
    // the place of Finish. An Overwrite of a block already handed over is
    // refused (std::invalid_argument).
    using BlockOut = std::function<void(std::size_t index, std::vector<std::uint8_t> bytes)>;
    void StreamBlocks(BlockOut out);
    // Hands over the blocks still held; the heap takes nothing more.
    void FinishStreaming();

    std::size_t blockCount() const { return blocks_.size(); }

private:
    struct Block {
        std::vector<std::uint8_t> bytes;   // header and allocations so far
        std::vector<std::uint16_t> starts; // start offset of each allocation
        bool handedOver = false;           // streaming: written out, bytes let go
    };
    static std::size_t HeaderSize(std::size_t blockIndex);
    // A block as written: padded to the full size unless it is the last,
    // then its page map; freeBytes is what its fill level is computed from.
    static std::vector<std::uint8_t> Seal(const Block& b, bool last, std::size_t& freeBytes);
    // Writes the fill levels of blocks first.. into the header of a sealed
    // block at offset at.
    void PutFillLevels(std::vector<std::uint8_t>& block, std::size_t at, std::size_t first, std::size_t count) const;
    void PutFirstHeader(std::vector<std::uint8_t>& block) const;
    // Streaming: block index can no longer grow (another block follows it,
    // or the heap is finished when last).
    void CloseBlock(std::size_t index, bool last);
    void HandOver(std::size_t index, std::vector<std::uint8_t> bytes);
    std::vector<std::uint8_t>& Locate(Hid hid, std::size_t& start, std::size_t& size);

    HeapClient client_;
    Hid userRoot_ = 0;
    std::vector<Block> blocks_;
    // Streaming only.
    BlockOut out_;
    std::vector<std::uint8_t> fill_;  // fill level of each closed block
    bool finished_ = false;
};

// Fill level (0 = 3584 or more bytes free ... 15 = under 8 free) of a heap
// block with the given number of free bytes.
std::uint8_t HeapFillLevel(std::size_t freeBytes);

}  // namespace bm::pst
