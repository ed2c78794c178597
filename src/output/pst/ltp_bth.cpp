#include "output/pst/ltp_bth.h"

#include <algorithm>
#include <stdexcept>

#include "common/byte_reader.h"

namespace bm::pst {

namespace {
constexpr std::uint8_t kBthSignature = 0xB5;
constexpr std::size_t kBthHeaderSize = 8;
}  // namespace

Hid ReserveBthHeader(HeapBuilder& heap) {
    const std::uint8_t empty[kBthHeaderSize] = {};
    return heap.Allocate(empty);
}

Hid BuildBth(HeapBuilder& heap, std::uint8_t keySize, std::uint8_t recordSize, std::vector<BthRecord> records,
             Hid reservedHeader) {
    if ((keySize != 2 && keySize != 4) || recordSize == 0 || recordSize > 8) {
        throw std::invalid_argument("unsupported BTH key or record size");
    }
    std::sort(records.begin(), records.end(), [](const BthRecord& a, const BthRecord& b) { return a.key < b.key; });
    for (std::size_t i = 1; i < records.size(); ++i) {
        if (records[i].key == records[i - 1].key) throw std::invalid_argument("duplicate BTH key");
    }
    std::vector<std::uint8_t> header(kBthHeaderSize, 0);
    const Hid headerHid = reservedHeader != 0 ? reservedHeader : heap.Allocate(header);

    // Each level: (first key, HID) of its nodes; the leaves first.
    struct NodeRef {
        std::uint32_t firstKey;
        Hid hid;
    };
    std::vector<NodeRef> level;
    const std::size_t leafEntry = keySize + recordSize;
    const std::size_t perLeaf = kMaxHeapAllocation / leafEntry;
    for (std::size_t i = 0; i < records.size(); i += perLeaf) {
        const std::size_t n = std::min(perLeaf, records.size() - i);
        std::vector<std::uint8_t> node(n * leafEntry);
        for (std::size_t k = 0; k < n; ++k) {
            std::uint8_t* p = node.data() + k * leafEntry;
            PutLe(p, records[i + k].key, keySize);
            std::copy_n(records[i + k].data.begin(), recordSize, p + keySize);
        }
        level.push_back({records[i].key, heap.Allocate(node)});
    }
    std::uint8_t indexLevels = 0;
    const std::size_t indexEntry = keySize + 4u;
    const std::size_t perIndex = kMaxHeapAllocation / indexEntry;
    while (level.size() > 1) {
        std::vector<NodeRef> upper;
        for (std::size_t i = 0; i < level.size(); i += perIndex) {
            const std::size_t n = std::min(perIndex, level.size() - i);
            std::vector<std::uint8_t> node(n * indexEntry);
            for (std::size_t k = 0; k < n; ++k) {
                PutLe(node.data() + k * indexEntry, level[i + k].firstKey, keySize);
                PutLe(node.data() + k * indexEntry + keySize, level[i + k].hid, 4);
            }
            upper.push_back({level[i].firstKey, heap.Allocate(node)});
        }
        level = std::move(upper);
        ++indexLevels;
    }
    header[0] = kBthSignature;
    header[1] = keySize;
    header[2] = recordSize;
    header[3] = indexLevels;
    PutLe(header.data() + 4, level.empty() ? 0 : level.front().hid, 4);
    heap.Overwrite(headerHid, header);
    return headerHid;
}

}  // namespace bm::pst
