// The sorting half of the analysis walk: it keeps the current folder path
// and the folder stack, and sorts each record read into the results.
//
// Folders: a record with FolderCounts. Its display name and a backslash are
// appended to the current path and the path goes to the folder tree. It is
// a mail folder when its container class is exactly "IPF.Note", its kind is
// Mail, or it has no class, no attachment and no part but FolderCounts;
// a mail folder also gets a FolderRecord. The walk descends into a folder
// that has children; otherwise the folder is left at once.
//
// Items, tested in this order (class comparisons are exact):
//   "IPM.Task"         task list, Tasks
//   "IPM.StickyNote"   note list and Notes, when it has MessageFields
//   kind Journal       journal list; Journal when the entry type is known
//   kind Appointment   calendar list and Calendar
//   ContactFields      contact list and Contacts, unless the class is
//                      "IPM.Note" or the kind is Mail, or only the item's
//                      attachments filled them (TakenForContact)
//   MessageFields      a mail message of the FolderRecord of its parent
//                      (the last record when the parent has none); the
//                      first 50 per folder are kept, all are counted, and
//                      the record's path decides the mail category.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/analysis_observer.h"
#include "engine/analysis_results.h"
#include "messaging/item_record.h"

namespace bm {

inline constexpr std::string_view kRootFolderName = "Personal Folders";
inline constexpr std::string_view kMailFolderClass = "IPF.Note";
inline constexpr std::string_view kTaskClass = "IPM.Task";
inline constexpr std::string_view kStickyNoteClass = "IPM.StickyNote";
inline constexpr std::string_view kMailClass = "IPM.Note";

// Whether an item that is no task, note, journal item or appointment is
// sorted as a contact. A message whose contact fields came only from its
// attachment objects (meeting requests whose attachments carry a language)
// stays a message, so it keeps its body and attachments when saved.
inline bool TakenForContact(const ItemRecord& item) {
    return item.contactFields && !item.contactFieldsOnlyFromAttachments && item.messageClass != kMailClass &&
           item.kind != ItemKind::Mail;
}

// Where a record sits in the node forest.
struct WalkedNode {
    std::uint32_t nid = 0;
    std::uint32_t parentNid = 0;
    bool hasFirstChild = false;
};

class AnalysisCollector {
public:
    AnalysisCollector(AnalysisResults& results, AnalysisObserver& observer);

    // Starts at the subtree root: path "Personal Folders\", the base entry
    // of the folder stack, counts zeroed, and the root FolderRecord when
    // rootNid is not 0 (as the only record).
    void Begin(std::uint32_t rootNid);

    // Sorts one record; true when it opened a folder with children that the
    // walk descends into next.
    bool Classify(std::unique_ptr<ItemRecord> record, const WalkedNode& node);

    // Leaves the innermost open folder (the walk climbs to its parent).
    // False when the stack was already empty.
    bool LeaveFolder();

    const std::string& currentPath() const { return path_; }
    // Entries on the folder stack, the base entry included.
    std::size_t stackDepth() const { return stack_.size(); }
    std::size_t treeCount() const { return treeCount_; }

private:
    void EnterFolder(const std::string& name);
    void ClassifyFolder(ItemRecord& record, const WalkedNode& node, bool& descend);
    void ClassifyItem(ItemRecord& record, const WalkedNode& node);
    void AddMail(MessageFields&& message, std::uint32_t parentNid, std::uint32_t nid);
    // Adds one to a category and tells the observer when the page shows it.
    void Bump(AnalysisData& data, WellKnownCategory category, std::vector<std::pair<WellKnownCategory, std::int32_t>>& changed);
    void Announce(const std::vector<std::pair<WellKnownCategory, std::int32_t>>& changed);

    AnalysisResults& results_;
    AnalysisObserver& observer_;
    std::string path_;
    std::vector<std::size_t> stack_;  // path length before each open folder's name
    std::unordered_map<std::uint32_t, std::size_t> folderByNid_;  // first record of each node id
    std::size_t treeCount_ = 0;
};

}  // namespace bm
