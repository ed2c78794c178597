// The texts the writer and the bridge exchange, the item time texts and the
// attachment file names.
#include <gtest/gtest.h>

#include <unordered_set>
#include <vector>

#include "output/attachment_names.h"
#include "output/bridge_texts.h"
#include "output/item_time.h"

namespace bm {
namespace {

constexpr FileTime FromUnix(std::int64_t seconds) { return (seconds + 11644473600LL) * 10000000LL; }

TEST(ItemTime, TextsAreTheStoredUtcClockWithoutLeadingZeros) {
    ItemTimeTexts t;
    FormatItemTime(FromUnix(1796639109), t);  // 2026-12-07 10:25:09 UTC
    EXPECT_EQ(t.date, "7/12/2026");
    EXPECT_EQ(t.time, "10.25.9");
    EXPECT_EQ(t.DateTime(), "7/12/2026 10.25.9");
    FormatItemTime(0, t);
    EXPECT_EQ(t.DateTime(), "1/1/1601 0.0.0");
    FormatItemTime(FromUnix(951782400), t);  // leap day 2000
    EXPECT_EQ(t.date, "29/2/2000");
}

TEST(ItemTime, CalendarTimeReadsTheFieldsAsLocalStandardTime) {
    ItemTimeTexts t;
    const std::time_t calendar = FormatItemTime(FromUnix(1796639109), t);
    std::tm fields{};
    fields.tm_year = 126;
    fields.tm_mon = 11;
    fields.tm_mday = 7;
    fields.tm_hour = 10;
    fields.tm_min = 25;
    fields.tm_sec = 9;
    fields.tm_isdst = 0;
    EXPECT_EQ(calendar, std::mktime(&fields));
}

TEST(ItemTime, TheBridgeReadsTheTextBackAsTheSameSecond) {
    // Whole seconds across four centuries, leap days, month ends and the
    // ends of the day.
    for (std::int64_t s = -11644473600LL; s < 8'000'000'000LL; s += 86'399 * 37 + 3607) {
        ItemTimeTexts t;
        FormatItemTime(FromUnix(s), t);
        ASSERT_EQ(ParseItemDateTime(t.DateTime()), FromUnix(s)) << t.DateTime();
    }
    // Sub-second parts are dropped, never rounded up.
    ItemTimeTexts t;
    FormatItemTime(FromUnix(1000) + 9'999'999, t);
    EXPECT_EQ(ParseItemDateTime(t.DateTime()), FromUnix(1000));
}

TEST(ItemTime, ADateAloneIsMidnightAndMalformedTextsAreRejected) {
    EXPECT_EQ(ParseItemDateTime("1/1/1970"), FromUnix(0));
    for (const char* bad : {"", "7/12", "31/2/2026", "0/1/2026", "1/13/2026", "1/1/2026 24.0.0", "1/1/2026 1.60.0",
                            "1/1/2026 1.2", "a/1/2026", "1/1/2026 1.2.3x", "1/1/1600"})
        EXPECT_FALSE(ParseItemDateTime(bad).has_value()) << bad;
    EXPECT_FALSE(FileTimeOf(std::vector<std::uint8_t>{1, 2, 3}).has_value());
    EXPECT_EQ(FileTimeOf(std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}), 1);
}

TEST(SenderText, AddressWithAtIsAppendedInBracketsWithoutBlank) {
    EXPECT_EQ(MakeSenderText("Ada", "ada@example.org"), "Ada<ada@example.org>");
    EXPECT_EQ(MakeSenderText("", "ada@example.org"), "<ada@example.org>");
}

TEST(SenderText, AddressWithoutAtLeavesTheNameInBrackets) {
    EXPECT_EQ(MakeSenderText("Ada", "/O=ORG/CN=ADA"), "<Ada>");
    EXPECT_EQ(MakeSenderText("", "/O=ORG/CN=ADA"), "");
    EXPECT_EQ(MakeSenderText("Ada", ""), "Ada");
}

TEST(SenderText, HeaderLineNamesUnknownWhenThereIsNoSender) {
    EXPECT_EQ(MakeHeaderLine(""), "From:UnKnown\r\n");
    EXPECT_EQ(MakeHeaderLine("Ada<ada@example.org>"), "From:Ada<ada@example.org>\r\n");
}

TEST(SenderText, TheBridgeReadsNameAndAddressBackFromTheHeaderLine) {
    EXPECT_EQ(ParseHeaderSender("From:Ada<ada@example.org>\r\n"), (Mailbox{"Ada", "ada@example.org"}));
    EXPECT_EQ(ParseHeaderSender("From:<Ada>\r\n"), (Mailbox{"Ada", ""}));
    EXPECT_EQ(ParseHeaderSender("From:<ada@example.org>\r\n"), (Mailbox{"", "ada@example.org"}));
    EXPECT_EQ(ParseHeaderSender("From:UnKnown\r\n"), (Mailbox{}));
    EXPECT_EQ(ParseHeaderSender("Subject: x\nFrom:Bob\n"), (Mailbox{"Bob", ""}));
    EXPECT_EQ(ParseHeaderSender(""), (Mailbox{}));
}

TEST(RecipientsText, DisplayNamesThenTheReceivedByAddress) {
    EXPECT_EQ(MakeRecipientsText("Bob; Cy", "cy@example.org"), "Bob; Cy<cy@example.org>");
    EXPECT_EQ(MakeRecipientsText("Bob", ""), "Bob");
    EXPECT_EQ(MakeRecipientsText("", ""), "");
}

TEST(RecipientsText, EachEntryBecomesOneRecipient) {
    EXPECT_EQ(ParseRecipients("Bob; Cy<cy@example.org>"),
              (std::vector<Mailbox>{{"Bob", ""}, {"Cy", "cy@example.org"}}));
    EXPECT_EQ(ParseRecipients(" ; <x@y.z>;"), (std::vector<Mailbox>{{"", "x@y.z"}}));
    EXPECT_TRUE(ParseRecipients("").empty());
}

TEST(FileList, EntriesEndInSemicolonsAndAnyNameSurvivesTheList) {
    EXPECT_EQ(JoinFileList({"/tmp/a.txt", "/tmp/b.txt"}), "/tmp/a.txt;/tmp/b.txt;");
    const std::vector<std::string> odd = {"a;b.txt", "back\\slash", "", "ü.bin"};
    EXPECT_EQ(SplitFileList(JoinFileList(odd)), odd);
    EXPECT_TRUE(SplitFileList("").empty());
}

TEST(AttachmentNames, DeviceNamesForbiddenCharactersAndOverlongNamesAreNotUsable) {
    for (const std::string& bad : std::vector<std::string>{"con.txt", "LPT3", "a?b", "CLOCK$.x", "nul", "com9.doc", "a/b", "a\\b", "tab\there",
                                  "...", "", std::string(256, 'a')})
        EXPECT_FALSE(IsUsableFileName(bad)) << bad;
    for (const std::string& good : std::vector<std::string>{"COMX.txt", ".profile", "LPT0", "report.pdf", std::string(255, 'a')})
        EXPECT_TRUE(IsUsableFileName(good)) << good;
}

TEST(AttachmentNames, NamesWithLettersBeyondAsciiAreUsable) {
    EXPECT_TRUE(IsUsableFileName("Überblick.pdf"));
    EXPECT_TRUE(IsUsableFileName("日本語.txt"));
}

TEST(AttachmentNames, AnUnusableNameIsMadeSafeInsteadOfSkipped) {
    EXPECT_EQ(MakeSafeFileName("a?b:c.txt"), "a_b_c.txt");
    EXPECT_EQ(MakeSafeFileName("con.txt"), "_con.txt");
    EXPECT_EQ(MakeSafeFileName("LPT3"), "_LPT3");
    EXPECT_EQ(MakeSafeFileName(""), "attachment");
    EXPECT_EQ(MakeSafeFileName(".."), "attachment");
    EXPECT_EQ(MakeSafeFileName("dir/sub\\file\x01.txt"), "dir_sub_file_.txt");
    EXPECT_EQ(MakeSafeFileName("Überblick.pdf"), "Überblick.pdf");
    // An overlong name keeps its extension and is cut at a character boundary.
    std::string longName;
    for (int i = 0; i < 200; ++i) longName += "é";
    const std::string safe = MakeSafeFileName(longName + ".docx");
    EXPECT_TRUE(IsUsableFileName(safe));
    EXPECT_TRUE(safe.ends_with("é.docx")) << safe;
    for (const std::string& any : std::vector<std::string>{"a?b", "con", std::string(300, 'x'), "\x7f\x80"})
        EXPECT_TRUE(IsUsableFileName(MakeSafeFileName(any))) << any;
}

TEST(AttachmentNames, TwoAttachmentsOfTheSameNameGetTwoFiles) {
    std::unordered_set<std::string> taken;
    EXPECT_EQ(UniqueFileName("a.txt", taken), "a.txt");
    EXPECT_EQ(UniqueFileName("a.txt", taken), "a (2).txt");
    EXPECT_EQ(UniqueFileName("a.txt", taken), "a (3).txt");
    EXPECT_EQ(UniqueFileName("README", taken), "README");
    EXPECT_EQ(UniqueFileName("README", taken), "README (2)");
    const std::string longest(255, 'q');
    EXPECT_EQ(UniqueFileName(longest, taken), longest);
    const std::string second = UniqueFileName(longest, taken);
    EXPECT_NE(second, longest);
    EXPECT_TRUE(IsUsableFileName(second));
}

}  // namespace
}  // namespace bm
