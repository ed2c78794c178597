// The item time texts.
#include <gtest/gtest.h>

#include "output/item_time.h"
#include "support/calendar_time.h"

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
    std::tm fields = bmtest::CalendarTime(2026, 12, 7, 10, 25, 9);  // standard time: tm_isdst 0
    EXPECT_EQ(calendar, std::mktime(&fields));
}

}  // namespace
}  // namespace bm
