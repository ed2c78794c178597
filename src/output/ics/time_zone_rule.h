// An appointment's time zone as the item stores it, and the conversion
// between its local times and UTC.
//
// Two stored forms are read:
//   TZDEFINITION (the time-zone definition of the start or of the
//   recurrence): major and minor version (2, 1), the header's size, flags,
//   an optional GUID, the key name ("W. Europe Standard Time") in UTF-16,
//   the count of rules, then one 66-byte TZRULE each: versions, reserved,
//   flags, the year the rule starts, 14 unused bytes, bias, standard bias,
//   daylight bias, and the standard and daylight transition dates;
//   TZSTRUCT (the older single rule): bias, standard bias, daylight bias,
//   the standard year and date, the daylight year and date.
// Transition dates are SYSTEMTIMEs: year, month, day of week, day, hour,
// minute, second, millisecond. With year 0 the day is the week of the
// month (1 to 4, 5 for the last). A month of 0 means the zone keeps no
// daylight saving time. Biases are minutes: UTC = local + bias + the
// standard or daylight bias.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/civil_date.h"

namespace bm::ics {

struct Transition {
    std::uint16_t year = 0;  // 0: the same rule each year
    std::uint16_t month = 0;
    std::uint16_t dayOfWeek = 0;  // 0 Sunday .. 6 Saturday
    std::uint16_t day = 0;        // the week (1..5) when year is 0
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
};

struct ZoneRule {
    std::uint16_t year = 0;  // from which year the rule holds
    std::int32_t bias = 0;
    std::int32_t standardBias = 0;
    std::int32_t daylightBias = 0;
    Transition toStandard;
    Transition toDaylight;
    bool hasDaylight() const { return toStandard.month != 0 && toDaylight.month != 0; }
    // Minutes east of UTC.
    std::int32_t standardOffset() const { return -(bias + standardBias); }
    std::int32_t daylightOffset() const { return -(bias + daylightBias); }
};

struct TimeZone {
    std::string name;  // the key name; empty when the definition has none
    std::vector<ZoneRule> rules;  // by year, at least one

    // The rule that holds in `year`.
    const ZoneRule& RuleFor(int year) const;
    // Seconds east of UTC at the local wall-clock time `local` (Unix
    // seconds read as local time). The hour skipped in spring and the first
    // of the hour repeated in autumn read as daylight time.
    std::int32_t OffsetAtLocal(std::int64_t local) const;
    // Seconds east of UTC at the UTC time `utc`.
    std::int32_t OffsetAtUtc(std::int64_t utc) const;
    std::int64_t ToUtc(std::int64_t local) const { return local - OffsetAtLocal(local); }
    std::int64_t ToLocal(std::int64_t utc) const { return utc + OffsetAtUtc(utc); }
};

// nullopt when the bytes are not a definition with at least one rule.
std::optional<TimeZone> ReadTimeZoneDefinition(std::span<const std::uint8_t> bytes);
std::optional<TimeZone> ReadTimeZoneStruct(std::span<const std::uint8_t> bytes, std::string name);

// Local time (Unix seconds read as local) of the transition in `year`.
std::int64_t TransitionTime(const Transition& t, int year);

}  // namespace bm::ics
