// An open-addressing hash index from an integer key to a non-null pointer,
// for the tables' lookups: one flat array, no allocation per entry, linear
// probing, grown to keep it at most half full. A slot whose pointer is null
// is empty, so any key value (0 included) can be stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace bm {

template <typename Key, typename T>
class FlatIndex {
public:
    // The pointer stored for `key`, or nullptr.
    T* Find(Key key) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.value == nullptr) return nullptr;
            if (s.key == key) return s.value;
        }
    }

    // The slot's pointer for `key`, inserting `value` when the key is new;
    // second is true when it was inserted. The reference stays valid until
    // the next insertion.
    std::pair<T*&, bool> TryEmplace(Key key, T* value) {
        if ((size_ + 1) * 2 > slots_.size()) Grow(slots_.empty() ? 16 : slots_.size() * 2);
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.value == nullptr) {
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
    struct Slot {
        Key key{};
        T* value = nullptr;
    };

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
            if (s.value != nullptr) TryEmplace(s.key, s.value);
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    std::size_t mask_ = 0;
};

}  // namespace bm
