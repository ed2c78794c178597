// A table context's rows, one at a time, with bounded memory: the checker's
// reading of hierarchy and contents tables of any length.
//
// The rows are the ones ForEachTableRow gives for the node's whole heap, in
// the same order (the last row first) and with the same cells. What is held
// instead of the node's data: a record per heap page and per row-matrix
// block, one row-matrix block at a time, and a few heap pages (the values
// of the rows being read, and the row index while it is counted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "messaging/property_context.h"
#include "store/store_file.h"
#include "store/subnodes.h"

namespace bm {

enum class TableHeap : std::uint8_t {
    None,      // no data could be read, or it is no heap
    NotTable,  // a heap of another client (a property context, ...)
    Table,     // a heap with the table context signature
};

struct BoundedTableOptions {
    const NamedPropertyMap* names = nullptr;
    bool onlyExistingCells = false;
    // Heap pages kept at once (at least 2).
    std::size_t heapPagesKept = 16;
    // When not empty, the rows hold only the cells of these columns (by
    // property id, below 0x8000): for a check that looks at a few.
    std::vector<std::uint16_t> onlyColumns;
};

// Reads the heap of the node whose data block is `data`; when it is a table
// context, visits its rows as ForEachTableRow does (values kept in subnodes
// are read from `subnodes`, which may be null) and sets `rowCount` to what
// ForEachTableRow returns. `rowCount` is nullopt otherwise.
TableHeap ForEachBoundedTableRow(StoreFile& store, const BlockEntry& data, const SubnodeList* subnodes,
                                 const BoundedTableOptions& options, const TableRowVisitor& visit,
                                 std::optional<std::size_t>& rowCount);

}  // namespace bm
