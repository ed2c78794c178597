#include "output/pst/ltp_tc.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "common/byte_reader.h"
#include "output/pst/ltp_bth.h"
#include "output/pst/props_tags.h"

namespace bm::pst {

namespace {

constexpr std::uint8_t kTableSignature = 0x7C;
constexpr std::size_t kTcInfoFixedSize = 22;
constexpr std::size_t kColumnDescSize = 8;

std::string TagText(std::uint32_t tag) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08X", tag);
    return buf;
}

}  // namespace

namespace {
// Values of up to 8 bytes of a single-valued fixed type sit in the cell.
bool IsInCell(PropType type) {
    const std::size_t fixed = IsMultiValued(type) ? 0 : FixedValueSize(type);
    return fixed != 0 && fixed <= 8;
}
}  // namespace

std::uint8_t CellSize(PropType type) {
    return IsInCell(type) ? static_cast<std::uint8_t>(FixedValueSize(type)) : 4;
}

TableLayout TableLayout::FromColumns(std::vector<TableColumn> columns) {
    std::sort(columns.begin(), columns.end(), [](const TableColumn& a, const TableColumn& b) { return a.tag < b.tag; });
    TableLayout t;
    std::vector<bool> bits(columns.size(), false);
    std::uint16_t end4 = 0, end2 = 0, end1 = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TableColumn& c = columns[i];
        if (i > 0 && columns[i - 1].tag == c.tag) throw std::invalid_argument("column " + TagText(c.tag) + " repeats");
        if (c.size != CellSize(c.type())) throw std::invalid_argument("column " + TagText(c.tag) + " has a wrong size");
        if (c.bit >= columns.size() || bits[c.bit]) throw std::invalid_argument("column bits are not 0..n-1");
        bits[c.bit] = true;
        const auto end = static_cast<std::uint16_t>(c.offset + c.size);
        if (c.size >= 4) end4 = std::max(end4, end);
        else if (c.size == 2) end2 = std::max(end2, end);
        else end1 = std::max(end1, end);
    }
    end2 = std::max(end2, end4);
    end1 = std::max(end1, end2);
    // Each group must lie after the one before it, and no two cells overlap.
    std::vector<int> owner(end1, -1);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TableColumn& c = columns[i];
        const std::uint16_t groupStart = c.size >= 4 ? 0 : (c.size == 2 ? end4 : end2);
        if (c.offset < groupStart) throw std::invalid_argument("column " + TagText(c.tag) + " lies outside its group");
        for (std::size_t k = c.offset; k < c.offset + c.size; ++k) {
            if (owner[k] >= 0) throw std::invalid_argument("column " + TagText(c.tag) + " overlaps another");
            owner[k] = static_cast<int>(i);
        }
    }
    const TableColumn* rowId = nullptr;
    const TableColumn* rowVer = nullptr;
    for (const auto& c : columns) {
        if (c.tag == tags::kLtpRowId.value()) rowId = &c;
        if (c.tag == tags::kLtpRowVer.value()) rowVer = &c;
    }
    if (rowId == nullptr || rowVer == nullptr || rowId->offset != 0 || rowVer->offset != 4) {
        throw std::invalid_argument("a table needs its row id at offset 0 and row version at offset 4");
    }
    t.columns_ = std::move(columns);
    t.end4_ = end4;
    t.end2_ = end2;
    t.end1_ = end1;
    t.rowSize_ = static_cast<std::uint16_t>(end1 + (t.columns_.size() + 7) / 8);
    return t;
}

TableLayout TableLayout::Arrange(const std::vector<std::uint32_t>& tagsInOrder) {
    std::vector<std::uint32_t> order{tags::kLtpRowId.value(), tags::kLtpRowVer.value()};
    for (auto tag : tagsInOrder) {
        if (std::find(order.begin(), order.end(), tag) == order.end()) order.push_back(tag);
    }
    std::vector<TableColumn> columns{{order[0], 0, 4, 0}, {order[1], 4, 4, 1}};
    std::uint16_t offset = 8;
    for (std::uint8_t wanted : {8, 4, 2, 1}) {
        for (std::size_t i = 2; i < order.size(); ++i) {
            const auto size = CellSize(static_cast<PropType>(order[i] & 0xFFFF));
            if (size != wanted) continue;
            columns.push_back({order[i], offset, size, static_cast<std::uint8_t>(i)});
            offset = static_cast<std::uint16_t>(offset + size);
        }
    }
    return FromColumns(std::move(columns));
}

TableLayout TableLayout::Extend(const std::vector<std::uint32_t>& extraTags) const {
    std::vector<std::uint32_t> extra;
    for (auto tag : extraTags) {
        if (Find(tag) == nullptr && std::find(extra.begin(), extra.end(), tag) == extra.end()) extra.push_back(tag);
    }
    if (extra.empty()) return *this;
    std::vector<TableColumn> wide, narrow;
    for (const auto& c : columns_) (c.size >= 4 ? wide : narrow).push_back(c);
    std::sort(narrow.begin(), narrow.end(), [](const TableColumn& a, const TableColumn& b) { return a.offset < b.offset; });
    auto bit = static_cast<std::uint8_t>(columns_.size());
    std::uint16_t offset = end4_;
    for (auto tag : extra) {
        const auto size = CellSize(static_cast<PropType>(tag & 0xFFFF));
        if (size < 4) continue;
        wide.push_back({tag, offset, size, bit++});
        offset = static_cast<std::uint16_t>(offset + size);
    }
    for (std::uint8_t wanted : {2, 1}) {
        for (auto& c : narrow) {
            if (c.size != wanted) continue;
            c.offset = offset;
            offset = static_cast<std::uint16_t>(offset + c.size);
            wide.push_back(c);
        }
        for (auto tag : extra) {
            const auto size = CellSize(static_cast<PropType>(tag & 0xFFFF));
            if (size != wanted) continue;
            wide.push_back({tag, offset, size, bit++});
            offset = static_cast<std::uint16_t>(offset + size);
        }
    }
    if (wide.size() > 0xFF) throw std::invalid_argument("a table has at most 255 columns");
    return FromColumns(std::move(wide));
}

const TableColumn* TableLayout::Find(std::uint32_t tag) const {
    auto it = std::lower_bound(columns_.begin(), columns_.end(), tag,
                               [](const TableColumn& c, std::uint32_t t) { return c.tag < t; });
    return it != columns_.end() && it->tag == tag ? &*it : nullptr;
}

std::size_t RowsPerMatrixBlock(std::uint16_t rowSize) { return kMaxBlockData / rowSize; }

std::size_t TcInfoSize(const TableLayout& layout) { return kTcInfoFixedSize + kColumnDescSize * layout.columns().size(); }

std::vector<std::uint8_t> TcInfo(const TableLayout& layout, Hid rowIndex, std::uint32_t rowsRef) {
    const auto& columns = layout.columns();
    std::vector<std::uint8_t> info(TcInfoSize(layout), 0);
    info[0] = kTableSignature;
    info[1] = static_cast<std::uint8_t>(columns.size());
    PutLe(info.data() + 2, layout.end4(), 2);
    PutLe(info.data() + 4, layout.end2(), 2);
    PutLe(info.data() + 6, layout.end1(), 2);
    PutLe(info.data() + 8, layout.rowSize(), 2);
    PutLe(info.data() + 10, rowIndex, 4);
    PutLe(info.data() + 14, rowsRef, 4);
    PutLe(info.data() + 18, 0, 4);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::uint8_t* d = info.data() + kTcInfoFixedSize + kColumnDescSize * i;
        PutLe(d, columns[i].tag, 4);
        PutLe(d + 4, columns[i].offset, 2);
        d[6] = columns[i].size;
        d[7] = columns[i].bit;
    }
    return info;
}

void PlaceRow(const TableLayout& layout, const TableRow& row, std::uint8_t* p, HeapBuilder& heap,
              const LargeValueSink& sink) {
    auto mark = [&](const TableColumn& c) { p[layout.end1() + c.bit / 8] |= static_cast<std::uint8_t>(0x80 >> (c.bit % 8)); };
    const TableColumn* idCol = layout.Find(tags::kLtpRowId.value());
    const TableColumn* verCol = layout.Find(tags::kLtpRowVer.value());
    PutLe(p + idCol->offset, row.id, 4);
    mark(*idCol);
    PutLe(p + verCol->offset, row.version, 4);
    mark(*verCol);
    for (const auto& cell : row.cells) {
        const TableColumn* c = layout.Find(cell.tag);
        if (c == nullptr || c == idCol || c == verCol) continue;
        if (IsInCell(c->type())) {
            if (cell.bytes.size() != c->size) {
                throw std::invalid_argument("cell " + TagText(cell.tag) + " has a value of the wrong size");
            }
            std::copy(cell.bytes.begin(), cell.bytes.end(), p + c->offset);
        } else {
            PutLe(p + c->offset, StoreValue(heap, cell.bytes, sink), 4);
        }
        mark(*c);
    }
}

std::vector<std::vector<std::uint8_t>> BuildTableContext(const TableLayout& layout, const std::vector<TableRow>& rows,
                                                         const LargeValueSink& sink) {
    if (layout.columns().size() > 0xFF) throw std::invalid_argument("a table has at most 255 columns");
    HeapBuilder heap(HeapClient::TableContext);
    // As in the mail client's tables, the row index's BTH header is the
    // heap's first allocation and the TCINFO the second: readers look for
    // the BTH header at HID 0x20.
    const Hid rowIndexHeader = ReserveBthHeader(heap);
    const Hid infoHid = heap.Allocate(std::vector<std::uint8_t>(TcInfoSize(layout), 0));

    std::vector<BthRecord> index;
    index.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        BthRecord r;
        r.key = rows[i].id;
        PutLe(r.data.data(), i, 4);
        index.push_back(r);
    }
    const Hid rowIndex = BuildBth(heap, 4, 4, std::move(index), rowIndexHeader);

    // Rows, each block of a subnode matrix holding whole rows.
    const std::size_t rowSize = layout.rowSize();
    const std::size_t perBlock = RowsPerMatrixBlock(layout.rowSize());
    const bool inHeap = rows.size() * rowSize <= kMaxHeapAllocation;
    const std::size_t blocks = (rows.size() + perBlock - 1) / perBlock;
    std::vector<std::uint8_t> matrix;
    if (inHeap) {
        matrix.assign(rows.size() * rowSize, 0);
    } else {
        matrix.assign((blocks - 1) * kMaxBlockData + (rows.size() - (blocks - 1) * perBlock) * rowSize, 0);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::uint8_t* p = matrix.data() + (inHeap ? i * rowSize : (i / perBlock) * kMaxBlockData + (i % perBlock) * rowSize);
        PlaceRow(layout, rows[i], p, heap, sink);
    }
    std::uint32_t rowsRef = 0;
    if (!rows.empty()) {
        if (inHeap) {
            rowsRef = heap.Allocate(matrix);
        } else {
            if (!sink) throw std::length_error("a large row matrix needs a subnode");
            rowsRef = sink(matrix);
        }
    }
    heap.Overwrite(infoHid, TcInfo(layout, rowIndex, rowsRef));
    heap.SetUserRoot(infoHid);
    return heap.Finish();
}

}  // namespace bm::pst
