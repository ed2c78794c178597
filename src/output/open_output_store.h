// A .pst store being written, with the folders made in it so far: the
// writer asks for each folder by its parent, its name and which folder of
// that name under the parent it is, one keyed look-up per folder, so the
// cost grows with the number of folders, not with their depth.
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

    // The folder of that name and sibling number below `parent` (0: the
    // first of the name, which may be one the new store starts with),
    // created when missing (with `containerClass`, empty: by its name).
    pst::FolderId EnsureChild(pst::FolderId parent, const std::string& name, std::uint32_t sibling,
                              std::string_view containerClass = {});
    // Keyed look-ups of a child folder made so far (the work folders cost).
    std::uint64_t childLookups() const { return childLookups_; }

    pst::Nid AddMessage(pst::FolderId folder, const pst::Message& message);
    // Properties of the folder's own, copied from the source folder.
    void SetFolderProperties(pst::FolderId folder, const pst::PropertyBag& properties);
    void SetFolderLinks(pst::FolderId folder, std::vector<pst::PstStore::FolderLink> links);
    pst::FolderId rootFolder() const { return store_->root(); }
    // The top of the personal folders.
    pst::FolderId topFolder() const { return store_->ipmSubtree(); }
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

}  // namespace bm
