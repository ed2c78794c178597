#include "output/pst/store_writer.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <span>
#include <stdexcept>
#include <string_view>
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
// The spam search folder of every new store, its update queue and its
// criteria object (index 0x111 of types 0x03, 0x06 and 0x07).
constexpr Nid kSpamSearchFolderNid = 0x2223;
constexpr Nid kSpamSearchUpdateQueueNid = 0x2226;
constexpr Nid kSpamSearchCriteriaNid = 0x2227;
constexpr const char* kSpamSearchFolderName = "SPAM Search Folder 2";
// The one property of the criteria object, 0 in every new store.
constexpr PropTag kSearchCriteriaState{0x660B, PropType::Int32};

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

// A 128-bit digest of what the store holds, from which its record key is
// made: two FNV-1a lanes, each finished with a 64-bit mixer.
class ContentDigest {
public:
    explicit ContentDigest(std::uint64_t seed) { Add(seed); }
    void Add(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) Byte(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Add(std::span<const std::uint8_t> bytes) {
        Add(bytes.size());
        for (std::uint8_t b : bytes) Byte(b);
    }
    void Add(std::string_view text) {
        Add(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    Guid Finish() const {
        Guid g{};
        PutLe(g.data(), Mix(a_), 8);
        PutLe(g.data() + 8, Mix(b_ ^ a_), 8);
        return g;
    }

private:
    void Byte(std::uint8_t b) {
        a_ = (a_ ^ b) * 0x100000001B3ull;
        b_ = (b_ ^ b ^ 0x5Au) * 0x100000001B3ull;
    }
    static std::uint64_t Mix(std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t a_ = 0xCBF29CE484222325ull;
    std::uint64_t b_ = 0x84222325CBF29CE4ull;
};

FileTime DefaultMessageTime(const StoreOptions& options) {
    if (options.defaultMessageTime) return FileTimeFromUnix(*options.defaultMessageTime);
    return FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count());
}

}  // namespace

class PstStore::Impl {
public:
    Impl(std::unique_ptr<NodeSink> sink, const StoreOptions& options)
        : options_(options),
          sink_(std::move(sink)),
          messages_(*sink_, names_, DefaultMessageTime(options)),
          folders_(options.rowSpillDirectory.empty() ? std::make_unique<FolderSet>()
                                                     : std::make_unique<FolderSet>(options.rowSpillDirectory)),
          digest_(options.seed) {
        digest_.Add(options.displayName);
        folders_->Add(kRootFolderNid, kRootFolderNid, "", "");
        ipmSubtree_ = NewFolder(kRootFolderNid, "Top of Personal Folders", "");
        searchRoot_ = NewFolder(kRootFolderNid, "Search Root", "");
        folders_->AddSearchFolder(kSpamSearchFolderNid, kRootFolderNid, kSpamSearchFolderName);
        deletedItems_ = NewFolder(ipmSubtree_, "Deleted Items", "IPF.Note");
    }

    FolderId NewFolder(FolderId parent, std::string_view name, std::string_view containerClass) {
        RequireOpen();
        if (!folders_->Has(parent)) throw std::invalid_argument("no folder " + std::to_string(parent));
        const Nid nid = sink_->NewNid(NidType::NormalFolder);
        folders_->Add(nid, parent, name, containerClass);
        digest_.Add(nid);
        digest_.Add(parent);
        digest_.Add(name);
        digest_.Add(containerClass);
        return nid;
    }

    void SetFolderProperties(FolderId folder, const PropertyBag& properties) {
        RequireOpen();
        if (!folders_->Has(folder)) throw std::invalid_argument("no folder " + std::to_string(folder));
        std::vector<PcValue> values;
        values.reserve(properties.size());
        for (const Property& p : properties.properties()) {
            const std::uint16_t id = p.key.isNamed() ? names_.IdOf(p.key) : p.key.id;
            values.push_back({id, p.type, p.bytes, std::nullopt});
            digest_.Add(PropTag{id, p.type}.value());
            digest_.Add(p.bytes);
        }
        folders_->SetOwnProperties(folder, std::move(values));
    }

    void SetFolderLinks(FolderId folder, std::vector<PstStore::FolderLink> links) {
        RequireOpen();
        if (!folders_->Has(folder)) throw std::invalid_argument("no folder " + std::to_string(folder));
        for (const PstStore::FolderLink& link : links) {
            digest_.Add(folder);
            digest_.Add(PropTag{link.id, link.type}.value());
        }
        links_.insert_or_assign(folder, std::move(links));
    }

    // The links' values, now that the record key is known, after the
    // folder's own properties.
    void WriteFolderLinks() {
        const PstStore::EntryIdOf entryIdOf = [this](FolderId nid) { return EntryId(nid); };
        for (auto& [folder, links] : links_) {
            std::vector<PcValue> values;
            for (const PstStore::FolderLink& link : links) {
                std::vector<std::uint8_t> bytes = link.make(entryIdOf);
                if (!bytes.empty()) values.push_back({link.id, link.type, std::move(bytes), std::nullopt});
            }
            folders_->AddOwnProperties(folder, std::move(values));
        }
    }

    Nid AddMessage(FolderId folder, const Message& message, bool associated = false) {
        RequireOpen();
        if (!folders_->Has(folder)) throw std::invalid_argument("no folder " + std::to_string(folder));
        const Nid nid = sink_->NewNid(associated ? NidType::AssocMessage : NidType::NormalMessage);
        WrittenMessage written =
            associated ? messages_.Write(message, AssocContentsTableLayout()) : messages_.Write(message);
        sink_->SetNode(nid, written.data, written.subnodes, folder);
        digest_.Add(nid);
        digest_.Add(folder);
        digest_.Add(written.data);
        digest_.Add(written.subnodes);
        digest_.Add(written.size);
        for (const auto& cell : written.rowCells) {
            digest_.Add(cell.tag);
            digest_.Add(cell.bytes);
        }
        if (associated) {
            folders_->AddAssociatedRow(folder, nid, std::move(written.rowCells));
            return nid;
        }
        folders_->AddContentsRow(folder, nid, written.read, std::move(written.rowCells));
        ++messageCount_;
        return nid;
    }

    void Finish() {
        RequireOpen();
        recordKey_ = digest_.Finish();
        WriteFolderLinks();
        // Readers refuse a name-to-ID map without entries, and some also one
        // whose GUID or string stream is empty; stores of mail clients always
        // hold both kinds, so every store lists a property of a set of its own
        // and one named by string, both of which every mail client registers.
        names_.IdOf(PropKey{0, named::kSideEffects.propertySet, named::kSideEffects.name});
        names_.IdOf(PropKey{0, named::kKeywords.propertySet, named::kKeywords.name});
        folders_->WriteAll(*sink_);
        WriteFixedNodes();
        sink_->SetUnique(folders_->nextRowVersion());
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
            sink_->SetNode(nid, 0, 0, 0);  // an empty node has no data block
        }
        // The spam search folder's queue is empty; its criteria object holds
        // one property.
        sink_->SetNode(kSpamSearchUpdateQueueNid, 0, 0, 0);
        PropertyBag criteria;
        criteria.SetInt32(kSearchCriteriaState, 0);
        WritePc(kSpamSearchCriteriaNid, PcValuesOf(criteria));
        WriteTable(kHierarchyTemplateNid, HierarchyTableLayout(), {});
        WriteTable(kContentsTemplateNid, ContentsTableLayout(), {});
        WriteTable(kAssocContentsTemplateNid, AssocContentsTableLayout(), {});
        WriteTable(kSearchContentsTemplateNid, SearchContentsTableLayout(), {});
        WriteTable(kAttachmentTemplateNid, AttachmentTableLayout(), {});
        WriteTable(kRecipientTemplateNid, RecipientTableLayout(), {});
        // New mail of any class would be delivered to the root folder.
        TableRow receive;
        receive.id = 1;
        receive.version = folders_->TakeRowVersion();
        receive.cells.push_back({tags::kReceiveFolderNid.value(), Le(kRootFolderNid, 4)});
        receive.cells.push_back({tags::kMessageClass.value(), {}});
        WriteTable(kReceiveFolderTableNid, ReceiveFolderTableLayout(), {receive});
    }

    // Entry id of a folder of this store: four zero flag bytes, the store's
    // record key, the folder's NID.
    // Flags, the record key, the node id. Filled in place: growing a
    // 4-byte vector by inserts makes the optimiser warn of bounds it does
    // not cross.
    std::vector<std::uint8_t> EntryId(Nid nid) const {
        std::vector<std::uint8_t> id(4 + recordKey_.size() + 4, 0);
        std::copy(recordKey_.begin(), recordKey_.end(), id.begin() + 4);
        const auto n = Le(nid, 4);
        std::copy(n.begin(), n.end(), id.end() - 4);
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
    std::unique_ptr<FolderSet> folders_;
    ContentDigest digest_;
    Guid recordKey_{};
    std::map<FolderId, std::vector<PstStore::FolderLink>> links_;
    FolderId ipmSubtree_ = 0, searchRoot_ = 0, deletedItems_ = 0;
    std::size_t messageCount_ = 0;
    bool finished_ = false;
};

PstStore::PstStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PstStore::~PstStore() = default;

std::unique_ptr<PstStore> PstStore::Create(const std::filesystem::path& path, const StoreOptions& options) {
    auto ndb = NdbWriter::Create(path, {options.offlineFlavour, options.crypt});
    StoreOptions beside = options;
    if (beside.rowSpillDirectory.empty()) {
        beside.rowSpillDirectory = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    }
    return CreateOn(std::make_unique<NdbNodeSink>(std::move(ndb)), beside);
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

void PstStore::SetFolderProperties(FolderId folder, const PropertyBag& properties) {
    impl_->SetFolderProperties(folder, properties);
}

void PstStore::SetFolderLinks(FolderId folder, std::vector<FolderLink> links) {
    impl_->SetFolderLinks(folder, std::move(links));
}

std::optional<FolderId> PstStore::FindFolder(FolderId parent, std::string_view displayName) const {
    return impl_->folders_->FindChild(parent, displayName);
}

Nid PstStore::AddMessage(FolderId folder, const Message& message) { return impl_->AddMessage(folder, message); }

Nid PstStore::AddAssociatedMessage(FolderId folder, const Message& message) {
    return impl_->AddMessage(folder, message, true);
}

void PstStore::Finish() { impl_->Finish(); }

std::uint64_t PstStore::FileSize() const { return impl_->sink_->FileSize(); }

std::size_t PstStore::messageCount() const { return impl_->messageCount_; }

}  // namespace bm::pst
