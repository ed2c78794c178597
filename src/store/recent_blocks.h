// The last blocks read from a store, kept for a reader that reads the same
// blocks again soon after: saving reads each item once to sort it and again
// to copy it, and the second read then costs a copy in memory instead of a
// read from the file and a CRC.
//
// A block is kept as ReadBlockEntry delivers it (stored bytes, inflated in
// the 4 KiB layout, not decoded), with the damage its read counted, so that
// a read served from here counts the same damage again: the counters come
// out as they would without the keeping. Off until a caller turns it on: a
// reader that reads every block once would only pay for the copies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bm {

class RecentBlocks {
public:
    static constexpr std::size_t kSlots = 64;
    // Larger blocks (attachment data in the 4 KiB layout) are not kept.
    static constexpr std::size_t kLargestKept = 8192;

    struct Key {
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
        std::uint32_t inflatedSize = 0;
        bool operator==(const Key&) const = default;
    };
    // What the read counted besides delivering the bytes.
    struct Damage {
        bool unreadable = false;
        bool notInflated = false;  // of the unreadable ones, those that failed to inflate
        bool crcMismatch = false;
    };
    struct Slot {
        Key key;
        bool used = false;
        Damage damage;
        std::vector<std::uint8_t> bytes;
    };

    void enable(bool on) {
        enabled_ = on;
        if (!on) clear();
    }
    bool enabled() const { return enabled_; }

    // The slot that keeps `key`, or nullptr.
    const Slot* find(const Key& key) const {
        for (const Slot& s : slots_) {
            if (s.used && s.key == key) return &s;
        }
        return nullptr;
    }

    // Keeps a block in place of the oldest one kept.
    void keep(const Key& key, const std::vector<std::uint8_t>& bytes, Damage damage) {
        if (!enabled_ || bytes.size() > kLargestKept) return;
        Slot& s = slots_[next_];
        next_ = (next_ + 1) % kSlots;
        s.key = key;
        s.used = true;
        s.damage = damage;
        s.bytes.assign(bytes.begin(), bytes.end());
    }

    void clear() {
        for (Slot& s : slots_) {
            s.used = false;
            std::vector<std::uint8_t>().swap(s.bytes);
        }
        next_ = 0;
    }

private:
    std::array<Slot, kSlots> slots_{};
    std::size_t next_ = 0;  // the slot the next block replaces
    bool enabled_ = false;
};

}  // namespace bm
