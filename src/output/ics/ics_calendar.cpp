#include "output/ics/ics_calendar.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "messaging/compressed_rtf.h"
#include "messaging/rtf_text.h"
#include "output/ics/calendar_parts.h"
#include "output/pst/props_tags.h"

namespace bm::ics {
namespace {

constexpr std::uint16_t kSubject = 0x0037;
constexpr std::uint16_t kSensitivity = 0x0036;
constexpr std::uint16_t kBody = 0x1000;
constexpr std::uint16_t kRtfCompressed = 0x1009;
constexpr std::uint16_t kSearchKey = 0x300B;
constexpr std::uint16_t kCreationTime = 0x3007;
constexpr std::uint16_t kLastModificationTime = 0x3008;
constexpr std::uint32_t kGlobalObjectId = 0x0003;
constexpr std::uint32_t kCleanGlobalObjectId = 0x0023;
constexpr std::uint32_t kAppointmentStartWhole = 0x820D;

const pst::Guid kLogSet = pst::GuidFromText("0006200A-0000-0000-C000-000000000046");
const pst::Guid kMeetingSet = pst::GuidFromText("6ED8DA90-450B-101B-98DA-00AA003F1305");

pst::PropKey Named(const pst::Guid& set, std::uint32_t lid) {
    pst::PropKey key;
    key.propertySet = set;
    key.name = lid;
    return key;
}

bool ClassIs(std::string_view cls, std::string_view prefix) {
    if (cls.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(cls[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return cls.size() == prefix.size() || cls[prefix.size()] == '.';
}

enum class Kind { None, Event, Task, Journal };

Kind KindOf(const pst::Message& item) {
    const std::string cls = mime::TextOf(item.properties, mime::IdKey(0x001A), 0).value_or("");
    if (ClassIs(cls, "IPM.Appointment") || ClassIs(cls, "IPM.Schedule.Meeting")) return Kind::Event;
    if (ClassIs(cls, "IPM.Task")) return Kind::Task;
    if (ClassIs(cls, "IPM.Activity") || ClassIs(cls, "IPM.StickyNote")) return Kind::Journal;
    return Kind::None;
}

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

// The plain body; a body kept only as RTF gives its text.
std::optional<std::string> BodyOf(const ItemFields& fields) {
    if (auto plain = fields.Text(kBody)) return plain;
    const auto compressed = mime::BinaryOf(fields.bag(), mime::IdKey(kRtfCompressed));
    if (!compressed || compressed->empty()) return std::nullopt;
    const auto rtf =
        DecodeCompressedRtf({reinterpret_cast<const std::uint8_t*>(compressed->data()), compressed->size()});
    std::string text;
    RtfToText(rtf, text);
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace

pst::PropKey AppointmentKey(std::uint32_t lid) { return Named(pst::propsets::kAppointment, lid); }
pst::PropKey CommonKey(std::uint32_t lid) { return Named(pst::propsets::kCommon, lid); }
pst::PropKey TaskKey(std::uint32_t lid) { return Named(pst::propsets::kTask, lid); }
pst::PropKey LogKey(std::uint32_t lid) { return Named(kLogSet, lid); }
pst::PropKey MeetingKey(std::uint32_t lid) { return Named(kMeetingSet, lid); }
pst::PropKey KeywordsKey() {
    pst::PropKey key;
    key.propertySet = pst::propsets::kPublicStrings;
    key.name = std::u16string(u"Keywords");
    return key;
}

icaltimetype UtcTime(std::int64_t utc) {
    return icaltime_from_timet_with_zone(static_cast<time_t>(utc), 0, icaltimezone_get_utc_timezone());
}

icaltimetype LocalTime(std::int64_t local) {
    icaltimetype t = icaltime_from_timet_with_zone(static_cast<time_t>(local), 0, nullptr);
    t.zone = nullptr;
    return t;
}

icaltimetype DateOf(std::int64_t local) {
    icaltimetype t = icaltime_from_timet_with_zone(static_cast<time_t>(local), 1, nullptr);
    t.zone = nullptr;
    return t;
}

icalproperty* WithTzid(icalproperty* property, const std::string& tzid) {
    if (!tzid.empty()) icalproperty_add_parameter(property, icalparameter_new_tzid(tzid.c_str()));
    return property;
}

void AddX(icalcomponent* component, const char* name, const std::string& value) {
    icalproperty* p = icalproperty_new_x(value.c_str());
    icalproperty_set_x_name(p, name);
    icalcomponent_add_property(component, p);
}

std::string UidOf(const ItemFields& fields) {
    for (const std::uint32_t lid : {kCleanGlobalObjectId, kGlobalObjectId})
        if (const auto id = mime::BinaryOf(fields.bag(), MeetingKey(lid)); id && !id->empty()) return Hex(*id);
    if (const auto key = mime::BinaryOf(fields.bag(), mime::IdKey(kSearchKey)); key && !key->empty())
        return Hex(*key) + "@brightmend";
    // FNV-1a over what tells items apart, so the same item gets the same id.
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](std::string_view s) {
        for (const unsigned char c : s) hash = (hash ^ c) * 1099511628211ULL;
    };
    mix(fields.Text(kSubject).value_or(""));
    for (const pst::PropKey& key : {mime::IdKey(kCreationTime), AppointmentKey(kAppointmentStartWhole)})
        mix(std::to_string(fields.Time(key).value_or(0)));
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%016llX@brightmend", static_cast<unsigned long long>(hash));
    return buffer;
}

void AddCommonFields(icalcomponent* component, const ItemFields& fields) {
    icalcomponent_add_property(component, icalproperty_new_uid(UidOf(fields).c_str()));
    const auto modified = fields.Time(kLastModificationTime);
    const auto created = fields.Time(kCreationTime);
    icalcomponent_add_property(component, icalproperty_new_dtstamp(UtcTime(modified.value_or(created.value_or(0)))));
    if (created) icalcomponent_add_property(component, icalproperty_new_created(UtcTime(*created)));
    if (modified) icalcomponent_add_property(component, icalproperty_new_lastmodified(UtcTime(*modified)));
    if (const auto subject = fields.Text(kSubject))
        icalcomponent_add_property(component, icalproperty_new_summary(subject->c_str()));
    if (const auto body = BodyOf(fields))
        icalcomponent_add_property(component, icalproperty_new_description(body->c_str()));
    if (const auto sensitivity = fields.Int(kSensitivity)) {
        const icalproperty_class c = *sensitivity == 3   ? ICAL_CLASS_CONFIDENTIAL
                                     : *sensitivity >= 1 ? ICAL_CLASS_PRIVATE
                                                         : ICAL_CLASS_PUBLIC;
        icalcomponent_add_property(component, icalproperty_new_class(c));
    }
    for (const std::string& category : mime::MultiTextOf(fields.bag(), KeywordsKey(), fields.codePage()))
        icalcomponent_add_property(component, icalproperty_new_categories(category.c_str()));
}

bool IsCalendarItem(const pst::Message& item) { return KindOf(item) != Kind::None; }

std::string Calendar::Begin() {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Brightmend//Brightmend export//EN\r\nCALSCALE:GREGORIAN\r\n";
}

std::string Calendar::Components(const pst::Message& item) {
    const Kind kind = KindOf(item);
    if (kind == Kind::None) return {};
    const ItemFields fields(item);
    Component holder(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    switch (kind) {
        case Kind::Event: AddEvents(holder.get(), fields, zones_); break;
        case Kind::Task: AddTask(holder.get(), fields); break;
        case Kind::Journal: AddJournal(holder.get(), fields); break;
        case Kind::None: break;
    }
    std::string out;
    for (icalcomponent* c = icalcomponent_get_first_component(holder.get(), ICAL_ANY_COMPONENT); c != nullptr;
         c = icalcomponent_get_next_component(holder.get(), ICAL_ANY_COMPONENT)) {
        char* text = icalcomponent_as_ical_string_r(c);
        if (text) out += text;
        icalmemory_free_buffer(text);
    }
    return out;
}

std::string Calendar::End() const { return zones_.Text() + "END:VCALENDAR\r\n"; }

}  // namespace bm::ics
