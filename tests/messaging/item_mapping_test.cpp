// Mapping property lists onto item records: classification, text, subject,
// contact, named, attachment and RTF body rules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "messaging/item_mapping.h"
#include "support/heap_image.h"
#include "support/test_paths.h"

namespace bm {
namespace {

constexpr std::uint32_t kAnsi = 14;
constexpr std::uint32_t kUnicode = 23;

PropertyValue Value(std::uint32_t id, std::uint32_t type, Bytes data) {
    PropertyValue v;
    v.id = id;
    v.type = type;
    v.size = static_cast<std::uint32_t>(data.size());
    v.data = std::move(data);
    return v;
}
PropertyValue Unicode(std::uint32_t id, std::u16string_view text) { return Value(id, kPtUnicode, bmtest::Utf16(text)); }
PropertyValue Ansi(std::uint32_t id, std::string_view text) { return Value(id, kPtString8, Bytes(text.begin(), text.end())); }
PropertyValue Long(std::uint32_t id, std::uint32_t x) {
    Bytes b;
    bmtest::AppendU32(b, x);
    return Value(id, kPtLong, b);
}
PropertyValue Named(PropertyValue v) {
    v.numericNamed = true;
    return v;
}

PropertyList Chunks(std::vector<std::vector<PropertyValue>> rows) {
    PropertyList list;
    list.rowCount = static_cast<std::int32_t>(rows.size());
    for (auto& r : rows) list.chunks.push_back(PropertyChunk{std::move(r)});
    return list;
}

class ItemMapping : public ::testing::Test {
protected:
    ItemRecord Map(std::vector<PropertyValue> values, std::uint32_t version = kUnicode) {
        ItemRecord record;
        const auto list = Chunks({std::move(values)});
        MappingContext ctx;
        ctx.formatVersion = version;
        ctx.rtf = &rtf_;
        ctx.reader = &reader_;
        EXPECT_EQ(MapProperties(&list, &record, ctx), 0);
        return record;
    }
    RtfWorkspace rtf_;
    StoreReader reader_;
};

TEST(ItemClassification, MessageClasses) {
    EXPECT_EQ(ClassifyMessage("IPM.Note"), ItemKind::Mail);
    EXPECT_EQ(ClassifyMessage("IPM.NOTE.SMIME"), ItemKind::Mail);
    EXPECT_EQ(ClassifyMessage("ipm.note.smime"), ItemKind::Mail);
    EXPECT_EQ(ClassifyMessage("IPM"), ItemKind::Mail);
    EXPECT_EQ(ClassifyMessage(""), ItemKind::Mail);
    EXPECT_EQ(ClassifyMessage("IPM.Task"), ItemKind::Other);
    EXPECT_EQ(ClassifyMessage("IPM.StickyNote"), ItemKind::Other);
    EXPECT_EQ(ClassifyMessage("REPORT.IPM.Note.NDR"), ItemKind::Report);
    EXPECT_EQ(ClassifyMessage("IPM.Contact"), ItemKind::Contact);
    EXPECT_EQ(ClassifyMessage("IPM.ContactX"), ItemKind::Contact);
    EXPECT_EQ(ClassifyMessage("IPM.CONTACY"), ItemKind::Contact);  // the first ten characters decide
    EXPECT_EQ(ClassifyMessage("IPM.CONTAX"), ItemKind::Other);
    EXPECT_EQ(ClassifyMessage("IPM.Activity"), ItemKind::Journal);
    EXPECT_EQ(ClassifyMessage("IPM.Appointment"), ItemKind::Appointment);
    EXPECT_EQ(ClassifyMessage("IPC.MS.Outlook.AgingProperties"), ItemKind::Other);
    EXPECT_EQ(ClassifyMessage("IPM.Microsoft.FolderDesign.NameView"), ItemKind::Other);
}

TEST(ItemClassification, FolderClassesAreCaseSensitive) {
    EXPECT_EQ(ClassifyFolder("IPF.Note"), ItemKind::Mail);
    EXPECT_EQ(ClassifyFolder("IPF.Appointment"), ItemKind::Appointment);
    EXPECT_EQ(ClassifyFolder("IPF.Contact"), ItemKind::Contact);
    EXPECT_EQ(ClassifyFolder("IPF.Journal"), ItemKind::Journal);
    EXPECT_EQ(ClassifyFolder("IPF.StickyNote"), ItemKind::StickyNote);
    EXPECT_EQ(ClassifyFolder("IPF.Task"), ItemKind::Task);
    EXPECT_EQ(ClassifyFolder("ipf.note"), ItemKind::Other);
    EXPECT_EQ(ClassifyFolder(""), ItemKind::Other);
}

TEST(ItemClassification, PrefixMatchLimits) {
    EXPECT_EQ(MatchClassPrefix("IPM.Note", "IPM", 8), 0);
    EXPECT_EQ(MatchClassPrefix("IPM.Contact", "IPM.Contac", 9), 0);
    EXPECT_NE(MatchClassPrefix("IPM.Note", "IPM.Task", 8), 0);
    EXPECT_LT(MatchClassPrefix("IPM.Note", "IPM.Task", 8), 0);
    EXPECT_EQ(EqualsNoCase("IPM", "ipm"), 0);
    EXPECT_NE(EqualsNoCase("IPM", "IPM.Note"), 0);
}

TEST_F(ItemMapping, ClassSetsKindAndTheClassText) {
    const ItemRecord r = Map({Unicode(0x001A, u"IPM.Note.SMIME")});
    EXPECT_EQ(r.messageClass, "IPM.Note.SMIME");
    EXPECT_EQ(r.kind, ItemKind::Mail);
    const ItemRecord f = Map({Unicode(0x3613, u"IPF.Task")});
    EXPECT_EQ(f.kind, ItemKind::Task);
}

TEST_F(ItemMapping, NamedLidBelow8000DoesNotStandForThePropertyOfThatNumber) {
    // PidLidOwnerCriticalChange is LID 0x001A, a time.
    const ItemRecord r = Map({Unicode(0x001A, u"IPM.Appointment"), Named(Value(0x001A, kPtSysTime, Bytes(8, 0x41)))});
    EXPECT_EQ(r.messageClass, "IPM.Appointment");
    EXPECT_EQ(r.kind, ItemKind::Appointment);
}

TEST_F(ItemMapping, AnAppointmentKeepsItsOwnTimesAndItsRecurrence) {
    const Bytes start(8, 0x11);
    const Bytes end(8, 0x22);
    const Bytes recurrence{0x04, 0x30, 0x04, 0x30, 0x0B, 0x20};
    const ItemRecord r = Map({Unicode(0x001A, u"IPM.Appointment"), Named(Value(0x820D, kPtSysTime, start)),
                              Named(Value(0x820E, kPtSysTime, end)), Named(Value(0x8215, kPtBoolean, {1, 0})),
                              Named(Value(0x8216, kPtBinary, recurrence)), Named(Value(0x8223, kPtBoolean, {1, 0})),
                              Named(Long(0x8231, 2)), Named(Unicode(0x8232, u"every Monday"))});
    ASSERT_NE(r.appointmentFields, nullptr);
    const AppointmentFields& a = *r.appointmentFields;
    EXPECT_EQ(a.startWhole, start);
    EXPECT_EQ(a.endWhole, end);
    EXPECT_EQ(a.allDay, true);
    EXPECT_EQ(a.recurrence, recurrence);
    EXPECT_EQ(a.recurring, true);
    EXPECT_EQ(a.recurrenceType, 2u);
    EXPECT_EQ(a.recurrencePattern, "every Monday");
    EXPECT_TRUE(a.clipStart.empty()) << "the clip times are apart";
}

TEST_F(ItemMapping, ATaskKeepsItsStatusProgressAndDates) {
    Bytes half(8);
    const double value = 0.25;
    std::memcpy(half.data(), &value, sizeof value);
    const Bytes due(8, 0x33);
    const ItemRecord r = Map({Unicode(0x001A, u"IPM.Task"), Named(Long(0x8101, 1)), Named(Value(0x8102, kPtDouble, half)),
                              Named(Value(0x8105, kPtSysTime, due)), Named(Value(0x811C, kPtBoolean, {0, 0}))});
    ASSERT_NE(r.taskFields, nullptr);
    EXPECT_EQ(r.taskFields->status, 1u);
    EXPECT_EQ(r.taskFields->percentComplete, 0.25);
    EXPECT_EQ(r.taskFields->dueDate, due);
    EXPECT_EQ(r.taskFields->complete, false);
    EXPECT_TRUE(r.taskFields->startDate.empty());
}

TEST_F(ItemMapping, UntranslatedNamedIdentifierIsIgnored) {
    const ItemRecord r = Map({Unicode(0x8005, u"raw id"), Named(Unicode(0x8208, u"Room 1"))});
    EXPECT_EQ(r.contactFields, nullptr);
    ASSERT_NE(r.appointmentFields, nullptr);
    EXPECT_EQ(r.appointmentFields->location, "Room 1");
}

TEST_F(ItemMapping, AnsiSubjectWithPrefixMarker) {
    const ItemRecord r = Map({Ansi(0x0037, std::string("\x01\x05RE: Hi", 8))}, kAnsi);
    ASSERT_NE(r.messageFields, nullptr);
    ASSERT_NE(r.messageFields->subject, nullptr);
    EXPECT_EQ(r.messageFields->subject->prefixByte0, 1);
    EXPECT_EQ(r.messageFields->subject->prefixByte1, 5);
    EXPECT_EQ(r.messageFields->subject->text, "RE: Hi");
}

TEST_F(ItemMapping, SubjectStartingWithALetterIsKeptWhole) {
    const ItemRecord r = Map({Ansi(0x0037, "Hello")}, kAnsi);
    EXPECT_EQ(r.messageFields->subject->prefixByte0, 0);
    EXPECT_EQ(r.messageFields->subject->prefixByte1, 0);
    EXPECT_EQ(r.messageFields->subject->text, "Hello");
}

TEST_F(ItemMapping, NonLatinSubjectsComeOutIntact) {
    EXPECT_EQ(Map({Unicode(0x0037, u"\u041f\u0440\u0438\u0432\u0435\u0442")}).messageFields->subject->text,
              "\u041f\u0440\u0438\u0432\u0435\u0442");
    EXPECT_EQ(Map({Unicode(0x0037, u"\u03b1\u03b2")}).messageFields->subject->text, "\u03b1\u03b2");
    EXPECT_EQ(Map({Unicode(0x0037, u"\u4f60\u597d")}).messageFields->subject->text, "\u4f60\u597d");
    // An 8-bit subject that starts with an accented letter keeps it.
    EXPECT_EQ(Map({Ansi(0x0037, "\xC9t\xE9")}, kAnsi).messageFields->subject->text, "\u00c9t\u00e9");
}

TEST_F(ItemMapping, UnicodeSubjectWithPrefixMarkerLosesOnlyTheMarker) {
    const ItemRecord r = Map({Unicode(0x0037, u"\u0001\u0004RE: \u041f")});
    EXPECT_EQ(r.messageFields->subject->text, "RE: \u041f");
    EXPECT_EQ(r.messageFields->subject->prefixByte0, 1);
}

TEST_F(ItemMapping, EmptySubjectLeavesNoSubject) {
    const ItemRecord r = Map({Value(0x0037, kPtUnicode, {})});
    ASSERT_NE(r.messageFields, nullptr);
    EXPECT_EQ(r.messageFields->subject, nullptr);
}

TEST_F(ItemMapping, AnsiTextIsReadInTheMessageCodePage) {
    const ItemRecord r = Map({Ansi(0x0E04, "\xcf\xf0\xe8"), Long(0x3FFD, 1251)}, kAnsi);
    EXPECT_EQ(r.messageFields->displayTo, "\u041f\u0440\u0438");
    const ItemRecord d = Map({Ansi(0x0E04, "\x80")}, kAnsi);
    EXPECT_EQ(d.messageFields->displayTo, "\u20ac");
}

TEST_F(ItemMapping, SentRepresentingAddressTakesTheLaterOfTypeAndAddress) {
    const ItemRecord r = Map({Unicode(0x0064, u"SMTP"), Unicode(0x0065, u"a@b.example")});
    EXPECT_EQ(r.messageFields->sentRepresentingAddress, "a@b.example");
}

TEST_F(ItemMapping, UnicodeContactFileAsFollowsGivenNameThenFileUnder) {
    EXPECT_EQ(Map({Unicode(0x3A06, u"Ann")}).contactFields->fileAs, "Ann");
    const ItemRecord r = Map({Unicode(0x3A06, u"Ann"), Named(Unicode(0x8005, u"Smith, Ann"))});
    EXPECT_EQ(r.contactFields->fileAs, "Smith, Ann");
    EXPECT_EQ(r.contactFields->givenName, "Ann");
    EXPECT_EQ(Map({Ansi(0x3A06, "Ann")}, kAnsi).contactFields->fileAs, "");
}

TEST_F(ItemMapping, EmailNeedsAnAtSign) {
    const ItemRecord r = Map({Unicode(0x3003, u"Ann Smith"), Named(Unicode(0x8084, u"ann@example.org"))});
    EXPECT_EQ(r.contactFields->email, "ann@example.org");
    EXPECT_EQ(Map({Unicode(0x3003, u"no address")}).contactFields, nullptr);
}

TEST_F(ItemMapping, EveryPropertyFillsOnlyItsOwnMember) {
    const ItemRecord r = Map({Unicode(0x3A19, u"Office"), Named(Unicode(0x80D8, u"Other")), Value(0x3A4D, kPtShort, {2, 0, 0, 0})});
    EXPECT_EQ(r.contactFields->officeLocation, "Office");
    EXPECT_EQ(r.contactFields->lid80D8Text, "Other");
    EXPECT_EQ(r.contactFields->gender, 2);
    EXPECT_EQ(r.contactFields->fileAs, "");
}

TEST_F(ItemMapping, OnlyTheFirstTwoStringNamedPropertiesAreKept) {
    std::vector<PropertyValue> values;
    for (const char16_t* t : {u"one", u"two", u"three"}) {
        PropertyValue v = Unicode(kStringNamedId, t);
        v.stringNamed = true;
        values.push_back(v);
    }
    // A real property 0x0002 (PR_ALTERNATE_RECIPIENT_ALLOWED) is not one.
    values.insert(values.begin(), Value(0x0002, kPtBoolean, {1, 0, 0, 0}));
    const ItemRecord r = Map(values);
    EXPECT_EQ(r.messageFields->namedText1, bmtest::Utf16(u"one"));
    EXPECT_EQ(r.messageFields->namedText2, bmtest::Utf16(u"two"));
}

TEST_F(ItemMapping, FolderCountsAndStoreFields) {
    Bytes entryId(30, 7);
    const ItemRecord r = Map({Long(0x3602, 12), Long(0x3603, 3), Long(0x360A, 0x100), Value(0x7C07, kPtBinary, entryId),
                              Long(0x35DF, 0xFF)});
    ASSERT_NE(r.folderCounts, nullptr);
    EXPECT_EQ(r.folderCounts->contentCount, 12u);
    EXPECT_EQ(r.folderCounts->unreadCount, 3u);
    EXPECT_EQ(r.folderCounts->hasSubfolders, 1);
    ASSERT_NE(r.storeFields, nullptr);
    EXPECT_EQ(r.storeFields->entryId7C07.size(), 24u);
    EXPECT_EQ(r.storeFields->validFolderMask, 0xFFu);
}

TEST_F(ItemMapping, NoRecordGivesMinusOne) {
    const PropertyList list;
    EXPECT_EQ(MapProperties(&list, nullptr, MappingContext{}), -1);
}

TEST(ItemMappingAttachments, TableChunksFillTheRecordsInStep) {
    ItemRecord record;
    record.attachments.resize(2);
    record.currentAttachment = 0;
    const auto table = Chunks({{Long(0x67F2, 0x8045), Unicode(0x3704, u"b.txt")},
                               {Long(0x67F2, 0x8025), Unicode(0x3704, u"a.txt")}});
    MappingContext ctx;
    ctx.formatVersion = kUnicode;
    ASSERT_EQ(MapProperties(&table, &record, ctx), 0);
    EXPECT_EQ(record.attachments[0].nid, 0x8045u);
    EXPECT_EQ(record.attachments[0].fileName, "b.txt");
    EXPECT_EQ(record.attachments[1].nid, 0x8025u);
    EXPECT_EQ(record.attachments[1].fileName, "a.txt");
}

TEST(ItemMappingAttachments, AttachmentObjectFillsTheCurrentRecordAndItsDisplayNameLandsOnTheItem) {
    ItemRecord record;
    record.displayName = "message";
    record.attachments.resize(2);
    record.currentAttachment = 1;
    PropertyValue unread = Value(0x3701, 0x8061, {});
    unread.data.reset();
    const auto object = Chunks({{Unicode(0x3001, u"attached.doc"), unread, Unicode(0x3707, u"attached long.doc")}});
    MappingContext ctx;
    ctx.formatVersion = kUnicode;
    ASSERT_EQ(MapProperties(&object, &record, ctx), 0);
    EXPECT_EQ(record.displayName, "attached.doc");
    EXPECT_EQ(record.attachments[1].displayName, "attached.doc");
    EXPECT_EQ(record.attachments[0].displayName, "");
    EXPECT_EQ(record.attachments[1].nid, 0x8061u);
    EXPECT_EQ(record.attachments[1].longFileName, "attached long.doc");
    EXPECT_EQ(record.attachments[0].nid, 0u);
}

TEST(ItemMappingAttachments, WithoutACursorAttachmentPropertiesAreIgnored) {
    ItemRecord record;
    const auto list = Chunks({{Unicode(0x3704, u"x.txt")}});
    ASSERT_EQ(MapProperties(&list, &record, MappingContext{kUnicode, nullptr, nullptr}), 0);
    EXPECT_TRUE(record.attachments.empty());
}

// [MS-OXRTFCP]'s first example: "{\rtf1\ansi\ansicpg1252\pard hello world}\r\n".
const Bytes kHelloRtf = {0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xf1, 0xc5, 0xc7,
                         0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32, 0x0a,
                         0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62, 0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d,
                         0x0a, 0x80, 0x0f, 0xa0};

TEST_F(ItemMapping, RtfBodyBecomesTheBodyText) {
    const ItemRecord r = Map({Value(0x1009, kPtBinary, kHelloRtf), Unicode(0x6619, u"ignored copy")});
    EXPECT_EQ(r.messageFields->rtfFlag, 1);
    EXPECT_EQ(r.messageFields->bodyText, "hello world");
    EXPECT_FALSE(r.messageFields->rtfCrcMismatch);
}

TEST_F(ItemMapping, RtfBodyWithoutProperty6619StillGivesText) {
    const ItemRecord r = Map({Value(0x1009, kPtBinary, kHelloRtf)});
    EXPECT_EQ(r.messageFields->bodyText, "hello world");
}

TEST_F(ItemMapping, WithoutRtfProperty6619IsTheBodyText) {
    EXPECT_EQ(Map({Unicode(0x6619, u"plain")}).messageFields->bodyText, "plain");
}

TEST_F(ItemMapping, DamagedRtfIsDecodedAndFlagged) {
    Bytes damaged = kHelloRtf;
    damaged[12] ^= 1;
    const ItemRecord r = Map({Value(0x1009, kPtBinary, damaged)});
    EXPECT_TRUE(r.messageFields->rtfCrcMismatch);
    EXPECT_EQ(r.messageFields->bodyText, "hello world");
}

TEST_F(ItemMapping, StopRequestEndsTheMappingBeforeTheBodyText) {
    reader_.stopAnalysis = true;
    const ItemRecord r = Map({Value(0x1009, kPtBinary, kHelloRtf), Unicode(0x6619, u"x"), Unicode(0x6620, u"later")});
    EXPECT_EQ(r.messageFields->rtfFlag, 1);
    EXPECT_EQ(r.messageFields->bodyText, "");
}

TEST_F(ItemMapping, MappingsOnTwoThreadsKeepTheirOwnRtfBodies) {
    // The stream of example one with its text changed: same length, so the
    // CRC is the only thing that differs.
    auto body = [](char c) {
        const std::string rtf = std::string("{\\rtf1 ") + std::string(40, c) + "}";
        Bytes value(16);
        bmtest::PutU32(value, 0, static_cast<std::uint32_t>(rtf.size() + 12));
        bmtest::PutU32(value, 4, static_cast<std::uint32_t>(rtf.size()));
        bmtest::PutU32(value, 8, 0x414C454D);  // stored as is
        value.insert(value.end(), rtf.begin(), rtf.end());
        return value;
    };
    std::atomic<int> wrong{0};
    auto worker = [&](char c) {
        for (int i = 0; i < 200; ++i) {
            ItemRecord record;
            const auto list = Chunks({{Value(0x1009, kPtBinary, body(c)), Unicode(0x6619, u"x")}});
            MappingContext ctx;
            ctx.formatVersion = kUnicode;
            ctx.rtf = &rtf_;
            MapProperties(&list, &record, ctx);
            if (record.messageFields->bodyText != std::string(40, c)) ++wrong;
        }
    };
    std::thread a(worker, 'a');
    std::thread b(worker, 'b');
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace bm
