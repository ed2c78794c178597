// The public face of the .pst writer: create a Unicode Personal Folders
// store, add folders and messages, finish.
//
//   auto store = PstStore::Create(path, {.displayName = "Recovered"});
//   FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox", "IPF.Note");
//   Message m;
//   m.properties.SetString(tags::kSubject, "Hello");
//   store->AddMessage(inbox, m);
//   store->Finish();
//
// Each message is written when it is added; folders, their tables and the
// store's own objects are written by Finish, so the tables always match what
// was added. A store that was not finished is not a valid file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/format_tables.h"
#include "output/pst/ltp_node_sink.h"
#include "output/pst/message.h"
#include "output/pst/ndb_types.h"

namespace bm::pst {

using FolderId = Nid;

struct StoreOptions {
    std::string displayName = "Personal Folders";
    // Mark the file as an offline store (for test fixtures and the demo).
    bool offlineFlavour = false;
    CryptMethod crypt = CryptMethod::Permute;
    // Mixed into the store's record key, which is otherwise a digest of
    // what the store holds: the same content written with the same seed
    // gives the same bytes.
    std::uint64_t seed = 0;
    // Creation and modification time (Unix seconds) of messages added
    // without one; unset: the time the store was created.
    std::optional<std::int64_t> defaultMessageTime = std::nullopt;
    // Where the contents-table rows wait until Finish writes the tables, in
    // a temporary file of their own (see row_spill_file.h). Create uses the
    // output's directory when this is empty; CreateOn keeps them in memory
    // unless a directory is given.
    std::filesystem::path rowSpillDirectory = {};
};

class PstStore {
public:
    // Creates (truncates) the file; throws std::runtime_error when it cannot.
    static std::unique_ptr<PstStore> Create(const std::filesystem::path& path, const StoreOptions& options);
    // A store written through another node layer (tests use a plain one);
    // options.offlineFlavour and options.crypt are the sink's business.
    static std::unique_ptr<PstStore> CreateOn(std::unique_ptr<NodeSink> sink, const StoreOptions& options);
    ~PstStore();
    PstStore(const PstStore&) = delete;
    PstStore& operator=(const PstStore&) = delete;

    FolderId root() const;
    FolderId ipmSubtree() const;    // "Top of Personal Folders"
    FolderId deletedItems() const;  // under the IPM subtree
    FolderId searchRoot() const;

    // A new folder under parent (std::invalid_argument for an unknown parent).
    FolderId CreateFolder(FolderId parent, std::string_view displayName, std::string_view containerClass = "IPF.Note");
    // Properties of a folder's own, copied from another store (comment,
    // hidden flag, view settings, ...); named ones get this store's ids.
    // The name, container class and counts stay the store's own. Replaces
    // what an earlier call set.
    void SetFolderProperties(FolderId folder, const PropertyBag& properties);
    // Folder properties that name folders of this store by entry id (the
    // special folders' entry ids a root folder or an Inbox holds). An entry
    // id carries the store's record key, which is known only once the store
    // is finished, so Finish makes each value: `make` is given the entry id
    // of any folder of the store. Replaces what an earlier call set.
    using EntryIdOf = std::function<std::vector<std::uint8_t>(FolderId)>;
    struct FolderLink {
        std::uint16_t id = 0;
        PropType type = PropType::Binary;
        std::function<std::vector<std::uint8_t>(const EntryIdOf&)> make;
    };
    void SetFolderLinks(FolderId folder, std::vector<FolderLink> links);
    // The child of parent with this display name, if any.
    std::optional<FolderId> FindFolder(FolderId parent, std::string_view displayName) const;

    // Writes the message into the folder and returns its node id.
    Nid AddMessage(FolderId folder, const Message& message);
    // Writes the message into the folder's associated contents (a view, a
    // rule, a setting) and returns its node id.
    Nid AddAssociatedMessage(FolderId folder, const Message& message);

    // Writes folders, tables, the store object, the name-to-ID map and the
    // file's index and header. Nothing can be added afterwards.
    void Finish();

    std::uint64_t FileSize() const;
    std::size_t messageCount() const;

private:
    class Impl;
    explicit PstStore(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace bm::pst
