// A local calendar time as the tests write it: the year in full, the month
// from 1; the rest of the fields zero (standard time, no day of the week).
#pragma once

#include <ctime>

namespace bmtest {

inline std::tm CalendarTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

}  // namespace bmtest
