#include "store/subnodes.h"

#include <algorithm>

#include "common/byte_reader.h"
#include "store/blocks.h"
#include "store/content_damage.h"

namespace bm {

namespace {

struct SubnodeRead {
    StoreFile& store;
    SubnodeList& list;
    // The blocks read so far; a node has only a few subnode blocks.
    std::vector<const BlockEntry*> seen;
    std::size_t appended = 0;

    // Reads one SLBLOCK or SIBLOCK; `level` is the nesting of its subnodes.
    void Block(const BlockEntry& entry, std::uint32_t level) {
        if (level >= kMaxSubnodeNesting || std::find(seen.begin(), seen.end(), &entry) != seen.end()) {
            ++store.damage.subnodeBlocksRejected;
            NoteBlockFault(store, BlockFault::TreeCut, entry.bid());
            return;
        }
        seen.push_back(&entry);
        Bytes bytes;
        const std::size_t n = ReadBlockEntry(store, entry, bytes);
        const ByteReader reader(bytes);
        const auto type = reader.peekAt(0, 1);
        const auto blockLevel = reader.peekAt(1, 1);
        const auto count = reader.peekAt(2, 2);
        const bool full = n == (entry.inflatedSize() > entry.size() ? entry.inflatedSize() : entry.size());
        if (!full || !count || *type != kSubnodeBlockType || *blockLevel > 1 || store.layout == nullptr) {
            ++store.damage.subnodeBlocksRejected;
            NoteBlockFault(store, BlockFault::TreeCut, entry.bid());
            return;
        }
        const StoreLayout& layout = *store.layout;
        const std::size_t w = layout.idWidth;
        const std::size_t size = *blockLevel == 0 ? layout.internal.subnodeLeafSize : layout.internal.subnodeInnerSize;
        if (*blockLevel == 0 && list.empty()) list.Reserve(*count);
        for (std::size_t i = 0; i < *count; ++i) {
            const std::size_t at = layout.internal.subnodeEntriesAt + i * size;
            const ByteReader e = reader.sub(at, size);
            if (e.failed()) break;  // entries past the bytes read are not used
            const auto nid = static_cast<std::uint32_t>(e.peekAt(0, 4).value_or(0));
            const std::uint64_t bid = e.peekAt(w, w).value_or(0);
            const BlockEntry* block = FindBlock(store, bid);
            if (block == nullptr) {
                ++store.damage.blocksMissing;
                NoteBlockFault(store, BlockFault::Missing, bid);
                continue;
            }
            if (*blockLevel == 1) {
                Block(*block, level);  // an SIBLOCK names SLBLOCKs of the same level
                continue;
            }
            const std::uint64_t bidSub = e.peekAt(2 * w, w).value_or(0);
            const BlockEntry* sub = bidSub != 0 ? FindBlock(store, bidSub) : nullptr;
            list.Append(SubnodeEntry{nid, block, sub, level});
            ++appended;
            if (sub != nullptr) Block(*sub, level + 1);
        }
    }
};

}  // namespace

void SubnodeList::Reserve(std::size_t count) {
    entries_.reserve(count);
    first_.reserve(count);
}

void SubnodeList::Append(const SubnodeEntry& entry) {
    const std::size_t at = entries_.size();
    entries_.push_back(entry);
    if (!first_.empty() && first_.back().nid >= entry.nid) settled_ = false;
    first_.push_back(FirstRecord{entry.nid, at});
}

void SubnodeList::Settle() const {
    // A stable sort keeps a NID's records in the order appended: the first
    // of them is the one kept.
    std::stable_sort(first_.begin(), first_.end(),
                     [](const FirstRecord& a, const FirstRecord& b) { return a.nid < b.nid; });
    first_.erase(std::unique(first_.begin(), first_.end(),
                             [](const FirstRecord& a, const FirstRecord& b) { return a.nid == b.nid; }),
                 first_.end());
    settled_ = true;
}

const SubnodeEntry* SubnodeList::FindEntry(std::uint32_t nid) const {
    if (!settled_) Settle();
    const auto it = std::lower_bound(first_.begin(), first_.end(), nid,
                                     [](const FirstRecord& r, std::uint32_t n) { return r.nid < n; });
    return it == first_.end() || it->nid != nid ? nullptr : &entries_[it->at];
}

const BlockEntry* SubnodeList::Find(std::uint32_t nid) const {
    const SubnodeEntry* entry = FindEntry(nid);
    return entry == nullptr ? nullptr : entry->block;
}

std::size_t ReadSubnodes(StoreFile& store, const BlockEntry& entry, SubnodeList& list) {
    SubnodeRead read{store, list, {}, 0};
    read.Block(entry, 0);
    return read.appended;
}

SubnodeList ReadSubnodes(StoreFile& store, const BlockEntry& entry) {
    SubnodeList list;
    ReadSubnodes(store, entry, list);
    return list;
}

const BlockEntry* FindSubnode(const SubnodeList& list, std::uint32_t nid) { return list.Find(nid); }

}  // namespace bm
