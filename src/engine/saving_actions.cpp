#include "engine/saving_actions.h"

#include "engine/analysis_collector.h"

namespace bm {

SavingActions::SavingActions(USave_to_PST_Format& writer, StoreFile& store, const SelectedFolders& selected,
                             SavingStatus& status)
    : writer_(writer), store_(store), selected_(selected), status_(status) {}

void SavingActions::FolderEntered(const ItemRecord& folder, std::uint32_t nid, const std::string& path) {
    folderPaths_[nid] = path;
    folderClasses_[path] = folder.messageClass;
    if (!selected_.IsSelected(path)) return;
    writer_.PrepareFolder(path, folder.messageClass);
    status_.SetFolder(path);
}

void SavingActions::MakeCurrent(const std::string& path) {
    if (writer_.currentSourceFolder() == path) return;
    const auto cls = folderClasses_.find(path);
    writer_.PrepareFolder(path, cls == folderClasses_.end() ? std::string_view() : std::string_view(cls->second));
}

void SavingActions::Count(WellKnownCategory category) {
    status_.SetCount(++saved_[category]);
}

void SavingActions::ItemRead(ItemRecord& item, std::uint32_t parentNid, const std::string& currentPath) {
    const bool here = selected_.IsSelected(currentPath);
    if (item.messageClass == kTaskClass) {
        if (!here) return;
        MakeCurrent(currentPath);
        writer_.SaveTask(item, store_);
        Count(WellKnownCategory::Tasks);
        return;
    }
    if (item.messageClass == kStickyNoteClass) {
        if (!here || !item.messageFields) return;
        MakeCurrent(currentPath);
        writer_.SaveNote(item, store_);
        Count(WellKnownCategory::Notes);
        return;
    }
    if (item.kind == ItemKind::Journal) {
        if (!here) return;
        MakeCurrent(currentPath);
        writer_.SaveJournal(item, store_);
        if (item.journalFields && !item.journalFields->logType.empty()) Count(WellKnownCategory::Journal);
        return;
    }
    if (item.kind == ItemKind::Appointment) {
        if (!here || (!item.appointmentFields && !item.messageFields)) return;
        MakeCurrent(currentPath);
        status_.SetFolder(currentPath);
        writer_.SaveAppointment(item, store_);
        Count(WellKnownCategory::Calendar);
        return;
    }
    if (TakenForContact(item)) {
        if (!here) return;
        MakeCurrent(currentPath);
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
    writer_.SaveMail(item, store_, path);
    if (writer_.outputStores().size() != parts) status_.SetOutputPath(writer_.outputStorePath());
    if (const std::optional<WellKnownCategory> category = MailFolderCategory(path)) Count(*category);
}

}  // namespace bm
