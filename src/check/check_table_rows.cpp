// The bounded table reading: the table context's layout is the one
// table_context.cpp reads (TCINFO in the heap's root allocation, the row
// index a BTH with 4-byte keys whose records count the rows, the row matrix
// in one heap allocation or in a subnode whose blocks each hold whole
// rows). Here the heap is a list of pages read on demand through a small
// cache, and the matrix is read a block at a time, from its last block on.
//
// Cells are converted by the messaging layer's own record conversion over a
// heap made for a batch of rows: the first page (for the heap's header) and
// the pages the batch's cells name, their HIDs renumbered to the batch's
// page slots. Only cells of types whose value lies outside the record are
// renumbered; a value kept inline reaches the conversion as it is stored.
#include "check/check_table_rows.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "check/check_node_pages.h"
#include "common/byte_reader.h"
#include "messaging/heap_node.h"
#include "messaging/property_reader.h"
#include "messaging/table_info.h"

namespace bm {

namespace {

// A column, and whether the record conversion takes the field itself as
// the value.
struct Column : TableColumn {
    bool inlineValue = false;
};

// The node's heap pages, a few of them kept at a time.
class PagedHeap {
public:
    PagedHeap(StoreFile& store, const BlockEntry& data, const HidLayout& layout, std::size_t kept)
        : pages_(store, data), layout_(layout), kept_(std::max<std::size_t>(kept, 2)) {
        cache_.reserve(kept_);
    }

    std::size_t count() const { return pages_.count(); }
    const HidLayout& layout() const { return layout_; }

    // Page i, valid until the next call; empty when it cannot be read.
    const Bytes& page(std::size_t i) {
        ++clock_;
        for (Cached& c : cache_) {
            if (c.index == i) {
                c.used = clock_;
                return c.bytes;
            }
        }
        Cached* slot = nullptr;
        if (cache_.size() < kept_) {
            slot = &cache_.emplace_back();
        } else {
            slot = &*std::min_element(cache_.begin(), cache_.end(),
                                      [](const Cached& a, const Cached& b) { return a.used < b.used; });
        }
        slot->index = i;
        slot->used = clock_;
        if (!pages_.read(i, slot->bytes)) slot->bytes.clear();
        return slot->bytes;
    }

    // HeapNode::Allocation over the pages: valid until the next call.
    std::optional<std::span<const std::uint8_t>> allocation(std::uint32_t hid) {
        if ((hid & 0x1F) != 0) return std::nullopt;
        const std::uint32_t block = HidBlock(hid, layout_);
        if (block >= count()) return std::nullopt;
        const Bytes& bytes = page(block);
        const auto ibHnpm = ByteReader(bytes).peekAt(0, 2);
        if (!ibHnpm) return std::nullopt;
        const auto range = LookupHeapAllocation(bytes, static_cast<std::uint16_t>(*ibHnpm), hid, layout_);
        if (!range) return std::nullopt;
        return std::span<const std::uint8_t>(bytes).subspan(range->start, range->size());
    }

    std::optional<Bytes> copy(std::uint32_t hid) {
        const auto alloc = allocation(hid);
        if (!alloc) return std::nullopt;
        return Bytes(alloc->begin(), alloc->end());
    }

private:
    struct Cached {
        std::size_t index = 0;
        std::uint64_t used = 0;
        Bytes bytes;
    };
    NodePages pages_;
    HidLayout layout_;
    std::size_t kept_;
    std::vector<Cached> cache_;
    std::uint64_t clock_ = 0;
};

// ReadBthRecords' count of leaf records, reading one allocation at a time.
struct BthCount {
    PagedHeap& heap;
    std::size_t keySize;
    std::size_t recordSize;
    std::unordered_set<std::uint32_t> entered;
    std::size_t records = 0;

    void level(std::uint32_t hid, unsigned depth) {
        if (!entered.insert(hid).second) return;  // a loop or shared child in a damaged heap
        const std::size_t size = depth == 0 ? recordSize : keySize + 4;
        if (depth == 0) {
            const auto alloc = heap.allocation(hid);
            if (alloc && size != 0) records += alloc->size() / size;
            return;
        }
        const auto alloc = heap.copy(hid);  // the children's pages may push it out of the cache
        if (!alloc || size == 0) return;
        const ByteReader r(*alloc);
        for (std::size_t at = 0; at + size <= alloc->size(); at += size) {
            const auto child = r.peekAt(at + keySize, 4);
            if (child && *child != 0) level(static_cast<std::uint32_t>(*child), depth - 1);
        }
    }
};

class TableRows {
public:
    TableRows(PagedHeap& heap, const PropertyReadContext& ctx, std::size_t pagesPerBatch,
              std::span<const std::uint16_t> onlyColumns)
        : heap_(heap), ctx_(ctx), pagesPerBatch_(std::max<std::size_t>(pagesPerBatch, 2)), onlyColumns_(onlyColumns) {}

    std::optional<std::size_t> run(StoreFile& store, const SubnodeList* subnodes, const TableRowVisitor& visit);

private:
    // The 4-byte field of a cell, zero-filled as the record conversion
    // takes it; false when the cell lies outside the row.
    static bool Field(const Column& col, std::span<const std::uint8_t> row, std::uint8_t (&field)[4]) {
        const std::size_t width = col.cbData >= 1 && col.cbData < 4 ? col.cbData : 4;
        if (static_cast<std::size_t>(col.ibData) + width > row.size()) return false;
        std::fill(std::begin(field), std::end(field), std::uint8_t{0});
        std::copy_n(row.begin() + col.ibData, width, field);
        return true;
    }
    static std::uint32_t U32(const std::uint8_t (&f)[4]) {
        return static_cast<std::uint32_t>(f[0]) | static_cast<std::uint32_t>(f[1]) << 8 |
               static_cast<std::uint32_t>(f[2]) << 16 | static_cast<std::uint32_t>(f[3]) << 24;
    }
    bool takesCell(const Column& col, std::span<const std::uint8_t> row) const {
        return !ctx_.onlyExistingCells || CellExists(row, cebStart_, col.iBit);
    }
    bool wanted(const Column& col) const {
        return onlyColumns_.empty() || std::find(onlyColumns_.begin(), onlyColumns_.end(), col.id) != onlyColumns_.end();
    }
    // The heap pages a row's cells name, added to `pages` (page 0 aside).
    void pagesOf(std::span<const std::uint8_t> row, std::vector<std::uint32_t>& pages) const;
    // Converts and visits the batch's rows (spans into `block`).
    void flush(const TableRowVisitor& visit);
    PropertyChunk decode(const HeapNode& heap, std::span<const std::uint8_t> row) const;

    PagedHeap& heap_;
    const PropertyReadContext& ctx_;
    std::size_t pagesPerBatch_;
    std::span<const std::uint16_t> onlyColumns_;
    std::vector<Column> columns_;
    std::uint16_t cebStart_ = 0;
    std::vector<std::span<const std::uint8_t>> batch_;
    std::vector<std::uint32_t> batchPages_;  // distinct, in slot order from slot 1
};

void TableRows::pagesOf(std::span<const std::uint8_t> row, std::vector<std::uint32_t>& pages) const {
    for (const Column& col : columns_) {
        if (col.inlineValue || (IsEightByteFixed(col.type) && col.cbData == 8) || !takesCell(col, row)) continue;
        std::uint8_t field[4];
        if (!Field(col, row, field)) continue;
        const std::uint32_t hid = U32(field);
        if (hid == 0 || (hid & 0x1F) != 0) continue;
        const std::uint32_t page = HidBlock(hid, heap_.layout());
        if (page != 0 && std::find(pages.begin(), pages.end(), page) == pages.end()) pages.push_back(page);
    }
}

PropertyChunk TableRows::decode(const HeapNode& heap, std::span<const std::uint8_t> row) const {
    PropertyChunk chunk;
    chunk.entries.reserve(onlyColumns_.empty() ? columns_.size() : onlyColumns_.size());
    const HidLayout& layout = heap_.layout();
    const std::uint32_t inPage = (1u << layout.blockShift) - 1;
    for (const Column& col : columns_) {
        if (!wanted(col) || !takesCell(col, row)) continue;
        if (IsEightByteFixed(col.type) && col.cbData == 8) {
            if (static_cast<std::size_t>(col.ibData) + 8 > row.size()) continue;
            PropertyValue v;
            v.id = TranslatePropertyId(ctx_.names, col.id, v);
            v.data = Bytes(row.begin() + col.ibData, row.begin() + col.ibData + 8);
            v.size = 8;
            v.type = col.type;
            chunk.entries.push_back(std::move(v));
            continue;
        }
        std::uint8_t field[4];
        if (!Field(col, row, field)) continue;
        const std::uint32_t hid = U32(field);
        if (!col.inlineValue && hid != 0 && (hid & 0x1F) == 0) {
            // The batch's heap holds page 0 in slot 0 and the named pages
            // after it; a page past the node's maps to a slot with no bytes.
            const std::uint32_t page = HidBlock(hid, layout);
            std::uint32_t slot = 0;
            if (page != 0) {
                const auto it = std::find(batchPages_.begin(), batchPages_.end(), page);
                slot = static_cast<std::uint32_t>(it - batchPages_.begin()) + 1;
            }
            const std::uint32_t renumbered = (slot << layout.blockShift) | (hid & inPage);
            for (std::size_t i = 0; i < 4; ++i) field[i] = static_cast<std::uint8_t>(renumbered >> (8 * i));
        }
        auto value = ConvertPropertyRecord(heap, ctx_, col.id, col.type, field);
        if (value) chunk.entries.push_back(std::move(*value));
    }
    return chunk;
}

void TableRows::flush(const TableRowVisitor& visit) {
    if (batch_.empty()) return;
    HeapBlocks pages;
    pages.reserve(batchPages_.size() + 1);
    pages.push_back(heap_.page(0));
    for (std::uint32_t page : batchPages_) pages.push_back(page < heap_.count() ? heap_.page(page) : Bytes{});
    const auto heap = HeapNode::Open(std::move(pages), heap_.layout());
    for (const auto row : batch_) visit(heap ? decode(*heap, row) : PropertyChunk{});
    batch_.clear();
    batchPages_.clear();
}

std::optional<std::size_t> TableRows::run(StoreFile& store, const SubnodeList* subnodes, const TableRowVisitor& visit) {
    const auto root = ByteReader(heap_.page(0)).peekAt(4, 4);
    if (!root) return std::nullopt;
    const auto info = heap_.copy(static_cast<std::uint32_t>(*root));
    if (!info) return std::nullopt;
    const std::optional<TableInfo> tc = ParseTableInfo(*info);
    if (!tc) return std::nullopt;
    cebStart_ = tc->cebStart;
    const std::uint16_t rowWidth = tc->rowWidth;
    const std::uint32_t hidRowIndex = tc->hidRowIndex;
    const std::uint32_t hnidRows = tc->hnidRows;

    // Which columns' values the record conversion takes inline: a zero
    // field comes back as four bytes of value only for those.
    const auto probeHeap = HeapNode::Open(HeapBlocks{heap_.page(0)}, heap_.layout());
    PropertyReadContext probe;
    probe.names = ctx_.names;
    probe.everyType = ctx_.everyType;
    for (const TableColumn& descriptor : tc->columns) {
        Column col{descriptor};
        const std::uint8_t zero[4] = {0, 0, 0, 0};
        if (probeHeap) {
            const auto v = ConvertPropertyRecord(*probeHeap, probe, col.id, col.type, zero);
            col.inlineValue = v && v->hasData();
        }
        columns_.push_back(col);
    }

    const auto indexBytes = heap_.copy(hidRowIndex);
    if (!indexBytes) return std::nullopt;
    const std::optional<BthHeader> header = ParseBthHeader(*indexBytes);
    if (!header || (header->type | (header->keySize << 8)) != kRowIndexBthWord || header->root == 0)
        return std::nullopt;
    const BthHeader& index = *header;
    BthCount counter{heap_, index.keySize, 4 + static_cast<std::size_t>(index.entrySize), {}, 0};
    counter.level(index.root, index.indexLevels <= kMaxBthIndexLevels ? index.indexLevels : 0);
    const std::size_t rowCount = counter.records;
    counter.entered = {};
    if (rowCount == 0) return std::nullopt;

    // The row matrix: a heap allocation, or a subnode for a large table.
    Bytes inlineMatrix;
    bool inMatrixAllocation = false;
    std::optional<NodePages> matrixPages;
    if (hnidRows != 0 && (hnidRows & 0x1F) == 0) {
        if (auto alloc = heap_.copy(hnidRows)) {
            inlineMatrix = std::move(*alloc);
            inMatrixAllocation = true;
        }
    } else if (hnidRows != 0 && subnodes != nullptr) {
        if (const BlockEntry* block = FindSubnode(*subnodes, hnidRows)) matrixPages.emplace(store, *block);
    }
    const std::size_t blockCount = inMatrixAllocation ? 1 : matrixPages ? matrixPages->count() : 0;
    const auto rowsIn = [&](std::size_t b) -> std::size_t {
        if (rowWidth == 0) return 0;
        return (inMatrixAllocation ? inlineMatrix.size() : matrixPages->size(b)) / rowWidth;
    };
    std::size_t matrixRows = 0;
    for (std::size_t b = 0; b < blockCount; ++b) matrixRows += rowsIn(b);

    // The head of the list is the last row; rows past the matrix have no cells.
    for (std::size_t row = rowCount; row-- > matrixRows;) visit(PropertyChunk{});
    Bytes block;
    std::size_t end = matrixRows;  // first row after block b
    for (std::size_t b = blockCount; b-- > 0;) {
        const std::size_t n = rowsIn(b);
        const std::size_t start = end - n;
        const std::size_t last = std::min(end, rowCount);  // rows start..last-1 are listed
        end = start;
        if (start >= last) continue;
        const bool read = inMatrixAllocation || matrixPages->read(b, block);
        const std::span<const std::uint8_t> bytes = inMatrixAllocation ? std::span<const std::uint8_t>(inlineMatrix)
                                                                       : std::span<const std::uint8_t>(block);
        std::vector<std::uint32_t> pages;
        for (std::size_t row = last; row-- > start;) {
            if (!read) {
                visit(PropertyChunk{});
                continue;
            }
            const auto cells = bytes.subspan((row - start) * rowWidth, rowWidth);
            pages.clear();
            pagesOf(cells, pages);
            std::size_t added = 0;
            for (std::uint32_t p : pages)
                if (std::find(batchPages_.begin(), batchPages_.end(), p) == batchPages_.end()) ++added;
            if (!batch_.empty() && batchPages_.size() + added > pagesPerBatch_) flush(visit);
            for (std::uint32_t p : pages)
                if (std::find(batchPages_.begin(), batchPages_.end(), p) == batchPages_.end()) batchPages_.push_back(p);
            batch_.push_back(cells);
        }
        flush(visit);
    }
    return rowCount;
}

}  // namespace

TableHeap ForEachBoundedTableRow(StoreFile& store, const BlockEntry& data, const SubnodeList* subnodes,
                                 const BoundedTableOptions& options, const TableRowVisitor& visit,
                                 std::optional<std::size_t>& rowCount) {
    rowCount.reset();
    PagedHeap heap(store, data, HidLayoutFor(store), options.heapPagesKept);
    if (heap.count() == 0) return TableHeap::None;
    ByteReader header(heap.page(0));
    header.readU16();
    const std::uint8_t sig = header.readU8();
    const std::uint8_t clientSig = header.readU8();
    header.readU32();
    if (header.failed() || sig != kHeapSignature) return TableHeap::None;
    if (clientSig != kTableContextSig) return TableHeap::NotTable;
    PropertyReadContext ctx;
    ctx.names = options.names;
    ctx.onlyExistingCells = options.onlyExistingCells;
    ctx.subnodes = MakeSubnodeDataReader(store, subnodes);
    rowCount = TableRows(heap, ctx, options.heapPagesKept, options.onlyColumns).run(store, subnodes, visit);
    return TableHeap::Table;
}

}  // namespace bm
