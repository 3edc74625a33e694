// ALTimeDate: a local time stamp with the conversions between calendar
// dates, Julian day numbers, Unix seconds and the DOS date and time words of
// the ZIP format.
#pragma once

#include <cstdint>
#include <ctime>

class ALTimeDate {
public:
    // Julian day number of 1970-01-01, the start of Unix time.
    static constexpr int32_t kUnixEpochJulianDay = 2440588;

    ALTimeDate() = default;
    ALTimeDate(uint16_t year, uint16_t month, uint16_t day, uint16_t hour,
               uint16_t minute, uint16_t second)
        : year(year), month(month), day(day), hour(hour), minute(minute), second(second) {}

    // Year 0 means that no time/date is set.
    bool IsSet() const { return year != 0; }
    void Clear() { *this = ALTimeDate(); }

    // Fliegel-Van Flandern: the Julian day number of the date.
    int32_t ToJulianDay() const;
    // Sets the date (not the time of day) from a Julian day number.
    void FromJulianDay(int32_t julian_day);

    // Seconds since 1970-01-01 00:00:00 in 32-bit unsigned arithmetic;
    // 0 for any earlier date.
    uint32_t ToUnixSeconds() const;
    void FromUnixSeconds(uint32_t seconds);

    // ((year - 1980) << 9) | (month << 5) | day.
    uint16_t PackDosDate() const;
    // (hour << 11) | (minute << 5) | (second / 2).
    uint16_t PackDosTime() const;
    // The inverse of the two packings (seconds come out even).
    void FromDosDateTime(uint16_t dos_date, uint16_t dos_time);

    // From the C runtime's broken-down calendar time.
    void FromTm(const std::tm& time);

    uint16_t year = 0;
    uint16_t month = 0;   // 1-12
    uint16_t day = 0;     // 1-31
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
};
