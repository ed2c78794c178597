// Listing every folder and every item of a store's mail folder subtree, for
// the command line's `list`.
//
// Unlike the analysis, nothing is limited or kept: each item is read with
// ReadItem, handed to the visitor and released. Folders come in pre-order,
// each with its items (in node order) before its subfolders. Paths are the
// tool's own ("Personal Folders\Inbox\"). A child without a readable record
// is reported as unreadable, so nothing the store holds is passed over in
// silence.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "messaging/item_record.h"
#include "store/store_reader.h"

namespace bm {

struct ListedFolder {
    std::string path;
    std::uint32_t nid = 0;
    std::string containerClass;
    bool recordLost = false;  // the folder's own record is lost; its name is recovered
};

class StoreListingVisitor {
public:
    virtual ~StoreListingVisitor() = default;
    // The store file is open; nothing has been read from it yet.
    virtual void OnStoreOpened(std::uint32_t /*formatVersion*/) {}
    virtual void OnFolderBegin(const ListedFolder& folder) = 0;
    virtual void OnItem(std::uint32_t nid, const ItemRecord& record) = 0;
    virtual void OnUnreadableItem(std::uint32_t /*nid*/) {}
    virtual void OnFolderEnd(const ListedFolder& /*folder*/) {}
};

struct StoreListingOptions {
    // List only the folder with exactly this path; all when unset.
    std::optional<std::string> folderPath;
    // Scan the whole file (deep recovery) even when the index looks sound.
    bool deepScan = false;
    // Look for deleted items too ("Recovered Items\Deleted").
    bool recoverDeleted = false;
};

enum class StoreListingResult : int {
    Listed,
    Stopped,          // the reader's stop request ended the listing
    OpenFailed,       // kSourceFileInUse
    StoreUnreadable,  // no message store object: kFileHighlyCorrupted
    NoRootFolder,     // kCannotSearchPersonalFolder
};

struct StoreListing {
    StoreListingResult result = StoreListingResult::OpenFailed;
    std::uint32_t formatVersion = 0;
    std::size_t foldersListed = 0;  // folders handed to the visitor
};

StoreListing ListStoreContents(const std::filesystem::path& path, StoreListingVisitor& visitor, StoreReader& reader,
                               const StoreListingOptions& options = {});

}  // namespace bm
