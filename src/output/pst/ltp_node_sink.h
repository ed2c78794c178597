// Where the lists-and-tables layer puts the nodes it builds: the operations
// of the NDB writer that it needs. The store writes through NdbWriter; tests
// of message and folder writing use an in-memory sink.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "output/pst/ndb_writer.h"

namespace bm::pst {

class NodeSink {
public:
    virtual ~NodeSink() = default;
    virtual Bid WriteData(std::span<const std::uint8_t> bytes) = 0;
    virtual Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) = 0;
    virtual Bid WriteDataStream(std::uint64_t size,
                                const std::function<std::size_t(std::span<std::uint8_t>)>& read) = 0;
    // A node's data over blocks WriteData wrote, in the order given.
    virtual Bid WriteDataTree(const std::vector<NdbWriter::DataPiece>& pieces) = 0;
    virtual Bid WriteSubnodes(std::vector<NdbWriter::Subnode> entries) = 0;
    virtual void SetNode(Nid nid, Bid data, Bid subnodes, Nid parent) = 0;
    virtual Nid NewNid(NidType type) = 0;
    // The header's dwUnique: above every row version the store holds.
    virtual void SetUnique(std::uint32_t /*unique*/) {}
    // Completes the file (index, maps, header); nothing is written after.
    virtual void Finish() = 0;
    virtual std::uint64_t FileSize() const = 0;
};

// Forwards to an NdbWriter it owns.
class NdbNodeSink final : public NodeSink {
public:
    explicit NdbNodeSink(std::unique_ptr<NdbWriter> ndb) : owned_(std::move(ndb)), ndb_(*owned_) {}
    Bid WriteData(std::span<const std::uint8_t> bytes) override { return ndb_.WriteData(bytes); }
    Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) override {
        return ndb_.WriteDataBlocks(pieces);
    }
    Bid WriteDataStream(std::uint64_t size,
                        const std::function<std::size_t(std::span<std::uint8_t>)>& read) override {
        return ndb_.WriteDataStream(size, read);
    }
    Bid WriteDataTree(const std::vector<NdbWriter::DataPiece>& pieces) override { return ndb_.WriteDataTree(pieces); }
    Bid WriteSubnodes(std::vector<NdbWriter::Subnode> entries) override {
        return ndb_.WriteSubnodes(std::move(entries));
    }
    void SetNode(Nid nid, Bid data, Bid subnodes, Nid parent) override { ndb_.SetNode(nid, data, subnodes, parent); }
    Nid NewNid(NidType type) override { return ndb_.NewNid(type); }
    void SetUnique(std::uint32_t unique) override { ndb_.SetUnique(unique); }
    void Finish() override { ndb_.Finish(); }
    std::uint64_t FileSize() const override { return ndb_.FileSize(); }

private:
    std::unique_ptr<NdbWriter> owned_;
    NdbWriter& ndb_;
};

}  // namespace bm::pst
