// The contact session: the messaging library's session object, in-process.
// One short-lived session per saved contact, calls in this order:
//
//   ContactSession s; s.Logon("", "", "", "", "", "");
//   auto folder = s.GetFolderFromPath("\\Brightmend_Personal_Folder...\\Contacts");
//   ContactItems items = folder->Items();
//   ContactItem item = items.Add(kContactItemKind);
//   item.Put(contact_dispid::kGivenName, "Ada"); ...
//   item.Save();
//
// The folder is found in a store that a mail bridge of this process has
// created and not yet finished. Puts are by DISPID; a DISPID put again
// replaces its value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "output/open_output_store.h"
#include "output/pst/message.h"

namespace bm {

inline constexpr std::int32_t kContactItemKind = 2;

// The DISPIDs of the contact item's properties.
namespace contact_dispid {
inline constexpr std::uint32_t kOrganizationalId = 0x600400a2;
inline constexpr std::uint32_t kFileAs = 0x60040051;
inline constexpr std::uint32_t kGovernmentId = 0x60040056;
inline constexpr std::uint32_t kTtyTddPhone = 0x600400cc;
inline constexpr std::uint32_t kBusiness2Phone = 0x6004000a;
inline constexpr std::uint32_t kRadioPhone = 0x600400be;
inline constexpr std::uint32_t kTelexNumber = 0x600400c8;
inline constexpr std::uint32_t kMileage = 0x1f;
inline constexpr std::uint32_t kGivenName = 0x6004004d;
inline constexpr std::uint32_t kMiddleName = 0x60040096;
inline constexpr std::uint32_t kSurname = 0x60040083;
inline constexpr std::uint32_t kFullName = 0x6004004b;
// Written by the postal address and by the work address alike, so the
// work address also has a member of its own.
inline constexpr std::uint32_t kPostalAddress = 0x6004000c;
inline constexpr std::uint32_t kWorkAddress = 0x801b;
inline constexpr std::uint32_t kHome2Phone = 0x6004005b;
inline constexpr std::uint32_t kDepartment = 0x60040033;
inline constexpr std::uint32_t kCarPhone = 0x60040022;
inline constexpr std::uint32_t kPostalCode = 0x60040012;
inline constexpr std::uint32_t kStreetAddress = 0x60040018;
inline constexpr std::uint32_t kStateOrProvince = 0x60040016;
inline constexpr std::uint32_t kCountry = 0x60040010;
inline constexpr std::uint32_t kLocality = 0x6004000e;
inline constexpr std::uint32_t kCallbackPhone = 0x60040020;
inline constexpr std::uint32_t kOtherPostalCode = 0x600400aa;
inline constexpr std::uint32_t kOtherAddress = 0x600400a4;
inline constexpr std::uint32_t kOtherPhone = 0x600400b4;
inline constexpr std::uint32_t kOtherStreet = 0x600400b0;
inline constexpr std::uint32_t kOtherState = 0x600400ae;
inline constexpr std::uint32_t kOtherCountry = 0x600400a8;
inline constexpr std::uint32_t kOtherCity = 0x600400a6;
inline constexpr std::uint32_t kHomeState = 0x60040067;
inline constexpr std::uint32_t kHomeStreet = 0x60040069;
inline constexpr std::uint32_t kHomePostalCode = 0x60040063;
inline constexpr std::uint32_t kHomeCountry = 0x60040061;
inline constexpr std::uint32_t kBusinessHomePage = 0x6004001c;
inline constexpr std::uint32_t kPersonalHomePage = 0x600400b8;
inline constexpr std::uint32_t kNickname = 0x6004009e;
inline constexpr std::uint32_t kManagerName = 0x60040094;
inline constexpr std::uint32_t kFreeBusyAddress = 0x60040073;
inline constexpr std::uint32_t kHomeCity = 0x6004005f;
inline constexpr std::uint32_t kCompanyMainPhone = 0x6004002b;
inline constexpr std::uint32_t kSpouseName = 0x600400c4;
inline constexpr std::uint32_t kProfession = 0x600400bc;
inline constexpr std::uint32_t kAssistant = 0x60040004;
inline constexpr std::uint32_t kAssistantPhone = 0x60040006;
inline constexpr std::uint32_t kIsdnNumber = 0x60040075;
inline constexpr std::uint32_t kPager = 0x600400b6;
inline constexpr std::uint32_t kOfficeLocation = 0x600400a0;
inline constexpr std::uint32_t kHomeFax = 0x6004006b;
inline constexpr std::uint32_t kLanguage = 0x6004007b;
inline constexpr std::uint32_t kBusinessPhone = 0x6004001e;
inline constexpr std::uint32_t kBusinessFax = 0x6004001a;
inline constexpr std::uint32_t kBody = 0xb;
inline constexpr std::uint32_t kHobbies = 0x60040059;
inline constexpr std::uint32_t kGender = 0x60040054;  // a 32-bit integer
inline constexpr std::uint32_t kCustomerId = 0x60040031;
inline constexpr std::uint32_t kGenerationValue = 0;  // the item's default member
inline constexpr std::uint32_t kGeneration = 0x600400c6;
inline constexpr std::uint32_t kEmail = 0x60040035;
inline constexpr std::uint32_t kCompanyName = 0x6004002d;
inline constexpr std::uint32_t kTitle = 0x60040077;
inline constexpr std::uint32_t kHomePhone = 0x6004006d;
inline constexpr std::uint32_t kMobilePhone = 0x60040098;
inline constexpr std::uint32_t kSubject = 0x37;
}  // namespace contact_dispid

class ContactItem {
public:
    ContactItem(std::shared_ptr<OpenOutputStore> store, pst::FolderId folder);
    // std::invalid_argument for a DISPID the item does not have, or a text
    // put on the integer property (and the other way round).
    void Put(std::uint32_t dispid, std::string_view text);
    void Put(std::uint32_t dispid, std::int32_t value);
    // Attaches the files of a file list under their names, as the mail
    // bridge does; the files are read when the item is saved.
    void AttachFiles(const std::optional<std::string>& list, const std::optional<std::string>& names);
    // Stores the item in its folder; a second Save is an error.
    void Save();
    const pst::Message& message() const { return message_; }

private:
    std::shared_ptr<OpenOutputStore> store_;
    pst::FolderId folder_;
    pst::Message message_;
    bool saved_ = false;
    bool subjectPut_ = false;
};

class ContactItems {
public:
    ContactItems(std::shared_ptr<OpenOutputStore> store, pst::FolderId folder);
    // Only contacts (kContactItemKind); std::invalid_argument otherwise.
    ContactItem Add(std::int32_t kind) const;

private:
    std::shared_ptr<OpenOutputStore> store_;
    pst::FolderId folder_;
};

class ContactFolder {
public:
    ContactFolder(std::shared_ptr<OpenOutputStore> store, pst::FolderId folder);
    ContactItems Items() const;

private:
    std::shared_ptr<OpenOutputStore> store_;
    pst::FolderId folder_;
};

class ContactSession {
public:
    // The six arguments of the library's logon; passed empty.
    void Logon(std::string_view profile = {}, std::string_view password = {}, std::string_view showDialog = {},
               std::string_view newSession = {}, std::string_view parentWindow = {},
               std::string_view noMail = {});
    // The folder at "\\" + display name + "\" + names; nullopt when no open
    // store or no such folder exists (or before Logon).
    std::optional<ContactFolder> GetFolderFromPath(std::string_view path) const;

private:
    bool loggedOn_ = false;
};

}  // namespace bm
