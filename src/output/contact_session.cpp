#include "output/contact_session.h"

#include <stdexcept>
#include <unordered_map>
#include <variant>

#include "output/mail_bridge.h"
#include "output/pst/props_tags.h"

namespace bm {
namespace {

using pst::NamedPropTag;
using pst::PropTag;
using pst::PropType;
using Target = std::variant<PropTag, NamedPropTag>;

PropTag Text(std::uint16_t id) { return {id, PropType::Unicode}; }
NamedPropTag AddressText(std::uint32_t lid) { return {pst::propsets::kAddress, lid, PropType::Unicode}; }

const NamedPropTag kEmail1OriginalDisplayName = AddressText(0x8084);

// What each DISPID writes: the contact property of the same meaning.
const std::unordered_map<std::uint32_t, Target>& Targets() {
    namespace d = contact_dispid;
    static const std::unordered_map<std::uint32_t, Target> targets = {
        {d::kOrganizationalId, Text(0x3A10)},
        {d::kFileAs, pst::named::kFileUnder},
        {d::kGovernmentId, Text(0x3A07)},
        {d::kTtyTddPhone, Text(0x3A4B)},
        {d::kBusiness2Phone, Text(0x3A1B)},
        {d::kRadioPhone, Text(0x3A1D)},
        {d::kTelexNumber, Text(0x3A2C)},
        {d::kMileage, NamedPropTag{pst::propsets::kCommon, 0x8534u, PropType::Unicode}},
        {d::kGivenName, pst::tags::kGivenName},
        {d::kMiddleName, Text(0x3A44)},
        {d::kSurname, pst::tags::kSurname},
        {d::kFullName, pst::tags::kDisplayName},
        {d::kPostalAddress, Text(0x3A15)},
        {d::kWorkAddress, AddressText(0x801B)},
        {d::kHome2Phone, Text(0x3A2F)},
        {d::kDepartment, Text(0x3A18)},
        {d::kCarPhone, Text(0x3A1E)},
        {d::kPostalCode, Text(0x3A2A)},
        {d::kStreetAddress, Text(0x3A29)},
        {d::kStateOrProvince, Text(0x3A28)},
        {d::kCountry, Text(0x3A26)},
        {d::kLocality, Text(0x3A27)},
        {d::kCallbackPhone, Text(0x3A02)},
        {d::kOtherPostalCode, Text(0x3A61)},
        {d::kOtherAddress, AddressText(0x801C)},
        {d::kOtherPhone, Text(0x3A1F)},
        {d::kOtherStreet, Text(0x3A63)},
        {d::kOtherState, Text(0x3A62)},
        {d::kOtherCountry, Text(0x3A60)},
        {d::kOtherCity, Text(0x3A5F)},
        {d::kHomeState, Text(0x3A5C)},
        {d::kHomeStreet, Text(0x3A5D)},
        {d::kHomePostalCode, Text(0x3A5B)},
        {d::kHomeCountry, Text(0x3A5A)},
        {d::kBusinessHomePage, Text(0x3A51)},
        {d::kPersonalHomePage, Text(0x3A50)},
        {d::kNickname, Text(0x3A4F)},
        {d::kManagerName, Text(0x3A4E)},
        {d::kFreeBusyAddress, AddressText(0x80D8)},
        {d::kHomeCity, Text(0x3A59)},
        {d::kCompanyMainPhone, Text(0x3A57)},
        {d::kSpouseName, Text(0x3A48)},
        {d::kProfession, Text(0x3A46)},
        {d::kAssistant, Text(0x3A30)},
        {d::kAssistantPhone, Text(0x3A2E)},
        {d::kIsdnNumber, Text(0x3A2D)},
        {d::kPager, Text(0x3A21)},
        {d::kOfficeLocation, Text(0x3A19)},
        {d::kHomeFax, Text(0x3A25)},
        {d::kLanguage, Text(0x3A0C)},
        {d::kBusinessPhone, pst::tags::kBusinessTelephoneNumber},
        {d::kBusinessFax, Text(0x3A24)},
        {d::kBody, pst::tags::kBody},
        {d::kHobbies, Text(0x3A43)},
        {d::kGender, PropTag{0x3A4D, PropType::Int16}},
        {d::kCustomerId, Text(0x3A4A)},
        {d::kGenerationValue, Text(0x3A05)},
        {d::kGeneration, Text(0x3A05)},
        {d::kEmail, pst::named::kEmail1EmailAddress},
        {d::kCompanyName, pst::tags::kCompanyName},
        {d::kTitle, pst::tags::kTitle},
        {d::kHomePhone, pst::tags::kHomeTelephoneNumber},
        {d::kMobilePhone, pst::tags::kMobileTelephoneNumber},
        {d::kSubject, pst::tags::kSubject},
    };
    return targets;
}

const Target& TargetOf(std::uint32_t dispid) {
    const auto it = Targets().find(dispid);
    if (it == Targets().end()) throw std::invalid_argument("contact item has no DISPID " + std::to_string(dispid));
    return it->second;
}

}  // namespace

ContactItem::ContactItem(std::shared_ptr<OpenOutputStore> store, pst::FolderId folder)
    : store_(std::move(store)), folder_(folder) {
    message_.properties.SetString(pst::tags::kMessageClass, "IPM.Contact");
}

void ContactItem::Put(std::uint32_t dispid, std::string_view text) {
    const Target& target = TargetOf(dispid);
    if (const auto* tag = std::get_if<PropTag>(&target)) {
        if (tag->type != PropType::Unicode) throw std::invalid_argument("contact property takes a number");
        message_.properties.SetString(*tag, text);
        if (dispid == contact_dispid::kSubject) subjectPut_ = true;
        // A contact's subject is its full name unless one was given.
        if (dispid == contact_dispid::kFullName && !subjectPut_) message_.properties.SetString(pst::tags::kSubject, text);
    } else {
        const NamedPropTag& named = std::get<NamedPropTag>(target);
        message_.properties.SetString(named, text);
        if (dispid == contact_dispid::kEmail) {
            message_.properties.SetString(pst::named::kEmail1AddressType, "SMTP");
            message_.properties.SetString(pst::named::kEmail1DisplayName, text);
            message_.properties.SetString(kEmail1OriginalDisplayName, text);
        }
    }
}

void ContactItem::Put(std::uint32_t dispid, std::int32_t value) {
    const Target& target = TargetOf(dispid);
    const auto* tag = std::get_if<PropTag>(&target);
    if (tag == nullptr || tag->type != PropType::Int16) throw std::invalid_argument("contact property takes a text");
    message_.properties.SetInt16(*tag, static_cast<std::int16_t>(value));
}

void ContactItem::AttachFiles(const std::optional<std::string>& list, const std::optional<std::string>& names) {
    AddAttachmentFiles(message_, list, names);
}

void ContactItem::Save() {
    if (saved_) throw std::logic_error("contact item saved twice");
    store_->AddMessage(folder_, message_);
    saved_ = true;
}

ContactItems::ContactItems(std::shared_ptr<OpenOutputStore> store, pst::FolderId folder)
    : store_(std::move(store)), folder_(folder) {}

ContactItem ContactItems::Add(std::int32_t kind) const {
    if (kind != kContactItemKind) throw std::invalid_argument("only contact items can be added");
    return ContactItem(store_, folder_);
}

ContactFolder::ContactFolder(std::shared_ptr<OpenOutputStore> store, pst::FolderId folder)
    : store_(std::move(store)), folder_(folder) {}

ContactItems ContactFolder::Items() const { return ContactItems(store_, folder_); }

void ContactSession::Logon(std::string_view, std::string_view, std::string_view, std::string_view, std::string_view,
                           std::string_view) {
    loggedOn_ = true;
}

std::optional<ContactFolder> ContactSession::GetFolderFromPath(std::string_view path) const {
    if (!loggedOn_) return std::nullopt;
    const std::optional<OutputFolderPath> parts = SplitOutputFolderPath(path);
    if (!parts) return std::nullopt;
    std::shared_ptr<OpenOutputStore> store = open_stores::Find(parts->storeName);
    if (!store || store->finished()) return std::nullopt;
    const std::optional<pst::FolderId> folder = store->FindFolder(parts->folders, parts->siblings);
    if (!folder) return std::nullopt;
    return ContactFolder(std::move(store), *folder);
}

}  // namespace bm

