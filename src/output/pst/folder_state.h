// The folders of a store being written, kept in memory until the store is
// finished: name, container class, children, and the contents-table row of
// every message added (packed, see packed_rows.h; with a spill directory
// the rows wait in a temporary file there, and memory holds at most a
// few MiB of them whatever the number of folders). WriteAll then writes
// each folder once:
//
//   folder NID            property context (name, counts, subfolders flag,
//                         container class)
//   same index, type 0x0D hierarchy table: one row per child folder
//   same index, type 0x0E contents table: one row per message
//   same index, type 0x0F associated-contents table: one row per
//                         associated message
//
// A search folder (the spam search folder every new store holds) is listed
// in its parent's hierarchy table like any child; it has only its name and
// counts of its own and, at its index, an empty search contents table
// (type 0x10) instead of the three tables.
//
// Counts and tables are computed from the final state, so adding 1,200
// messages or 250 folders costs one table write each, not one per addition.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "output/pst/ltp_tc.h"
#include "output/pst/packed_rows.h"
#include "output/pst/ltp_node_sink.h"
#include "output/pst/ltp_pc.h"
#include "output/pst/props.h"
#include "output/pst/row_spill_file.h"

namespace bm::pst {

class FolderSet {
public:
    // Rows stay in memory.
    FolderSet() = default;
    // Rows wait in a temporary file in this directory (made only when the
    // rows outgrow a block of memory).
    explicit FolderSet(const std::filesystem::path& spillDirectory);
    ~FolderSet();
    FolderSet(const FolderSet&) = delete;
    FolderSet& operator=(const FolderSet&) = delete;

    // Rows in memory beyond which every folder's rows go to the spill file.
    static constexpr std::size_t kPendingRowBytes = std::size_t{16} << 20;

    // The root folder is its own parent.
    void Add(Nid nid, Nid parent, std::string_view name, std::string_view containerClass);
    // A search folder without criteria or results (nid of type 0x03).
    void AddSearchFolder(Nid nid, Nid parent, std::string_view name);
    bool Has(Nid nid) const { return folders_.count(nid) != 0; }
    std::optional<Nid> FindChild(Nid parent, std::string_view name) const;

    void AddContentsRow(Nid folder, Nid message, bool read, std::vector<TableRow::Cell> cells);
    // A row of the folder's associated-contents table (views, rules,
    // settings: items a mail client does not show as contents).
    void AddAssociatedRow(Nid folder, Nid message, std::vector<TableRow::Cell> cells);

    // Properties of the folder's own (copied from another store's folder),
    // written into its property context beside the ones the set computes,
    // which win; named ones with this store's ids. Replaces what was kept
    // before.
    void SetOwnProperties(Nid folder, std::vector<PcValue> values);
    // Adds to them; a value of an id already there replaces it.
    void AddOwnProperties(Nid folder, std::vector<PcValue> values);

    // The folder's property context values as they will be written.
    PropertyBag FolderProperties(Nid nid) const;

    void WriteAll(NodeSink& ndb);

    // Row versions (PidTagLtpRowVer) are unique in the store: every row
    // written takes the next one. The store's dwUnique lies above them all.
    std::uint32_t TakeRowVersion() { return nextRowVersion_++; }
    std::uint32_t nextRowVersion() const { return nextRowVersion_; }

private:
    struct Folder {
        Nid parent = 0;
        std::string name;
        std::string containerClass;
        std::vector<Nid> children;
        std::unordered_map<std::string, Nid> childByName;
        PackedRows contents;    // written when the store is finished
        PackedRows associated;
        std::vector<PcValue> own;
        std::int32_t unread = 0;
        bool search = false;
    };
    // The property context's values: the computed ones and the folder's own.
    std::vector<PcValue> ContextValues(Nid nid) const;
    // A table row of `message` with the store's next row version.
    TableRow NewRow(Nid message, std::vector<TableRow::Cell> cells);
    // Adds the row, and sends every folder's rows to the spill file when
    // those in memory pass kPendingRowBytes.
    void AddRow(PackedRows& rows, const TableRow& row);

    std::unique_ptr<RowSpillFile> spill_;
    std::size_t pendingBytes_ = 0;

    std::unordered_map<Nid, Folder> folders_;
    std::vector<Nid> order_;  // creation order
    std::uint32_t nextRowVersion_ = 1;
};

}  // namespace bm::pst
