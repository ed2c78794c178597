// The subnodes of one node being written: local NIDs handed out in order,
// values too large for a heap written on demand, and the subnode tree
// written last.
#pragma once

#include <cstdint>
#include <vector>

#include "output/pst/ltp_pc.h"
#include "output/pst/ltp_node_sink.h"

namespace bm::pst {

class LocalSubnodes {
public:
    explicit LocalSubnodes(NodeSink& ndb) : ndb_(ndb) {}

    // A subnode of the given type with a fresh local NID.
    Nid Add(NidType type, Bid data, Bid subnodes);
    // A subnode with a fixed NID (the recipient and attachment tables).
    void AddFixed(Nid nid, Bid data, Bid subnodes) { entries_.push_back({nid, data, subnodes}); }
    // Writes large values as data subnodes.
    LargeValueSink Sink();
    // Writes the subnode tree (0 when there are no subnodes).
    Bid Finish();

    // Writes heap blocks as a node's data and the collected subnodes, and
    // enters the node in the store.
    void WriteNode(Nid nid, const std::vector<std::vector<std::uint8_t>>& heap, Nid parent);

private:
    static constexpr std::uint32_t kFirstLocalIndex = 0x401;
    NodeSink& ndb_;
    std::uint32_t next_ = kFirstLocalIndex;
    std::vector<NdbWriter::Subnode> entries_;
};

}  // namespace bm::pst
