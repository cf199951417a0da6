#include "platform/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

TLocalDateTime NowLocal() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
    // Days from civil (proleptic Gregorian), then shifted to the 1899-12-30 epoch.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days1970 = long(era) * 146097 + doe - 719468;
    const long days = days1970 + 25569;
    return double(days) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

double NowAsDateTime() {
    const TLocalDateTime n = NowLocal();
    return EncodeDateTime(n.Year, n.Month, n.Day, n.Hour, n.Minute, n.Second);
}

double TodayAsDateTime() {
    const TLocalDateTime n = NowLocal();
    return EncodeDateTime(n.Year, n.Month, n.Day, 0, 0, 0);
}
