#include "check/check_node_pages.h"

#include <algorithm>

#include "common/byte_reader.h"
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
        listTree(entry.bid(), 0);
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

bool NodePages::listTree(std::uint64_t bid, unsigned depth) {
    const BlockEntry* entry = FindBlock(store_, bid);
    if (entry == nullptr) return false;
    Bytes block;
    const std::size_t n = ReadBlockEntry(store_, *entry, block);
    if (n == 0) return false;
    // Not an XBLOCK: the block is the data itself.
    if (block[0] != kDataTreeBlockType) return add(*entry, n);
    const ByteReader reader(block);
    const auto level = static_cast<std::uint8_t>(reader.peekAt(1, 1).value_or(0));
    const auto count = static_cast<std::size_t>(reader.peekAt(2, 2).value_or(0));
    // Only the top of a tree may hold further trees (XXBLOCK over XBLOCKs).
    if (level != 1 && depth > 0) return false;
    const std::size_t width = store_.layout != nullptr ? store_.layout->idWidth : 4;
    const std::size_t first = store_.layout != nullptr ? store_.layout->internal.dataTreeEntriesAt : 8;
    Bytes data;
    for (std::size_t i = 0; i < count; ++i) {
        const auto child = reader.peekAt(first + i * width, width);
        if (!child) break;  // entries past the bytes read are not there
        if (level != 1) {
            if (!listTree(*child, depth + 1)) return false;
            continue;
        }
        if (IsInternalBid(*child)) return false;  // an XBLOCK names data blocks only
        const BlockEntry* childEntry = FindBlock(store_, *child);
        if (childEntry == nullptr) return false;
        const std::size_t m = ReadBlockEntry(store_, *childEntry, data);
        if (m == 0 || !add(*childEntry, m)) return false;
    }
    return true;
}

bool NodePages::read(std::size_t i, Bytes& out) const {
    const Page& page = pages_[i];
    if (ReadBlockEntry(store_, *page.entry, out) != page.size) return false;
    Decode(store_, out, page.entry->bid());
    return true;
}

}  // namespace bm
