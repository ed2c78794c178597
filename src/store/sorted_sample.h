// The lookup the index tables use while their records come in rising key
// order (as a B-tree's leaves list them): the key of every kStride-th
// record, searched first, then the at most kStride records after it. It
// costs a key per kStride records where a hash index costs a slot per
// record and more.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bm {

template <typename Key>
class SortedSample {
public:
    static constexpr std::size_t kStride = 64;
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // Notes the key of the record just appended at `index`.
    void Note(std::size_t index, Key key) {
        if (index % kStride == 0) keys_.push_back(key);
    }
    // The index in `records` of the record whose key (keyOf(record)) is
    // `key`, or kNone. The records must be the ones noted, in that order.
    template <typename Records, typename KeyOf>
    std::uint32_t Find(const Records& records, Key key, KeyOf keyOf) const {
        const auto group = std::upper_bound(keys_.begin(), keys_.end(), key);
        if (group == keys_.begin()) return kNone;
        const std::size_t first = static_cast<std::size_t>(group - keys_.begin() - 1) * kStride;
        const auto begin = records.begin() + static_cast<std::ptrdiff_t>(first);
        const auto end = records.begin() + static_cast<std::ptrdiff_t>(std::min(first + kStride, records.size()));
        const auto it = std::lower_bound(begin, end, key, [&keyOf](const auto& r, Key k) { return keyOf(r) < k; });
        return it != end && keyOf(*it) == key ? static_cast<std::uint32_t>(it - records.begin()) : kNone;
    }
    void Clear() {
        keys_.clear();
        keys_.shrink_to_fit();
    }
    std::size_t bytes() const { return keys_.capacity() * sizeof(Key); }

private:
    std::vector<Key> keys_;
};

}  // namespace bm
