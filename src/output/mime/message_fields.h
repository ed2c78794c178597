// What the export needs of a source message, read from its property bag:
// texts in UTF-8 whatever way they were stored, times, the sender and
// recipients as Internet addresses, and the state a mail program shows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "output/pst/message.h"
#include "output/pst/props.h"
#include "output/pst/props_tags.h"

namespace bm::mime {

// The charset name iconv knows for a Windows code page ("CP1252" for 1252,
// "UTF-8" for 65001, ...); Windows-1252 for 0.
std::string CharsetOfCodePage(std::uint32_t codePage);

// Bytes in `charset` as UTF-8; bytes the charset cannot decode become
// U+FFFD, so the result is always valid UTF-8.
std::string ToUtf8(std::string_view bytes, std::string_view charset);

// The code page of the bag's 8-bit text (internet code page, else message
// code page), 0 when it names none.
std::uint32_t CodePageOf(const pst::PropertyBag& bag);

// A text property in UTF-8: PT_UNICODE as is, PT_STRING8 converted from
// `codePage`. nullopt when absent or empty.
std::optional<std::string> TextOf(const pst::PropertyBag& bag, std::uint16_t id, std::uint32_t codePage);
// A binary property's bytes; nullopt when absent.
std::optional<std::string> BinaryOf(const pst::PropertyBag& bag, std::uint16_t id);
std::optional<std::int32_t> Int32Of(const pst::PropertyBag& bag, std::uint16_t id);
// A PT_SYSTIME property as Unix seconds; nullopt when absent or before 1970.
std::optional<std::int64_t> UnixTimeOf(const pst::PropertyBag& bag, std::uint16_t id);

// The same by key, for named properties (vCard and iCalendar read many).
std::optional<std::string> TextOf(const pst::PropertyBag& bag, const pst::PropKey& key, std::uint32_t codePage);
std::optional<std::string> BinaryOf(const pst::PropertyBag& bag, const pst::PropKey& key);
std::optional<std::int32_t> Int32Of(const pst::PropertyBag& bag, const pst::PropKey& key);
std::optional<std::int64_t> UnixTimeOf(const pst::PropertyBag& bag, const pst::PropKey& key);
std::optional<double> DoubleOf(const pst::PropertyBag& bag, const pst::PropKey& key);
// The values of a multi-valued binary property; empty when absent or not
// well formed.
std::vector<std::string> MultiBinaryOf(const pst::PropertyBag& bag, const pst::PropKey& key);
// The values of a multi-valued text property (PT_MV_UNICODE or
// PT_MV_STRING8 in `codePage`), empty ones left out.
std::vector<std::string> MultiTextOf(const pst::PropertyBag& bag, const pst::PropKey& key, std::uint32_t codePage);
// UTF-16LE as UTF-8 less terminating NULs (unpaired surrogates become U+FFFD).
std::string Utf16ToUtf8(std::span<const std::uint8_t> bytes);
// The key of a property with a fixed id.
pst::PropKey IdKey(std::uint16_t id);

// One party of a message. `smtp` is empty for an address known only by its
// Exchange (legacy) form, which is then kept in `legacy`.
struct Party {
    std::string name;
    std::string smtp;
    std::string legacy;
    bool empty() const { return name.empty() && smtp.empty() && legacy.empty(); }
};

enum class PartyRole { Sender, SentRepresenting };
Party PartyOf(const pst::PropertyBag& message, PartyRole role);

// Whom replies go to (the reply-recipient entries, one-off entry IDs);
// empty when the message names no one.
std::vector<Party> ReplyToOf(const pst::PropertyBag& message);

struct Recipient {
    Party party;
    std::int32_t type = pst::kRecipientTo;  // pst::kRecipientTo, Cc or Bcc
};
std::vector<Recipient> RecipientsOf(const pst::Message& message);

// An attachment's data (from memory, a file or its stream, read once);
// empty for one without data or holding a message.
std::string AttachmentData(const pst::Attachment& attachment);

// The state a mail program keeps per message.
struct MailFlags {
    bool seen = false;
    bool flagged = false;
    bool replied = false;
    bool forwarded = false;
    bool draft = false;
};
MailFlags MailFlagsOf(const pst::PropertyBag& message);

// When the message arrived: delivery time, else submit time, else creation
// time; 0 when it has none.
std::int64_t DeliveryTimeOf(const pst::PropertyBag& message);
// When it was sent: submit time, else delivery time, else creation time; 0
// when it has none.
std::int64_t SentTimeOf(const pst::PropertyBag& message);

}  // namespace bm::mime
