// Table rows kept until their table is written, packed: a row costs its
// cells' bytes and eight bytes a cell, in blocks of 64 KiB, instead of a
// vector per cell. With a spill file, every block but the one being filled
// goes to that file as soon as it is full, so a folder of a million
// messages keeps its contents-table rows on disk, not in memory, until the
// store is finished.
//
// A row is packed as: id (4 bytes), version (4), cell count (4), then per
// cell its tag (4), its length (4) and its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "output/pst/ltp_tc.h"
#include "output/pst/ltp_tc_writer.h"
#include "output/pst/row_spill_file.h"

namespace bm::pst {

class PackedRows {
public:
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

    PackedRows() = default;
    // Rows whose full blocks go to spill, which must outlive them.
    explicit PackedRows(RowSpillFile& spill) : spill_(&spill) {}

    void Add(const TableRow& row);
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Calls visit with every row, in the order added, one at a time.
    // (A const view: reading the spill file changes nothing kept here.)
    void ForEach(const TableRowVisitor& visit) const;
    // Every row back, in the order added.
    std::vector<TableRow> Unpack() const;
    // The same, each block let go once its rows are out, so the packed and
    // the unpacked rows are not held whole at once; leaves this empty.
    std::vector<TableRow> Take();
    // Lets every row go (their bytes in the spill file stay until it closes).
    void Clear();

    // With a spill file: writes the block being filled to it, so that no
    // row of these is in memory any more (nothing happens without one).
    void SpillPending();
    // Bytes held in memory, the blocks' capacity included.
    std::size_t bytesHeld() const;
    // Bytes in the spill file.
    std::uint64_t bytesSpilled() const { return spilledBytes_; }

private:
    // Spilled rows come before the blocks in memory.
    RowSpillFile* spill_ = nullptr;  // not owned
    std::vector<RowSpillFile::Extent> spilled_;
    std::uint64_t spilledBytes_ = 0;
    std::vector<std::vector<std::uint8_t>> blocks_;
    std::size_t count_ = 0;
};

}  // namespace bm::pst
