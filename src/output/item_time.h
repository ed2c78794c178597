// The date and time texts an item's FILETIME is shown and handed on as.
//
// FormatItemTime breaks the 8-byte time into calendar fields without any
// time-zone conversion: the fields are the UTC clock the store holds. The
// date text is "%d/%d/%d" (day, month, four-digit year) and the time text
// "%d.%d.%d" (hour, minute, second).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace bm {

// 100-nanosecond intervals since 1601-01-01 (UTC).
using FileTime = std::int64_t;

struct ItemTimeTexts {
    std::string date;  // "7/12/2026"
    std::string time;  // "14.5.9"
    // date + " " + time.
    std::string DateTime() const { return date + " " + time; }
};

// The FILETIME held in an item's 8 raw bytes; nullopt when the value is not
// exactly 8 bytes.
std::optional<FileTime> FileTimeOf(std::span<const std::uint8_t> raw);

// Fills `texts` from `time` and returns the calendar time obtained by
// reading the same fields as local standard time (no daylight saving).
std::time_t FormatItemTime(FileTime time, ItemTimeTexts& texts);

}  // namespace bm
