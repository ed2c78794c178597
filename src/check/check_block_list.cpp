#include "check/check_block_list.h"

#include <algorithm>

namespace bm {

void CheckBlockList::append(std::uint64_t bid, std::uint64_t ib, std::uint16_t cb, std::uint16_t inflated,
                            std::uint16_t cRef) {
    const std::size_t i = blocks_.size();
    const auto high = static_cast<std::uint32_t>(bid >> 32);
    if (bidHigh_.empty() ? high != 0 : bidHigh_.back().second != high) bidHigh_.emplace_back(i, high);
    const std::uint64_t k = bid & ~std::uint64_t{1};
    if (i > 0 && lastKey_ >= k) rising_ = false;
    lastKey_ = k;
    Packed p{};
    p.bidLow = static_cast<std::uint32_t>(bid);
    if (ib % 64 == 0 && ib / 64 < kWideOffset) {
        p.unit = static_cast<std::uint32_t>(ib / 64);
    } else {
        p.unit = kWideOffset;
        wideOffsets_.emplace(i, ib);
    }
    p.cb = cb;
    p.cRef = cRef;
    if (inflated != cb) inflatedSizes_.emplace(i, inflated);
    blocks_.push_back(p);
}

void CheckBlockList::index() {
    if (rising_) return;
    order_.resize(blocks_.size());
    for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<std::uint32_t>(i);
    // Stable: of two entries for one BID the first listed stays first.
    std::stable_sort(order_.begin(), order_.end(), [this](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
}

std::size_t CheckBlockList::find(std::uint64_t bid) const {
    const std::uint64_t k = bid & ~std::uint64_t{1};
    if (rising_) {
        std::size_t low = 0, high = blocks_.size();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (key(mid) < k) low = mid + 1;
            else high = mid;
        }
        return low < blocks_.size() && key(low) == k ? low : kAbsent;
    }
    const auto it = std::lower_bound(order_.begin(), order_.end(), k,
                                     [this](std::uint32_t i, std::uint64_t want) { return key(i) < want; });
    return it != order_.end() && key(*it) == k ? *it : kAbsent;
}

std::uint64_t CheckBlockList::bid(std::size_t i) const {
    std::uint64_t high = 0;
    const auto run = std::upper_bound(bidHigh_.begin(), bidHigh_.end(), i,
                                      [](std::size_t at, const auto& r) { return at < r.first; });
    if (run != bidHigh_.begin()) high = std::prev(run)->second;
    return high << 32 | blocks_[i].bidLow;
}

std::uint64_t CheckBlockList::ib(std::size_t i) const {
    const std::uint32_t unit = blocks_[i].unit;
    return unit != kWideOffset ? std::uint64_t{unit} * 64 : wideOffsets_.at(i);
}

std::uint16_t CheckBlockList::inflated(std::size_t i) const {
    const auto it = inflatedSizes_.find(i);
    return it != inflatedSizes_.end() ? it->second : blocks_[i].cb;
}

std::uint32_t CheckBlockList::references(std::size_t i) const {
    const std::uint16_t refs = blocks_[i].refs;
    return refs != kWideRefs ? refs : wideRefs_.at(i);
}

void CheckBlockList::addReference(std::size_t i) {
    Packed& p = blocks_[i];
    if (p.refs == kWideRefs) {
        ++wideRefs_[i];
    } else if (++p.refs == kWideRefs) {
        wideRefs_[i] = kWideRefs;
    }
}

void CheckBlockList::setInternal(std::size_t i, std::uint8_t level, std::uint8_t type) {
    blocks_[i].level = level;
    blocks_[i].type = type < 0x7F ? type : 0x7F;
}

}  // namespace bm
