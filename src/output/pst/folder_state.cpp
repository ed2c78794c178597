#include "output/pst/folder_state.h"

#include <algorithm>
#include <stdexcept>

#include "output/pst/ltp_subnodes.h"
#include "output/pst/ltp_tc_writer.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"

namespace bm::pst {

FolderSet::FolderSet(const std::filesystem::path& spillDirectory)
    : spill_(std::make_unique<RowSpillFile>(spillDirectory)) {}

FolderSet::~FolderSet() = default;

void FolderSet::Add(Nid nid, Nid parent, std::string_view name, std::string_view containerClass) {
    if (Has(nid)) throw std::invalid_argument("folder " + std::to_string(nid) + " exists");
    Folder f;
    if (spill_) {
        f.contents = PackedRows(*spill_);
        f.associated = PackedRows(*spill_);
    }
    f.parent = parent;
    f.name = name;
    f.containerClass = containerClass;
    folders_.emplace(nid, std::move(f));
    order_.push_back(nid);
    if (parent != nid) {
        Folder& p = folders_.at(parent);
        p.children.push_back(nid);
        p.childByName.emplace(std::string(name), nid);  // the first of equal names stays findable
    }
}

void FolderSet::AddSearchFolder(Nid nid, Nid parent, std::string_view name) {
    Add(nid, parent, name, "");
    folders_.at(nid).search = true;
}

std::optional<Nid> FolderSet::FindChild(Nid parent, std::string_view name) const {
    auto it = folders_.find(parent);
    if (it == folders_.end()) return std::nullopt;
    auto child = it->second.childByName.find(std::string(name));
    if (child == it->second.childByName.end()) return std::nullopt;
    return child->second;
}

TableRow FolderSet::NewRow(Nid message, std::vector<TableRow::Cell> cells) {
    TableRow row;
    row.id = message;
    row.version = TakeRowVersion();
    row.cells = std::move(cells);
    return row;
}

void FolderSet::AddRow(PackedRows& rows, const TableRow& row) {
    pendingBytes_ -= std::min(pendingBytes_, rows.bytesHeld());
    rows.Add(row);
    pendingBytes_ += rows.bytesHeld();
    if (!spill_ || pendingBytes_ <= kPendingRowBytes) return;
    for (auto& [nid, f] : folders_) {
        f.contents.SpillPending();
        f.associated.SpillPending();
    }
    pendingBytes_ = 0;
}

void FolderSet::AddContentsRow(Nid folder, Nid message, bool read, std::vector<TableRow::Cell> cells) {
    Folder& f = folders_.at(folder);
    AddRow(f.contents, NewRow(message, std::move(cells)));
    if (!read) ++f.unread;
}

void FolderSet::AddAssociatedRow(Nid folder, Nid message, std::vector<TableRow::Cell> cells) {
    Folder& f = folders_.at(folder);
    AddRow(f.associated, NewRow(message, std::move(cells)));
}

void FolderSet::SetOwnProperties(Nid folder, std::vector<PcValue> values) {
    folders_.at(folder).own = std::move(values);
}

void FolderSet::AddOwnProperties(Nid folder, std::vector<PcValue> values) {
    std::vector<PcValue>& own = folders_.at(folder).own;
    for (PcValue& v : values) {
        std::erase_if(own, [&](const PcValue& o) { return o.id == v.id; });
        own.push_back(std::move(v));
    }
}

std::vector<PcValue> FolderSet::ContextValues(Nid nid) const {
    std::vector<PcValue> values = PcValuesOf(FolderProperties(nid));
    const std::size_t computed = values.size();
    for (const PcValue& v : folders_.at(nid).own) {
        const auto end = values.begin() + static_cast<std::ptrdiff_t>(computed);
        if (std::none_of(values.begin(), end, [&](const PcValue& c) { return c.id == v.id; })) values.push_back(v);
    }
    return values;
}

PropertyBag FolderSet::FolderProperties(Nid nid) const {
    const Folder& f = folders_.at(nid);
    PropertyBag bag;
    bag.SetString(tags::kDisplayName, f.name);
    bag.SetInt32(tags::kContentCount, static_cast<std::int32_t>(f.contents.size()));
    bag.SetInt32(tags::kContentUnreadCount, f.unread);
    if (f.search) {
        bag.SetBool(tags::kSubfolders, false);
        return bag;
    }
    bag.SetInt32(tags::kAssocContentCount, static_cast<std::int32_t>(f.associated.size()));
    bag.SetBool(tags::kSubfolders, !f.children.empty());
    if (!f.containerClass.empty()) bag.SetString(tags::kContainerClass, f.containerClass);
    bag.SetInt32(tags::kPstHiddenCount, 0);
    bag.SetInt32(tags::kPstHiddenUnread, 0);
    return bag;
}

void FolderSet::WriteAll(NodeSink& ndb) {
    // Rows that did not reach the spill file would be missing from their
    // table: a store with such a table is not finished.
    if (spill_) spill_->ThrowIfFailed();
    auto writeTable = [&](Nid nid, const TableLayout& layout, const std::vector<TableRow>& rows) {
        WriteTableContext(ndb, nid, 0, layout, [&](const TableRowVisitor& visit) {
            for (const TableRow& row : rows) visit(row);
        });
    };
    // Rows read from memory or the spill file one at a time, and let go
    // once written.
    auto writePacked = [&](Nid nid, const TableLayout& layout, PackedRows& rows) {
        WriteTableContext(ndb, nid, 0, layout, [&](const TableRowVisitor& visit) { rows.ForEach(visit); });
        pendingBytes_ -= std::min(pendingBytes_, rows.bytesHeld());
        rows.Clear();
    };
    // Parents come before their children in order_, so a folder's rows are
    // taken only after its parent's hierarchy row has counted them.
    for (Nid nid : order_) {
        Folder& f = folders_.at(nid);
        {
            LocalSubnodes subnodes(ndb);
            subnodes.WriteNode(nid, BuildPropertyContext(ContextValues(nid), subnodes.Sink()), f.parent);
        }
        std::vector<TableRow> hierarchy;
        hierarchy.reserve(f.children.size());
        for (Nid child : f.children) {
            TableRow row;
            row.id = child;
            row.version = TakeRowVersion();
            const PropertyBag props = FolderProperties(child);
            for (const auto& p : props.properties()) {
                row.cells.push_back({PropTag{p.key.id, p.type}.value(), p.bytes});
            }
            hierarchy.push_back(std::move(row));
        }
        const std::uint32_t index = IndexOfNid(nid);
        if (f.search) {
            writeTable(MakeNid(NidType::SearchContentsTable, index), SearchContentsTableLayout(), {});
            continue;
        }
        writeTable(MakeNid(NidType::HierarchyTable, index), HierarchyTableLayout(), hierarchy);
        writePacked(MakeNid(NidType::ContentsTable, index), ContentsTableLayout(), f.contents);
        writePacked(MakeNid(NidType::AssocContentsTable, index), AssocContentsTableLayout(), f.associated);
    }
}

}  // namespace bm::pst
