#include "messaging/property_reader.h"

#include <string>

#include "store/content_damage.h"
#include "store/tables.h"

namespace bm {

namespace {

// Values left out because they failed their own checks go to the item's
// damage account, with the part being read.
void NoteDroppedValues(StoreFile& store, std::size_t dropped) {
    if (dropped == 0 || store.contentDamage == nullptr) return;
    const std::string part = CurrentContentPart(store);
    const bool one = dropped == 1;
    NoteDamageLine(store, (part.empty() ? std::string("message") : part) + ": " + std::to_string(dropped) +
                              (one ? " value failed its own checks and was left out"
                                   : " values failed their own checks and were left out"));
}

}  // namespace

HidLayout HidLayoutFor(const StoreFile& store) {
    if (store.layout != nullptr && store.layout->kind == LayoutKind::Unicode4k) return kHidLayout4k;
    return kHidLayout;
}

std::optional<HeapBlocks> ReadNodeBlocks(StoreFile& store, const BlockEntry& dataBlock) {
    HeapBlocks blocks;
    if (!IsInternalBid(dataBlock.bid())) {
        // A single block: read straight into the heap's only page.
        Bytes page;
        NodeDataTarget target;
        target.buffer = &page;
        ReadNodeData(store, dataBlock, target);
        if (page.empty()) return std::nullopt;
        blocks.push_back(std::move(page));
        return blocks;
    }
    NodeDataTarget target;
    target.sink = [&blocks](std::span<const std::uint8_t> piece) {
        blocks.emplace_back(piece.begin(), piece.end());
        return true;
    };
    ReadNodeData(store, dataBlock, target);
    if (blocks.empty()) return std::nullopt;
    return blocks;
}

SubnodeDataReader MakeSubnodeDataReader(StoreFile& store, const SubnodeList* subnodes) {
    if (subnodes == nullptr) return {};
    return [&store, subnodes](std::uint32_t nid) -> std::optional<HeapBlocks> {
        const BlockEntry* block = FindSubnode(*subnodes, nid);
        if (block == nullptr) return std::nullopt;
        return ReadNodeBlocks(store, *block);
    };
}

std::optional<PropertyList> ReadPropertyObject(StoreFile& store, const BlockEntry& dataBlock,
                                               const SubnodeList* subnodes) {
    auto blocks = ReadNodeBlocks(store, dataBlock);
    if (!blocks) return std::nullopt;
    const auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store));
    if (!heap) return std::nullopt;
    PropertyReadContext ctx;
    ctx.names = StoreNamedPropertyMap(store);
    ctx.subnodes = MakeSubnodeDataReader(store, subnodes);
    std::size_t dropped = 0;
    ctx.valuesDropped = &dropped;
    auto list = ReadPropertyObject(*heap, ctx);
    NoteDroppedValues(store, dropped);
    return list;
}

bool ForEachPropertyChunk(StoreFile& store, const BlockEntry& dataBlock, const SubnodeList* subnodes,
                          const TableRowVisitor& visit) {
    auto blocks = ReadNodeBlocks(store, dataBlock);
    if (!blocks) return false;
    const auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store));
    if (!heap) return false;
    PropertyReadContext ctx;
    ctx.names = StoreNamedPropertyMap(store);
    ctx.subnodes = MakeSubnodeDataReader(store, subnodes);
    std::size_t dropped = 0;
    ctx.valuesDropped = &dropped;
    if (heap->clientSignature() == kTableContextSig) {
        const bool read = ForEachTableRow(*heap, ctx, visit).has_value();
        NoteDroppedValues(store, dropped);
        return read;
    }
    auto list = ReadPropertyObject(*heap, ctx);
    NoteDroppedValues(store, dropped);
    if (!list) return false;
    for (PropertyChunk& chunk : list->chunks) visit(std::move(chunk));
    return true;
}

std::size_t ReadSubnodeValue(StoreFile& store, std::uint32_t nid, const SubnodeList* subnodes, Bytes& out) {
    out.clear();
    if (subnodes == nullptr) return 0;
    const BlockEntry* block = FindSubnode(*subnodes, nid);
    if (block == nullptr) return 0;
    NodeDataTarget target;
    target.buffer = &out;
    ReadNodeData(store, *block, target);
    return out.size();
}

}  // namespace bm
