#include "messaging/item_reader.h"

#include <optional>
#include <string>

#include "common/byte_reader.h"
#include "messaging/item_mapping.h"
#include "messaging/property_reader.h"
#include "store/content_damage.h"
#include "store/nid_types.h"
#include "store/subnodes.h"

namespace bm {

namespace {

MappingContext ContextFor(const StoreFile& store, const StoreReader* reader, RtfWorkspace* rtf) {
    MappingContext ctx;
    ctx.formatVersion = store.formatVersion;
    ctx.reader = reader;
    ctx.rtf = rtf;
    return ctx;
}

// The block of an attachment's data subnode. It is looked for among the
// attachment's own subnodes first: data subnodes of two attachments may
// carry the same local NID, and the message's flat list names only the
// first of them.
const BlockEntry* FindDataSubnode(StoreFile& store, const SubnodeList& flat, const SubnodeEntry* attachment,
                                  std::uint32_t nid) {
    if (attachment != nullptr && attachment->subnodeBlock != nullptr) {
        const SubnodeList own = ReadSubnodes(store, *attachment->subnodeBlock);
        if (const BlockEntry* b = FindSubnode(own, nid)) return b;
    }
    return FindSubnode(flat, nid);
}

// How the damage account names an attachment: by the name its table row
// gives, else by its place.
std::string AttachmentPart(const AttachmentRecord& a, std::size_t index) {
    const std::string& name = !a.longFileName.empty() ? a.longFileName : !a.fileName.empty() ? a.fileName : a.displayName;
    return "attachment " + (name.empty() ? std::to_string(index + 1) : "'" + name + "'");
}

constexpr std::int32_t kAttachEmbeddedMessage = 5;

// The subject of the message an attachment embeds (in the attachment's
// subnode `messageNid`): the name of last resort of an attachment that has
// no file name and no display name.
std::string EmbeddedSubject(StoreFile& store, const SubnodeEntry& attachment, std::uint32_t messageNid,
                            const MappingContext& ctx) {
    if (attachment.subnodeBlock == nullptr) return {};
    const SubnodeList own = ReadSubnodes(store, *attachment.subnodeBlock);
    const SubnodeEntry* message = own.FindEntry(messageNid);
    if (message == nullptr || message->block == nullptr) return {};
    SubnodeList inner;
    if (message->subnodeBlock != nullptr) ReadSubnodes(store, *message->subnodeBlock, inner);
    const auto list = ReadPropertyObject(store, *message->block, &inner);
    if (!list) return {};
    ItemRecord embedded;
    MappingContext plain = ctx;
    plain.bodies = false;
    MapProperties(&*list, &embedded, plain);
    const MessageFields* m = embedded.messageFields.get();
    return m != nullptr && m->subject ? m->subject->text : std::string();
}

void ReadAttachments(StoreFile& store, const SubnodeList& subnodes, ItemRecord& record, const MappingContext& ctx) {
    const BlockEntry* tableBlock = FindSubnode(subnodes, kAttachmentTableNid);
    if (tableBlock == nullptr) return;
    std::optional<ContentPart> part(std::in_place, store, "attachment table");
    const auto table = ReadPropertyObject(store, *tableBlock, &subnodes);
    if (!table || table->chunks.empty()) return;
    const auto rows = static_cast<std::size_t>(std::max(0, table->rowCount));
    if (rows == 0) return;
    record.attachments.assign(rows, AttachmentRecord{});
    record.currentAttachment = 0;
    MapProperties(&*table, &record, ctx);

    for (std::size_t i = 0; i < record.attachments.size(); ++i) {
        const std::uint32_t objectNid = record.attachments[i].nid;
        // The first subnode record of the NID holds the attachment object.
        const SubnodeEntry* entry = subnodes.FindEntry(objectNid);
        if (entry == nullptr || entry->block == nullptr) continue;
        part.reset();
        if (store.contentDamage != nullptr) part.emplace(store, AttachmentPart(record.attachments[i], i));
        const auto object = ReadPropertyObject(store, *entry->block, nullptr);
        if (!object) continue;
        record.currentAttachment = i;
        MapProperties(&*object, &record, ctx);
        AttachmentRecord& a = record.attachments[i];
        if (a.hasData) {
            a.dataBid = kAttachmentDataInRecord;
        } else if (a.nid != objectNid) {
            // The data stayed in a subnode whose NID the mapping noted.
            if (const BlockEntry* data = FindDataSubnode(store, subnodes, entry, a.nid)) a.dataBid = data->bid();
        }
        if (a.method == kAttachEmbeddedMessage && a.longFileName.empty() && a.fileName.empty() &&
            a.displayName.empty() && !a.hasData)
            a.embeddedSubject = EmbeddedSubject(store, *entry, a.nid, ctx);
    }
    record.currentAttachment = 0;
}

// PR_RECIPIENT_TYPE keeps the type in its low bits; higher flags (such as
// "already sent") are not part of it.
constexpr std::uint32_t kRecipientTypeMask = 0x0F;

void ReadRecipients(StoreFile& store, const SubnodeList& subnodes, ItemRecord& record, const MappingContext& ctx) {
    const BlockEntry* tableBlock = FindSubnode(subnodes, kRecipientTableNid);
    if (tableBlock == nullptr) return;
    const ContentPart part(store, "recipients");
    const auto table = ReadPropertyObject(store, *tableBlock, &subnodes);
    if (!table) return;
    const auto text = [&](const PropertyValue& v, std::string& member) {
        if (auto t = ValueText(v, ctx.formatVersion, record.codePage)) member = std::move(*t);
    };
    // The chunks come last row first.
    for (auto chunk = table->chunks.rbegin(); chunk != table->chunks.rend(); ++chunk) {
        RecipientRecord r;
        for (const PropertyValue& v : chunk->entries) {
            if (!v.hasData() || v.stringNamed || v.numericNamed) continue;
            switch (v.id) {
                case 0x3001: text(v, r.displayName); break;
                case 0x3002: text(v, r.addressType); break;
                case 0x3003: text(v, r.address); break;
                case 0x39FE: text(v, r.smtpAddress); break;
                case 0x0C15:
                    if (v.data->size() >= 4)
                        r.type = ByteReader(*v.data).peekAt(0, 4).value_or(1) & kRecipientTypeMask;
                    break;
                default: break;
            }
        }
        if (!r.displayName.empty() || !r.address.empty() || !r.smtpAddress.empty())
            record.recipients.push_back(std::move(r));
    }
}

constexpr std::uint32_t kMessageFlagsId = 0x0E07;
constexpr std::uint32_t kMessageFlagRead = 0x01;

// A folder node is a folder whatever its object holds. Some writers keep a
// folder's counts only in its parent's hierarchy row, and a row may lack
// them too: the counts then come from the folder's contents table (its
// rows, and those without the read flag) and the subfolder flag from the
// node index.
void CompleteFolderCounts(StoreFile& store, const NodeEntry& node, ItemRecord& record) {
    if (record.folderCounts || !IsFolderNid(node.nid) || record.storeFields) return;
    auto counts = std::make_unique<FolderCounts>();
    const std::uint32_t tableNid = (node.nid & ~kNidTypeMask) | kNidTypeContentsTable;
    const NodeEntry* table = FindNode(store, tableNid);
    if (table != nullptr && table->dataBlock() != nullptr) {
        SubnodeList subnodes;
        if (table->subnodeBlock() != nullptr) ReadSubnodes(store, *table->subnodeBlock(), subnodes);
        std::uint32_t rows = 0;
        std::uint32_t unread = 0;
        ForEachPropertyChunk(store, *table->dataBlock(), &subnodes, [&](PropertyChunk&& row) {
            ++rows;
            for (const PropertyValue& v : row.entries) {
                if (v.id != kMessageFlagsId || v.numericNamed || v.stringNamed || !v.hasData()) continue;
                const auto flags = ByteReader(*v.data).peekAt(0, 4);
                if (flags && (*flags & kMessageFlagRead) == 0) ++unread;
            }
        });
        counts->contentCount = rows;
        counts->unreadCount = unread;
    }
    for (const NodeEntry* child = store.forest.OldestChild(node); child != nullptr;
         child = store.forest.NewerSibling(*child)) {
        if (IsFolderNid(child->nid)) {
            counts->hasSubfolders = 1;
            break;
        }
    }
    record.folderCounts = std::move(counts);
}

}  // namespace

std::unique_ptr<ItemRecord> ReadItem(StoreFile& store, const NodeEntry& node, const StoreReader* reader,
                                     RtfWorkspace* rtf, RecipientRows recipients, ItemParts parts) {
    if (node.dataBlock() == nullptr) return nullptr;
    SubnodeList subnodes;
    if (node.indexEntryDoubtful()) NoteDamageLine(store, std::string(kDoubtfulEntryLine));
    {
        // The subnodes hold the recipients, the attachments and large values.
        const ContentPart part(store, kSubnodesPart);
        if (node.subnodeBlock() != nullptr) {
            ReadSubnodes(store, *node.subnodeBlock(), subnodes);
        } else if (node.bidSub() != 0) {
            NoteBlockFault(store, BlockFault::Missing, node.bidSub());  // named by the index, gone from the file
        }
    }
    const auto list = ReadPropertyObject(store, *node.dataBlock(), &subnodes);
    if (!list) return nullptr;
    MappingContext ctx = ContextFor(store, reader, rtf);
    const bool whole = parts == ItemParts::All;
    ctx.bodies = whole;
    auto record = std::make_unique<ItemRecord>();
    record->sourceNode = &node;
    record->bodiesLeftOut = !whole;
    if (MapProperties(&*list, record.get(), ctx) != 0) return nullptr;
    CompleteFolderCounts(store, node, *record);
    const bool ownContactFields = record->contactFields != nullptr;
    ReadAttachments(store, subnodes, *record, ctx);
    if (whole && recipients == RecipientRows::Read) ReadRecipients(store, subnodes, *record, ctx);
    record->contactFieldsOnlyFromAttachments = !ownContactFields && record->contactFields != nullptr;
    return record;
}

void ReadLeftOutParts(StoreFile& store, ItemRecord& record) {
    if (!record.bodiesLeftOut || record.sourceNode == nullptr) return;
    record.bodiesLeftOut = false;
    std::unique_ptr<ItemRecord> whole = ReadItem(store, *record.sourceNode);
    if (!whole) return;
    record.recipients = std::move(whole->recipients);
    if (!whole->messageFields) return;
    if (!record.messageFields) record.messageFields = std::make_unique<MessageFields>();
    MessageFields& to = *record.messageFields;
    MessageFields& from = *whole->messageFields;
    to.body = std::move(from.body);
    to.bodyText = std::move(from.bodyText);
    to.htmlBody = std::move(from.htmlBody);
    to.rtfFlag = from.rtfFlag;
    to.rtfCrcMismatch = from.rtfCrcMismatch;
    to.rtfTruncated = from.rtfTruncated;
}

int StreamAttachmentData(StoreFile& store, AttachmentRecord& attachment, const DataSink& sink) {
    if (attachment.dataBid == kAttachmentDataInRecord) {
        const std::size_t n = std::min<std::size_t>(attachment.data.size(), static_cast<std::size_t>(std::max(0, attachment.size)));
        if (n > 0 && sink) sink(std::span<const std::uint8_t>(attachment.data.data(), n));
        attachment.data = Bytes();
        attachment.hasData = false;
        return 1;
    }
    const BlockEntry* block = FindBlock(store, attachment.dataBid);
    if (block == nullptr) {
        attachment.size = 0;
        return 1;
    }
    std::uint64_t written = 0;
    NodeDataTarget target;
    target.sink = sink;
    ReadNodeData(store, *block, target, &written);
    attachment.size = static_cast<std::int32_t>(std::min<std::uint64_t>(written, INT32_MAX));
    return 1;
}

}  // namespace bm
