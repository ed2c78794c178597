#include "output/pst/packed_rows.h"

#include <algorithm>
#include <span>

#include "common/byte_reader.h"

namespace bm::pst {

namespace {

// A block of rows that may spill starts small and grows as rows come: most
// folders hold a few rows, and a store may have thousands of folders.
constexpr std::size_t kFirstSpillBlockBytes = 4096;

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t b[4];
    PutLe(b, v, 4);
    out.insert(out.end(), b, b + 4);
}

std::size_t PackedSize(const TableRow& row) {
    std::size_t need = 12;
    for (const TableRow::Cell& c : row.cells) need += 8 + c.bytes.size();
    return need;
}

void VisitBlock(std::span<const std::uint8_t> block, const TableRowVisitor& visit) {
    ByteReader r(block);
    TableRow row;
    while (r.remaining() > 0 && r.ok()) {
        row.id = r.readU32();
        row.version = r.readU32();
        const std::uint32_t cells = r.readU32();
        if (cells > r.remaining() / 8) break;
        row.cells.resize(cells);
        for (std::uint32_t i = 0; i < cells && r.ok(); ++i) {
            TableRow::Cell& cell = row.cells[i];
            cell.tag = r.readU32();
            const auto bytes = r.readBytes(r.readU32());
            cell.bytes.assign(bytes.begin(), bytes.end());
        }
        if (r.ok()) visit(row);
    }
}

}  // namespace

void PackedRows::Add(const TableRow& row) {
    const std::size_t need = PackedSize(row);
    // A row never spans two blocks; one larger than a block has its own.
    const bool full = blocks_.empty() || (spill_ != nullptr
                                              ? !blocks_.back().empty() && blocks_.back().size() + need > kBlockBytes
                                              : blocks_.back().capacity() - blocks_.back().size() < need);
    if (full) {
        SpillPending();
        blocks_.emplace_back();
        blocks_.back().reserve(spill_ != nullptr ? kFirstSpillBlockBytes : std::max(need, kBlockBytes));
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

void PackedRows::SpillPending() {
    if (spill_ == nullptr) return;
    for (std::vector<std::uint8_t>& block : blocks_) {
        if (block.empty()) continue;
        spilled_.push_back(spill_->Append(block));
        spilledBytes_ += block.size();
    }
    blocks_.clear();
    blocks_.shrink_to_fit();
}

void PackedRows::ForEach(const TableRowVisitor& visit) const {
    std::vector<std::uint8_t> buffer;
    for (const RowSpillFile::Extent& extent : spilled_) {
        spill_->Read(extent, buffer);
        VisitBlock(buffer, visit);
    }
    for (const std::vector<std::uint8_t>& block : blocks_) VisitBlock(block, visit);
}

std::vector<TableRow> PackedRows::Unpack() const {
    std::vector<TableRow> rows;
    rows.reserve(count_);
    ForEach([&](const TableRow& row) { rows.push_back(row); });
    return rows;
}

std::vector<TableRow> PackedRows::Take() {
    std::vector<TableRow> rows;
    rows.reserve(count_);
    std::vector<std::uint8_t> buffer;
    for (const RowSpillFile::Extent& extent : spilled_) {
        spill_->Read(extent, buffer);
        VisitBlock(buffer, [&](const TableRow& row) { rows.push_back(row); });
    }
    for (std::vector<std::uint8_t>& block : blocks_) {
        VisitBlock(block, [&](const TableRow& row) { rows.push_back(row); });
        std::vector<std::uint8_t>().swap(block);
    }
    Clear();
    return rows;
}

void PackedRows::Clear() {
    spilled_.clear();
    spilled_.shrink_to_fit();
    spilledBytes_ = 0;
    blocks_.clear();
    blocks_.shrink_to_fit();
    count_ = 0;
}

std::size_t PackedRows::bytesHeld() const {
    std::size_t n = blocks_.capacity() * sizeof(std::vector<std::uint8_t>) +
                    spilled_.capacity() * sizeof(RowSpillFile::Extent);
    for (const auto& b : blocks_) n += b.capacity();
    return n;
}

}  // namespace bm::pst
