#include "messaging/item_mapping.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "messaging/compressed_rtf.h"
#include "messaging/rtf_text.h"
#include "store/entry_id.h"

namespace bm {

namespace {

constexpr std::uint32_t kDefaultCodePage = 1252;
constexpr std::uint32_t kInternetCpid = 0x3FDE;
constexpr std::uint32_t kMessageCodePage = 0x3FFD;

// Contact properties that fill one text member each.
const std::unordered_map<std::uint32_t, std::string ContactFields::*>& ContactTextMembers() {
    static const std::unordered_map<std::uint32_t, std::string ContactFields::*> members = {
        {0x3A16, &ContactFields::companyName},     {0x3A05, &ContactFields::generation},
        {0x3A15, &ContactFields::postalAddress},   {0x3A17, &ContactFields::title},
        {0x8005, &ContactFields::fileAs},          {0x3A4A, &ContactFields::customerId},
        {0x3A1C, &ContactFields::mobilePhone},     {0x3A43, &ContactFields::hobbies},
        {0x3A11, &ContactFields::surname},         {0x3A06, &ContactFields::givenName},
        {0x3A44, &ContactFields::middleName},      {0x3A09, &ContactFields::homePhone},
        {0x3A08, &ContactFields::businessPhone},   {0x3A24, &ContactFields::businessFax},
        {0x3A25, &ContactFields::homeFax},         {0x3A0C, &ContactFields::language},
        {0x3A19, &ContactFields::officeLocation},  {0x3A21, &ContactFields::pager},
        {0x3A2D, &ContactFields::isdnNumber},      {0x3A2E, &ContactFields::assistantPhone},
        {0x3A30, &ContactFields::assistant},       {0x3A46, &ContactFields::profession},
        {0x3A48, &ContactFields::spouseName},      {0x3A57, &ContactFields::companyMainPhone},
        {0x3A59, &ContactFields::homeCity},        {0x3A4E, &ContactFields::managerName},
        {0x3A4F, &ContactFields::nickname},        {0x3A50, &ContactFields::personalHomePage},
        {0x3A51, &ContactFields::businessHomePage}, {0x3A5A, &ContactFields::homeCountry},
        {0x3A5B, &ContactFields::homePostalCode},  {0x3A5C, &ContactFields::homeState},
        {0x3A5D, &ContactFields::homeStreet},      {0x3A5F, &ContactFields::otherCity},
        {0x3A60, &ContactFields::otherCountry},    {0x3A62, &ContactFields::otherState},
        {0x3A63, &ContactFields::otherStreet},     {0x3A1F, &ContactFields::otherPhone},
        {0x801C, &ContactFields::otherAddress},    {0x3A61, &ContactFields::otherPostalCode},
        {0x3A02, &ContactFields::callbackPhone},   {0x3A27, &ContactFields::locality},
        {0x3A26, &ContactFields::country},         {0x3A28, &ContactFields::stateOrProvince},
        {0x3A29, &ContactFields::streetAddress},   {0x3A2A, &ContactFields::postalCode},
        {0x801B, &ContactFields::workAddress},     {0x3A1E, &ContactFields::carPhone},
        {0x3A18, &ContactFields::department},      {0x3A00, &ContactFields::account},
        {0x3A2F, &ContactFields::home2Phone},      {0x8534, &ContactFields::lid8534Text},
        {0x3A2C, &ContactFields::telexNumber},     {0x3A1D, &ContactFields::radioPhone},
        {0x3A1B, &ContactFields::business2Phone},  {0x3A4B, &ContactFields::ttyTddPhone},
        {0x3A07, &ContactFields::governmentId},    {0x3A10, &ContactFields::organizationalId},
        {0x80D8, &ContactFields::lid80D8Text},     {0x3A45, &ContactFields::displayNamePrefix},
    };
    return members;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char At(std::string_view s, std::size_t i) { return i < s.size() ? s[i] : '\0'; }

// Case-sensitive comparison of the first n bytes, as strncmp does it.
bool SamePrefix(std::string_view text, std::string_view pattern, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const char a = At(text, i);
        const char b = At(pattern, i);
        if (a != b) return false;
        if (a == '\0') return true;
    }
    return true;
}

std::optional<std::uint32_t> U32Of(const PropertyValue& v) {
    if (!v.hasData()) return std::nullopt;
    const auto x = ByteReader(*v.data).peekAt(0, 4);
    if (!x) return std::nullopt;
    return static_cast<std::uint32_t>(*x);
}

// Cuts 8-bit text at its first NUL, as the text would end there.
std::span<const std::uint8_t> UpToNul(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == 0) return bytes.first(i);
    return bytes;
}

class Mapper {
public:
    Mapper(ItemRecord& record, const MappingContext& ctx)
        : record_(record), ctx_(ctx), rtf_(ctx.rtf != nullptr ? *ctx.rtf : RtfWorkspace::Shared()) {}

    int Run(const PropertyList& list) {
        NoteCodePage(list);
        cursor_ = record_.currentAttachment;
        for (const PropertyChunk& chunk : list.chunks) {
            for (const PropertyValue& v : chunk.entries) {
                if (!Apply(v)) return 0;  // stop requested
            }
            newRow_ = true;
        }
        // An RTF body written here but not turned into text by property
        // 0x6619 (which not every message has) is turned into text now.
        if (rtfLock_.owns_lock() && !rtfTextTaken_) {
            if (!TakeRtfText()) return 0;
        }
        return 0;
    }

private:
    void NoteCodePage(const PropertyList& list) {
        std::optional<std::uint32_t> internet;
        std::optional<std::uint32_t> message;
        for (const PropertyChunk& chunk : list.chunks) {
            for (const PropertyValue& v : chunk.entries) {
                if (v.stringNamed || v.numericNamed) continue;
                if (v.id == kInternetCpid && !internet) internet = U32Of(v);
                if (v.id == kMessageCodePage && !message) message = U32Of(v);
            }
        }
        if (internet && *internet != 0) {
            record_.codePage = *internet;
        } else if (message && *message != 0) {
            record_.codePage = *message;
        }
    }

    std::uint32_t CodePage() const { return record_.codePage != 0 ? record_.codePage : kDefaultCodePage; }

    // Text rule: fills `member` unless the store's string form is unknown.
    void Text(const PropertyValue& v, std::string& member) const {
        if (auto text = ValueText(v, ctx_.formatVersion, CodePage())) member = std::move(*text);
    }
    static void Raw(const PropertyValue& v, Bytes& member) { member = *v.data; }

    // A sub-record is created the first time one of its members is filled.
    template <typename T>
    static T& Ensure(std::unique_ptr<T>& member) {
        if (!member) member = std::make_unique<T>();
        return *member;
    }
    MessageFields& Msg() { return Ensure(record_.messageFields); }
    FolderCounts& Folder() { return Ensure(record_.folderCounts); }
    ContactFields& Contact() { return Ensure(record_.contactFields); }
    StoreFields& Store() { return Ensure(record_.storeFields); }
    JournalFields& Journal() { return Ensure(record_.journalFields); }
    AppointmentFields& Appointment() { return Ensure(record_.appointmentFields); }
    TaskFields& Task() { return Ensure(record_.taskFields); }

    // Returns false when a stop request ends the mapping.
    bool Apply(const PropertyValue& v) {
        if (v.stringNamed) {
            NamedText(v);
            return true;
        }
        // Named properties are matched by LID, the others by identifier; a
        // LID below 0x8000 (PidLidOwnerCriticalChange is 0x001A) is not the
        // property of that identifier, and an identifier of 0x8000 or above
        // that no map translated names nothing the mapping knows.
        if (v.numericNamed != (v.id >= 0x8000)) return true;
        const bool has = v.hasData();
        switch (v.id) {
            case 0x001A:
                if (has) {
                    Text(v, record_.messageClass);
                    record_.kind = ClassifyMessage(record_.messageClass);
                }
                return true;
            case 0x0037:
                if (has) Subject(v);
                return true;
            case 0x0039: if (has) Raw(v, Msg().submitTime); return true;
            case 0x0042: if (has) Text(v, Msg().sentRepresentingName); return true;
            case 0x0050: if (has) Text(v, Msg().replyRecipientNames); return true;
            case 0x0064:
            case 0x0065: if (has) Text(v, Msg().sentRepresentingAddress); return true;
            case 0x0070: if (has) Text(v, Msg().conversationTopic); return true;
            case 0x0075:
            case 0x0076: if (has) Text(v, Msg().receivedByAddress); return true;
            case 0x0E03: if (has) Text(v, Msg().displayCc); return true;
            case 0x0E04: if (has) Text(v, Msg().displayTo); return true;
            case 0x0E06: if (has) Raw(v, Msg().deliveryTime); return true;
            case 0x0E07:
                if (const auto x = U32Of(v)) Msg().messageFlags = *x;
                return true;
            case 0x0FF9: if (has) Text(v, record_.recordKey); return true;
            case 0x3007:
                if (has && cursor_ == kNoAttachment && record_.creationTime.empty()) Raw(v, record_.creationTime);
                return true;
            case 0x1000: if (has && ctx_.bodies) Text(v, Msg().body); return true;
            case 0x1009:
                if (has && ctx_.bodies) RtfBody(v);
                return true;
            case 0x1013: if (has && ctx_.bodies) Raw(v, Msg().htmlBody); return true;
            case 0x1042: if (has) Text(v, Msg().inReplyToId); return true;
            case 0x007D: if (has) Text(v, Msg().transportHeaders); return true;
            case 0x1035: if (has) Text(v, Msg().internetMessageId); return true;
            case 0x1039: if (has) Text(v, Msg().internetReferences); return true;
            case 0x0017:
                if (const auto x = U32Of(v)) Msg().importance = *x;
                return true;
            case 0x3001:
                if (has) {
                    Text(v, record_.displayName);
                    // An attachment object's display name also stays with its
                    // own record: some attachments carry no other name.
                    if (cursor_ != kNoAttachment && !newRow_ && cursor_ < record_.attachments.size())
                        record_.attachments[cursor_].displayName = record_.displayName;
                }
                return true;
            case 0x3003:
            case 0x8048:
            case 0x8083:  // PidLidEmail1EmailAddress: where most contacts keep the address
            case 0x8084:
                if (has) Email(v);
                return true;
            case 0x35DF:
                if (const auto x = U32Of(v)) Store().validFolderMask = *x;
                return true;
            case 0x35E0: if (has) Raw(v, Store().ipmSubtreeEntryId); return true;
            case 0x35E3: if (has) Raw(v, Store().wastebasketEntryId); return true;
            case 0x35E7: if (has) Raw(v, Store().finderEntryId); return true;
            case 0x3602:
                if (const auto x = U32Of(v)) Folder().contentCount = *x;
                return true;
            case 0x3603:
                if (const auto x = U32Of(v)) Folder().unreadCount = *x;
                return true;
            case 0x360A:
                if (has) Folder().hasSubfolders = U32Of(v).value_or(0) != 0 ? 1 : 0;
                return true;
            case 0x3613:
                if (has) {
                    Text(v, record_.messageClass);
                    record_.kind = ClassifyFolder(record_.messageClass);
                }
                return true;
            case 0x0E20:
            case 0x3701:
            case 0x3704:
            case 0x3705:
            case 0x3707:
            case 0x67F2:
                Attachment(v);
                return true;
            case 0x3A06:
                if (has) {
                    Text(v, Contact().givenName);
                    if (IsUnicodeVersion(ctx_.formatVersion)) Text(v, Contact().fileAs);
                }
                return true;
            case 0x3A0F: if (has) Text(v, Msg().mhsCommonName); return true;
            case 0x3A41: if (has) Raw(v, Contact().weddingAnniversary); return true;
            case 0x3A42: if (has) Raw(v, Contact().birthday); return true;
            case 0x3A4D:
                if (has && v.data->size() >= 2) Contact().gender = static_cast<std::uint16_t>((*v.data)[0] | ((*v.data)[1] << 8));
                return true;
            case 0x6619:
                if (has && ctx_.bodies) return BodyText(v);
                return true;
            case 0x7C07:
                if (has) {
                    const Bytes& d = *v.data;
                    Store().entryId7C07.assign(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(std::min(d.size(), kStoreEntryIdSize)));
                }
                return true;
            case 0x8208: if (has) Text(v, Appointment().location); return true;
            case 0x8235: if (has) Raw(v, Appointment().clipStart); return true;
            case 0x8236: if (has) Raw(v, Appointment().clipEnd); return true;
            // The meeting's own times and its recurrence, kept for saving.
            case 0x820D: if (has) Raw(v, Appointment().startWhole); return true;
            case 0x820E: if (has) Raw(v, Appointment().endWhole); return true;
            case 0x8215:
                if (has && !v.data->empty()) Appointment().allDay = (*v.data)[0] != 0;
                return true;
            case 0x8216: if (has) Raw(v, Appointment().recurrence); return true;
            case 0x8223:
                if (has && !v.data->empty()) Appointment().recurring = (*v.data)[0] != 0;
                return true;
            case 0x8231:
                if (const auto x = U32Of(v)) Appointment().recurrenceType = *x;
                return true;
            case 0x8232: if (has) Text(v, Appointment().recurrencePattern); return true;
            case 0x8233: if (has) Raw(v, Appointment().timeZoneStruct); return true;
            case 0x8234: if (has) Text(v, Appointment().timeZoneDescription); return true;
            case 0x825E: if (has) Raw(v, Appointment().timeZoneDefinitionStart); return true;
            case 0x825F: if (has) Raw(v, Appointment().timeZoneDefinitionEnd); return true;
            case 0x8260: if (has) Raw(v, Appointment().timeZoneDefinitionRecur); return true;
            // A task's state, kept for saving.
            case 0x8101:
                if (const auto x = U32Of(v)) Task().status = *x;
                return true;
            case 0x8102:
                if (has && v.data->size() >= 8) {
                    double percent = 0;
                    std::memcpy(&percent, v.data->data(), sizeof percent);
                    Task().percentComplete = percent;
                }
                return true;
            case 0x8104: if (has) Raw(v, Task().startDate); return true;
            case 0x8105: if (has) Raw(v, Task().dueDate); return true;
            case 0x810F: if (has) Raw(v, Task().dateCompleted); return true;
            case 0x811C:
                if (has && !v.data->empty()) Task().complete = (*v.data)[0] != 0;
                return true;
            case 0x8700:
            case 0x8712: if (has) Text(v, Journal().logType); return true;
            default:
                break;
        }
        const auto& contact = ContactTextMembers();
        if (const auto it = contact.find(v.id); it != contact.end() && has) Text(v, Contact().*(it->second));
        return true;
    }

    void NamedText(const PropertyValue& v) {
        if (!v.hasData()) return;
        ++namedCount_;
        if (namedCount_ == 1) Raw(v, Msg().namedText1);
        if (namedCount_ == 2) Raw(v, Msg().namedText2);
    }

    bool IsUnicodeValue(const PropertyValue& v) const {
        if (v.type == kPtUnicode) return true;
        if (v.type == kPtString8) return false;
        return IsUnicodeVersion(ctx_.formatVersion);
    }

    void Subject(const PropertyValue& v) {
        MessageFields& m = Msg();
        m.subject = std::make_unique<SubjectParts>();
        const Bytes& d = *v.data;
        if (d.empty()) {
            m.subject.reset();
            return;
        }
        // A subject may start with the prefix marker U+0001 and the length
        // of its prefix ("RE: "); the text after those two characters is
        // the whole subject.
        const bool unicode = IsUnicodeValue(v);
        const bool marked = unicode ? (d.size() >= 2 && d[0] == 0x01 && d[1] == 0x00) : d[0] == 0x01;
        if (!marked) {
            Text(v, m.subject->text);
            return;
        }
        m.subject->prefixByte0 = d[0];
        m.subject->prefixByte1 = d.size() > 1 ? d[1] : 0;
        PropertyValue rest = v;
        const std::size_t skip = std::min<std::size_t>(d.size(), unicode ? 4 : 2);
        rest.data = Bytes(d.begin() + static_cast<std::ptrdiff_t>(skip), d.end());
        rest.size = static_cast<std::uint32_t>(rest.data->size());
        if (!unicode && rest.type != kPtString8) rest.type = kPtString8;
        if (unicode && rest.type != kPtUnicode) rest.type = kPtUnicode;
        Text(rest, m.subject->text);
    }

    void Email(const PropertyValue& v) {
        std::string text;
        Text(v, text);
        if (text.find('@') != std::string::npos) Contact().email = std::move(text);
    }

    void Attachment(const PropertyValue& v) {
        if (cursor_ == kNoAttachment || cursor_ >= record_.attachments.size()) return;
        if (newRow_) {
            ++cursor_;
            newRow_ = false;
            if (cursor_ >= record_.attachments.size()) {
                cursor_ = kNoAttachment;
                return;
            }
        }
        AttachmentRecord& a = record_.attachments[cursor_];
        switch (v.id) {
            case 0x3701:
                if (v.hasData()) {
                    a.data = *v.data;
                    a.hasData = true;
                    a.size = static_cast<std::int32_t>(v.size);
                } else {
                    a.nid = v.type;  // the NID of the data subnode that was not read
                }
                break;
            case 0x0E20:
                if (const auto x = U32Of(v)) a.attachSize = static_cast<std::int32_t>(*x);
                break;
            case 0x3705:
                if (const auto x = U32Of(v)) a.method = static_cast<std::int32_t>(*x);
                break;
            case 0x3704: if (v.hasData()) Text(v, a.fileName); break;
            case 0x3707: if (v.hasData()) Text(v, a.longFileName); break;
            case 0x67F2:
                if (const auto x = U32Of(v)) a.nid = *x;
                break;
            default:
                break;
        }
    }

    void RtfBody(const PropertyValue& v) {
        if (!rtfLock_.owns_lock()) rtfLock_ = rtf_.Lock();
        RtfDecodeReport report;
        rtf_.rtfBytes() = DecodeCompressedRtf(*v.data, &report);
        MessageFields& m = Msg();
        m.rtfFlag = 1;
        m.rtfCrcMismatch = report.compressed && !report.crcMatches;
        m.rtfTruncated = report.truncated;
        rtfTextTaken_ = false;
    }

    // Body-text rule. False when a stop request ends the mapping.
    bool BodyText(const PropertyValue& v) {
        MessageFields& m = Msg();
        // Only an RTF body this mapping wrote (and still holds the lock on)
        // is read back; another thread may have replaced an older one.
        if (m.rtfFlag == 1 && rtfLock_.owns_lock()) return TakeRtfText();
        Text(v, m.bodyText);
        return true;
    }

    bool TakeRtfText() {
        MessageFields& m = Msg();
        rtfTextTaken_ = true;
        if (ctx_.reader != nullptr && ctx_.reader->StopRequested()) return false;
        std::string& buffer = rtf_.textBuffer();
        buffer.clear();
        RtfToText(rtf_.rtfBytes(), buffer);
        m.bodyText = buffer;
        return true;
    }

    ItemRecord& record_;
    const MappingContext& ctx_;
    RtfWorkspace& rtf_;
    std::unique_lock<std::mutex> rtfLock_;
    bool rtfTextTaken_ = false;
    std::size_t cursor_ = kNoAttachment;
    int namedCount_ = 0;
    bool newRow_ = false;
};

}  // namespace

bool IsAnsiVersion(std::uint32_t v) { return v == 14 || v == 15; }
bool IsUnicodeVersion(std::uint32_t v) { return v == 23 || v == 36; }

std::string NarrowUtf16(std::span<const std::uint8_t> bytes) { return Utf16LeToUtf8(bytes); }

std::optional<std::string> ValueText(const PropertyValue& value, std::uint32_t formatVersion, std::uint32_t codePage) {
    if (!value.hasData()) return std::nullopt;
    const std::span<const std::uint8_t> d(*value.data);
    bool unicode = false;
    if (value.type == kPtUnicode) {
        unicode = true;
    } else if (value.type == kPtString8) {
        unicode = false;
    } else if (IsUnicodeVersion(formatVersion)) {
        unicode = true;
    } else if (!IsAnsiVersion(formatVersion)) {
        return std::nullopt;
    }
    if (unicode) return NarrowUtf16(d);
    return CodePageToUtf8(UpToNul(d), codePage);
}

int MatchClassPrefix(std::string_view pattern, std::string_view text, std::size_t limit) {
    std::size_t i = 0;
    while (true) {
        if (At(pattern, i) == '\0') return 0;
        if (At(text, i) == '\0' || i >= limit || Upper(At(pattern, i)) != Upper(At(text, i))) break;
        ++i;
    }
    const char p = Upper(At(pattern, i));
    const char t = Upper(At(text, i));
    if (p == '\0' || t == '\0' || p == t) return 0;
    return static_cast<unsigned char>(p) < static_cast<unsigned char>(t) ? -1 : 1;
}

int EqualsNoCase(std::string_view pattern, std::string_view text) {
    const std::size_t n = std::max(pattern.size(), text.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto p = static_cast<unsigned char>(Upper(At(pattern, i)));
        const auto t = static_cast<unsigned char>(Upper(At(text, i)));
        if (p != t) return p < t ? -1 : 1;
    }
    return 0;
}

ItemKind ClassifyMessage(std::string_view c) {
    if (MatchClassPrefix("IPM.Note", c, 8) == 0) return ItemKind::Mail;
    if (MatchClassPrefix("IPM.x-", c, 8) == 0) return ItemKind::Mail;
    if (EqualsNoCase("IPM", c) == 0) return ItemKind::Mail;
    if (MatchClassPrefix("IPM.Contact", c, 11) == 0) return ItemKind::Contact;
    if (MatchClassPrefix("IPF.Contact", c, 11) == 0) return ItemKind::Contact;
    if (MatchClassPrefix("IPM.Contact", c, 9) == 0) return ItemKind::Contact;
    if (MatchClassPrefix("REPORT.IPM.Note", c, 15) == 0) return ItemKind::Report;
    if (MatchClassPrefix("IPM.Activity", c, 12) == 0) return ItemKind::Journal;
    if (MatchClassPrefix("IPM.Appointment", c, 15) == 0) return ItemKind::Appointment;
    return ItemKind::Other;
}

ItemKind ClassifyFolder(std::string_view c) {
    if (SamePrefix(c, "IPF.Note", 8)) return ItemKind::Mail;
    if (SamePrefix(c, "IPF.Contact", 11) || SamePrefix(c, "IPF.Contact", 9) || SamePrefix(c, "IPM.Contact", 9))
        return ItemKind::Contact;
    if (SamePrefix(c, "IPF.Journal", 11)) return ItemKind::Journal;
    if (SamePrefix(c, "IPF.Appointment", 15)) return ItemKind::Appointment;
    if (SamePrefix(c, "IPF.StickyNote", 14)) return ItemKind::StickyNote;
    if (SamePrefix(c, "IPF.Task", 8)) return ItemKind::Task;
    return ItemKind::Other;
}

int MapProperties(const PropertyList* list, ItemRecord* record, const MappingContext& ctx) {
    if (record == nullptr || list == nullptr) return -1;
    try {
        Mapper mapper(*record, ctx);
        return mapper.Run(*list);
    } catch (const std::bad_alloc&) {
        return 0;  // what was filled stays
    }
}

}  // namespace bm
