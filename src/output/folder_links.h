// Links between folders: the entry ids by which a mail client finds a
// store's calendar, contacts, journal, notes, tasks, drafts, reminders and
// the other special folders, held on the store's root folder and on the
// Inbox (ids 0x36D0-0x36D7 each one entry id, 0x36D8 a list of them,
// 0x36D9 a list of persisted blocks that carry them).
//
// An entry id of the source store names a folder node of that store. Where
// the folder it names is saved, the link is made anew with the new store's
// entry id for the saved folder; a link whose folder is not saved is left
// out (an element of a list is left empty, so the others keep their
// places; a persisted block without a saved folder is left out).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "output/item_sink.h"
#include "output/open_output_store.h"
#include "output/pst/store_writer.h"

namespace bm {

inline constexpr std::uint16_t kFirstFolderLinkId = 0x36D0;
inline constexpr std::uint16_t kLastFolderLinkId = 0x36D9;
constexpr bool IsFolderLinkProperty(std::uint16_t id) { return id >= kFirstFolderLinkId && id <= kLastFolderLinkId; }

// A link property as the source store holds it.
struct SourceFolderLink {
    std::uint16_t id = 0;
    std::uint16_t type = 0;
    std::vector<std::uint8_t> bytes;
};

// The folder of the new store that a source folder node became; nullopt
// when it is not saved.
using SavedFolderOf = std::function<std::optional<pst::FolderId>(std::uint32_t sourceNid)>;

// The source folder node whose global counter is `counter` (see
// ReadSourceFolderLinks); nullopt when none or more than one has it.
using FolderNidOfCounter = std::function<std::optional<std::uint32_t>(std::uint64_t counter)>;

// The link for the new store, or nullopt when no folder it names is saved
// (or the value is not a link this knows). An entry id names its folder by
// the node id (a store's 24-byte id) or, in an offline store, by the
// folder's global counter (an Exchange 46-byte id), found by `byCounter`.
std::optional<pst::PstStore::FolderLink> MakeFolderLinkAnew(const SourceFolderLink& link, const SavedFolderOf& saved,
                                                           const FolderNidOfCounter& byCounter = {});

// What a saving run knows of links: which source folders were saved as
// which output folder, and which saved folders hold links. Applied to
// each part of the output before it is finished.
class FolderLinks {
public:
    // The folder of the part being written that an output folder is there;
    // nullopt when it was not made in that part.
    using FolderInPart = std::function<std::optional<pst::FolderId>(OutputFolderHandle)>;

    // The source folder `nid` is saved as `folder`; `counter` is its global
    // counter, when it has one.
    void Saved(std::uint32_t nid, OutputFolderHandle folder, std::optional<std::uint64_t> counter = std::nullopt);
    // Links held by the source folder saved as `folder`.
    void Hold(OutputFolderHandle folder, std::vector<SourceFolderLink> links);
    // Links held by the source store's root folder (`nid`, above the top
    // folder): they go to the new store's root folder.
    void HoldOnStoreRoot(std::uint32_t nid, std::vector<SourceFolderLink> links);

    // Sets the links of every holder `store` has.
    void Apply(OpenOutputStore& store, const FolderInPart& folderInPart) const;

private:
    std::unordered_map<std::uint32_t, OutputFolderHandle> saved_;
    // Global counter -> source folder node; 0 where two folders had one counter.
    std::unordered_map<std::uint64_t, std::uint32_t> byCounter_;
    std::unordered_map<OutputFolderHandle, std::vector<SourceFolderLink>> held_;
    std::uint32_t storeRootNid_ = 0;
    std::vector<SourceFolderLink> storeRootLinks_;
};

}  // namespace bm
