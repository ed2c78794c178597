// The first steps every walk of a store shares: open the file exclusively,
// load the node and block indexes and the name-to-ID map, read the message
// store object and find the root of the mail folder subtree.
#pragma once

#include <filesystem>
#include <functional>

#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

enum class MailSubtreeStatus : int {
    Found,
    OpenFailed,          // missing, unreadable or in use elsewhere
    StoreObjectMissing,  // no message store object, or one without store fields
    NoRootFolder,        // the subtree root named by the store is not in the forest
};

struct MailSubtree {
    MailSubtreeStatus status = MailSubtreeStatus::OpenFailed;
    const NodeEntry* root = nullptr;  // set when found; lives as long as the store's tables
};

// `opened` runs right after a successful open, before the indexes load.
MailSubtree OpenMailSubtree(StoreFile& store, const std::filesystem::path& path, StoreReader& reader,
                            const std::function<void()>& opened = {});

}  // namespace bm
