#include "engine/not_reached.h"

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/analysis_collector.h"
#include "engine/lost_folders.h"
#include "engine/mail_subtree.h"
#include "messaging/item_reader.h"
#include "store/nid_types.h"

namespace bm {

void AccountNotReached(StoreFile& store, const NodeEntry& root, const SelectedFolders& selected,
                       const std::function<std::optional<std::string>(std::uint32_t)>& pathOf,
                       Reconciliation& account) {
    std::unordered_map<std::string, std::int64_t> items;
    std::vector<std::string> order;
    std::vector<std::pair<const NodeEntry*, std::string>> pending{{&root, std::string(kRootFolderName) + "\\"}};
    while (!pending.empty()) {
        auto [folder, path] = std::move(pending.back());
        pending.pop_back();
        std::int64_t here = 0;
        for (const NodeEntry* child = store.forest.OldestChild(*folder); child != nullptr;
             child = store.forest.NewerSibling(*child)) {
            if (IsCountedItemNid(child->nid)) {
                ++here;
                continue;
            }
            if (!IsFolderNid(child->nid)) continue;
            if (std::optional<std::string> known = pathOf(child->nid)) {
                pending.emplace_back(child, std::move(*known));
                continue;
            }
            const std::unique_ptr<ItemRecord> record =
                ReadWalkedNode(store, *child, nullptr, RecipientRows::Skip, ItemParts::WithoutBodies);
            if (record && record->folderCounts) pending.emplace_back(child, path + record->displayName + "\\");
        }
        if (here == 0 || !selected.IsSelected(path)) continue;
        const auto [it, added] = items.try_emplace(path, 0);
        if (added) order.push_back(path);
        it->second += here;
    }
    std::unordered_map<std::string, std::int64_t> found;
    for (const FolderTally& t : account.folders()) found[t.path] += t.found();
    for (const std::string& path : order) account.NotReached(path, items[path] - found[path]);
}

}  // namespace bm
