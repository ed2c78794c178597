// The B-tree-on-heap (BTH): a sorted map from small keys to small records,
// kept in heap allocations. Its header (0xB5, key size, record size, number
// of index levels, HID of the root node) is one allocation; the nodes below
// are allocations of packed records: leaves hold key + record, index nodes
// key + HID of the child, each keyed by the child's first key. A node holds
// as many records as fit one heap allocation.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "output/pst/ltp_heap.h"

namespace bm::pst {

struct BthRecord {
    std::uint32_t key = 0;                 // compared as a number
    std::array<std::uint8_t, 8> data{};    // the first recordSize bytes are used
};

// Allocates the 8 bytes of a BTH header to be filled by BuildBth later, so a
// client can have its root at the heap's first HID.
Hid ReserveBthHeader(HeapBuilder& heap);

// Builds a BTH over records (in any order; keys must be unique, otherwise
// std::invalid_argument) and returns the HID of its header: the reserved one
// when given, else a new allocation. keySize is 2 or 4, recordSize 1 to 8.
Hid BuildBth(HeapBuilder& heap, std::uint8_t keySize, std::uint8_t recordSize, std::vector<BthRecord> records,
             Hid reservedHeader = 0);

}  // namespace bm::pst
