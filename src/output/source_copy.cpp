#include "output/source_copy.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "messaging/heap_node.h"
#include "messaging/named_properties.h"
#include "messaging/property_context.h"
#include "store/nid_types.h"
#include "messaging/property_reader.h"
#include "messaging/table_info.h"
#include "output/pst/props_tags.h"
#include "store/blocks.h"
#include "store/content_damage.h"
#include "store/layout.h"
#include "store/subnodes.h"

namespace bm {

namespace {

using pst::PropType;

constexpr std::uint16_t kAttachDataId = 0x3701;
constexpr std::uint16_t kAttachMethodId = 0x3705;
constexpr std::uint16_t kRowIdId = 0x67F2;
constexpr std::uint16_t kEntryIdId = 0x0FFF;
constexpr std::uint32_t kRecipientTable = 0x692;
constexpr std::uint32_t kAttachmentTable = 0x671;
constexpr std::uint32_t kPcBthWord = 0x02B5;
constexpr std::size_t kPcRecordSize = 8;
constexpr std::int32_t kMethodEmbedded = 5;

// Every object the copy writes leaves these out: the new store makes them
// itself, or they point into the old store and would mislead a reader of the
// new one.
constexpr MadeAnewProperty kMadeAnew[] = {
    {0x0E08, "the message size: the new store computes it from what it holds"},
    {0x0E20, "the attachment size: the new store computes it from the data it writes"},
    {0x0E09, "the parent's entry ID: names the folder node in the old store"},
    {0x0FFA, "the store record key: identifies the old store"},
    {0x0FFB, "the store entry ID: names the old store"},
    {0x0FFF, "the entry ID of a message or attachment: names its node in the old store (a recipient's, naming its "
             "address book entry, is kept)"},
    {0x67F2, "the table row ID: the object's row in an old table; the new table numbers its rows"},
    {0x67F3, "the table row version: of a row in an old table"},
};

// A folder's copy leaves these out besides: the new store computes them from
// what it writes into the folder, or they name folders, views and messages
// of the old store that the new one numbers afresh (its own special folders
// are named by its own store object).
constexpr MadeAnewProperty kFolderMadeAnew[] = {
    {0x3001, "the folder's name: the new store names the folder as the saved folder tree maps it"},
    {0x3602, "the content count: of the items the new store holds in the folder"},
    {0x3603, "the unread count: of the items the new store holds in the folder"},
    {0x360A, "the subfolders flag: of the folders the new store holds below it"},
    {0x3617, "the associated content count: of the associated items the new store holds in the folder"},
    {0x6635, "the hidden item count the new store keeps for the folder"},
    {0x6636, "the hidden unread count the new store keeps for the folder"},
    {0x3616, "the default view's entry ID: names a view message in the old store"},
    {0x35E0, "the mail folder subtree's entry ID: names a folder node in the old store"},
    {0x35E2, "the outbox's entry ID: names a folder node in the old store"},
    {0x35E3, "the deleted items folder's entry ID: names a folder node in the old store"},
    {0x35E4, "the sent items folder's entry ID: names a folder node in the old store"},
    {0x35E5, "the views folder's entry ID: names a folder node in the old store"},
    {0x35E6, "the common views folder's entry ID: names a folder node in the old store"},
    {0x35E7, "the search folder root's entry ID: names a folder node in the old store"},
    {0x36D0, "the calendar's entry ID: made anew for the saved folder it names"},
    {0x36D1, "the contacts folder's entry ID: made anew for the saved folder it names"},
    {0x36D2, "the journal's entry ID: made anew for the saved folder it names"},
    {0x36D3, "the notes folder's entry ID: made anew for the saved folder it names"},
    {0x36D4, "the tasks folder's entry ID: made anew for the saved folder it names"},
    {0x36D5, "the reminders search folder's entry ID (online): made anew for the saved folder it names"},
    {0x36D6, "the reminders search folder's entry ID (offline): made anew for the saved folder it names"},
    {0x36D7, "the drafts folder's entry ID: made anew for the saved folder it names"},
    {0x36D8, "the additional special folders' entry IDs: made anew for the saved folders they name"},
    {0x36D9, "the additional special folders' entry IDs (extended form): made anew for the saved folders they name"},
    {0x36E4, "the free/busy entry IDs: name messages and folders in the old store"},
};

struct RawProperty {
    std::uint16_t id = 0;
    std::uint16_t type = 0;
    Bytes bytes;
    std::uint32_t hnid = 0;  // the record's value field (for values kept in subnodes)
};

// The entries of a subnode list that belong to the node itself (nested
// subnodes of its attachments may reuse their local NIDs).
SubnodeList OwnSubnodes(StoreFile& store, const BlockEntry* subnodeBlock) {
    SubnodeList own;
    if (subnodeBlock == nullptr) return own;
    const SubnodeList all = ReadSubnodes(store, *subnodeBlock);
    own.Reserve(all.size());
    for (const SubnodeEntry& e : all.entries()) {
        if (e.level == 0) own.Append(e);
    }
    return own;
}

const SubnodeEntry* FindEntry(const SubnodeList& list, std::uint32_t nid) {
    for (const SubnodeEntry& e : list.entries()) {
        if (e.nid == nid) return &e;
    }
    return nullptr;
}

PropertyReadContext CopyContext(StoreFile& store, const SubnodeList& subnodes) {
    PropertyReadContext ctx;
    ctx.names = nullptr;  // ids stay as stored; named ones are translated by name below
    ctx.subnodes = MakeSubnodeDataReader(store, &subnodes);
    ctx.onlyExistingCells = true;
    ctx.everyType = true;
    ctx.keepEmptyValues = true;  // an empty text or binary value is a value too
    return ctx;
}

// The value in the form the new store takes: fixed-size values cut to
// their size (a property context and a table widen small ones to 4 bytes).
bool NormalizeValue(std::uint16_t type, Bytes& bytes) {
    const auto t = static_cast<PropType>(type);
    const std::size_t unit = pst::FixedValueSize(t);
    if (unit == 0) return true;
    if (pst::IsMultiValued(t)) return bytes.size() % unit == 0;
    if (bytes.size() < unit) return false;
    bytes.resize(unit);
    return true;
}

// The name a value kept in a subnode goes by in the damage account.
std::string ValuePartName(std::uint16_t id) {
    switch (id) {
    case 0x1000: return "body";
    case 0x1009: return "RTF body";
    case 0x1013: return "HTML body";
    case 0x007D: return "transport headers";
    default: break;
    }
    char text[24];
    std::snprintf(text, sizeof text, "property 0x%04X", id);
    return text;
}

// The records of a property context, each with its value read (from the
// heap or a subnode); values that cannot be read are left out. Object
// values carry the heap's reference (subnode NID and size) as their bytes.
std::optional<std::vector<RawProperty>> ReadRawContext(StoreFile& store, const BlockEntry& data,
                                                      const SubnodeList& subnodes, bool deferAttachData) {
    auto blocks = ReadNodeBlocks(store, data);
    if (!blocks) return std::nullopt;
    const auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store));
    if (!heap || heap->clientSignature() != kPropertyContextSig) return std::nullopt;
    const auto header = ReadBthHeader(*heap, heap->userRoot());
    if (!header || (header->type | (header->keySize << 8)) != kPcBthWord) return std::nullopt;
    const PropertyReadContext ctx = CopyContext(store, subnodes);

    const auto records = ReadBthRecords(*heap, *header, kPcRecordSize);
    std::vector<RawProperty> out;
    out.reserve(records.size());
    for (const auto record : records) {
        const ByteReader r(record);
        RawProperty p;
        p.id = static_cast<std::uint16_t>(r.peekAt(0, 2).value_or(0));
        p.type = static_cast<std::uint16_t>(r.peekAt(2, 2).value_or(0));
        p.hnid = static_cast<std::uint32_t>(r.peekAt(4, 4).value_or(0));
        if (p.id == 0) continue;
        if (p.type == kPtObject) {
            const auto alloc = heap->Allocation(p.hnid);
            if (!alloc || alloc->size() < 8) continue;
            p.bytes.assign(alloc->begin(), alloc->begin() + 8);
            out.push_back(std::move(p));
            continue;
        }
        if (deferAttachData && p.id == kAttachDataId && p.type == kPtBinary && (p.hnid & kNidTypeMask) != 0) {
            out.push_back(std::move(p));  // streamed when written
            continue;
        }
        // A value kept in a subnode is a part of its own in the damage account.
        std::optional<ContentPart> part;
        if (store.contentDamage != nullptr && (p.hnid & kNidTypeMask) != 0) part.emplace(store, ValuePartName(p.id));
        auto value = ConvertPropertyRecord(*heap, ctx, p.id, p.type, record.subspan(4, 4));
        if (!value || !value->hasData()) continue;
        p.bytes = std::move(*value->data);
        if (!NormalizeValue(p.type, p.bytes)) continue;
        out.push_back(std::move(p));
    }
    return out;
}

// The key a property is set under in the new store; nullopt for a named
// property the source map cannot name.
std::optional<pst::PropKey> KeyFor(std::uint16_t id, const NamedPropertyMap* names) {
    pst::PropKey key;
    if (id < 0x8000) {
        key.id = id;
        return key;
    }
    if (names == nullptr) return std::nullopt;
    const NamedPropertyEntry* e = names->Find(id);
    if (e == nullptr || !e->propertySet) return std::nullopt;
    std::copy(e->propertySet->begin(), e->propertySet->end(), key.propertySet.begin());
    if (e->kind == NamedKind::Numeric) {
        key.name = e->dispid;
    } else {
        if (!e->wideName) return std::nullopt;
        key.name = *e->wideName;
    }
    return key;
}

// The source store's names, and where the ids of named values that no
// name can be found for are noted.
struct CopyNames {
    const NamedPropertyMap* map = nullptr;
    UnnamedValues* unnamed = nullptr;
};

void Put(pst::PropertyBag& bag, const CopyNames& names, std::uint16_t id, std::uint16_t type, Bytes bytes,
         bool recipient = false) {
    // A recipient's entry ID names its address book entry, not a node.
    if (IsMadeAnew(id) && !(recipient && id == kEntryIdId)) return;
    const auto key = KeyFor(id, names.map);
    if (!key) {
        if (names.unnamed != nullptr) names.unnamed->push_back(id);
        return;
    }
    try {
        bag.SetRaw(*key, static_cast<PropType>(type), std::move(bytes));
    } catch (const std::invalid_argument&) {
        // A value whose size does not fit its type is damaged; it is left out.
    }
}

// A sound table context without rows (its row index is empty), which the
// table reader gives no list for.
bool IsEmptyTable(const HeapNode& heap) {
    if (heap.clientSignature() != kTableContextSig) return false;
    const auto info = heap.Allocation(heap.userRoot());
    if (!info) return false;
    const std::optional<TableInfo> tc = ParseTableInfo(*info);
    if (!tc) return false;
    const auto index = ReadBthHeader(heap, tc->hidRowIndex);
    return index && (index->type | (index->keySize << 8)) == kRowIndexBthWord &&
           (index->root == 0 || ReadBthRecords(heap, *index, 4 + static_cast<std::size_t>(index->entrySize)).empty());
}

// Rows of the table context in subnode `nid` in table order, each cell that
// exists with its value. A large table keeps its rows (and large cells) in
// subnodes of its own, looked for before the message's. No rows when the
// message has no such table; nullopt when it has one that cannot be read.
std::optional<std::vector<std::vector<PropertyValue>>> ReadRows(StoreFile& store, const SubnodeList& messageSubnodes,
                                                                std::uint32_t nid) {
    std::vector<std::vector<PropertyValue>> rows;
    const SubnodeEntry* entry = FindEntry(messageSubnodes, nid);
    if (entry == nullptr || entry->block == nullptr) return rows;
    SubnodeList subnodes = OwnSubnodes(store, entry->subnodeBlock);
    subnodes.Reserve(subnodes.size() + messageSubnodes.size());
    for (const SubnodeEntry& e : messageSubnodes.entries()) subnodes.Append(e);
    auto blocks = ReadNodeBlocks(store, *entry->block);
    if (!blocks) return std::nullopt;
    const auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store));
    if (!heap) return std::nullopt;
    const auto list = ReadTableContext(*heap, CopyContext(store, subnodes));
    if (!list) {
        if (IsEmptyTable(*heap)) return rows;
        return std::nullopt;
    }
    for (auto chunk = list->chunks.rbegin(); chunk != list->chunks.rend(); ++chunk) rows.push_back(chunk->entries);
    return rows;
}

// The leaf blocks of a data tree, for reading it piece by piece.
class DataTreeStream {
public:
    // `part` names the data in the damage account while it is read (the
    // writer reads it after the copy returned).
    DataTreeStream(StoreFile& store, std::vector<std::uint64_t> leaves, std::string part)
        : store_(store), leaves_(std::move(leaves)), part_(std::move(part)) {}

    std::size_t operator()(std::span<std::uint8_t> buffer) {
        const ContentPart part(store_, part_);
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            if (at_ == piece_.size()) {
                if (next_ == leaves_.size()) break;
                piece_.clear();
                at_ = 0;
                if (ReadBlockDecoded(store_, leaves_[next_++], piece_) == 0) break;
                continue;
            }
            const std::size_t n = std::min(buffer.size() - filled, piece_.size() - at_);
            std::memcpy(buffer.data() + filled, piece_.data() + at_, n);
            filled += n;
            at_ += n;
        }
        return filled;
    }

private:
    StoreFile& store_;
    std::vector<std::uint64_t> leaves_;
    std::string part_;
    std::size_t next_ = 0;
    Bytes piece_;
    std::size_t at_ = 0;
};

// Collects the data blocks under `bid` in order and adds up their sizes;
// false when the tree is damaged (a block missing, a level too deep).
bool CollectLeaves(StoreFile& store, std::uint64_t bid, unsigned depth, std::vector<std::uint64_t>& leaves,
                   std::uint64_t& size) {
    const BlockEntry* entry = FindBlock(store, bid);
    if (entry == nullptr) return false;
    if (!IsInternalBid(entry->bid())) {
        leaves.push_back(entry->bid());
        size += entry->inflatedSize() != 0 ? entry->inflatedSize() : entry->size();
        return true;
    }
    if (depth > 1) return false;
    Bytes block;
    if (ReadBlock(store, entry->bid(), block) == 0) return false;
    const ByteReader r(block);
    const auto type = r.peekAt(0, 1);
    const auto count = r.peekAt(2, 2);
    if (!type || *type != 1 || !count) return false;
    const std::size_t width = store.layout != nullptr ? store.layout->idWidth : 4;
    const std::size_t first = store.layout != nullptr ? store.layout->internal.dataTreeEntriesAt : 8;
    for (std::size_t i = 0; i < *count; ++i) {
        const auto child = r.peekAt(first + i * width, width);
        if (!child || !CollectLeaves(store, *child, depth + 1, leaves, size)) return false;
    }
    return true;
}

// The file or display name an attachment table row gives its attachment;
// empty when it gives none.
std::string AttachmentNameInRow(const std::vector<PropertyValue>& row) {
    for (const std::uint16_t id : {std::uint16_t{0x3707}, std::uint16_t{0x3704}, std::uint16_t{0x3001}}) {
        for (const PropertyValue& v : row) {
            if (v.id != id || !v.hasData() || v.data->empty()) continue;
            if (v.type == 0x001F) {
                std::string text = Utf16LeToUtf8(*v.data);
                while (!text.empty() && text.back() == '\0') text.pop_back();
                if (!text.empty()) return text;
            } else if (v.type == 0x001E) {
                std::string text(v.data->begin(), v.data->end());
                while (!text.empty() && text.back() == '\0') text.pop_back();
                if (!text.empty()) return text;
            }
        }
    }
    return {};
}

std::int32_t MethodOf(const std::vector<RawProperty>& props) {
    for (const RawProperty& p : props) {
        if (p.id == kAttachMethodId && p.type == kPtLong && p.bytes.size() >= 4)
            return ByteReader(p.bytes).readI32();
    }
    return 0;
}

// The names the damage account gives the parts of a message: those of an
// embedded message follow its attachment's ("attachment 'a.msg' > recipients").
std::string PartPrefix(const StoreFile& store) {
    std::string prefix = CurrentContentPart(store);
    if (!prefix.empty()) prefix += " > ";
    return prefix;
}

// Named properties are carried by the names the store's map gives them: a
// damaged map may have lost or changed them.
void NoteNamedDamage(StoreFile& store, const std::vector<RawProperty>& props) {
    if (store.contentDamage == nullptr) return;
    const bool named = std::any_of(props.begin(), props.end(), [](const RawProperty& p) { return p.id >= 0x8000; });
    if (named && NamedPropertyMapDamaged(store)) NoteDamageLine(store, "named properties: the store's name-to-ID map is damaged");
}

// Reads every block of a streamed value once, so that the damage account
// is complete before the item is written (the writer reads it only then).
void ReadAheadForAccount(StoreFile& store, const std::vector<std::uint64_t>& leaves) {
    if (store.contentDamage == nullptr || !store.contentDamage->completeBeforeWrite) return;
    Bytes scratch;
    for (const std::uint64_t bid : leaves) ReadBlock(store, bid, scratch);
}

// One attachment object: its properties, and its data, streamed, in
// memory or as an embedded message. `part` names it in the damage account.
std::optional<pst::Attachment> CopyAttachment(StoreFile& store, const SubnodeEntry& object, const CopyNames& names,
                                              int depth, const std::string& part) {
    const ContentPart named(store, part);
    if (object.block == nullptr) return std::nullopt;
    const SubnodeList own = OwnSubnodes(store, object.subnodeBlock);
    auto props = ReadRawContext(store, *object.block, own, true);
    if (!props) return std::nullopt;
    NoteNamedDamage(store, *props);
    pst::Attachment a;
    bool haveData = false;
    const std::int32_t method = MethodOf(*props);
    for (RawProperty& p : *props) {
        if (p.id != kAttachDataId) {
            Put(a.properties, names, p.id, p.type, std::move(p.bytes));
            continue;
        }
        if (haveData) continue;
        if (p.type == kPtObject) {
            const std::uint32_t nid = static_cast<std::uint32_t>(ByteReader(p.bytes).readU32());
            const SubnodeEntry* inner = FindEntry(own, nid);
            if (inner == nullptr) {
                NoteDamageLine(store, part + ": data lost");
                continue;
            }
            if (method == kMethodEmbedded || IsNormalMessageNid(nid)) {
                if (depth >= kMaxEmbeddingDepth) continue;
                auto message = CopySourceMessage(store, inner->block, inner->subnodeBlock, depth + 1, names.unnamed);
                if (!message) {
                    NoteDamageLine(store, part + ": embedded message lost");
                    continue;
                }
                a.content = std::make_shared<const pst::Message>(std::move(*message));
                haveData = true;
            } else {
                // An OLE object's storage, kept as the bytes the store holds.
                Bytes bytes;
                if (ReadSubnodeValue(store, nid, &own, bytes) == 0) {
                    NoteDamageLine(store, part + ": data lost");
                    continue;
                }
                a.content = std::move(bytes);
                a.objectData = true;
                haveData = true;
            }
            continue;
        }
        if (p.type != kPtBinary) continue;
        if (!p.bytes.empty() || (p.hnid & kNidTypeMask) == 0) {
            a.content = std::move(p.bytes);
            haveData = true;
            continue;
        }
        const BlockEntry* data = FindSubnode(own, p.hnid);
        if (data == nullptr) {
            NoteDamageLine(store, part + ": data lost");
            continue;
        }
        std::vector<std::uint64_t> leaves;
        std::uint64_t size = 0;
        if (!CollectLeaves(store, data->bid(), 0, leaves, size)) {
            // A damaged tree: whatever can still be read, in memory.
            Bytes bytes;
            if (ReadSubnodeValue(store, p.hnid, &own, bytes) == 0) {
                NoteDamageLine(store, part + ": data lost");
                continue;
            }
            a.content = std::move(bytes);
        } else {
            ReadAheadForAccount(store, leaves);
            a.content = pst::StreamSource{size, DataTreeStream(store, std::move(leaves), part)};
        }
        haveData = true;
    }
    if (!haveData) a.content = pst::NoContent{};
    return a;
}

}  // namespace

std::span<const MadeAnewProperty> MadeAnewProperties() { return kMadeAnew; }

bool IsMadeAnew(std::uint16_t propertyId) {
    return std::any_of(std::begin(kMadeAnew), std::end(kMadeAnew),
                       [propertyId](const MadeAnewProperty& p) { return p.id == propertyId; });
}

std::span<const MadeAnewProperty> FolderMadeAnewProperties() { return kFolderMadeAnew; }

bool IsFolderMadeAnew(std::uint16_t propertyId) {
    return IsMadeAnew(propertyId) ||
           std::any_of(std::begin(kFolderMadeAnew), std::end(kFolderMadeAnew),
                       [propertyId](const MadeAnewProperty& p) { return p.id == propertyId; });
}

std::optional<pst::PropertyBag> CopySourceFolderProperties(StoreFile& store, const NodeEntry& folder) {
    if (folder.dataBlock() == nullptr) return std::nullopt;
    const CopyNames names{StoreNamedPropertyMap(store), nullptr};
    const SubnodeList own = OwnSubnodes(store, folder.subnodeBlock());
    auto props = ReadRawContext(store, *folder.dataBlock(), own, false);
    if (!props) return std::nullopt;
    pst::PropertyBag bag;
    for (RawProperty& p : *props) {
        if (p.type == kPtObject || IsFolderMadeAnew(p.id)) continue;
        Put(bag, names, p.id, p.type, std::move(p.bytes));
    }
    return bag;
}

std::vector<SourceFolderLink> ReadSourceFolderLinks(StoreFile& store, const NodeEntry& folder,
                                                    std::optional<std::uint64_t>* counter) {
    // The folder's long-term id: a 2-byte replica id, then the 6 bytes of
    // its global counter, most significant first.
    constexpr std::uint16_t kFolderLongTermId = 0x67F4;
    constexpr std::uint16_t kPtI8 = 0x0014;
    std::vector<SourceFolderLink> out;
    if (counter != nullptr) counter->reset();
    if (folder.dataBlock() == nullptr) return out;
    const SubnodeList own = OwnSubnodes(store, folder.subnodeBlock());
    auto props = ReadRawContext(store, *folder.dataBlock(), own, false);
    if (!props) return out;
    for (RawProperty& p : *props) {
        if (IsFolderLinkProperty(p.id)) out.push_back({p.id, p.type, std::move(p.bytes)});
        if (counter != nullptr && p.id == kFolderLongTermId && p.type == kPtI8 && p.bytes.size() == 8) {
            std::uint64_t value = 0;
            for (std::size_t i = 2; i < 8; ++i) value = value << 8 | p.bytes[i];
            *counter = value;
        }
    }
    return out;
}

std::optional<pst::Message> CopySourceMessage(StoreFile& store, const NodeEntry& node, UnnamedValues* unnamed) {
    return CopySourceMessage(store, node.dataBlock(), node.subnodeBlock(), 0, unnamed);
}

std::optional<pst::Message> CopySourceMessage(StoreFile& store, const BlockEntry* data, const BlockEntry* subnodes,
                                              int depth, UnnamedValues* unnamed) {
    if (data == nullptr) return std::nullopt;
    const CopyNames names{StoreNamedPropertyMap(store), unnamed};
    const std::string prefix = PartPrefix(store);
    SubnodeList own;
    {
        const ContentPart part(store, prefix + std::string(kSubnodesPart));
        own = OwnSubnodes(store, subnodes);
    }
    auto props = ReadRawContext(store, *data, own, false);
    if (!props) return std::nullopt;
    NoteNamedDamage(store, *props);
    pst::Message m;
    m.properties.Reserve(props->size());
    for (RawProperty& p : *props) {
        if (p.type == kPtObject) continue;  // a message holds objects only in its attachments
        Put(m.properties, names, p.id, p.type, std::move(p.bytes));
    }

    {
        const ContentPart part(store, prefix + "recipients");
        auto rows = ReadRows(store, own, kRecipientTable);
        if (!rows) NoteDamageLine(store, prefix + "recipients lost");
        for (auto& row : rows.value_or(std::vector<std::vector<PropertyValue>>{})) {
            pst::PropertyBag bag;
            for (PropertyValue& v : row) {
                if (!v.hasData()) continue;
                Bytes bytes = std::move(*v.data);
                const auto type = static_cast<std::uint16_t>(v.type);
                if (!NormalizeValue(type, bytes)) continue;
                Put(bag, names, static_cast<std::uint16_t>(v.id), type, std::move(bytes), true);
            }
            if (!bag.empty()) m.recipients.push_back(std::move(bag));
        }
    }

    // Attachments in the order of their table; without a readable table,
    // in the order of the subnodes.
    std::vector<std::uint32_t> order;
    std::unordered_map<std::uint32_t, std::string> namesInTable;
    {
        const ContentPart part(store, prefix + "attachment table");
        const auto rows = ReadRows(store, own, kAttachmentTable);
        if (!rows) NoteDamageLine(store, prefix + "attachment table lost");
        for (const auto& row : rows.value_or(std::vector<std::vector<PropertyValue>>{})) {
            for (const PropertyValue& v : row) {
                if (v.id == kRowIdId && v.hasData() && v.data->size() >= 4) {
                    const auto rowId = static_cast<std::uint32_t>(ByteReader(*v.data).readU32());
                    order.push_back(rowId);
                    namesInTable[rowId] = AttachmentNameInRow(row);
                }
            }
        }
    }
    if (order.empty()) {
        for (const SubnodeEntry& e : own.entries()) {
            if (NidTypeOf(e.nid) == kNidTypeAttachment) order.push_back(e.nid);
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto named = namesInTable.find(order[i]);
        const std::string part = prefix + "attachment " +
                                 (named != namesInTable.end() && !named->second.empty() ? "'" + named->second + "'"
                                                                                        : std::to_string(i + 1));
        const SubnodeEntry* object = FindEntry(own, order[i]);
        std::optional<pst::Attachment> a;
        if (object != nullptr) a = CopyAttachment(store, *object, names, depth, part);
        if (a)
            m.attachments.push_back(std::move(*a));
        else
            NoteDamageLine(store, part + " lost");
    }
    return m;
}

}  // namespace bm
