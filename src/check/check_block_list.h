// The store checker's record of every block the block B-tree lists, in the
// order the leaves list them: 16 bytes a block (low half of the BID, offset
// in 64-byte units, sizes, counts, what the block's own check found).
//
// What does not fit is kept apart, for the few blocks that need it: the
// high half of BIDs as runs of equal values, exact offsets that are not
// 64-byte multiples or lie past 256 GiB, inflated sizes that differ from the
// stored size (deflated blocks of the 4 KiB layout), reference counts from
// 65,535 up. When the leaves do not list the BIDs in rising order, a sorted
// list of 4-byte positions serves the lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace bm {

class CheckBlockList {
public:
    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

    // Appends the next block the leaves list.
    void append(std::uint64_t bid, std::uint64_t ib, std::uint16_t cb, std::uint16_t inflated, std::uint16_t cRef);
    // Readies the lookups; call once the last block is appended.
    void index();

    std::size_t size() const { return blocks_.size(); }
    // The first block listed with this BID (bit 0 ignored), or kAbsent.
    std::size_t find(std::uint64_t bid) const;

    std::uint64_t bid(std::size_t i) const;  // as listed
    std::uint64_t ib(std::size_t i) const;
    std::uint16_t cb(std::size_t i) const { return blocks_[i].cb; }
    std::uint16_t inflated(std::size_t i) const;
    std::uint16_t cRef(std::size_t i) const { return blocks_[i].cRef; }

    std::uint32_t references(std::size_t i) const;
    void addReference(std::size_t i);

    // Internal blocks: cLevel, and the type (1 data tree, 2 subnode tree,
    // 0x7F for any from 0x7F up).
    std::uint8_t level(std::size_t i) const { return blocks_[i].level; }
    std::uint8_t type(std::size_t i) const { return blocks_[i].type; }
    void setInternal(std::size_t i, std::uint8_t level, std::uint8_t type);
    // Trailer and contents verified.
    bool sound(std::size_t i) const { return blocks_[i].sound; }
    void setSound(std::size_t i, bool sound) { blocks_[i].sound = sound; }

private:
    struct Packed {
        std::uint32_t bidLow;
        std::uint32_t unit;  // ib / 64, or kWideOffset
        std::uint16_t cb;
        std::uint16_t cRef;
        std::uint16_t refs;  // kWideRefs: counted in wideRefs_
        std::uint8_t level;
        std::uint8_t type : 7;
        bool sound : 1;
    };
    static_assert(sizeof(Packed) == 16);
    static constexpr std::uint32_t kWideOffset = 0xFFFFFFFFu;
    static constexpr std::uint16_t kWideRefs = 0xFFFF;

    std::uint64_t key(std::size_t i) const { return bid(i) & ~std::uint64_t{1}; }

    std::deque<Packed> blocks_;
    std::vector<std::pair<std::size_t, std::uint32_t>> bidHigh_;  // from this position on, this high half
    std::unordered_map<std::size_t, std::uint64_t> wideOffsets_;
    std::unordered_map<std::size_t, std::uint16_t> inflatedSizes_;
    std::unordered_map<std::size_t, std::uint32_t> wideRefs_;
    std::vector<std::uint32_t> order_;  // positions by BID, when the leaves' order is not rising
    bool rising_ = true;
    std::uint64_t lastKey_ = 0;
};

}  // namespace bm
