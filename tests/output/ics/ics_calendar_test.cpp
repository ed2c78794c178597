// Calendar items written with the project's writer, read back with its
// reader and exported as iCalendar: python3-icalendar and python3-vobject
// read the file, and the occurrences python3-dateutil expands from the
// exported RRULE, EXDATE and RECURRENCE-ID (with the exported VTIMEZONEs)
// fall on the same instants as the source's pattern in the real zone.
#include "output/ics/ics_calendar.h"

#include <gtest/gtest.h>

#include "output/ics/calendar_blobs.h"
#include "output/ics/recurrence_pattern.h"
#include "output/mime/mail_check.h"
#include "output/pst/props_tags.h"
#include "store/nid_types.h"

namespace bm {
namespace {

using nlohmann::json;
namespace tags = pst::tags;
namespace named = pst::named;
using pst::PropType;
using bmtest::LocalMinutes;

#define BM_REQUIRE_ICAL_READERS()                                        \
    if (!bmtest::HavePythonModules("icalendar, vobject, dateutil.rrule")) \
    GTEST_SKIP() << "python3-icalendar, python3-vobject or python3-dateutil is not installed"

pst::NamedPropTag Appointment(std::uint32_t lid, PropType type) { return {pst::propsets::kAppointment, lid, type}; }
pst::NamedPropTag Common(std::uint32_t lid, PropType type) { return {pst::propsets::kCommon, lid, type}; }

// Central Europe: UTC+1, summer time from the last Sunday of March, 2:00,
// to the last Sunday of October, 3:00.
const std::vector<std::uint8_t>& CentralEurope() {
    static const auto bytes = bmtest::TimeZoneDefinition(
        u"W. Europe Standard Time", {{.year = 2000,
                                      .bias = -60,
                                      .standardBias = 0,
                                      .daylightBias = -60,
                                      .toStandard = {0, 10, 0, 5, 3, 0},
                                      .toDaylight = {0, 3, 0, 5, 2, 0}}});
    return bytes;
}

// US Eastern with its two rules: until 2006 summer time ran from the first
// Sunday of April to the last of October, since 2007 from the second
// Sunday of March to the first of November.
const std::vector<std::uint8_t>& UsEastern() {
    static const auto bytes =
        bmtest::TimeZoneDefinition(u"Eastern Standard Time", {{.year = 2006,
                                                               .bias = 300,
                                                               .standardBias = 0,
                                                               .daylightBias = -60,
                                                               .toStandard = {0, 10, 0, 5, 2, 0},
                                                               .toDaylight = {0, 4, 0, 1, 2, 0}},
                                                              {.year = 2007,
                                                               .bias = 300,
                                                               .standardBias = 0,
                                                               .daylightBias = -60,
                                                               .toStandard = {0, 11, 0, 1, 2, 0},
                                                               .toDaylight = {0, 3, 0, 2, 2, 0}}});
    return bytes;
}

std::int64_t Unix(std::uint32_t localMinutes, int utcOffsetMinutes) {
    return (static_cast<std::int64_t>(localMinutes) - 194074560LL - utcOffsetMinutes) * 60;
}

pst::Message Appointment(std::string_view subject, const std::vector<std::uint8_t>& zone, std::int64_t start,
                         std::int64_t end) {
    pst::Message m;
    m.properties.SetString(tags::kMessageClass, "IPM.Appointment");
    m.properties.SetString(tags::kSubject, subject);
    m.properties.SetSysTime(named::kAppointmentStartWhole, pst::FileTimeFromUnix(start));
    m.properties.SetSysTime(named::kAppointmentEndWhole, pst::FileTimeFromUnix(end));
    m.properties.SetBinary(named::kTimeZoneDefinitionStartDisplay, zone);
    m.properties.SetBinary(named::kTimeZoneDefinitionRecur, zone);
    return m;
}

// A weekly meeting on Tuesdays at 9:00 in Central Europe, six times from
// 12 March 2024 (summer time begins on 31 March): the second occurrence
// deleted, the fourth moved to Wednesday 10:30 with its own subject,
// location and body.
pst::Message WeeklyMeeting() {
    bmtest::Pattern p;
    p.specific = {1u << 2};  // Tuesday
    p.count = 6;
    p.startDate = LocalMinutes(2024, 3, 12);
    p.endDate = LocalMinutes(2024, 4, 16);
    p.startOffset = 9 * 60;
    p.endOffset = 10 * 60;
    p.deleted = {LocalMinutes(2024, 3, 19), LocalMinutes(2024, 4, 2)};
    p.modified = {LocalMinutes(2024, 4, 3)};
    p.changes = {{LocalMinutes(2024, 4, 3, 10, 30), LocalMinutes(2024, 4, 3, 11, 30), LocalMinutes(2024, 4, 2, 9),
                  "Verschoben — Überprüfung", "Raum Süd"}};
    pst::Message m = Appointment("Weekly review", CentralEurope(), Unix(LocalMinutes(2024, 3, 12, 9), 60),
                                 Unix(LocalMinutes(2024, 3, 12, 10), 60));
    m.properties.SetString(tags::kMessageClass, "IPM.Appointment");
    m.properties.SetBinary(named::kAppointmentRecur, bmtest::RecurrenceBlob(p));
    m.properties.SetBool(named::kRecurring, true);
    m.properties.SetString(named::kAppointmentLocation, "Raum 3");
    m.properties.SetInt32(tags::kSensitivity, 2);
    m.properties.SetBool(Common(0x8503, PropType::Boolean), true);
    m.properties.SetInt32(Common(0x8501, PropType::Int32), 15);
    m.properties.SetString(tags::kBody, "Agenda: numbers, plans; more\nSecond line");
    bmtest::SetSmtpSender(m);
    const auto attendee = [&m](std::string_view name, std::string_view address, std::int32_t type,
                               std::int32_t track) {
        m.AddRecipient(name, address, type);
        m.recipients.back().SetInt32({0x5FFF, PropType::Int32}, track);
    };
    attendee("Jan Novák", "jan@example.org", pst::kRecipientTo, 3);
    attendee("Bob, Jr.", "bob@example.net", pst::kRecipientCc, 4);
    attendee("Room 3", "room3@example.org", pst::kRecipientBcc, 0);
    // The moved occurrence's own copy, with its body.
    pst::Message moved = Appointment("Verschoben — Überprüfung", CentralEurope(),
                                     Unix(LocalMinutes(2024, 4, 3, 10, 30), 120),
                                     Unix(LocalMinutes(2024, 4, 3, 11, 30), 120));
    moved.properties.SetString(tags::kBody, "Moved because of the holiday");
    moved.properties.SetSysTime(Appointment(0x8228, PropType::SysTime),
                                pst::FileTimeFromUnix(Unix(LocalMinutes(2024, 4, 2, 9), 120)));
    m.attachments.push_back(pst::Attachment::FromMessage("Verschoben", moved));
    return m;
}

// On the third Thursday of each month at 14:00 US Eastern, from October
// 2006 until 19 April 2007: 15 March 2007 falls in summer time only under
// the rule of 2007.
pst::Message MonthlyAcrossRules() {
    bmtest::Pattern p;
    p.frequency = 0x200C;
    p.type = 3;
    p.specific = {1u << 4, 3};  // Thursday, the third
    p.endType = 0x2021;
    p.startDate = LocalMinutes(2006, 10, 19);
    p.endDate = LocalMinutes(2007, 4, 19);
    p.startOffset = 14 * 60;
    p.endOffset = 15 * 60;
    pst::Message m = Appointment("Board meeting", UsEastern(), Unix(LocalMinutes(2006, 10, 19, 14), -240),
                                 Unix(LocalMinutes(2006, 10, 19, 15), -240));
    m.properties.SetBinary(named::kAppointmentRecur, bmtest::RecurrenceBlob(p));
    m.properties.SetBool(named::kRecurring, true);
    return m;
}

pst::Message AllDay() {
    // Midnight to midnight in Central Europe, in summer time.
    pst::Message m = Appointment("Holiday", CentralEurope(), Unix(LocalMinutes(2024, 7, 4), 120),
                                 Unix(LocalMinutes(2024, 7, 5), 120));
    m.properties.SetBool(named::kAppointmentSubType, true);
    m.properties.SetInt32(named::kAppointmentBusyStatus, 0);
    return m;
}

pst::Message Task() {
    pst::Message m;
    m.properties.SetString(tags::kMessageClass, "IPM.Task");
    m.properties.SetString(tags::kSubject, "Write the report");
    m.properties.SetInt32(named::kTaskStatus, 1);
    m.properties.SetDouble(named::kTaskPercentComplete, 0.25);
    m.properties.SetSysTime(named::kTaskStartDate, pst::FileTimeFromUnix(1714521600));  // 2024-05-01
    m.properties.SetSysTime(named::kTaskDueDate, pst::FileTimeFromUnix(1715299200));    // 2024-05-10
    return m;
}

pst::Message DoneTask() {
    pst::Message m = Task();
    m.properties.SetString(tags::kSubject, "Send the invoice");
    m.properties.SetInt32(named::kTaskStatus, 2);
    m.properties.SetBool(named::kTaskComplete, true);
    m.properties.SetDouble(named::kTaskPercentComplete, 1.0);
    m.properties.SetSysTime(named::kTaskDateCompleted, pst::FileTimeFromUnix(1715340600));  // 2024-05-10 11:30 UTC
    return m;
}

pst::Message StickyNote() {
    pst::Message m;
    m.properties.SetString(tags::kMessageClass, "IPM.StickyNote");
    m.properties.SetString(tags::kSubject, "Call Jan");
    m.properties.SetString(tags::kBody, "Call Jan\nabout the 3rd; bring, the file");
    return m;
}

TEST(IcsCalendar, SeriesAllDayEventTaskAndNoteReadBackWithTheSourcesOccurrences) {
    BM_REQUIRE_ICAL_READERS();
    bmtest::WrittenStore store("ics-calendar");
    std::vector<std::uint32_t> nids;
    for (const pst::Message& m : {WeeklyMeeting(), MonthlyAcrossRules(), AllDay(), Task(), DoneTask(), StickyNote()})
        nids.push_back(store.writer().AddMessage(store.writer().ipmSubtree(), m));
    store.Open();
    ics::Calendar calendar;
    std::string text = ics::Calendar::Begin();
    for (const std::uint32_t nid : nids) {
        const auto item = store.Read(nid);
        ASSERT_TRUE(item.has_value());
        ASSERT_TRUE(ics::IsCalendarItem(*item));
        text += calendar.Components(*item);
    }
    text += calendar.End();
    const auto file = bmtest::ScratchDir("ics-calendar-out") / "Calendar.ics";
    bmtest::WriteFile(file, text);

    const json components = {
        {"Weekly review",
         {{"kind", "VEVENT"},
          {"zone", "Europe/Berlin"},
          {"occurrences",
           {"2024-03-12T09:00", "2024-03-26T09:00", "2024-04-03T10:30", "2024-04-09T09:00", "2024-04-16T09:00"}},
          {"overrides",
           {{"2024-04-03T10:30",
             {{"summary", "Verschoben — Überprüfung"},
              {"location", "Raum Süd"},
              {"description", "Moved because of the holiday"}}}}},
          {"start", "2024-03-12T09:00"},
          {"end", "2024-03-12T10:00"},
          {"location", "Raum 3"},
          {"class", "PRIVATE"},
          {"description", "Agenda: numbers, plans; more\nSecond line"},
          {"organizer", "mailto:zoe@example.org"},
          {"attendees",
           {{"mailto:jan@example.org", "REQ-PARTICIPANT", "ACCEPTED", "Jan Novák"},
            {"mailto:bob@example.net", "OPT-PARTICIPANT", "DECLINED", "Bob, Jr."},
            {"mailto:room3@example.org", "NON-PARTICIPANT", "NEEDS-ACTION", "Room 3"}}},
          {"alarm", 15}}},
        {"Board meeting",
         {{"zone", "America/New_York"},
          {"occurrences",
           {"2006-10-19T14:00", "2006-11-16T14:00", "2006-12-21T14:00", "2007-01-18T14:00", "2007-02-15T14:00",
            "2007-03-15T14:00", "2007-04-19T14:00"}}}},
        {"Holiday", {{"start", "2024-07-04"}, {"end", "2024-07-05"}}},
        {"Write the report",
         {{"kind", "VTODO"}, {"status", "IN-PROCESS"}, {"percent", 25}, {"start", "2024-05-01"}, {"due", "2024-05-10"}}},
        {"Send the invoice", {{"status", "COMPLETED"}, {"percent", 100}, {"completed", "2024-05-10T11:30"}}},
        {"Call Jan", {{"kind", "VJOURNAL"}, {"description", "Call Jan\nabout the 3rd; bring, the file"}}},
    };
    EXPECT_EQ(bmtest::RunChecker("output/ics/check_ics.py", "",
                                 json::array({{{"file", file.string()}, {"components", components}}})),
              "")
        << text;
}

// The stored forms come from damaged stores too: every cut of a sound one
// is read without going past its end, and one cut inside the part that
// says when the series recurs is refused rather than guessed.
TEST(IcsCalendar, CutRecurrencesAndTimeZonesAreReadSafely) {
    const pst::Message meeting = WeeklyMeeting();
    const auto* blob = meeting.properties.Find(pst::KeyOf(named::kAppointmentRecur));
    ASSERT_NE(blob, nullptr);
    const std::vector<std::uint8_t>& whole = blob->bytes;
    const auto sound = ics::ReadRecurrencePattern(whole);
    ASSERT_TRUE(sound.has_value());
    ASSERT_EQ(sound->changes.size(), 1u);
    EXPECT_EQ(sound->changes[0].subject.value_or(""), "Verschoben — Überprüfung");
    // Pattern part (week: 4 bytes of its own; two deleted, one modified date),
    // then the four fields that give the times.
    const std::size_t timesEnd = 22 + 4 + 16 + 4 * 2 + 4 + 4 + 8 + 16;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const std::span<const std::uint8_t> part(whole.data(), cut);
        const auto read = ics::ReadRecurrencePattern(part);
        if (cut < timesEnd) {
            EXPECT_FALSE(read.has_value()) << cut;
        } else if (read) {
            EXPECT_LE(read->changes.size(), 1u) << cut;
        }
    }
    for (const auto& zone : {CentralEurope(), UsEastern()}) {
        ASSERT_TRUE(ics::ReadTimeZoneDefinition(zone).has_value());
        for (std::size_t cut = 0; cut < zone.size(); ++cut) {
            const auto read = ics::ReadTimeZoneDefinition(std::span<const std::uint8_t>(zone.data(), cut));
            if (read) {
                EXPECT_FALSE(read->rules.empty()) << cut;
            }
        }
    }
}

TEST(IcsCalendar, EveryCalendarItemOfTheSharedStoresIsRead) {
    BM_REQUIRE_ICAL_READERS();
    json expected = json::array();
    const auto out = bmtest::ScratchDir("ics-shared");
    bmtest::ForEachSharedStore([&](std::string_view name, StoreFile& store) {
        ics::Calendar calendar;
        std::string text = ics::Calendar::Begin();
        std::size_t count = 0;
        for (const NodeEntry& node : store.forest.records()) {
            if (!IsNormalMessageNid(node.nid)) continue;
            const auto item = CopySourceMessage(store, node);
            if (!item || !ics::IsCalendarItem(*item)) continue;
            text += calendar.Components(*item);
            ++count;
        }
        if (count == 0) return;
        text += calendar.End();
        const auto file = out / (bmtest::StoreTestName(std::string(name)) + ".ics");
        bmtest::WriteFile(file, text);
        expected.push_back({{"file", file.string()}, {"components", nullptr}});
    });
    if (expected.empty()) GTEST_SKIP() << "no shared store with calendar items is present";
    EXPECT_EQ(bmtest::RunChecker("output/ics/check_ics.py", "", expected), "");
}

}  // namespace
}  // namespace bm
