#include "check/check_node_pages.h"

#include <algorithm>

#include "store/tables.h"

namespace bm {

namespace {

// The most bytes a node's data may deliver: the format's 32-bit total, and
// no more than the file's blocks can hold (ReadNodeData's own bound).
std::uint64_t DataCap(const StoreFile& store) {
    std::uint64_t fileBound = store.file.size();
    if (store.layout != nullptr && store.layout->block.compressed)
        fileBound = fileBound / store.layout->block.alignment * 65536 + 65536;
    return std::min(kMaxNodeDataBytes, fileBound);
}

void Decode(const StoreFile& store, Bytes& data, std::uint64_t bid) {
    if (store.cryptMethod != 0 && !data.empty()) DecodeBlock(data, store.cryptMethod, bid);
}

}  // namespace

NodePages::NodePages(StoreFile& store, const BlockEntry& entry) : store_(store), cap_(DataCap(store)) {
    if (IsInternalBid(entry.bid())) {
        listTree(entry.bid());
        return;
    }
    Bytes block;
    const std::size_t n = ReadBlockEntry(store_, entry, block);
    if (n != 0) pages_.push_back({&entry, static_cast<std::uint32_t>(n)});
}

bool NodePages::add(const BlockEntry& entry, std::size_t size) {
    if (total_ + size > cap_) return false;
    total_ += size;
    pages_.push_back({&entry, static_cast<std::uint32_t>(size)});
    return true;
}

bool NodePages::listTree(std::uint64_t bid) {
    return WalkDataTree(store_, bid, false, [this](const BlockEntry& leaf, Bytes& bytes) {
        return add(leaf, bytes.size());
    });
}

bool NodePages::read(std::size_t i, Bytes& out) const {
    const Page& page = pages_[i];
    if (ReadBlockEntry(store_, *page.entry, out) != page.size) return false;
    Decode(store_, out, page.entry->bid());
    return true;
}

}  // namespace bm
