// A folder's hierarchy table: one row per subfolder, read for where the
// subfolders belong and for their names.
//
// The table is the node of the folder's NID with the hierarchy-table type
// (low five bits 0x0D). Each row names its subfolder by the row id cell
// (0x67F2, the subfolder's NID) and carries its display name (0x3001) and
// container class (0x3613); the other cells (counts, the subfolder flag) may
// be missing and are not needed here.
//
// The rows are a second witness beside the node index: each folder node's
// entry names its parent, each parent's table lists its children. Where the
// two disagree, or the index lost the link (the entry names a parent that is
// not there), the rows place the folder:
//   - a folder listed by exactly one readable hierarchy table hangs under
//     that table's folder, unless the folder its entry names lists it too;
//   - a folder NID listed by a row but absent from the index gets a record
//     of its own (without data) when items or folders wait for it, so that
//     they are walked under it; its own record is lost (see lost_folders.h).
// A move that would make a folder its own ancestor is refused by the forest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/store_file.h"

namespace bm {

struct HierarchyRow {
    std::uint32_t nid = 0;        // the subfolder's NID (row id)
    std::string displayName;      // empty when the cell is missing
    std::string containerClass;   // empty when the cell is missing
};

// The rows of the hierarchy table of folder `folderNid`; empty when the
// table is missing or unreadable. Rows whose row id is no folder NID are
// left out.
std::vector<HierarchyRow> ReadHierarchyRows(StoreFile& store, std::uint32_t folderNid);

// What PlaceFoldersByHierarchyRows changed.
struct HierarchyPlacement {
    std::uint64_t foldersMoved = 0;    // hung under the folder whose table lists them
    std::uint64_t foldersAdded = 0;    // NIDs only a row names, given a record
};

// Places folders by their parents' hierarchy rows (see the top of this
// file). On a store whose index and tables agree nothing changes.
HierarchyPlacement PlaceFoldersByHierarchyRows(StoreFile& store);

}  // namespace bm
