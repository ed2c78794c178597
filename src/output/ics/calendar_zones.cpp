#include "output/ics/calendar_zones.h"

#include <libical/ical.h>

#include <cstdio>
#include <memory>

namespace bm::ics {
namespace {

struct ComponentFree {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};

constexpr int kFirstYear = 1970;
constexpr const char* kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

icaltimetype Floating(std::int64_t local) {
    icaltimetype t = icaltime_from_timet_with_zone(static_cast<time_t>(local), 0, nullptr);
    t.zone = nullptr;
    return t;
}

// One STANDARD or DAYLIGHT part: from `fromOffset` to `toOffset` (minutes
// east of UTC) at the transition, each year from `firstYear` up to (not
// including) `endYear` (0: on and on).
icalcomponent* Observance(icalcomponent_kind kind, const Transition& at, int firstYear, int endYear,
                          std::int32_t fromOffset, std::int32_t toOffset) {
    icalcomponent* part = icalcomponent_new(kind);
    const std::int64_t start = TransitionTime(at, firstYear);
    icalcomponent_add_property(part, icalproperty_new_dtstart(Floating(start)));
    icalcomponent_add_property(part, icalproperty_new_tzoffsetfrom(fromOffset * 60));
    icalcomponent_add_property(part, icalproperty_new_tzoffsetto(toOffset * 60));
    if (at.year != 0) return part;  // a single change
    if (endYear > 0) {
        // A rule a later one replaces: its changes listed one by one, since
        // common readers (python3-icalendar among them) refuse the UTC
        // UNTIL that a yearly rule would need here.
        for (int year = firstYear + 1; year < endYear; ++year) {
            icaldatetimeperiodtype when{};
            when.time = Floating(TransitionTime(at, year));
            when.period = icalperiodtype_null_period();
            icalcomponent_add_property(part, icalproperty_new_rdate(when));
        }
        return part;
    }
    const int week = at.day >= 5 ? -1 : at.day;
    const std::string rule =
        "FREQ=YEARLY;BYMONTH=" + std::to_string(at.month) + ";BYDAY=" + std::to_string(week) + kDays[at.dayOfWeek % 7];
    icalcomponent_add_property(part, icalproperty_new_rrule(icalrecurrencetype_from_string(rule.c_str())));
    return part;
}

std::string RulesKey(const TimeZone& zone) {
    std::string key = zone.name;
    for (const ZoneRule& r : zone.rules) {
        char buffer[160];
        std::snprintf(buffer, sizeof buffer, "|%u,%d,%d,%d,%u/%u/%u/%u/%u:%u,%u/%u/%u/%u/%u:%u", r.year, r.bias,
                      r.standardBias, r.daylightBias, r.toStandard.year, r.toStandard.month, r.toStandard.dayOfWeek,
                      r.toStandard.day, r.toStandard.hour, r.toStandard.minute, r.toDaylight.year, r.toDaylight.month,
                      r.toDaylight.dayOfWeek, r.toDaylight.day, r.toDaylight.hour, r.toDaylight.minute);
        key += buffer;
    }
    return key;
}

}  // namespace

std::string VtimezoneText(const TimeZone& zone, const std::string& tzid) {
    std::unique_ptr<icalcomponent, ComponentFree> vtimezone(icalcomponent_new(ICAL_VTIMEZONE_COMPONENT));
    icalcomponent_add_property(vtimezone.get(), icalproperty_new_tzid(tzid.c_str()));
    // Rules replaced before 1970 are left out; the first one written
    // reaches back to 1970, so every time a mail program shows has its rule.
    std::size_t first = 0;
    while (first + 1 < zone.rules.size() && zone.rules[first + 1].year <= kFirstYear) ++first;
    for (std::size_t i = first; i < zone.rules.size(); ++i) {
        const ZoneRule& rule = zone.rules[i];
        const int firstYear = i == first ? kFirstYear : rule.year;
        const int endYear = i + 1 < zone.rules.size() ? zone.rules[i + 1].year : 0;
        if (!rule.hasDaylight()) {
            icalcomponent* part = icalcomponent_new(ICAL_XSTANDARD_COMPONENT);
            icaltimetype start = Floating(0);
            start.year = firstYear;
            icalcomponent_add_property(part, icalproperty_new_dtstart(start));
            icalcomponent_add_property(part, icalproperty_new_tzoffsetfrom(rule.standardOffset() * 60));
            icalcomponent_add_property(part, icalproperty_new_tzoffsetto(rule.standardOffset() * 60));
            icalcomponent_add_component(vtimezone.get(), part);
            continue;
        }
        icalcomponent_add_component(vtimezone.get(),
                                    Observance(ICAL_XDAYLIGHT_COMPONENT, rule.toDaylight, firstYear, endYear,
                                               rule.standardOffset(), rule.daylightOffset()));
        icalcomponent_add_component(vtimezone.get(),
                                    Observance(ICAL_XSTANDARD_COMPONENT, rule.toStandard, firstYear, endYear,
                                               rule.daylightOffset(), rule.standardOffset()));
    }
    char* text = icalcomponent_as_ical_string_r(vtimezone.get());
    std::string out = text ? text : "";
    icalmemory_free_buffer(text);
    return out;
}

std::string ZoneSet::Use(const TimeZone& zone) {
    const std::string key = RulesKey(zone);
    if (const auto known = tzidOfRules_.find(key); known != tzidOfRules_.end()) return known->second;
    const std::string base = zone.name.empty() ? "Zone " + std::to_string(tzidOfRules_.size() + 1) : zone.name;
    std::string tzid = base;
    for (int n = 2; components_.count(tzid) != 0; ++n) tzid = base + " (" + std::to_string(n) + ")";
    tzidOfRules_[key] = tzid;
    components_[tzid] = VtimezoneText(zone, tzid);
    return tzid;
}

std::string ZoneSet::Text() const {
    std::string out;
    for (const auto& [tzid, text] : components_) out += text;
    return out;
}

}  // namespace bm::ics
