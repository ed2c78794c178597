#include "output/pst/store_writer.h"

#include <random>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "common/byte_reader.h"
#include "output/pst/folder_state.h"
#include "output/pst/ltp_subnodes.h"
#include "output/pst/message_writer.h"
#include "output/pst/ndb_writer.h"
#include "output/pst/props_name_map.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"

namespace bm::pst {

namespace {

// Fixed nodes of every store.
constexpr Nid kMessageStoreNid = 0x21;
constexpr Nid kNameToIdMapNid = 0x61;
constexpr Nid kRootFolderNid = 0x122;
constexpr Nid kSearchManagementQueueNid = 0x1E1;
constexpr Nid kSearchActivityListNid = 0x201;
constexpr Nid kSearchDomainObjectNid = 0x261;
constexpr Nid kSearchGathererQueueNid = 0x281;
constexpr Nid kSearchGathererFolderQueueNid = 0x321;
constexpr Nid kHierarchyTemplateNid = 0x60D;
constexpr Nid kContentsTemplateNid = 0x60E;
constexpr Nid kAssocContentsTemplateNid = 0x60F;
constexpr Nid kSearchContentsTemplateNid = 0x610;
constexpr Nid kReceiveFolderTableNid = 0x62B;
constexpr Nid kAttachmentTemplateNid = 0x671;
constexpr Nid kRecipientTemplateNid = 0x692;

// Which special folders the store object names.
constexpr std::int32_t kValidIpmSubtree = 0x01;
constexpr std::int32_t kValidWastebasket = 0x08;
constexpr std::int32_t kValidFinder = 0x80;

constexpr PropTag kPstNoRestrictions{0x6633, PropType::Boolean};

std::vector<std::uint8_t> Le(std::uint64_t v, std::size_t width) {
    std::vector<std::uint8_t> out(width);
    PutLe(out.data(), v, width);
    return out;
}

Guid RandomGuid() {
    std::random_device rd;
    Guid g{};
    for (std::size_t i = 0; i < g.size(); i += 4) PutLe(g.data() + i, rd(), 4);
    return g;
}

}  // namespace

class PstStore::Impl {
public:
    Impl(std::unique_ptr<NodeSink> sink, const StoreOptions& options)
        : options_(options), sink_(std::move(sink)), messages_(*sink_, names_), recordKey_(RandomGuid()) {
        folders_.Add(kRootFolderNid, kRootFolderNid, "", "");
        ipmSubtree_ = NewFolder(kRootFolderNid, "Top of Personal Folders", "");
        searchRoot_ = NewFolder(kRootFolderNid, "Search Root", "");
        deletedItems_ = NewFolder(ipmSubtree_, "Deleted Items", "IPF.Note");
    }

    FolderId NewFolder(FolderId parent, std::string_view name, std::string_view containerClass) {
        RequireOpen();
        if (!folders_.Has(parent)) throw std::invalid_argument("no folder " + std::to_string(parent));
        const Nid nid = sink_->NewNid(NidType::NormalFolder);
        folders_.Add(nid, parent, name, containerClass);
        return nid;
    }

    Nid AddMessage(FolderId folder, const Message& message) {
        RequireOpen();
        if (!folders_.Has(folder)) throw std::invalid_argument("no folder " + std::to_string(folder));
        const Nid nid = sink_->NewNid(NidType::NormalMessage);
        WrittenMessage written = messages_.Write(message);
        sink_->SetNode(nid, written.data, written.subnodes, folder);
        folders_.AddContentsRow(folder, nid, written.read, std::move(written.rowCells));
        ++messageCount_;
        return nid;
    }

    void Finish() {
        RequireOpen();
        folders_.WriteAll(*sink_);
        WriteFixedNodes();
        sink_->Finish();
        finished_ = true;
    }

    void RequireOpen() const {
        if (finished_) throw std::logic_error("the store is finished");
    }

    void WriteFixedNodes() {
        // The store object, naming the special folders by entry id.
        PropertyBag store;
        store.SetBinary(tags::kRecordKey, recordKey_);
        store.SetString(tags::kDisplayName, options_.displayName);
        store.SetInt32(tags::kValidFolderMask, kValidIpmSubtree | kValidWastebasket | kValidFinder);
        store.SetBinary(tags::kIpmSubtreeEntryId, EntryId(ipmSubtree_));
        store.SetBinary(tags::kIpmWastebasketEntryId, EntryId(deletedItems_));
        store.SetBinary(tags::kFinderEntryId, EntryId(searchRoot_));
        store.SetBool(kPstNoRestrictions, true);
        WritePc(kMessageStoreNid, PcValuesOf(store));
        WritePc(kNameToIdMapNid, names_.PropertyValues());

        for (Nid nid : {kSearchManagementQueueNid, kSearchActivityListNid, kSearchDomainObjectNid,
                        kSearchGathererQueueNid, kSearchGathererFolderQueueNid}) {
            sink_->SetNode(nid, sink_->WriteData({}), 0, 0);
        }
        WriteTable(kHierarchyTemplateNid, HierarchyTableLayout(), {});
        WriteTable(kContentsTemplateNid, ContentsTableLayout(), {});
        WriteTable(kAssocContentsTemplateNid, AssocContentsTableLayout(), {});
        WriteTable(kSearchContentsTemplateNid, SearchContentsTableLayout(), {});
        WriteTable(kAttachmentTemplateNid, AttachmentTableLayout(), {});
        WriteTable(kRecipientTemplateNid, RecipientTableLayout(), {});
        // New mail of any class would be delivered to the root folder.
        TableRow receive;
        receive.id = 1;
        receive.version = 1;
        receive.cells.push_back({tags::kReceiveFolderNid.value(), Le(kRootFolderNid, 4)});
        receive.cells.push_back({tags::kMessageClass.value(), {}});
        WriteTable(kReceiveFolderTableNid, ReceiveFolderTableLayout(), {receive});
    }

    // Entry id of a folder of this store: four zero flag bytes, the store's
    // record key, the folder's NID.
    std::vector<std::uint8_t> EntryId(Nid nid) const {
        std::vector<std::uint8_t> id(4, 0);
        id.insert(id.end(), recordKey_.begin(), recordKey_.end());
        const auto n = Le(nid, 4);
        id.insert(id.end(), n.begin(), n.end());
        return id;
    }

    void WritePc(Nid nid, const std::vector<PcValue>& values) {
        LocalSubnodes subnodes(*sink_);
        subnodes.WriteNode(nid, BuildPropertyContext(values, subnodes.Sink()), 0);
    }

    void WriteTable(Nid nid, const TableLayout& layout, const std::vector<TableRow>& rows) {
        LocalSubnodes subnodes(*sink_);
        subnodes.WriteNode(nid, BuildTableContext(layout, rows, subnodes.Sink()), 0);
    }

    StoreOptions options_;
    std::unique_ptr<NodeSink> sink_;
    NameToIdMap names_;
    MessageWriter messages_;
    FolderSet folders_;
    Guid recordKey_;
    FolderId ipmSubtree_ = 0, searchRoot_ = 0, deletedItems_ = 0;
    std::size_t messageCount_ = 0;
    bool finished_ = false;
};

PstStore::PstStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PstStore::~PstStore() = default;

std::unique_ptr<PstStore> PstStore::Create(const std::filesystem::path& path, const StoreOptions& options) {
    auto ndb = NdbWriter::Create(path, {options.offlineFlavour, options.crypt});
    return CreateOn(std::make_unique<NdbNodeSink>(std::move(ndb)), options);
}

std::unique_ptr<PstStore> PstStore::CreateOn(std::unique_ptr<NodeSink> sink, const StoreOptions& options) {
    return std::unique_ptr<PstStore>(new PstStore(std::make_unique<Impl>(std::move(sink), options)));
}

FolderId PstStore::root() const { return kRootFolderNid; }
FolderId PstStore::ipmSubtree() const { return impl_->ipmSubtree_; }
FolderId PstStore::deletedItems() const { return impl_->deletedItems_; }
FolderId PstStore::searchRoot() const { return impl_->searchRoot_; }

FolderId PstStore::CreateFolder(FolderId parent, std::string_view displayName, std::string_view containerClass) {
    return impl_->NewFolder(parent, displayName, containerClass);
}

std::optional<FolderId> PstStore::FindFolder(FolderId parent, std::string_view displayName) const {
    return impl_->folders_.FindChild(parent, displayName);
}

Nid PstStore::AddMessage(FolderId folder, const Message& message) { return impl_->AddMessage(folder, message); }

void PstStore::Finish() { impl_->Finish(); }

std::uint64_t PstStore::FileSize() const { return impl_->sink_->FileSize(); }

std::size_t PstStore::messageCount() const { return impl_->messageCount_; }

}  // namespace bm::pst
