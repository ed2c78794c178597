// Reading one node of the store into an ItemRecord: its property context,
// for a message its attachment table (subnode 0x671) and every attachment
// object, then the mapping.
//
// Attachment objects are read without their own subnodes, so large
// attachment data is not loaded here: the record keeps the NID of the data
// subnode and the BID of its data block, and StreamAttachmentData fetches it
// when it is saved. An embedded message is saved the same way, as the raw
// content of its subnode.
#pragma once

#include <cstdint>
#include <memory>

#include "messaging/item_mapping.h"
#include "messaging/item_record.h"
#include "store/blocks.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

inline constexpr std::uint32_t kAttachmentTableNid = 0x671;
inline constexpr std::uint32_t kRecipientTableNid = 0x692;

// Whether ReadItem reads the recipient table: only saving needs its rows,
// and leaving it out spares a table read per message.
enum class RecipientRows { Read, Skip };

// What ReadItem reads of a message: everything, or all but its bodies and
// recipient rows (the record is then marked bodiesLeftOut). Saving copies
// an item from its node and needs neither, unless the copy fails.
enum class ItemParts { All, WithoutBodies };

// The record of one node; nullptr when the node has no data block or its
// data is neither a property context nor readable. `reader` (optional)
// carries the stop request; `rtf` (optional) the RTF workspace.
std::unique_ptr<ItemRecord> ReadItem(StoreFile& store, const NodeEntry& node, const StoreReader* reader = nullptr,
                                     RtfWorkspace* rtf = nullptr, RecipientRows recipients = RecipientRows::Read,
                                     ItemParts parts = ItemParts::All);

// Fills in what a record read WithoutBodies left out (bodies and recipient
// rows) by reading its node again; nothing for a complete record or one
// without a node.
void ReadLeftOutParts(StoreFile& store, ItemRecord& record);

// Writes the attachment's data to `sink`: the bytes held in the record
// (released afterwards), or the data subnode's block read with its data
// tree. `size` becomes the number of bytes written (0 when the block is not
// found). Always 1.
int StreamAttachmentData(StoreFile& store, AttachmentRecord& attachment, const DataSink& sink);

}  // namespace bm
