// The client's rules, one pass each over the node B-tree:
//   NID counter     rgnid[t] in the header is past the highest index of
//                   type t in use (node B-tree and every subnode tree); the
//                   hierarchy, contents and associated-contents tables share
//                   their folder's index, so their counters are at least the
//                   folder counter.
//   row version     PidTagLtpRowVer of the folder tables' rows is unique in
//                   the store and below dwUnique.
//   middle block    in a data tree of more than one block, every block but
//                   the last holds 8,176 bytes.
//   contents row    every cell of a contents-table row for a property its
//                   message holds has the message's value, named
//                   properties included. (Cells for properties the message
//                   lacks are not compared: the client's own rows hold
//                   zeros there.)
//   string name     the name-to-ID map gives a string name one ID in its
//                   property set whatever the case of its letters (the
//                   client calls a store with "Content-Type" and
//                   "Content-type" under two IDs damaged).
// Calibrated on client-written Unicode stores: they hold rgnid at the
// highest index in use (not past it), and pass all five rules; one older
// store, holding mail of the Enron corpus, repeats the version of a search
// folder's hierarchy row on two other rows of the root's hierarchy table,
// and two (one with an embedded message, one offline store) each have one
// contents row whose PidTagMessageSize differs from its message's, as if
// the row was left from before the message last changed.
// The size rules (check_size_rules.h) keep their own calibration.
// The rules belong to the strict check, which is for stores this project
// writes.
#include "check/check_store_rules.h"

#include <algorithm>
#include <array>
#include <deque>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "check/check_size_rules.h"
#include "check/check_table_rows.h"
#include "check/check_text.h"
#include "check/unicode_store_check.h"
#include "common/byte_reader.h"
#include "common/utf.h"
#include "format/properties.h"
#include "messaging/named_properties.h"
#include "messaging/property_reader.h"
#include "store/blocks.h"
#include "store/btree_walk.h"
#include "store/nid_types.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/subnodes.h"

namespace bm {

namespace {

constexpr std::size_t kUniqueAt = 40;
constexpr std::size_t kRgnidAt = 44;
constexpr std::uint32_t kAssocContentsTableType = NidTypeValue(NidType::AssocContentsTable);
// A full data block of the Unicode layout: the most a block holds, less its trailer.
const std::size_t kFullBlock = kUnicodeLayout.block.maxSize - kUnicodeLayout.block.size;
constexpr unsigned kDefaultCodePage = 1252;

std::string Hex(std::uint64_t v) { return CheckHex(v); }

const PropertyValue* Find(const PropertyChunk& chunk, std::uint32_t id) {
    for (const PropertyValue& v : chunk.entries)
        if (v.id == id && !v.numericNamed && !v.stringNamed && v.hasData()) return &v;
    return nullptr;
}

class RuleWalk {
public:
    RuleWalk(StoreFile& store, std::span<const std::uint8_t> header, CheckReport& report)
        : store_(store), header_(header), report_(report) {}

    void run() {
        // Named properties of rows and messages are read through the map.
        LoadNamedPropertyMap(store_);
        for (const NodeEntry& node : store_.forest.records()) {
            noteNid(node.nid);
            SubnodeList subnodes;
            if (node.subnodeBlock() != nullptr) ReadSubnodes(store_, *node.subnodeBlock(), subnodes);
            for (const SubnodeEntry& e : subnodes.entries()) noteNid(e.nid);
            if (node.dataBlock() != nullptr) checkTree(node.nid, node.nid, *node.dataBlock());
            for (const SubnodeEntry& e : subnodes.entries())
                if (e.block != nullptr) checkTree(node.nid, e.nid, *e.block);

            const std::uint32_t type = NidTypeOf(node.nid);
            if (type == kNidTypeHierarchyTable || type == kNidTypeContentsTable || type == kAssocContentsTableType)
                readTable(node, subnodes);
            if ((type == kNidTypeNormalMessage || type == kNidTypeAssociatedMessage) && node.dataBlock() != nullptr) {
                CheckMessageSizes(store_, node.nid, *node.dataBlock(), subnodes,
                                  [this](std::uint64_t at, std::uint32_t nid, const char* rule,
                                         const std::string& expected, const std::string& found) {
                                      finding(at, nid, rule, expected, found);
                                  });
            }
        }
        checkCounters();
        checkRowVersions();
        checkStringNames();
        checkContentsRows();
    }

private:
    void finding(std::uint64_t at, std::uint32_t nid, const char* rule, const std::string& expected,
                 const std::string& found) {
        AddRuleFinding(report_, at, nid, rule, expected, found);
    }

    void noteNid(std::uint32_t nid) {
        auto& mark = used_[NidTypeOf(nid)];
        mark = std::max(mark, (nid >> 5) + 1);
    }

    // A finding per short middle block of one data tree (the blocks' sizes
    // alone are kept, not their bytes).
    void checkTree(std::uint32_t owner, std::uint32_t nid, const BlockEntry& data) {
        std::vector<std::size_t> sizes;
        NodeDataTarget target;
        target.sink = [&sizes](std::span<const std::uint8_t> piece) {
            sizes.push_back(piece.size());
            return true;
        };
        ReadNodeData(store_, data, target);
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i) {
            if (sizes[i] != kFullBlock) {
                finding(data.offset(), owner,
                        kRuleMiddleBlock,
                        std::to_string(kFullBlock) + " bytes in block " + std::to_string(i + 1) + " of " +
                            std::to_string(sizes.size()) + (nid != owner ? " of subnode " + Hex(nid) : ""),
                        std::to_string(sizes[i]));
            }
        }
    }

    // ForEachPropertyChunk over a table node, a table context's rows read
    // with bounded memory (check_table_rows.h).
    void forEachRow(const BlockEntry& data, const SubnodeList& subnodes, const TableRowVisitor& visit) {
        BoundedTableOptions options;
        options.names = StoreNamedPropertyMap(store_);
        std::optional<std::size_t> count;
        if (ForEachBoundedTableRow(store_, data, &subnodes, options, visit, count) == TableHeap::NotTable)
            ForEachPropertyChunk(store_, data, &subnodes, visit);
    }

    // A table row's version (nullopt when it has none) and row id.
    static std::optional<std::uint32_t> RowVersion(const PropertyChunk& row) {
        const PropertyValue* ver = Find(row, prop::kLtpRowVer);
        if (ver == nullptr || !ver->data || ver->data->size() < 4) return std::nullopt;
        return ByteReader(*ver->data).readU32();
    }
    static std::uint32_t RowId(const PropertyValue* id) {
        return id != nullptr && id->data && id->data->size() >= 4 ? ByteReader(*id->data).readU32() : 0;
    }

    // Keeps 4 bytes per row with a version: the version alone. The rows
    // behind a version that needs a finding are read again for their
    // details (checkRowVersions), which a sound store never needs.
    void readTable(const NodeEntry& node, const SubnodeList& subnodes) {
        if (node.dataBlock() == nullptr) return;
        tables_.push_back({node.nid, node.dataBlock()->offset()});
        forEachRow(*node.dataBlock(), subnodes, [&](PropertyChunk&& row) {
            if (const auto version = RowVersion(row)) versions_.push_back(*version);
        });
    }

    void checkCounters() {
        if (header_.size() < kRgnidAt + 32 * 4) return;
        ByteReader r(header_);
        std::array<std::uint32_t, 32> marks{};
        for (std::size_t t = 0; t < marks.size(); ++t) marks[t] = static_cast<std::uint32_t>(r.peekAt(kRgnidAt + 4 * t, 4).value_or(0));
        for (std::size_t t = 0; t < marks.size(); ++t) {
            // The client's own stores hold the highest index in use itself.
            std::uint32_t need = used_[t] == 0 ? 0 : used_[t] - 1;
            std::string why = "at least the highest index in use";
            if ((t == kNidTypeHierarchyTable || t == kNidTypeContentsTable || t == kAssocContentsTableType) &&
                marks[kNidTypeNormalFolder] > need) {
                need = marks[kNidTypeNormalFolder];
                why = "at least the folder counter";
            }
            if (need != 0 && marks[t] < need)
                finding(kRgnidAt + 4 * t, static_cast<std::uint32_t>(t), kRuleNidCounter,
                        "rgnid[" + Hex(t) + "] " + why + " (" + Hex(need) + ")", Hex(marks[t]));
        }
    }

    void checkRowVersions() {
        const auto unique = ByteReader(header_).peekAt(kUniqueAt, 4);
        if (!unique) return;
        // The versions that need a finding: one at or past dwUnique, or one
        // that more than one row holds (sorted in place: no second copy).
        std::sort(versions_.begin(), versions_.end());
        std::vector<std::uint32_t> suspect;
        for (std::size_t i = 0; i < versions_.size(); ++i) {
            const bool repeated = i + 1 < versions_.size() && versions_[i + 1] == versions_[i];
            if ((repeated || versions_[i] >= *unique) && (suspect.empty() || suspect.back() != versions_[i]))
                suspect.push_back(versions_[i]);
        }
        versions_ = {};
        if (suspect.empty()) return;

        // Their rows, read again table by table in the same order: by
        // version, rows of one version in the order read.
        std::vector<Row> rows;
        std::uint32_t read = 0;
        for (std::uint32_t table = 0; table < tables_.size(); ++table) {
            const NodeEntry* node = FindNode(store_, tables_[table].nid);
            if (node == nullptr || node->dataBlock() == nullptr) continue;
            SubnodeList subnodes;
            if (node->subnodeBlock() != nullptr) ReadSubnodes(store_, *node->subnodeBlock(), subnodes);
            forEachRow(*node->dataBlock(), subnodes, [&](PropertyChunk&& row) {
                const auto version = RowVersion(row);
                if (!version) return;
                if (std::binary_search(suspect.begin(), suspect.end(), *version))
                    rows.push_back({*version, RowId(Find(row, prop::kLtpRowId)), table, read});
                ++read;
            });
        }
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            return a.version != b.version ? a.version < b.version : a.read < b.read;
        });
        for (std::size_t first = 0, end = 0; first < rows.size(); first = end) {
            const std::uint32_t version = rows[first].version;
            for (end = first; end < rows.size() && rows[end].version == version;) ++end;
            if (version >= *unique) {
                for (std::size_t i = first; i < end; ++i) {
                    const Table& t = tables_[rows[i].table];
                    finding(t.at, t.nid, kRuleRowVersion,
                            "below dwUnique " + Hex(*unique) + " for row " + Hex(rows[i].id), Hex(version));
                }
            }
            const Row& head = rows[first];
            for (std::size_t i = first + 1; i < end; ++i) {
                const Table& t = tables_[rows[i].table];
                finding(t.at, t.nid, kRuleRowVersion, "a version of its own for row " + Hex(rows[i].id),
                        Hex(version) + ", also on row " + Hex(head.id) + " of node " + Hex(tables_[head.table].nid));
            }
        }
    }

    // Letters folded as the mail client folds them in names: ASCII and
    // Latin-1.
    static std::u16string Folded(std::u16string name) {
        for (char16_t& c : name) {
            if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 0x20);
        }
        return name;
    }

    void checkStringNames() {
        if (LoadNamedPropertyMap(store_) == 0) return;
        const NamedPropertyMap* map = StoreNamedPropertyMap(store_);
        if (map == nullptr) return;
        const NodeEntry* node = FindNode(store_, kNameToIdMapNid);
        const std::uint64_t at = node != nullptr && node->dataBlock() != nullptr ? node->dataBlock()->offset() : 0;
        // By property set (GUID index) and folded name: the first entry.
        std::map<std::pair<std::uint32_t, std::u16string>, const NamedPropertyEntry*> first;
        for (const NamedPropertyEntry& e : map->entries()) {
            if (e.kind != NamedKind::String || !e.wideName) continue;
            const auto [it, inserted] = first.try_emplace({e.guidWord >> 1, Folded(*e.wideName)}, &e);
            if (inserted || it->second->propertyId == e.propertyId) continue;
            finding(at, kNameToIdMapNid, kRuleStringName,
                    "one ID for \"" + it->second->name.value_or("") + "\" in property set " + Hex(e.guidWord >> 1) +
                        " whatever its case (" + Hex(it->second->propertyId) + ")",
                    Hex(e.propertyId) + " for \"" + e.name.value_or("") + "\"");
        }
    }

    static bool SameProperty(const PropertyValue& a, const PropertyValue& b) {
        return a.id == b.id && a.stringNamed == b.stringNamed && a.numericNamed == b.numericNamed &&
               (!a.stringNamed || a.name == b.name);
    }

    static std::string PropertyName(const PropertyValue& v) {
        if (v.stringNamed) return "named property \"" + v.name + "\"";
        return std::string(v.numericNamed ? "named property LID " : "property ") + Hex(v.id);
    }

    static std::string ValueText(const PropertyValue& v) {
        if (!v.data) return "no value";
        std::string out = std::to_string(v.data->size()) + " byte(s)";
        if (v.data->size() <= 8) {
            out += " ";
            for (std::uint8_t b : *v.data) {
                char buf[4];
                std::snprintf(buf, sizeof buf, "%02x", b);
                out += buf;
            }
        }
        return out;
    }

    // Contents tables one at a time, in the node B-tree's order, each row
    // against its message read when the row is met: nothing of either is
    // kept past its comparison.
    void checkContentsRows() {
        for (const NodeEntry& node : store_.forest.records()) {
            if (NidTypeOf(node.nid) != kNidTypeContentsTable || node.dataBlock() == nullptr) continue;
            SubnodeList subnodes;
            if (node.subnodeBlock() != nullptr) ReadSubnodes(store_, *node.subnodeBlock(), subnodes);
            forEachRow(*node.dataBlock(), subnodes, [&](PropertyChunk&& row) {
                const PropertyValue* id = Find(row, prop::kLtpRowId);
                if (!RowVersion(row) || id == nullptr) return;
                const std::uint32_t rowId = RowId(id);
                // Rows without a readable message are named by the folder-table check.
                if (const auto message = messageProperties(rowId))
                    compareRow(node.nid, rowId, node.dataBlock()->offset(), row, *message);
            });
        }
    }

    std::optional<PropertyChunk> messageProperties(std::uint32_t nid) {
        const NodeEntry* node = FindNode(store_, nid);
        if (node == nullptr || node->nid != nid || NidTypeOf(nid) != kNidTypeNormalMessage || node->dataBlock() == nullptr)
            return std::nullopt;
        SubnodeList subnodes;
        if (node->subnodeBlock() != nullptr) ReadSubnodes(store_, *node->subnodeBlock(), subnodes);
        auto list = ReadPropertyObject(store_, *node->dataBlock(), &subnodes);
        if (!list || list->chunks.empty()) return std::nullopt;
        return std::move(list->chunks.front());
    }

    void compareRow(std::uint32_t table, std::uint32_t rowId, std::uint64_t at, const PropertyChunk& cells,
                    const PropertyChunk& message) {
        for (const PropertyValue& cell : cells.entries) {
            if (!cell.hasData() ||
                (!cell.numericNamed && !cell.stringNamed && (cell.id == prop::kLtpRowId || cell.id == prop::kLtpRowVer)))
                continue;
            const PropertyValue* own = nullptr;
            for (const PropertyValue& v : message.entries)
                if (SameProperty(v, cell)) own = &v;
            if (own != nullptr && !SameCellValue(*own, cell, message)) {
                finding(at, table, kRuleContentsRow,
                        PropertyName(cell) + " of message " + Hex(rowId) + " as " + ValueText(*own), ValueText(cell));
            }
        }
    }

    // Whether a row cell holds the message's value. The 8-bit text of a
    // message fills a Unicode column decoded with the message's code page
    // (PidTagMessageCodepage, else PidTagInternetCodepage, else 1252).
    static bool SameCellValue(const PropertyValue& own, const PropertyValue& cell, const PropertyChunk& message) {
        if (own.data == cell.data) return true;
        if (own.type != kPtString8 || cell.type != kPtUnicode || !own.data || !cell.data) return false;
        unsigned codePage = kDefaultCodePage;
        for (const std::uint32_t id : {prop::kMessageCodepage, prop::kInternetCodepage}) {
            const PropertyValue* cp = Find(message, id);
            if (cp != nullptr && cp->data && cp->data->size() == 4 && ByteReader(*cp->data).readU32() != 0) {
                codePage = ByteReader(*cp->data).readU32();
                break;
            }
        }
        const auto end = std::find(own.data->begin(), own.data->end(), std::uint8_t{0});
        const std::string text = Utf8ToUtf16LeBytes(CodePageToUtf8(std::span(own.data->begin(), end), codePage));
        return Bytes(text.begin(), text.end()) == *cell.data;
    }

    // A table row whose version needs a finding, its table named by position.
    struct Row {
        std::uint32_t version, id;
        std::uint32_t table;  // in tables_
        std::uint32_t read;   // rows read before it
    };
    struct Table {
        std::uint32_t nid;
        std::uint64_t at;  // its data block's offset
    };

    StoreFile& store_;
    std::span<const std::uint8_t> header_;
    CheckReport& report_;
    std::array<std::uint32_t, 32> used_{};
    std::deque<std::uint32_t> versions_;  // the version of every table row that has one
    std::vector<Table> tables_;
};

}  // namespace

void CheckStoreRules(const std::filesystem::path& path, CheckReport& report) {
    RunOverUnicodeStore(path, report, CheckStoreRules);
}

void CheckStoreRules(StoreFile& store, CheckReport& report) {
    if (store.formatVersion != kUnicodeVersion) return;
    std::array<std::uint8_t, kHeaderReadLength> header{};
    const std::size_t n = store.file.ReadAt(0, header);
    RuleWalk(store, std::span<const std::uint8_t>(header.data(), n), report).run();
}

}  // namespace bm
