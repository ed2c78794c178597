// Acting on each record of the saving walk: the walk (the same pre-order
// walk as the analysis, with its folder stack and current path) hands every
// folder it enters and every item it reads to these actions, which write
// the selected ones through the output (see item_sink.h) and count them.
//
// Items, in the order the analysis sorts them (class tests exact):
//   "IPM.Task"          Tasks
//   "IPM.StickyNote"    Notes       (with MessageFields)
//   kind Journal        Journal     (counted with an entry type)
//   kind Appointment    Calendar    (with appointment or message fields)
//   ContactFields       Contacts    (TakenForContact: not class "IPM.Note", not kind
//                                    Mail, not filled by the attachments alone)
//   MessageFields       mail        (category by the folder path)
// Every kind is written with its attachments, into the folder of the
// item's parent node when the walk entered it, else into the folder the
// walk is in.
//
// One map from each source folder (node id) to what the output made of
// it: the folder is opened in the output when the walk enters it and it
// is selected (with any parent not selected, which then gets neither class
// nor properties of its own), and its handle goes with each of its items.
// Whether a folder is selected, and its mail category, are decided once,
// by its path, when it is entered; nothing else keeps a path per folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "engine/saving_selection.h"
#include "engine/saving_status.h"
#include "engine/well_known_counts.h"
#include "messaging/item_record.h"
#include "output/item_sink.h"
#include "store/store_file.h"
#include "store/tables.h"

namespace bm {

class SavingActions {
public:
    // `top` is the node of the walk's root (the top of the personal
    // folders, path kRootFolderName + "\"): the output's top folder.
    SavingActions(ItemSink& sink, StoreFile& store, const SelectedFolders& selected, SavingStatus& status,
                  std::uint32_t top);

    // The walk entered a folder below the folder `parentNid` it was in;
    // `path` is its full path with the final "\". A folder entered again
    // is taken as it is now.
    void FolderEntered(const ItemRecord& folder, const NodeEntry& node, std::uint32_t parentNid,
                       const std::string& path);
    // An item whose node hangs below `parentNid`, read while the walk is in
    // folder `openNid`; `folderPath` is the path of the item's folder.
    void ItemRead(ItemRecord& item, std::uint32_t parentNid, std::uint32_t openNid, const std::string& folderPath);

    // The folder an item below `parentNid` belongs to: that node when the
    // walk entered it, else `openNid`.
    std::uint32_t FolderOf(std::uint32_t parentNid, std::uint32_t openNid) const;
    // The path of a folder the walk entered (as the walk made it), built
    // from the names up to the top; nullopt for any other node.
    std::optional<std::string> PathOf(std::uint32_t nid) const;

    const WellKnownCounts& saved() const { return saved_; }

private:
    struct WalkFolder {
        std::uint32_t parent = 0;
        std::string name;
        std::string containerClass;
        const NodeEntry* node = nullptr;
        std::size_t depth = 0;  // the top is 0
        bool selected = false;
        std::optional<WellKnownCategory> category;
        std::optional<OutputFolderHandle> handle;
    };

    // The output folder of a folder the walk entered, opened (with the
    // parents it still lacks) when it is not yet.
    OutputFolderHandle Open(std::uint32_t nid);
    void Count(WellKnownCategory category);

    ItemSink& sink_;
    StoreFile& store_;
    const SelectedFolders& selected_;
    SavingStatus& status_;
    std::uint32_t top_;
    WellKnownCounts saved_;
    std::unordered_map<std::uint32_t, WalkFolder> folders_;
};

}  // namespace bm
