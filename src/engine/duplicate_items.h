// Finding the items of a save that are copies of one already saved into the
// same output folder, as years of syncing leave them.
//
// Two items are copies when they are of the same message class, in the same
// output folder, and
//   - carry the same Message-ID, or, without one, the same sender, the same
//     delivery (else submit) time and the same subject; and
//   - have the same bodies (plain, HTML, RTF) and the same attachments
//     (names, methods and data), byte for byte.
// An item with neither a Message-ID nor a delivery or submit time is never
// taken for a copy: nothing names it well enough. Folders' associated items
// (views, rules) are never compared.
//
// The bodies and attachments are read only when two items share the first
// key; the digest of each item read so is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "messaging/item_record.h"
#include "store/store_file.h"
#include "store/tables.h"

namespace bm {

class DuplicateItems {
public:
    explicit DuplicateItems(StoreFile& store) : store_(store) {}

    struct Check {
        std::optional<std::string> key;     // see DuplicateKey
        std::optional<std::uint32_t> copyOf;  // the node of the item saved before
    };
    // Whether `item` (read from `node`) is a copy of an item saved before
    // into `folder`. Asked before the item is written (the writer may take
    // parts of the record).
    Check CheckItem(const ItemRecord& item, const NodeEntry& node, const std::string& folder);
    // The item of `check` and `node` was saved: later copies of it are found.
    void Saved(const Check& check, const NodeEntry& node);

private:
    struct Kept {
        const NodeEntry* node = nullptr;
        std::optional<std::string> digest;
    };
    // The digest of the bodies and attachments of the item of `node`
    // (read again, whole); empty when it cannot be read.
    std::string ContentDigest(const NodeEntry& node);

    StoreFile& store_;
    // The digest CopyOf read last, for the item then saved.
    struct {
        const NodeEntry* node = nullptr;
        std::string digest;
    } last_;
    std::unordered_map<std::string, std::vector<Kept>> kept_;
    std::unordered_map<std::string, std::uint32_t> folders_;
};

// The first key of an item: its folder (as the caller names it), class and
// Message-ID (or sender, time and subject); nullopt when the item is never
// taken for a copy.
std::optional<std::string> DuplicateKey(const ItemRecord& item, std::uint32_t nid, const std::string& folder);

}  // namespace bm
