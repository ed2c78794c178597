#include "engine/saving_actions.h"

#include "engine/analysis_collector.h"
#include "store/nid_types.h"
#include "store/tables.h"

namespace bm {

SavingActions::SavingActions(USave_to_PST_Format& writer, StoreFile& store, const SelectedFolders& selected,
                             SavingStatus& status)
    : writer_(writer), store_(store), selected_(selected), status_(status) {}

void SavingActions::FolderEntered(const ItemRecord& folder, std::uint32_t nid, const std::string& path) {
    folderPaths_[nid] = path;
    folderClasses_[path] = folder.messageClass;
    classesByNid_[nid] = folder.messageClass;
    // The walk made `path` from its parent's path, the name and "\"; the
    // name may hold "\" itself, so the parent's path is cut by the name's
    // length, never looked for at the last "\".
    std::uint32_t parentNid = 0;
    const std::size_t own = folder.displayName.size() + 1;
    if (path.size() > own && path.ends_with(folder.displayName + "\\")) {
        const auto parent = lastEntered_.find(path.substr(0, path.size() - own));
        if (parent != lastEntered_.end() && parent->second != nid) parentNid = parent->second;
    }
    outputFolders_.Enter(nid, parentNid, folder.displayName);
    lastEntered_[path] = nid;
    if (!selected_.IsSelected(path)) return;
    PrepareKnownFolder(nid, path);
    if (folder.sourceNode != nullptr) writer_.KeepFolderProperties(path, *folder.sourceNode, store_);
    status_.SetFolder(path);
}

void SavingActions::PrepareKnownFolder(std::uint32_t nid, const std::string& path) {
    const auto cls = classesByNid_.find(nid);
    writer_.PrepareSourceFolder(path, outputFolders_.LevelsOf(nid),
                                cls == classesByNid_.end() ? std::string_view() : std::string_view(cls->second));
    currentNid_ = nid;
}

// The item's own folder when the walk registered it under this path, else
// the folder of the path.
void SavingActions::MakeCurrent(const std::string& path, std::uint32_t parentNid) {
    const auto known = folderPaths_.find(parentNid);
    if (known != folderPaths_.end() && known->second == path) {
        if (currentNid_ == parentNid && !writer_.currentFolderPath().empty()) return;
        PrepareKnownFolder(parentNid, path);
        return;
    }
    if (currentNid_ == 0 && writer_.currentSourceFolder() == path) return;
    const auto cls = folderClasses_.find(path);
    writer_.PrepareFolder(path, cls == folderClasses_.end() ? std::string_view() : std::string_view(cls->second));
    currentNid_ = 0;
}

void SavingActions::Count(WellKnownCategory category) {
    status_.SetCount(++saved_[category]);
}

void SavingActions::ItemRead(ItemRecord& item, std::uint32_t parentNid, const std::string& currentPath) {
    if (item.sourceNode != nullptr && IsAssociatedMessageNid(item.sourceNode->nid)) {
        // Into the associated contents of the folder it belongs to (the
        // walk's own folder when it registered it); not in the mail counts.
        const auto parent = folderPaths_.find(parentNid);
        const std::string& path = parent != folderPaths_.end() ? parent->second : currentPath;
        if (!selected_.IsSelected(path)) return;
        if (parent != folderPaths_.end())
            writer_.SaveAssociatedInFolder(item, store_, outputFolders_.LevelsOf(parentNid));
        else
            writer_.SaveAssociated(item, store_, path);
        return;
    }
    const bool here = selected_.IsSelected(currentPath);
    if (item.messageClass == kTaskClass) {
        if (!here) return;
        MakeCurrent(currentPath, parentNid);
        writer_.SaveTask(item, store_);
        Count(WellKnownCategory::Tasks);
        return;
    }
    if (item.messageClass == kStickyNoteClass) {
        if (!here || !item.messageFields) return;
        MakeCurrent(currentPath, parentNid);
        writer_.SaveNote(item, store_);
        Count(WellKnownCategory::Notes);
        return;
    }
    if (item.kind == ItemKind::Journal) {
        if (!here) return;
        MakeCurrent(currentPath, parentNid);
        writer_.SaveJournal(item, store_);
        if (item.journalFields && !item.journalFields->logType.empty()) Count(WellKnownCategory::Journal);
        return;
    }
    if (item.kind == ItemKind::Appointment) {
        if (!here || (!item.appointmentFields && !item.messageFields)) return;
        MakeCurrent(currentPath, parentNid);
        status_.SetFolder(currentPath);
        writer_.SaveAppointment(item, store_);
        Count(WellKnownCategory::Calendar);
        return;
    }
    if (TakenForContact(item)) {
        if (!here) return;
        MakeCurrent(currentPath, parentNid);
        writer_.SaveContact(item, store_);
        Count(WellKnownCategory::Contacts);
        return;
    }
    if (!item.messageFields) return;
    const auto parent = folderPaths_.find(parentNid);
    const std::string& path = parent != folderPaths_.end() ? parent->second : currentPath;
    if (!selected_.IsSelected(path)) return;
    status_.SetFolder(path);
    // Past the size limit the writer goes on in a new part by itself; the
    // mail stays in the part it was written to.
    const std::size_t parts = writer_.outputStores().size();
    if (parent != folderPaths_.end()) {
        writer_.SaveMailInFolder(item, store_, outputFolders_.LevelsOf(parentNid));
    } else {
        writer_.SaveMail(item, store_, path);
    }
    if (writer_.outputStores().size() != parts) status_.SetOutputPath(writer_.outputStorePath());
    if (const std::optional<WellKnownCategory> category = MailFolderCategory(path)) Count(*category);
}

}  // namespace bm
