#include "store/blocks.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <optional>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "store/content_damage.h"

namespace bm {

namespace {

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    if (alignment == 0) return value;
    return (value + alignment - 1) / alignment * alignment;
}

// Inflates a zlib or gzip stream, or raw deflate data, into exactly
// `expected` bytes. On failure `out` keeps what inflated before the stream
// broke off (nothing when it never started).
bool InflateInto(std::span<const std::uint8_t> in, std::size_t expected, Bytes& out, int windowBits) {
    z_stream zs{};
    out.clear();
    if (inflateInit2(&zs, windowBits) != Z_OK) return false;
    out.assign(expected, 0);
    zs.next_in = const_cast<Bytef*>(in.data());  // zlib's API is not const-correct
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && zs.total_out == expected;
    out.resize(std::min<std::size_t>(zs.total_out, expected));
    inflateEnd(&zs);
    return ok;
}

// A block that fails to inflate keeps the longest start either form gave:
// the bytes before the damage are what the block held.
bool Inflate(std::span<const std::uint8_t> in, std::size_t expected, Bytes& out) {
    out.clear();
    if (in.size() > std::numeric_limits<uInt>::max() || expected > std::numeric_limits<uInt>::max()) return false;
    // A zlib header (CMF/FLG) or gzip magic first, raw deflate otherwise.
    if (InflateInto(in, expected, out, 15 + 32)) return true;
    Bytes raw;
    if (InflateInto(in, expected, raw, -15)) {
        out = std::move(raw);
        return true;
    }
    if (raw.size() > out.size()) out = std::move(raw);
    return false;
}

// Bytes a node's data may not exceed: the format's 32-bit total, and no more
// than the file's blocks can hold (a damaged tree naming one block many
// times cannot make the reader deliver without end).
std::uint64_t NodeDataCap(const StoreFile& store) {
    std::uint64_t fileBound = store.file.size();
    if (store.layout != nullptr && store.layout->block.compressed) {
        // A block of at least one alignment unit inflates to at most 64 KiB.
        fileBound = fileBound / store.layout->block.alignment * 65536 + 65536;
    }
    return std::min(kMaxNodeDataBytes, fileBound);
}

bool Deliver(const NodeDataTarget& target, std::span<const std::uint8_t> data) {
    if (target.buffer != nullptr) {
        target.buffer->insert(target.buffer->end(), data.begin(), data.end());
        return true;
    }
    if (target.sink && !data.empty()) return target.sink(data);
    return true;
}

// The block entry of a BID; a BID that is not in the table is damage.
const BlockEntry* FindCounted(StoreFile& store, std::uint64_t bid) {
    const BlockEntry* entry = FindBlock(store, bid);
    if (entry == nullptr) {
        ++store.damage.blocksMissing;
        NoteBlockFault(store, BlockFault::Missing, bid);
    }
    return entry;
}

std::size_t DecodeWithStore(const StoreFile& store, Bytes& data, std::uint64_t bid) {
    if (store.cryptMethod != 0 && !data.empty()) DecodeBlock(data, store.cryptMethod, bid);
    return data.size();
}

// One level of a data tree (the visit of each leaf below).
bool WalkTreeLevel(StoreFile& store, std::uint64_t bid, bool countMissing, unsigned depth,
                   const DataTreeVisitor& visit, Bytes& data) {
    const BlockEntry* entry = countMissing ? FindCounted(store, bid) : FindBlock(store, bid);
    if (entry == nullptr) return false;
    Bytes block;
    const std::size_t n = ReadBlockEntry(store, *entry, block);
    if (n == 0) return false;
    // Not an XBLOCK: the block is taken as the data itself.
    if (block[0] != kDataTreeBlockType) return visit(*entry, block);

    const ByteReader reader(block);
    const auto level = static_cast<std::uint8_t>(reader.peekAt(1, 1).value_or(0));
    const auto count = static_cast<std::size_t>(reader.peekAt(2, 2).value_or(0));
    // Only the top of a tree may hold further trees (XXBLOCK over XBLOCKs).
    if (level != 1 && depth > 0) return false;
    const std::size_t width = store.layout != nullptr ? store.layout->idWidth : 4;
    const std::size_t first = store.layout != nullptr ? store.layout->internal.dataTreeEntriesAt : 8;
    for (std::size_t i = 0; i < count; ++i) {
        const auto child = reader.peekAt(first + i * width, width);
        if (!child) break;  // entries past the bytes read are not there
        if (level != 1) {
            if (!WalkTreeLevel(store, *child, countMissing, depth + 1, visit, data)) return false;
            continue;
        }
        if (IsInternalBid(*child)) return false;  // an XBLOCK names data blocks only
        const BlockEntry* childEntry = countMissing ? FindCounted(store, *child) : FindBlock(store, *child);
        if (childEntry == nullptr) return false;
        if (ReadBlockEntry(store, *childEntry, data) == 0 || !visit(*childEntry, data)) return false;
    }
    return true;
}

// The data of a tree, delivered leaf by leaf. nullopt when a block could
// not be read (the bytes delivered so far stay delivered).
std::optional<std::uint64_t> DeliverTree(StoreFile& store, std::uint64_t bid, const NodeDataTarget& target,
                                         std::uint64_t total, std::uint64_t cap) {
    const bool whole = WalkDataTree(store, bid, true, [&](const BlockEntry& leaf, Bytes& bytes) {
        const std::size_t n = DecodeWithStore(store, bytes, leaf.bid());
        if (total + n > cap || !Deliver(target, bytes)) return false;
        total += n;
        return true;
    });
    if (!whole) return std::nullopt;
    return total;
}

}  // namespace

bool WalkDataTree(StoreFile& store, std::uint64_t bid, bool countMissing, const DataTreeVisitor& visit) {
    Bytes data;  // one buffer for the data blocks of the tree
    return WalkTreeLevel(store, bid, countMissing, 0, visit, data);
}

std::size_t ReadAt(const StoreFile& store, std::uint64_t offset, std::size_t length, Bytes& slot) {
    slot.clear();
    const std::uint64_t fileSize = store.file.size();
    if (!store.file.isOpen() || offset >= fileSize) return 0;
    const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(length, fileSize - offset));
    slot.resize(available);
    const std::size_t n = store.file.ReadAt(offset, slot);
    slot.resize(n);
    return n;
}

namespace {

std::size_t ReadBlockFromFile(StoreFile& store, const BlockEntry& entry, Bytes& slot, RecentBlocks::Damage& damage) {
    const StoreLayout* layout = store.layout;
    const std::size_t want = entry.size();
    std::size_t extent = want;
    if (layout != nullptr) extent = static_cast<std::size_t>(AlignUp(want + layout->block.size, layout->block.alignment));

    // Read straight into the slot: a caller that reads block after block
    // into one buffer keeps its capacity.
    const std::size_t got = ReadAt(store, entry.offset(), extent, slot);
    const std::size_t n = std::min(got, want);
    if (n < want) {
        ++store.damage.blocksUnreadable;
        damage.unreadable = true;
        NoteBlockFault(store, BlockFault::Unreadable, entry.bid());
    }
    if (layout != nullptr && got == extent) {
        const ByteReader reader(slot);
        const auto stored = reader.peekAt(extent - layout->block.size + layout->block.crcAt, 4);
        if (stored && *stored != ComputeCrc(std::span<const std::uint8_t>(slot.data(), want))) {
            ++store.damage.blockCrcMismatches;
            damage.crcMismatch = true;
            NoteBlockFault(store, BlockFault::ChecksumFailed, entry.bid());
        }
    }
    slot.resize(n);

    if (layout != nullptr && layout->block.compressed && entry.inflatedSize() > entry.size()) {
        Bytes inflated;
        if (n < want || !Inflate(slot, entry.inflatedSize(), inflated)) {
            if (n == want) {
                ++store.damage.blocksUnreadable;
                damage.unreadable = true;
                damage.notInflated = true;
                NoteBlockFault(store, BlockFault::NotInflated, entry.bid());
            }
            // What inflated before the damage is kept; a cut block keeps nothing.
            if (n < want) inflated.clear();
            slot = std::move(inflated);
            return slot.size();
        }
        slot = std::move(inflated);
        return slot.size();
    }
    return n;
}

}  // namespace

std::size_t ReadBlockEntry(StoreFile& store, const BlockEntry& entry, Bytes& slot) {
    RecentBlocks& recent = store.recentBlocks;
    if (!recent.enabled()) {
        RecentBlocks::Damage ignored;
        return ReadBlockFromFile(store, entry, slot, ignored);
    }
    const RecentBlocks::Key key{entry.offset(), static_cast<std::uint32_t>(entry.size()),
                                static_cast<std::uint32_t>(entry.inflatedSize())};
    if (const RecentBlocks::Slot* kept = recent.find(key)) {
        // Served again, damage and all.
        if (kept->damage.unreadable) {
            ++store.damage.blocksUnreadable;
            NoteBlockFault(store, kept->damage.notInflated ? BlockFault::NotInflated : BlockFault::Unreadable,
                           entry.bid());
        }
        if (kept->damage.crcMismatch) {
            ++store.damage.blockCrcMismatches;
            NoteBlockFault(store, BlockFault::ChecksumFailed, entry.bid());
        }
        slot.assign(kept->bytes.begin(), kept->bytes.end());
        return slot.size();
    }
    RecentBlocks::Damage damage;
    const std::size_t n = ReadBlockFromFile(store, entry, slot, damage);
    recent.keep(key, slot, damage);
    return n;
}

std::size_t ReadBlock(StoreFile& store, std::uint64_t bid, Bytes& slot) {
    const BlockEntry* entry = FindCounted(store, bid);
    return entry != nullptr ? ReadBlockEntry(store, *entry, slot) : 0;
}

std::size_t ReadBlockDecoded(StoreFile& store, std::uint64_t bid, Bytes& slot) {
    const BlockEntry* entry = FindCounted(store, bid);
    if (entry == nullptr) return 0;
    const std::size_t n = ReadBlockEntry(store, *entry, slot);
    DecodeWithStore(store, slot, entry->bid());
    return n;
}

int DecodeBlock(std::span<std::uint8_t> buffer, std::uint32_t method, std::uint64_t bid) {
    if (method > 2) return -1;
    DecodeBytes(buffer, static_cast<CryptMethod>(method), bid);
    return 0;
}

std::uint64_t ReadNodeData(StoreFile& store, const BlockEntry& entry, const NodeDataTarget& target,
                           std::uint64_t* delivered) {
    if (target.buffer != nullptr) target.buffer->clear();
    std::uint64_t total = 0;
    std::uint64_t arrived = 0;
    if (IsInternalBid(entry.bid())) {
        std::uint64_t sunk = 0;
        NodeDataTarget counted = target;
        if (target.buffer == nullptr && target.sink) {
            counted.sink = [&](std::span<const std::uint8_t> data) {
                if (!target.sink(data)) return false;
                sunk += data.size();
                return true;
            };
        }
        const auto result = DeliverTree(store, entry.bid(), counted, 0, NodeDataCap(store));
        arrived = target.buffer != nullptr ? target.buffer->size() : sunk;
        if (result) {
            total = *result;
        } else {
            ++store.damage.dataTreesIncomplete;
            NoteBlockFault(store, BlockFault::TreeCut, entry.bid());
        }
    } else if (target.buffer != nullptr) {
        const std::size_t n = ReadBlockEntry(store, entry, *target.buffer);
        DecodeWithStore(store, *target.buffer, entry.bid());
        total = arrived = n;
    } else {
        Bytes block;
        const std::size_t n = ReadBlockEntry(store, entry, block);
        DecodeWithStore(store, block, entry.bid());
        if (target.sink) {
            if (n == 0 || target.sink(block)) total = arrived = n;  // a refusing sink fails the read
        } else {
            total = n;
        }
    }
    if (delivered != nullptr) *delivered = arrived;
    return total;
}

std::uint64_t ReadDataTree(StoreFile& store, std::uint64_t bid, const NodeDataTarget& target, std::uint64_t total) {
    const std::uint64_t cap = NodeDataCap(store);
    if (total > cap) return 0;
    if (target.buffer != nullptr) target.buffer->resize(static_cast<std::size_t>(total));
    const auto result = DeliverTree(store, bid, target, total, cap);
    return result.value_or(0);
}

}  // namespace bm
