// What the saving walk writes through: an output that takes folders and
// items one by one, whatever it makes of them (a store file, mail files,
// cards). The walk owns the identity of the source folders: it opens each
// folder it saves once, parent before child, and hands the handle it got
// back with every item of that folder. An output never looks a folder up
// by its path, so two source folders of one name under one parent, a name
// holding a path separator or a folder without a name each stay a folder
// of their own.
//
// Calls, on the walk's thread:
//   OpenFolder (top first, parents before children) ... interleaved with
//   AddItem / AddAssociatedItem ... -> Finish
//
// Failures are exceptions; an item the output cannot take at all is
// reported by false and the walk counts it as not written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "messaging/item_record.h"
#include "store/store_file.h"
#include "store/tables.h"

namespace bm {

// An output folder as the output handed it out; only that output knows
// what it stands for.
using OutputFolderHandle = std::uint32_t;
// The top of the output: where the source's top folder goes.
inline constexpr OutputFolderHandle kTopOutputFolder = 0;

struct SinkFolder {
    // The source folder's node id: one folder of the output per source folder.
    std::uint32_t sourceNid = 0;
    // As the source names it (empty for a folder without a name).
    std::string_view name;
    // The kind of items it holds ("IPF.Note", "IPF.Contact", ...); empty:
    // the output chooses by the name.
    std::string_view containerClass;
    OutputFolderHandle parent = kTopOutputFolder;
    // The source folder's own node, for what the folder itself holds
    // beyond its name (settings, links to other folders); nullptr: nothing.
    const NodeEntry* sourceNode = nullptr;
};

class ItemSink {
public:
    virtual ~ItemSink() = default;

    // A new folder of the output below `folder.parent`; every call makes
    // one (a folder the output starts with may stand for the first of a
    // name).
    virtual OutputFolderHandle OpenFolder(const SinkFolder& folder, StoreFile& store) = 0;
    // Writes the item into the folder; its content is read from `store`
    // where the record does not hold it. false when nothing was written.
    virtual bool AddItem(ItemRecord& item, StoreFile& store, OutputFolderHandle folder) = 0;
    // A folder's associated item (a view, rule or setting); false when the
    // output does not keep it or it cannot be read whole.
    virtual bool AddAssociatedItem(const ItemRecord& item, StoreFile& store, OutputFolderHandle folder) = 0;
    // Everything is written and closed; a second call does nothing.
    virtual void Finish() = 0;

    // Items written so far (every kind).
    virtual std::uint64_t itemsWritten() const = 0;
    // Which piece of the output the next item goes to, from 0 (an output
    // may go on in a new piece past a size limit).
    virtual std::size_t currentPart() const = 0;
    // The piece the last item written went into.
    virtual std::size_t lastItemPart() const { return currentPart(); }
    // The ids of the named values the items since the last call left out
    // for want of a name; the list starts afresh.
    virtual std::vector<std::uint16_t> TakeUnnamedValues() { return {}; }
};

}  // namespace bm
