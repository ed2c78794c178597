// Contacts and distribution lists written with the project's writer, read
// back with its reader and exported as vCard: python3-vobject reads every
// card and finds the source's names, addresses, numbers, note, photo and
// list members; no line is longer than 75 octets.
#include "output/vcard/contact_to_vcard.h"

#include <gtest/gtest.h>

#include "output/mime/mail_check.h"
#include "output/mime/message_fields.h"
#include "output/pst/props_tags.h"
#include "store/nid_types.h"

namespace bm {
namespace {

using nlohmann::json;
namespace tags = pst::tags;
using pst::PropType;

#define BM_REQUIRE_VOBJECT() \
    if (!bmtest::HavePythonModules("vobject")) GTEST_SKIP() << "python3-vobject is not installed"

pst::NamedPropTag Address(std::uint32_t lid, PropType type = PropType::Unicode) {
    return {pst::propsets::kAddress, lid, type};
}

std::string CheckCards(const std::filesystem::path& file, const std::string& text, const json& cards) {
    bmtest::WriteFile(file, text);
    return bmtest::RunChecker("output/vcard/check_vcard.py", "",
                              json::array({{{"file", file.string()}, {"cards", cards}}}));
}

// Written to the store and read back, so the export sees what the reader gives.
std::vector<pst::Message> RoundTrip(const std::string& name, const std::vector<pst::Message>& items) {
    bmtest::WrittenStore store(name);
    std::vector<std::uint32_t> nids;
    for (const pst::Message& m : items) nids.push_back(store.writer().AddMessage(store.writer().ipmSubtree(), m));
    store.Open();
    std::vector<pst::Message> out;
    for (const std::uint32_t nid : nids) {
        auto read = store.Read(nid);
        EXPECT_TRUE(read.has_value());
        if (read) out.push_back(std::move(*read));
    }
    return out;
}

const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11) + std::string(300, '\x5A') + "\xFF\xD9";

TEST(ContactToVcard, AContactWithPhotoKeepsItsNamesNumbersAddressesNoteAndPhoto) {
    BM_REQUIRE_VOBJECT();
    pst::Message c;
    c.properties.SetString(tags::kMessageClass, "IPM.Contact");
    c.properties.SetString(tags::kDisplayName, "Zoë Ångström-Łukasiewicz");
    c.properties.SetString(tags::kGivenName, "Zoë");
    c.properties.SetString(tags::kSurname, "Ångström-Łukasiewicz");
    c.properties.SetString(tags::kCompanyName, "Brightmend; Research, Ltd.");
    c.properties.SetString(tags::kTitle, "Chief \\ Tester");
    c.properties.SetString(tags::kBusinessTelephoneNumber, "+49 30 1234567");
    c.properties.SetString(tags::kMobileTelephoneNumber, "+49 170 7654321");
    c.properties.SetString({0x3A29, PropType::Unicode}, "Unter den Linden 1\r\nHinterhaus");
    c.properties.SetString({0x3A27, PropType::Unicode}, "Berlin");
    c.properties.SetString({0x3A2A, PropType::Unicode}, "10117");
    c.properties.SetString({0x3A26, PropType::Unicode}, "Deutschland");
    c.properties.SetSysTime({0x3A42, PropType::SysTime}, pst::FileTimeFromUnix(482112000));  // 1985-04-12
    c.properties.SetString(Address(0x8082), "SMTP");
    c.properties.SetString(Address(0x8083), "zoe@example.org");
    c.properties.SetString(Address(0x8092), "EX");
    c.properties.SetString(Address(0x8093), "/o=Org/cn=Recipients/cn=zoe");
    const std::string note = "Met at the conference, room 3; " + std::string(120, 'x') +
                             "\nSecond line with ünïcödé — and a comma, a semicolon; a backslash \\ end";
    c.properties.SetString(tags::kBody, note);
    c.properties.SetMultiString(pst::named::kKeywords, {"Family", "VIP, Berlin"});
    pst::Attachment photo = pst::Attachment::FromBytes("ContactPicture.jpg", {kJpeg.begin(), kJpeg.end()});
    photo.properties.SetBool({0x7FFF, PropType::Boolean}, true);
    photo.properties.SetString(tags::kAttachMimeTag, "image/jpeg");
    c.attachments.push_back(bmtest::File("cv.txt", "text/plain", "not the photo"));
    c.attachments.push_back(photo);

    const auto read = RoundTrip("vcard-contact", {c});
    ASSERT_EQ(read.size(), 1u);
    ASSERT_TRUE(vcard::IsContact(read[0]));
    const json card = {
        {"fn", "Zoë Ångström-Łukasiewicz"},
        {"n", {"Ångström-Łukasiewicz", "Zoë", "", "", ""}},
        {"org", {"Brightmend; Research, Ltd."}},
        {"email", {"zoe@example.org"}},
        {"tel", json::array({json::array({"work,voice", "+49 30 1234567"}), json::array({"cell", "+49 170 7654321"})})},
        {"adr", json::array({json::array(
                    {"work", {"", "", "Unter den Linden 1\nHinterhaus", "Berlin", "", "10117", "Deutschland"}})})},
        {"bday", "19850412"},
        {"note", note},
        {"categories", {"Family", "VIP, Berlin"}},
        {"photo", {"image/jpeg", bmtest::Hex(kJpeg)}},
    };
    const std::string text = vcard::ItemToVcard(read[0]);
    EXPECT_EQ(CheckCards(bmtest::ScratchDir("vcard-contact-out") / "Contacts.vcf", text, json::array({card})), "");
    // The Exchange address is kept, apart from the addresses a reader mails to.
    EXPECT_NE(text.find("X-BRIGHTMEND-EMAIL;TYPE=EX:/o=Org/cn=Recipients/cn=zoe\r\n"), std::string::npos) << text;
}

// A one-off entry ID as the address book writes it for a list member.
std::vector<std::uint8_t> OneOff(std::u16string_view name, std::u16string_view type, std::u16string_view address) {
    std::vector<std::uint8_t> out(4, 0);
    for (const int b : {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02})
        out.push_back(static_cast<std::uint8_t>(b));
    for (const int b : {0x00, 0x00, 0x00, 0x80}) out.push_back(static_cast<std::uint8_t>(b));  // version, unicode
    for (const std::u16string_view s : {name, type, address}) {
        for (const char16_t u : s) {
            out.push_back(static_cast<std::uint8_t>(u & 0xFF));
            out.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

// The members property's form: the one-off entry wrapped.
std::vector<std::uint8_t> Wrapped(const std::vector<std::uint8_t>& oneOff) {
    std::vector<std::uint8_t> out(4, 0);
    for (const int b : {0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF, 0x11, 0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4})
        out.push_back(static_cast<std::uint8_t>(b));
    out.push_back(0x00);  // a one-off entry
    out.insert(out.end(), oneOff.begin(), oneOff.end());
    return out;
}

void SetMultiBinary(pst::PropertyBag& bag, std::uint32_t lid, const std::vector<std::vector<std::uint8_t>>& values) {
    pst::PropertyBag one;
    one.SetMultiBinary({0x6000, PropType::MvBinary}, values);
    bag.SetRaw(pst::KeyOf(Address(lid, PropType::MvBinary)), PropType::MvBinary,
               one.Find(pst::PropTag{0x6000, PropType::MvBinary})->bytes);
}

TEST(ContactToVcard, ADistributionListIsAGroupWithEveryMember) {
    BM_REQUIRE_VOBJECT();
    pst::Message list;
    list.properties.SetString(tags::kMessageClass, "IPM.DistList");
    list.properties.SetString(tags::kSubject, "Team Ärger");
    list.properties.SetString(Address(0x8053), "Team Ärger");
    const auto jan = OneOff(u"Jan Novák", u"SMTP", u"jan@example.org");
    const auto bob = OneOff(u"Bob", u"SMTP", u"bob@example.net");
    const auto ex = OneOff(u"Exchange Only", u"EX", u"/o=Org/cn=xonly");
    // One-off entries for the first two; the third only in the members list.
    SetMultiBinary(list.properties, 0x8054, {jan, bob});
    SetMultiBinary(list.properties, 0x8055, {Wrapped(jan), Wrapped(bob), Wrapped(ex)});
    const auto read = RoundTrip("vcard-list", {list});
    ASSERT_EQ(read.size(), 1u);
    ASSERT_TRUE(vcard::IsDistributionList(read[0]));
    const json card = {{"kind", "group"},
                       {"fn", "Team Ärger"},
                       {"members", {"mailto:jan@example.org", "mailto:bob@example.net"}},
                       {"x_members", {"Exchange Only </o=Org/cn=xonly>"}}};
    EXPECT_EQ(CheckCards(bmtest::ScratchDir("vcard-list-out") / "Lists.vcf", vcard::ItemToVcard(read[0]),
                         json::array({card})),
              "");
}

TEST(ContactToVcard, EveryContactAndListOfTheSharedStoresIsRead) {
    BM_REQUIRE_VOBJECT();
    json expected = json::array();
    const auto out = bmtest::ScratchDir("vcard-shared");
    std::size_t cards = 0;
    bmtest::ForEachSharedStore([&](std::string_view name, StoreFile& store) {
        std::string text;
        std::size_t count = 0;
        for (const NodeEntry& node : store.forest.records()) {
            if (!IsNormalMessageNid(node.nid)) continue;
            const auto item = CopySourceMessage(store, node);
            if (!item || !(vcard::IsContact(*item) || vcard::IsDistributionList(*item))) continue;
            text += vcard::ItemToVcard(*item);
            ++count;
        }
        if (count == 0) return;
        const auto file = out / (bmtest::StoreTestName(std::string(name)) + ".vcf");
        bmtest::WriteFile(file, text);
        expected.push_back({{"file", file.string()}, {"cards", nullptr}, {"count", count}});
        cards += count;
    });
    if (expected.empty()) GTEST_SKIP() << "no shared store with contacts is present";
    EXPECT_GT(cards, 0u);
    EXPECT_EQ(bmtest::RunChecker("output/vcard/check_vcard.py", "", expected), "");
}

}  // namespace
}  // namespace bm
