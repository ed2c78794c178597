// Stores with deleted items, made from a sound copy the way the mail client
// leaves them: the message's entry is gone from the live node tree, but an
// earlier version of the leaf page that named it lies in the file's free
// space, or the entry still sits in the leaf's slot past its count; its
// blocks stay where they were until something overwrites them.
// Header-only; the including program links the core.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "common/format_tables.h"
#include "support/store_damage.h"
#include "support/store_image.h"

namespace bmtest {

enum class Deletion {
    StalePage,  // an earlier copy of the leaf page left in free space
    StaleSlot,  // the entry left in the slot past the leaf's new count; no
                // earlier page naming it is left (their space was used again)
};

namespace deleted_detail {

inline std::uint64_t GetLe(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= std::uint64_t{b[at + i]} << (8 * i);
    return v;
}

inline void PutLe(std::vector<std::uint8_t>& b, std::size_t at, std::size_t width, std::uint64_t v) {
    for (std::size_t i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Sets the page's signature and CRC after its bytes changed.
inline void SealPage(std::vector<std::uint8_t>& bytes, std::uint64_t offset, const bm::PageFields& p,
                     bool keepSignature) {
    const auto at = static_cast<std::size_t>(offset);
    if (!keepSignature) PutLe(bytes, at + p.crcCovers + 2, 2, 0);  // the scan takes 0 as "not set"
    const std::uint32_t crc = bm::ComputeCrc(std::span<const std::uint8_t>(bytes.data() + at, p.crcCovers));
    PutLe(bytes, at + p.crcAt, 4, crc);
}

}  // namespace deleted_detail

// Deletes the message `nid` from the store at `path` in place. False when
// no live leaf page names it, or names it first.
inline bool DeleteMessage(const std::filesystem::path& path, std::uint32_t nid, Deletion how) {
    using namespace deleted_detail;
    const SoundIndex sound = ReadSoundIndex(path);
    if (sound.layout == nullptr) return false;
    const bm::StoreLayout& layout = *sound.layout;
    const bm::PageFields& p = layout.page;
    const auto entered = [&](std::uint64_t offset) {
        return std::binary_search(sound.enteredNodePages.begin(), sound.enteredNodePages.end(), offset);
    };
    const auto found = std::find_if(sound.scan.leafNodes.begin(), sound.scan.leafNodes.end(),
                                    [&](const bm::ScannedNode& n) { return n.nid == nid && entered(n.pageOffset); });
    if (found == sound.scan.leafNodes.end()) return false;
    const std::uint64_t pageOffset = found->pageOffset;

    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    const auto page = static_cast<std::size_t>(pageOffset);
    std::size_t stride = layout.nbtLeaf.size;
    if (p.sizedByFooter) stride = std::max<std::size_t>(stride, bytes[page + p.footerEntrySizeAt]);
    const auto count = static_cast<std::size_t>(GetLe(bytes, page + p.footerCountAt, p.footerFieldWidth));
    std::size_t index = count;
    for (std::size_t i = 0; i < count; ++i)
        if (GetLe(bytes, page + i * stride + layout.nbtLeaf.nidAt, 4) == nid) index = i;
    // The first entry is its leaf's key in the page above; taking it out
    // would need that key changed too, which this does not do.
    if (index == count || index == 0) return false;

    if (how == Deletion::StaleSlot) {
        for (const bm::ScannedNode& n : sound.scan.leafNodes)
            if (n.nid == nid && n.pageOffset != pageOffset) Scribble(bytes, n.pageOffset, p.size, n.pageOffset);
    }
    if (how == Deletion::StalePage) {
        // The page as it was, where a freed page would lie: past the end.
        const std::uint64_t copyAt = (bytes.size() + p.size - 1) / p.size * p.size;
        bytes.resize(static_cast<std::size_t>(copyAt + p.size), 0);
        std::memcpy(bytes.data() + copyAt, bytes.data() + page, p.size);
        SealPage(bytes, copyAt, p, false);
    }
    std::vector<std::uint8_t> entry(bytes.begin() + static_cast<std::ptrdiff_t>(page + index * stride),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(page + (index + 1) * stride));
    std::memmove(bytes.data() + page + index * stride, bytes.data() + page + (index + 1) * stride,
                 (count - index - 1) * stride);
    std::uint8_t* last = bytes.data() + page + (count - 1) * stride;
    if (how == Deletion::StaleSlot)
        std::memcpy(last, entry.data(), stride);
    else
        std::memset(last, 0, stride);
    PutLe(bytes, page + p.footerCountAt, p.footerFieldWidth, count - 1);
    SealPage(bytes, pageOffset, p, true);
    WriteWholeFile(path, bytes);
    return true;
}

// Overwrites the block `bid` (found by its trailer) with other bytes, as
// when its space is used again. False when no such block is in the file.
inline bool OverwriteBlock(const std::filesystem::path& path, std::uint64_t bid) {
    const SoundIndex sound = ReadSoundIndex(path);
    const auto found = std::find_if(sound.scan.blocks.begin(), sound.scan.blocks.end(),
                                    [&](const bm::ScannedBlock& b) { return b.bid == (bid & ~std::uint64_t{1}); });
    if (found == sound.scan.blocks.end()) return false;
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    Scribble(bytes, found->offset, found->size, bid);
    WriteWholeFile(path, bytes);
    return true;
}

// Leaves a copy of the block `bid` past the end of the file, under the
// lowest BID no block of the file has: an earlier version of it, freed when
// the mail client wrote the current one, that nothing names. Returns the
// copy's BID; 0 when no such block is in the file.
inline std::uint64_t LeaveEarlierCopy(const std::filesystem::path& path, std::uint64_t bid) {
    const SoundIndex sound = ReadSoundIndex(path);
    if (sound.layout == nullptr) return 0;
    const auto found = std::find_if(sound.scan.blocks.begin(), sound.scan.blocks.end(),
                                    [&](const bm::ScannedBlock& b) { return b.bid == (bid & ~std::uint64_t{1}); });
    if (found == sound.scan.blocks.end()) return 0;
    std::set<std::uint64_t> used;
    for (const bm::ScannedBlock& b : sound.scan.blocks) used.insert(b.bid & ~std::uint64_t{1});
    std::uint64_t copyBid = 4;
    while (used.count(copyBid) != 0) copyBid += 4;
    StoreImage image(*sound.layout);
    image.bytes() = ReadWholeFile(path);
    const auto begin = image.bytes().begin() + static_cast<std::ptrdiff_t>(found->offset);
    const std::vector<std::uint8_t> stored(begin, begin + found->size);
    image.WriteBlock(image.Reserve(0, sound.layout->block.alignment), copyBid, stored);
    image.Save(path);
    return copyBid;
}

}  // namespace bmtest
