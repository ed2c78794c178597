// Calibrated on the client-written Unicode stores at hand (four personal
// stores and one offline store): all five hold 0x2223, 0x2226 and 0x2227
// with the contents below; the offline store's search folder sits under its
// mailbox root instead of the store's root and carries more properties, and
// all but one also hold an empty search contents table 0x2230, so neither
// the parent's NID nor that table is required.
#include "check/check_search_nodes.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "check/check_table_rows.h"
#include "check/check_text.h"
#include "check/unicode_store_check.h"
#include "common/byte_reader.h"
#include "format/properties.h"
#include "messaging/property_reader.h"
#include "store/btree_walk.h"
#include "store/nid_types.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/subnodes.h"
#include "store/tables.h"

namespace bm {

namespace {

constexpr std::uint32_t kSearchFolderNid = 0x2223;
constexpr std::uint32_t kUpdateQueueNid = 0x2226;
constexpr std::uint32_t kCriteriaNid = 0x2227;

struct Expected {
    std::uint32_t id;
    const char* name;
};
// What every client store's search folder and criteria object hold.
constexpr Expected kFolderProperties[] = {{0x3001, "0x3001 (display name)"},
                                          {0x3602, "0x3602 (content count)"},
                                          {0x3603, "0x3603 (unread count)"},
                                          {0x360A, "0x360A (subfolders)"}};
constexpr Expected kCriteriaProperties[] = {{0x660B, "0x660B"}};

std::string Hex(std::uint64_t v) { return CheckHex(v); }

bool Holds(const PropertyChunk& chunk, std::uint32_t id) {
    for (const PropertyValue& v : chunk.entries)
        if (v.id == id && !v.numericNamed && !v.stringNamed && v.hasData()) return true;
    return false;
}

class SearchNodeWalk {
public:
    SearchNodeWalk(StoreFile& store, CheckReport& report) : store_(store), report_(report) {}

    void run() {
        checkFolder();
        if (FindNode(store_, kUpdateQueueNid) == nullptr)
            finding(0, kUpdateQueueNid, "the search update queue node", "none");
        checkContext(kCriteriaNid, "the search criteria object", kCriteriaProperties);
    }

private:
    void finding(std::uint64_t at, std::uint32_t nid, const std::string& expected, const std::string& found) {
        AddRuleFinding(report_, at, nid, kRuleSearchNodes, expected, found);
    }

    // The node's property context, or (after one finding) nothing.
    std::optional<PropertyChunk> readContext(std::uint32_t nid, const char* what) {
        const NodeEntry* node = FindNode(store_, nid);
        if (node == nullptr) {
            finding(0, nid, std::string(what) + " node", "none");
            return std::nullopt;
        }
        std::optional<PropertyList> list;
        if (node->dataBlock() != nullptr) {
            SubnodeList subnodes;
            if (node->subnodeBlock() != nullptr) ReadSubnodes(store_, *node->subnodeBlock(), subnodes);
            list = ReadPropertyObject(store_, *node->dataBlock(), &subnodes);
        }
        if (!list || list->rowCount != 1 || list->chunks.size() != 1) {
            finding(node->dataBlock() != nullptr ? node->dataBlock()->offset() : 0, nid,
                    std::string(what) + " as a property context", "no readable property context");
            return std::nullopt;
        }
        return std::move(list->chunks.front());
    }

    // One finding naming every expected property the node lacks.
    template <std::size_t N>
    bool checkContext(std::uint32_t nid, const char* what, const Expected (&expected)[N]) {
        const auto chunk = readContext(nid, what);
        if (!chunk) return false;
        std::string lacking;
        for (const Expected& e : expected)
            if (!Holds(*chunk, e.id)) lacking += (lacking.empty() ? "" : ", ") + std::string(e.name);
        if (!lacking.empty()) {
            const NodeEntry* node = FindNode(store_, nid);
            finding(node->dataBlock()->offset(), nid, std::string(what) + " with " + lacking, "it lacks them");
        }
        return true;
    }

    void checkFolder() {
        if (!checkContext(kSearchFolderNid, "the search folder", kFolderProperties)) return;
        const NodeEntry* node = FindNode(store_, kSearchFolderNid);
        const std::uint32_t parent = node->nidParent;
        const std::uint32_t table = (parent & ~kNidTypeMask) | kNidTypeHierarchyTable;
        const NodeEntry* tableNode = NidTypeOf(parent) == kNidTypeNormalFolder ? FindNode(store_, table) : nullptr;
        // The table's rows one at a time (check_table_rows.h); a node that
        // holds no table is read whole, as before.
        bool listed = false;
        const auto visit = [&listed](PropertyChunk&& row) {
            for (const PropertyValue& v : row.entries) {
                if (v.id == prop::kLtpRowId && !v.numericNamed && !v.stringNamed && v.data && v.data->size() >= 4 &&
                    ByteReader(*v.data).readU32() == kSearchFolderNid)
                    listed = true;
            }
        };
        if (tableNode != nullptr && tableNode->dataBlock() != nullptr) {
            SubnodeList subnodes;
            if (tableNode->subnodeBlock() != nullptr) ReadSubnodes(store_, *tableNode->subnodeBlock(), subnodes);
            BoundedTableOptions options;
            options.names = StoreNamedPropertyMap(store_);
            std::optional<std::size_t> count;
            if (ForEachBoundedTableRow(store_, *tableNode->dataBlock(), &subnodes, options, visit, count) ==
                TableHeap::NotTable) {
                if (auto rows = ReadPropertyObject(store_, *tableNode->dataBlock(), &subnodes))
                    for (PropertyChunk& row : rows->chunks) visit(std::move(row));
            }
        }
        if (listed) return;
        finding(node->dataBlock() != nullptr ? node->dataBlock()->offset() : 0, kSearchFolderNid,
                "a row in the hierarchy table of its parent folder " + Hex(parent) + " (node " + Hex(table) + ")",
                NidTypeOf(parent) != kNidTypeNormalFolder ? "a parent that is no folder"
                : tableNode == nullptr                    ? "no such table"
                                                          : "no row");
    }

    StoreFile& store_;
    CheckReport& report_;
};

}  // namespace

void CheckSearchNodes(const std::filesystem::path& path, CheckReport& report) {
    RunOverUnicodeStore(path, report, CheckSearchNodes);
}

void CheckSearchNodes(StoreFile& store, CheckReport& report) {
    if (store.formatVersion != kUnicodeVersion) return;
    SearchNodeWalk(store, report).run();
}

}  // namespace bm
