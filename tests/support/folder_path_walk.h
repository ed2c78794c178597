// The mail folder subtree walked with each item's folder path: the tests'
// view of which folder an item is listed under.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/mail_subtree.h"
#include "messaging/item_record.h"
#include "store/store.h"

namespace bmtest {

struct FolderPathVisitor {
    // Every folder below the top one as it is entered ("Personal Folders\Inbox\").
    std::function<void(const std::string& folderPath)> folder;
    // Every item, with the path of the folder it is listed under.
    std::function<void(const bm::ItemRecord& record, const bm::NodeEntry& node, const std::string& folderPath)> item;
};

inline void WalkWithFolderPaths(bm::StoreFile& store, const bm::NodeEntry& root, bm::StoreReader& reader,
                                const FolderPathVisitor& visitor) {
    std::string folder = "Personal Folders\\";
    std::vector<std::size_t> stack;
    bm::SubtreeWalk walk;
    walk.goOn = [] { return true; };
    walk.visit = [&](std::unique_ptr<bm::ItemRecord> record, const bm::NodeEntry& node) {
        if (record->folderCounts) {
            stack.push_back(folder.size());
            folder += record->displayName + "\\";
            if (visitor.folder) visitor.folder(folder);
            if (node.hasChildren()) return true;
            folder.resize(stack.back());
            stack.pop_back();
            return false;
        }
        if (visitor.item) visitor.item(*record, node, folder);
        return false;
    };
    walk.leaveFolder = [&] {
        if (stack.empty()) return false;
        folder.resize(stack.back());
        stack.pop_back();
        return true;
    };
    bm::WalkMailSubtree(store, root, reader, walk);
}

}  // namespace bmtest
