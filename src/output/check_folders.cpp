#include "output/check_folders.h"

namespace bm {

// Left for the messaging layer's property and table readers: for every
// folder node (NID type 0x02/0x03), read its hierarchy table (type 0x0D) and
// contents table (type 0x0E) and compare their row NIDs with the node
// B-tree's children of that folder (nidParent), by type.
bool CheckFolderTables(std::span<const std::uint8_t>, CheckReport&) { return false; }

}  // namespace bm
