#include "output/open_output_store.h"

#include <functional>
#include <stdexcept>

#include "output/pst/props_tags.h"

namespace bm {

std::string_view DefaultContainerClass(std::string_view folderName) {
    if (folderName == "Calendar") return "IPF.Appointment";
    if (folderName == "Contacts") return "IPF.Contact";
    if (folderName == "Tasks") return "IPF.Task";
    if (folderName == "Notes") return "IPF.StickyNote";
    if (folderName == "Journal") return "IPF.Journal";
    return "IPF.Note";
}

OpenOutputStore::OpenOutputStore(const std::filesystem::path& path, const std::string& displayName)
    : path_(path), displayName_(displayName), store_(pst::PstStore::Create(path, {.displayName = displayName})) {}

std::size_t OpenOutputStore::ChildKeyHash::operator()(const ChildKey& k) const noexcept {
    std::size_t h = std::hash<std::string>()(k.name);
    h ^= std::hash<std::uint64_t>()((static_cast<std::uint64_t>(k.parent) << 32) | k.sibling) + 0x9e3779b97f4a7c15ull +
         (h << 6) + (h >> 2);
    return h;
}

std::optional<pst::FolderId> OpenOutputStore::KnownChild(pst::FolderId parent, std::string_view name,
                                                         std::uint32_t sibling) const {
    ++childLookups_;
    if (const auto it = folders_.find(ChildKey{parent, sibling, std::string(name)}); it != folders_.end())
        return it->second;
    return std::nullopt;
}

pst::FolderId OpenOutputStore::EnsureChild(pst::FolderId parent, const std::string& name, std::uint32_t sibling,
                                           std::string_view containerClass) {
    if (finished_) throw std::logic_error("output store already finished");
    if (const std::optional<pst::FolderId> known = KnownChild(parent, name, sibling)) return *known;
    // The first of a name may be a folder the new store starts with
    // (Deleted Items); any later one is always a folder of its own.
    std::optional<pst::FolderId> found;
    if (sibling == 0) found = store_->FindFolder(parent, name);
    if (found && claimed_.contains(*found)) found.reset();  // a later sibling's, made first
    if (!found) {
        found = store_->CreateFolder(parent, name, containerClass.empty() ? DefaultContainerClass(name) : containerClass);
        touched_ = true;
    }
    folders_.emplace(ChildKey{parent, sibling, name}, *found);
    claimed_.insert(*found);
    return *found;
}

void OpenOutputStore::SetFolderLinks(pst::FolderId folder, std::vector<pst::PstStore::FolderLink> links) {
    if (finished_) throw std::logic_error("output store already finished");
    store_->SetFolderLinks(folder, std::move(links));
}

pst::Nid OpenOutputStore::AddMessage(pst::FolderId folder, const pst::Message& message) {
    if (finished_) throw std::logic_error("output store already finished");
    touched_ = true;
    return store_->AddMessage(folder, message);
}

void OpenOutputStore::SetFolderProperties(pst::FolderId folder, const pst::PropertyBag& properties) {
    if (finished_) throw std::logic_error("output store already finished");
    store_->SetFolderProperties(folder, properties);
}

pst::Nid OpenOutputStore::AddAssociatedMessage(pst::FolderId folder, const pst::Message& message) {
    if (finished_) throw std::logic_error("output store already finished");
    touched_ = true;
    return store_->AddAssociatedMessage(folder, message);
}

void OpenOutputStore::Finish() {
    if (finished_) return;
    store_->Finish();
    finished_ = true;
}

std::uint64_t OpenOutputStore::FileSize() const { return store_->FileSize(); }

}  // namespace bm
