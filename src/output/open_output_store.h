// A .pst store being written, reachable inside the process by its root path
// "\\" + display name. The mail bridge creates and finishes it; a contact
// session started later finds it by that path. Folder paths name the store
// first and then the folders below the top of the personal folders:
// "\\Brightmend_Personal_Folder1-2-2027 9-3-4\Inbox\Sub".
//
// A folder name may itself hold "\", and one parent may hold several
// folders of one name; a level written by EncodeOutputFolderLevel keeps
// both apart in a path: a "\" of the name is written as 0x01 'b', a 0x01
// of the name as 0x01 'e', and the second, third, ... folder of one name
// under one parent carries 0x01 '#' and its number (1, 2, ...) after the
// name. SplitOutputFolderPath reads them back; a path without 0x01 bytes
// means what it says.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "output/pst/store_writer.h"

namespace bm {

// One level of a folder in the new store: its name as it is (it may hold
// "\") and which of the folders of that name under one parent it is (0:
// the first, which is also the one an existing folder of that name is).
struct OutputFolderLevel {
    std::string name;
    std::uint32_t sibling = 0;
};
using OutputFolderLevels = std::vector<OutputFolderLevel>;

// A level as it is written between the "\" of a folder path.
std::string EncodeOutputFolderLevel(const OutputFolderLevel& level);
// One level read back from what EncodeOutputFolderLevel wrote; nullopt
// when an escape in it names nothing known.
std::optional<OutputFolderLevel> DecodeOutputFolderLevelText(std::string_view part);
// "\\" + store name, then "\" + each encoded level.
std::string EncodeOutputFolderPath(std::string_view storeRootPath, const OutputFolderLevels& levels);

// A folder path split into the store's display name and the folder names;
// `siblings` has one entry per folder (see OutputFolderLevel).
struct OutputFolderPath {
    std::string storeName;
    std::vector<std::string> folders;
    std::vector<std::uint32_t> siblings;
};
// nullopt when the path does not start with "\\" and a store name.
std::optional<OutputFolderPath> SplitOutputFolderPath(std::string_view path);

// The container class a folder gets when its creator names none: the one
// of the well-known folder of that name, else mail.
std::string_view DefaultContainerClass(std::string_view folderName);

class OpenOutputStore {
public:
    // Creates (truncates) the file; std::runtime_error when it cannot.
    OpenOutputStore(const std::filesystem::path& path, const std::string& displayName);
    OpenOutputStore(const OpenOutputStore&) = delete;
    OpenOutputStore& operator=(const OpenOutputStore&) = delete;

    const std::filesystem::path& path() const { return path_; }
    const std::string& displayName() const { return displayName_; }

    // The folder of these names below the top, created with its missing
    // parents; an existing folder is returned as it is. `containerClass`
    // applies to the last level when it is created (empty: by its name).
    // `siblings` (empty: all 0) tells, level by level, which folder of that
    // name under its parent is meant; a number not seen yet makes a new one.
    // Each level costs one keyed lookup, so the cost grows with the depth,
    // not with its square.
    pst::FolderId EnsureFolder(const std::vector<std::string>& folders, std::string_view containerClass = {},
                               const std::vector<std::uint32_t>& siblings = {});
    std::optional<pst::FolderId> FindFolder(const std::vector<std::string>& folders,
                                            const std::vector<std::uint32_t>& siblings = {}) const;
    // EnsureFolder that also gives the folder of every level, top first.
    pst::FolderId EnsureFolder(const std::vector<std::string>& folders, std::string_view containerClass,
                               const std::vector<std::uint32_t>& siblings, std::vector<pst::FolderId>* levelsMade);
    // One level of EnsureFolder: the folder of that name and sibling number
    // below `parent`, created when missing (with `containerClass`, empty:
    // by its name).
    pst::FolderId EnsureChild(pst::FolderId parent, const std::string& name, std::uint32_t sibling,
                              std::string_view containerClass = {});
    // Keyed look-ups of a child folder made so far (the work folders cost).
    std::uint64_t childLookups() const { return childLookups_; }

    pst::Nid AddMessage(pst::FolderId folder, const pst::Message& message);
    // Properties of the folder's own, copied from the source folder.
    void SetFolderProperties(pst::FolderId folder, const pst::PropertyBag& properties);
    void SetFolderLinks(pst::FolderId folder, std::vector<pst::PstStore::FolderLink> links);
    pst::FolderId rootFolder() const { return store_->root(); }
    // Into the folder's associated contents.
    pst::Nid AddAssociatedMessage(pst::FolderId folder, const pst::Message& message);
    void Finish();
    bool finished() const { return finished_; }
    // Whether anything was added (folders or messages) since the file was created.
    bool touched() const { return touched_; }
    std::uint64_t FileSize() const;

private:
    // A folder below `parent` by its name and sibling number.
    struct ChildKey {
        pst::FolderId parent;
        std::uint32_t sibling;
        std::string name;
        bool operator==(const ChildKey&) const = default;
    };
    struct ChildKeyHash {
        std::size_t operator()(const ChildKey& k) const noexcept;
    };
    std::optional<pst::FolderId> KnownChild(pst::FolderId parent, std::string_view name, std::uint32_t sibling) const;

    std::filesystem::path path_;
    std::string displayName_;
    std::unique_ptr<pst::PstStore> store_;
    std::unordered_map<ChildKey, pst::FolderId, ChildKeyHash> folders_;
    // Every folder in folders_: one source folder's, never taken for another.
    std::unordered_set<pst::FolderId> claimed_;
    bool finished_ = false;
    bool touched_ = false;
    mutable std::uint64_t childLookups_ = 0;
};

// The stores open in this process, by display name. Any thread may call.
namespace open_stores {
void Register(const std::string& displayName, std::shared_ptr<OpenOutputStore> store);
// Drops every name under which `store` is registered.
void Unregister(const OpenOutputStore& store);
std::shared_ptr<OpenOutputStore> Find(std::string_view displayName);
}  // namespace open_stores

}  // namespace bm
