#include "output/item_time.h"

#include <charconv>

#include "common/byte_reader.h"

namespace bm {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134'774;

// Proleptic Gregorian calendar, days relative to 1970-01-01 (H. Hinnant's
// civil-date algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

CivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads a run of decimal digits followed by `separator` (or the end when
// separator is 0).
bool ReadNumber(std::string_view& text, char separator, std::int64_t& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    if (ec != std::errc() || ptr == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(ptr - text.data()));
    if (separator == 0) return text.empty();
    if (text.empty() || text.front() != separator) return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<FileTime> FileTimeOf(std::span<const std::uint8_t> raw) {
    if (raw.size() != 8) return std::nullopt;
    ByteReader reader(raw);
    const std::uint64_t value = reader.readU64();
    if (reader.failed()) return std::nullopt;
    return static_cast<FileTime>(value);
}

std::time_t FormatItemTime(FileTime time, ItemTimeTexts& texts) {
    // FILETIME is unsigned on disk; a value past INT64_MAX reads negative
    // here and is shown as a date before 1601 rather than rejected.
    std::int64_t seconds = time / kTicksPerSecond;
    if (time % kTicksPerSecond < 0) --seconds;
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    const CivilDate date = CivilFromDays(days - kDays1601To1970);
    const auto hour = static_cast<int>(secondOfDay / 3600);
    const auto minute = static_cast<int>(secondOfDay / 60 % 60);
    const auto second = static_cast<int>(secondOfDay % 60);
    texts.date = std::to_string(date.day) + "/" + std::to_string(date.month) + "/" + std::to_string(date.year);
    texts.time = std::to_string(hour) + "." + std::to_string(minute) + "." + std::to_string(second);

    std::tm fields{};
    fields.tm_year = static_cast<int>(date.year - 1900);
    fields.tm_mon = static_cast<int>(date.month) - 1;
    fields.tm_mday = static_cast<int>(date.day);
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = 0;
    return std::mktime(&fields);
}

std::optional<FileTime> ParseItemDateTime(std::string_view text) {
    std::int64_t day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    const std::size_t blank = text.find(' ');
    std::string_view date = text.substr(0, blank);
    if (!ReadNumber(date, '/', day) || !ReadNumber(date, '/', month) || !ReadNumber(date, 0, year)) return std::nullopt;
    if (blank != std::string_view::npos) {
        std::string_view clock = text.substr(blank + 1);
        if (!ReadNumber(clock, '.', hour) || !ReadNumber(clock, '.', minute) || !ReadNumber(clock, 0, second))
            return std::nullopt;
    }
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, static_cast<unsigned>(month)) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kDays1601To1970;
    return (days * kSecondsPerDay + hour * 3600 + minute * 60 + second) * kTicksPerSecond;
}

}  // namespace bm
