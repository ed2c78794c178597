#include "engine/mail_subtree.h"

#include <memory>

#include "messaging/item_reader.h"
#include "messaging/named_properties.h"
#include "store/btree_walk.h"

namespace bm {

MailSubtree OpenMailSubtree(StoreFile& store, const std::filesystem::path& path, StoreReader& reader,
                            const std::function<void()>& opened) {
    MailSubtree out;
    if (OpenStore(store, path, StoreOpenMode::Exclusive) != 0) return out;
    if (opened) opened();
    BuildIndexes(store, reader);
    LoadNamedPropertyMap(store);

    // The message store node is the one BuildIndexes places first; it is
    // looked up by its NID so a damaged tree that placed another node first
    // still finds it.
    const NodeEntry* storeNode = FindNode(store, kMessageStoreNid);
    if (storeNode == nullptr) storeNode = store.forest.first();
    std::unique_ptr<ItemRecord> storeObject = storeNode != nullptr ? ReadItem(store, *storeNode, &reader) : nullptr;
    if (!storeObject || !storeObject->storeFields) {
        out.status = MailSubtreeStatus::StoreObjectMissing;
        return out;
    }
    const Bytes& entryId = storeObject->storeFields->ipmSubtreeEntryId;
    out.root = FindRootFolder(
        store, entryId.empty() ? StoreRecordState::WithoutIpmSubtree : StoreRecordState::WithIpmSubtree, entryId);
    out.status = out.root != nullptr ? MailSubtreeStatus::Found : MailSubtreeStatus::NoRootFolder;
    return out;
}

void WalkMailSubtree(StoreFile& store, const NodeEntry& root, StoreReader& reader, const SubtreeWalk& walk) {
    const NodeEntry* node = root.oldestChild;
    while (node != nullptr && walk.goOn()) {
        reader.pauseGate.Pass();
        if (!walk.goOn()) break;
        bool descend = false;
        if (node->dataBlock != nullptr) {
            std::unique_ptr<ItemRecord> record = ReadItem(store, *node, &reader);
            if (walk.nodeRead) walk.nodeRead();
            if (record) descend = walk.visit(std::move(record), *node);
        }
        if (descend) {
            node = node->oldestChild;
            continue;
        }
        // Climb out of finished folders, never above the subtree root.
        while (node->newerSibling == nullptr && node->parent != nullptr && node->parent != &root) {
            if (!walk.leaveFolder()) break;
            node = node->parent;
        }
        node = node->newerSibling;
    }
}

}  // namespace bm
