// A table context written straight into the store as its rows are read, for
// tables of any number of rows: a contents table of a million messages never
// sits whole in memory. The table is the one BuildTableContext makes of the
// same rows (the same heap, row index, row matrix and subnodes); only the
// order its blocks take in the file differs.
//
// The rows are read twice: once for their ids (the row index comes first in
// the heap), once for their cells. Memory then holds the row index's
// records (12 bytes a row while it is built), the heap blocks that are not
// final yet (the first, a bitmap block and the current one), one block of
// the row matrix and the BIDs of the blocks written.
#pragma once

#include <functional>

#include "output/pst/ltp_node_sink.h"
#include "output/pst/ltp_tc.h"

namespace bm::pst {

// Calls the visitor with every row of a table, in row order; each call
// gives the same rows.
using TableRowVisitor = std::function<void(const TableRow&)>;
using TableRowSource = std::function<void(const TableRowVisitor&)>;

// Writes the table as node nid (under parent) with its subnodes. Row ids
// must be unique (std::invalid_argument otherwise).
void WriteTableContext(NodeSink& ndb, Nid nid, Nid parent, const TableLayout& layout, const TableRowSource& rows);

}  // namespace bm::pst
