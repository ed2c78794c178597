// The part of an in-memory node sink that every writer test shares: data
// blocks kept as the pieces they came in and subnode lists, each under a
// BID of its own. A test's sink adds how it takes single values, streams,
// data trees and nodes.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "output/pst/ltp_node_sink.h"

namespace bmtest {

class MemoryNodeSinkBase : public bm::pst::NodeSink {
public:
    using Bid = bm::pst::Bid;
    using Subnode = bm::pst::NdbWriter::Subnode;

    Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) override { return Put(pieces); }
    Bid WriteSubnodes(std::vector<Subnode> entries) override {
        if (entries.empty()) return 0;
        const Bid bid = next_ += 4;
        subnodes[bid] = std::move(entries);
        return bid;
    }
    void Finish() override {}
    std::uint64_t FileSize() const override { return 0; }

    // A block's pieces end to end.
    std::vector<std::uint8_t> Flat(Bid bid) const {
        std::vector<std::uint8_t> out;
        for (const auto& p : blocks.at(bid)) out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    std::map<Bid, std::vector<std::vector<std::uint8_t>>> blocks;
    std::map<Bid, std::vector<Subnode>> subnodes;

protected:
    Bid Put(std::vector<std::vector<std::uint8_t>> pieces) {
        const Bid bid = next_ += 4;
        blocks[bid] = std::move(pieces);
        return bid;
    }

private:
    Bid next_ = 0;
};

}  // namespace bmtest
