// Folder-table checks of the store checker: that each folder's hierarchy
// table lists exactly its child folders, its contents table exactly its
// messages, and that the folder's counts (content count, PR_SUBFOLDERS)
// and the counts its parent's hierarchy row repeats agree with them.
//
// The store is read again through the store reader and the messaging
// layer's property and table context readers; damaged input gives findings
// (a table that cannot be read, rows that do not match), never a crash.
#pragma once

#include <filesystem>

#include "check/check_report.h"
#include "store/store_file.h"

namespace bm {

// Compares the folder tables of the store at `path` with the node tree and
// adds a finding per difference, naming the folder and table node ids.
// Differences are errors under CheckOptions::strictFolderTables, warnings
// otherwise. Returns false when the tables could not be compared at all
// (the store does not open, or has no folder).
bool CheckFolderTables(const std::filesystem::path& path, const CheckOptions& options, CheckReport& report);

// The same over a store already opened with its index built (the checker
// builds it once for all the checks that read the store through it).
bool CheckFolderTables(StoreFile& store, const CheckOptions& options, CheckReport& report);

// Opens the store at `path` for those checks and builds its index; false,
// with a warning that the folder tables were not checked, when the store
// does not open or has no usable node index.
bool OpenForFolderChecks(const std::filesystem::path& path, StoreFile& store, CheckReport& report);

}  // namespace bm
