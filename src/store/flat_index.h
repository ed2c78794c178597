// An open-addressing hash index from an integer key to a 32-bit record
// index, for the tables' lookups: one flat array, no allocation per entry,
// linear probing, grown to keep it at most half full. A slot holds the key
// and the index packed (8 bytes for a 32-bit key, 12 for a 64-bit one); a
// slot whose index is kNoIndex is empty, so any key value (0 included) can
// be stored, and any index below kNoIndex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace bm {

template <typename Key>
class FlatIndex {
public:
    static constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;

    // The index stored for `key`, or kNoIndex.
    std::uint32_t Find(Key key) const {
        if (slots_.empty()) return kNoIndex;
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.value == kNoIndex) return kNoIndex;
            if (s.key == key) return s.value;
        }
    }

    // The slot's index for `key`, inserting `value` (below kNoIndex) when
    // the key is new; second is true when it was inserted. The reference
    // stays valid until the next insertion.
    std::pair<std::uint32_t&, bool> TryEmplace(Key key, std::uint32_t value) {
        if ((size_ + 1) * 2 > slots_.size()) Grow(slots_.empty() ? 16 : slots_.size() * 2);
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.value == kNoIndex) {
                s.key = key;
                s.value = value;
                ++size_;
                return {s.value, true};
            }
            if (s.key == key) return {s.value, false};
        }
    }

    void Reserve(std::size_t n) {
        std::size_t want = 16;
        while (want < n * 2) want *= 2;
        if (want > slots_.size()) Grow(want);
    }
    void Clear() {
        slots_.clear();
        slots_.shrink_to_fit();
        size_ = 0;
        mask_ = 0;
    }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return slots_.size(); }
    static constexpr std::size_t slotSize() { return sizeof(Slot); }

private:
#pragma pack(push, 4)
    struct Slot {
        Key key{};
        std::uint32_t value = kNoIndex;
    };
#pragma pack(pop)
    static_assert(sizeof(Slot) == sizeof(Key) + sizeof(std::uint32_t));

    std::size_t Home(Key key) const {
        // splitmix64 finaliser: BIDs and NIDs step by 4 or 32, so the low bits
        // alone would crowd.
        std::uint64_t x = static_cast<std::uint64_t>(key) + 0x9E3779B97F4A7C15ull;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        return static_cast<std::size_t>(x ^ (x >> 31)) & mask_;
    }

    void Grow(std::size_t capacity) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        size_ = 0;
        for (const Slot& s : old)
            if (s.value != kNoIndex) TryEmplace(s.key, s.value);
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    std::size_t mask_ = 0;
};

}  // namespace bm
