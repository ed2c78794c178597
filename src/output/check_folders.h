// Folder-table checks of the store checker: that each folder's hierarchy
// table lists exactly its child folders and its contents table exactly its
// messages. They need the property- and table-context readers of the
// messaging layer.
#pragma once

#include <cstdint>
#include <span>

#include "output/store_checker.h"

namespace bm {

// Compares the folder tables of the store with the node tree and adds a
// finding per difference. Returns false while the checks cannot run (no
// table reader is wired in yet); CheckReport::folderTablesChecked carries
// that to the user.
bool CheckFolderTables(std::span<const std::uint8_t> store, CheckReport& report);

}  // namespace bm
