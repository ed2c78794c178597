#include "output/vcard/contact_to_vcard.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <optional>
#include <span>
#include <vector>

#include "output/mime/entry_ids.h"
#include "output/mime/message_fields.h"
#include "output/pst/props_tags.h"
#include "output/vcard/vcard_text.h"

namespace bm::vcard {
namespace {

using mime::IdKey;
using mime::TextOf;

pst::PropKey AddressKey(std::uint32_t lid) {
    pst::PropKey key;
    key.propertySet = pst::propsets::kAddress;
    key.name = lid;
    return key;
}

// Properties of contacts: fixed ids, and the LIDs of the address set.
constexpr std::uint16_t kBody = 0x1000;
constexpr std::uint16_t kDisplayName = 0x3001;
constexpr std::uint16_t kGeneration = 0x3A05;
constexpr std::uint16_t kGivenName = 0x3A06;
constexpr std::uint16_t kSurname = 0x3A11;
constexpr std::uint16_t kCompanyName = 0x3A16;
constexpr std::uint16_t kTitle = 0x3A17;
constexpr std::uint16_t kDepartmentName = 0x3A18;
constexpr std::uint16_t kBirthday = 0x3A42;
constexpr std::uint16_t kWeddingAnniversary = 0x3A41;
constexpr std::uint16_t kMiddleName = 0x3A44;
constexpr std::uint16_t kDisplayNamePrefix = 0x3A45;
constexpr std::uint16_t kNickname = 0x3A4F;
constexpr std::uint16_t kPersonalHomePage = 0x3A50;
constexpr std::uint16_t kBusinessHomePage = 0x3A51;
constexpr std::uint16_t kLastModificationTime = 0x3008;
constexpr std::uint16_t kAttachContactPhoto = 0x7FFF;
constexpr std::uint16_t kAttachMimeTag = 0x370E;

constexpr std::uint32_t kFileUnder = 0x8005;
constexpr std::uint32_t kWorkAddressStreet = 0x8045;
constexpr std::uint32_t kWorkAddressCity = 0x8046;
constexpr std::uint32_t kWorkAddressState = 0x8047;
constexpr std::uint32_t kWorkAddressPostalCode = 0x8048;
constexpr std::uint32_t kWorkAddressCountry = 0x8049;
constexpr std::uint32_t kWorkAddressPostOfficeBox = 0x804A;
constexpr std::uint32_t kDistributionListName = 0x8053;
constexpr std::uint32_t kDistributionListOneOffMembers = 0x8054;
constexpr std::uint32_t kDistributionListMembers = 0x8055;

struct Telephone {
    std::uint16_t id;
    const char* types;
};
constexpr Telephone kTelephones[] = {
    {0x3A08, "work,voice"}, {0x3A1B, "work,voice"}, {0x3A09, "home,voice"}, {0x3A2F, "home,voice"},
    {0x3A1C, "cell"},       {0x3A24, "work,fax"},   {0x3A25, "home,fax"},   {0x3A21, "pager"},
    {0x3A1A, "voice"},      {0x3A1F, "voice"},      {0x3A1E, "voice"},
};

// The parts of a postal address: PO box, street, city, region, postal code,
// country (ADR's order less its unused "extended address").
struct AddressParts {
    const char* type;  // nullptr: other
    std::array<pst::PropKey, 6> keys;
};

const std::vector<AddressParts>& Addresses() {
    static const std::vector<AddressParts> parts = {
        {"home", {IdKey(0x3A5E), IdKey(0x3A5D), IdKey(0x3A59), IdKey(0x3A5C), IdKey(0x3A5B), IdKey(0x3A5A)}},
        {"work", {IdKey(0x3A2B), IdKey(0x3A29), IdKey(0x3A27), IdKey(0x3A28), IdKey(0x3A2A), IdKey(0x3A26)}},
        {"work",
         {AddressKey(kWorkAddressPostOfficeBox), AddressKey(kWorkAddressStreet), AddressKey(kWorkAddressCity),
          AddressKey(kWorkAddressState), AddressKey(kWorkAddressPostalCode), AddressKey(kWorkAddressCountry)}},
        {nullptr, {IdKey(0x3A64), IdKey(0x3A63), IdKey(0x3A5F), IdKey(0x3A62), IdKey(0x3A61), IdKey(0x3A60)}},
    };
    return parts;
}

// The LIDs of e-mail 1 to 3: address type and address.
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 3> kEmails = {
    {{0x8082, 0x8083}, {0x8092, 0x8093}, {0x80A2, 0x80A3}}};

class Card {
public:
    explicit Card(const pst::Message& item) : bag_(item.properties), cp_(mime::CodePageOf(item.properties)) {
        out_ = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
    }
    std::optional<std::string> Text(const pst::PropKey& key) const { return TextOf(bag_, key, cp_); }
    std::optional<std::string> Text(std::uint16_t id) const { return Text(IdKey(id)); }
    const pst::PropertyBag& bag() const { return bag_; }
    std::uint32_t codePage() const { return cp_; }

    void Line(std::string_view name, std::string_view value) { out_ += ContentLine(name, value); }
    void TextLine(std::string_view name, std::optional<std::string> value) {
        if (value) Line(name, EscapeText(*value));
    }
    std::string Finish() { return out_ + "END:VCARD\r\n"; }

private:
    const pst::PropertyBag& bag_;
    std::uint32_t cp_;
    std::string out_;
};

std::string DateOf(std::int64_t unix) {
    const std::time_t t = static_cast<std::time_t>(unix);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buffer;
}

std::string TimestampOf(std::int64_t unix) {
    const std::time_t t = static_cast<std::time_t>(unix);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02dT%02d%02d%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buffer;
}

bool IsSmtp(std::string_view type, std::string_view address) {
    return (type.empty() || type == "SMTP" || type == "smtp") && address.find('@') != std::string_view::npos;
}

void WriteNames(Card& card) {
    const std::string given = card.Text(kGivenName).value_or("");
    const std::string surname = card.Text(kSurname).value_or("");
    std::string fn = card.Text(kDisplayName).value_or("");
    if (fn.empty()) fn = given.empty() ? surname : surname.empty() ? given : given + " " + surname;
    if (fn.empty()) fn = card.Text(AddressKey(kFileUnder)).value_or("");
    card.Line("FN", EscapeText(fn));
    card.Line("N", StructuredValue({surname, given, card.Text(kMiddleName).value_or(""),
                                    card.Text(kDisplayNamePrefix).value_or(""), card.Text(kGeneration).value_or("")}));
    card.TextLine("NICKNAME", card.Text(kNickname));
}

void WriteWork(Card& card) {
    const auto company = card.Text(kCompanyName);
    const auto department = card.Text(kDepartmentName);
    if (company || department) {
        std::vector<std::string> org{company.value_or("")};
        if (department) org.push_back(*department);
        card.Line("ORG", StructuredValue(org));
    }
    card.TextLine("TITLE", card.Text(kTitle));
}

void WriteAddresses(Card& card) {
    for (const auto& [typeLid, addressLid] : kEmails) {
        const std::string type = card.Text(AddressKey(typeLid)).value_or("");
        const auto address = card.Text(AddressKey(addressLid));
        if (!address) continue;
        if (IsSmtp(type, *address)) {
            card.Line("EMAIL", EscapeText(*address));
        } else {
            card.Line("X-BRIGHTMEND-EMAIL;TYPE=" + ParameterValue(type), EscapeText(*address));
        }
    }
    for (const Telephone& tel : kTelephones)
        if (const auto number = card.Text(tel.id))
            card.Line(std::string("TEL;VALUE=text;TYPE=") + tel.types, EscapeText(*number));
    bool workWritten = false;
    for (const AddressParts& parts : Addresses()) {
        std::vector<std::string> components{""};  // PO box, extended (unused), street, ...
        bool any = false;
        for (std::size_t i = 0; i < parts.keys.size(); ++i) {
            std::string value = card.Text(parts.keys[i]).value_or("");
            any = any || !value.empty();
            components.push_back(std::move(value));
        }
        std::swap(components[0], components[1]);  // PO box first, then the empty extended part
        const bool work = parts.type && std::string_view(parts.type) == "work";
        if (!any || (work && workWritten)) continue;
        workWritten = workWritten || work;
        card.Line(parts.type ? std::string("ADR;TYPE=") + parts.type : std::string("ADR"),
                  StructuredValue(components));
    }
}

void WriteDatesAndRest(Card& card, const pst::Message& item) {
    if (const auto birthday = mime::UnixTimeOf(card.bag(), IdKey(kBirthday))) card.Line("BDAY", DateOf(*birthday));
    if (const auto wedding = mime::UnixTimeOf(card.bag(), IdKey(kWeddingAnniversary)))
        card.Line("ANNIVERSARY", DateOf(*wedding));
    for (const std::uint16_t page : {kPersonalHomePage, kBusinessHomePage})
        if (const auto url = card.Text(page)) card.Line("URL", EscapeText(*url));
    card.TextLine("NOTE", card.Text(kBody));
    pst::PropKey keywords;
    keywords.propertySet = pst::propsets::kPublicStrings;
    keywords.name = std::u16string(u"Keywords");
    std::vector<std::string> categories;
    for (const std::string& c : mime::MultiTextOf(card.bag(), keywords, card.codePage()))
        categories.push_back(EscapeText(c));
    if (!categories.empty()) {
        std::string value;
        for (const std::string& c : categories) {
            if (!value.empty()) value += ',';
            value += c;
        }
        card.Line("CATEGORIES", value);
    }
    for (const pst::Attachment& a : item.attachments) {
        if (mime::Int32Of(a.properties, IdKey(kAttachContactPhoto)).value_or(0) == 0) continue;
        const std::string bytes = mime::AttachmentData(a);
        if (bytes.empty()) continue;
        const std::string type = TextOf(a.properties, IdKey(kAttachMimeTag), 0).value_or("image/jpeg");
        card.Line("PHOTO", "data:" + type + ";base64," + Base64(bytes));
        break;
    }
    if (const auto modified = mime::UnixTimeOf(card.bag(), IdKey(kLastModificationTime)))
        card.Line("REV", TimestampOf(*modified));
}

std::string DistributionListCard(const pst::Message& item) {
    Card card(item);
    card.Line("KIND", "group");
    std::string fn = card.Text(AddressKey(kDistributionListName)).value_or("");
    if (fn.empty()) fn = card.Text(kDisplayName).value_or(card.Text(0x0037).value_or(""));
    card.Line("FN", EscapeText(fn));
    const auto asSpan = [](const std::string& s) {
        return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    const auto oneOffs = mime::MultiBinaryOf(card.bag(), AddressKey(kDistributionListOneOffMembers));
    const auto members = mime::MultiBinaryOf(card.bag(), AddressKey(kDistributionListMembers));
    for (std::size_t i = 0; i < std::max(oneOffs.size(), members.size()); ++i) {
        std::optional<mime::EntryAddress> member;
        if (i < oneOffs.size()) member = mime::ReadOneOffEntryId(asSpan(oneOffs[i]), card.codePage());
        if (!member && i < members.size()) member = mime::ReadMemberEntryId(asSpan(members[i]), card.codePage());
        if (!member) continue;
        if (member->isSmtp()) {
            card.Line("MEMBER", "mailto:" + member->address);
        } else {
            card.Line("X-BRIGHTMEND-MEMBER", EscapeText(member->name + " <" + member->address + ">"));
        }
    }
    card.TextLine("NOTE", card.Text(kBody));
    return card.Finish();
}

bool ClassStartsWith(const pst::Message& item, std::string_view prefix) {
    const std::string cls = TextOf(item.properties, IdKey(0x001A), 0).value_or("");
    if (cls.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(cls[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return cls.size() == prefix.size() || cls[prefix.size()] == '.';
}

}  // namespace

bool IsContact(const pst::Message& item) { return ClassStartsWith(item, "IPM.Contact"); }
bool IsDistributionList(const pst::Message& item) { return ClassStartsWith(item, "IPM.DistList"); }

std::string ItemToVcard(const pst::Message& item) {
    if (IsDistributionList(item)) return DistributionListCard(item);
    Card card(item);
    WriteNames(card);
    WriteWork(card);
    WriteAddresses(card);
    WriteDatesAndRest(card, item);
    return card.Finish();
}

}  // namespace bm::vcard
