// The folder-table walk: every normal folder node of the node B-tree is
// compared with the nodes that name it as their parent.
//
// A folder's tables share its node index: hierarchy table 0x0D, contents
// table 0x0E. Each table row carries the node id of what it lists in
// PidTagLtpRowId. Search folders (type 0x03) appear as children but their
// own contents list other folders' messages, so their tables are not
// compared.
#include "check/check_folders.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "check/check_table_rows.h"
#include "check/check_text.h"
#include "common/byte_reader.h"
#include "format/properties.h"
#include "messaging/heap_node.h"
#include "messaging/property_context.h"
#include "messaging/property_reader.h"
#include "store/btree_walk.h"
#include "store/nid_types.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/subnodes.h"

namespace bm {

namespace {

// Node ids listed in one finding; the rest are counted.
constexpr std::size_t kNidsNamed = 8;

std::string Hex(std::uint64_t v) { return CheckHex(v); }

std::string NidList(const std::vector<std::uint32_t>& nids) {
    std::string out;
    for (std::size_t i = 0; i < nids.size() && i < kNidsNamed; ++i) out += (i ? ", " : "") + Hex(nids[i]);
    if (nids.size() > kNidsNamed) out += ", ... (" + std::to_string(nids.size()) + " in all)";
    return out;
}

std::optional<std::uint32_t> IntegerValue(const PropertyValue& v) {
    if (!v.data || v.data->empty()) return std::nullopt;
    return static_cast<std::uint32_t>(ByteReader(*v.data).peekAt(0, std::min<std::size_t>(v.data->size(), 4)).value_or(0));
}

const PropertyValue* Find(const PropertyChunk& chunk, std::uint32_t id) {
    for (const PropertyValue& v : chunk.entries)
        if (v.id == id && !v.numericNamed && !v.stringNamed && v.hasData()) return &v;
    return nullptr;
}

// What a folder says of itself, or what its parent's hierarchy row says.
struct FolderCounts {
    std::optional<std::uint32_t> contentCount;
    std::optional<bool> subfolders;
};

FolderCounts CountsOf(const PropertyChunk& chunk) {
    FolderCounts c;
    if (const PropertyValue* v = Find(chunk, prop::kContentCount)) c.contentCount = IntegerValue(*v);
    if (const PropertyValue* v = Find(chunk, prop::kSubfolders)) {
        if (auto n = IntegerValue(*v)) c.subfolders = (*n & 0xFF) != 0;
    }
    return c;
}

enum class ObjectRead { Missing, Unreadable, Read };

struct ReadObject {
    ObjectRead state = ObjectRead::Missing;
    PropertyList list;
    std::uint64_t at = 0;  // file offset of the node's data block
};

// What the hierarchy table's rows give, read one at a time.
struct HierarchyRows {
    std::map<std::uint32_t, FolderCounts> byNid;  // the first row of each node id
    std::size_t withoutId = 0;
    std::vector<std::uint32_t> duplicate;
};

class FolderWalk {
public:
    FolderWalk(StoreFile& store, const CheckOptions& options, CheckReport& report)
        : store_(store), report_(report),
          severity_(options.strictFolderTables ? FindingSeverity::Error : FindingSeverity::Warning) {}

    bool run();

private:
    void problem(std::uint64_t at, std::string text) {
        AddFinding(report_, severity_, FindingKind::FolderTable, at, std::move(text));
    }

    // The node of `nid` with its data block (its offset in `out`) and its
    // subnodes; nullptr when there is none (`out` then says why).
    const NodeEntry* open(std::uint32_t nid, ReadObject& out, SubnodeList& subnodes);
    // The node's property context.
    ReadObject read(std::uint32_t nid);
    // The node's table context, its rows handed to `rows` one at a time
    // (check_table_rows.h: bounded memory for tables of any length); the
    // result's list stays empty.
    // `columns`: the only cells the rows need (all when empty).
    ReadObject readTable(std::uint32_t nid, const TableRowVisitor& rows, std::vector<std::uint16_t> columns = {});
    // Compares a contents table's row ids with the folder's messages, the
    // rows read one at a time: the findings compareRows gives.
    void compareContents(std::uint32_t folder, std::uint32_t tableNid, const std::vector<std::uint32_t>& messages);
    void checkFolder(std::uint32_t folder);
    // Compares the hierarchy table's row ids with the folder's child
    // folders; returns the counts each row repeats, by node id (the first
    // row of a node id).
    std::map<std::uint32_t, FolderCounts> compareRows(std::uint32_t folder, std::uint32_t tableNid,
                                                      const ReadObject& table, const HierarchyRows& rows,
                                                      const std::vector<std::uint32_t>& expected);

    StoreFile& store_;
    CheckReport& report_;
    FindingSeverity severity_;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> childFolders_;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> messages_;
    std::unordered_map<std::uint32_t, FolderCounts> ownCounts_;  // by folder, from its property context
    std::unordered_map<std::uint32_t, std::uint64_t> folderAt_;  // by folder, its data block's offset
};

const NodeEntry* FolderWalk::open(std::uint32_t nid, ReadObject& out, SubnodeList& subnodes) {
    const NodeEntry* node = FindNode(store_, nid);
    if (node == nullptr) return nullptr;
    out.state = ObjectRead::Unreadable;  // also when its data block is not in the block B-tree
    if (node->dataBlock() == nullptr) return nullptr;
    out.at = node->dataBlock()->offset();
    if (node->subnodeBlock() != nullptr) ReadSubnodes(store_, *node->subnodeBlock(), subnodes);
    return node;
}

ReadObject FolderWalk::read(std::uint32_t nid) {
    ReadObject out;
    SubnodeList subnodes;
    const NodeEntry* node = open(nid, out, subnodes);
    if (node == nullptr) return out;
    auto blocks = ReadNodeBlocks(store_, *node->dataBlock());
    if (!blocks) return out;
    auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store_));
    if (!heap) return out;
    PropertyReadContext ctx;
    ctx.subnodes = MakeSubnodeDataReader(store_, &subnodes);
    auto list = ReadPropertyContext(*heap, ctx);
    if (!list || list->chunks.empty()) return out;
    out.list = std::move(*list);
    out.state = ObjectRead::Read;
    return out;
}

ReadObject FolderWalk::readTable(std::uint32_t nid, const TableRowVisitor& rows, std::vector<std::uint16_t> columns) {
    ReadObject out;
    SubnodeList subnodes;
    const NodeEntry* node = open(nid, out, subnodes);
    if (node == nullptr) return out;
    // A table without rows reads as none.
    std::optional<std::size_t> count;
    BoundedTableOptions options;
    options.onlyColumns = std::move(columns);
    if (ForEachBoundedTableRow(store_, *node->dataBlock(), &subnodes, options, rows, count) != TableHeap::Table) return out;
    out.list = PropertyList{0, {}};
    out.state = ObjectRead::Read;
    return out;
}

bool FolderWalk::run() {
    std::vector<std::uint32_t> folders;
    for (const NodeEntry& node : store_.forest.records()) {
        const std::uint32_t type = NidTypeOf(node.nid);
        if (node.nidParent == node.nid) {
            if (type == kNidTypeNormalFolder) folders.push_back(node.nid);
            continue;
        }
        if (type == kNidTypeNormalFolder || type == kNidTypeSearchFolder) {
            childFolders_[node.nidParent].push_back(node.nid);
            if (type == kNidTypeNormalFolder) folders.push_back(node.nid);
        } else if (type == kNidTypeNormalMessage) {
            messages_[node.nidParent].push_back(node.nid);
        }
    }
    if (folders.empty()) return false;
    std::sort(folders.begin(), folders.end());
    for (std::uint32_t folder : folders) {
        const ReadObject pc = read(folder);
        folderAt_[folder] = pc.at;
        if (pc.state == ObjectRead::Read) ownCounts_[folder] = CountsOf(pc.list.chunks.front());
        else problem(pc.at, "folder " + Hex(folder) + ": its properties cannot be read");
    }
    for (std::uint32_t folder : folders) checkFolder(folder);
    report_.foldersChecked = folders.size();
    return true;
}

std::map<std::uint32_t, FolderCounts> FolderWalk::compareRows(std::uint32_t folder, std::uint32_t tableNid,
                                                             const ReadObject& table, const HierarchyRows& rows,
                                                             const std::vector<std::uint32_t>& expected) {
    std::vector<std::uint32_t> extra, missing;
    const std::set<std::uint32_t> children(expected.begin(), expected.end());
    for (const auto& [nid, counts] : rows.byNid)
        if (!children.count(nid)) extra.push_back(nid);
    for (std::uint32_t nid : children)
        if (!rows.byNid.count(nid)) missing.push_back(nid);
    const std::string name = "hierarchy table of folder " + Hex(folder) + " (node " + Hex(tableNid) + ")";
    if (rows.withoutId > 0) problem(table.at, name + ": " + std::to_string(rows.withoutId) + " row(s) without a row id");
    if (!rows.duplicate.empty()) problem(table.at, name + " lists nodes twice: " + NidList(rows.duplicate));
    if (!extra.empty()) problem(table.at, name + " lists nodes that are not the folder's: " + NidList(extra));
    if (!missing.empty()) problem(table.at, name + " lacks rows for " + NidList(missing));
    return rows.byNid;
}

void FolderWalk::compareContents(std::uint32_t folder, std::uint32_t tableNid,
                                 const std::vector<std::uint32_t>& messages) {
    // The folder's messages sorted, a mark for each one a row names; the
    // ids of rows naming other nodes apart.
    std::vector<std::uint32_t> expected(messages);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    std::vector<bool> listed(expected.size(), false);
    std::set<std::uint32_t> others;
    std::size_t withoutId = 0;
    std::vector<std::uint32_t> duplicate, extra, missing;
    const TableRowVisitor visit = [&](PropertyChunk&& row) {
        const PropertyValue* id = Find(row, prop::kLtpRowId);
        const auto nid = id ? IntegerValue(*id) : std::nullopt;
        if (!nid) {
            ++withoutId;
            return;
        }
        const auto it = std::lower_bound(expected.begin(), expected.end(), *nid);
        bool first = true;
        if (it != expected.end() && *it == *nid) {
            const auto k = static_cast<std::size_t>(it - expected.begin());
            first = !listed[k];
            listed[k] = true;
        } else {
            first = others.insert(*nid).second;
        }
        if (!first) duplicate.push_back(*nid);
    };
    // Only the row ids are compared.
    const ReadObject contents = readTable(tableNid, visit, {prop::kLtpRowId});
    const std::string name = "folder " + Hex(folder);
    if (contents.state == ObjectRead::Missing) {
        problem(folderAt_[folder], name + " has no contents table (node " + Hex(tableNid) + ")");
        return;
    }
    if (contents.state == ObjectRead::Unreadable) {
        problem(contents.at, name + ": contents table (node " + Hex(tableNid) + ") cannot be read");
        return;
    }
    extra.assign(others.begin(), others.end());
    for (std::size_t k = 0; k < expected.size(); ++k)
        if (!listed[k]) missing.push_back(expected[k]);
    const std::string table = "contents table of " + name + " (node " + Hex(tableNid) + ")";
    if (withoutId > 0) problem(contents.at, table + ": " + std::to_string(withoutId) + " row(s) without a row id");
    if (!duplicate.empty()) problem(contents.at, table + " lists nodes twice: " + NidList(duplicate));
    if (!extra.empty()) problem(contents.at, table + " lists nodes that are not the folder's: " + NidList(extra));
    if (!missing.empty()) problem(contents.at, table + " lacks rows for " + NidList(missing));
}

void FolderWalk::checkFolder(std::uint32_t folder) {
    const auto& children = childFolders_[folder];
    const auto& messages = messages_[folder];
    const std::uint32_t base = folder & ~kNidTypeMask;
    const std::string name = "folder " + Hex(folder);
    const std::uint64_t at = folderAt_[folder];

    const std::uint32_t hierarchyNid = base | kNidTypeHierarchyTable;
    HierarchyRows hierarchyRows;
    const TableRowVisitor visit = [&](PropertyChunk&& row) {
        const PropertyValue* id = Find(row, prop::kLtpRowId);
        const auto nid = id ? IntegerValue(*id) : std::nullopt;
        if (!nid) {
            ++hierarchyRows.withoutId;
            return;
        }
        if (!hierarchyRows.byNid.emplace(*nid, CountsOf(row)).second) hierarchyRows.duplicate.push_back(*nid);
    };
    const ReadObject hierarchy = readTable(hierarchyNid, visit);
    if (hierarchy.state == ObjectRead::Missing) {
        problem(at, name + " has no hierarchy table (node " + Hex(hierarchyNid) + ")");
    } else if (hierarchy.state == ObjectRead::Unreadable) {
        problem(hierarchy.at, name + ": hierarchy table (node " + Hex(hierarchyNid) + ") cannot be read");
    } else {
        const auto rows = compareRows(folder, hierarchyNid, hierarchy, hierarchyRows, children);
        // Each row repeats its folder's counts.
        for (const auto& [child, listed] : rows) {
            const auto own = ownCounts_.find(child);
            if (own == ownCounts_.end()) continue;
            if (listed.contentCount && own->second.contentCount && *listed.contentCount != *own->second.contentCount) {
                problem(hierarchy.at, "hierarchy table of folder " + Hex(folder) + " gives folder " + Hex(child) +
                                          " content count " + std::to_string(*listed.contentCount) +
                                          ", the folder itself " + std::to_string(*own->second.contentCount));
            }
            if (listed.subfolders && own->second.subfolders && *listed.subfolders != *own->second.subfolders) {
                problem(hierarchy.at, "hierarchy table of folder " + Hex(folder) + " gives folder " + Hex(child) +
                                          " PR_SUBFOLDERS " + (*listed.subfolders ? "true" : "false") +
                                          ", the folder itself the opposite");
            }
        }
    }

    compareContents(folder, base | kNidTypeContentsTable, messages);

    const auto own = ownCounts_.find(folder);
    if (own == ownCounts_.end()) return;
    if (own->second.contentCount && *own->second.contentCount != messages.size()) {
        problem(at, name + " gives content count " + std::to_string(*own->second.contentCount) + " but holds " +
                       std::to_string(messages.size()) + " message(s)");
    }
    if (own->second.subfolders && *own->second.subfolders != !children.empty()) {
        problem(at, name + " gives PR_SUBFOLDERS " + (*own->second.subfolders ? "true" : "false") + " but has " +
                       std::to_string(children.size()) + " subfolder(s)");
    }
}

}  // namespace

bool OpenForFolderChecks(const std::filesystem::path& path, StoreFile& store, CheckReport& report) {
    StoreReader reader;
    if (OpenStore(store, path, StoreOpenMode::SharedRead) != 0) {
        AddFinding(report, FindingSeverity::Warning, FindingKind::FolderTable, 0,
                   "folder tables not checked: the store does not open");
        return false;
    }
    if (BuildIndexes(store, reader) != 0) {
        ReleaseStore(store);
        AddFinding(report, FindingSeverity::Warning, FindingKind::FolderTable, 0,
                   "folder tables not checked: no usable node index");
        return false;
    }
    return true;
}

bool CheckFolderTables(const std::filesystem::path& path, const CheckOptions& options, CheckReport& report) {
    StoreFile store;
    if (!OpenForFolderChecks(path, store, report)) return false;
    const bool checked = CheckFolderTables(store, options, report);
    ReleaseStore(store);
    return checked;
}

bool CheckFolderTables(StoreFile& store, const CheckOptions& options, CheckReport& report) {
    return FolderWalk(store, options, report).run();
}

}  // namespace bm
