// A .pst store being written, reachable inside the process by its root path
// "\\" + display name. The mail bridge creates and finishes it; a contact
// session started later finds it by that path. Folder paths name the store
// first and then the folders below the top of the personal folders:
// "\\Brightmend_Personal_Folder1-2-2027 9-3-4\Inbox\Sub".
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "output/pst/store_writer.h"

namespace bm {

// A folder path split into the store's display name and the folder names.
struct OutputFolderPath {
    std::string storeName;
    std::vector<std::string> folders;
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
    pst::FolderId EnsureFolder(const std::vector<std::string>& folders, std::string_view containerClass = {});
    std::optional<pst::FolderId> FindFolder(const std::vector<std::string>& folders) const;

    pst::Nid AddMessage(pst::FolderId folder, const pst::Message& message);
    // Properties of the folder's own, copied from the source folder.
    void SetFolderProperties(pst::FolderId folder, const pst::PropertyBag& properties);
    // Into the folder's associated contents.
    pst::Nid AddAssociatedMessage(pst::FolderId folder, const pst::Message& message);
    void Finish();
    bool finished() const { return finished_; }
    // Whether anything was added (folders or messages) since the file was created.
    bool touched() const { return touched_; }
    std::uint64_t FileSize() const;

private:
    static std::string Key(const std::vector<std::string>& folders, std::size_t levels);

    std::filesystem::path path_;
    std::string displayName_;
    std::unique_ptr<pst::PstStore> store_;
    std::unordered_map<std::string, pst::FolderId> folders_;
    bool finished_ = false;
    bool touched_ = false;
};

// The stores open in this process, by display name. Any thread may call.
namespace open_stores {
void Register(const std::string& displayName, std::shared_ptr<OpenOutputStore> store);
// Drops every name under which `store` is registered.
void Unregister(const OpenOutputStore& store);
std::shared_ptr<OpenOutputStore> Find(std::string_view displayName);
}  // namespace open_stores

}  // namespace bm
