#include "output/pst/message_writer.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"

namespace bm::pst {

namespace {

constexpr Nid kRecipientTableNid = 0x692;
constexpr Nid kAttachmentTableNid = 0x671;
constexpr std::int32_t kNoRenderingPosition = -1;
// An attachment holds at most one embedded message, so its subnode NID can be
// fixed. It lies below the indexes the store hands out to top-level messages:
// some readers look an embedded message's NID up among the store's nodes
// before the attachment's subnodes, and must not find another message there.
constexpr Nid kEmbeddedMessageNid = MakeNid(NidType::NormalMessage, 0x102);

std::vector<std::uint8_t> Le(std::uint64_t v, std::size_t width) {
    std::vector<std::uint8_t> out(width);
    PutLe(out.data(), v, width);
    return out;
}

// A property context holds one value per property id, whatever its type: a
// copied item may carry a property as 8-bit text (PT_STRING8) where the
// writer would set Unicode, and the writer must not add a second one.
PcValue* FindValue(std::vector<PcValue>& values, PropTag tag) {
    for (auto& v : values) {
        if (v.id == tag.id) return &v;
    }
    return nullptr;
}

void SetDefault(std::vector<PcValue>& values, PropTag tag, std::vector<std::uint8_t> bytes) {
    if (FindValue(values, tag) == nullptr) values.push_back({tag.id, tag.type, std::move(bytes), std::nullopt});
}

// Sets a PT_LONG value whatever the property held before.
void SetInt32(std::vector<PcValue>& values, PropTag tag, std::uint32_t value) {
    if (PcValue* v = FindValue(values, tag)) {
        v->type = PropType::Int32;
        v->Replace(Le(value, 4));
        v->subnode.reset();
    } else {
        values.push_back({tag.id, PropType::Int32, Le(value, 4), std::nullopt});
    }
}

std::uint32_t ClampSize(std::uint64_t size) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, std::numeric_limits<std::int32_t>::max()));
}

constexpr std::uint16_t kMessageCodePageId = 0x3FFD;
constexpr std::uint16_t kInternetCodePageId = 0x3FDE;
constexpr unsigned kDefaultCodePage = 1252;

// The code page of a message's 8-bit text: its message code page, else its
// Internet code page, else Windows-1252.
unsigned TextCodePage(const std::vector<PcValue>& values) {
    for (const std::uint16_t id : {kMessageCodePageId, kInternetCodePageId}) {
        for (const auto& v : values) {
            if (v.id == id && v.type == PropType::Int32 && v.stored().size() == 4) {
                const auto cp = static_cast<unsigned>(ByteReader(v.stored()).readU32());
                if (cp != 0) return cp;
            }
        }
    }
    return kDefaultCodePage;
}

// The row cells of `layout` the values fill. An 8-bit string (a copied
// item's PT_STRING8) fills its Unicode column decoded with the message's
// code page, not as bytes; the property itself stays as it is.
std::vector<TableRow::Cell> CellsFor(const TableLayout& layout, const std::vector<PcValue>& values) {
    std::vector<TableRow::Cell> cells;
    cells.reserve(std::min(values.size(), layout.columns().size()));
    std::optional<unsigned> codePage;
    for (const auto& v : values) {
        if (v.subnode) continue;
        const std::uint32_t tag = (std::uint32_t{v.id} << 16) | static_cast<std::uint16_t>(v.type);
        if (layout.Find(tag) != nullptr) {
            const std::span<const std::uint8_t> bytes = v.stored();
            cells.push_back({tag, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
            continue;
        }
        const std::uint32_t unicodeTag = (std::uint32_t{v.id} << 16) | static_cast<std::uint16_t>(PropType::Unicode);
        if (v.type != PropType::String8 || layout.Find(unicodeTag) == nullptr) continue;
        if (!codePage) codePage = TextCodePage(values);
        const std::span<const std::uint8_t> bytes = v.stored();
        const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
        const std::string text = Utf8ToUtf16LeBytes(CodePageToUtf8(std::span(bytes.begin(), end), *codePage));
        cells.push_back({unicodeTag, std::vector<std::uint8_t>(text.begin(), text.end())});
    }
    return cells;
}

}  // namespace

std::vector<PcValue> MessageWriter::ResolveProperties(const PropertyBag& bag) {
    std::vector<PcValue> values;
    values.reserve(bag.size() + 8);
    for (const auto& p : bag.properties()) {
        const std::uint16_t id = p.key.isNamed() ? names_.IdOf(p.key) : p.key.id;
        values.push_back({id, p.type, {}, std::nullopt, p.bytes});
    }
    return values;
}

void MessageWriter::WriteAttachment(const Attachment& attachment, LocalSubnodes& owner, std::vector<TableRow>& rows) {
    LocalSubnodes own(ndb_);
    std::vector<PcValue> values = ResolveProperties(attachment.properties);
    std::uint64_t contentSize = 0;
    std::int32_t method = kAttachByValue;

    auto streamed = [&](std::uint64_t size, const StreamReader& read) {
        contentSize = size;
        const Bid data = ndb_.WriteDataStream(size, read);
        values.push_back({tags::kAttachDataBinary.id, PropType::Binary, {}, own.Add(NidType::Ltp, data, 0)});
    };
    if (std::holds_alternative<NoContent>(attachment.content)) {
        // Nothing to write: the attachment is its properties.
    } else if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&attachment.content);
               bytes != nullptr && attachment.objectData) {
        contentSize = bytes->size();
        std::size_t at = 0;
        const Bid data = ndb_.WriteDataStream(bytes->size(), [&](std::span<std::uint8_t> buf) {
            const std::size_t n = std::min(buf.size(), bytes->size() - at);
            std::copy_n(bytes->begin() + static_cast<std::ptrdiff_t>(at), n, buf.begin());
            at += n;
            return n;
        });
        const Nid nid = own.Add(NidType::Ltp, data, 0);
        std::vector<std::uint8_t> ref = Le(nid, 4);
        const auto size = Le(ClampSize(bytes->size()), 4);
        ref.insert(ref.end(), size.begin(), size.end());
        values.push_back({tags::kAttachDataObject.id, PropType::Object, std::move(ref), std::nullopt});
    } else if (bytes != nullptr) {
        contentSize = bytes->size();
        values.push_back({tags::kAttachDataBinary.id, PropType::Binary, {}, std::nullopt, *bytes});
    } else if (const auto* path = std::get_if<std::filesystem::path>(&attachment.content)) {
        std::ifstream in(*path, std::ios::binary);
        std::error_code ec;
        const auto size = std::filesystem::file_size(*path, ec);
        if (!in || ec) throw std::runtime_error("cannot read attachment file " + path->string());
        streamed(size, [&in](std::span<std::uint8_t> buf) {
            in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size()));
            return static_cast<std::size_t>(in.gcount());
        });
    } else if (const auto* stream = std::get_if<StreamSource>(&attachment.content)) {
        streamed(stream->size, stream->read);
    } else {
        const auto& embedded = std::get<std::shared_ptr<const Message>>(attachment.content);
        if (!embedded) throw std::invalid_argument("embedded message attachment without a message");
        const WrittenMessage inner = Write(*embedded);
        contentSize = inner.size;
        method = kAttachEmbeddedMessage;
        own.AddFixed(kEmbeddedMessageNid, inner.data, inner.subnodes);
        const Nid nid = kEmbeddedMessageNid;
        std::vector<std::uint8_t> ref = Le(nid, 4);
        const auto size = Le(inner.size, 4);
        ref.insert(ref.end(), size.begin(), size.end());
        values.push_back({tags::kAttachDataObject.id, PropType::Object, std::move(ref), std::nullopt});
    }
    SetDefault(values, tags::kAttachMethod, Le(static_cast<std::uint32_t>(method), 4));
    SetDefault(values, tags::kRenderingPosition, Le(static_cast<std::uint32_t>(kNoRenderingPosition), 4));
    SetInt32(values, tags::kAttachSize, 0);
    std::uint64_t attachSize = 0;
    for (const auto& v : values) {
        // The data and the object count as what they hold, not as the
        // reference the record keeps.
        const bool content =
            v.id == tags::kAttachDataBinary.id && (v.subnode.has_value() || v.type == PropType::Object);
        attachSize += content ? contentSize : v.stored().size();
    }
    SetInt32(values, tags::kAttachSize, ClampSize(attachSize));

    const auto heap = BuildPropertyContext(values, own.Sink());
    const Bid data = ndb_.WriteDataBlocks(heap);
    const Bid subnodes = own.Finish();
    const Nid nid = owner.Add(NidType::Attachment, data, subnodes);
    TableRow row;
    row.id = nid;
    row.version = static_cast<std::uint32_t>(rows.size() + 1);
    row.cells = CellsFor(AttachmentTableLayout(), values);
    rows.push_back(std::move(row));
}

WrittenMessage MessageWriter::Write(const Message& message) { return Write(message, ContentsTableLayout()); }

WrittenMessage MessageWriter::Write(const Message& message, const TableLayout& rowLayout) {
    // Every byte of node data written from here on is this message's.
    const std::uint64_t startBytes = ndb_.dataBytes();
    LocalSubnodes subnodes(ndb_);
    std::vector<PcValue> values = ResolveProperties(message.properties);

    // Attachments first: their subnodes and table rows.
    std::vector<TableRow> attachmentRows;
    for (const auto& a : message.attachments) WriteAttachment(a, subnodes, attachmentRows);
    if (!attachmentRows.empty()) {
        const auto heap = BuildTableContext(AttachmentTableLayout(), attachmentRows, subnodes.Sink());
        subnodes.AddFixed(kAttachmentTableNid, ndb_.WriteDataBlocks(heap), 0);
    }

    // The recipient table: the template's columns and whatever else the
    // recipients carry, since the table is where recipients live.
    std::vector<TableRow> recipientRows;
    std::vector<std::uint32_t> extraTags;
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        auto rv = ResolveProperties(message.recipients[i]);
        SetDefault(rv, tags::kRecipientType, Le(kRecipientTo, 4));
        TableRow row;
        row.id = static_cast<std::uint32_t>(i);
        row.version = static_cast<std::uint32_t>(i + 1);
        for (auto& v : rv) {
            const std::uint32_t tag = (std::uint32_t{v.id} << 16) | static_cast<std::uint16_t>(v.type);
            extraTags.push_back(tag);
            const std::span<const std::uint8_t> bytes = v.stored();
            row.cells.push_back({tag, v.borrowed.empty() ? std::move(v.bytes)
                                                         : std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
        }
        recipientRows.push_back(std::move(row));
    }
    const TableLayout recipientLayout = RecipientTableLayout().Extend(extraTags);
    {
        const auto heap = BuildTableContext(recipientLayout, recipientRows, subnodes.Sink());
        subnodes.AddFixed(kRecipientTableNid, ndb_.WriteDataBlocks(heap), 0);
    }

    // Properties the writer keeps right or fills in.
    std::uint32_t flags = kMessageFlagRead;
    if (PcValue* f = FindValue(values, tags::kMessageFlags)) {
        flags = static_cast<std::uint32_t>(ByteReader(f->stored()).readU32());
    }
    if (!message.attachments.empty()) flags |= kMessageFlagHasAttachment;
    if (PcValue* f = FindValue(values, tags::kMessageFlags)) {
        f->type = PropType::Int32;
        f->Replace(Le(flags, 4));
    } else {
        values.push_back({tags::kMessageFlags.id, PropType::Int32, Le(flags, 4), std::nullopt});
    }
    if (FindValue(values, tags::kMessageClass) == nullptr) {
        const std::string note = Utf8ToUtf16LeBytes("IPM.Note");
        values.push_back({tags::kMessageClass.id, PropType::Unicode, {note.begin(), note.end()}, std::nullopt});
    }
    SetDefault(values, tags::kCreationTime, Le(static_cast<std::uint64_t>(defaultTime_), 8));
    SetDefault(values, tags::kLastModificationTime, Le(static_cast<std::uint64_t>(defaultTime_), 8));
    // The size counts the property context itself, whose layout does not
    // depend on the value: built first, then given the size.
    SetInt32(values, tags::kMessageSize, 0);
    auto heap = BuildPropertyContext(values, subnodes.Sink());
    std::uint64_t total = ndb_.dataBytes() - startBytes;
    for (const auto& block : heap) total += block.size();
    const std::uint32_t size = ClampSize(total);
    SetInt32(values, tags::kMessageSize, size);
    SetInlineValue(heap, tags::kMessageSize.id, size);

    WrittenMessage out;
    out.size = size;
    out.read = (flags & kMessageFlagRead) != 0;
    out.rowCells = CellsFor(rowLayout, values);
    out.data = ndb_.WriteDataBlocks(heap);
    out.subnodes = subnodes.Finish();
    return out;
}

}  // namespace bm::pst
