#include "output/mime/mime_body.h"

#include <fcntl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "messaging/compressed_rtf.h"
#include "messaging/rtf_text.h"
#include "output/mime/html_charset.h"
#include "output/mime/message_fields.h"
#include "output/pst/props_tags.h"
#include "output/mime/rtf_html.h"
#include "output/source_copy.h"

namespace bm::mime {
namespace {

constexpr std::int32_t kMethodEmbedded = 5;
constexpr std::int32_t kMethodOle = 6;

struct Texts {
    std::optional<std::string> plain;
    std::optional<std::string> html;
};

Texts TextsOf(const pst::Message& message) {
    const std::uint32_t cp = CodePageOf(message.properties);
    Texts t;
    t.plain = TextOf(message.properties, pst::tags::kBody.id, cp);
    if (const auto html = BinaryOf(message.properties, pst::tags::kHtml.id); html && !html->empty()) {
        t.html = ToUtf8(*html, CharsetOfCodePage(cp));
    } else {
        t.html = TextOf(message.properties, pst::tags::kHtml.id, cp);
    }
    if (t.html) t.html = MetaCharsetToUtf8(std::move(*t.html));
    if (t.plain || t.html) return t;
    const auto compressed = BinaryOf(message.properties, pst::tags::kRtfCompressed.id);
    if (!compressed || compressed->empty()) return t;
    const std::vector<std::uint8_t> rtf =
        DecodeCompressedRtf({reinterpret_cast<const std::uint8_t*>(compressed->data()), compressed->size()});
    if (auto html = HtmlFromRtf(rtf)) {
        t.html = MetaCharsetToUtf8(std::move(*html));
    } else {
        std::string text;
        RtfToText(rtf, text);  // what the reader gave before a fault is kept
        if (!text.empty()) t.plain = std::move(text);
    }
    return t;
}

GPtr<GMimeObject> TextPart(const char* subtype, const std::string& utf8) {
    GPtr<GMimePart> part(GMIME_PART(g_mime_text_part_new_with_subtype(subtype)));
    g_mime_part_set_content(part.get(), WrapBytes(utf8).get());
    g_mime_text_part_set_charset(GMIME_TEXT_PART(part.get()), "utf-8");
    g_mime_part_set_content_encoding(part.get(),
                                     g_mime_part_get_best_content_encoding(part.get(), GMIME_ENCODING_CONSTRAINT_7BIT));
    return GPtr<GMimeObject>(GMIME_OBJECT(part.release()));
}

std::string NameOf(const pst::Attachment& a, std::uint32_t cp) {
    for (const std::uint16_t id :
         {pst::tags::kAttachLongFilename.id, pst::tags::kAttachFilename.id, pst::tags::kDisplayName.id})
        if (auto name = TextOf(a.properties, id, cp)) return *name;
    return {};
}

std::string MimeTypeOf(const pst::Attachment& a, const std::string& name, std::uint32_t cp) {
    if (auto tag = TextOf(a.properties, pst::tags::kAttachMimeTag.id, cp)) {
        const auto slash = tag->find('/');
        if (slash != std::string::npos && slash > 0 && slash + 1 < tag->size() &&
            tag->find_first_of(" \t\r\n;\"") == std::string::npos)
            return *tag;
    }
    struct Known {
        const char* extension;
        const char* type;
    };
    static constexpr Known kKnown[] = {
        {".txt", "text/plain"},
        {".htm", "text/html"},
        {".html", "text/html"},
        {".csv", "text/csv"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".bmp", "image/bmp"},
        {".pdf", "application/pdf"},
        {".zip", "application/zip"},
        {".ics", "text/calendar"},
        {".vcf", "text/vcard"},
        {".eml", "message/rfc822"},
        {".xml", "application/xml"},
        {".doc", "application/msword"},
        {".xls", "application/vnd.ms-excel"},
    };
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        const std::string extension(name, dot);
        for (const Known& k : kKnown)
            if (g_ascii_strcasecmp(extension.c_str(), k.extension) == 0) return k.type;
    }
    return "application/octet-stream";
}

// The attachment's data as GMime reads it while it writes the message:
// a file is read from the file, bytes and streams are held once (the
// stream's pieces go straight into GMime's buffer).
GPtr<GMimeDataWrapper> AttachmentContent(const pst::Attachment& a) {
    GPtr<GMimeStream> stream;
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&a.content)) {
        stream.reset(g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    } else if (const auto* path = std::get_if<std::filesystem::path>(&a.content)) {
        GError* error = nullptr;
        stream.reset(g_mime_stream_fs_open(path->c_str(), O_RDONLY, 0, &error));
        if (error) g_error_free(error);
    } else if (const auto* source = std::get_if<pst::StreamSource>(&a.content)) {
        GByteArray* array = g_byte_array_sized_new(static_cast<guint>(std::min<std::uint64_t>(source->size, 1u << 30)));
        std::vector<std::uint8_t> chunk(64 * 1024);
        while (array->len < source->size) {
            const std::size_t n = source->read(chunk);
            if (n == 0) break;
            g_byte_array_append(array, chunk.data(), static_cast<guint>(n));
        }
        stream.reset(g_mime_stream_mem_new_with_byte_array(array));  // the stream owns the array
    }
    if (!stream) stream.reset(g_mime_stream_mem_new());
    return GPtr<GMimeDataWrapper>(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
}

GPtr<GMimeObject> AttachmentPart(const pst::Attachment& a, std::uint32_t cp, int depth, bool inlined) {
    const std::string name = NameOf(a, cp);
    const std::int32_t method = Int32Of(a.properties, pst::tags::kAttachMethod.id).value_or(1);
    if (const auto* embedded = std::get_if<std::shared_ptr<const pst::Message>>(&a.content);
        embedded && *embedded && depth < kMaxEmbeddingDepth) {
        GPtr<GMimeMessage> inner = BuildMessage(**embedded, depth + 1);
        GPtr<GMimeObject> part(GMIME_OBJECT(g_mime_message_part_new_with_message("rfc822", inner.get())));
        g_mime_object_set_disposition(part.get(), "attachment");
        if (!name.empty()) g_mime_object_set_content_disposition_parameter(part.get(), "filename", name.c_str());
        return part;
    }
    std::string type = method == kMethodOle || a.objectData || method == kMethodEmbedded
                           ? std::string("application/octet-stream")
                           : MimeTypeOf(a, name, cp);
    const auto slash = type.find('/');
    GPtr<GMimePart> part(g_mime_part_new_with_type(type.substr(0, slash).c_str(), type.substr(slash + 1).c_str()));
    g_mime_part_set_content(part.get(), AttachmentContent(a).get());
    g_mime_object_set_disposition(GMIME_OBJECT(part.get()), inlined ? "inline" : "attachment");
    if (!name.empty()) g_mime_part_set_filename(part.get(), name.c_str());
    if (auto cid = TextOf(a.properties, pst::tags::kAttachContentId.id, cp)) {
        if (cid->size() > 2 && cid->front() == '<' && cid->back() == '>') *cid = cid->substr(1, cid->size() - 2);
        g_mime_part_set_content_id(part.get(), cid->c_str());
    }
    g_mime_part_set_content_encoding(part.get(),
                                     g_mime_part_get_best_content_encoding(part.get(), GMIME_ENCODING_CONSTRAINT_7BIT));
    return GPtr<GMimeObject>(GMIME_OBJECT(part.release()));
}

// Whether the HTML shows the attachment by its content id.
bool ShownInline(const pst::Attachment& a, const std::optional<std::string>& html, std::uint32_t cp) {
    if (!html || std::holds_alternative<std::shared_ptr<const pst::Message>>(a.content)) return false;
    auto cid = TextOf(a.properties, pst::tags::kAttachContentId.id, cp);
    if (!cid) return false;
    if (cid->size() > 2 && cid->front() == '<' && cid->back() == '>') *cid = cid->substr(1, cid->size() - 2);
    return html->find("cid:" + *cid) != std::string::npos;
}

GPtr<GMimeObject> Multipart(const char* subtype, std::vector<GPtr<GMimeObject>> parts) {
    if (parts.size() == 1) return std::move(parts.front());
    GPtr<GMimeMultipart> multipart(g_mime_multipart_new_with_subtype(subtype));
    for (const auto& p : parts) g_mime_multipart_add(multipart.get(), p.get());
    return GPtr<GMimeObject>(GMIME_OBJECT(multipart.release()));
}

}  // namespace

// The attachment's data; empty for one without data.
std::string AttachmentData(const pst::Attachment& a) {
    std::string out;
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&a.content)) {
        out.assign(bytes->begin(), bytes->end());
    } else if (const auto* path = std::get_if<std::filesystem::path>(&a.content)) {
        std::ifstream in(*path, std::ios::binary);
        out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else if (const auto* stream = std::get_if<pst::StreamSource>(&a.content)) {
        std::vector<std::uint8_t> chunk(64 * 1024);
        while (out.size() < stream->size) {
            const std::size_t n = stream->read(chunk);
            if (n == 0) break;
            out.append(reinterpret_cast<const char*>(chunk.data()), n);
        }
    }
    return out;
}

GPtr<GMimeObject> BuildBody(const pst::Message& message, int depth) {
    const std::uint32_t cp = CodePageOf(message.properties);
    const Texts texts = TextsOf(message);
    std::vector<GPtr<GMimeObject>> alternatives;
    if (texts.plain) alternatives.push_back(TextPart("plain", *texts.plain));
    if (texts.html) alternatives.push_back(TextPart("html", *texts.html));
    if (alternatives.empty()) alternatives.push_back(TextPart("plain", ""));
    GPtr<GMimeObject> body = Multipart("alternative", std::move(alternatives));

    std::vector<GPtr<GMimeObject>> related;
    std::vector<GPtr<GMimeObject>> mixed;
    related.push_back(std::move(body));
    for (const pst::Attachment& a : message.attachments) {
        const bool inlined = ShownInline(a, texts.html, cp);
        (inlined ? related : mixed).push_back(AttachmentPart(a, cp, depth, inlined));
    }
    const bool withImages = related.size() > 1;
    const char* shown = texts.plain && texts.html ? "multipart/alternative" : texts.html ? "text/html" : "text/plain";
    body = Multipart("related", std::move(related));
    if (withImages) g_mime_object_set_content_type_parameter(body.get(), "type", shown);
    mixed.insert(mixed.begin(), std::move(body));
    return Multipart("mixed", std::move(mixed));
}

}  // namespace bm::mime
