#include "output/pst/packed_rows.h"

#include <algorithm>

#include "common/byte_reader.h"

namespace bm::pst {

namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t b[4];
    PutLe(b, v, 4);
    out.insert(out.end(), b, b + 4);
}

}  // namespace

void PackedRows::Add(const TableRow& row) {
    std::size_t need = 12;
    for (const TableRow::Cell& c : row.cells) need += 8 + c.bytes.size();
    // A row never spans two blocks; one larger than a block has its own.
    if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < need) {
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(need, kBlockBytes));
    }
    std::vector<std::uint8_t>& out = blocks_.back();
    Put32(out, row.id);
    Put32(out, row.version);
    Put32(out, static_cast<std::uint32_t>(row.cells.size()));
    for (const TableRow::Cell& c : row.cells) {
        Put32(out, c.tag);
        Put32(out, static_cast<std::uint32_t>(c.bytes.size()));
        out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    }
    ++count_;
}

namespace {

void UnpackBlock(const std::vector<std::uint8_t>& block, std::vector<TableRow>& rows) {
    ByteReader r(block);
    while (r.remaining() > 0 && r.ok()) {
        TableRow row;
        row.id = r.readU32();
        row.version = r.readU32();
        const std::uint32_t cells = r.readU32();
        row.cells.reserve(std::min<std::size_t>(cells, r.remaining() / 8));
        for (std::uint32_t i = 0; i < cells && r.ok(); ++i) {
            TableRow::Cell cell;
            cell.tag = r.readU32();
            const auto bytes = r.readBytes(r.readU32());
            cell.bytes.assign(bytes.begin(), bytes.end());
            row.cells.push_back(std::move(cell));
        }
        if (r.ok()) rows.push_back(std::move(row));
    }
}

}  // namespace

std::vector<TableRow> PackedRows::Unpack() const {
    std::vector<TableRow> rows;
    rows.reserve(count_);
    for (const std::vector<std::uint8_t>& block : blocks_) UnpackBlock(block, rows);
    return rows;
}

std::vector<TableRow> PackedRows::Take() {
    std::vector<TableRow> rows;
    rows.reserve(count_);
    for (std::vector<std::uint8_t>& block : blocks_) {
        UnpackBlock(block, rows);
        std::vector<std::uint8_t>().swap(block);
    }
    blocks_.clear();
    blocks_.shrink_to_fit();
    count_ = 0;
    return rows;
}

std::size_t PackedRows::bytesHeld() const {
    std::size_t n = blocks_.capacity() * sizeof(std::vector<std::uint8_t>);
    for (const auto& b : blocks_) n += b.capacity();
    return n;
}

}  // namespace bm::pst
