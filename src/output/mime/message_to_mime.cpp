#include "output/mime/message_to_mime.h"

#include <glib.h>

#include <cstdio>
#include <string_view>

#include "output/mime/message_fields.h"
#include "output/pst/props_tags.h"
#include "output/mime/mime_body.h"

namespace bm::mime {
namespace {

// Header fields of the transport headers that describe the old body, or
// the state a mail folder writes anew; all are made again.
constexpr const char* kDroppedFields[] = {
    "Content-Type",     "Content-Transfer-Encoding", "Content-Disposition", "Content-ID",     "Content-Description",
    "Content-Location", "Content-Language",          "Content-Length",      "MIME-Version",   "Status",
    "X-Status",         "X-Mozilla-Status",          "X-Mozilla-Status2",   "X-Mozilla-Keys",
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

std::string StripBrackets(std::string id) {
    while (!id.empty() && (id.front() == ' ' || id.front() == '<')) id.erase(0, 1);
    while (!id.empty() && (id.back() == ' ' || id.back() == '>')) id.pop_back();
    return id;
}

// A parsed copy of the transport headers (no body), or nullptr.
GPtr<GMimeMessage> ParseTransportHeaders(const std::string& headers) {
    std::string text = headers;
    // The stored block may end anywhere; an empty line closes it.
    text += "\r\n\r\n";
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed) return nullptr;
    GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(parsed.get()));
    if (g_mime_header_list_get_count(list) == 0) return nullptr;
    for (const char* name : kDroppedFields)
        while (g_mime_header_list_remove(list, name)) {
        }
    return parsed;
}

bool IsDotAtom(std::string_view s) {
    if (s.empty() || s.front() == '.' || s.back() == '.' || s.find("..") != std::string_view::npos) return false;
    for (const char c : s)
        if (!g_ascii_isalnum(c) && std::string_view("!#$%&'*+-/=?^_`{|}~.").find(c) == std::string_view::npos &&
            static_cast<unsigned char>(c) < 0x80)
            return false;
    return true;
}

// Whether every address of the list is one a reader takes: a local part
// and a domain, each an atom or quoted.
bool AllReadable(InternetAddressList* list) {
    for (int i = 0; i < internet_address_list_length(list); ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(a)) {
            if (!AllReadable(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)))) return false;
            continue;
        }
        const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
        const std::string_view address = addr ? addr : "";
        const auto at = address.rfind('@');
        if (at == std::string_view::npos) return false;
        const std::string_view local = address.substr(0, at);
        const std::string_view domain = address.substr(at + 1);
        const bool quoted = local.size() >= 2 && local.front() == '"' && local.back() == '"';
        const bool literal = domain.size() >= 2 && domain.front() == '[' && domain.back() == ']';
        if (!(quoted || IsDotAtom(local)) || !(literal || IsDotAtom(domain))) return false;
    }
    return true;
}

// The address fields kept from the transport headers, in GMime's own form
// (display names quoted where they must be). A field whose addresses no
// reader takes (a local part without domain, as old gateways wrote) is
// made from the properties instead, and its stored text kept in
// X-Brightmend-Original-<Field>.
void MendKeptAddresses(GMimeMessage* message) {
    struct Field {
        const char* name;
        GMimeAddressType type;
    };
    static constexpr Field kFields[] = {{"From", GMIME_ADDRESS_TYPE_FROM},
                                        {"Sender", GMIME_ADDRESS_TYPE_SENDER},
                                        {"Reply-To", GMIME_ADDRESS_TYPE_REPLY_TO},
                                        {"To", GMIME_ADDRESS_TYPE_TO},
                                        {"Cc", GMIME_ADDRESS_TYPE_CC},
                                        {"Bcc", GMIME_ADDRESS_TYPE_BCC}};
    GMimeObject* object = GMIME_OBJECT(message);
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    for (const Field& f : kFields) {
        GMimeHeader* header = g_mime_header_list_get_header(list, f.name);
        if (header == nullptr) continue;
        const char* rawValue = g_mime_header_get_raw_value(header);
        std::string raw = rawValue ? rawValue : "";
        InternetAddressList* addresses = g_mime_message_get_addresses(message, f.type);
        const bool readable = internet_address_list_length(addresses) > 0 && AllReadable(addresses);
        GString formatted(readable ? internet_address_list_to_string(addresses, WriteFormat(), TRUE) : nullptr);
        const std::string value = formatted ? formatted.get() : "";
        // Clearing the list writes an empty field, removed with the old one.
        internet_address_list_clear(addresses);
        while (g_mime_header_list_remove(list, f.name)) {
        }
        if (readable) {
            g_mime_object_set_header(object, f.name, value.c_str(), nullptr);
            continue;
        }
        // Unfolded, so the kept text is one unstructured field.
        std::string unfolded;
        for (const char c : raw)
            if (c != '\r' && c != '\n') unfolded += c;
        while (!unfolded.empty() && (unfolded.front() == ' ' || unfolded.front() == '\t')) unfolded.erase(0, 1);
        const std::string name = std::string("X-Brightmend-Original-") + f.name;
        if (!unfolded.empty()) g_mime_object_append_header(object, name.c_str(), unfolded.c_str(), "utf-8");
    }
}

void AddParty(InternetAddressList* list, const Party& party) {
    GPtr<InternetAddress> address(
        party.smtp.empty() ? internet_address_group_new(party.name.empty() ? party.legacy.c_str() : party.name.c_str())
                           : internet_address_mailbox_new(party.name.c_str(), party.smtp.c_str()));
    internet_address_set_charset(address.get(), "utf-8");
    internet_address_list_add(list, address.get());
}

void AddLegacy(GMimeMessage* message, const char* field, const Party& party) {
    if (!party.smtp.empty() || party.legacy.empty()) return;
    const std::string name = std::string("X-Brightmend-Exchange-") + field;
    const std::string value = party.name.empty() ? "<" + party.legacy + ">" : party.name + " <" + party.legacy + ">";
    g_mime_object_append_header(GMIME_OBJECT(message), name.c_str(), value.c_str(), "utf-8");
}

bool HasHeader(GMimeMessage* message, const char* name) {
    return g_mime_header_list_contains(g_mime_object_get_header_list(GMIME_OBJECT(message)), name);
}

// A Message-ID for a message that has none: the same for the same message,
// so exporting twice gives the same mail.
std::string MadeMessageId(const pst::Message& message) {
    GChecksum* sum = g_checksum_new(G_CHECKSUM_SHA256);
    for (const std::uint16_t id : {pst::tags::kSearchKey.id, pst::tags::kSubject.id}) {
        pst::PropKey key;
        key.id = id;
        if (const pst::Property* p = message.properties.Find(key))
            g_checksum_update(sum, p->bytes.data(), p->bytes.size());
    }
    const std::string t = std::to_string(SentTimeOf(message.properties));
    g_checksum_update(sum, reinterpret_cast<const guchar*>(t.data()), t.size());
    std::string hex = g_checksum_get_string(sum);
    g_checksum_free(sum);
    return hex.substr(0, 32) + "@brightmend.invalid";
}

void SetHeadersFromProperties(GMimeMessage* out, const pst::Message& message, bool onlyMissing) {
    const pst::PropertyBag& props = message.properties;
    const std::uint32_t cp = CodePageOf(props);
    const auto missing = [&](const char* name) { return !onlyMissing || !HasHeader(out, name); };

    if (missing("From")) {
        Party from = PartyOf(props, PartyRole::SentRepresenting);
        const Party sender = PartyOf(props, PartyRole::Sender);
        if (from.empty()) from = sender;
        if (!from.empty()) {
            AddParty(g_mime_message_get_addresses(out, GMIME_ADDRESS_TYPE_FROM), from);
            AddLegacy(out, "From", from);
        }
        if (!sender.empty() && (sender.smtp != from.smtp || sender.legacy != from.legacy) && missing("Sender")) {
            AddParty(g_mime_message_get_addresses(out, GMIME_ADDRESS_TYPE_SENDER), sender);
            AddLegacy(out, "Sender", sender);
        }
    }
    if (missing("Reply-To")) {
        for (const Party& party : ReplyToOf(props)) {
            AddParty(g_mime_message_get_addresses(out, GMIME_ADDRESS_TYPE_REPLY_TO), party);
            AddLegacy(out, "Reply-To", party);
        }
    }
    struct Field {
        std::int32_t type;
        GMimeAddressType address;
        const char* name;
    };
    static constexpr Field kFields[] = {{pst::kRecipientTo, GMIME_ADDRESS_TYPE_TO, "To"},
                                        {pst::kRecipientCc, GMIME_ADDRESS_TYPE_CC, "Cc"},
                                        {pst::kRecipientBcc, GMIME_ADDRESS_TYPE_BCC, "Bcc"}};
    const std::vector<Recipient> recipients = RecipientsOf(message);
    for (const Field& f : kFields) {
        if (!missing(f.name)) continue;
        for (const Recipient& r : recipients) {
            if (r.type != f.type) continue;
            AddParty(g_mime_message_get_addresses(out, f.address), r.party);
            AddLegacy(out, f.name, r.party);
        }
    }
    if (missing("Subject")) {
        const std::string subject = TextOf(props, pst::tags::kSubject.id, cp).value_or("");
        g_mime_message_set_subject(out, subject.c_str(), "utf-8");
    }
    if (missing("Date")) {
        GDateTime* date = g_date_time_new_from_unix_utc(SentTimeOf(props));
        g_mime_message_set_date(out, date);
        g_date_time_unref(date);
    }
    if (missing("Message-ID")) {
        const auto stored = TextOf(props, pst::tags::kInternetMessageId.id, cp);
        const std::string id = stored ? StripBrackets(*stored) : MadeMessageId(message);
        g_mime_message_set_message_id(out, id.c_str());
    }
    if (missing("In-Reply-To"))
        if (const auto v = TextOf(props, pst::tags::kInReplyToId.id, cp))
            g_mime_object_set_header(GMIME_OBJECT(out), "In-Reply-To", v->c_str(), nullptr);
    if (missing("References"))
        if (const auto v = TextOf(props, pst::tags::kInternetReferences.id, cp))
            g_mime_object_set_header(GMIME_OBJECT(out), "References", v->c_str(), nullptr);
}

bool IsSmime(const pst::Message& message) {
    const std::string cls = TextOf(message.properties, pst::tags::kMessageClass.id, 0).value_or("");
    return StartsWithNoCase(cls, "IPM.Note.SMIME");
}

// The stored MIME content of a signed or encrypted mail: the attachment
// that holds it, with its MIME type. nullptr when it has none.
const pst::Attachment* SmimeContent(const pst::Message& message, std::string& type) {
    for (const pst::Attachment& a : message.attachments) {
        const std::string tag = TextOf(a.properties, pst::tags::kAttachMimeTag.id, 0).value_or("");
        if (StartsWithNoCase(tag, "multipart/signed") || StartsWithNoCase(tag, "application/pkcs7-mime") ||
            StartsWithNoCase(tag, "application/x-pkcs7-mime")) {
            type = tag;
            return &a;
        }
    }
    return nullptr;
}

}  // namespace

GPtr<GMimeMessage> BuildMessage(const pst::Message& message, int depth) {
    InitGMime();
    GPtr<GMimeMessage> out;
    const auto headers =
        TextOf(message.properties, pst::tags::kTransportMessageHeaders.id, CodePageOf(message.properties));
    if (headers) out = ParseTransportHeaders(*headers);
    const bool kept = out != nullptr;
    if (kept) MendKeptAddresses(out.get());
    if (!out) out.reset(g_mime_message_new(TRUE));
    SetHeadersFromProperties(out.get(), message, kept);
    GPtr<GMimeObject> body = BuildBody(message, depth);
    g_mime_message_set_mime_part(out.get(), body.get());
    return out;
}

std::string MessageToMime(const pst::Message& message) {
    InitGMime();
    std::string type;
    const pst::Attachment* content = IsSmime(message) ? SmimeContent(message, type) : nullptr;
    if (content == nullptr) {
        GPtr<GMimeMessage> built = BuildMessage(message, 0);
        return ToBytes(GMIME_OBJECT(built.get()));
    }
    // The headers as for any mail, then the stored content untouched: a
    // multipart/signed entity carries its own Content-Type line; an opaque
    // one is the PKCS #7 blob, which only needs its type and base64.
    GPtr<GMimeMessage> shell(g_mime_message_new(TRUE));
    const auto headers =
        TextOf(message.properties, pst::tags::kTransportMessageHeaders.id, CodePageOf(message.properties));
    if (headers)
        if (GPtr<GMimeMessage> parsed = ParseTransportHeaders(*headers)) {
            shell = std::move(parsed);
            MendKeptAddresses(shell.get());
        }
    SetHeadersFromProperties(shell.get(), message, headers.has_value());
    GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(shell.get()));
    GString text(g_mime_header_list_to_string(list, WriteFormat()));
    std::string out = text.get();
    out += "MIME-Version: 1.0\n";
    const std::string bytes = AttachmentData(*content);
    if (StartsWithNoCase(type, "multipart/signed")) {
        out += bytes;
        return out;
    }
    GPtr<GMimePart> part(g_mime_part_new_with_type("application", "pkcs7-mime"));
    g_mime_object_set_content_type_parameter(
        GMIME_OBJECT(part.get()), "smime-type",
        type.find("signed-data") != std::string::npos ? "signed-data" : "enveloped-data");
    g_mime_part_set_filename(part.get(), "smime.p7m");
    g_mime_part_set_content(part.get(), WrapBytes(bytes).get());
    g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
    out += ToBytes(GMIME_OBJECT(part.get()));
    return out;
}

}  // namespace bm::mime
