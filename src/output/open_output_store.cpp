#include "output/open_output_store.h"

#include <functional>
#include <mutex>
#include <stdexcept>

#include "output/pst/props_tags.h"

namespace bm {

namespace {

constexpr char kLevelEscape = '\x01';

// Reads one encoded level back; false when an escape names nothing known.
bool DecodeOutputFolderLevel(std::string_view part, std::string& name, std::uint32_t& sibling) {
    name.clear();
    sibling = 0;
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] != kLevelEscape) {
            name.push_back(part[i]);
            continue;
        }
        if (i + 1 >= part.size()) return false;
        const char what = part[++i];
        if (what == 'b') {
            name.push_back('\\');
        } else if (what == 'e') {
            name.push_back(kLevelEscape);
        } else if (what == '#') {
            const std::string_view digits = part.substr(i + 1);
            if (digits.empty() || digits.size() > 9) return false;
            for (const char c : digits) {
                if (c < '0' || c > '9') return false;
                sibling = sibling * 10 + static_cast<std::uint32_t>(c - '0');
            }
            return true;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string EncodeOutputFolderLevel(const OutputFolderLevel& level) {
    std::string out;
    out.reserve(level.name.size() + 4);
    for (const char c : level.name) {
        if (c == '\\') {
            out.push_back(kLevelEscape);
            out.push_back('b');
        } else if (c == kLevelEscape) {
            out.push_back(kLevelEscape);
            out.push_back('e');
        } else {
            out.push_back(c);
        }
    }
    if (level.sibling != 0) {
        out.push_back(kLevelEscape);
        out.push_back('#');
        out += std::to_string(level.sibling);
    }
    return out;
}

std::optional<OutputFolderLevel> DecodeOutputFolderLevelText(std::string_view part) {
    OutputFolderLevel level;
    if (!DecodeOutputFolderLevel(part, level.name, level.sibling)) return std::nullopt;
    return level;
}

std::string EncodeOutputFolderPath(std::string_view storeRootPath, const OutputFolderLevels& levels) {
    std::string out(storeRootPath);
    for (const OutputFolderLevel& level : levels) {
        out.push_back('\\');
        out += EncodeOutputFolderLevel(level);
    }
    return out;
}

std::optional<OutputFolderPath> SplitOutputFolderPath(std::string_view path) {
    if (!path.starts_with("\\\\")) return std::nullopt;
    path.remove_prefix(2);
    OutputFolderPath out;
    std::size_t at = 0;
    bool first = true;
    std::string name;
    std::uint32_t sibling = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('\\', at);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(at, end - at);
        if (first) {
            if (part.empty()) return std::nullopt;
            out.storeName = std::string(part);
            first = false;
        } else if (!part.empty()) {
            if (!DecodeOutputFolderLevel(part, name, sibling)) return std::nullopt;
            out.folders.push_back(name);
            out.siblings.push_back(sibling);
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

pst::FolderId OpenOutputStore::EnsureFolder(const std::vector<std::string>& folders, std::string_view containerClass,
                                            const std::vector<std::uint32_t>& siblings) {
    return EnsureFolder(folders, containerClass, siblings, nullptr);
}

pst::FolderId OpenOutputStore::EnsureFolder(const std::vector<std::string>& folders, std::string_view containerClass,
                                            const std::vector<std::uint32_t>& siblings,
                                            std::vector<pst::FolderId>* levelsMade) {
    if (finished_) throw std::logic_error("output store already finished");
    pst::FolderId parent = store_->ipmSubtree();
    if (levelsMade != nullptr) levelsMade->clear();
    for (std::size_t level = 0; level < folders.size(); ++level) {
        const std::uint32_t sibling = level < siblings.size() ? siblings[level] : 0;
        const bool last = level + 1 == folders.size();
        parent = EnsureChild(parent, folders[level], sibling, last ? containerClass : std::string_view{});
        if (levelsMade != nullptr) levelsMade->push_back(parent);
    }
    return parent;
}

std::optional<pst::FolderId> OpenOutputStore::FindFolder(const std::vector<std::string>& folders,
                                                         const std::vector<std::uint32_t>& siblings) const {
    pst::FolderId parent = store_->ipmSubtree();
    for (std::size_t level = 0; level < folders.size(); ++level) {
        const std::uint32_t sibling = level < siblings.size() ? siblings[level] : 0;
        std::optional<pst::FolderId> child = KnownChild(parent, folders[level], sibling);
        if (!child && sibling == 0) {
            child = store_->FindFolder(parent, folders[level]);
            if (child && claimed_.contains(*child)) child.reset();
        }
        if (!child) return std::nullopt;
        parent = *child;
    }
    return parent;
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
