// A store written with the project's writer for the export command's
// end-to-end checks: a Calendar folder with a weekly series in a zone with
// summer time (one occurrence deleted, one moved and renamed) and an Inbox
// with a signed mail kept the way a mail client keeps it (the
// multipart/signed entity as the item's one attachment).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_test_helpers.h"
#include "output/ics/calendar_blobs.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

namespace bmtest {

// Minutes since 1601 of a local date and time (the proleptic Gregorian
// calendar; what LocalMinutes gives, without the calendar library).
inline std::uint32_t MinutesSince1601(int year, unsigned month, unsigned day, int hour = 0, int minute = 0) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t daysSince1970 = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return static_cast<std::uint32_t>((daysSince1970 + 134774) * 1440 + hour * 60 + minute);
}

// The weekly series below, as its pattern gives it: local times in
// Europe/Berlin of every occurrence, the moved one at its new time.
inline const std::vector<std::string>& WeeklyReviewOccurrences() {
    static const std::vector<std::string> times = {"2024-03-12T09:00", "2024-03-26T09:00", "2024-04-03T10:30",
                                                   "2024-04-09T09:00", "2024-04-16T09:00"};
    return times;
}

// Tuesdays at 9:00 in Central Europe (UTC+1, summer time from the last
// Sunday of March), six times from 12 March 2024, so the series crosses
// the change on 31 March: 19 March deleted, 2 April moved to Wednesday
// 3 April 10:30 with a subject of its own.
inline bm::pst::Message WeeklyReviewSeries() {
    namespace tags = bm::pst::tags;
    namespace named = bm::pst::named;
    static const std::vector<std::uint8_t> zone = TimeZoneDefinition(u"W. Europe Standard Time",
                                                                      {{.year = 2000,
                                                                        .bias = -60,
                                                                        .standardBias = 0,
                                                                        .daylightBias = -60,
                                                                        .toStandard = {0, 10, 0, 5, 3, 0},
                                                                        .toDaylight = {0, 3, 0, 5, 2, 0}}});
    // Unix seconds of a local time `offset` minutes east of UTC.
    const auto unix = [](std::uint32_t localMinutes, int offset) {
        return (static_cast<std::int64_t>(localMinutes) - 194074560LL - offset) * 60;
    };
    const auto appointment = [&](std::string_view subject, std::int64_t start, std::int64_t end) {
        bm::pst::Message m;
        m.properties.SetString(tags::kMessageClass, "IPM.Appointment");
        m.properties.SetString(tags::kSubject, subject);
        m.properties.SetSysTime(named::kAppointmentStartWhole, bm::pst::FileTimeFromUnix(start));
        m.properties.SetSysTime(named::kAppointmentEndWhole, bm::pst::FileTimeFromUnix(end));
        m.properties.SetBinary(named::kTimeZoneDefinitionStartDisplay, zone);
        m.properties.SetBinary(named::kTimeZoneDefinitionRecur, zone);
        return m;
    };
    Pattern p;
    p.specific = {1u << 2};  // Tuesday
    p.count = 6;
    p.startDate = MinutesSince1601(2024, 3, 12);
    p.endDate = MinutesSince1601(2024, 4, 16);
    p.startOffset = 9 * 60;
    p.endOffset = 10 * 60;
    p.deleted = {MinutesSince1601(2024, 3, 19), MinutesSince1601(2024, 4, 2)};
    p.modified = {MinutesSince1601(2024, 4, 3)};
    p.changes = {{MinutesSince1601(2024, 4, 3, 10, 30), MinutesSince1601(2024, 4, 3, 11, 30), MinutesSince1601(2024, 4, 2, 9),
                  "Moved review", ""}};
    bm::pst::Message m = appointment("Weekly review", unix(MinutesSince1601(2024, 3, 12, 9), 60),
                                     unix(MinutesSince1601(2024, 3, 12, 10), 60));
    m.properties.SetBinary(named::kAppointmentRecur, RecurrenceBlob(p));
    m.properties.SetBool(named::kRecurring, true);
    // The moved occurrence's own copy.
    bm::pst::Message moved = appointment("Moved review", unix(MinutesSince1601(2024, 4, 3, 10, 30), 120),
                                         unix(MinutesSince1601(2024, 4, 3, 11, 30), 120));
    moved.properties.SetSysTime(bm::pst::NamedPropTag{bm::pst::propsets::kAppointment, 0x8228u, bm::pst::PropType::SysTime},
                                bm::pst::FileTimeFromUnix(unix(MinutesSince1601(2024, 4, 2, 9), 120)));
    m.attachments.push_back(bm::pst::Attachment::FromMessage("Moved review", moved));
    return m;
}

// A mail signed as S/MIME: `entity` is the multipart/signed entity (its
// Content-Type line and what follows), kept as the attachment a client
// keeps it in.
inline bm::pst::Message SignedMail(std::string_view subject, std::string_view entity) {
    namespace tags = bm::pst::tags;
    bm::pst::Message m = MessageOf("IPM.Note.SMIME.MultipartSigned", std::string(subject));
    m.properties.SetString(tags::kSenderName, "Signer");
    m.properties.SetString(tags::kSenderAddrType, "SMTP");
    m.properties.SetString(tags::kSenderEmailAddress, "signer@example.org");
    m.AddRecipient("Bob", "bob@example.net", bm::pst::kRecipientTo);
    bm::pst::Attachment a = bm::pst::Attachment::FromBytes("smime.p7m", {entity.begin(), entity.end()});
    a.properties.SetString(tags::kAttachMimeTag, "multipart/signed");
    m.attachments.push_back(a);
    return m;
}

// A store at `path` with "Calendar" holding WeeklyReviewSeries() and
// "Inbox" holding SignedMail(signedSubject, signedEntity).
inline std::filesystem::path WriteCalendarAndSignedStore(const std::filesystem::path& path,
                                                         std::string_view signedSubject,
                                                         std::string_view signedEntity) {
    auto store = bm::pst::PstStore::Create(path, {});
    store->AddMessage(store->CreateFolder(store->ipmSubtree(), "Calendar"), WeeklyReviewSeries());
    store->AddMessage(store->CreateFolder(store->ipmSubtree(), "Inbox"), SignedMail(signedSubject, signedEntity));
    store->Finish();
    return path;
}

}  // namespace bmtest
