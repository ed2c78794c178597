#include "store/store_scan.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "store/block_structure.h"
#include "store/blocks.h"

namespace bm {

namespace {

constexpr std::uint64_t kChunkBytes = 4u << 20;
// Blocks of the 512-byte-page layouts never exceed 8 KiB with their trailer;
// the 4 KiB layout's cb is 16-bit, so its largest block is 64 KiB plus a
// trailer, aligned.
constexpr std::uint64_t kLargestBlock = 8192;
constexpr std::uint64_t kLargestBlock4k = 65536 + 512;
constexpr std::size_t kCryptSampleBlocks = 512;
// No index tree of a store is deeper than this; a larger level in a page
// whose checksum failed is damage.
constexpr std::uint8_t kMostPageLevels = 8;

// Positions the scan walks stay below this, so no arithmetic on them wraps
// (a file is never this large).
constexpr std::uint64_t kLastScannedOffset = std::uint64_t{1} << 62;

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

std::uint64_t LargestBlock(const StoreLayout& layout) {
    return layout.block.compressed ? kLargestBlock4k : kLargestBlock;
}

// Where the page's own BID sits: after dwCRC when dwCRC follows wSig (the
// 8-byte layouts), before it otherwise (ANSI).
std::size_t PageBidAt(const StoreLayout& layout) {
    const PageFields& p = layout.page;
    return p.crcAt == p.crcCovers + 4 ? p.crcCovers + 8 : p.crcCovers + 4;
}

class ChunkScanner {
public:
    ChunkScanner(const StoreLayout& layout, StoreScan& out, const ScanFilters& filters, std::uint64_t fileSize)
        : layout_(layout), out_(out), filters_(filters), fileSize_(fileSize) {}

    // Tries every aligned end in (from, to] of a buffer that starts at
    // file offset `bufferStart`. Ends past the buffer are not tried, so the
    // walk never runs beyond the bytes read (nor wraps past 2^64 when the
    // positions came from a damaged entry).
    void Scan(const ByteReader& buffer, std::uint64_t bufferStart, std::uint64_t from, std::uint64_t to) {
        const std::uint64_t align = layout_.block.alignment;
        const std::uint64_t pageSize = layout_.page.size;
        if (bufferStart > kLastScannedOffset || buffer.size() > kLastScannedOffset - bufferStart) return;
        to = std::min(to, bufferStart + buffer.size());
        if (from >= to) return;
        for (std::uint64_t end = AlignUp(from + 1, align); end <= to; end += align) {
            TryBlock(buffer, bufferStart, end);
            if (end % pageSize == 0 && end >= pageSize + bufferStart) TryPage(buffer, bufferStart, end - pageSize);
        }
    }

private:
    void TryBlock(const ByteReader& buf, std::uint64_t bufferStart, std::uint64_t end) {
        const BlockTrailerFields& t = layout_.block;
        if (end < bufferStart + t.size) return;
        const std::size_t at = static_cast<std::size_t>(end - t.size - bufferStart);
        const auto cb = buf.peekAt(at + t.cbAt, 2).value_or(0);
        if (cb == 0 || cb + t.size > LargestBlock(layout_)) return;
        const std::uint64_t extent = AlignUp(cb + t.size, t.alignment);
        if (extent > end - bufferStart) return;
        const std::uint64_t start = end - extent;
        const auto bid = buf.peekAt(at + t.bidAt, layout_.idWidth).value_or(0);
        if (bid == 0) return;
        if (buf.peekAt(at + 2, 2).value_or(0) != ComputeSignature(start, bid)) return;
        const auto crc = buf.peekAt(at + t.crcAt, 4);
        const ByteReader data = buf.sub(static_cast<std::size_t>(start - bufferStart), static_cast<std::size_t>(cb));
        if (!crc || data.failed()) return;
        ScannedBlock block;
        block.bid = bid & ~std::uint64_t{1};
        block.offset = start;
        block.size = static_cast<std::uint32_t>(cb);
        block.inflatedSize = block.size;
        if (layout_.bbtLeaf.inflatedAt != kNoField) {
            // The 4 KiB trailer keeps the inflated size after the BID.
            const auto inflated = buf.peekAt(at + t.bidAt + 10, 2).value_or(0);
            if (inflated != 0) block.inflatedSize = static_cast<std::uint32_t>(inflated);
        }
        // A block whose checksum fails is taken when its structure holds
        // (see block_structure.h); it is marked, and never a crypt sample.
        block.checksumFailed = *crc != ComputeCrc(data.data());
        if (block.checksumFailed && !BlockStructureHolds(data.data(), block.bid, block.inflatedSize, layout_)) return;
        ++out_.blocksFound;
        if (block.checksumFailed) ++out_.blocksChecksumFailed;
        if (!block.checksumFailed && out_.cryptSample.size() < kCryptSampleBlocks && !IsInternalBid(block.bid) &&
            block.size >= 4 && block.inflatedSize == block.size)
            out_.cryptSample.push_back(block);
        if (!filters_.keepBlock || filters_.keepBlock(block)) out_.blocks.push_back(block);
    }

    void TryPage(const ByteReader& buf, std::uint64_t bufferStart, std::uint64_t offset) {
        const PageFields& p = layout_.page;
        const ByteReader page = buf.sub(static_cast<std::size_t>(offset - bufferStart), p.size);
        if (page.failed()) return;
        const auto type = page.peekAt(p.crcCovers, 1).value_or(0);
        if (type != kBlockTreePageType && type != kNodeTreePageType) return;
        if (page.peekAt(p.crcCovers + 1, 1).value_or(0) != type) return;
        const auto bid = page.peekAt(PageBidAt(layout_), layout_.idWidth).value_or(0);
        const auto sig = page.peekAt(p.crcCovers + 2, 2).value_or(0);
        if (sig != 0 && sig != ComputeSignature(offset, bid)) return;
        const auto crc = page.peekAt(p.crcAt, 4);
        if (!crc) return;

        ScannedPage found;
        found.offset = offset;
        found.bid = bid;
        found.type = static_cast<std::uint8_t>(type);
        found.level = static_cast<std::uint8_t>(page.peekAt(p.footerEntrySizeAt + 1, 1).value_or(0));
        // A page whose checksum fails is taken when its own signature holds
        // and so do its keys and references: an inner page's keys rise and
        // its children lie inside the file on page boundaries; a leaf's
        // entries are taken one by one, each by its own checks.
        found.checksumFailed = *crc != ComputeCrc(page.data().first(p.crcCovers));
        if (found.checksumFailed && (sig == 0 || found.level > kMostPageLevels)) return;
        if (found.checksumFailed && found.level != 0 && !InnerPageHolds(page)) return;
        std::size_t taken = 1;
        if (found.level == 0) {
            taken = type == kBlockTreePageType ? TakeBlockLeaf(page, found.checksumFailed)
                                               : TakeNodeLeaf(page, offset, found.checksumFailed);
        }
        if (found.checksumFailed && taken == 0) return;
        ++out_.pagesFound;
        if (found.checksumFailed) ++out_.pagesChecksumFailed;
        if (!filters_.keepPage || filters_.keepPage(found)) out_.pages.push_back(found);
    }

    // An inner page whose checksum failed: its live entries' keys rise and
    // name children inside the file on page boundaries.
    bool InnerPageHolds(const ByteReader& page) const {
        const InnerEntryFields& f = layout_.inner;
        const auto slots = LeafSlots(page, f.size);
        // Named apart, not bound: a lambda below may take the stride.
        const std::size_t count = slots.live, stride = slots.stride;
        if (count == 0) return false;
        const std::size_t keyWidth = page.peekAt(layout_.page.crcCovers, 1) == kNodeTreePageType ? 4 : layout_.idWidth;
        std::optional<std::uint64_t> previous;
        for (std::size_t i = 0; i < count; ++i) {
            const auto key = page.peekAt(i * stride + f.keyAt, keyWidth);
            const auto child = page.peekAt(i * stride + f.offsetAt, layout_.idWidth);
            if (!key || !child || (previous && *key <= *previous)) return false;
            if (*child >= fileSize_ || *child % layout_.page.size != 0) return false;
            previous = key;
        }
        return true;
    }

    // Whether the key at slot `i` of a page whose checksum failed rises
    // above the last one taken and below the next slot's or the one after
    // (a single damaged key then costs only itself).
    template <typename KeyAt>
    static bool KeyRises(const KeyAt& keyAt, std::size_t i, std::size_t count,
                         const std::optional<std::uint64_t>& lastTaken) {
        const std::uint64_t key = keyAt(i);
        if (key == 0 || (lastTaken && key <= *lastTaken)) return false;
        if (i + 1 >= count) return true;
        return key < keyAt(i + 1) || (i + 2 < count && key < keyAt(i + 2));
    }

    // The slots of a leaf: how many are live (the page's count, capped by
    // its room), how many fit, and their stride.
    struct Slots {
        std::size_t live = 0;
        std::size_t room = 0;
        std::size_t stride = 0;
    };
    Slots LeafSlots(const ByteReader& page, std::size_t entrySize) const {
        const PageFields& p = layout_.page;
        std::size_t stride = entrySize;
        if (p.sizedByFooter) {
            const auto cbEnt = static_cast<std::size_t>(page.peekAt(p.footerEntrySizeAt, 1).value_or(0));
            if (cbEnt >= entrySize) stride = cbEnt;
        }
        const auto count = static_cast<std::size_t>(page.peekAt(p.footerCountAt, p.footerFieldWidth).value_or(0));
        const std::size_t room = p.footerCountAt / stride;
        return {std::min(count, room), room, stride};
    }

    // The entries of a block-tree leaf; those of a page whose checksum
    // failed only when the key rises and the block they name lies inside
    // the file on a block boundary with a size a block can have. Returns
    // the entries that passed.
    std::size_t TakeBlockLeaf(const ByteReader& page, bool checksumFailed) {
        const BlockEntryFields& f = layout_.bbtLeaf;
        const auto slots = LeafSlots(page, f.size);
        // Named apart, not bound: a lambda below may take the stride.
        const std::size_t count = slots.live, stride = slots.stride;
        const auto bidAt = [&](std::size_t i) {
            return page.peekAt(i * stride + f.bidAt, layout_.idWidth).value_or(0) & ~std::uint64_t{1};
        };
        std::optional<std::uint64_t> lastTaken;
        std::size_t taken = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = i * stride;
            BlockInfo e;
            e.bid = bidAt(i);
            if (e.bid == 0) continue;
            e.offset = page.peekAt(at + f.offsetAt, layout_.idWidth).value_or(0);
            e.size = static_cast<std::uint32_t>(page.peekAt(at + f.cbAt, 2).value_or(0));
            e.refCount = static_cast<std::int16_t>(page.peekAt(at + f.refCountAt, 2).value_or(0));
            e.inflatedSize = e.size;
            if (f.inflatedAt != kNoField)
                e.inflatedSize = static_cast<std::uint32_t>(page.peekAt(at + f.inflatedAt, 2).value_or(0));
            if (checksumFailed) {
                const bool holds = KeyRises(bidAt, i, count, lastTaken) && e.offset < fileSize_ &&
                                   e.offset % layout_.block.alignment == 0 && e.size != 0 &&
                                   e.size + layout_.block.size <= LargestBlock(layout_) && e.inflatedSize >= e.size;
                if (!holds) continue;
                lastTaken = e.bid;
            }
            ++taken;
            if (!filters_.keepLeafBlock || filters_.keepLeafBlock(e.bid)) out_.leafBlocks.push_back(e);
        }
        return taken;
    }

    // The entries of a node-tree leaf; those of a page whose checksum failed
    // only when the key rises (and none of its stale slots). Returns the
    // live entries that passed.
    std::size_t TakeNodeLeaf(const ByteReader& page, std::uint64_t offset, bool checksumFailed) {
        const NodeEntryFields& f = layout_.nbtLeaf;
        const auto slots = LeafSlots(page, f.size);
        // Named apart, not bound: a lambda below may take the stride.
        const std::size_t count = slots.live, room = slots.room, stride = slots.stride;
        const auto nidAt = [&](std::size_t i) { return page.peekAt(i * stride + f.nidAt, 4).value_or(0); };
        std::optional<std::uint64_t> lastTaken;
        std::size_t taken = 0;
        // Slots past the live count keep what an earlier version of the
        // page held there (entries moved or removed since); they go apart.
        for (std::size_t i = 0; i < (checksumFailed ? count : room); ++i) {
            const std::size_t at = i * stride;
            ScannedNode n;
            n.nid = static_cast<std::uint32_t>(nidAt(i));
            if (n.nid == 0) continue;
            if (checksumFailed) {
                if (!KeyRises(nidAt, i, count, lastTaken)) continue;
                lastTaken = n.nid;
            }
            n.bidData = page.peekAt(at + f.bidDataAt, layout_.idWidth).value_or(0);
            n.bidSub = page.peekAt(at + f.bidSubAt, layout_.idWidth).value_or(0);
            n.nidParent = static_cast<std::uint32_t>(page.peekAt(at + f.parentAt, 4).value_or(0));
            n.pageOffset = offset;
            n.doubtful = checksumFailed;
            if (i < count) ++taken;
            const auto& keep = i < count ? filters_.keepLeafNode : filters_.keepStaleLeafNode;
            if (!keep || keep(n)) (i < count ? out_.leafNodes : out_.staleLeafNodes).push_back(n);
        }
        return taken;
    }

    const StoreLayout& layout_;
    StoreScan& out_;
    const ScanFilters& filters_;
    std::uint64_t fileSize_;
};

}  // namespace

StoreScan ScanStoreFile(const StoreFileHandle& file, const StoreLayout& layout, StoreReader* reader,
                        const ScanProgress& progress, std::uint64_t limit, const ScanFilters& filters) {
    StoreScan out;
    out.layout = &layout;
    const std::uint64_t end = limit != 0 ? std::min(limit, file.size()) : file.size();
    const std::uint64_t overlap = std::max<std::uint64_t>(LargestBlock(layout), layout.page.size);
    ChunkScanner scanner(layout, out, filters, file.size());
    Bytes buffer;
    for (std::uint64_t base = 0; base < end; base += kChunkBytes) {
        if (reader != nullptr) {
            reader->pauseGate.Pass();
            if (reader->StopRequested()) {
                out.stopped = true;
                break;
            }
        }
        const std::uint64_t bufferStart = base >= overlap ? base - overlap : 0;
        const std::uint64_t want = std::min(end, base + kChunkBytes) - bufferStart;
        buffer.resize(static_cast<std::size_t>(want));
        const std::size_t got = file.ReadAt(bufferStart, buffer);
        if (got <= base - bufferStart) break;
        const ByteReader bytes(buffer.data(), got);
        scanner.Scan(bytes, bufferStart, base, bufferStart + got);
        out.bytesScanned = bufferStart + got;
        if (progress) progress(out.bytesScanned, end);
    }
    return out;
}

bool ScanFindsBlockAt(const StoreFileHandle& file, const StoreLayout& layout, std::uint64_t offset,
                      std::uint64_t bid) {
    // A block is at most LargestBlock bytes with its trailer, so every end
    // the scan could have taken it at lies in (offset, offset + LargestBlock].
    // An offset at or past the end of the file (a damaged entry's) holds no
    // block: nothing is read and nothing is added to it.
    if (offset >= file.size()) return false;
    Bytes buffer(static_cast<std::size_t>(LargestBlock(layout)));
    const std::size_t got = file.ReadAt(offset, buffer);
    StoreScan found;
    ScanFilters onlyThatBlock;
    onlyThatBlock.keepBlock = [&](const ScannedBlock& b) { return b.offset == offset && b.bid == bid; };
    ChunkScanner scanner(layout, found, onlyThatBlock, file.size());
    scanner.Scan(ByteReader(buffer.data(), got), offset, offset, offset + got);
    return !found.blocks.empty();
}

const StoreLayout* DetectLayout(const StoreFileHandle& file, std::uint64_t sampleBytes) {
    const StoreLayout* best = nullptr;
    std::size_t bestScore = 0;
    for (const StoreLayout* layout : {&kAnsiLayout, &kUnicodeLayout, &kUnicode4kLayout}) {
        const StoreScan sample = ScanStoreFile(file, *layout, nullptr, {}, sampleBytes);
        const std::size_t score = sample.blocks.size() + sample.pages.size();
        if (score > bestScore) {
            bestScore = score;
            best = layout;
        }
    }
    return best;
}

std::uint32_t DetectCryptMethod(const StoreFileHandle& file, const StoreScan& scan) {
    std::array<std::size_t, 3> votes{};
    std::size_t sampled = 0;
    for (const ScannedBlock& block : scan.cryptSample) {
        if (sampled == kCryptSampleBlocks) break;
        if (IsInternalBid(block.bid) || block.size < 4 || block.inflatedSize != block.size) continue;
        std::array<std::uint8_t, 4> head{};
        if (file.ReadAt(block.offset, head) != head.size()) continue;
        ++sampled;
        for (std::uint32_t method = 0; method < votes.size(); ++method) {
            std::array<std::uint8_t, 4> plain = head;
            DecodeBytes(plain, static_cast<CryptMethod>(method), block.bid);
            if (plain[2] == 0xEC && (plain[3] == 0xBC || plain[3] == 0x7C)) ++votes[method];
        }
    }
    std::uint32_t best = 1;
    for (std::uint32_t method = 0; method < votes.size(); ++method)
        if (votes[method] > votes[best]) best = method;
    return best;
}

std::uint32_t FormatVersionOf(const StoreLayout& layout) {
    switch (layout.kind) {
    case LayoutKind::Ansi: return 14;
    case LayoutKind::Unicode: return 23;
    case LayoutKind::Unicode4k: return 36;
    }
    return 23;
}

}  // namespace bm
