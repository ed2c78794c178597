// The filter of a save or an export: the dates it reads, and which items
// it keeps by time (delivery, else submit, else creation), sender and class.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/item_filter.h"
#include "format/properties.h"

namespace bm {
namespace {

Bytes Le8(std::uint64_t v) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
}

std::uint64_t Day(const char* date) { return ParseFilterDate(date, false).value(); }

TEST(ItemFilter, DatesAreReadStrictlyAsUtcAndAnUntilDateKeepsItsDay) {
    struct Case {
        const char* text;
        bool dayAfter;
        std::optional<std::int64_t> unixSeconds;
    };
    const Case cases[] = {
        {"1970-01-01", false, 0},
        {"1970-01-01", true, 86400},
        {"2020-02-29", false, 1582934400},
        {"2021-03-04T05:06:07Z", false, 1614834367},
        {"2021-03-04T05:06", true, 1614834360},  // a time is taken as it is
        {"2021-03-04 05:06:07", false, 1614834367},
        {"2021-02-29", false, std::nullopt},
        {"2021-13-01", false, std::nullopt},
        {"2021-1-01", false, std::nullopt},
        {"2021-01-01T24:00", false, std::nullopt},
        {"2021-01-01T10:00:60", false, std::nullopt},
        {"2021-01-01x", false, std::nullopt},
        {"1600-12-31", false, std::nullopt},
        {"", false, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<std::uint64_t> got = ParseFilterDate(c.text, c.dayAfter);
        ASSERT_EQ(got.has_value(), c.unixSeconds.has_value()) << c.text;
        if (got) {
            EXPECT_EQ(UnixFromFileTime(*got), *c.unixSeconds) << c.text;
        }
    }
}

TEST(ItemFilter, KeepsByTheFirstTimeTheItemHasItsSenderAndItsClass) {
    const auto mail = [](const char* cls, const char* delivery, const char* submit, const char* created,
                         const char* sender, const char* headers) {
        ItemRecord r;
        r.messageClass = cls;
        r.messageFields = std::make_unique<MessageFields>();
        if (delivery) r.messageFields->deliveryTime = Le8(Day(delivery));
        if (submit) r.messageFields->submitTime = Le8(Day(submit));
        if (created) r.creationTime = Le8(Day(created));
        r.messageFields->sentRepresentingAddress = sender;
        r.messageFields->transportHeaders = headers;
        return r;
    };
    ItemFilter range;
    range.since = Day("2020-01-01");
    range.until = ParseFilterDate("2020-12-31", true);
    ItemFilter senders;
    senders.senders = {"EXAMPLE.com", "carol@"};
    ItemFilter classes;
    classes.classPrefixes = {"ipm.note"};
    struct Case {
        const char* what;
        const ItemFilter& filter;
        ItemRecord item;
        bool kept;
    };
    const Case cases[] = {
        {"delivered in the range", range, mail("IPM.Note", "2020-06-01", "2019-01-01", "2018-01-01", "", ""), true},
        // The delivery time decides, even when the others are in the range.
        {"delivered before", range, mail("IPM.Note", "2019-12-31", "2020-06-01", "2020-06-01", "", ""), false},
        {"the last day is in", range, mail("IPM.Note", "2020-12-31", nullptr, nullptr, "", ""), true},
        {"the next day is out", range, mail("IPM.Note", "2021-01-01", nullptr, nullptr, "", ""), false},
        {"submitted only", range, mail("IPM.Note", nullptr, "2021-06-01", "2020-06-01", "", ""), false},
        {"created only", range, mail("IPM.Contact", nullptr, nullptr, "2020-06-01", "", ""), true},
        {"created only, before", range, mail("IPM.Contact", nullptr, nullptr, "2017-06-01", "", ""), false},
        {"no time at all is kept", range, mail("IPM.Note", nullptr, nullptr, nullptr, "", ""), true},
        {"sender's domain, any case", senders, mail("IPM.Note", nullptr, nullptr, nullptr, "bob@example.com", ""), true},
        {"another sender", senders, mail("IPM.Note", nullptr, nullptr, nullptr, "bob@example.org", ""), false},
        {"the From line of the headers", senders,
         mail("IPM.Note", nullptr, nullptr, nullptr, "/o=ex/cn=carol", "Subject: x\r\nFrom: Carol <carol@x.org>\r\n"),
         true},
        {"an address below the headers is not the sender", senders,
         mail("IPM.Note", nullptr, nullptr, nullptr, "", "Subject: x\r\n\r\nFrom: carol@x.org\r\n"), false},
        {"class prefix, any case", classes, mail("IPM.Note.SMIME", nullptr, nullptr, nullptr, "", ""), true},
        {"another class", classes, mail("IPM.Appointment", nullptr, nullptr, nullptr, "", ""), false},
    };
    for (const Case& c : cases) EXPECT_EQ(FilterKeeps(c.filter, c.item), c.kept) << c.what;
    EXPECT_TRUE(FilterKeeps(ItemFilter{}, cases[1].item));
    EXPECT_EQ(DescribeFilter(range), "since 2020-01-01, before 2021-01-01");
    EXPECT_EQ(DescribeFilter(senders), "from EXAMPLE.com, from carol@");
}

}  // namespace
}  // namespace bm
