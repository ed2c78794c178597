// The whole of an item read from the offline store, as the new store takes
// it: every property of its property context with its type and stored
// bytes, every column of every recipient row, every attachment with all its
// properties and its data, and embedded messages as messages of their own,
// to any depth.
//
// Named properties (ids 0x8000 and up) are carried by name: the source
// store's name-to-ID map gives their property set and LID or name, and the
// new store gives them ids of its own. One whose name the source map does
// not hold is left out, since its id means nothing in another store; the
// copy of a message notes its id for the run's account.
//
// A few properties are not copied because they name the item's place in
// the old store or are computed by the new store as it writes the item;
// MadeAnewProperties lists them, each with its reason.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "output/folder_links.h"
#include "output/pst/message.h"
#include "store/store_file.h"
#include "store/tables.h"

namespace bm {

struct MadeAnewProperty {
    std::uint16_t id;
    std::string_view reason;
};

// The properties left out of every copied object (message, recipient row,
// attachment), with why.
std::span<const MadeAnewProperty> MadeAnewProperties();
bool IsMadeAnew(std::uint16_t propertyId);

// What a folder's copy leaves out besides those: what the new store
// computes from the folder's contents, and the entry IDs that name folders,
// views and messages of the old store.
std::span<const MadeAnewProperty> FolderMadeAnewProperties();
// True for a property of either list.
bool IsFolderMadeAnew(std::uint16_t propertyId);

// Deepest nesting of embedded messages followed; a deeper one (only a
// damaged or hostile store has it) is kept as the attachment's properties
// without the message.
inline constexpr int kMaxEmbeddingDepth = 32;

// The item at `node` read whole. nullopt when the node has no data or its
// data is no property context (the caller then falls back to what the item
// mapping read). Attachment data larger than a heap is read from the store
// piece by piece while the new store writes it, so `store` must outlive
// the message (it is written before the next item is read).
// `unnamed` (optional) gets the id of every named value left out for want
// of a name, at any depth (recipient rows, attachments, embedded messages).
using UnnamedValues = std::vector<std::uint16_t>;
std::optional<pst::Message> CopySourceMessage(StoreFile& store, const NodeEntry& node,
                                              UnnamedValues* unnamed = nullptr);

// A folder's own properties (container class, comment, hidden flag,
// views' settings, ...) read whole, less FolderMadeAnewProperties; named
// ones carried by name. nullopt when the node has no readable property
// context.
std::optional<pst::PropertyBag> CopySourceFolderProperties(StoreFile& store, const NodeEntry& folder);

// The folder's links to other folders (see folder_links.h) as it holds
// them; empty when it has none or cannot be read.
// With `counter`, also the folder's own global counter (the 6 bytes of its
// 0x67F4 value after the replica id) as a number, which Exchange entry ids
// of the folder carry; nullopt when the folder has none.
std::vector<SourceFolderLink> ReadSourceFolderLinks(StoreFile& store, const NodeEntry& folder,
                                                    std::optional<std::uint64_t>* counter = nullptr);

// The same for a message kept in a data block and subnode block of its own
// (an embedded message); `depth` counts the messages around it.
std::optional<pst::Message> CopySourceMessage(StoreFile& store, const BlockEntry* data, const BlockEntry* subnodes,
                                              int depth, UnnamedValues* unnamed = nullptr);

}  // namespace bm
