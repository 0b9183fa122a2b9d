#pragma once
#include <ctime>

// Local-time fields of a calendar time. When the conversion fails the year, month and
// day are 0 and hour, minute and second are -1.
struct LocalTimeFields {
    int year = 0;     // full year (tm_year + 1900)
    int month = 0;    // 1..12
    int day = 0;      // 1..31
    int hour = -1;    // 0..23
    int minute = -1;  // 0..59
    int second = -1;  // 0..59
};

LocalTimeFields LocalTimeOf(std::time_t when);
LocalTimeFields LocalTimeNow();
