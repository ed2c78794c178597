// A node's data as a list of pages read one at a time: the checker's way
// to look into a node of any size (a contents table of a million rows, its
// row matrix) while holding one page and a record per page.
//
// The pages are the pieces ReadNodeData delivers, in its order, with the
// same rules: a data tree (XBLOCK, or XXBLOCK over XBLOCKs) gives its data
// blocks, an internal block that is no data tree is the data itself, and
// the list ends at the first block that cannot be read (the pages before it
// stay listed), or where the node's bytes would pass the same cap. Listing
// reads every page once; a page is read again, and decoded, when asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/blocks.h"
#include "store/store_file.h"

namespace bm {

class NodePages {
public:
    // Lists the pages of the node whose data block is `entry`.
    NodePages(StoreFile& store, const BlockEntry& entry);

    std::size_t count() const { return pages_.size(); }
    // Bytes of page i, as delivered.
    std::size_t size(std::size_t i) const { return pages_[i].size; }
    // Reads page i into `out` (decoded); false when it no longer reads as
    // it did when listed.
    bool read(std::size_t i, Bytes& out) const;

private:
    struct Page {
        const BlockEntry* entry;
        std::uint32_t size;
    };
    // Returns false where ReadNodeData's delivery would stop.
    bool listTree(std::uint64_t bid);
    bool add(const BlockEntry& entry, std::size_t size);

    StoreFile& store_;
    std::vector<Page> pages_;
    std::uint64_t total_ = 0;
    std::uint64_t cap_ = 0;
};

}  // namespace bm
