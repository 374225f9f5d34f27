#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Timestamp text of a log line, "YYYY-MM-DD hh:mm:ss.mmm" in UTC, by plain
// arithmetic: no clock, calendar or locale routine is called, so real-time
// threads may use it. Times before 1970 are not supported.
inline std::string get_timestamp_from_timespec_no_context_switch(const timespec* ts)
{
    uint8_t days_of_month[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const uint64_t s = static_cast<uint64_t>(ts->tv_sec);
    const unsigned second = static_cast<unsigned>(s % 60);
    const unsigned minute = static_cast<unsigned>((s / 60) % 60);
    const unsigned hour = static_cast<unsigned>((s / 3600) % 24);

    uint64_t day = s / 86400;
    uint64_t year = 1970;
    auto is_leap = [](uint64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    for (;;) {
        const unsigned days_in_year = is_leap(year) ? 366 : 365;
        if (day < days_in_year)
            break;
        day -= days_in_year;
        ++year;
    }
    days_of_month[1] = is_leap(year) ? 29 : 28;
    unsigned month = 0;
    while (day >= days_of_month[month]) {
        day -= days_of_month[month];
        ++month;
    }
    const unsigned millis = static_cast<unsigned>(ts->tv_nsec / 1000000);

    auto two = [](unsigned v) { return (v <= 9 ? "0" : "") + std::to_string(v); };
    std::string text = std::to_string(year);
    text += "-" + two(month + 1) + "-" + two(static_cast<unsigned>(day) + 1);
    text += " " + two(hour) + ":" + two(minute) + ":" + two(second) + ".";
    text += (millis < 10 ? "00" : millis < 100 ? "0" : "") + std::to_string(millis);
    return text;
}
