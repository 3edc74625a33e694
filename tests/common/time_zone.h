// Time-zone helpers of the tests that check time stamps. They compute the
// offset of local time from UTC with the C runtime alone, independently of
// the library's calendar and time-zone code, and they pick dates so that an
// expectation holds on every day of the year, in every zone.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "platform/file_io.h"

// Seconds since 1970 of a calendar time read as if it were UTC
// (days-from-civil), independent of the library's Julian day code.
inline int64_t NaiveSeconds(int year, int month, int day, int hour, int minute, int second) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

// The Windows C runtime interprets a TZ variable itself (with fixed US
// daylight rules) instead of the system's zone, which is what extracted
// files are stamped with; without it both agree.
inline void FollowSystemTimeZone() {
#ifdef _WIN32
    _putenv("TZ=");
    _tzset();
#endif
}

// Seconds that local time is ahead of UTC at the instant `at`.
inline int64_t LocalOffsetAt(std::time_t at) {
    FollowSystemTimeZone();
    const std::tm local = *std::localtime(&at);
    return NaiveSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec) -
           static_cast<int64_t>(at);
}

// Seconds that local time is ahead of UTC right now.
inline int64_t CurrentLocalOffset() { return LocalOffsetAt(std::time(nullptr)); }

struct CalendarDay {
    int year;
    int month;
    int day;
};

// The 15th of January or of July of this year, whichever has a zone offset
// other than the one in force now: in a zone with daylight time that is a
// day of the other season, wherever the zone and whatever today's date.
// A zone with one offset all year gets January.
inline CalendarDay DayInTheOtherSeason() {
    const std::time_t now = std::time(nullptr);
    const int64_t offset_now = LocalOffsetAt(now);
    FollowSystemTimeZone();
    const int year = std::localtime(&now)->tm_year + 1900;
    for (int month : {1, 7}) {
        // Noon on the 15th is far from any change of offset, so today's
        // offset is close enough to find its instant.
        const int64_t noon = NaiveSeconds(year, month, 15, 12, 0, 0) - offset_now;
        if (LocalOffsetAt(static_cast<std::time_t>(noon)) != offset_now) return {year, month, 15};
    }
    return {year, 1, 15};
}

// Last-write time of path as seconds since 1970 (UTC), read back through the
// C runtime's local time; -1 when the file cannot be queried.
inline int64_t FileLastWriteUtc(const wchar_t* path) {
    int64_t size = 0;
    std::tm local = {};
    int error = 0;
    if (!FileStatByName(path, &size, &local, &error)) return -1;
    FollowSystemTimeZone();
    return static_cast<int64_t>(std::mktime(&local));
}
