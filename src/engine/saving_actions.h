// Acting on each record of the saving walk: the walk (the same pre-order
// walk as the analysis, with its folder stack and current path) hands every
// folder it enters and every item it reads to these actions, which write
// the selected ones through the output writer and count them.
//
// Items, in the order the analysis sorts them (class tests exact):
//   "IPM.Task"          Tasks       SaveTask
//   "IPM.StickyNote"    Notes       SaveNote         (with MessageFields)
//   kind Journal        Journal     SaveJournal      (counted with an entry type)
//   kind Appointment    Calendar    SaveAppointment  (with appointment or message fields)
//   ContactFields       Contacts    SaveContact      (TakenForContact: not class "IPM.Note", not kind
//                                                     Mail, not filled by the attachments alone)
//   MessageFields       mail        SaveMail         (category by the folder path)
// Every kind is written with its attachments.
// Every item but mail is tested and written with the current path; a mail
// with the path of its parent folder (the current path when the walk has
// not met the parent). Before an item is written its folder is made the
// writer's current one, so an item is never written into another folder.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "engine/saving_selection.h"
#include "engine/saving_status.h"
#include "engine/well_known_counts.h"
#include "messaging/item_record.h"
#include "output/save_to_pst.h"
#include "output/source_folders.h"
#include "store/store_file.h"

namespace bm {

class SavingActions {
public:
    SavingActions(USave_to_PST_Format& writer, StoreFile& store, const SelectedFolders& selected,
                  SavingStatus& status);

    // The walk entered a folder; `path` is its full path with the final "\".
    // The folder becomes a folder of its own in the new store (see
    // source_folders.h), also when a sibling has its name: its parent is
    // the folder the walk entered last with the path before its name.
    void FolderEntered(const ItemRecord& folder, std::uint32_t nid, const std::string& path);
    // An item of the folder at `currentPath`; `parentNid` the node's parent.
    void ItemRead(ItemRecord& item, std::uint32_t parentNid, const std::string& currentPath);

    const WellKnownCounts& saved() const { return saved_; }

private:
    void MakeCurrent(const std::string& path, std::uint32_t parentNid);
    // Makes the folder of `nid` (a registered folder) the writer's current one.
    void PrepareKnownFolder(std::uint32_t nid, const std::string& path);
    void Count(WellKnownCategory category);

    USave_to_PST_Format& writer_;
    StoreFile& store_;
    const SelectedFolders& selected_;
    SavingStatus& status_;
    WellKnownCounts saved_;
    std::unordered_map<std::uint32_t, std::string> folderPaths_;
    std::unordered_map<std::string, std::string> folderClasses_;
    std::unordered_map<std::uint32_t, std::string> classesByNid_;
    SourceFolderMap outputFolders_;
    // The folder entered last with each path (the open one in the walk).
    std::unordered_map<std::string, std::uint32_t> lastEntered_;
    // The registered folder the writer was last made to write into; 0 when
    // it was prepared by path.
    std::uint32_t currentNid_ = 0;
};

}  // namespace bm
