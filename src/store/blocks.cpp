#include "store/blocks.h"

namespace bm {

std::size_t ReadAt(const StoreFile&, std::uint64_t, std::size_t, Bytes& slot) {
    slot.clear();
    return 0;
}
std::size_t ReadBlock(StoreFile&, std::uint64_t, Bytes&) { return 0; }
std::size_t ReadBlockEntry(StoreFile&, const BlockEntry&, Bytes&) { return 0; }
std::size_t ReadBlockDecoded(StoreFile&, std::uint64_t, Bytes&) { return 0; }
int DecodeBlock(std::span<std::uint8_t>, std::uint32_t, std::uint64_t) { return -1; }
std::uint64_t ReadNodeData(StoreFile&, const BlockEntry&, const NodeDataTarget&, std::uint64_t* delivered) {
    if (delivered) *delivered = 0;
    return 0;
}
std::uint64_t ReadDataTree(StoreFile&, std::uint64_t, const NodeDataTarget&, std::uint64_t) { return 0; }

}  // namespace bm
