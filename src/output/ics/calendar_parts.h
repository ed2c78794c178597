// What the calendar components share: the item's properties by name, the
// libical handles, and times in the forms iCalendar writes them.
#pragma once

#include <libical/ical.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "output/ics/calendar_zones.h"
#include "output/ics/time_zone_rule.h"
#include "output/mime/message_fields.h"
#include "output/pst/message.h"

namespace bm::ics {

struct ComponentFree {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

// Named properties of the calendar's property sets.
pst::PropKey AppointmentKey(std::uint32_t lid);
pst::PropKey CommonKey(std::uint32_t lid);
pst::PropKey TaskKey(std::uint32_t lid);
pst::PropKey LogKey(std::uint32_t lid);
pst::PropKey MeetingKey(std::uint32_t lid);
pst::PropKey KeywordsKey();

// One item's properties, read as text in UTF-8 and times in Unix seconds.
class ItemFields {
public:
    explicit ItemFields(const pst::Message& item)
        : item_(item), bag_(item.properties), cp_(mime::CodePageOf(item.properties)) {}
    const pst::Message& item() const { return item_; }
    const pst::PropertyBag& bag() const { return bag_; }
    std::optional<std::string> Text(const pst::PropKey& key) const { return mime::TextOf(bag_, key, cp_); }
    std::optional<std::string> Text(std::uint16_t id) const { return Text(mime::IdKey(id)); }
    std::optional<std::int64_t> Time(const pst::PropKey& key) const { return mime::UnixTimeOf(bag_, key); }
    std::optional<std::int64_t> Time(std::uint16_t id) const { return Time(mime::IdKey(id)); }
    std::optional<std::int32_t> Int(const pst::PropKey& key) const { return mime::Int32Of(bag_, key); }
    std::optional<std::int32_t> Int(std::uint16_t id) const { return Int(mime::IdKey(id)); }
    std::uint32_t codePage() const { return cp_; }

private:
    const pst::Message& item_;
    const pst::PropertyBag& bag_;
    std::uint32_t cp_;
};

// Times as properties take them: UTC ("...Z"), a local wall-clock time
// (Unix seconds read as local) with its TZID, or a date.
icaltimetype UtcTime(std::int64_t utc);
icaltimetype LocalTime(std::int64_t local);
icaltimetype DateOf(std::int64_t local);
// Gives the property its time zone's TZID parameter (nothing for an empty one).
icalproperty* WithTzid(icalproperty* property, const std::string& tzid);

// UID (from the meeting's global object id, else the search key, else the
// subject and times), SUMMARY, DESCRIPTION, CLASS, CATEGORIES, DTSTAMP,
// CREATED and LAST-MODIFIED.
void AddCommonFields(icalcomponent* component, const ItemFields& fields);
// The unique id AddCommonFields gives the item.
std::string UidOf(const ItemFields& fields);
// An X- property with a text value.
void AddX(icalcomponent* component, const char* name, const std::string& value);

// The VEVENTs of an appointment or meeting item (the series and its
// changed occurrences), the VTODO of a task, the VJOURNAL of a journal
// item or sticky note; each added to `calendar`.
void AddEvents(icalcomponent* calendar, const ItemFields& fields, ZoneSet& zones);
void AddTask(icalcomponent* calendar, const ItemFields& fields);
void AddJournal(icalcomponent* calendar, const ItemFields& fields);

}  // namespace bm::ics
