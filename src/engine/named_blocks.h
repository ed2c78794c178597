// Which entries of a store's block table something in the store names (a
// node record, a data tree, a subnode list), for the deep recovery's search
// of heaps nothing names: a bit per entry of the table, where a set of the
// named BIDs would take tens of bytes each on a store of millions of blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/tables.h"

namespace bm {

class NamedBlocks {
public:
    // Marks are kept for the entries the table holds now; entries appended
    // later count as named by nothing.
    explicit NamedBlocks(const BlockTable& table) : table_(&table), marks_(table.size(), false) {}

    // Marks the entry the table finds for `bid` (bit 0 aside); a BID the
    // table lacks marks nothing.
    void Add(std::uint64_t bid) {
        const std::uint32_t at = table_->IndexOf(bid);
        if (at < marks_.size()) marks_[at] = true;
    }
    // Whether entry `index` is the one its BID finds (not a later copy) and
    // nothing marked it.
    bool FirstAndUnnamed(std::size_t index) const {
        if (index >= table_->size()) return false;
        return table_->IndexOf(table_->entries()[index].bid()) == index && (index >= marks_.size() || !marks_[index]);
    }

private:
    const BlockTable* table_;
    std::vector<bool> marks_;
};

}  // namespace bm
