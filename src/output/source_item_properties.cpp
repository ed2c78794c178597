#include "output/source_item_properties.h"

#include <cstdint>
#include <string>

#include "output/item_time.h"
#include "output/pst/props_tags.h"

namespace bm {

namespace tags = pst::tags;
namespace named = pst::named;

void SetTextIfAny(pst::PropertyBag& bag, pst::PropTag tag, std::string_view text) {
    if (!text.empty()) bag.SetString(tag, text);
}

void SetRecipientRows(pst::Message& m, const std::vector<RecipientRecord>& rows) {
    std::string display[3];
    for (const RecipientRecord& r : rows) {
        const std::uint32_t type = r.type >= 1 && r.type <= 3 ? r.type : 1;
        const std::string& address = r.address.empty() ? r.smtpAddress : r.address;
        const std::string& shown = r.displayName.empty() ? address : r.displayName;
        m.AddRecipient(shown, address, r.addressType, r.smtpAddress, static_cast<std::int32_t>(type));
        std::string& list = display[type - 1];
        if (!list.empty()) list += "; ";
        list += shown;
    }
    SetTextIfAny(m.properties, tags::kDisplayTo, display[0]);
    SetTextIfAny(m.properties, tags::kDisplayCc, display[1]);
    SetTextIfAny(m.properties, tags::kDisplayBcc, display[2]);
}

void SetSourceState(pst::Message& m, const ItemRecord& source) {
    if (!source.messageFields) return;
    const MessageFields& f = *source.messageFields;
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
}

// The recurrence itself, its description and time zones, and the clip
// times that span the series' range.
void SetRecurrence(pst::Message& m, const AppointmentFields& a) {
    if (a.allDay) m.properties.SetBool(named::kAppointmentSubType, *a.allDay);
    if (a.recurrence.empty()) return;
    m.properties.SetBinary(named::kAppointmentRecur, a.recurrence);
    m.properties.SetBool(named::kRecurring, a.recurring.value_or(true));
    if (a.recurrenceType) m.properties.SetInt32(named::kRecurrenceType, static_cast<std::int32_t>(*a.recurrenceType));
    if (!a.recurrencePattern.empty()) m.properties.SetString(named::kRecurrencePattern, a.recurrencePattern);
    if (!a.timeZoneStruct.empty()) m.properties.SetBinary(named::kTimeZoneStruct, a.timeZoneStruct);
    if (!a.timeZoneDescription.empty()) m.properties.SetString(named::kTimeZoneDescription, a.timeZoneDescription);
    if (!a.timeZoneDefinitionStart.empty())
        m.properties.SetBinary(named::kTimeZoneDefinitionStartDisplay, a.timeZoneDefinitionStart);
    if (!a.timeZoneDefinitionEnd.empty())
        m.properties.SetBinary(named::kTimeZoneDefinitionEndDisplay, a.timeZoneDefinitionEnd);
    if (!a.timeZoneDefinitionRecur.empty())
        m.properties.SetBinary(named::kTimeZoneDefinitionRecur, a.timeZoneDefinitionRecur);
    if (const auto start = FileTimeOf(a.clipStart)) m.properties.SetSysTime(named::kClipStart, *start);
    if (const auto end = FileTimeOf(a.clipEnd)) m.properties.SetSysTime(named::kClipEnd, *end);
}

void SetTaskState(pst::Message& m, const TaskFields& t) {
    if (t.status) m.properties.SetInt32(named::kTaskStatus, static_cast<std::int32_t>(*t.status));
    if (t.percentComplete) m.properties.SetDouble(named::kTaskPercentComplete, *t.percentComplete);
    if (t.complete) m.properties.SetBool(named::kTaskComplete, *t.complete);
    if (const auto start = FileTimeOf(t.startDate)) m.properties.SetSysTime(named::kTaskStartDate, *start);
    if (const auto due = FileTimeOf(t.dueDate)) m.properties.SetSysTime(named::kTaskDueDate, *due);
    if (const auto done = FileTimeOf(t.dateCompleted)) m.properties.SetSysTime(named::kTaskDateCompleted, *done);
}

}  // namespace bm
