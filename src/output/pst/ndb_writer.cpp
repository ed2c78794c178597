#include "output/pst/ndb_writer.h"

#include <stdexcept>

namespace bm::pst {

class NdbWriter::Impl {};

NdbWriter::NdbWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NdbWriter::~NdbWriter() = default;

std::unique_ptr<NdbWriter> NdbWriter::Create(const std::filesystem::path&, const NdbOptions&) {
    throw std::runtime_error("NdbWriter: not implemented yet");
}
Bid NdbWriter::WriteData(std::span<const std::uint8_t>) { return 0; }
Bid NdbWriter::WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>&) { return 0; }
Bid NdbWriter::WriteDataStream(std::uint64_t, const std::function<std::size_t(std::span<std::uint8_t>)>&) { return 0; }
Bid NdbWriter::WriteSubnodes(std::vector<Subnode>) { return 0; }
void NdbWriter::SetNode(Nid, Bid, Bid, Nid) {}
void NdbWriter::AddBlockReference(Bid) {}
Nid NdbWriter::NewNid(NidType) { return 0; }
void NdbWriter::Finish() {}
std::uint64_t NdbWriter::FileSize() const { return 0; }

}  // namespace bm::pst
