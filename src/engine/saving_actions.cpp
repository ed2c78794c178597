#include "engine/saving_actions.h"

#include <vector>

#include "engine/analysis_collector.h"
#include "store/nid_types.h"

namespace bm {

SavingActions::SavingActions(ItemSink& sink, StoreFile& store, const SelectedFolders& selected, SavingStatus& status,
                             std::uint32_t top)
    : sink_(sink), store_(store), selected_(selected), status_(status), top_(top) {
    const std::string path = std::string(kRootFolderName) + "\\";
    WalkFolder& root = folders_[top];
    root.selected = selected_.IsSelected(path);
    root.category = MailFolderCategory(path);
    root.handle = kTopOutputFolder;
}

void SavingActions::FolderEntered(const ItemRecord& folder, const NodeEntry& node, std::uint32_t parentNid,
                                  const std::string& path) {
    const auto parent = folders_.find(parentNid);
    WalkFolder entered;
    // A parent the walk never entered (a lost one) is the top; a folder is
    // never its own parent.
    entered.parent = parent != folders_.end() && parentNid != node.nid ? parentNid : top_;
    entered.depth = folders_.at(entered.parent).depth + 1;
    entered.name = folder.displayName;
    entered.containerClass = folder.messageClass;
    entered.node = folder.sourceNode;
    entered.selected = selected_.IsSelected(path);
    entered.category = MailFolderCategory(path);
    folders_.insert_or_assign(node.nid, std::move(entered));
    if (!folders_.at(node.nid).selected) return;
    Open(node.nid);
    status_.SetFolder(path);
}

OutputFolderHandle SavingActions::Open(std::uint32_t nid) {
    // The folders up to the first one opened (the top always is), then
    // opened top down; the depth bounds the climb.
    std::vector<std::uint32_t> chain;
    for (std::uint32_t at = nid;;) {
        const WalkFolder& f = folders_.at(at);
        if (f.handle || chain.size() > f.depth) break;
        chain.push_back(at);
        at = f.parent;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        WalkFolder& f = folders_.at(*it);
        SinkFolder open;
        open.parent = folders_.at(f.parent).handle.value_or(kTopOutputFolder);
        open.name = f.name;
        // A parent that is not saved itself only holds the way down.
        if (f.selected) {
            open.sourceNid = *it;
            open.containerClass = f.containerClass;
            open.sourceNode = f.node;
        }
        f.handle = sink_.OpenFolder(open, store_);
    }
    return folders_.at(nid).handle.value_or(kTopOutputFolder);
}

std::uint32_t SavingActions::FolderOf(std::uint32_t parentNid, std::uint32_t openNid) const {
    if (folders_.contains(parentNid)) return parentNid;
    return folders_.contains(openNid) ? openNid : top_;
}

std::optional<std::string> SavingActions::PathOf(std::uint32_t nid) const {
    auto it = folders_.find(nid);
    if (it == folders_.end()) return std::nullopt;
    std::vector<const std::string*> names;
    for (std::size_t steps = it->second.depth; steps > 0 && it != folders_.end(); --steps) {
        names.push_back(&it->second.name);
        it = folders_.find(it->second.parent);
    }
    std::string path(kRootFolderName);
    path += '\\';
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        path += **name;
        path += '\\';
    }
    return path;
}

void SavingActions::Count(WellKnownCategory category) { status_.SetCount(++saved_[category]); }

void SavingActions::ItemRead(ItemRecord& item, std::uint32_t parentNid, std::uint32_t openNid,
                             const std::string& folderPath) {
    const std::uint32_t owner = FolderOf(parentNid, openNid);
    const WalkFolder& folder = folders_.at(owner);
    if (!folder.selected) return;
    if (item.sourceNode != nullptr && IsAssociatedMessageNid(item.sourceNode->nid)) {
        // Into the associated contents of its folder; not in the counts.
        sink_.AddAssociatedItem(item, store_, Open(owner));
        return;
    }
    std::optional<WellKnownCategory> category;
    if (item.messageClass == kTaskClass) {
        category = WellKnownCategory::Tasks;
    } else if (item.messageClass == kStickyNoteClass) {
        if (!item.messageFields) return;
        category = WellKnownCategory::Notes;
    } else if (item.kind == ItemKind::Journal) {
        // Counted as the analysis counts it: with an entry type.
        if (item.journalFields && !item.journalFields->logType.empty()) category = WellKnownCategory::Journal;
    } else if (item.kind == ItemKind::Appointment) {
        if (!item.appointmentFields && !item.messageFields) return;
        status_.SetFolder(folderPath);
        category = WellKnownCategory::Calendar;
    } else if (TakenForContact(item)) {
        category = WellKnownCategory::Contacts;
    } else {
        if (!item.messageFields) return;
        status_.SetFolder(folderPath);
        category = folder.category;
    }
    // Past the size limit the output goes on in a new part by itself; the
    // item stays in the part it was written to.
    sink_.AddItem(item, store_, Open(owner));
    if (category) Count(*category);
}

}  // namespace bm
