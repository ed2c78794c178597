// The stored forms of a time zone and of a recurrence, written as the mail
// client writes them, for building calendar items in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/ics/time_zone_rule.h"

namespace bmtest {

class Blob {
public:
    Blob& U8(std::uint32_t v) { return Le(v, 1); }
    Blob& U16(std::uint32_t v) { return Le(v, 2); }
    Blob& U32(std::uint64_t v) { return Le(v, 4); }
    Blob& Wide(std::u16string_view s) {
        for (const char16_t c : s) U16(c);
        return *this;
    }
    Blob& Narrow(std::string_view s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    Blob& Append(const std::vector<std::uint8_t>& b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    std::vector<std::uint8_t> bytes;

private:
    Blob& Le(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
};

inline void PutTransition(Blob& b, const bm::ics::Transition& t) {
    b.U16(t.year).U16(t.month).U16(t.dayOfWeek).U16(t.day).U16(t.hour).U16(t.minute).U16(0).U16(0);
}

// A TZDEFINITION with its key name and rules.
inline std::vector<std::uint8_t> TimeZoneDefinition(std::u16string_view keyName,
                                                    const std::vector<bm::ics::ZoneRule>& rules) {
    Blob b;
    b.U8(2).U8(1).U16(2 + 2 + 2 * keyName.size() + 2).U16(0x0002).U16(keyName.size()).Wide(keyName).U16(rules.size());
    for (const bm::ics::ZoneRule& r : rules) {
        b.U8(2).U8(1).U16(0x003E).U16(r.year == rules.back().year ? 0x0002 : 0).U16(r.year);
        for (int i = 0; i < 14; ++i) b.U8(0);
        b.U32(static_cast<std::uint32_t>(r.bias))
            .U32(static_cast<std::uint32_t>(r.standardBias))
            .U32(static_cast<std::uint32_t>(r.daylightBias));
        PutTransition(b, r.toStandard);
        PutTransition(b, r.toDaylight);
    }
    return b.bytes;
}

// Minutes since 1601 of a local date and time.
inline std::uint32_t LocalMinutes(int year, unsigned month, unsigned day, int hour = 0, int minute = 0) {
    return static_cast<std::uint32_t>((bm::DaysFromCivil(year, month, day) + 134774) * 1440 + hour * 60 + minute);
}

struct Change {
    std::uint32_t start, end, originalStart;
    std::string subject;   // empty: unchanged
    std::string location;  // empty: unchanged
};

struct Pattern {
    std::uint16_t frequency = 0x200B;  // weekly
    std::uint16_t type = 1;
    std::uint32_t period = 1;
    std::vector<std::uint32_t> specific;  // the pattern type's own fields
    std::uint32_t endType = 0x2022;
    std::uint32_t count = 0;
    std::uint32_t firstDayOfWeek = 1;
    std::vector<std::uint32_t> deleted;   // original dates (midnight), moved ones included
    std::vector<std::uint32_t> modified;  // new dates (midnight) of moved ones
    std::uint32_t startDate = 0, endDate = 0;
    std::uint32_t startOffset = 0, endOffset = 0;
    std::vector<Change> changes;
};

// UTF-8 (of the Basic Multilingual Plane) as UTF-16.
inline std::u16string Utf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
        char16_t u = n == 1 ? c : n == 2 ? (c & 0x1F) : (c & 0x0F);
        for (int k = 1; k < n; ++k) u = static_cast<char16_t>((u << 6) | (utf8[i + k] & 0x3F));
        out.push_back(u);
        i += n;
    }
    return out;
}

// The 8-bit copy the exception data also keeps: what is not ASCII is "?".
inline std::string Narrowed(std::string_view utf8) {
    std::string out;
    for (const char16_t u : Utf16(utf8)) out += u < 0x80 ? static_cast<char>(u) : '?';
    return out;
}

// An AppointmentRecurrencePattern (writer version 0x3009).
inline std::vector<std::uint8_t> RecurrenceBlob(const Pattern& p) {
    Blob b;
    b.U16(0x3004).U16(0x3004).U16(p.frequency).U16(p.type).U16(0).U32(0).U32(p.period).U32(0);
    for (const std::uint32_t v : p.specific) b.U32(v);
    b.U32(p.endType).U32(p.count).U32(p.firstDayOfWeek).U32(p.deleted.size());
    for (const std::uint32_t d : p.deleted) b.U32(d);
    b.U32(p.modified.size());
    for (const std::uint32_t d : p.modified) b.U32(d);
    b.U32(p.startDate).U32(p.endDate);
    b.U32(0x3006).U32(0x3009).U32(p.startOffset).U32(p.endOffset).U16(p.changes.size());
    const auto flags = [](const Change& c) { return (c.subject.empty() ? 0 : 0x01) | (c.location.empty() ? 0 : 0x10); };
    for (const Change& c : p.changes) {
        b.U32(c.start).U32(c.end).U32(c.originalStart).U16(flags(c));
        // The 8-bit texts as an older reader would take them.
        for (const std::string& text : {c.subject, c.location}) {
            if (text.empty()) continue;
            const std::string narrow = Narrowed(text);
            b.U16(narrow.size() + 1).U16(narrow.size()).Narrow(narrow);
        }
    }
    b.U32(0);  // reserved block 1
    for (const Change& c : p.changes) {
        b.U32(0).U32(0);  // change highlight, reserved block EE1
        if (flags(c) != 0) {
            b.U32(c.start).U32(c.end).U32(c.originalStart);
            for (const std::string& text : {c.subject, c.location}) {
                if (text.empty()) continue;
                const std::u16string wide = Utf16(text);
                b.U16(wide.size()).Wide(wide);
            }
            b.U32(0);  // reserved block EE2
        }
    }
    b.U32(0);  // reserved block 2
    return b.bytes;
}

}  // namespace bmtest
