#include "output/ics/time_zone_rule.h"

#include <algorithm>
#include <cstdlib>

#include "common/byte_reader.h"
#include "output/mime/message_fields.h"

namespace bm::ics {
namespace {

constexpr std::size_t kRuleSize = 66;
constexpr std::int64_t kDay = 86400;

Transition ReadTransition(ByteReader& r) {
    Transition t;
    t.year = r.readU16();
    t.month = r.readU16();
    t.dayOfWeek = r.readU16();
    t.day = r.readU16();
    t.hour = r.readU16();
    t.minute = r.readU16();
    r.skip(4);  // seconds and milliseconds
    return t;
}

bool Plausible(const ZoneRule& rule) {
    const auto sane = [](const Transition& t) {
        return t.month <= 12 && t.dayOfWeek <= 6 && t.day <= 31 && t.hour <= 23 && t.minute <= 59;
    };
    // No zone is more than 14 hours from UTC, nor shifts by more than 2.
    return std::abs(rule.bias) <= 14 * 60 && std::abs(rule.standardBias) <= 120 &&
           std::abs(rule.daylightBias) <= 120 && sane(rule.toStandard) && sane(rule.toDaylight);
}

int YearOf(std::int64_t seconds) {
    const std::int64_t days = seconds >= 0 ? seconds / kDay : (seconds - kDay + 1) / kDay;
    return CivilFromDays(days).year;
}

unsigned DaysInMonth(int year, unsigned month) {
    return static_cast<unsigned>(DaysFromCivil(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1) -
                                 DaysFromCivil(year, month, 1));
}

}  // namespace

std::int64_t TransitionTime(const Transition& t, int year) {
    const unsigned month = std::clamp<unsigned>(t.month, 1, 12);
    unsigned day = t.day;
    if (t.year == 0) {
        // The n-th given weekday of the month; the 5th is the last.
        const std::int64_t first = DaysFromCivil(year, month, 1);
        const unsigned weekdayOfFirst = static_cast<unsigned>(((first + 4) % 7 + 7) % 7);
        day = 1 + (t.dayOfWeek + 7 - weekdayOfFirst) % 7 + 7 * (std::clamp<unsigned>(t.day, 1, 5) - 1);
        while (day > DaysInMonth(year, month)) day -= 7;
    }
    day = std::clamp<unsigned>(day, 1, DaysInMonth(year, month));
    return DaysFromCivil(year, month, day) * kDay + t.hour * 3600 + t.minute * 60;
}

const ZoneRule& TimeZone::RuleFor(int year) const {
    const ZoneRule* best = &rules.front();
    for (const ZoneRule& r : rules)
        if (r.year <= year) best = &r;
    return *best;
}

std::int32_t TimeZone::OffsetAtLocal(std::int64_t local) const {
    const int year = YearOf(local);
    const ZoneRule& rule = RuleFor(year);
    if (!rule.hasDaylight()) return rule.standardOffset() * 60;
    const std::int64_t start = TransitionTime(rule.toDaylight, year);
    const std::int64_t end = TransitionTime(rule.toStandard, year);
    const bool daylight = start < end ? local >= start && local < end : local >= start || local < end;
    return (daylight ? rule.daylightOffset() : rule.standardOffset()) * 60;
}

std::int32_t TimeZone::OffsetAtUtc(std::int64_t utc) const {
    const ZoneRule& guess = RuleFor(YearOf(utc));
    const int year = YearOf(utc + guess.standardOffset() * 60);
    const ZoneRule& rule = RuleFor(year);
    if (!rule.hasDaylight()) return rule.standardOffset() * 60;
    const std::int64_t start = TransitionTime(rule.toDaylight, year) - rule.standardOffset() * 60;
    const std::int64_t end = TransitionTime(rule.toStandard, year) - rule.daylightOffset() * 60;
    const bool daylight = start < end ? utc >= start && utc < end : utc >= start || utc < end;
    return (daylight ? rule.daylightOffset() : rule.standardOffset()) * 60;
}

std::optional<TimeZone> ReadTimeZoneDefinition(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    const std::uint8_t major = r.readU8();
    r.skip(1);
    const std::uint16_t headerSize = r.readU16();
    const std::uint16_t flags = r.readU16();
    if (!r.ok() || major != 2) return std::nullopt;
    if (flags & 0x0001) r.skip(16);  // the zone's GUID
    TimeZone zone;
    const std::uint16_t keyChars = r.readU16();
    const auto key = r.readBytes(std::size_t{keyChars} * 2);
    if (!r.ok()) return std::nullopt;
    zone.name = mime::Utf16ToUtf8(key);
    // The rules follow the header, whatever it holds beyond what is read.
    if (!r.seek(4 + std::size_t{headerSize} - 2)) return std::nullopt;
    const std::uint16_t count = r.readU16();
    for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
        ByteReader rule = r.sub(r.position(), kRuleSize);
        if (!r.skip(kRuleSize)) break;
        ZoneRule z;
        rule.skip(6);  // versions, reserved, flags
        z.year = rule.readU16();
        rule.skip(14);
        z.bias = rule.readI32();
        z.standardBias = rule.readI32();
        z.daylightBias = rule.readI32();
        z.toStandard = ReadTransition(rule);
        z.toDaylight = ReadTransition(rule);
        if (rule.ok() && Plausible(z)) zone.rules.push_back(z);
    }
    if (zone.rules.empty()) return std::nullopt;
    std::stable_sort(zone.rules.begin(), zone.rules.end(),
                     [](const ZoneRule& a, const ZoneRule& b) { return a.year < b.year; });
    return zone;
}

std::optional<TimeZone> ReadTimeZoneStruct(std::span<const std::uint8_t> bytes, std::string name) {
    ByteReader r(bytes);
    ZoneRule z;
    z.bias = r.readI32();
    z.standardBias = r.readI32();
    z.daylightBias = r.readI32();
    r.skip(2);
    z.toStandard = ReadTransition(r);
    r.skip(2);
    z.toDaylight = ReadTransition(r);
    if (!r.ok() || !Plausible(z)) return std::nullopt;
    TimeZone zone;
    zone.name = std::move(name);
    zone.rules.push_back(z);
    return zone;
}

}  // namespace bm::ics
