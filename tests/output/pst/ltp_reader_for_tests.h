// A small reader of heaps, BTHs, property and table contexts for the tests of
// the writer's builders. It reads through bm::ByteReader only and checks what
// it reads, so a builder's mistake shows as a failed expectation.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bmtest {

struct HeapView {
    std::vector<std::vector<std::uint8_t>> blocks;
    std::uint8_t client = 0;
    std::uint32_t userRoot = 0;
    std::string error;  // empty when the heap's structure is sound

    // The bytes of an allocation; nullopt for a bad HID.
    std::optional<std::vector<std::uint8_t>> Alloc(std::uint32_t hid) const;
};

HeapView ReadHeap(const std::vector<std::vector<std::uint8_t>>& blocks);

struct BthView {
    std::uint8_t keySize = 0, recordSize = 0, levels = 0;
    // key -> record bytes, in key order as found by walking the tree.
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> records;
    std::string error;
};

BthView ReadBth(const HeapView& heap, std::uint32_t headerHid);

struct PcEntryView {
    std::uint16_t type = 0;
    std::uint32_t ref = 0;
    std::vector<std::uint8_t> heapValue;  // when ref is a HID of a non-inline value
};
// id -> entry
std::map<std::uint16_t, PcEntryView> ReadPc(const HeapView& heap, std::string& error);

struct TcColumnView {
    std::uint32_t tag;
    std::uint16_t offset;
    std::uint8_t size, bit;
};
struct TcView {
    std::vector<TcColumnView> columns;
    std::uint16_t end4 = 0, end2 = 0, end1 = 0, rowSize = 0;
    std::uint32_t rowIndexHid = 0, rowsRef = 0;
    BthView rowIndex;
    std::string error;
};
TcView ReadTcInfo(const HeapView& heap);

// Reads row number index from a matrix given as one byte string (a heap
// allocation) or as the concatenated blocks of a subnode.
std::vector<std::uint8_t> RowAt(const std::vector<std::uint8_t>& matrix, const TcView& tc, std::size_t index,
                                bool fromSubnode);
bool CellExists(const std::vector<std::uint8_t>& row, const TcView& tc, const TcColumnView& column);

}  // namespace bmtest
