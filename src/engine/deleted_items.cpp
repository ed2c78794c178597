#include "engine/deleted_items.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "engine/deep_recovery.h"
#include "messaging/item_reader.h"
#include "messaging/item_record.h"
#include "store/blocks.h"
#include "store/nid_types.h"
#include "store/table_rebuild.h"

namespace bm {

namespace {

// One entry naming a message the live index lacks.
struct Sighting {
    const ScannedNode* entry = nullptr;
    bool fromSlot = false;  // a slot past its leaf's count, not a page's live entry
};

// What tells two versions of one message apart; times and bodies as
// stored, so a changed read flag alone does not make another item.
std::string ContentKey(const ItemRecord& record) {
    std::string key = record.messageClass;
    key += '\x1f';
    if (record.messageFields) {
        const MessageFields& m = *record.messageFields;
        if (m.subject) key += m.subject->text;
        key += '\x1f';
        key.append(m.deliveryTime.begin(), m.deliveryTime.end());
        key += '\x1f';
        key.append(m.submitTime.begin(), m.submitTime.end());
        key += '\x1f';
        key += m.body;
        key += '\x1f';
        key += m.bodyText;
        key += '\x1f';
        key.append(m.htmlBody.begin(), m.htmlBody.end());
    }
    return key;
}

// Whether the record's subnode list block is still there and reads.
bool SubnodesRead(StoreFile& store, const NodeEntry& record) {
    if (record.subnodeBlock() == nullptr) return false;
    Bytes block;
    return ReadBlockEntry(store, *record.subnodeBlock(), block) >= 8 && !block.empty() &&
           block[0] == kSubnodeBlockType;
}

// Message heaps nothing names: kept when no live item and no item found
// by its entry has the same content.
void GatherFreeHeaps(StoreFile& store, const std::unordered_map<std::uint32_t, std::vector<Sighting>>& versions,
                     std::uint32_t& nextNid, DeletedItems& out) {
    NamedBlocks referenced = ReferencedBlocks(store);
    for (const auto& [nid, list] : versions) {
        for (const Sighting& s : list) {
            referenced.Add(s.entry->bidData);
            referenced.Add(s.entry->bidSub);
        }
    }
    std::vector<const BlockEntry*> candidates;
    const auto& entries = store.blocks.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BlockEntry& e = entries[i];
        if (IsInternalBid(e.bid()) || !referenced.FirstAndUnnamed(i)) continue;
        if (BlockReadsAsHeap(store, e)) candidates.push_back(&e);
    }
    if (candidates.empty()) return;

    // What the store already shows: its live messages (associated ones too)
    // and the items above.
    std::unordered_set<std::string> known;
    for (const NodeEntry& r : store.forest.records()) {
        if ((!IsNormalMessageNid(r.nid) && NidTypeOf(r.nid) != kNidTypeAssociatedMessage) || r.dataBlock() == nullptr)
            continue;
        if (auto item = ReadItem(store, r, nullptr, nullptr, RecipientRows::Skip)) known.insert(IdentityKey(*item));
    }
    for (const NodeEntry& r : out.records) {
        if (auto item = ReadItem(store, r, nullptr, nullptr, RecipientRows::Skip)) known.insert(IdentityKey(*item));
    }
    for (const BlockEntry* e : candidates) {
        NodeEntry& record = out.records.emplace_back();
        record.nid = nextNid;
        record.SetData(e->bid(), e);
        record.nidParent = kDeletedItemsNid;
        std::unique_ptr<ItemRecord> item = ReadItem(store, record, nullptr, nullptr, RecipientRows::Skip);
        if (!item || !IsRecoverableItem(*item) || !known.insert(IdentityKey(*item)).second) {
            out.records.pop_back();
            continue;
        }
        nextNid += 32;
        out.dataBlocks.insert(e);
        out.items.push_back(&record);
        ++out.report.fromFreeHeaps;
    }
}

}  // namespace

std::string IdentityKey(const ItemRecord& record) {
    std::string key;
    const MessageFields* m = record.messageFields.get();
    if (m != nullptr && m->subject) key = m->subject->text;
    key += '\x1f';
    if (m != nullptr && !m->deliveryTime.empty())
        key.append(m->deliveryTime.begin(), m->deliveryTime.end());
    else
        key += record.messageClass;
    return key;
}


std::size_t DeletedItems::itemCount() const {
    std::size_t n = items.size();
    for (const DeletedFolder& f : subfolders) n += f.items.size();
    return n;
}

void GatherDeletedItems(StoreFile& store, const StoreScan& scan, std::uint32_t parentNid, DeletedItems& out) {
    out = DeletedItems{};
    out.searched = true;
    // Every version of each message NID the live index does not hold, in
    // order of first sight.
    std::unordered_map<std::uint32_t, std::vector<Sighting>> versions;
    std::vector<std::uint32_t> order;
    const auto take = [&](const std::deque<ScannedNode>& entries, bool fromSlot) {
        for (const ScannedNode& e : entries) {
            if (!IsNormalMessageNid(e.nid)) continue;
            const NodeEntry* live = FindNode(store, e.nid);
            if (live != nullptr && live->dataBlock() != nullptr) continue;
            auto& list = versions[e.nid];
            if (list.empty()) order.push_back(e.nid);
            list.push_back({&e, fromSlot});
        }
    };
    take(scan.leafNodes, false);
    take(scan.staleLeafNodes, true);
    out.report.entriesSeen = order.size();

    out.folder.nid = kDeletedItemsNid;
    out.folder.nidParent = parentNid;
    std::unordered_map<std::uint32_t, std::size_t> subfolderOf;  // source folder NID -> index
    std::uint32_t nextVersionNid = kFirstDeletedVersionNid;

    for (const std::uint32_t nid : order) {
        auto& list = versions[nid];
        // Newest first; one try per data block.
        std::sort(list.begin(), list.end(), [](const Sighting& a, const Sighting& b) {
            if (a.entry->bidData != b.entry->bidData) return a.entry->bidData > b.entry->bidData;
            return a.fromSlot < b.fromSlot;
        });
        std::unordered_set<std::uint64_t> triedBlocks;
        std::unordered_set<std::string> contents;
        bool anyRead = false;
        for (const Sighting& s : list) {
            const std::uint64_t bid = s.entry->bidData & ~std::uint64_t{1};
            if (!triedBlocks.insert(bid).second) continue;
            const BlockEntry* data = FindBlock(store, bid);
            if (data == nullptr || !BlockReadsAsHeap(store, *data)) continue;
            NodeEntry& record = out.records.emplace_back();
            record.nid = contents.empty() ? nid : nextVersionNid;
            record.SetData(bid, data);
            record.SetSubnodes(s.entry->bidSub, s.entry->bidSub != 0 ? FindBlock(store, s.entry->bidSub) : nullptr);
            record.nidParent = s.entry->nidParent;
            std::unique_ptr<ItemRecord> item = ReadItem(store, record, nullptr, nullptr, RecipientRows::Skip);
            if (!item || !IsRecoverableItem(*item) || !contents.insert(ContentKey(*item)).second) {
                if (item && IsRecoverableItem(*item)) ++out.report.versionsMerged;
                out.records.pop_back();
                continue;
            }
            anyRead = true;
            if (record.nid != nid) nextVersionNid += 32;
            out.dataBlocks.insert(data);
            if (s.entry->bidSub != 0 && !SubnodesRead(store, record)) {
                out.incomplete.insert(&record);
                ++out.report.withoutSubnodes;
            }
            ++(s.fromSlot ? out.report.fromStaleSlots : out.report.fromStalePages);

            // The folder it was deleted from, when the store still has it.
            const NodeEntry* source = FindNode(store, s.entry->nidParent);
            std::unique_ptr<ItemRecord> sourceRecord;
            if (source != nullptr && IsFolderNid(source->nid) && source->dataBlock() != nullptr)
                sourceRecord = ReadItem(store, *source, nullptr, nullptr, RecipientRows::Skip);
            if (!sourceRecord || !sourceRecord->folderCounts) {
                record.nidParent = out.folder.nid;  // shown under "Deleted"
                out.items.push_back(&record);
                continue;
            }
            auto [at, added] = subfolderOf.try_emplace(source->nid, out.subfolders.size());
            if (added) {
                DeletedFolder& f = out.subfolders.emplace_back();
                f.sourceNid = source->nid;
                f.name = sourceRecord->displayName;
                f.folder.nid = kFirstDeletedSubfolderNid + static_cast<std::uint32_t>(32 * at->second);
                f.folder.nidParent = kDeletedItemsNid;
                f.folder.SetHoldsItems(true);
            }
            DeletedFolder& f = out.subfolders[at->second];
            record.nidParent = f.folder.nid;
            f.items.push_back(&record);
        }
        if (!anyRead) ++out.report.unreadable;
    }
    GatherFreeHeaps(store, versions, nextVersionNid, out);
    // Marks "Deleted" as a folder with children for the runs' walks; the
    // children themselves are the lists above, never followed through it.
    out.folder.SetHoldsItems(!out.empty());
}

}  // namespace bm
