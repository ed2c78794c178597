#include "output/record_copy.h"

#include <optional>
#include <span>
#include <string_view>

#include "common/utf.h"
#include "messaging/item_reader.h"
#include "output/source_copy.h"
#include "output/item_time.h"
#include "output/pst/props_tags.h"

namespace bm {

namespace {

namespace tags = pst::tags;
namespace named = pst::named;
using pst::NamedPropTag;
using pst::PropTag;
using pst::PropType;

const pst::Guid kLogPropertySet = pst::GuidFromText("0006200A-0000-0000-C000-000000000046");
const NamedPropTag kLogType{kLogPropertySet, 0x8700u, PropType::Unicode};
const NamedPropTag kLogStart{kLogPropertySet, 0x8706u, PropType::SysTime};
const NamedPropTag kLogEnd{kLogPropertySet, 0x8708u, PropType::SysTime};
constexpr PropTag kMhsCommonName{0x3A0F, PropType::Unicode};
constexpr PropTag kGender{0x3A4D, PropType::Int16};

void SetTextIfAny(pst::PropertyBag& bag, PropTag tag, std::string_view text) {
    if (!text.empty()) bag.SetString(tag, text);
}

void SetTextIfAny(pst::PropertyBag& bag, const NamedPropTag& tag, std::string_view text) {
    if (!text.empty()) bag.SetString(tag, text);
}

// A named text as stored: UTF-16LE when it looks like it (every second
// byte mostly zero), else 8-bit text.
std::string NamedText(const Bytes& raw) {
    if (raw.empty()) return {};
    if (raw.size() % 2 == 0) {
        std::size_t zeros = 0;
        for (std::size_t i = 1; i < raw.size(); i += 2) zeros += raw[i] == 0 ? 1 : 0;
        if (zeros * 4 >= raw.size()) {
            std::string text = Utf16LeToUtf8(raw);
            while (!text.empty() && text.back() == '\0') text.pop_back();
            return text;
        }
    }
    const std::string_view bytes(reinterpret_cast<const char*>(raw.data()), raw.size());
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return CodePageToUtf8(raw, 1252);
}

const std::string& Longer(const std::string& earlier, const std::string& later) {
    return earlier.size() > later.size() ? earlier : later;
}

std::string_view DefaultClass(ItemKind kind) {
    switch (kind) {
    case ItemKind::Appointment: return "IPM.Appointment";
    case ItemKind::Contact: return "IPM.Contact";
    case ItemKind::Journal: return "IPM.Activity";
    case ItemKind::StickyNote: return "IPM.StickyNote";
    case ItemKind::Task: return "IPM.Task";
    default: return "IPM.Note";
    }
}

// The recipient rows (To, Cc, Bcc with their addresses) and the display
// lists a mail client shows for each type; without rows, the display lists
// the record read.
void SetRecipients(pst::Message& m, const ItemRecord& item) {
    std::string display[3];
    for (const RecipientRecord& r : item.recipients) {
        const std::uint32_t type = r.type >= 1 && r.type <= 3 ? r.type : 1;
        const std::string& address = r.address.empty() ? r.smtpAddress : r.address;
        const std::string& shown = r.displayName.empty() ? address : r.displayName;
        m.AddRecipient(shown, address, r.addressType, r.smtpAddress, static_cast<std::int32_t>(type));
        std::string& list = display[type - 1];
        if (!list.empty()) list += "; ";
        list += shown;
    }
    if (item.recipients.empty() && item.messageFields) {
        display[0] = item.messageFields->displayTo;
        display[1] = item.messageFields->displayCc;
    }
    SetTextIfAny(m.properties, tags::kDisplayTo, display[0]);
    SetTextIfAny(m.properties, tags::kDisplayCc, display[1]);
    SetTextIfAny(m.properties, tags::kDisplayBcc, display[2]);
}

void SetSender(pst::Message& m, const MessageFields& f) {
    const std::string& name = f.sentRepresentingName.empty() ? f.sentRepresentingAddress : f.sentRepresentingName;
    SetTextIfAny(m.properties, tags::kSenderName, name);
    SetTextIfAny(m.properties, tags::kSentRepresentingName, name);
    if (f.sentRepresentingAddress.empty()) return;
    m.properties.SetString(tags::kSenderEmailAddress, f.sentRepresentingAddress);
    m.properties.SetString(tags::kSenderAddrType, "SMTP");
    m.properties.SetString(tags::kSentRepresentingEmailAddress, f.sentRepresentingAddress);
    m.properties.SetString(tags::kSentRepresentingAddrType, "SMTP");
}

// Delivery and submit time as the record holds them; the item's creation
// and change time are the first of the two it has.
std::optional<pst::FileTime> SetTimes(pst::Message& m, const MessageFields& f) {
    const std::optional<FileTime> delivered = FileTimeOf(f.deliveryTime);
    const std::optional<FileTime> submitted = FileTimeOf(f.submitTime);
    if (delivered) m.properties.SetSysTime(tags::kMessageDeliveryTime, *delivered);
    if (submitted) m.properties.SetSysTime(tags::kClientSubmitTime, *submitted);
    const std::optional<FileTime> when = delivered ? delivered : submitted;
    if (when) {
        m.properties.SetSysTime(tags::kCreationTime, *when);
        m.properties.SetSysTime(tags::kLastModificationTime, *when);
    }
    return when;
}

// Read and unsent state, importance, conversation topic, Internet
// headers, message ID and the IDs the item answers.
void SetState(pst::Message& m, const MessageFields& f) {
    if (f.messageFlags) {
        constexpr std::uint32_t kKept = pst::kMessageFlagRead | pst::kMessageFlagUnsent;
        m.properties.SetInt32(tags::kMessageFlags, static_cast<std::int32_t>(*f.messageFlags & kKept));
    }
    if (f.importance && *f.importance <= 2) m.properties.SetInt32(tags::kImportance, static_cast<std::int32_t>(*f.importance));
    SetTextIfAny(m.properties, tags::kConversationTopic, f.conversationTopic);
    SetTextIfAny(m.properties, tags::kTransportMessageHeaders, f.transportHeaders);
    SetTextIfAny(m.properties, tags::kInternetMessageId, f.internetMessageId);
    SetTextIfAny(m.properties, tags::kInternetReferences, f.internetReferences);
    SetTextIfAny(m.properties, tags::kInReplyToId, f.inReplyToId);
    SetTextIfAny(m.properties, kMhsCommonName, f.mhsCommonName);
}

// The meeting's own times (the clip times where it has none: for a series
// they span its whole range), its place, and a recurring series as the
// source stores it.
void SetAppointment(pst::Message& m, const AppointmentFields& a) {
    const auto timeOf = [](const Bytes& whole, const Bytes& clip) {
        const std::optional<FileTime> own = FileTimeOf(whole);
        return own ? own : FileTimeOf(clip);
    };
    const std::optional<FileTime> from = timeOf(a.startWhole, a.clipStart);
    std::optional<FileTime> to = timeOf(a.endWhole, a.clipEnd);
    if (from && (!to || *to < *from)) to = from;
    if (from) {
        m.properties.SetSysTime(named::kAppointmentStartWhole, *from);
        m.properties.SetSysTime(named::kCommonStart, *from);
        m.properties.SetSysTime(named::kClipStart, *from);
        m.properties.SetSysTime(named::kAppointmentEndWhole, *to);
        m.properties.SetSysTime(named::kCommonEnd, *to);
        m.properties.SetSysTime(named::kClipEnd, *to);
        m.properties.SetInt32(named::kAppointmentDuration, static_cast<std::int32_t>((*to - *from) / 600'000'000));
    }
    SetTextIfAny(m.properties, named::kAppointmentLocation, a.location);
    if (a.allDay) m.properties.SetBool(named::kAppointmentSubType, *a.allDay);
    if (a.recurrence.empty()) return;
    m.properties.SetBinary(named::kAppointmentRecur, a.recurrence);
    m.properties.SetBool(named::kRecurring, a.recurring.value_or(true));
    if (a.recurrenceType) m.properties.SetInt32(named::kRecurrenceType, static_cast<std::int32_t>(*a.recurrenceType));
    SetTextIfAny(m.properties, named::kRecurrencePattern, a.recurrencePattern);
    if (!a.timeZoneStruct.empty()) m.properties.SetBinary(named::kTimeZoneStruct, a.timeZoneStruct);
    SetTextIfAny(m.properties, named::kTimeZoneDescription, a.timeZoneDescription);
    if (!a.timeZoneDefinitionStart.empty())
        m.properties.SetBinary(named::kTimeZoneDefinitionStartDisplay, a.timeZoneDefinitionStart);
    if (!a.timeZoneDefinitionEnd.empty())
        m.properties.SetBinary(named::kTimeZoneDefinitionEndDisplay, a.timeZoneDefinitionEnd);
    if (!a.timeZoneDefinitionRecur.empty())
        m.properties.SetBinary(named::kTimeZoneDefinitionRecur, a.timeZoneDefinitionRecur);
    if (const auto start = FileTimeOf(a.clipStart)) m.properties.SetSysTime(named::kClipStart, *start);
    if (const auto end = FileTimeOf(a.clipEnd)) m.properties.SetSysTime(named::kClipEnd, *end);
}

void SetTask(pst::Message& m, const TaskFields& t) {
    if (t.status) m.properties.SetInt32(named::kTaskStatus, static_cast<std::int32_t>(*t.status));
    if (t.percentComplete) m.properties.SetDouble(named::kTaskPercentComplete, *t.percentComplete);
    if (t.complete) m.properties.SetBool(named::kTaskComplete, *t.complete);
    if (const auto start = FileTimeOf(t.startDate)) m.properties.SetSysTime(named::kTaskStartDate, *start);
    if (const auto due = FileTimeOf(t.dueDate)) m.properties.SetSysTime(named::kTaskDueDate, *due);
    if (const auto done = FileTimeOf(t.dateCompleted)) m.properties.SetSysTime(named::kTaskDateCompleted, *done);
}

// Each contact field and the property it was read from.
struct ContactText {
    std::string ContactFields::*member;
    PropTag tag;
};
struct NamedContactText {
    std::string ContactFields::*member;
    NamedPropTag tag;
};
constexpr PropTag Text(std::uint16_t id) { return {id, PropType::Unicode}; }
NamedPropTag AddressText(std::uint32_t lid) { return {pst::propsets::kAddress, lid, PropType::Unicode}; }

constexpr ContactText kContactTexts[] = {
    {&ContactFields::organizationalId, Text(0x3A10)}, {&ContactFields::governmentId, Text(0x3A07)},
    {&ContactFields::ttyTddPhone, Text(0x3A4B)},      {&ContactFields::business2Phone, Text(0x3A1B)},
    {&ContactFields::radioPhone, Text(0x3A1D)},       {&ContactFields::telexNumber, Text(0x3A2C)},
    {&ContactFields::givenName, Text(0x3A06)},        {&ContactFields::middleName, Text(0x3A44)},
    {&ContactFields::surname, Text(0x3A11)},          {&ContactFields::postalAddress, Text(0x3A15)},
    {&ContactFields::home2Phone, Text(0x3A2F)},       {&ContactFields::department, Text(0x3A18)},
    {&ContactFields::carPhone, Text(0x3A1E)},         {&ContactFields::postalCode, Text(0x3A2A)},
    {&ContactFields::streetAddress, Text(0x3A29)},    {&ContactFields::stateOrProvince, Text(0x3A28)},
    {&ContactFields::country, Text(0x3A26)},          {&ContactFields::locality, Text(0x3A27)},
    {&ContactFields::callbackPhone, Text(0x3A02)},    {&ContactFields::otherPostalCode, Text(0x3A61)},
    {&ContactFields::otherPhone, Text(0x3A1F)},       {&ContactFields::otherStreet, Text(0x3A63)},
    {&ContactFields::otherState, Text(0x3A62)},       {&ContactFields::otherCountry, Text(0x3A60)},
    {&ContactFields::otherCity, Text(0x3A5F)},        {&ContactFields::homeState, Text(0x3A5C)},
    {&ContactFields::homeStreet, Text(0x3A5D)},       {&ContactFields::homePostalCode, Text(0x3A5B)},
    {&ContactFields::homeCountry, Text(0x3A5A)},      {&ContactFields::businessHomePage, Text(0x3A51)},
    {&ContactFields::personalHomePage, Text(0x3A50)}, {&ContactFields::nickname, Text(0x3A4F)},
    {&ContactFields::managerName, Text(0x3A4E)},      {&ContactFields::homeCity, Text(0x3A59)},
    {&ContactFields::companyMainPhone, Text(0x3A57)}, {&ContactFields::spouseName, Text(0x3A48)},
    {&ContactFields::profession, Text(0x3A46)},       {&ContactFields::assistant, Text(0x3A30)},
    {&ContactFields::assistantPhone, Text(0x3A2E)},   {&ContactFields::isdnNumber, Text(0x3A2D)},
    {&ContactFields::pager, Text(0x3A21)},            {&ContactFields::officeLocation, Text(0x3A19)},
    {&ContactFields::homeFax, Text(0x3A25)},          {&ContactFields::language, Text(0x3A0C)},
    {&ContactFields::businessPhone, Text(0x3A08)},    {&ContactFields::businessFax, Text(0x3A24)},
    {&ContactFields::hobbies, Text(0x3A43)},          {&ContactFields::customerId, Text(0x3A4A)},
    {&ContactFields::generation, Text(0x3A05)},       {&ContactFields::companyName, Text(0x3A16)},
    {&ContactFields::title, Text(0x3A17)},            {&ContactFields::homePhone, Text(0x3A09)},
    {&ContactFields::mobilePhone, Text(0x3A1C)},
};

void SetContact(pst::Message& m, const ItemRecord& item, const ContactFields& c) {
    for (const ContactText& row : kContactTexts) SetTextIfAny(m.properties, row.tag, c.*row.member);
    const NamedContactText named[] = {
        {&ContactFields::fileAs, named::kFileUnder},
        {&ContactFields::lid8534Text, NamedPropTag{pst::propsets::kCommon, 0x8534u, PropType::Unicode}},
        {&ContactFields::workAddress, AddressText(0x801B)},
        {&ContactFields::otherAddress, AddressText(0x801C)},
        {&ContactFields::lid80D8Text, AddressText(0x80D8)},
    };
    for (const NamedContactText& row : named) SetTextIfAny(m.properties, row.tag, c.*row.member);
    if (c.gender != 0) m.properties.SetInt16(kGender, static_cast<std::int16_t>(c.gender));
    if (!c.email.empty()) {
        m.properties.SetString(named::kEmail1EmailAddress, c.email);
        m.properties.SetString(named::kEmail1AddressType, "SMTP");
        m.properties.SetString(named::kEmail1DisplayName, c.email);
        m.properties.SetString(AddressText(0x8084), c.email);
    }
    // A contact is shown by its full name, also as its subject when it has none.
    SetTextIfAny(m.properties, tags::kDisplayName, item.displayName);
    const bool subject = item.messageFields && item.messageFields->subject && !item.messageFields->subject->text.empty();
    if (!subject) SetTextIfAny(m.properties, tags::kSubject, item.displayName);
}

void AddAttachments(pst::Message& m, const ItemRecord& item, StoreFile& store) {
    for (const AttachmentRecord& record : item.attachments) {
        // Some attachments are named only by their display name.
        const std::string& name = !record.longFileName.empty() ? record.longFileName
                                  : !record.fileName.empty()   ? record.fileName
                                                               : record.displayName;
        Bytes data;
        if (record.hasData) {
            // The bytes stay in the record: after a store switch the same
            // item may be written once more.
            data = record.data;
        } else {
            AttachmentRecord streamed = record;
            StreamAttachmentData(store, streamed, [&data](std::span<const std::uint8_t> piece) {
                data.insert(data.end(), piece.begin(), piece.end());
                return true;
            });
        }
        m.attachments.push_back(pst::Attachment::FromBytes(name, std::move(data)));
    }
}

}  // namespace

std::string PlainBodyText(const MessageFields& fields) {
    if (!fields.bodyText.empty() || !fields.body.empty()) return Longer(fields.bodyText, fields.body);
    const std::string first = NamedText(fields.namedText1);
    const std::string second = NamedText(fields.namedText2);
    return Longer(first, second);
}

MailBody ChooseMailBody(const ItemRecord& item) {
    MailBody out;
    const MessageFields* fields = item.messageFields.get();
    if (fields == nullptr) return out;
    if (!fields->htmlBody.empty()) {
        out.htmlFlag = 1;
        const std::string_view bytes(reinterpret_cast<const char*>(fields->htmlBody.data()), fields->htmlBody.size());
        // The writer stores HTML as UTF-8; 8-bit HTML of another code page
        // is converted on the way.
        if (item.codePage != 0 && item.codePage != 65001 && !IsValidUtf8(bytes)) {
            out.text = CodePageToUtf8(fields->htmlBody, item.codePage);
        } else {
            out.text = std::string(bytes);
        }
        return out;
    }
    if (fields->rtfFlag == 1) {
        out.text = fields->bodyText;
        return out;
    }
    std::string plain = PlainBodyText(*fields);
    if (!plain.empty()) out.text = std::move(plain);
    return out;
}

pst::Message MessageFromRecord(const ItemRecord& item, StoreFile& store) {
    pst::Message m;
    m.properties.SetString(tags::kMessageClass,
                           item.messageClass.empty() ? DefaultClass(item.kind) : std::string_view(item.messageClass));
    if (const MessageFields* f = item.messageFields.get()) {
        std::string_view subject = f->subject ? std::string_view(f->subject->text) : std::string_view();
        // A meeting without a subject is shown by its conversation topic.
        if (subject.empty() && item.appointmentFields) subject = f->conversationTopic;
        if (!subject.empty() || !item.contactFields) m.properties.SetString(tags::kSubject, subject);
        // The plain text beside the HTML: both are what the record holds.
        SetTextIfAny(m.properties, tags::kBody, PlainBodyText(*f));
        const MailBody body = ChooseMailBody(item);
        if (body.text && body.htmlFlag == 1) m.SetHtmlBody(*body.text);
        SetSender(m, *f);
        const std::optional<FileTime> when = SetTimes(m, *f);
        SetState(m, *f);
        if (item.journalFields && when) {
            m.properties.SetSysTime(kLogStart, *when);
            m.properties.SetSysTime(kLogEnd, *when);
        }
    }
    SetRecipients(m, item);
    if (item.appointmentFields) SetAppointment(m, *item.appointmentFields);
    if (item.taskFields) SetTask(m, *item.taskFields);
    if (item.journalFields) SetTextIfAny(m.properties, kLogType, item.journalFields->logType);
    if (item.contactFields && !item.contactFieldsOnlyFromAttachments) SetContact(m, item, *item.contactFields);
    AddAttachments(m, item, store);
    return m;
}

pst::Message ItemAsMessage(ItemRecord& item, StoreFile& store, std::vector<std::uint16_t>* unnamed) {
    if (item.sourceNode != nullptr)
        if (std::optional<pst::Message> copy = CopySourceMessage(store, *item.sourceNode, unnamed)) return std::move(*copy);
    ReadLeftOutParts(store, item);
    return MessageFromRecord(item, store);
}

}  // namespace bm
