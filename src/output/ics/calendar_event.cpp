// Appointments and meeting items as VEVENTs: the series with its RRULE and
// EXDATEs, and one VEVENT per changed occurrence.
#include <algorithm>
#include <cstdio>
#include <set>

#include "output/ics/calendar_parts.h"
#include "output/ics/recurrence_pattern.h"

namespace bm::ics {
namespace {

constexpr std::uint32_t kBusyStatus = 0x8205;
constexpr std::uint32_t kLocation = 0x8208;
constexpr std::uint32_t kStartWhole = 0x820D;
constexpr std::uint32_t kEndWhole = 0x820E;
constexpr std::uint32_t kSubType = 0x8215;
constexpr std::uint32_t kRecurrenceBlob = 0x8216;
constexpr std::uint32_t kStateFlags = 0x8217;
constexpr std::uint32_t kRecurring = 0x8223;
constexpr std::uint32_t kExceptionReplaceTime = 0x8228;
constexpr std::uint32_t kRecurrencePatternText = 0x8232;
constexpr std::uint32_t kTimeZoneStruct = 0x8233;
constexpr std::uint32_t kTimeZoneDescription = 0x8234;
constexpr std::uint32_t kZoneOfStart = 0x825E;
constexpr std::uint32_t kZoneOfRecurrence = 0x8260;
constexpr std::uint32_t kReminderDelta = 0x8501;
constexpr std::uint32_t kReminderSet = 0x8503;
constexpr std::uint32_t kCommonStart = 0x8516;
constexpr std::uint32_t kCommonEnd = 0x8517;
constexpr std::uint16_t kAttachReplaceTime = 0x7FF9;
constexpr std::uint16_t kBody = 0x1000;
constexpr std::uint16_t kRecipientType = 0x0C15;
constexpr std::uint16_t kRecipientFlags = 0x5FFD;
constexpr std::uint16_t kRecipientTrackStatus = 0x5FFF;

constexpr std::int32_t kStateCanceled = 0x0004;
constexpr std::int32_t kRecipientIsOrganizer = 0x0002;
constexpr std::int64_t kDay = 86400;
constexpr const char* kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// How the event's times are written: in its zone, in UTC (a single event
// without a zone, whose stored times are UTC), or floating (a series
// without a zone: the pattern's times are local, of a zone not known).
struct Clock {
    std::optional<TimeZone> zone;
    std::string tzid;
    bool floating = false;
};

std::optional<TimeZone> ZoneOf(const ItemFields& fields, bool recurring) {
    const std::uint32_t order[2] = {recurring ? kZoneOfRecurrence : kZoneOfStart,
                                    recurring ? kZoneOfStart : kZoneOfRecurrence};
    for (const std::uint32_t lid : order)
        if (const auto bytes = mime::BinaryOf(fields.bag(), AppointmentKey(lid)))
            if (auto zone = ReadTimeZoneDefinition(
                    {reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()}))
                return zone;
    if (const auto bytes = mime::BinaryOf(fields.bag(), AppointmentKey(kTimeZoneStruct)))
        return ReadTimeZoneStruct({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()},
                                  fields.Text(AppointmentKey(kTimeZoneDescription)).value_or(""));
    return std::nullopt;
}

// A time property at `local` (wall-clock seconds of the clock's zone).
icalproperty* TimeProperty(icalproperty* (*make)(icaltimetype), std::int64_t local, bool allDay, const Clock& clock) {
    if (allDay) {
        icalproperty* p = make(DateOf(local));
        return p;
    }
    if (clock.zone) return WithTzid(make(LocalTime(local)), clock.tzid);
    return make(clock.floating ? LocalTime(local) : UtcTime(local));
}

// Wall-clock seconds of a stored UTC time.
std::int64_t LocalOf(std::int64_t utc, const Clock& clock) { return clock.zone ? clock.zone->ToLocal(utc) : utc; }

std::string Stamp(std::int64_t seconds, bool date, bool utc) {
    const CivilDate d = CivilFromDays(seconds >= 0 ? seconds / kDay : (seconds - kDay + 1) / kDay);
    const std::int64_t inDay = seconds - DaysFromCivil(d.year, d.month, d.day) * kDay;
    char buffer[64];
    if (date) {
        std::snprintf(buffer, sizeof buffer, "%04d%02u%02u", d.year, d.month, d.day);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04d%02u%02uT%02d%02d%02d%s", d.year, d.month, d.day,
                      static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60),
                      utc ? "Z" : "");
    }
    return buffer;
}

std::string DayList(std::uint32_t mask) {
    std::string out;
    for (int d = 0; d < 7; ++d)
        if (mask & (1u << d)) {
            if (!out.empty()) out += ',';
            out += kDays[d];
        }
    return out;
}

std::string RuleText(const RecurrencePattern& p, bool allDay, const Clock& clock) {
    std::string rule;
    switch (p.kind) {
        case PatternKind::Day:
            rule = "FREQ=DAILY;INTERVAL=" + std::to_string(std::max<std::uint32_t>(1, p.period / 1440));
            break;
        case PatternKind::Week:
            rule = "FREQ=WEEKLY;INTERVAL=" + std::to_string(p.period) + ";BYDAY=" + DayList(p.dayMask) +
                   ";WKST=" + kDays[p.firstDayOfWeek % 7];
            break;
        case PatternKind::Month:
        case PatternKind::MonthNth:
        case PatternKind::MonthEnd: {
            if (p.yearly) {
                const CivilDate start = CivilFromDays(LocalSecondsOfMinutes(p.startDate) / kDay);
                rule = "FREQ=YEARLY;INTERVAL=" + std::to_string(std::max<std::uint32_t>(1, p.period / 12)) +
                       ";BYMONTH=" + std::to_string(start.month);
            } else {
                rule = "FREQ=MONTHLY;INTERVAL=" + std::to_string(p.period);
            }
            if (p.kind == PatternKind::MonthEnd) {
                rule += ";BYMONTHDAY=-1";
            } else if (p.kind == PatternKind::MonthNth) {
                rule += ";BYDAY=" + DayList(p.dayMask) + ";BYSETPOS=" + (p.week >= 5 ? "-1" : std::to_string(p.week));
            } else if (p.dayOfMonth >= 29) {
                // Day 29 to 31 of a month that is shorter falls on its last day.
                rule += ";BYMONTHDAY=";
                for (std::uint32_t d = 28; d <= p.dayOfMonth; ++d) rule += std::to_string(d) + (d < p.dayOfMonth ? "," : "");
                rule += ";BYSETPOS=-1";
            } else {
                rule += ";BYMONTHDAY=" + std::to_string(std::max<std::uint32_t>(1, p.dayOfMonth));
            }
            break;
        }
    }
    if (p.endType == RecurrenceEnd::Count && p.occurrenceCount > 0) {
        rule += ";COUNT=" + std::to_string(p.occurrenceCount);
    } else if (p.endType == RecurrenceEnd::Date) {
        // UNTIL is the last occurrence's start: a date for all-day events,
        // UTC for zoned times, local for floating ones.
        const std::int64_t last = LocalSecondsOfMinutes(p.endDate) + std::int64_t{p.startTimeOffset} * 60;
        if (allDay) {
            rule += ";UNTIL=" + Stamp(last, true, false);
        } else if (clock.zone) {
            rule += ";UNTIL=" + Stamp(clock.zone->ToUtc(last), false, true);
        } else {
            rule += ";UNTIL=" + Stamp(last, false, false);
        }
    }
    return rule;
}

void AddParticipants(icalcomponent* event, const ItemFields& fields) {
    const pst::Message& item = fields.item();
    if (item.recipients.empty()) return;
    mime::Party organizer = mime::PartyOf(fields.bag(), mime::PartyRole::SentRepresenting);
    if (organizer.empty()) organizer = mime::PartyOf(fields.bag(), mime::PartyRole::Sender);
    for (const pst::PropertyBag& row : item.recipients) {
        const std::int32_t flags = mime::Int32Of(row, mime::IdKey(kRecipientFlags)).value_or(0);
        const std::string name = mime::TextOf(row, mime::IdKey(0x3001), fields.codePage()).value_or("");
        std::string smtp = mime::TextOf(row, mime::IdKey(0x39FE), fields.codePage()).value_or("");
        const std::string type = mime::TextOf(row, mime::IdKey(0x3002), fields.codePage()).value_or("");
        const std::string address = mime::TextOf(row, mime::IdKey(0x3003), fields.codePage()).value_or("");
        if (smtp.empty() && (type.empty() || type == "SMTP") && address.find('@') != std::string::npos) smtp = address;
        if (flags & kRecipientIsOrganizer) {
            if (organizer.smtp.empty() && !smtp.empty()) organizer = {name, smtp, {}};
            continue;
        }
        if (smtp.empty()) {
            if (!address.empty() || !name.empty()) AddX(event, "X-BRIGHTMEND-ATTENDEE", name + " <" + address + ">");
            continue;
        }
        icalproperty* attendee = icalproperty_new_attendee(("mailto:" + smtp).c_str());
        if (!name.empty()) icalproperty_add_parameter(attendee, icalparameter_new_cn(name.c_str()));
        const std::int32_t recipientType = mime::Int32Of(row, mime::IdKey(kRecipientType)).value_or(1) & 0x0F;
        if (recipientType == 3) {
            icalproperty_add_parameter(attendee, icalparameter_new_cutype(ICAL_CUTYPE_RESOURCE));
            icalproperty_add_parameter(attendee, icalparameter_new_role(ICAL_ROLE_NONPARTICIPANT));
        } else {
            icalproperty_add_parameter(attendee, icalparameter_new_role(recipientType == 2 ? ICAL_ROLE_OPTPARTICIPANT
                                                                                           : ICAL_ROLE_REQPARTICIPANT));
        }
        const std::int32_t track = mime::Int32Of(row, mime::IdKey(kRecipientTrackStatus)).value_or(0);
        const icalparameter_partstat status = track == 2   ? ICAL_PARTSTAT_TENTATIVE
                                              : track == 3 ? ICAL_PARTSTAT_ACCEPTED
                                              : track == 4 ? ICAL_PARTSTAT_DECLINED
                                                           : ICAL_PARTSTAT_NEEDSACTION;
        icalproperty_add_parameter(attendee, icalparameter_new_partstat(status));
        icalcomponent_add_property(event, attendee);
    }
    if (!organizer.smtp.empty()) {
        icalproperty* p = icalproperty_new_organizer(("mailto:" + organizer.smtp).c_str());
        if (!organizer.name.empty()) icalproperty_add_parameter(p, icalparameter_new_cn(organizer.name.c_str()));
        icalcomponent_add_property(event, p);
    }
}

void AddAlarm(icalcomponent* event, int minutesBefore) {
    icalcomponent* alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
    icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
    icalcomponent_add_property(alarm, icalproperty_new_description("Reminder"));
    icaltriggertype trigger{};
    trigger.time = icaltime_null_time();
    trigger.duration = icaldurationtype_from_int(-60 * minutesBefore);
    icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
    icalcomponent_add_component(event, alarm);
}

// LOCATION, TRANSP, STATUS, participants and reminder, shared by the
// series and its changed occurrences.
void AddEventFields(icalcomponent* event, const ItemFields& fields, std::optional<std::string> location,
                    std::optional<std::int32_t> busy, std::optional<bool> reminderSet,
                    std::optional<std::int32_t> reminderDelta) {
    if (!location) location = fields.Text(AppointmentKey(kLocation));
    if (location) icalcomponent_add_property(event, icalproperty_new_location(location->c_str()));
    if (!busy) busy = fields.Int(AppointmentKey(kBusyStatus));
    icalcomponent_add_property(event, icalproperty_new_transp(busy && *busy == 0 ? ICAL_TRANSP_TRANSPARENT
                                                                                 : ICAL_TRANSP_OPAQUE));
    const std::string cls = fields.Text(0x001A).value_or("");
    if ((fields.Int(AppointmentKey(kStateFlags)).value_or(0) & kStateCanceled) ||
        cls.find("Canceled") != std::string::npos)
        icalcomponent_add_property(event, icalproperty_new_status(ICAL_STATUS_CANCELLED));
    AddParticipants(event, fields);
    if (!reminderSet) reminderSet = fields.Int(CommonKey(kReminderSet)).value_or(0) != 0;
    if (!reminderDelta) reminderDelta = fields.Int(CommonKey(kReminderDelta));
    if (*reminderSet) AddAlarm(event, std::clamp(reminderDelta.value_or(15), 0, 60 * 24 * 365));
}

// The embedded message that holds a changed occurrence, found by the
// original start it replaces (UTC).
const pst::Message* ExceptionMessage(const pst::Message& item, std::int64_t originalUtc) {
    for (const pst::Attachment& a : item.attachments) {
        const auto* embedded = std::get_if<std::shared_ptr<const pst::Message>>(&a.content);
        if (!embedded || !*embedded) continue;
        const auto replaced = mime::UnixTimeOf(a.properties, mime::IdKey(kAttachReplaceTime));
        const auto inner = mime::UnixTimeOf((*embedded)->properties, AppointmentKey(kExceptionReplaceTime));
        if ((replaced && *replaced == originalUtc) || (inner && *inner == originalUtc)) return embedded->get();
    }
    return nullptr;
}

void AddChangedOccurrence(icalcomponent* calendar, const ItemFields& fields, const OccurrenceChange& change,
                          bool allDay, const Clock& clock) {
    icalcomponent* event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_add_property(event, icalproperty_new_uid(UidOf(fields).c_str()));
    icalcomponent_add_property(event, icalproperty_new_dtstamp(UtcTime(fields.Time(0x3008).value_or(0))));
    const bool changeAllDay = change.allDay.value_or(allDay);
    icalcomponent_add_property(
        event, TimeProperty(icalproperty_new_recurrenceid, LocalSecondsOfMinutes(change.originalStart), allDay, clock));
    icalcomponent_add_property(event, TimeProperty(icalproperty_new_dtstart, LocalSecondsOfMinutes(change.start),
                                                   changeAllDay, clock));
    icalcomponent_add_property(event,
                               TimeProperty(icalproperty_new_dtend, LocalSecondsOfMinutes(change.end), changeAllDay, clock));
    const std::int64_t originalUtc = clock.zone ? clock.zone->ToUtc(LocalSecondsOfMinutes(change.originalStart))
                                                : LocalSecondsOfMinutes(change.originalStart);
    std::optional<std::string> subject = change.subject;
    std::optional<std::string> location = change.location;
    std::optional<std::string> body;
    if (const pst::Message* inner = ExceptionMessage(fields.item(), originalUtc)) {
        const ItemFields own(*inner);
        if (!subject) subject = own.Text(0x0037);
        if (!location) location = own.Text(AppointmentKey(kLocation));
        body = own.Text(kBody);
    }
    if (!subject) subject = fields.Text(0x0037);
    if (subject) icalcomponent_add_property(event, icalproperty_new_summary(subject->c_str()));
    if (!body) body = fields.Text(kBody);
    if (body) icalcomponent_add_property(event, icalproperty_new_description(body->c_str()));
    AddEventFields(event, fields, location, change.busyStatus, change.reminderSet, change.reminderDelta);
    icalcomponent_add_component(calendar, event);
}

void AddSeries(icalcomponent* event, icalcomponent* calendar, const ItemFields& fields, const RecurrencePattern& p,
               bool allDay, const Clock& clock) {
    const std::int64_t day = LocalSecondsOfMinutes(p.startDate);
    icalcomponent_add_property(event, TimeProperty(icalproperty_new_dtstart, day + std::int64_t{p.startTimeOffset} * 60,
                                                   allDay, clock));
    std::int64_t end = day + std::int64_t{p.endTimeOffset} * 60;
    if (allDay && end <= day) end = day + kDay;
    icalcomponent_add_property(event, TimeProperty(icalproperty_new_dtend, end, allDay, clock));
    const std::string rule = RuleText(p, allDay, clock);
    icalcomponent_add_property(event, icalproperty_new_rrule(icalrecurrencetype_from_string(rule.c_str())));
    std::set<std::uint32_t> moved;
    for (const OccurrenceChange& c : p.changes) moved.insert(c.originalStart - c.originalStart % 1440);
    for (const std::uint32_t date : p.deletedDates) {
        if (moved.count(date) != 0) continue;
        icalcomponent_add_property(
            event, TimeProperty(icalproperty_new_exdate, LocalSecondsOfMinutes(date) + std::int64_t{p.startTimeOffset} * 60,
                                allDay, clock));
    }
    for (const OccurrenceChange& c : p.changes) AddChangedOccurrence(calendar, fields, c, allDay, clock);
}

}  // namespace

void AddEvents(icalcomponent* calendar, const ItemFields& fields, ZoneSet& zones) {
    const bool allDay = fields.Int(AppointmentKey(kSubType)).value_or(0) != 0;
    std::optional<RecurrencePattern> pattern;
    const auto blob = mime::BinaryOf(fields.bag(), AppointmentKey(kRecurrenceBlob));
    const bool recurring = fields.Int(AppointmentKey(kRecurring)).value_or(0) != 0 || blob.has_value();
    if (recurring && blob)
        pattern = ReadRecurrencePattern({reinterpret_cast<const std::uint8_t*>(blob->data()), blob->size()});
    Clock clock;
    clock.zone = ZoneOf(fields, recurring);
    if (clock.zone) clock.tzid = zones.Use(*clock.zone);
    clock.floating = !clock.zone && pattern.has_value();

    icalcomponent* event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_add_component(calendar, event);
    AddCommonFields(event, fields);
    if (pattern) {
        AddSeries(event, calendar, fields, *pattern, allDay, clock);
    } else {
        const auto start = fields.Time(AppointmentKey(kStartWhole)).value_or(
            fields.Time(CommonKey(kCommonStart)).value_or(0));
        const auto end = fields.Time(AppointmentKey(kEndWhole)).value_or(fields.Time(CommonKey(kCommonEnd)).value_or(start));
        const std::int64_t localStart = LocalOf(start, clock);
        std::int64_t localEnd = LocalOf(std::max(start, end), clock);
        if (allDay && localEnd / kDay <= localStart / kDay) localEnd = localStart + kDay;
        icalcomponent_add_property(event, TimeProperty(icalproperty_new_dtstart, localStart, allDay, clock));
        icalcomponent_add_property(event, TimeProperty(icalproperty_new_dtend, localEnd, allDay, clock));
        if (recurring) {
            // A series whose pattern cannot be read keeps its first
            // occurrence, and says what it was.
            AddX(event, "X-BRIGHTMEND-RECURRENCE",
                 fields.Text(AppointmentKey(kRecurrencePatternText)).value_or("recurring; the pattern is unreadable"));
        }
    }
    AddEventFields(event, fields, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
}

}  // namespace bm::ics
