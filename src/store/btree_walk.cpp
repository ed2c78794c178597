#include "store/btree_walk.h"

#include <unordered_set>
#include <vector>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "store/blocks.h"

namespace bm {

namespace {

constexpr std::uint8_t kHeapSignature = 0xEC;
// Nodes tried when the message store's heap cannot be read.
constexpr std::size_t kCryptProbeNodes = 16;

enum class Tree { Block, Node };

// The per-tree state a walk reads and writes.
struct TreeState {
    std::uint8_t& leafDepth;
    bool& leafSeen;
    std::unordered_set<std::uint64_t>& entered;
    std::size_t readLength;
    std::size_t keyWidth;  // BBT keys are BIDs, NBT keys NIDs
};

TreeState StateOf(StoreFile& store, Tree tree) {
    const StoreLayout& layout = *store.layout;
    if (tree == Tree::Block)
        return {store.bbtLeafDepth, store.bbtLeafSeen, store.bbtPagesEntered, layout.page.bbtReadLength, layout.idWidth};
    return {store.nbtLeafDepth, store.nbtLeafSeen, store.nbtPagesEntered, layout.page.nbtReadLength, 4};
}

// Why the last page was rejected; the parent decides whether that is damage
// (rejections while the walk still looks for the leaf level are how it finds
// that level, and stale slots past a page's entry count are not damage).
thread_local std::uint64_t DamageCounters::*lastRejection = nullptr;

int Reject(std::uint64_t DamageCounters::*reason) {
    lastRejection = reason;
    return kWalkRejected;
}

void CountRejection(StoreFile& store) {
    if (lastRejection != nullptr) ++(store.damage.*lastRejection);
    lastRejection = nullptr;
}

bool PageCrcFails(const StoreFile& store, const Bytes& page) {
    const PageFields& fields = store.layout->page;
    const ByteReader reader(page);
    const auto stored = reader.peekAt(fields.crcAt, 4);
    return stored && fields.crcCovers <= page.size() &&
           *stored != ComputeCrc(std::span<const std::uint8_t>(page.data(), fields.crcCovers));
}

void CheckPageCrc(StoreFile& store, const Bytes& page) {
    if (PageCrcFails(store, page)) ++store.damage.pageCrcMismatches;
}

// Enters and reads one page; kWalkRejected when it was met before in this
// walk (a loop) or reads short.
int EnterPage(StoreFile& store, const TreeState& state, std::uint64_t offset, unsigned depth, Bytes& page) {
    if (depth >= kLeafDepthUnknown) return Reject(&DamageCounters::pagesRejected);
    if (!state.entered.insert(offset).second) return Reject(&DamageCounters::pagesRevisited);
    if (ReadAt(store, offset, state.readLength, page) < state.readLength) {
        state.entered.erase(offset);
        return Reject(&DamageCounters::pagesUnreadable);
    }
    return 0;
}

int RejectPage(const TreeState& state, std::uint64_t offset) {
    state.entered.erase(offset);
    return Reject(&DamageCounters::pagesRejected);
}

// The page's own entry count (cEnt); never used to stop a walk.
std::size_t LiveSlots(const StoreFile& store, const ByteReader& page) {
    const PageFields& footer = store.layout->page;
    return static_cast<std::size_t>(page.peekAt(footer.footerCountAt, footer.footerFieldWidth).value_or(0));
}

// Entry stride and the most entries a leaf page gives. Layouts whose page
// footer describes its entries take the stride from there when it is
// plausible (at least as large as the fields read) and the limit from the
// room the page has for entries of that stride; the footer's own capacity
// and count are not trusted. The other layouts use their fixed values.
struct PageGeometry {
    std::size_t stride;
    std::size_t limit;
};

PageGeometry GeometryOf(const StoreFile& store, const ByteReader& page, std::size_t size, std::size_t limit) {
    const PageFields& fields = store.layout->page;
    if (!fields.sizedByFooter) return {size, limit};
    const auto cbEnt = static_cast<std::size_t>(page.peekAt(fields.footerEntrySizeAt, 1).value_or(0));
    const std::size_t stride = cbEnt >= size ? cbEnt : size;
    return {stride, fields.footerCountAt / stride};
}

// What both leaf walks track while taking a page's entries: the slot
// geometry, how many slots the footer calls live, and the check of the
// first entry against the key the parent page gave.
struct LeafScan {
    ByteReader bytes;
    std::size_t live;
    PageGeometry geometry;
    // The expected key as a flag and a value rather than an optional: the
    // optimiser cannot tell that an optional's value is only read when set.
    bool checkFirst;
    std::uint64_t expected;
    std::size_t taken = 0;

    LeafScan(const StoreFile& store, const Bytes& page, std::size_t entrySize, std::size_t limit, TreeKey first)
        : bytes(page), live(LiveSlots(store, bytes)), geometry(GeometryOf(store, bytes, entrySize, limit)),
          checkFirst(first.has_value()), expected(first.value_or(0)) {}

    // Only the first entry is held against the expected key.
    bool FirstKeyHolds(std::uint64_t key) {
        const bool holds = !checkFirst || expected == key;
        checkFirst = false;
        return holds;
    }
    bool PastCount(std::size_t at) const { return at / geometry.stride >= live; }
};

using WalkFn = int (*)(StoreFile&, StoreReader&, std::uint64_t, unsigned, TreeKey, TreeKey);

// The inner-page loop shared by both trees. `boundStops` is the BBT's extra
// stop at a key at or above the bound handed down.
int WalkInnerPage(StoreFile& store, StoreReader& reader, const TreeState& state, const Bytes& page,
                  std::uint64_t offset, unsigned depth, TreeKey expected, TreeKey upper, bool boundStops,
                  WalkFn walk) {
    const InnerEntryFields& inner = store.layout->inner;
    const std::size_t width = store.layout->idWidth;
    const ByteReader bytes(page);
    const std::size_t stride = GeometryOf(store, bytes, inner.size, 0).stride;
    const auto keyOf = [&](std::size_t i) { return bytes.peekAt(i * stride + inner.keyAt, state.keyWidth); };

    const std::size_t live = LiveSlots(store, bytes);

    const auto firstKey = keyOf(0);
    if (!firstKey || (expected && *firstKey != *expected)) return RejectPage(state, offset);

    for (std::size_t i = 0;; ++i) {
        const auto cur = keyOf(i);
        if ((i + 2) * stride > page.size()) break;  // the next entry must fit too
        const auto next = keyOf(i + 1);
        if (!cur || !next || *cur == 0) break;
        if (boundStops && upper && *cur >= *upper) break;
        const TreeKey childUpper = *next > *cur ? TreeKey(*next) : (boundStops ? upper : TreeKey());
        const std::uint64_t child = bytes.peekAt(i * stride + inner.offsetAt, width).value_or(0);
        const int rc = walk(store, reader, child, depth + 1, *cur, childUpper);
        if (rc == kWalkRejected && !state.leafSeen) {
            state.leafDepth = static_cast<std::uint8_t>(depth);
            state.entered.erase(offset);
            return kWalkLeafDepthFound;
        }
        if (rc == kWalkRejected && i < live) CountRejection(store);
        if (rc == kWalkLeafDepthFound) walk(store, reader, child, depth + 1, *cur, childUpper);
    }
    CheckPageCrc(store, page);
    return kWalkInnerDone;
}

// Reads the page; walks it as an inner page unless it is at the leaf depth.
// Returns the walk's result, or nullopt when the caller goes on with the
// page as a leaf.
std::optional<int> StartPage(StoreFile& store, StoreReader& reader, const TreeState& state, Bytes& page,
                             std::uint64_t offset, unsigned depth, TreeKey expected, TreeKey upper, WalkFn walk) {
    lastRejection = nullptr;
    if (EnterPage(store, state, offset, depth, page) != 0) return kWalkRejected;
    if (depth == state.leafDepth) return std::nullopt;
    const bool boundStops = walk == &WalkBlockTree;  // only the BBT stops at the bound on inner pages
    return WalkInnerPage(store, reader, state, page, offset, depth, expected, upper, boundStops, walk);
}

}  // namespace

int WalkBlockTree(StoreFile& store, StoreReader& reader, std::uint64_t offset, unsigned depth, TreeKey expected,
                  TreeKey upper) {
    if (store.layout == nullptr || !store.layout->walkable) return kWalkRejected;
    reader.pauseGate.Pass();
    const TreeState state = StateOf(store, Tree::Block);
    Bytes page;
    if (const auto rc = StartPage(store, reader, state, page, offset, depth, expected, upper, &WalkBlockTree))
        return *rc;

    const BlockEntryFields& f = store.layout->bbtLeaf;
    const std::size_t width = store.layout->idWidth;
    LeafScan scan(store, page, f.size, f.limit, expected);
    const ByteReader& bytes = scan.bytes;
    std::optional<std::uint64_t> previous;
    for (std::size_t at = 0; at + f.size <= page.size(); at += scan.geometry.stride) {
        const std::uint64_t bid = bytes.peekAt(at + f.bidAt, width).value_or(0);
        if (bid == 0 || scan.taken == scan.geometry.limit) break;
        ++scan.taken;
        if (!scan.FirstKeyHolds(bid)) return RejectPage(state, offset);
        store.bbtLeafSeen = true;
        if (previous && *previous > bid) break;
        previous = bid;
        BlockInfo entry;
        entry.bid = bid;
        entry.offset = bytes.peekAt(at + f.offsetAt, width).value_or(0);
        entry.size = static_cast<std::uint32_t>(bytes.peekAt(at + f.cbAt, 2).value_or(0));
        entry.refCount = static_cast<std::int16_t>(bytes.peekAt(at + f.refCountAt, 2).value_or(0));
        entry.inflatedSize = entry.size;
        if (f.inflatedAt != kNoField)
            entry.inflatedSize = static_cast<std::uint32_t>(bytes.peekAt(at + f.inflatedAt, 2).value_or(0));
        entry.pastPageCount = scan.PastCount(at);
        store.blocks.Append(entry);
        ++store.walkStats.bbtLeafEntries;
        if (entry.pastPageCount) ++store.walkStats.bbtEntriesPastCount;
    }
    ++store.walkStats.bbtLeafPages;
    CheckPageCrc(store, page);
    return kWalkBlockLeafDone;
}

int WalkNodeTree(StoreFile& store, StoreReader& reader, std::uint64_t offset, unsigned depth, TreeKey expected,
                 TreeKey upper) {
    if (store.layout == nullptr || !store.layout->walkable) return kWalkRejected;
    reader.pauseGate.Pass();
    if (reader.StopRequested()) return kWalkNodeLeafDone;
    const TreeState state = StateOf(store, Tree::Node);
    Bytes page;
    if (const auto rc = StartPage(store, reader, state, page, offset, depth, expected, upper, &WalkNodeTree))
        return *rc;

    const NodeEntryFields& f = store.layout->nbtLeaf;
    const std::size_t width = store.layout->idWidth;
    LeafScan scan(store, page, f.size, f.limit, expected);
    const ByteReader& bytes = scan.bytes;
    LeafPageContext ctx;
    ctx.pageOffset = offset;
    // Entries of a page that fails its checksum are used, and marked.
    ctx.doubtful = PageCrcFails(store, page);
    std::optional<std::uint32_t> previous;
    for (std::size_t at = 0; at + f.size <= page.size() && scan.taken < scan.geometry.limit;
         at += scan.geometry.stride) {
        const auto nid = static_cast<std::uint32_t>(bytes.peekAt(at + f.nidAt, 4).value_or(0));
        if (upper && nid >= *upper) break;
        if (previous && nid <= *previous) break;
        ++scan.taken;
        if (!scan.FirstKeyHolds(nid)) return RejectPage(state, offset);
        store.nbtLeafSeen = true;
        if (nid == 0) continue;
        previous = nid;
        PlaceNodeEntry(store, ctx, nid, bytes.peekAt(at + f.bidDataAt, width).value_or(0),
                       bytes.peekAt(at + f.bidSubAt, width).value_or(0),
                       static_cast<std::uint32_t>(bytes.peekAt(at + f.parentAt, 4).value_or(0)));
        ++store.walkStats.nbtLeafEntries;
        if (scan.PastCount(at)) ++store.walkStats.nbtEntriesPastCount;
    }
    ++store.walkStats.nbtLeafPages;
    CheckPageCrc(store, page);
    return kWalkNodeLeafDone;
}

void SettleCryptMethod(StoreFile& store) {
    store.cryptMethod = 1;
    // The message store's heap decides; when it cannot be read, the first
    // other node whose data can (a damaged block must not make a whole
    // unencoded store unreadable).
    std::vector<const NodeEntry*> candidates;
    if (const NodeEntry* messageStore = FindNode(store, kMessageStoreNid)) candidates.push_back(messageStore);
    for (const NodeEntry& node : store.forest.records()) {
        if (candidates.size() >= kCryptProbeNodes) break;
        if (node.nid != kMessageStoreNid) candidates.push_back(&node);
    }
    for (const NodeEntry* node : candidates) {
        if (node->dataBlock() == nullptr || IsInternalBid(node->dataBlock()->bid())) continue;
        Bytes heap;
        if (ReadBlockEntry(store, *node->dataBlock(), heap) < 3) continue;
        DecodeBlock(heap, 1, node->dataBlock()->bid());
        if (heap[2] != kHeapSignature && (store.headerCryptMethod == 0 || store.headerCryptMethod == 2))
            store.cryptMethod = store.headerCryptMethod;
        return;
    }
}

namespace {

// Both trees walked into the tables: BuildIndexes without letting go of
// the pages entered.
int WalkBothTrees(StoreFile& store, StoreReader& reader) {
    if (store.layout == nullptr || !store.layout->walkable) return 2;
    store.walkStats = WalkStats{};
    store.bbtPagesEntered.clear();
    store.nbtPagesEntered.clear();

    int rc = WalkBlockTree(store, reader, store.bbtRootOffset, 0, std::nullopt, std::nullopt);
    if (rc == kWalkRejected) store.bbtLeafDepth = 0;
    if (rc == kWalkRejected || rc == kWalkLeafDepthFound) {
        store.bbtPagesEntered.clear();
        if (WalkBlockTree(store, reader, store.bbtRootOffset, 0, kFirstStoreBid, std::nullopt) == kWalkRejected) {
            CountRejection(store);
            ++store.damage.rootPagesUnusable;
            return 2;
        }
    }

    rc = WalkNodeTree(store, reader, store.nbtRootOffset, 0, kMessageStoreNid, std::nullopt);
    if (rc == kWalkRejected) store.nbtLeafDepth = 0;
    if (rc == kWalkRejected || rc == kWalkLeafDepthFound) {
        store.nbtPagesEntered.clear();
        if (WalkNodeTree(store, reader, store.nbtRootOffset, 0, kMessageStoreNid, std::nullopt) == kWalkRejected) {
            CountRejection(store);
            ++store.damage.rootPagesUnusable;
            store.damage.orphanNodes = store.forest.Orphans().size();
            return 2;
        }
    }
    store.damage.orphanNodes = store.forest.Orphans().size();
    SettleCryptMethod(store);
    return 0;
}

}  // namespace

int BuildIndexes(StoreFile& store, StoreReader& reader) {
    const int rc = WalkBothTrees(store, reader);
    if (!store.keepPagesEntered) {
        std::unordered_set<std::uint64_t>().swap(store.bbtPagesEntered);
        std::unordered_set<std::uint64_t>().swap(store.nbtPagesEntered);
    }
    return rc;
}

}  // namespace bm
