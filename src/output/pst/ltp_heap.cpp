#include "output/pst/ltp_heap.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/byte_reader.h"
#include "output/pst/ndb_types.h"

namespace bm::pst {

namespace {

constexpr std::uint8_t kHeapSignature = 0xEC;
constexpr std::size_t kFirstHeaderSize = 12;   // HNHDR
constexpr std::size_t kPageHeaderSize = 2;     // HNPAGEHDR
constexpr std::size_t kBitmapHeaderSize = 66;  // HNBITMAPHDR
constexpr std::size_t kMaxAllocationsPerBlock = 0x7FF;  // 11-bit HID index

// Bytes the page map takes for a block of count allocations, with the byte
// that may be needed to bring the page map to an even offset.
constexpr std::size_t PageMapSize(std::size_t count) { return 1 + 4 + 2 * (count + 1); }

constexpr bool IsBitmapBlock(std::size_t index) { return index >= 8 && (index - 8) % 128 == 0; }

}  // namespace

std::uint8_t HeapFillLevel(std::size_t freeBytes) {
    static constexpr std::size_t kLowerBounds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                                   512,  256,  128,  64,   32,   16,   8};
    for (std::size_t level = 0; level < std::size(kLowerBounds); ++level) {
        if (freeBytes >= kLowerBounds[level]) return static_cast<std::uint8_t>(level);
    }
    return 15;
}

HeapBuilder::HeapBuilder(HeapClient client) : client_(client) {}

std::size_t HeapBuilder::HeaderSize(std::size_t blockIndex) {
    if (blockIndex == 0) return kFirstHeaderSize;
    return IsBitmapBlock(blockIndex) ? kBitmapHeaderSize : kPageHeaderSize;
}

Hid HeapBuilder::Allocate(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxHeapAllocation) {
        throw std::length_error("heap allocation of " + std::to_string(bytes.size()) + " bytes exceeds " +
                                std::to_string(kMaxHeapAllocation));
    }
    if (finished_) throw std::logic_error("the heap is finished");
    auto fits = [&](const Block& b) {
        return b.starts.size() < kMaxAllocationsPerBlock &&
               b.bytes.size() + bytes.size() + PageMapSize(b.starts.size() + 1) <= kMaxBlockData;
    };
    if (blocks_.empty() || !fits(blocks_.back())) {
        if (blocks_.size() > 0xFFFF) throw std::length_error("heap exceeds 65536 blocks");
        if (out_ && !blocks_.empty()) CloseBlock(blocks_.size() - 1, false);
        Block b;
        // A block never holds more than kMaxBlockData: room for all of it
        // at once spares the copies of a growing buffer.
        b.bytes.reserve(kMaxBlockData);
        b.starts.reserve(64);
        b.bytes.assign(HeaderSize(blocks_.size()), 0);
        blocks_.push_back(std::move(b));
    }
    Block& b = blocks_.back();
    b.starts.push_back(static_cast<std::uint16_t>(b.bytes.size()));
    b.bytes.insert(b.bytes.end(), bytes.begin(), bytes.end());
    const auto blockIndex = static_cast<std::uint32_t>(blocks_.size() - 1);
    return (blockIndex << 16) | (static_cast<std::uint32_t>(b.starts.size()) << 5);
}

std::vector<std::uint8_t>& HeapBuilder::Locate(Hid hid, std::size_t& start, std::size_t& size) {
    const std::size_t blockIndex = hid >> 16;
    const std::size_t index = (hid >> 5) & 0x7FF;
    if ((hid & 0x1F) != 0 || blockIndex >= blocks_.size() || index == 0 || index > blocks_[blockIndex].starts.size()) {
        throw std::invalid_argument("no heap allocation " + std::to_string(hid));
    }
    Block& b = blocks_[blockIndex];
    if (b.handedOver) throw std::invalid_argument("heap allocation " + std::to_string(hid) + " is written already");
    start = b.starts[index - 1];
    const std::size_t end = index < b.starts.size() ? b.starts[index] : b.bytes.size();
    size = end - start;
    return b.bytes;
}

void HeapBuilder::Overwrite(Hid hid, std::span<const std::uint8_t> bytes) {
    std::size_t start = 0;
    std::size_t size = 0;
    auto& data = Locate(hid, start, size);
    if (size != bytes.size()) throw std::invalid_argument("heap overwrite changes the allocation's size");
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(start));
}

std::vector<std::uint8_t> HeapBuilder::Seal(const Block& b, bool last, std::size_t& freeBytes) {
    const std::size_t mapSize = 4 + 2 * (b.starts.size() + 1);
    const std::size_t evenSize = b.bytes.size() + b.bytes.size() % 2;
    std::vector<std::uint8_t> block;
    block.reserve((last ? evenSize : std::max(evenSize, kMaxBlockData - mapSize)) + mapSize);
    block.assign(b.bytes.begin(), b.bytes.end());
    if (block.size() % 2 != 0) block.push_back(0);
    freeBytes = kMaxBlockData - block.size() - mapSize;
    // In a data tree every block but the last is full: the unused bytes
    // of a heap block lie between its last allocation and its page map.
    if (!last) block.resize(kMaxBlockData - mapSize, 0);
    const std::size_t pageMap = block.size();
    block.resize(pageMap + mapSize, 0);
    PutLe(block.data(), pageMap, 2);
    // Readers count a zero-length allocation as a freed item.
    std::size_t freed = 0;
    for (std::size_t k = 0; k < b.starts.size(); ++k) {
        const std::size_t end = k + 1 < b.starts.size() ? b.starts[k + 1] : b.bytes.size();
        if (end == b.starts[k]) ++freed;
    }
    PutLe(block.data() + pageMap, b.starts.size(), 2);
    PutLe(block.data() + pageMap + 2, freed, 2);
    for (std::size_t k = 0; k < b.starts.size(); ++k) PutLe(block.data() + pageMap + 4 + 2 * k, b.starts[k], 2);
    PutLe(block.data() + pageMap + 4 + 2 * b.starts.size(), b.bytes.size(), 2);
    return block;
}

// Fill levels: HNHDR covers blocks 0-7, each HNBITMAPHDR the 128 blocks
// from its own on; two blocks to a byte, the lower index in the low half.
void HeapBuilder::PutFillLevels(std::vector<std::uint8_t>& block, std::size_t at, std::size_t first,
                                std::size_t count) const {
    for (std::size_t k = 0; k < count && first + k < fill_.size(); ++k) {
        block[at + k / 2] |= static_cast<std::uint8_t>(fill_[first + k] << (4 * (k % 2)));
    }
}

void HeapBuilder::PutFirstHeader(std::vector<std::uint8_t>& first) const {
    first[2] = kHeapSignature;
    first[3] = static_cast<std::uint8_t>(client_);
    PutLe(first.data() + 4, userRoot_, 4);
    PutFillLevels(first, 8, 0, 8);
}

std::vector<std::vector<std::uint8_t>> HeapBuilder::Finish() const {
    if (out_) throw std::logic_error("a streamed heap is finished by FinishStreaming");
    // A copy, so that the levels of the blocks as sealed here can be kept.
    HeapBuilder sealed(client_);
    sealed.userRoot_ = userRoot_;
    std::vector<std::vector<std::uint8_t>> out;
    out.reserve(std::max<std::size_t>(blocks_.size(), 1));
    sealed.fill_.assign(blocks_.size(), 0);
    for (std::size_t i = 0; i < blocks_.size() || i == 0; ++i) {
        static const Block kEmpty{std::vector<std::uint8_t>(kFirstHeaderSize, 0), {}, false};
        const Block& b = i < blocks_.size() ? blocks_[i] : kEmpty;
        std::size_t freeBytes = 0;
        out.push_back(Seal(b, i + 1 >= blocks_.size(), freeBytes));
        if (i < sealed.fill_.size()) sealed.fill_[i] = HeapFillLevel(freeBytes);
    }
    sealed.PutFirstHeader(out[0]);
    for (std::size_t i = 8; i < out.size(); i += 128) sealed.PutFillLevels(out[i], 2, i, 128);
    return out;
}

void HeapBuilder::StreamBlocks(BlockOut out) {
    if (!blocks_.empty()) throw std::logic_error("a heap streams its blocks from its first allocation on");
    out_ = std::move(out);
}

void HeapBuilder::HandOver(std::size_t index, std::vector<std::uint8_t> bytes) {
    Block& b = blocks_[index];
    b.handedOver = true;
    std::vector<std::uint8_t>().swap(b.bytes);
    std::vector<std::uint16_t>().swap(b.starts);
    out_(index, std::move(bytes));
}

void HeapBuilder::CloseBlock(std::size_t index, bool last) {
    std::size_t freeBytes = 0;
    std::vector<std::uint8_t> sealed = Seal(blocks_[index], last, freeBytes);
    fill_.push_back(HeapFillLevel(freeBytes));
    // The first block and the bitmap blocks wait for levels still to come.
    if (index != 0 && !IsBitmapBlock(index)) HandOver(index, std::move(sealed));
    // A bitmap block is complete with the last of its 128 blocks.
    const std::size_t bitmap = index < 8 ? 0 : 8 + (index - 8) / 128 * 128;
    if (bitmap != 0 && (index == bitmap + 127 || last)) {
        std::size_t ignored = 0;
        std::vector<std::uint8_t> block = Seal(blocks_[bitmap], bitmap == index && last, ignored);
        PutFillLevels(block, 2, bitmap, 128);
        HandOver(bitmap, std::move(block));
    }
}

void HeapBuilder::FinishStreaming() {
    if (!out_) throw std::logic_error("the heap does not stream");
    if (finished_) return;
    finished_ = true;
    if (blocks_.empty()) {
        Block b;
        b.bytes.assign(kFirstHeaderSize, 0);
        blocks_.push_back(std::move(b));
    }
    CloseBlock(blocks_.size() - 1, true);
    std::size_t ignored = 0;
    std::vector<std::uint8_t> first = Seal(blocks_[0], blocks_.size() == 1, ignored);
    PutFirstHeader(first);
    HandOver(0, std::move(first));
}

}  // namespace bm::pst
