// Table contexts (TC): a heap whose client root is the TCINFO:
//
//   0x7C, column count, end offsets of the 4/8-byte, 2-byte and 1-byte cell
//   groups and of the cell-existence bitmap (= row size), HID of the row
//   index, reference of the row matrix, a deprecated 0, then one TCOLDESC
//   (tag, cell offset, cell size, bitmap bit) per column, sorted by tag.
//
// The row index is a BTH from the 4-byte row id to the 4-byte row number.
// The row matrix holds the rows one after another: cells at their column's
// offset (fixed values of up to 8 bytes in place, other values as a heap or
// subnode reference) and a bitmap, most significant bit first, saying which
// cells exist. A matrix that fits one heap allocation lives in the heap;
// a larger one is a subnode whose blocks each hold whole rows, every block
// but the last padded to the full 8176 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "output/pst/ltp_pc.h"
#include "output/pst/props.h"

namespace bm::pst {

struct TableColumn {
    std::uint32_t tag = 0;  // property id << 16 | type
    std::uint16_t offset = 0;
    std::uint8_t size = 0;
    std::uint8_t bit = 0;

    PropType type() const { return static_cast<PropType>(tag & 0xFFFF); }
    std::uint16_t id() const { return static_cast<std::uint16_t>(tag >> 16); }
};

// Size of a cell of a column of this type: 1, 2, 4 or 8 bytes in place, or a
// 4-byte reference for variable-size and 16-byte values.
std::uint8_t CellSize(PropType type);

class TableLayout {
public:
    // Takes columns with their places given (as the store's templates fix
    // them). Throws std::invalid_argument when cells overlap, a size does not
    // fit its type, a bit repeats, or the row id and row version columns are
    // not at offsets 0 and 4.
    static TableLayout FromColumns(std::vector<TableColumn> columns);
    // Places the row id and row version first, then the other columns in the
    // order given: 4- and 8-byte cells, 2-byte, 1-byte, then the bitmap.
    static TableLayout Arrange(const std::vector<std::uint32_t>& tags);

    // This layout with more columns: the 4- and 8-byte cells keep their
    // offsets and every column its bit; 2- and 1-byte cells are laid out
    // again after the grown 4/8-byte group. Tags already present are skipped.
    TableLayout Extend(const std::vector<std::uint32_t>& extraTags) const;

    const std::vector<TableColumn>& columns() const { return columns_; }  // sorted by tag
    const TableColumn* Find(std::uint32_t tag) const;
    std::uint16_t end4() const { return end4_; }
    std::uint16_t end2() const { return end2_; }
    std::uint16_t end1() const { return end1_; }
    std::uint16_t rowSize() const { return rowSize_; }

private:
    std::vector<TableColumn> columns_;
    std::uint16_t end4_ = 0, end2_ = 0, end1_ = 0, rowSize_ = 0;
};

// One row: its id (the 0x67F2 cell) and the other cells it has, as stored
// property values keyed by column tag. Cells for tags the layout does not
// have are ignored.
struct TableRow {
    std::uint32_t id = 0;
    std::uint32_t version = 0;  // the 0x67F3 cell
    struct Cell {
        std::uint32_t tag;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Cell> cells;
};

// The heap blocks of a table context over rows, in row order. Row ids must
// be unique. Values and a row matrix too large for the heap go to the sink.
std::vector<std::vector<std::uint8_t>> BuildTableContext(const TableLayout& layout, const std::vector<TableRow>& rows,
                                                         const LargeValueSink& sink);

// Rows per block of a row matrix kept in a subnode.
std::size_t RowsPerMatrixBlock(std::uint16_t rowSize);

// Shared by BuildTableContext and the streamed writer (ltp_tc_writer.h).
// The size of a layout's TCINFO.
std::size_t TcInfoSize(const TableLayout& layout);
// The TCINFO naming the row index and the row matrix (0 for none).
std::vector<std::uint8_t> TcInfo(const TableLayout& layout, Hid rowIndex, std::uint32_t rowsRef);
// Puts one row's cells and bitmap at p (rowSize bytes, zeroed); values that
// do not fit a cell go to the heap or, when too large for it, to sink.
void PlaceRow(const TableLayout& layout, const TableRow& row, std::uint8_t* p, HeapBuilder& heap,
              const LargeValueSink& sink);

}  // namespace bm::pst
