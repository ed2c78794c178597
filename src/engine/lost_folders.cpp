#include "engine/lost_folders.h"

#include <fmt/format.h>

#include <array>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "common/byte_reader.h"
#include "engine/analysis_collector.h"
#include "engine/hierarchy_rows.h"
#include "messaging/property_reader.h"
#include "store/btree_walk.h"
#include "store/entry_id.h"
#include "store/nid_types.h"
#include "store/subnodes.h"

namespace bm {

namespace {

constexpr std::uint32_t kStoreRootFolderNid = 0x122;
constexpr std::uint32_t kReceiveFolderTableNid = 0x62B;
constexpr std::uint32_t kEntryIdProperty = 0x0FFF;
constexpr std::uint32_t kAdditionalRenEntryIds = 0x36D8;

struct WellKnownLink {
    std::uint32_t property;
    const char* name;
    const char* containerClass;
};

// Held by the message store object.
constexpr std::array kStoreLinks{
    WellKnownLink{0x35E2, "Outbox", "IPF.Note"},
    WellKnownLink{0x35E3, "Deleted Items", "IPF.Note"},
    WellKnownLink{0x35E4, "Sent Items", "IPF.Note"},
    WellKnownLink{0x35E7, "Search Root", ""},
};
// Held by the store's root folder and the Inbox.
constexpr std::array kFolderLinks{
    WellKnownLink{0x36D0, "Calendar", "IPF.Appointment"}, WellKnownLink{0x36D1, "Contacts", "IPF.Contact"},
    WellKnownLink{0x36D2, "Journal", "IPF.Journal"},      WellKnownLink{0x36D3, "Notes", "IPF.StickyNote"},
    WellKnownLink{0x36D4, "Tasks", "IPF.Task"},           WellKnownLink{0x36D5, "Reminders", "Outlook.Reminder"},
    WellKnownLink{0x36D7, "Drafts", "IPF.Note"},
};
// The places of 0x36D8's list.
constexpr std::array kAdditionalRenNames{"Conflicts", "Sync Issues", "Local Failures", "Server Failures",
                                         "Junk E-mail"};

// The values of a node's property context or table, row by row.
template <typename Visit>
void ForEachValueOf(StoreFile& store, std::uint32_t nid, Visit&& visit) {
    const NodeEntry* node = FindNode(store, nid);
    if (node == nullptr || node->dataBlock() == nullptr) return;
    SubnodeList subnodes;
    if (node->subnodeBlock() != nullptr) ReadSubnodes(store, *node->subnodeBlock(), subnodes);
    ForEachPropertyChunk(store, *node->dataBlock(), &subnodes, [&](PropertyChunk&& chunk) {
        for (const PropertyValue& v : chunk.entries)
            if (v.hasData() && !v.numericNamed && !v.stringNamed) visit(v);
    });
}

std::optional<LostFolderName> NameByLinks(StoreFile& store, std::uint32_t nid, std::uint32_t holder,
                                          std::span<const WellKnownLink> links) {
    std::optional<LostFolderName> found;
    ForEachValueOf(store, holder, [&](const PropertyValue& v) {
        if (found) return;
        for (const WellKnownLink& link : links)
            if (v.id == link.property && FolderNidOfEntryId(*v.data) == nid) found = LostFolderName{link.name, link.containerClass};
        if (v.id != kAdditionalRenEntryIds) return;
        ByteReader r(*v.data);
        const std::uint32_t count = r.readU32();
        if (r.failed() || count > v.data->size() / 4) return;
        std::vector<std::uint32_t> offsets(count);
        for (std::uint32_t& o : offsets) o = r.readU32();
        for (std::uint32_t i = 0; i < count && i < kAdditionalRenNames.size() && !r.failed(); ++i) {
            const std::size_t end = i + 1 < count ? offsets[i + 1] : v.data->size();
            if (offsets[i] > end || end > v.data->size()) return;
            if (FolderNidOfEntryId(std::span(*v.data).subspan(offsets[i], end - offsets[i])) == nid)
                found = LostFolderName{kAdditionalRenNames[i], "IPF.Note"};
        }
    });
    return found;
}

// The folder the receive folder table names for the mail that comes in:
// that of the row for every class ("") or for "IPM". A row names its folder
// by NID (0x6605, as the mail client and our writer keep it) or entry id;
// a store that never had an Inbox names its root folder.
std::optional<std::uint32_t> InboxNid(StoreFile& store) {
    constexpr std::uint32_t kMessageClassProperty = 0x001A;
    constexpr std::uint32_t kReceiveFolderNidProperty = 0x6605;  // the row's folder as a NID (PT_LONG)
    const NodeEntry* node = FindNode(store, kReceiveFolderTableNid);
    if (node == nullptr || node->dataBlock() == nullptr) return std::nullopt;
    SubnodeList subnodes;
    if (node->subnodeBlock() != nullptr) ReadSubnodes(store, *node->subnodeBlock(), subnodes);
    std::optional<std::uint32_t> inbox;
    ForEachPropertyChunk(store, *node->dataBlock(), &subnodes, [&](PropertyChunk&& row) {
        std::optional<std::uint32_t> folder;
        bool mail = false;
        for (const PropertyValue& v : row.entries) {
            if (v.numericNamed || v.stringNamed) continue;
            if (v.id == kMessageClassProperty) {
                // UTF-16 or 8-bit; a missing cell is the empty class.
                const std::string_view cls = v.hasData() ? std::string_view(reinterpret_cast<const char*>(v.data->data()),
                                                                            v.data->size())
                                                         : std::string_view();
                mail = cls.empty() || cls == "IPM" || cls == std::string_view("I\0P\0M\0", 6);
            }
            if (!v.hasData() || folder) continue;
            if (v.id == kEntryIdProperty) folder = FolderNidOfEntryId(*v.data);
            if (v.id == kReceiveFolderNidProperty && v.data->size() == 4) folder = ByteReader(*v.data).readU32();
        }
        if (!inbox && mail && folder && IsNormalFolderNid(*folder) && *folder != kStoreRootFolderNid) inbox = folder;
    });
    return inbox;
}

}  // namespace

std::optional<LostFolderName> WitnessedFolderName(StoreFile& store, const NodeEntry& node) {
    for (const HierarchyRow& row : ReadHierarchyRows(store, store.forest.ParentNid(node)))
        if (row.nid == node.nid && !row.displayName.empty()) return LostFolderName{row.displayName, row.containerClass};
    if (auto name = NameByLinks(store, node.nid, kMessageStoreNid, kStoreLinks)) return name;
    const std::optional<std::uint32_t> inbox = InboxNid(store);
    if (inbox == node.nid) return LostFolderName{"Inbox", "IPF.Note"};
    for (const std::uint32_t holder : {kStoreRootFolderNid, inbox.value_or(0)}) {
        if (holder == 0 || holder == node.nid) continue;
        if (auto name = NameByLinks(store, node.nid, holder, kFolderLinks)) return name;
    }
    return std::nullopt;
}

std::unique_ptr<ItemRecord> LostFolderRecord(StoreFile& store, const NodeEntry& node) {
    LostFolderName name = WitnessedFolderName(store, node).value_or(LostFolderName{fmt::format("Folder {:X}", node.nid), {}});
    auto record = std::make_unique<ItemRecord>();
    record->folderCounts = std::make_unique<FolderCounts>();
    for (const NodeEntry* child = store.forest.OldestChild(node); child != nullptr;
         child = store.forest.NewerSibling(*child)) {
        if (IsNormalMessageNid(child->nid)) ++record->folderCounts->contentCount;
        if (IsFolderNid(child->nid)) record->folderCounts->hasSubfolders = 1;
    }
    record->displayName = std::move(name.name);
    record->messageClass = name.containerClass.empty() ? std::string(kMailFolderClass) : std::move(name.containerClass);
    record->ownRecordLost = true;
    return record;
}

std::unique_ptr<ItemRecord> ReadWalkedNode(StoreFile& store, const NodeEntry& node, const StoreReader* reader,
                                           RecipientRows recipients, ItemParts parts) {
    std::unique_ptr<ItemRecord> record = ReadItem(store, node, reader, nullptr, recipients, parts);
    if (!IsFolderNid(node.nid) || (record && record->folderCounts && !record->storeFields)) return record;
    return LostFolderRecord(store, node);
}

}  // namespace bm
