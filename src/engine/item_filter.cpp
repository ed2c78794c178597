#include "engine/item_filter.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "common/civil_date.h"
#include "format/properties.h"

namespace bm {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool ContainsNoCase(std::string_view text, std::string_view part) {
    if (part.empty()) return true;
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char a, char b) { return Lower(a) == Lower(b); }) != text.end();
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return Lower(a) == Lower(b); });
}

// A FILETIME value of 8 bytes, little-endian; none for any other size or 0.
std::optional<std::uint64_t> FileTimeOf(const Bytes& raw) {
    if (raw.size() != 8) return std::nullopt;
    std::uint64_t v = 0;
    for (std::size_t i = 8; i-- > 0;) v = (v << 8) | raw[i];
    if (v == 0) return std::nullopt;
    return v;
}

bool LeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// The digits at [at, at + n) of `text` as a number; nullopt when any is no digit.
std::optional<unsigned> Digits(std::string_view text, std::size_t at, std::size_t n) {
    if (at + n > text.size()) return std::nullopt;
    unsigned v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return v;
}

// The sender's line of the transport headers ("From: ..."), or empty.
std::string_view FromHeader(std::string_view headers) {
    std::size_t at = 0;
    while (at < headers.size()) {
        const std::size_t end = std::min(headers.find('\n', at), headers.size());
        const std::string_view line = headers.substr(at, end - at);
        if (line.empty() || line == "\r") break;  // the end of the header section
        if (StartsNoCase(line, "from:")) return line.substr(5);
        at = end + 1;
    }
    return {};
}

bool SenderMatches(const ItemRecord& item, std::string_view wanted) {
    const MessageFields* m = item.messageFields.get();
    if (m == nullptr) return false;
    return ContainsNoCase(m->sentRepresentingAddress, wanted) || ContainsNoCase(m->sentRepresentingName, wanted) ||
           ContainsNoCase(FromHeader(m->transportHeaders), wanted);
}

// The day of a FILETIME (UTC) and the seconds into it.
std::pair<CivilDate, std::int64_t> DayOf(std::uint64_t filetime) {
    const std::int64_t seconds = UnixFromFileTime(filetime);
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    return {CivilFromDays(days), rest};
}

std::string DateText(std::uint64_t filetime) {
    const auto [date, rest] = DayOf(filetime);
    const int y = date.year;
    const unsigned m = date.month;
    const unsigned d = date.day;
    if (rest == 0) return fmt::format("{:04}-{:02}-{:02}", y, m, d);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", y, m, d, rest / 3600, rest / 60 % 60, rest % 60);
}

}  // namespace

std::optional<std::uint64_t> ParseFilterDate(std::string_view text, bool dayAfter) {
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 5, 2);
    const auto day = Digits(text, 8, 2);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-') return std::nullopt;
    if (*year < 1601 || *month < 1 || *month > 12 || *day < 1) return std::nullopt;
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const unsigned monthDays = kDays[*month - 1] + (*month == 2 && LeapYear(*year) ? 1 : 0);
    if (*day > monthDays) return std::nullopt;
    std::int64_t seconds = DaysFromCivil(static_cast<int>(*year), *month, *day) * 86400;
    std::string_view time = text.substr(10);
    if (time.empty()) {
        if (dayAfter) seconds += 86400;
    } else {
        if (time.back() == 'Z') time.remove_suffix(1);
        const auto hour = Digits(time, 1, 2);
        const auto minute = Digits(time, 4, 2);
        if ((time[0] != 'T' && time[0] != ' ') || !hour || !minute || time.size() < 6 || time[3] != ':' ||
            *hour > 23 || *minute > 59)
            return std::nullopt;
        unsigned second = 0;
        if (time.size() != 6) {
            const auto s = Digits(time, 7, 2);
            if (time.size() != 9 || time[6] != ':' || !s || *s > 59) return std::nullopt;
            second = *s;
        }
        seconds += *hour * 3600 + *minute * 60 + second;
    }
    return static_cast<std::uint64_t>(FileTimeFromUnix(seconds));
}

std::optional<std::uint64_t> FilterTimeOf(const ItemRecord& item) {
    if (const MessageFields* m = item.messageFields.get()) {
        if (const auto t = FileTimeOf(m->deliveryTime)) return t;
        if (const auto t = FileTimeOf(m->submitTime)) return t;
    }
    return FileTimeOf(item.creationTime);
}

std::optional<int> FilterYearOf(const ItemRecord& item) {
    const std::optional<std::uint64_t> time = FilterTimeOf(item);
    if (!time) return std::nullopt;
    return DayOf(*time).first.year;
}

bool FilterKeeps(const ItemFilter& filter, const ItemRecord& item) {
    if (filter.since || filter.until) {
        if (const auto t = FilterTimeOf(item)) {
            if (filter.since && *t < *filter.since) return false;
            if (filter.until && *t >= *filter.until) return false;
        }
    }
    if (!filter.senders.empty() &&
        std::none_of(filter.senders.begin(), filter.senders.end(),
                     [&](const std::string& s) { return SenderMatches(item, s); }))
        return false;
    if (!filter.classPrefixes.empty() &&
        std::none_of(filter.classPrefixes.begin(), filter.classPrefixes.end(),
                     [&](const std::string& p) { return StartsNoCase(item.messageClass, p); }))
        return false;
    return true;
}

std::string DescribeFilter(const ItemFilter& filter) {
    std::vector<std::string> parts;
    if (filter.since) parts.push_back("since " + DateText(*filter.since));
    if (filter.until) parts.push_back("before " + DateText(*filter.until));
    for (const std::string& s : filter.senders) parts.push_back("from " + s);
    for (const std::string& c : filter.classPrefixes) parts.push_back("class " + c);
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ", ") + p;
    return text;
}

}  // namespace bm
