#include "support/store_image.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "common/byte_reader.h"
#include "common/format_tables.h"

namespace bmtest {

namespace {

constexpr std::size_t kHeaderArea = 0x400;

std::uint16_t DefaultVersion(const bm::StoreLayout& layout) {
    switch (layout.kind) {
        case bm::LayoutKind::Ansi: return 14;
        case bm::LayoutKind::Unicode: return 23;
        case bm::LayoutKind::Unicode4k: return 36;
    }
    return 0;
}

std::size_t AlignUp(std::size_t v, std::size_t a) { return a == 0 ? v : (v + a - 1) / a * a; }

// Offset of the trailer's BID: after dwCRC in the 8-byte layouts, before it
// in ANSI.
std::size_t PageBidAt(const bm::StoreLayout& layout) {
    return layout.page.crcCovers + (layout.idWidth == 4 ? 4 : 8);
}

// An internal block: its type, level and entry count, then `entries` of
// `entrySize` bytes each from `first` on, each written by `put`.
template <class Entry, class Put>
Bytes InternalBlock(std::uint8_t type, std::uint8_t level, const std::vector<Entry>& entries, std::size_t first,
                    std::size_t entrySize, Put put) {
    Bytes out(first + entries.size() * entrySize, 0);
    out[0] = type;
    out[1] = level;
    bm::PutLe(out.data() + 2, entries.size(), 2);
    for (std::size_t i = 0; i < entries.size(); ++i) put(out.data() + first + i * entrySize, entries[i]);
    return out;
}

}  // namespace

StoreImage::StoreImage(const bm::StoreLayout& layout, std::uint16_t formatVersion)
    : layout_(&layout), version_(formatVersion != 0 ? formatVersion : DefaultVersion(layout)), bytes_(kHeaderArea, 0) {}

void StoreImage::Put(std::uint64_t at, std::uint64_t value, std::size_t width) {
    if (bytes_.size() < at + width) bytes_.resize(at + width, 0);
    bm::PutLe(bytes_.data() + at, value, width);
}

void StoreImage::PutBytes(std::uint64_t at, std::span<const std::uint8_t> data) {
    if (bytes_.size() < at + data.size()) bytes_.resize(at + data.size(), 0);
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
}

void StoreImage::Zero(std::uint64_t at, std::size_t n) {
    if (bytes_.size() < at + n) bytes_.resize(at + n, 0);
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at), n, std::uint8_t{0});
}

std::uint64_t StoreImage::Reserve(std::size_t n, std::size_t alignment) {
    const std::size_t at = AlignUp(bytes_.size(), alignment);
    bytes_.resize(at + n, 0);
    return at;
}

void StoreImage::WriteHeader(std::uint64_t nbtRoot, std::uint64_t bbtRoot, std::uint8_t cryptMethod) {
    const bm::StoreLayout& l = *layout_;
    PutBytes(0, std::vector<std::uint8_t>{'!', 'B', 'D', 'N'});
    PutBytes(8, std::vector<std::uint8_t>{'S', 'O'});
    Put(10, version_, 2);
    Put(l.header.nbtRootOffsetAt, nbtRoot, l.idWidth);
    Put(l.header.bbtRootOffsetAt, bbtRoot, l.idWidth);
    Put(l.header.cryptMethodAt, cryptMethod, 1);
}

std::size_t StoreImage::BbtLeafCapacity() const { return layout_->page.footerCountAt / layout_->bbtLeaf.size; }
std::size_t StoreImage::NbtLeafCapacity() const { return layout_->page.footerCountAt / layout_->nbtLeaf.size; }
std::size_t StoreImage::InnerCapacity() const { return layout_->page.footerCountAt / layout_->inner.size; }

void StoreImage::WritePageTail(std::uint64_t at, PageType type, std::size_t count, std::size_t entrySize,
                               std::uint8_t level, const PageOptions& options) {
    const bm::StoreLayout& l = *layout_;
    const bm::PageFields& p = l.page;
    const std::size_t capacity = p.footerCountAt / entrySize;
    Put(at + p.footerCountAt, options.entryCount.value_or(static_cast<std::uint16_t>(count)), p.footerFieldWidth);
    Put(at + p.footerCapacityAt, capacity, p.footerFieldWidth);
    Put(at + p.footerEntrySizeAt, options.entrySize.value_or(static_cast<std::uint8_t>(entrySize)), 1);
    Put(at + p.footerEntrySizeAt + 1, level, 1);
    const std::size_t trailer = p.crcCovers;
    Put(at + trailer, static_cast<std::uint8_t>(type), 1);
    Put(at + trailer + 1, static_cast<std::uint8_t>(type), 1);
    Put(at + trailer + 2, bm::ComputeSignature(at, options.pageBid), 2);
    Put(at + PageBidAt(l), options.pageBid, l.idWidth);
    const std::uint32_t crc = bm::ComputeCrc(std::span<const std::uint8_t>(bytes_.data() + at, p.crcCovers));
    Put(at + p.crcAt, crc, 4);
}

void StoreImage::WritePage(std::uint64_t at, PageType type, std::size_t count, std::size_t entrySize,
                           std::uint8_t level, const PageOptions& options,
                           const std::function<void(std::uint64_t e, std::size_t i)>& putEntry) {
    Zero(at, layout_->page.size);
    for (std::size_t i = 0; i < count; ++i) putEntry(at + i * entrySize, i);
    WritePageTail(at, type, count, entrySize, level, options);
}

void StoreImage::WriteBbtLeafPage(std::uint64_t at, const std::vector<BbtLeafEntry>& entries,
                                  const PageOptions& options) {
    const std::size_t w = layout_->idWidth;
    const bm::BlockEntryFields& f = layout_->bbtLeaf;
    WritePage(at, PageType::Bbt, entries.size(), f.size, 0, options, [&](std::uint64_t e, std::size_t i) {
        const BbtLeafEntry& entry = entries[i];
        Put(e + f.bidAt, entry.bid, w);
        Put(e + f.offsetAt, entry.offset, w);
        Put(e + f.cbAt, entry.cb, 2);
        Put(e + f.refCountAt, static_cast<std::uint16_t>(entry.refCount), 2);
        if (f.inflatedAt != bm::kNoField) Put(e + f.inflatedAt, entry.inflated ? entry.inflated : entry.cb, 2);
    });
}

void StoreImage::WriteNbtLeafPage(std::uint64_t at, const std::vector<NbtLeafEntry>& entries,
                                  const PageOptions& options) {
    const std::size_t w = layout_->idWidth;
    const bm::NodeEntryFields& f = layout_->nbtLeaf;
    WritePage(at, PageType::Nbt, entries.size(), f.size, 0, options, [&](std::uint64_t e, std::size_t i) {
        Put(e + f.nidAt, entries[i].nid, w);
        Put(e + f.bidDataAt, entries[i].bidData, w);
        Put(e + f.bidSubAt, entries[i].bidSub, w);
        Put(e + f.parentAt, entries[i].nidParent, 4);
    });
}

void StoreImage::WriteInnerPage(std::uint64_t at, PageType type, const std::vector<InnerEntry>& entries,
                                std::uint8_t level, const PageOptions& options) {
    const std::size_t w = layout_->idWidth;
    const bm::InnerEntryFields& f = layout_->inner;
    WritePage(at, type, entries.size(), f.size, level, options, [&](std::uint64_t e, std::size_t i) {
        Put(e + f.keyAt, entries[i].key, w);
        Put(e + f.keyAt + w, entries[i].bid, w);
        Put(e + f.offsetAt, entries[i].offset, w);
    });
}

std::size_t StoreImage::WriteBlock(std::uint64_t at, std::uint64_t bid, std::span<const std::uint8_t> stored,
                                   std::uint16_t inflated) {
    const bm::BlockTrailerFields& t = layout_->block;
    const std::size_t extent = AlignUp(stored.size() + t.size, t.alignment);
    Zero(at, extent);
    PutBytes(at, stored);
    const std::uint64_t trailer = at + extent - t.size;
    Put(trailer + t.cbAt, stored.size(), 2);
    Put(trailer + 2, bm::ComputeSignature(at, bid), 2);
    Put(trailer + t.crcAt, bm::ComputeCrc(stored), 4);
    Put(trailer + t.bidAt, bid, layout_->idWidth);
    if (layout_->bbtLeaf.inflatedAt != bm::kNoField) {
        Put(trailer + 16, 2, 2);
        Put(trailer + 18, inflated != 0 ? inflated : stored.size(), 2);
    }
    return extent;
}

BbtLeafEntry StoreImage::AddRawBlock(std::uint64_t bid, std::span<const std::uint8_t> stored, std::uint16_t inflated) {
    const std::uint64_t at = Reserve(0, layout_->block.alignment);
    WriteBlock(at, bid, stored, inflated);
    BbtLeafEntry e;
    e.bid = bid;
    e.offset = at;
    e.cb = static_cast<std::uint16_t>(stored.size());
    e.inflated = inflated;
    return e;
}

BbtLeafEntry StoreImage::AddDataBlock(std::uint64_t bid, std::span<const std::uint8_t> plain,
                                      std::uint32_t cryptMethod) {
    Bytes stored(plain.begin(), plain.end());
    bm::EncodeBytes(stored, static_cast<bm::CryptMethod>(cryptMethod), bid);
    return AddRawBlock(bid, stored);
}

BbtLeafEntry StoreImage::AddCompressedBlock(std::uint64_t bid, std::span<const std::uint8_t> plain, Deflate form) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, form == Deflate::Raw ? -15 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflate failed");
    Bytes stored(deflateBound(&zs, static_cast<uLong>(plain.size())));
    zs.next_in = const_cast<Bytef*>(plain.data());
    zs.avail_in = static_cast<uInt>(plain.size());
    zs.next_out = stored.data();
    zs.avail_out = static_cast<uInt>(stored.size());
    const int rc = deflate(&zs, Z_FINISH);
    stored.resize(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return AddRawBlock(bid, stored, static_cast<std::uint16_t>(plain.size()));
}

Bytes StoreImage::XBlock(const std::vector<std::uint64_t>& bids, std::uint32_t totalBytes, std::uint8_t level) const {
    const std::size_t w = layout_->idWidth;
    Bytes out = InternalBlock(1, level, bids, layout_->internal.dataTreeEntriesAt, w,
                              [w](std::uint8_t* e, std::uint64_t bid) { bm::PutLe(e, bid, w); });
    bm::PutLe(out.data() + 4, totalBytes, 4);
    return out;
}

Bytes StoreImage::SlBlock(const std::vector<SubnodeLeafEntry>& entries) const {
    const std::size_t w = layout_->idWidth;
    return InternalBlock(2, 0, entries, layout_->internal.subnodeEntriesAt, layout_->internal.subnodeLeafSize,
                         [w](std::uint8_t* e, const SubnodeLeafEntry& entry) {
                             bm::PutLe(e, entry.nid, w);
                             bm::PutLe(e + w, entry.bidData, w);
                             bm::PutLe(e + 2 * w, entry.bidSub, w);
                         });
}

Bytes StoreImage::SiBlock(const std::vector<SubnodeInnerEntry>& entries) const {
    const std::size_t w = layout_->idWidth;
    return InternalBlock(2, 1, entries, layout_->internal.subnodeEntriesAt, layout_->internal.subnodeInnerSize,
                         [w](std::uint8_t* e, const SubnodeInnerEntry& entry) {
                             bm::PutLe(e, entry.nid, w);
                             bm::PutLe(e + w, entry.bidSl, w);
                         });
}

void StoreImage::Save(const std::filesystem::path& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

StoreBuilder::StoreBuilder(const bm::StoreLayout& layout, std::uint16_t formatVersion)
    : layout_(&layout), version_(formatVersion) {}

void StoreBuilder::AddDataBlock(std::uint64_t bid, Bytes plain) { blocks_.push_back({bid, std::move(plain), false}); }

void StoreBuilder::AddInternalBlock(std::uint64_t bid, Bytes stored) {
    blocks_.push_back({bid, std::move(stored), true});
}

void StoreBuilder::AddNode(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub, std::uint32_t nidParent) {
    nodes_.push_back({nid, bidData, bidSub, nidParent});
}

namespace {

// Lays out one tree: leaf pages of `perPage` entries, then inner levels of
// at most `innerCapacity` entries until one root remains.
template <typename Entry, typename KeyOf, typename WriteLeaf>
std::uint64_t LayOutTree(StoreImage& image, PageType type, const std::vector<Entry>& entries, std::size_t perPage,
                         std::size_t innerCapacity, KeyOf keyOf, WriteLeaf writeLeaf,
                         std::vector<std::uint64_t>& leafPages) {
    const std::size_t pageSize = image.layout().page.size;
    std::vector<InnerEntry> level;
    std::uint64_t pageBid = type == PageType::Bbt ? 0x100001 : 0x200001;
    for (std::size_t start = 0; start < entries.size() || start == 0; start += perPage) {
        const std::size_t end = std::min(entries.size(), start + perPage);
        std::vector<Entry> chunk(entries.begin() + static_cast<std::ptrdiff_t>(start),
                                 entries.begin() + static_cast<std::ptrdiff_t>(end));
        const std::uint64_t at = image.Reserve(pageSize, pageSize);
        PageOptions options;
        options.pageBid = pageBid += 4;
        writeLeaf(at, chunk, options);
        leafPages.push_back(at);
        level.push_back({chunk.empty() ? 0 : keyOf(chunk.front()), at, options.pageBid});
        if (entries.empty()) break;
    }
    std::uint8_t depth = 1;
    while (level.size() > 1) {
        std::vector<InnerEntry> upper;
        for (std::size_t start = 0; start < level.size(); start += innerCapacity) {
            const std::size_t end = std::min(level.size(), start + innerCapacity);
            std::vector<InnerEntry> chunk(level.begin() + static_cast<std::ptrdiff_t>(start),
                                          level.begin() + static_cast<std::ptrdiff_t>(end));
            const std::uint64_t at = image.Reserve(pageSize, pageSize);
            PageOptions options;
            options.pageBid = pageBid += 4;
            image.WriteInnerPage(at, type, chunk, depth, options);
            upper.push_back({chunk.front().key, at, options.pageBid});
        }
        level = std::move(upper);
        ++depth;
    }
    return level.front().offset;
}

}  // namespace

BuiltStore StoreBuilder::Build() const {
    BuiltStore built{StoreImage(*layout_, version_), 0, 0, {}, {}, {}};
    StoreImage& image = built.image;
    for (const PendingBlock& b : blocks_) {
        built.blocks.push_back(b.internal ? image.AddRawBlock(b.bid, b.bytes)
                                          : image.AddDataBlock(b.bid, b.bytes, cryptMethod_));
    }
    std::sort(built.blocks.begin(), built.blocks.end(),
              [](const BbtLeafEntry& a, const BbtLeafEntry& b) { return a.bid < b.bid; });
    std::vector<NbtLeafEntry> nodes = nodes_;
    std::sort(nodes.begin(), nodes.end(), [](const NbtLeafEntry& a, const NbtLeafEntry& b) { return a.nid < b.nid; });

    const std::size_t bbtPer = bbtPerPage_ != 0 ? bbtPerPage_ : image.BbtLeafCapacity();
    const std::size_t nbtPer = nbtPerPage_ != 0 ? nbtPerPage_ : image.NbtLeafCapacity();
    built.bbtRoot = LayOutTree(
        image, PageType::Bbt, built.blocks, bbtPer, image.InnerCapacity(),
        [](const BbtLeafEntry& e) { return e.bid; },
        [&](std::uint64_t at, const std::vector<BbtLeafEntry>& chunk, const PageOptions& o) {
            image.WriteBbtLeafPage(at, chunk, o);
        },
        built.bbtLeafPages);
    built.nbtRoot = LayOutTree(
        image, PageType::Nbt, nodes, nbtPer, image.InnerCapacity(),
        [](const NbtLeafEntry& e) { return std::uint64_t{e.nid}; },
        [&](std::uint64_t at, const std::vector<NbtLeafEntry>& chunk, const PageOptions& o) {
            image.WriteNbtLeafPage(at, chunk, o);
        },
        built.nbtLeafPages);
    image.WriteHeader(built.nbtRoot, built.bbtRoot, cryptMethod_);
    // Room after the last page, so that the fixed read length of the walks
    // (which reaches past a page) is satisfied as in a real store.
    image.Reserve(image.layout().page.nbtReadLength, image.layout().page.size);
    return built;
}

Bytes MinimalHeap(std::size_t size) {
    Bytes heap(std::max<std::size_t>(size, 4), 0);
    heap[0] = static_cast<std::uint8_t>(heap.size() - 2);  // ibHnpm, plausible
    heap[2] = 0xEC;
    heap[3] = 0xBC;
    return heap;
}

}  // namespace bmtest
