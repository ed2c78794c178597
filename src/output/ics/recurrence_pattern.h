// The recurrence of an appointment as the item stores it
// (PidLidAppointmentRecur), read with the bounds-checked reader.
//
// Layout, all little-endian:
//   RecurrencePattern: reader and writer version (0x3004 each), frequency
//   (0x200A daily, 0x200B weekly, 0x200C monthly, 0x200D yearly), pattern
//   type (0 day, 1 week, 2 month, 3 month-nth, 4 month-end; 0xA..0xC the
//   Hijri forms), calendar type, first date-time, period (minutes for a
//   daily pattern, weeks, or months), sliding flag, the pattern's own
//   fields (week: day mask; month: day of month; month-nth: day mask and
//   week 1..5, 5 the last), end type (0x2021 by date, 0x2022 after a count,
//   0x2023 or 0xFFFFFFFF never), occurrence count, first day of week, the
//   deleted instance dates, the modified instance dates, start date, end
//   date.
//   Then the appointment's part: reader and writer version (0x3006,
//   0x3008/0x3009), start and end time offsets (minutes after midnight),
//   exception count and one ExceptionInfo each (start, end, original start,
//   override flags, then subject, meeting type, reminder delta, reminder
//   set, location, busy status, attachment, subtype and colour as the
//   flags say), a reserved block, and one ExtendedException each (with
//   writer 0x3009 a change highlight; a reserved block; with a subject or
//   location the times again and the UTF-16 subject and location; a
//   reserved block).
// Dates and times are minutes since 1601-01-01 in the appointment's own
// time zone. Deleted dates are the original dates of removed and of moved
// occurrences (midnight); a moved one also has an ExceptionInfo.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bm::ics {

enum class PatternKind { Day, Week, Month, MonthNth, MonthEnd };
enum class RecurrenceEnd { Date, Count, Never };

struct OccurrenceChange {
    std::uint32_t start = 0;  // local minutes since 1601
    std::uint32_t end = 0;
    std::uint32_t originalStart = 0;
    std::optional<std::string> subject;   // UTF-8
    std::optional<std::string> location;  // UTF-8
    std::optional<std::int32_t> busyStatus;
    std::optional<std::int32_t> reminderDelta;  // minutes
    std::optional<bool> reminderSet;
    std::optional<bool> allDay;
};

struct RecurrencePattern {
    bool yearly = false;  // frequency yearly (a monthly pattern every 12 n months)
    PatternKind kind = PatternKind::Day;
    std::uint32_t period = 1;  // minutes, weeks or months
    std::uint32_t dayMask = 0;  // bit 0 Sunday .. bit 6 Saturday
    std::uint32_t dayOfMonth = 0;
    std::uint32_t week = 0;  // month-nth: 1..4, 5 the last
    RecurrenceEnd endType = RecurrenceEnd::Never;
    std::uint32_t occurrenceCount = 0;
    std::uint32_t firstDayOfWeek = 0;
    std::vector<std::uint32_t> deletedDates;   // local minutes, midnight
    std::vector<std::uint32_t> modifiedDates;  // local minutes, midnight
    std::uint32_t startDate = 0;  // local minutes, midnight of the first occurrence
    std::uint32_t endDate = 0;    // midnight of the last one (end by date or count)
    std::uint32_t startTimeOffset = 0;  // minutes after midnight
    std::uint32_t endTimeOffset = 0;
    std::vector<OccurrenceChange> changes;
};

// nullopt when the bytes are no pattern of a kind this reads (Hijri
// calendars among them); what follows a readable pattern part may be
// missing, and then has no changes.
std::optional<RecurrencePattern> ReadRecurrencePattern(std::span<const std::uint8_t> bytes);

// Unix seconds (read as local time) of local minutes since 1601.
constexpr std::int64_t LocalSecondsOfMinutes(std::uint32_t minutes) {
    return (static_cast<std::int64_t>(minutes) - 194074560LL) * 60;  // 1601 to 1970: 134774 days
}

}  // namespace bm::ics
