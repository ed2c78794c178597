#include "output/mime/message_fields.h"

#include <glib.h>

#include <bit>
#include <cstring>
#include <memory>

#include "common/byte_reader.h"
#include "output/mime/entry_ids.h"

namespace bm::mime {
namespace {

using pst::PropType;

constexpr std::uint16_t kFlagStatus = 0x1090;
constexpr std::uint16_t kIconIndex = 0x1080;
constexpr std::uint16_t kLastVerbExecuted = 0x1081;
constexpr std::uint16_t kDeliveryTime = 0x0E06;
constexpr std::uint16_t kSubmitTime = 0x0039;
constexpr std::uint16_t kCreationTime = 0x3007;

constexpr std::int32_t kFlagRead = 0x01;
constexpr std::int32_t kFlagUnsent = 0x08;
constexpr std::int32_t kFollowUpFlagged = 2;
constexpr std::int32_t kIconReplied = 261;
constexpr std::int32_t kIconForwarded = 262;
constexpr std::int32_t kVerbReply = 102;
constexpr std::int32_t kVerbReplyAll = 103;
constexpr std::int32_t kVerbForward = 104;

std::uint64_t Le(std::span<const std::uint8_t> bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) v = (v << 8) | bytes[i];
    return v;
}

// 8-bit text less its terminating NULs, as UTF-8.
std::string String8ToUtf8(std::span<const std::uint8_t> bytes, std::uint32_t codePage) {
    std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1);
    return ToUtf8(raw, CharsetOfCodePage(codePage));
}

// The values of a multi-valued variable-size property: a count, an offset
// per value (from the start) and the values. Empty when not well formed.
std::vector<std::string> SplitValues(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    const std::uint32_t count = r.readU32();
    if (!r.ok() || count > r.remaining() / 4) return {};
    std::vector<std::uint32_t> offsets(count);
    for (auto& o : offsets) o = r.readU32();
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? offsets[i + 1] : bytes.size();
        if (offsets[i] > end || end > bytes.size()) return {};
        const auto value = bytes.subspan(offsets[i], end - offsets[i]);
        out.emplace_back(value.begin(), value.end());
    }
    return out;
}

}  // namespace

pst::PropKey IdKey(std::uint16_t id) {
    pst::PropKey key;
    key.id = id;
    return key;
}

std::string Utf16ToUtf8(std::span<const std::uint8_t> bytes) {
    std::size_t units = bytes.size() / 2;
    const auto unit = [&bytes](std::size_t i) -> std::uint32_t { return bytes[2 * i] | (bytes[2 * i + 1] << 8); };
    while (units > 0 && unit(units - 1) == 0) --units;  // the terminator and any padding
    std::string out;
    out.reserve(units + units / 2);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t c = unit(i);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return out;
}

namespace {

bool IsSmtpAddress(std::string_view address) {
    const auto at = address.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < address.size() &&
           address.find_first_of(" \t\r\n<>\"") == std::string_view::npos;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string CharsetOfCodePage(std::uint32_t codePage) {
    struct Known {
        std::uint32_t codePage;
        const char* charset;
    };
    static constexpr Known kKnown[] = {
        {65001, "UTF-8"},       {20127, "US-ASCII"},    {1200, "UTF-16LE"},     {1201, "UTF-16BE"},
        {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},
        {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
        {28599, "ISO-8859-9"},  {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {50220, "ISO-2022-JP"},
        {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP"}, {51932, "EUC-JP"},      {51936, "GB2312"},
        {51949, "EUC-KR"},      {52936, "HZ"},          {54936, "GB18030"},     {20866, "KOI8-R"},
        {21866, "KOI8-U"},      {10000, "MACINTOSH"},   {950, "BIG5-HKSCS"},
    };
    if (codePage == 0) return "CP1252";
    for (const Known& k : kKnown)
        if (k.codePage == codePage) return k.charset;
    return "CP" + std::to_string(codePage);
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    const std::string from(charset);
    if (!EqualsNoCase(from, "UTF-8") && !EqualsNoCase(from, "US-ASCII")) {
        gsize written = 0;
        GError* error = nullptr;
        std::unique_ptr<gchar, decltype(&g_free)> converted(
            g_convert_with_fallback(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", from.c_str(),
                                    "\xEF\xBF\xBD", nullptr, &written, &error),
            &g_free);
        if (error) g_error_free(error);
        if (converted) return std::string(converted.get(), written);
    }
    // UTF-8 already, or a charset iconv does not know: keep what is valid.
    std::unique_ptr<gchar, decltype(&g_free)> valid(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())),
                                                    &g_free);
    return valid.get();
}

std::uint32_t CodePageOf(const pst::PropertyBag& bag) {
    for (const std::uint16_t id : {prop::kInternetCodepage, prop::kMessageCodepage})
        if (const auto value = Int32Of(bag, id); value && *value > 0) return static_cast<std::uint32_t>(*value);
    return 0;
}

std::optional<std::string> TextOf(const pst::PropertyBag& bag, const pst::PropKey& key, std::uint32_t codePage) {
    const pst::Property* p = bag.Find(key);
    if (!p || p->bytes.empty()) return std::nullopt;
    std::string text;
    if (p->type == PropType::Unicode) {
        text = Utf16ToUtf8(p->bytes);
    } else if (p->type == PropType::String8) {
        text = String8ToUtf8(p->bytes, codePage);
    } else {
        return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<std::string> BinaryOf(const pst::PropertyBag& bag, const pst::PropKey& key) {
    const pst::Property* p = bag.Find(key);
    if (!p || (p->type != PropType::Binary && p->type != PropType::Object)) return std::nullopt;
    return std::string(p->bytes.begin(), p->bytes.end());
}

std::optional<std::int32_t> Int32Of(const pst::PropertyBag& bag, const pst::PropKey& key) {
    const pst::Property* p = bag.Find(key);
    if (!p || p->bytes.empty()) return std::nullopt;
    if (p->type == PropType::Boolean) return p->bytes[0] != 0 ? 1 : 0;
    if (p->type == PropType::Int16 && p->bytes.size() >= 2)
        return static_cast<std::int16_t>(Le(std::span(p->bytes).first(2)));
    if (p->type != PropType::Int32 || p->bytes.size() < 4) return std::nullopt;
    return static_cast<std::int32_t>(Le(std::span(p->bytes).first(4)));
}

std::optional<std::int64_t> UnixTimeOf(const pst::PropertyBag& bag, const pst::PropKey& key) {
    const pst::Property* p = bag.Find(key);
    if (!p || p->type != PropType::SysTime || p->bytes.size() != 8) return std::nullopt;
    const std::uint64_t ft = Le(p->bytes);
    const std::int64_t seconds = UnixFromFileTime(ft);
    // Dates after 9999 do not fit the date form of a header.
    if (seconds < 0 || seconds > 253402300799LL) return std::nullopt;
    return seconds;
}

std::optional<double> DoubleOf(const pst::PropertyBag& bag, const pst::PropKey& key) {
    const pst::Property* p = bag.Find(key);
    if (!p || p->type != PropType::Double || p->bytes.size() != 8) return std::nullopt;
    return std::bit_cast<double>(Le(p->bytes));
}

std::vector<std::string> MultiBinaryOf(const pst::PropertyBag& bag, const pst::PropKey& key) {
    const pst::Property* p = bag.Find(key);
    if (!p || p->type != PropType::MvBinary) return {};
    return SplitValues(p->bytes);
}

std::vector<std::string> MultiTextOf(const pst::PropertyBag& bag, const pst::PropKey& key, std::uint32_t codePage) {
    const pst::Property* p = bag.Find(key);
    if (!p || (p->type != PropType::MvUnicode && p->type != PropType::MvString8)) return {};
    std::vector<std::string> out;
    for (const std::string& value : SplitValues(p->bytes)) {
        const std::span bytes(reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
        std::string text = p->type == PropType::MvUnicode ? Utf16ToUtf8(bytes) : String8ToUtf8(bytes, codePage);
        if (!text.empty()) out.push_back(std::move(text));
    }
    return out;
}

std::optional<std::string> TextOf(const pst::PropertyBag& bag, std::uint16_t id, std::uint32_t codePage) {
    return TextOf(bag, IdKey(id), codePage);
}
std::optional<std::string> BinaryOf(const pst::PropertyBag& bag, std::uint16_t id) { return BinaryOf(bag, IdKey(id)); }
std::optional<std::int32_t> Int32Of(const pst::PropertyBag& bag, std::uint16_t id) { return Int32Of(bag, IdKey(id)); }
std::optional<std::int64_t> UnixTimeOf(const pst::PropertyBag& bag, std::uint16_t id) {
    return UnixTimeOf(bag, IdKey(id));
}

Party PartyOf(const pst::PropertyBag& message, PartyRole role) {
    const bool sender = role == PartyRole::Sender;
    const std::uint32_t cp = CodePageOf(message);
    Party party;
    party.name = TextOf(message, sender ? 0x0C1A : 0x0042, cp).value_or("");
    const std::string smtp = TextOf(message, sender ? 0x5D01 : 0x5D02, cp).value_or("");
    const std::string type = TextOf(message, sender ? 0x0C1E : 0x0064, cp).value_or("");
    const std::string address = TextOf(message, sender ? 0x0C1F : 0x0065, cp).value_or("");
    if (IsSmtpAddress(smtp)) {
        party.smtp = smtp;
    } else if ((type.empty() || EqualsNoCase(type, "SMTP")) && IsSmtpAddress(address)) {
        party.smtp = address;
    }
    if (party.smtp.empty() && !address.empty()) party.legacy = address;
    return party;
}

std::vector<Party> ReplyToOf(const pst::PropertyBag& message) {
    constexpr std::uint16_t kReplyRecipientEntries = 0x004F;
    const auto entries = BinaryOf(message, kReplyRecipientEntries);
    if (!entries) return {};
    const std::uint32_t cp = CodePageOf(message);
    std::vector<Party> out;
    for (const auto& entry :
         ReadFlatEntryList({reinterpret_cast<const std::uint8_t*>(entries->data()), entries->size()})) {
        const auto address = ReadOneOffEntryId(entry, cp);
        if (!address) continue;
        Party party;
        party.name = address->name;
        if (address->isSmtp() && IsSmtpAddress(address->address)) {
            party.smtp = address->address;
        } else {
            party.legacy = address->address;
        }
        if (!party.empty()) out.push_back(std::move(party));
    }
    return out;
}

std::vector<Recipient> RecipientsOf(const pst::Message& message) {
    const std::uint32_t cp = CodePageOf(message.properties);
    std::vector<Recipient> out;
    for (const pst::PropertyBag& row : message.recipients) {
        Recipient r;
        r.type = Int32Of(row, 0x0C15).value_or(pst::kRecipientTo) & 0x0F;
        if (r.type < pst::kRecipientTo || r.type > pst::kRecipientBcc) r.type = pst::kRecipientTo;
        r.party.name = TextOf(row, 0x3001, cp).value_or("");
        const std::string smtp = TextOf(row, 0x39FE, cp).value_or("");
        const std::string type = TextOf(row, 0x3002, cp).value_or("");
        const std::string address = TextOf(row, 0x3003, cp).value_or("");
        if (IsSmtpAddress(smtp)) {
            r.party.smtp = smtp;
        } else if ((type.empty() || EqualsNoCase(type, "SMTP")) && IsSmtpAddress(address)) {
            r.party.smtp = address;
        }
        if (r.party.smtp.empty() && !address.empty()) r.party.legacy = address;
        if (!r.party.empty()) out.push_back(std::move(r));
    }
    return out;
}

MailFlags MailFlagsOf(const pst::PropertyBag& message) {
    MailFlags flags;
    const std::int32_t messageFlags = Int32Of(message, prop::kMessageFlags).value_or(0);
    flags.seen = (messageFlags & kFlagRead) != 0;
    flags.draft = (messageFlags & kFlagUnsent) != 0;
    flags.flagged = Int32Of(message, kFlagStatus).value_or(0) == kFollowUpFlagged;
    const std::int32_t verb = Int32Of(message, kLastVerbExecuted).value_or(0);
    const std::int32_t icon = Int32Of(message, kIconIndex).value_or(0);
    flags.replied = verb == kVerbReply || verb == kVerbReplyAll || icon == kIconReplied;
    flags.forwarded = verb == kVerbForward || icon == kIconForwarded;
    return flags;
}

std::int64_t DeliveryTimeOf(const pst::PropertyBag& message) {
    for (const std::uint16_t id : {kDeliveryTime, kSubmitTime, kCreationTime})
        if (const auto t = UnixTimeOf(message, id)) return *t;
    return 0;
}

std::int64_t SentTimeOf(const pst::PropertyBag& message) {
    for (const std::uint16_t id : {kSubmitTime, kDeliveryTime, kCreationTime})
        if (const auto t = UnixTimeOf(message, id)) return *t;
    return 0;
}

}  // namespace bm::mime
