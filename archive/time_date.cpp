#include "archive/time_date.h"

int32_t ALTimeDate::ToJulianDay() const {
    const int32_t y = year;
    const int32_t m = month;
    const int32_t c = (m - 14) / 12;  // -1 for January and February, else 0
    return day + (m - 2 - 12 * c) * 367 / 12 + (y + 4800 + c) * 1461 / 4 -
           ((y + 4900 + c) / 100) * 3 / 4 - 32075;
}

void ALTimeDate::FromJulianDay(int32_t julian_day) {
    int32_t l = julian_day + 68569;
    const int32_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    const int32_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const int32_t j = 80 * l / 2447;
    day = static_cast<uint16_t>(l - 2447 * j / 80);
    const int32_t k = j / 11;
    month = static_cast<uint16_t>(j + 2 - 12 * k);
    year = static_cast<uint16_t>(100 * (n - 49) + i + k);
}

uint32_t ALTimeDate::ToUnixSeconds() const {
    const int32_t julian_day = ToJulianDay();
    if (julian_day < kUnixEpochJulianDay) return 0;
    return static_cast<uint32_t>(julian_day - kUnixEpochJulianDay) * 86400u +
           hour * 3600u + minute * 60u + second;
}

void ALTimeDate::FromUnixSeconds(uint32_t seconds) {
    FromJulianDay(static_cast<int32_t>(seconds / 86400u) + kUnixEpochJulianDay);
    const uint32_t of_day = seconds % 86400u;
    hour = static_cast<uint16_t>(of_day / 3600u);
    minute = static_cast<uint16_t>(of_day % 3600u / 60u);
    second = static_cast<uint16_t>(seconds % 60u);
}

uint16_t ALTimeDate::PackDosDate() const {
    // A year before 1980 wraps; DOS dates cannot express it anyway.
    return static_cast<uint16_t>((static_cast<uint32_t>(year - 1980) << 9) | (month << 5u) | day);
}

uint16_t ALTimeDate::PackDosTime() const {
    return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

void ALTimeDate::FromDosDateTime(uint16_t dos_date, uint16_t dos_time) {
    second = static_cast<uint16_t>((dos_time & 31) * 2);
    minute = static_cast<uint16_t>((dos_time >> 5) & 63);
    hour = static_cast<uint16_t>(dos_time >> 11);
    day = static_cast<uint16_t>(dos_date & 31);
    month = static_cast<uint16_t>((dos_date >> 5) & 15);
    year = static_cast<uint16_t>(1980 + (dos_date >> 9));
}

void ALTimeDate::FromTm(const std::tm& time) {
    year = static_cast<uint16_t>(time.tm_year + 1900);
    month = static_cast<uint16_t>(time.tm_mon + 1);
    day = static_cast<uint16_t>(time.tm_mday);
    hour = static_cast<uint16_t>(time.tm_hour);
    minute = static_cast<uint16_t>(time.tm_min);
    second = static_cast<uint16_t>(time.tm_sec);
}
