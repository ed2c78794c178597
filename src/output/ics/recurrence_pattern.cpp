#include "output/ics/recurrence_pattern.h"

#include "common/byte_reader.h"
#include "output/mime/message_fields.h"

namespace bm::ics {
namespace {

constexpr std::uint16_t kFrequencyYearly = 0x200D;
constexpr std::uint32_t kEndByDate = 0x2021;
constexpr std::uint32_t kEndAfterCount = 0x2022;

// Override flags of an ExceptionInfo.
constexpr std::uint16_t kChangedSubject = 0x0001;
constexpr std::uint16_t kChangedMeetingType = 0x0002;
constexpr std::uint16_t kChangedReminderDelta = 0x0004;
constexpr std::uint16_t kChangedReminder = 0x0008;
constexpr std::uint16_t kChangedLocation = 0x0010;
constexpr std::uint16_t kChangedBusyStatus = 0x0020;
constexpr std::uint16_t kChangedAttachment = 0x0040;
constexpr std::uint16_t kChangedSubtype = 0x0080;
constexpr std::uint16_t kChangedColor = 0x0100;

std::vector<std::uint32_t> ReadDates(ByteReader& r) {
    const std::uint32_t count = r.readU32();
    if (!r.ok() || count > r.remaining() / 4) {
        r.skip(r.remaining() + 1);  // fails the reader
        return {};
    }
    std::vector<std::uint32_t> dates(count);
    for (auto& d : dates) d = r.readU32();
    return dates;
}

// A length-prefixed 8-bit text (the length twice, the second the bytes).
std::optional<std::string> ReadNarrow(ByteReader& r) {
    r.skip(2);
    const std::uint16_t length = r.readU16();
    const auto bytes = r.readBytes(length);
    if (!r.ok()) return std::nullopt;
    return mime::ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), "CP1252");
}

std::optional<std::string> ReadWide(ByteReader& r) {
    const std::uint16_t chars = r.readU16();
    const auto bytes = r.readBytes(std::size_t{chars} * 2);
    if (!r.ok()) return std::nullopt;
    return mime::Utf16ToUtf8(bytes);
}

bool ReadExceptionInfo(ByteReader& r, OccurrenceChange& c, std::uint16_t& flags) {
    c.start = r.readU32();
    c.end = r.readU32();
    c.originalStart = r.readU32();
    flags = r.readU16();
    if (flags & kChangedSubject) c.subject = ReadNarrow(r);
    if (flags & kChangedMeetingType) r.skip(4);
    if (flags & kChangedReminderDelta) c.reminderDelta = r.readI32();
    if (flags & kChangedReminder) c.reminderSet = r.readU32() != 0;
    if (flags & kChangedLocation) c.location = ReadNarrow(r);
    if (flags & kChangedBusyStatus) c.busyStatus = r.readI32();
    if (flags & kChangedAttachment) r.skip(4);
    if (flags & kChangedSubtype) c.allDay = r.readU32() != 0;
    if (flags & kChangedColor) r.skip(4);
    return r.ok();
}

void ReadExtendedException(ByteReader& r, std::uint32_t writerVersion, OccurrenceChange& c, std::uint16_t flags) {
    if (writerVersion >= 0x3009) r.skip(r.readU32());  // change highlight
    r.skip(r.readU32());
    if (flags & (kChangedSubject | kChangedLocation)) {
        r.skip(12);  // the times again
        if (flags & kChangedSubject)
            if (auto wide = ReadWide(r)) c.subject = std::move(wide);
        if (flags & kChangedLocation)
            if (auto wide = ReadWide(r)) c.location = std::move(wide);
        r.skip(r.readU32());
    }
}

bool ReadPatternPart(ByteReader& r, RecurrencePattern& p) {
    r.skip(4);  // reader and writer version
    const std::uint16_t frequency = r.readU16();
    const std::uint16_t type = r.readU16();
    const std::uint16_t calendar = r.readU16();
    r.skip(4);  // first date-time
    p.period = r.readU32();
    r.skip(4);  // sliding flag
    if (!r.ok() || calendar > 1 || p.period == 0) return false;  // Gregorian only
    p.yearly = frequency == kFrequencyYearly;
    switch (type) {
        case 0: p.kind = PatternKind::Day; break;
        case 1: p.kind = PatternKind::Week; p.dayMask = r.readU32(); break;
        case 2: p.kind = PatternKind::Month; p.dayOfMonth = r.readU32(); break;
        case 3:
            p.kind = PatternKind::MonthNth;
            p.dayMask = r.readU32();
            p.week = r.readU32();
            break;
        case 4: p.kind = PatternKind::MonthEnd; r.skip(4); break;
        default: return false;
    }
    const std::uint32_t end = r.readU32();
    p.endType = end == kEndByDate ? RecurrenceEnd::Date : end == kEndAfterCount ? RecurrenceEnd::Count : RecurrenceEnd::Never;
    p.occurrenceCount = r.readU32();
    p.firstDayOfWeek = r.readU32();
    p.deletedDates = ReadDates(r);
    p.modifiedDates = ReadDates(r);
    p.startDate = r.readU32();
    p.endDate = r.readU32();
    if (p.kind == PatternKind::Week && (p.dayMask & 0x7F) == 0) return false;
    if (p.kind == PatternKind::MonthNth && ((p.dayMask & 0x7F) == 0 || p.week < 1 || p.week > 5)) return false;
    return r.ok();
}

}  // namespace

std::optional<RecurrencePattern> ReadRecurrencePattern(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    RecurrencePattern p;
    if (!ReadPatternPart(r, p)) return std::nullopt;
    r.skip(4);
    const std::uint32_t writerVersion = r.readU32();
    p.startTimeOffset = r.readU32();
    p.endTimeOffset = r.readU32();
    if (!r.ok()) {
        // An appointment always has its times; without them the pattern
        // says too little to be written.
        return std::nullopt;
    }
    const std::uint16_t count = r.readU16();
    std::vector<std::uint16_t> flags;
    for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
        OccurrenceChange c;
        std::uint16_t f = 0;
        if (!ReadExceptionInfo(r, c, f)) break;
        p.changes.push_back(std::move(c));
        flags.push_back(f);
    }
    r.skip(r.readU32());  // reserved block
    // The wide texts are kept only when every extended part reads whole.
    ByteReader extended = r;
    std::vector<OccurrenceChange> withWide = p.changes;
    for (std::size_t i = 0; i < withWide.size() && extended.ok(); ++i)
        ReadExtendedException(extended, writerVersion, withWide[i], flags[i]);
    if (extended.ok()) p.changes = std::move(withWide);
    return p;
}

}  // namespace bm::ics
