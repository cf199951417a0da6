#include "platform/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>

TLocalDateTime NowLocal() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

namespace {
constexpr char kSourceDateEpoch[] = "SOURCE_DATE_EPOCH";
constexpr std::int64_t kLastSecondOf9999 = 253402300799; // 9999-12-31 23:59:59 UTC
constexpr std::int64_t kSecondsPerDay = 86400;

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}
} // namespace

TSourceDateEpoch ReadSourceDateEpoch(std::int64_t& seconds) {
    const char* text = std::getenv(kSourceDateEpoch);
    if (!text) return TSourceDateEpoch::Unset;
    std::int64_t value = 0;
    if (!*text) return TSourceDateEpoch::Malformed;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return TSourceDateEpoch::Malformed;
        value = value * 10 + (*p - '0');
        if (value > kLastSecondOf9999) return TSourceDateEpoch::Malformed;
    }
    seconds = value;
    return TSourceDateEpoch::Valid;
}

TDocumentTime UtcDocumentTime(std::int64_t seconds) {
    TDocumentTime t;
    std::int64_t days = seconds / kSecondsPerDay, rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    CivilFromDays(days, t.Year, t.Month, t.Day);
    t.Hour = static_cast<int>(rest / 3600);
    t.Minute = static_cast<int>(rest / 60 % 60);
    t.Second = static_cast<int>(rest % 60);
    t.Utc = true;
    return t;
}

TDocumentTime DocumentTimeNow() {
    std::int64_t epoch = 0;
    if (ReadSourceDateEpoch(epoch) == TSourceDateEpoch::Valid) return UtcDocumentTime(epoch);
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    TDocumentTime t;
    t.Year = tm.tm_year + 1900;
    t.Month = tm.tm_mon + 1;
    t.Day = tm.tm_mday;
    t.Hour = tm.tm_hour;
    t.Minute = tm.tm_min;
    t.Second = tm.tm_sec;
    t.UtcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
    return t;
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
