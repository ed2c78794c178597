// Small heap-on-node images for tests: heap pages with their page maps,
// B-trees-on-heap, property contexts and table contexts, built in a few
// lines and handed to the messaging layer as a node's data blocks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

namespace bmtest {

using Bytes = std::vector<std::uint8_t>;

// The HID of allocation `index` (from 1) on page `page`, in the ANSI and
// Unicode split (11 index bits, page from bit 16).
constexpr std::uint32_t Hid(std::uint32_t index, std::uint32_t page = 0) { return (index << 5) | (page << 16); }

void PutU16(Bytes& b, std::size_t at, std::uint16_t v);
void PutU32(Bytes& b, std::size_t at, std::uint32_t v);
void AppendU16(Bytes& b, std::uint16_t v);
void AppendU32(Bytes& b, std::uint32_t v);
Bytes Utf16(std::u16string_view text);
// UTF-8 text as the UTF-16LE bytes a Unicode string property holds.
Bytes Utf16(std::string_view utf8);
// A 32-bit value's four bytes, little-endian.
Bytes Le32(std::uint32_t v);

class HeapImage {
public:
    explicit HeapImage(std::uint8_t clientSignature);

    // Adds an allocation to `page` (adding pages as needed); returns its HID.
    std::uint32_t Add(std::span<const std::uint8_t> bytes, std::uint32_t page = 0);
    std::uint32_t Add(std::initializer_list<std::uint8_t> bytes, std::uint32_t page = 0) {
        return Add(std::span<const std::uint8_t>(bytes.begin(), bytes.size()), page);
    }
    void SetUserRoot(std::uint32_t hid) { userRoot_ = hid; }

    // The pages: header, allocations, then the page map.
    std::vector<Bytes> Build() const;

private:
    std::uint8_t clientSig_;
    std::uint32_t userRoot_ = 0;
    std::vector<std::vector<Bytes>> pages_;  // allocations per page
};

// A BTH header allocation over `records` (each keySize + entrySize bytes)
// stored as one leaf allocation; returns the header's HID. With
// `indexLevels` 1 the records are split over two leaf allocations under one
// index allocation.
std::uint32_t AddBth(HeapImage& heap, std::uint8_t keySize, std::uint8_t entrySize, const std::vector<Bytes>& records,
                     std::uint8_t indexLevels = 0, std::uint32_t page = 0);

// A property context: records in the order added.
class PropertyContextImage {
public:
    // An inline value (PT_LONG and the like).
    PropertyContextImage& Inline(std::uint16_t id, std::uint16_t type, std::uint32_t value);
    // A value stored in the heap, on `page`.
    PropertyContextImage& Heap(std::uint16_t id, std::uint16_t type, Bytes value, std::uint32_t page = 0);
    // A record whose value field is given as is (an HNID, a subnode NID, 0).
    PropertyContextImage& Raw(std::uint16_t id, std::uint16_t type, std::uint32_t field);
    PropertyContextImage& IndexLevels(std::uint8_t levels) {
        indexLevels_ = levels;
        return *this;
    }
    std::vector<Bytes> Build() const;

private:
    struct Record {
        std::uint16_t id;
        std::uint16_t type;
        std::uint32_t field;
        bool inHeap;
        Bytes value;
        std::uint32_t page;
    };
    std::vector<Record> records_;
    std::uint8_t indexLevels_ = 0;
};

// A table context with one row matrix in the heap (or none, for a matrix
// kept in a subnode: set MatrixNid).
class TableContextImage {
public:
    struct Column {
        std::uint16_t id;
        std::uint16_t type;
        std::uint16_t ibData;
        std::uint8_t cbData;
        std::uint8_t iBit;
    };
    // rowIndexEntrySize: 4 in Unicode stores, 2 in ANSI stores.
    TableContextImage(std::vector<Column> columns, std::uint16_t rowWidth, std::uint8_t rowIndexEntrySize = 4);
    // A row of rowWidth bytes; returns it for filling cells.
    Bytes& AddRow();
    // Stores a value in the heap and returns its HID, for string cells.
    std::uint32_t HeapValue(Bytes value);
    void MatrixNid(std::uint32_t nid) { matrixNid_ = nid; }
    std::vector<Bytes> Build() const;
    // The row matrix as one block (what a subnode would hold).
    Bytes Matrix() const;

private:
    std::vector<Column> columns_;
    std::uint16_t rowWidth_;
    std::uint8_t rowIndexEntrySize_;
    std::vector<Bytes> rows_;
    std::vector<Bytes> heapValues_;
    std::uint32_t matrixNid_ = 0;
};

}  // namespace bmtest
