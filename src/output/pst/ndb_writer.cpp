// Sequential writer of the node database layer.
//
// Space is handed out from the end of the file only: every block and page is
// appended at the next offset with the alignment it needs (64 bytes for
// blocks, 512 for pages), skipping the map pages at the start of each
// allocation-map interval and never letting a block or page cross into the
// next interval. Skipped bytes are remembered as free ranges; together with
// the blocks that end without references they are all the AMap has to mark
// free, so the maps are computed at Finish from that list alone. The
// header's free-space counters (cbAMapFree, cbPMapFree) are then counted
// from the map pages as written, never kept as running totals.
//
// Block BIDs are 4 * n (+ 2 for internal blocks) for the n-th block written,
// so a BID leads straight to its record. Reference counts on disk follow the
// convention of real stores: one more than the references the store holds.
#include "output/pst/ndb_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include "common/byte_reader.h"
#include "common/chunked_array.h"
#include "output/pst/ndb_file.h"
#include "output/pst/ndb_layout.h"

namespace bm::pst {

namespace {

constexpr std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }
constexpr std::uint64_t BlockSpan(std::size_t cb) { return AlignUp(cb + kBlockTrailerSize, kBlockAlign); }

// 16 bytes a block: these records are most of what the writer keeps.
struct BlockRecord {
    std::uint64_t ib = 0;
    std::uint32_t children = 0;  // internal: where its child list starts in children_
    std::uint16_t cbFlags = 0;   // cb (at most 8176) and the two flags above it
    std::uint16_t refs = 0;

    static constexpr std::uint16_t kInternal = 0x2000;
    static constexpr std::uint16_t kDropped = 0x4000;
    std::uint16_t cb() const { return cbFlags & 0x1FFF; }
    bool internal() const { return (cbFlags & kInternal) != 0; }
    bool live() const { return (cbFlags & kDropped) == 0; }
};
static_assert(sizeof(BlockRecord) == 16);

// 24 bytes a node.
struct NodeRecord {
    Bid data;
    Bid subnodes;
    Nid nid;
    Nid parent;
};
static_assert(sizeof(NodeRecord) == 24);

struct FreeRange {
    std::uint64_t start;
    std::uint64_t length;
};

struct PageRef {
    std::uint64_t key;
    Bid bid;
    std::uint64_t ib;
};

// First free index of each NID type; real stores keep the indexes below
// these for their fixed nodes.
std::array<std::uint32_t, 32> InitialNidIndexes() {
    std::array<std::uint32_t, 32> next{};
    next.fill(0x400);
    next[static_cast<std::size_t>(NidType::SearchFolder)] = 0x4000;
    next[static_cast<std::size_t>(NidType::AssocMessage)] = 0x8000;
    next[static_cast<std::size_t>(NidType::NormalMessage)] = 0x10000;
    return next;
}

void FinishPage(std::span<std::uint8_t> page, PageType type, std::uint64_t ib, std::uint64_t bid, bool signed_) {
    page[kTrailerPType] = static_cast<std::uint8_t>(type);
    page[kTrailerPTypeRepeat] = static_cast<std::uint8_t>(type);
    PutLe(&page[kTrailerSig], signed_ ? ComputeSignature(ib, bid) : 0, 2);
    PutLe(&page[kTrailerCrc], ComputeCrc(page.first(kPageDataSize)), 4);
    PutLe(&page[kTrailerBid], bid, 8);
}

}  // namespace

class NdbWriter::Impl {
public:
    Impl(const std::filesystem::path& path, const NdbOptions& options) : file_(path), options_(options) {
        // Header and density list stay zero (no magic) until Finish.
        file_.keepCached(0, kFirstAMapOffset);
        file_.appendZeros(kFirstAMapOffset);
    }

    Bid writeBlock(std::span<const std::uint8_t> data, bool internal) {
        if (data.size() > kMaxBlockData) throw std::invalid_argument("NdbWriter: block data larger than 8176 bytes");
        requireOpen();
        const Bid bid = (nextBlockIndex_ << 2) | (internal ? 2u : 0u);
        const std::uint64_t span = BlockSpan(data.size());
        const std::uint64_t ib = place(span, kBlockAlign);
        // Built where it is written out: the file's buffer.
        const std::span<std::uint8_t> block = file_.appendInPlace(span);
        std::copy(data.begin(), data.end(), block.begin());
        const std::span<std::uint8_t> stored = block.first(data.size());
        if (!internal) EncodeBytes(stored, options_.crypt, bid);
        std::uint8_t* trailer = block.data() + span - kBlockTrailerSize;
        PutLe(trailer, data.size(), 2);
        PutLe(trailer + 2, ComputeSignature(ib, bid), 2);
        PutLe(trailer + 4, ComputeCrc(stored), 4);
        PutLe(trailer + 8, bid, 8);
        blocks_.push_back({ib, 0, static_cast<std::uint16_t>(data.size() | (internal ? BlockRecord::kInternal : 0)), 0});
        ++nextBlockIndex_;
        return bid;
    }

    // Writes an internal block whose entries reference children (one more
    // reference each), and remembers them for a later release: in one list
    // for all blocks, its count then each child's BID halved (the BID's
    // lowest bit is always 0).
    Bid writeInternal(std::span<const std::uint8_t> bytes, const std::vector<Bid>& children) {
        for (Bid child : children) addRef(child);
        if (children_.size() + children.size() + 1 > std::numeric_limits<std::uint32_t>::max() ||
            nextBlockIndex_ >= (std::uint64_t{1} << 31)) {
            throw std::length_error("NdbWriter: too many blocks for one store");
        }
        const Bid bid = writeBlock(bytes, true);
        blocks_.back().children = static_cast<std::uint32_t>(children_.size());
        children_.push_back(static_cast<std::uint32_t>(children.size()));
        for (Bid child : children) children_.push_back(static_cast<std::uint32_t>(child >> 1));
        return bid;
    }

    BlockRecord& record(Bid bid) {
        const std::uint64_t index = bid >> 2;
        if (bid == 0 || index >= nextBlockIndex_ || (bid & 1) != 0 ||
            blocks_[index - 1].internal() != IsInternalBid(bid)) {
            throw std::invalid_argument("NdbWriter: unknown block 0x" + ToHex(bid));
        }
        return blocks_[index - 1];
    }
    void addRef(Bid bid) {
        if (bid == 0) return;
        BlockRecord& r = record(bid);
        if (r.refs >= std::numeric_limits<std::uint16_t>::max() - 1) {
            throw std::length_error("NdbWriter: too many references to block 0x" + ToHex(bid));
        }
        ++r.refs;
    }
    void releaseRef(Bid bid) {
        if (bid == 0) return;
        BlockRecord& r = record(bid);
        if (r.refs > 0) --r.refs;
    }

    static std::string ToHex(std::uint64_t v) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
        return buf;
    }

    void requireOpen() const {
        file_.throwIfFailed();  // nothing is written after a write that failed
        if (finished_) throw std::logic_error("NdbWriter: store already finished");
    }

    // Offset for size bytes with the given alignment at the end of the file;
    // pads up to it, entering new allocation-map intervals as needed. The
    // start of an interval belongs to its map pages: when the aligned offset
    // lands there, the map pages are reserved first and nothing is placed
    // on them.
    std::uint64_t place(std::uint64_t size, std::uint64_t align) {
        for (;;) {
            const std::uint64_t pos = file_.end();
            const std::uint64_t interval = (pos - kFirstAMapOffset) / kAMapCoverage;
            if ((pos - kFirstAMapOffset) % kAMapCoverage == 0) {
                // Placeholders; Finish writes the real map pages.
                file_.keepCached(pos, MapPagesSize(interval));
                file_.appendZeros(MapPagesSize(interval));
                continue;
            }
            const std::uint64_t start = AlignUp(pos, align);
            const std::uint64_t next = IntervalStart(interval + 1);
            const std::uint64_t target = start + size <= next ? start : next;
            if (target > pos) {
                addFree(pos, target - pos);
                file_.appendZeros(target - pos);
            }
            if (target == start && start + size <= next) return start;
        }
    }

    void addFree(std::uint64_t start, std::uint64_t length) {
        if (!free_.empty() && free_.back().start + free_.back().length == start) {
            free_.back().length += length;
        } else {
            free_.push_back({start, length});
        }
    }

    // Collects the blocks of a data tree and writes the XBLOCKs and the
    // XXBLOCK over them as they fill.
    class DataTree {
    public:
        explicit DataTree(Impl& w) : w_(w) {}
        void add(Bid bid, std::size_t size) {
            if (leaves_.size() == kXEntriesMax) flushLeaves();
            leaves_.push_back(bid);
            leafBytes_ += size;
        }
        Bid finish() {
            if (xblocks_.empty() && leaves_.size() == 1) return leaves_.front();
            flushLeaves();
            if (xblocks_.size() == 1) return xblocks_.front();
            if (xblocks_.size() > kXEntriesMax) throw std::length_error("NdbWriter: data too large for one XXBLOCK");
            return w_.writeTreeBlock(2, totalBytes_, xblocks_);
        }

    private:
        void flushLeaves() {
            if (leaves_.empty()) return;
            xblocks_.push_back(w_.writeTreeBlock(1, leafBytes_, leaves_));
            totalBytes_ += leafBytes_;
            leaves_.clear();
            leafBytes_ = 0;
        }
        Impl& w_;
        std::vector<Bid> leaves_;
        std::uint64_t leafBytes_ = 0;
        std::vector<Bid> xblocks_;
        std::uint64_t totalBytes_ = 0;
    };

    Bid writeTreeBlock(std::uint8_t level, std::uint64_t total, const std::vector<Bid>& children) {
        if (total > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("NdbWriter: data tree larger than 4 GiB - 1");
        }
        std::vector<std::uint8_t> bytes(kInternalHeaderSize + 8 * children.size());
        bytes[0] = kBlockTypeData;
        bytes[1] = level;
        PutLe(&bytes[2], children.size(), 2);
        PutLe(&bytes[4], total, 4);
        for (std::size_t i = 0; i < children.size(); ++i) PutLe(&bytes[8 + 8 * i], children[i], 8);
        return writeInternal(bytes, children);
    }

    Bid writeSubnodeLeaf(std::span<const Subnode> entries) {
        std::vector<std::uint8_t> bytes(kInternalHeaderSize + kSlEntrySize * entries.size());
        bytes[0] = kBlockTypeSubnode;
        bytes[1] = 0;
        PutLe(&bytes[2], entries.size(), 2);
        std::vector<Bid> children;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            std::uint8_t* e = &bytes[8 + kSlEntrySize * i];
            PutLe(e, entries[i].nid, 8);
            PutLe(e + 8, entries[i].data, 8);
            PutLe(e + 16, entries[i].subnodes, 8);
            if (entries[i].data != 0) children.push_back(entries[i].data);
            if (entries[i].subnodes != 0) children.push_back(entries[i].subnodes);
        }
        return writeInternal(bytes, std::move(children));
    }

    Bid writeSubnodes(std::vector<Subnode> entries) {
        requireOpen();
        if (entries.empty()) return 0;
        std::sort(entries.begin(), entries.end(), [](const Subnode& a, const Subnode& b) { return a.nid < b.nid; });
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (i > 0 && entries[i].nid == entries[i - 1].nid) {
                throw std::invalid_argument("NdbWriter: subnode 0x" + ToHex(entries[i].nid) + " listed twice");
            }
            if (entries[i].data != 0) record(entries[i].data);
            if (entries[i].subnodes != 0) record(entries[i].subnodes);
            NoteNid(entries[i].nid);
        }
        const std::span<const Subnode> all(entries);
        if (entries.size() <= kSlEntriesMax) return writeSubnodeLeaf(all);
        const std::size_t leafCount = (entries.size() + kSlEntriesMax - 1) / kSlEntriesMax;
        if (leafCount > kSiEntriesMax) throw std::length_error("NdbWriter: too many subnodes for one SIBLOCK");
        std::vector<std::uint8_t> bytes(kInternalHeaderSize + kSiEntrySize * leafCount);
        bytes[0] = kBlockTypeSubnode;
        bytes[1] = 1;
        PutLe(&bytes[2], leafCount, 2);
        std::vector<Bid> leaves;
        for (std::size_t i = 0; i < leafCount; ++i) {
            const std::size_t first = i * kSlEntriesMax;
            const auto part = all.subspan(first, std::min(kSlEntriesMax, entries.size() - first));
            const Bid leaf = writeSubnodeLeaf(part);
            PutLe(&bytes[8 + kSiEntrySize * i], part.front().nid, 8);
            PutLe(&bytes[8 + kSiEntrySize * i + 8], leaf, 8);
            leaves.push_back(leaf);
        }
        return writeInternal(bytes, std::move(leaves));
    }

    void setNode(Nid nid, Bid data, Bid subnodes, Nid parent) {
        requireOpen();
        if (data != 0) record(data);
        if (subnodes != 0) record(subnodes);
        addRef(data);
        addRef(subnodes);
        NoteNid(nid);
        // A node set again is replaced at Finish (see dropReplacedNodes):
        // no map from NID to entry is kept for the few nodes that are.
        nodes_.push_back({data, subnodes, nid, parent});
    }

    // Sorts the nodes by NID; of a NID set more than once the last entry
    // stays and the earlier ones give up their references.
    void dropReplacedNodes() {
        std::stable_sort(nodes_.begin(), nodes_.end(),
                         [](const NodeRecord& a, const NodeRecord& b) { return a.nid < b.nid; });
        std::size_t kept = 0;
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            if (i + 1 < nodes_.size() && nodes_[i + 1].nid == nodes_[i].nid) {
                releaseRef(nodes_[i].data);
                releaseRef(nodes_[i].subnodes);
                continue;
            }
            nodes_[kept++] = nodes_[i];
        }
        nodes_.truncate(kept);
    }

    Nid newNid(NidType type) {
        const auto t = static_cast<std::size_t>(type);
        if (t >= nextNid_.size()) throw std::invalid_argument("NdbWriter: NID type out of range");
        if (nextNid_[t] >= (1u << 27)) throw std::length_error("NdbWriter: NIDs of this type exhausted");
        return MakeNid(type, nextNid_[t]++);
    }

    // Drops blocks without references, newest first, so that an internal
    // block's release reaches its children before they are looked at.
    void releaseUnreferenced() {
        for (std::size_t i = blocks_.size(); i-- > 0;) {
            BlockRecord& b = blocks_[i];
            if (b.refs > 0) continue;
            b.cbFlags |= BlockRecord::kDropped;
            free_.push_back({b.ib, BlockSpan(b.cb())});
            if (!b.internal()) continue;
            const std::uint32_t count = children_[b.children];
            for (std::uint32_t k = 1; k <= count; ++k) releaseRef(Bid{children_[b.children + k]} << 1);
        }
        children_ = {};
    }

    // Writes one B-tree level by level; returns the root.
    PageRef writeBTree(PageType type, std::size_t count, std::size_t entrySize, std::size_t maxEntries,
                       const std::function<void(std::size_t, std::uint8_t*)>& fill,
                       const std::function<std::uint64_t(std::size_t)>& keyOf) {
        std::vector<PageRef> level = writePages(type, 0, count, entrySize, maxEntries, fill, keyOf);
        std::uint8_t depth = 0;
        while (level.size() > 1) {
            const std::vector<PageRef> children = std::move(level);
            level = writePages(
                type, ++depth, children.size(), kBranchEntrySize, kBranchEntriesMax,
                [&](std::size_t i, std::uint8_t* e) {
                    PutLe(e, children[i].key, 8);
                    PutLe(e + 8, children[i].bid, 8);
                    PutLe(e + 16, children[i].ib, 8);
                },
                [&](std::size_t i) { return children[i].key; });
        }
        return level.front();
    }

    std::vector<PageRef> writePages(PageType type, std::uint8_t cLevel, std::size_t count, std::size_t entrySize,
                                    std::size_t maxEntries,
                                    const std::function<void(std::size_t, std::uint8_t*)>& fill,
                                    const std::function<std::uint64_t(std::size_t)>& keyOf) {
        const std::size_t pages = std::max<std::size_t>(1, (count + maxEntries - 1) / maxEntries);
        std::vector<PageRef> refs;
        std::size_t next = 0;
        for (std::size_t p = 0; p < pages; ++p) {
            // Spread the entries evenly over the pages of the level.
            const std::size_t n = count / pages + (p < count % pages ? 1 : 0);
            std::array<std::uint8_t, kPageSize> page{};
            for (std::size_t i = 0; i < n; ++i) fill(next + i, &page[i * entrySize]);
            page[kBTreeCEnt] = static_cast<std::uint8_t>(n);
            page[kBTreeCEntMax] = static_cast<std::uint8_t>(maxEntries);
            page[kBTreeCbEnt] = static_cast<std::uint8_t>(entrySize);
            page[kBTreeCLevel] = cLevel;
            const std::uint64_t ib = place(kPageSize, kPageSize);
            const Bid bid = nextPageBid_++;
            FinishPage(page, type, ib, bid, true);
            file_.append(page);
            refs.push_back({n > 0 ? keyOf(next) : 0, bid, ib});
            next += n;
        }
        return refs;
    }

    void finish() {
        requireOpen();
        finished_ = true;
        dropReplacedNodes();
        releaseUnreferenced();

        const PageRef nbt = writeBTree(
            PageType::NodeBTree, nodes_.size(), kNbtEntrySize, kNbtEntriesMax,
            [&](std::size_t i, std::uint8_t* e) {
                PutLe(e, nodes_[i].nid, 8);
                PutLe(e + 8, nodes_[i].data, 8);
                PutLe(e + 16, nodes_[i].subnodes, 8);
                PutLe(e + 24, nodes_[i].parent, 4);
            },
            [&](std::size_t i) { return nodes_[i].nid; });

        std::vector<std::uint32_t> live;  // block indexes, in BID order
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            if (blocks_[i].live()) live.push_back(static_cast<std::uint32_t>(i));
        }
        const auto bidOf = [&](std::size_t i) {
            return ((std::uint64_t{live[i]} + 1) << 2) | (blocks_[live[i]].internal() ? 2u : 0u);
        };
        const PageRef bbt = writeBTree(
            PageType::BlockBTree, live.size(), kBbtEntrySize, kBbtEntriesMax,
            [&](std::size_t i, std::uint8_t* e) {
                const BlockRecord& b = blocks_[live[i]];
                PutLe(e, bidOf(i), 8);
                PutLe(e + 8, b.ib, 8);
                PutLe(e + 16, b.cb(), 2);
                PutLe(e + 18, b.refs + 1, 2);
            },
            bidOf);

        // The file ends at the end of an allocation-map interval.
        const std::uint64_t pos = file_.end();
        std::uint64_t intervals = (pos - kFirstAMapOffset) / kAMapCoverage;
        if ((pos - kFirstAMapOffset) % kAMapCoverage != 0) {
            ++intervals;
            const std::uint64_t eof = IntervalStart(intervals);
            addFree(pos, eof - pos);
            file_.appendZeros(eof - pos);
        }
        const MapTotals totals = writeMaps(intervals);
        writeDensityList(totals.freeSlots, intervals);
        file_.sync();
        writeHeader(nbt, bbt, intervals, totals);
        file_.close();
        blocks_ = {};
        nodes_ = {};
        free_ = {};
    }

    struct MapTotals {
        std::uint64_t freeBytes = 0;      // from the AMap pages as written
        std::uint64_t freePageBytes = 0;  // from the PMap pages as written
        std::vector<std::uint32_t> freeSlots;  // per interval
    };

    MapTotals writeMaps(std::uint64_t intervals) {
        std::sort(free_.begin(), free_.end(), [](const FreeRange& a, const FreeRange& b) { return a.start < b.start; });
        MapTotals totals;
        totals.freeSlots.resize(intervals);
        std::vector<std::uint8_t> longestRuns(intervals);
        std::size_t r = 0;
        for (std::uint64_t k = 0; k < intervals; ++k) {
            const std::uint64_t base = IntervalStart(k);
            const std::uint64_t end = base + kAMapCoverage;
            std::array<std::uint8_t, kPageSize> page{};
            std::fill(page.begin(), page.begin() + kPageDataSize, 0xFF);
            while (r < free_.size() && free_[r].start + free_[r].length <= base) ++r;
            for (std::size_t j = r; j < free_.size() && free_[j].start < end; ++j) {
                const std::uint64_t from = std::max(free_[j].start, base);
                const std::uint64_t to = std::min(free_[j].start + free_[j].length, end);
                // Free space is always whole 64-byte units.
                for (std::uint64_t bit = (from - base) / kAMapUnit; bit < (to - base) / kAMapUnit; ++bit) {
                    page[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
                }
            }
            std::uint32_t freeBits = 0, run = 0, longest = 0;
            for (std::uint64_t bit = 0; bit < kAMapBits; ++bit) {
                if (page[bit / 8] & (0x80u >> (bit % 8))) {
                    run = 0;
                } else {
                    ++freeBits;
                    longest = std::max(longest, ++run);
                }
            }
            totals.freeSlots[k] = freeBits;
            totals.freeBytes += std::uint64_t{freeBits} * kAMapUnit;
            longestRuns[k] = static_cast<std::uint8_t>(std::min<std::uint32_t>(longest, 0xFF));
            FinishPage(page, PageType::AllocationMap, base, base, false);
            file_.writeAt(base, page);
        }
        for (std::uint64_t k = 0; k < intervals; ++k) {
            const std::uint64_t base = IntervalStart(k);
            std::uint64_t at = base + kPageSize;
            if (HasPMap(k)) {
                // Page maps are superseded by the density list; all pages read as taken.
                const auto& pmap =
                    writeFilledMap(at, PageType::PageMap, [](std::size_t) { return std::uint8_t{0xFF}; });
                // cbPMapFree is what the page maps give, like cbAMapFree.
                for (std::uint64_t bit = 0; bit < kAMapBits && base + bit * kPageSize < IntervalStart(intervals); ++bit) {
                    if ((pmap[bit / 8] & (0x80u >> (bit % 8))) == 0) totals.freePageBytes += kPageSize;
                }
                at += kPageSize;
            }
            if (HasFMap(k)) {
                writeFilledMap(at, PageType::FreeMap, [&](std::size_t i) {
                    const std::uint64_t covered = k + i;
                    return covered < intervals ? longestRuns[covered] : std::uint8_t{0};
                });
            } else if (HasFPMap(k)) {
                writeFilledMap(at, PageType::FreePageMap, [](std::size_t) { return std::uint8_t{0xFF}; });
            }
        }
        return totals;
    }

    // Returns the page as written (valid until the next call).
    template <typename ByteAt>
    const std::array<std::uint8_t, kPageSize>& writeFilledMap(std::uint64_t ib, PageType type, ByteAt byteAt) {
        std::array<std::uint8_t, kPageSize>& page = mapPage_;
        page.fill(0);
        for (std::size_t i = 0; i < kPageDataSize; ++i) page[i] = byteAt(i);
        FinishPage(page, type, ib, ib, false);
        file_.writeAt(ib, page);
        return page;
    }

    void writeDensityList(const std::vector<std::uint32_t>& freeSlots, std::uint64_t intervals) {
        std::vector<std::uint64_t> order;
        for (std::uint64_t k = 0; k < intervals && k < (1u << 20); ++k) {
            if (freeSlots[k] > 0) order.push_back(k);
        }
        // Least dense first.
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint64_t a, std::uint64_t b) { return freeSlots[a] > freeSlots[b]; });
        if (order.size() > kDListEntriesMax) order.resize(kDListEntriesMax);
        std::array<std::uint8_t, kPageSize> page{};
        page[0] = 0x01;  // backfill complete
        page[1] = static_cast<std::uint8_t>(order.size());
        PutLe(&page[4], intervals - 1, 4);
        for (std::size_t i = 0; i < order.size(); ++i) {
            PutLe(&page[8 + 4 * i], (order[i] & 0xFFFFF) | (std::uint64_t{freeSlots[order[i]] & 0xFFF} << 20), 4);
        }
        FinishPage(page, PageType::DensityList, kDListOffset, nextPageBid_++, true);
        file_.writeAt(kDListOffset, page);
    }

    void writeHeader(const PageRef& nbt, const PageRef& bbt, std::uint64_t intervals, const MapTotals& maps) {
        std::array<std::uint8_t, hdr::kSize> h{};
        PutLe(&h[hdr::kMagic], kHeaderMagic, 4);
        PutLe(&h[hdr::kMagicClient], options_.offlineStore ? kMagicClientOst : kMagicClientPst, 2);
        PutLe(&h[hdr::kVersion], kVersionUnicode, 2);
        PutLe(&h[hdr::kVersionClient], kVersionClient, 2);
        h[hdr::kPlatformCreate] = 0x01;
        h[hdr::kPlatformAccess] = 0x01;
        PutLe(&h[hdr::kBidNextP], nextPageBid_, 8);
        PutLe(&h[hdr::kUnique], std::max<std::uint32_t>(unique_, 1), 4);
        for (std::size_t t = 0; t < nextNid_.size(); ++t) PutLe(&h[hdr::kRgnid + 4 * t], HighWaterMark(t), 4);
        PutLe(&h[hdr::kFileEof], IntervalStart(intervals), 8);
        PutLe(&h[hdr::kAMapLast], IntervalStart(intervals - 1), 8);
        PutLe(&h[hdr::kAMapFree], maps.freeBytes, 8);
        PutLe(&h[hdr::kPMapFree], maps.freePageBytes, 8);
        PutLe(&h[hdr::kNbtRoot], nbt.bid, 8);
        PutLe(&h[hdr::kNbtRoot + 8], nbt.ib, 8);
        PutLe(&h[hdr::kBbtRoot], bbt.bid, 8);
        PutLe(&h[hdr::kBbtRoot + 8], bbt.ib, 8);
        h[hdr::kAMapValidFlag] = kAMapValid;
        std::fill_n(&h[hdr::kFreeMap], 128, 0xFF);
        std::fill_n(&h[hdr::kFreePageMap], 128, 0xFF);
        h[hdr::kSentinelAt] = kSentinel;
        h[hdr::kCryptMethod] = static_cast<std::uint8_t>(options_.crypt);
        PutLe(&h[hdr::kBidNextB], nextBlockIndex_ << 2, 8);
        PutLe(&h[hdr::kCrcPartial], ComputeCrc(std::span(h).subspan(hdr::kMagicClient, hdr::kCrcPartialLength)), 4);
        PutLe(&h[hdr::kCrcFull], ComputeCrc(std::span(h).subspan(hdr::kMagicClient, hdr::kCrcFullLength)), 4);
        file_.writeAt(0, h);
    }

    // The header's next index for a NID type: past every index in use,
    // subnodes included, and never below the counter. The hierarchy,
    // contents and associated-contents tables share their folder's index,
    // so their marks follow the folder counter.
    std::uint32_t HighWaterMark(std::size_t type) const {
        std::uint32_t mark = std::max(nextNid_[type], usedNid_[type]);
        const auto folderType = static_cast<std::size_t>(NidType::NormalFolder);
        if (type == static_cast<std::size_t>(NidType::HierarchyTable) ||
            type == static_cast<std::size_t>(NidType::ContentsTable) ||
            type == static_cast<std::size_t>(NidType::AssocContentsTable)) {
            mark = std::max({mark, nextNid_[folderType], usedNid_[folderType]});
        }
        return mark;
    }
    void NoteNid(Nid nid) {
        const std::size_t type = nid & 0x1F;
        usedNid_[type] = std::max(usedNid_[type], (nid >> 5) + 1);
    }

    NdbFile file_;
    NdbOptions options_;
    bool finished_ = false;
    std::uint64_t nextBlockIndex_ = 1;
    Bid nextPageBid_ = 1;
    // Deques: they grow by small chunks, never copying millions of records
    // at once or keeping twice the room they need, as a doubling vector does.
    // The records live in large chunks of their own (see ChunkedArray), away
    // from the run's small allocations.
    ChunkedArray<BlockRecord, 8192> blocks_;       // index = (bid >> 2) - 1
    ChunkedArray<std::uint32_t, 32768> children_;  // child lists of the internal blocks (see writeInternal)
    ChunkedArray<NodeRecord, 8192> nodes_;         // in the order set; replaced ones dropped at Finish
    std::vector<FreeRange> free_;
    std::array<std::uint32_t, 32> nextNid_ = InitialNidIndexes();
    std::array<std::uint32_t, 32> usedNid_{};  // one past the highest index in use, per type
    std::uint32_t unique_ = 1;
    std::array<std::uint8_t, kPageSize> mapPage_{};
};

NdbWriter::NdbWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NdbWriter::~NdbWriter() = default;

std::unique_ptr<NdbWriter> NdbWriter::Create(const std::filesystem::path& path, const NdbOptions& options) {
    return std::unique_ptr<NdbWriter>(new NdbWriter(std::make_unique<Impl>(path, options)));
}

Bid NdbWriter::WriteData(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return 0;  // an empty node has no data block
    if (bytes.size() <= kMaxBlockData) return impl_->writeBlock(bytes, false);
    Impl::DataTree tree(*impl_);
    for (std::size_t at = 0; at < bytes.size(); at += kMaxBlockData) {
        const auto piece = bytes.subspan(at, std::min(kMaxBlockData, bytes.size() - at));
        tree.add(impl_->writeBlock(piece, false), piece.size());
    }
    return tree.finish();
}

Bid NdbWriter::WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) {
    if (pieces.empty()) throw std::invalid_argument("NdbWriter: no data blocks given");
    for (const auto& piece : pieces) {
        if (piece.size() > kMaxBlockData) throw std::invalid_argument("NdbWriter: block data larger than 8176 bytes");
    }
    Impl::DataTree tree(*impl_);
    for (const auto& piece : pieces) tree.add(impl_->writeBlock(piece, false), piece.size());
    return tree.finish();
}

Bid NdbWriter::WriteDataStream(std::uint64_t size,
                               const std::function<std::size_t(std::span<std::uint8_t>)>& read) {
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("NdbWriter: a stream larger than 4 GiB - 1 does not fit one data tree");
    }
    if (size == 0) return 0;
    std::vector<std::uint8_t> piece(kMaxBlockData);
    Impl::DataTree tree(*impl_);
    std::uint64_t done = 0;
    do {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kMaxBlockData, size - done));
        std::size_t have = 0;
        while (have < want) {
            const std::size_t n = read(std::span(piece).subspan(have, want - have));
            if (n == 0) throw std::runtime_error("NdbWriter: data stream ended early");
            have += std::min(n, want - have);
        }
        tree.add(impl_->writeBlock(std::span(piece).first(want), false), want);
        done += want;
    } while (done < size);
    return tree.finish();
}

Bid NdbWriter::WriteDataTree(const std::vector<DataPiece>& pieces) {
    if (pieces.empty()) throw std::invalid_argument("NdbWriter: no data blocks given");
    impl_->requireOpen();
    for (const DataPiece& piece : pieces) {
        if (IsInternalBid(piece.bid) || impl_->record(piece.bid).cb() != piece.size) {
            throw std::invalid_argument("NdbWriter: 0x" + Impl::ToHex(piece.bid) + " is no data block of that size");
        }
    }
    Impl::DataTree tree(*impl_);
    for (const DataPiece& piece : pieces) tree.add(piece.bid, piece.size);
    return tree.finish();
}

Bid NdbWriter::WriteSubnodes(std::vector<Subnode> entries) { return impl_->writeSubnodes(std::move(entries)); }
void NdbWriter::SetNode(Nid nid, Bid data, Bid subnodes, Nid parent) { impl_->setNode(nid, data, subnodes, parent); }
void NdbWriter::AddBlockReference(Bid bid) {
    impl_->requireOpen();
    impl_->addRef(bid);
}
Nid NdbWriter::NewNid(NidType type) { return impl_->newNid(type); }
void NdbWriter::SetUnique(std::uint32_t unique) {
    impl_->requireOpen();
    impl_->unique_ = unique;
}
void NdbWriter::Finish() { impl_->finish(); }
std::uint64_t NdbWriter::FileSize() const { return impl_->file_.end(); }

}  // namespace bm::pst
