// Calendar items, tasks, journal items and sticky notes as iCalendar
// (RFC 5545), built with libical: one calendar per folder, written piece
// by piece so a folder of any size is never held whole.
//
//   ics::Calendar calendar;
//   file.Write(calendar.Begin());
//   for (item : folder) file.Write(calendar.Components(item));
//   file.Write(calendar.End());  // the time zones the items used, then the end
//
// Appointments and meeting requests become VEVENTs: DTSTART and DTEND in
// the item's own time zone (a VTIMEZONE made from the stored definition;
// UTC when the item stores none), all-day events as dates, the recurrence
// pattern as RRULE with its end (UNTIL or COUNT), deleted occurrences as
// EXDATE and each changed one as a VEVENT of its own with RECURRENCE-ID
// (times, subject and location from the exception data; the body from the
// exception's embedded message where there is one). ORGANIZER and
// ATTENDEE carry role and reply status; LOCATION, CLASS (from the
// sensitivity), TRANSP, CATEGORIES, and the reminder as VALARM.
// Tasks become VTODOs (status, percent complete, start and due dates,
// completion time, priority); journal items and sticky notes VJOURNALs.
// A pattern this cannot read (a Hijri calendar, damaged bytes) leaves the
// first occurrence alone and says so in X-BRIGHTMEND-RECURRENCE, with the
// pattern's text as the item gave it.
#pragma once

#include <string>

#include "output/ics/calendar_zones.h"
#include "output/pst/message.h"

namespace bm::ics {

// Whether the item is of a kind a calendar holds: IPM.Appointment,
// IPM.Schedule.Meeting..., IPM.Task, IPM.Activity, IPM.StickyNote.
bool IsCalendarItem(const pst::Message& item);

class Calendar {
public:
    // BEGIN:VCALENDAR with VERSION, PRODID and CALSCALE.
    static std::string Begin();
    // The item's components, lines ending in CRLF; empty for an item of
    // another kind.
    std::string Components(const pst::Message& item);
    // The VTIMEZONEs the items used, and END:VCALENDAR.
    std::string End() const;

private:
    ZoneSet zones_;
};

}  // namespace bm::ics
