// Table rows kept until their table is written, packed: a row costs its
// cells' bytes and eight bytes a cell, in blocks of 64 KiB, instead of a
// vector per cell. A folder of a million messages keeps its contents-table
// rows this way until the store is finished.
//
// A row is packed as: id (4 bytes), version (4), cell count (4), then per
// cell its tag (4), its length (4) and its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "output/pst/ltp_tc.h"

namespace bm::pst {

class PackedRows {
public:
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

    void Add(const TableRow& row);
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Every row back, in the order added.
    std::vector<TableRow> Unpack() const;
    // The same, each block let go once its rows are out, so the packed and
    // the unpacked rows are not held whole at once; leaves this empty.
    std::vector<TableRow> Take();
    // Bytes held, the blocks' capacity included.
    std::size_t bytesHeld() const;

private:
    std::vector<std::vector<std::uint8_t>> blocks_;
    std::size_t count_ = 0;
};

}  // namespace bm::pst
