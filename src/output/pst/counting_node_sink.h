// A node sink that passes everything on to another and counts the bytes of
// node data written through it: data blocks and data trees as their data
// (no trailers, padding or tree blocks), subnode lists not at all. The
// difference of two counts is the data a message's nodes took in between,
// which is what its PidTagMessageSize holds.
#pragma once

#include <cstdint>

#include "output/pst/ltp_node_sink.h"

namespace bm::pst {

class CountingNodeSink final : public NodeSink {
public:
    explicit CountingNodeSink(NodeSink& next) : next_(next) {}

    std::uint64_t dataBytes() const { return dataBytes_; }

    Bid WriteData(std::span<const std::uint8_t> bytes) override {
        const Bid bid = next_.WriteData(bytes);
        dataBytes_ += bytes.size();
        return bid;
    }
    Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) override {
        const Bid bid = next_.WriteDataBlocks(pieces);
        for (const auto& p : pieces) dataBytes_ += p.size();
        return bid;
    }
    Bid WriteDataStream(std::uint64_t size,
                        const std::function<std::size_t(std::span<std::uint8_t>)>& read) override {
        const Bid bid = next_.WriteDataStream(size, read);
        dataBytes_ += size;
        return bid;
    }
    // The blocks were counted when WriteData wrote them.
    Bid WriteDataTree(const std::vector<NdbWriter::DataPiece>& pieces) override {
        return next_.WriteDataTree(pieces);
    }
    Bid WriteSubnodes(std::vector<NdbWriter::Subnode> entries) override {
        return next_.WriteSubnodes(std::move(entries));
    }
    void SetNode(Nid nid, Bid data, Bid subnodes, Nid parent) override { next_.SetNode(nid, data, subnodes, parent); }
    Nid NewNid(NidType type) override { return next_.NewNid(type); }
    void SetUnique(std::uint32_t unique) override { next_.SetUnique(unique); }
    void Finish() override { next_.Finish(); }
    std::uint64_t FileSize() const override { return next_.FileSize(); }

private:
    NodeSink& next_;
    std::uint64_t dataBytes_ = 0;
};

}  // namespace bm::pst
