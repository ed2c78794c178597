// Items their folder's contents table does not list.
//
// A message node whose parent is a folder normally has a row in that
// folder's contents table. One that has none is not shown by the mail
// client or other readers: most likely a deleted message the store has not
// purged yet. It is kept, never lost, but not shown as live mail: it goes to
// "Recovered Items\Deleted\<folder>\" like the items the search for deleted
// items brings back, whether or not that search runs, and the runs count it
// apart in their account.
//
// A folder whose contents table is missing, cannot be read or was read from
// damaged blocks (lost rows) says nothing about its items: they all stay
// where they are.
#pragma once

#include <cstdint>

#include "store/store_file.h"
#include "store/tables.h"

namespace bm {

// Finds the unlisted items below `root` and moves them to the folders
// "Recovered Items\Deleted\<folder>\" of the store's recovery state (made
// when deep recovery did not run). Call it once the root is known.
void GatherUnlistedItems(StoreFile& store, const NodeEntry& root);

// Whether `node` is the live record of one of them: the walks skip it in
// its own folder.
bool IsUnlistedItem(const StoreFile& store, const NodeEntry& node);
// Whether `node` is the record that places one of them in its subfolder
// of "Deleted" (what the walks meet there): the runs count it apart.
bool IsUnlistedItemRecord(const StoreFile& store, const NodeEntry& node);

}  // namespace bm
