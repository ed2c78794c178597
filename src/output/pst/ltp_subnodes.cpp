#include "output/pst/ltp_subnodes.h"

namespace bm::pst {

Nid LocalSubnodes::Add(NidType type, Bid data, Bid subnodes) {
    const Nid nid = MakeNid(type, next_++);
    entries_.push_back({nid, data, subnodes});
    return nid;
}

LargeValueSink LocalSubnodes::Sink() {
    return [this](std::span<const std::uint8_t> bytes) { return Add(NidType::Ltp, ndb_.WriteData(bytes), 0); };
}

Bid LocalSubnodes::Finish() {
    const Bid bid = ndb_.WriteSubnodes(std::move(entries_));
    entries_.clear();
    return bid;
}

void LocalSubnodes::WriteNode(Nid nid, const std::vector<std::vector<std::uint8_t>>& heap, Nid parent) {
    const Bid data = ndb_.WriteDataBlocks(heap);
    ndb_.SetNode(nid, data, Finish(), parent);
}

}  // namespace bm::pst
