#include "output/item_time.h"

#include "common/byte_reader.h"
#include "common/civil_date.h"

namespace bm {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134'774;

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

}  // namespace bm
