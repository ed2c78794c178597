// The client's rule on the spam search folder: every store the mail client
// writes, personal or offline, holds the same three nodes at index 0x111,
// and a store written here must hold them too:
//   0x2223  search folder: a property context with its display name,
//           content count, unread count and subfolders flag, under a parent
//           folder whose hierarchy table lists it
//   0x2226  search update queue: present (client stores leave it empty)
//   0x2227  search criteria object: a property context holding 0x660B
// A missing node is one finding; a node present but lacking part of what
// the client's stores hold there is one finding naming what it lacks.
#pragma once

#include <filesystem>

#include "check/check_report.h"
#include "store/store_file.h"

namespace bm {

inline constexpr const char* kRuleSearchNodes = "search folder nodes";

// Adds a finding (an error) per missing or incomplete node in the Unicode
// store at `path`. Stores of other layouts are passed over.
void CheckSearchNodes(const std::filesystem::path& path, CheckReport& report);
// The same over a store already opened with its index built.
void CheckSearchNodes(StoreFile& store, CheckReport& report);

}  // namespace bm
