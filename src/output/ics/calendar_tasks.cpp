// Tasks as VTODOs, journal items and sticky notes as VJOURNALs.
#include <cmath>

#include "output/ics/calendar_parts.h"

namespace bm::ics {
namespace {

constexpr std::uint32_t kTaskStatus = 0x8101;
constexpr std::uint32_t kTaskPercentComplete = 0x8102;
constexpr std::uint32_t kTaskStartDate = 0x8104;
constexpr std::uint32_t kTaskDueDate = 0x8105;
constexpr std::uint32_t kTaskDateCompleted = 0x810F;
constexpr std::uint32_t kTaskComplete = 0x811C;
constexpr std::uint32_t kLogType = 0x8700;
constexpr std::uint32_t kLogStart = 0x8706;
constexpr std::uint32_t kLogEnd = 0x8708;
constexpr std::uint16_t kImportance = 0x0017;
constexpr std::uint16_t kCreationTime = 0x3007;

constexpr std::int32_t kTaskInProgress = 1;
constexpr std::int32_t kTaskCompleted = 2;
constexpr std::int32_t kTaskWaiting = 3;
constexpr std::int32_t kTaskDeferred = 4;

}  // namespace

void AddTask(icalcomponent* calendar, const ItemFields& fields) {
    icalcomponent* todo = icalcomponent_new(ICAL_VTODO_COMPONENT);
    icalcomponent_add_component(calendar, todo);
    AddCommonFields(todo, fields);
    const std::int32_t status = fields.Int(TaskKey(kTaskStatus)).value_or(0);
    const bool complete = fields.Int(TaskKey(kTaskComplete)).value_or(0) != 0 || status == kTaskCompleted;
    icalcomponent_add_property(todo, icalproperty_new_status(complete                     ? ICAL_STATUS_COMPLETED
                                                             : status == kTaskInProgress ? ICAL_STATUS_INPROCESS
                                                                                         : ICAL_STATUS_NEEDSACTION));
    // iCalendar has no word for these two; a reader that knows them finds them.
    if (!complete && status == kTaskWaiting) AddX(todo, "X-BRIGHTMEND-TASK-STATUS", "waiting on someone else");
    if (!complete && status == kTaskDeferred) AddX(todo, "X-BRIGHTMEND-TASK-STATUS", "deferred");
    if (const auto percent = mime::DoubleOf(fields.bag(), TaskKey(kTaskPercentComplete))) {
        const double clamped = std::isfinite(*percent) ? std::clamp(*percent, 0.0, 1.0) : 0.0;
        icalcomponent_add_property(todo, icalproperty_new_percentcomplete(static_cast<int>(std::lround(clamped * 100))));
    }
    // Start and due dates are days: the stored time is midnight of that day
    // read as UTC.
    const auto start = fields.Time(TaskKey(kTaskStartDate));
    const auto due = fields.Time(TaskKey(kTaskDueDate));
    if (start) icalcomponent_add_property(todo, icalproperty_new_dtstart(DateOf(*start)));
    if (due) {
        // DUE is never before DTSTART.
        icalcomponent_add_property(todo, icalproperty_new_due(DateOf(start ? std::max(*start, *due) : *due)));
    }
    if (const auto done = fields.Time(TaskKey(kTaskDateCompleted)); done && complete)
        icalcomponent_add_property(todo, icalproperty_new_completed(UtcTime(*done)));
    if (const auto importance = fields.Int(kImportance))
        icalcomponent_add_property(todo, icalproperty_new_priority(*importance >= 2 ? 1 : *importance == 0 ? 9 : 5));
}

void AddJournal(icalcomponent* calendar, const ItemFields& fields) {
    icalcomponent* journal = icalcomponent_new(ICAL_VJOURNAL_COMPONENT);
    icalcomponent_add_component(calendar, journal);
    AddCommonFields(journal, fields);
    const auto start = fields.Time(LogKey(kLogStart));
    if (const auto when = start ? start : fields.Time(kCreationTime))
        icalcomponent_add_property(journal, icalproperty_new_dtstart(UtcTime(*when)));
    if (const auto end = fields.Time(LogKey(kLogEnd)); end && start && *end > *start)
        AddX(journal, "X-BRIGHTMEND-END", icaltime_as_ical_string(UtcTime(*end)));
    if (const auto type = fields.Text(LogKey(kLogType))) AddX(journal, "X-BRIGHTMEND-JOURNAL-TYPE", *type);
}

}  // namespace bm::ics
