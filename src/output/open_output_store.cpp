#include "output/open_output_store.h"

#include <mutex>
#include <stdexcept>

#include "output/pst/props_tags.h"

namespace bm {

std::optional<OutputFolderPath> SplitOutputFolderPath(std::string_view path) {
    if (!path.starts_with("\\\\")) return std::nullopt;
    path.remove_prefix(2);
    OutputFolderPath out;
    std::size_t at = 0;
    bool first = true;
    while (at <= path.size()) {
        std::size_t end = path.find('\\', at);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(at, end - at);
        if (first) {
            if (part.empty()) return std::nullopt;
            out.storeName = std::string(part);
            first = false;
        } else if (!part.empty()) {
            out.folders.emplace_back(part);
        }
        at = end + 1;
    }
    return out;
}

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

std::string OpenOutputStore::Key(const std::vector<std::string>& folders, std::size_t levels) {
    std::string key;
    for (std::size_t i = 0; i < levels; ++i) {
        key += folders[i];
        key.push_back('\0');  // folder names cannot hold it, so keys never collide
    }
    return key;
}

pst::FolderId OpenOutputStore::EnsureFolder(const std::vector<std::string>& folders, std::string_view containerClass) {
    if (finished_) throw std::logic_error("output store already finished");
    pst::FolderId parent = store_->ipmSubtree();
    for (std::size_t level = 0; level < folders.size(); ++level) {
        const std::string key = Key(folders, level + 1);
        if (const auto it = folders_.find(key); it != folders_.end()) {
            parent = it->second;
            continue;
        }
        std::optional<pst::FolderId> found = store_->FindFolder(parent, folders[level]);
        if (!found) {
            const bool last = level + 1 == folders.size();
            const std::string_view cls =
                last && !containerClass.empty() ? containerClass : DefaultContainerClass(folders[level]);
            found = store_->CreateFolder(parent, folders[level], cls);
            touched_ = true;
        }
        folders_.emplace(key, *found);
        parent = *found;
    }
    return parent;
}

std::optional<pst::FolderId> OpenOutputStore::FindFolder(const std::vector<std::string>& folders) const {
    if (folders.empty()) return store_->ipmSubtree();
    if (const auto it = folders_.find(Key(folders, folders.size())); it != folders_.end()) return it->second;
    pst::FolderId parent = store_->ipmSubtree();
    for (const std::string& name : folders) {
        const std::optional<pst::FolderId> child = store_->FindFolder(parent, name);
        if (!child) return std::nullopt;
        parent = *child;
    }
    return parent;
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

namespace open_stores {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<OpenOutputStore>> byName;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

void Register(const std::string& displayName, std::shared_ptr<OpenOutputStore> store) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    r.byName[displayName] = std::move(store);
}

void Unregister(const OpenOutputStore& store) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    std::erase_if(r.byName, [&](const auto& entry) { return entry.second.get() == &store; });
}

std::shared_ptr<OpenOutputStore> Find(std::string_view displayName) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.byName.find(std::string(displayName));
    return it == r.byName.end() ? nullptr : it->second;
}

}  // namespace open_stores
}  // namespace bm
