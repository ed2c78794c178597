// Folders whose own record is lost: a folder node whose data block is gone,
// cut short, overwritten or no folder's property context still exists. Its
// items and subfolders hang under it in the node index, so the walks show
// it with a record made up here and go on below it.
//
// The name comes from the best witness left, in this order:
//   1. the display name cell of the folder's row in its parent's hierarchy
//      table (with the container class of that row);
//   2. the store's well-known folder entry ids that name the folder's NID:
//      on the message store object Outbox, Deleted Items, Sent Items and
//      the search root (0x35E2-0x35E4, 0x35E7); on the store's root folder
//      and its top folder's children Calendar, Contacts, Journal, Notes,
//      Tasks, Reminders and Drafts (0x36D0-0x36D5, 0x36D7) and the list
//      0x36D8 (Conflicts, Sync Issues, Local Failures, Server Failures,
//      Junk E-mail), in the 24-byte form that names a NID (the long-term
//      ids an offline store keeps there name none); the receive folder
//      table (node 0x62B), by its row for all mail or "IPM", names the Inbox;
//   3. "Folder 80C2", the NID in hex.
// The record counts the folder's items in the index, is marked
// ownRecordLost, and stands for no node (sourceNode is nullptr), so that
// saving makes a new folder of that name instead of copying the lost one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "messaging/item_reader.h"
#include "messaging/item_record.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

struct LostFolderName {
    std::string name;
    std::string containerClass;  // empty when no witness says
};

// The name of a folder node from the witnesses 1 and 2 above; nullopt when
// neither names it.
std::optional<LostFolderName> WitnessedFolderName(StoreFile& store, const NodeEntry& node);

// The record that stands for folder node `node` whose own record is lost.
std::unique_ptr<ItemRecord> LostFolderRecord(StoreFile& store, const NodeEntry& node);

// ReadItem for the walks: a folder node whose record cannot be read, or
// reads as no folder, gets LostFolderRecord instead of nothing. Other nodes
// are read as ReadItem reads them.
std::unique_ptr<ItemRecord> ReadWalkedNode(StoreFile& store, const NodeEntry& node, const StoreReader* reader,
                                           RecipientRows recipients = RecipientRows::Read,
                                           ItemParts parts = ItemParts::All);

}  // namespace bm
