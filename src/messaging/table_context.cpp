// Table context (heap client signature 0x7C).
//
// The root allocation holds TCINFO, 22 bytes:
//   0 bType 0x7C, 1 cCols, 2..9 rgib[4] (u16 each: ends of the 4-, 2- and
//   1-byte cell groups and of the cell existence block, the last being the
//   row width), 10 hidRowIndex, 14 hnidRows, 18 hidIndex (unused)
// followed by cCols column descriptors of 8 bytes:
//   0 u32 tag (type low, id high), 4 u16 ibData, 6 u8 cbData, 7 u8 iBit.
// The row index is a BTH with 4-byte keys (dwRowID) whose records count the
// rows. The row matrix holds the rows back to back, either in one heap
// allocation or, for a large table, in a subnode whose data blocks each hold
// as many whole rows as fit.
//
// Cells are read at ibData within their row: 4-byte cells go through the
// record conversion (inline values or HNIDs); 1- and 2-byte cells are
// widened to 4 bytes; 8-byte fixed cells (times, 64-bit integers, doubles)
// are taken inline. A cell that lies outside the row matrix yields nothing
// for that row.
#include "common/byte_reader.h"
#include "messaging/property_context.h"
#include "messaging/table_info.h"

namespace bm {

namespace {

using Column = TableColumn;

// The rows of the matrix, each a span of `width` bytes.
std::vector<std::span<const std::uint8_t>> SplitRows(const HeapBlocks& blocks, std::size_t width) {
    std::vector<std::span<const std::uint8_t>> rows;
    if (width == 0) return rows;
    std::size_t count = 0;
    for (const auto& block : blocks) count += block.size() / width;
    rows.reserve(count);
    for (const auto& block : blocks) {
        for (std::size_t at = 0; at + width <= block.size(); at += width)
            rows.push_back(std::span<const std::uint8_t>(block).subspan(at, width));
    }
    return rows;
}

std::optional<PropertyValue> ConvertCell(const HeapNode& heap, const PropertyReadContext& ctx, const Column& col,
                                         std::span<const std::uint8_t> row) {
    if (IsEightByteFixed(col.type) && col.cbData == 8) {
        if (static_cast<std::size_t>(col.ibData) + 8 > row.size()) return std::nullopt;
        PropertyValue v;
        v.id = TranslatePropertyId(ctx.names, col.id, v);
        v.data = Bytes(row.begin() + col.ibData, row.begin() + col.ibData + 8);
        v.size = 8;
        v.type = col.type;
        return v;
    }
    std::uint8_t field[4] = {0, 0, 0, 0};
    const std::size_t width = col.cbData >= 1 && col.cbData < 4 ? col.cbData : 4;
    if (static_cast<std::size_t>(col.ibData) + width > row.size()) return std::nullopt;
    for (std::size_t i = 0; i < width; ++i) field[i] = row[col.ibData + i];
    return ConvertPropertyRecord(heap, ctx, col.id, col.type, field);
}

}  // namespace

std::optional<PropertyList> ReadTableContext(const HeapNode& heap, const PropertyReadContext& ctx) {
    PropertyList list;
    const auto count = ForEachTableRow(heap, ctx, [&](PropertyChunk&& row) { list.chunks.push_back(std::move(row)); });
    if (!count) return std::nullopt;
    list.rowCount = static_cast<std::int32_t>(*count);
    return list;
}

std::optional<std::size_t> ForEachTableRow(const HeapNode& heap, const PropertyReadContext& ctx,
                                           const TableRowVisitor& visit) {
    if (heap.clientSignature() != kTableContextSig) return std::nullopt;
    const auto info = heap.Allocation(heap.userRoot());
    if (!info) return std::nullopt;
    const std::optional<TableInfo> tc = ParseTableInfo(*info);
    if (!tc) return std::nullopt;
    const std::uint16_t cebStart = tc->cebStart;
    const std::uint16_t rowWidth = tc->rowWidth;
    const std::uint32_t hidRowIndex = tc->hidRowIndex;
    const std::uint32_t hnidRows = tc->hnidRows;
    const std::vector<Column>& columns = tc->columns;

    const auto index = ReadBthHeader(heap, hidRowIndex);
    if (!index || (index->type | (index->keySize << 8)) != kRowIndexBthWord || index->root == 0) return std::nullopt;
    const std::size_t rowCount = ReadBthRecords(heap, *index, 4 + static_cast<std::size_t>(index->entrySize)).size();
    if (rowCount == 0) return std::nullopt;

    // The row matrix: a heap allocation, or a subnode for a large table.
    HeapBlocks matrix;
    if (hnidRows != 0 && (hnidRows & 0x1F) == 0) {
        if (const auto alloc = heap.Allocation(hnidRows)) matrix.emplace_back(alloc->begin(), alloc->end());
    } else if (hnidRows != 0 && ctx.subnodes) {
        if (auto blocks = ctx.subnodes(hnidRows)) matrix = std::move(*blocks);
    }
    const auto rows = SplitRows(matrix, rowWidth);

    // The head of the list is the last row.
    for (std::size_t row = rowCount; row-- > 0;) {
        PropertyChunk chunk;
        if (row < rows.size()) {  // beyond the matrix: no cells
            chunk.entries.reserve(columns.size());
            for (const Column& col : columns) {
                if (ctx.onlyExistingCells && !CellExists(rows[row], cebStart, col.iBit)) continue;
                auto value = ConvertCell(heap, ctx, col, rows[row]);
                if (value) chunk.entries.push_back(std::move(*value));
            }
        }
        visit(std::move(chunk));
    }
    return rowCount;
}

}  // namespace bm
