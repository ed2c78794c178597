// A set of BIDs (bit 0 cleared) for the deep recovery's "is this block named
// by anything" question: filled first, then sealed (sorted, duplicates
// dropped) and searched. Eight bytes a BID, where a hash set of the same
// BIDs takes about forty: a store of millions of blocks names millions.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bm {

class BidSet {
public:
    void Reserve(std::size_t n) { bids_.reserve(n); }
    void Add(std::uint64_t bid) {
        bids_.push_back(bid & ~std::uint64_t{1});
        sealed_ = false;
    }
    // Sorts the BIDs added and drops repeats; lookups need a sealed set.
    void Seal() {
        std::sort(bids_.begin(), bids_.end());
        bids_.erase(std::unique(bids_.begin(), bids_.end()), bids_.end());
        bids_.shrink_to_fit();
        sealed_ = true;
    }
    bool sealed() const { return sealed_; }
    // Whether the BID (bit 0 aside) was added; false on a set not sealed
    // since the last Add.
    bool Contains(std::uint64_t bid) const {
        return sealed_ && std::binary_search(bids_.begin(), bids_.end(), bid & ~std::uint64_t{1});
    }
    std::size_t size() const { return bids_.size(); }

private:
    std::vector<std::uint64_t> bids_;
    bool sealed_ = true;
};

}  // namespace bm
