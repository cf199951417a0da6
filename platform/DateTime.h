#pragma once
// Local date and time.
#include <cstdint>
#include <string>

struct TLocalDateTime {
    int Year, Month, Day, Hour, Minute, Second;
};

TLocalDateTime NowLocal();

// A moment as a document records it: calendar fields and their offset from UTC.
struct TDocumentTime {
    int Year = 1970, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
    int UtcOffsetMinutes = 0; // local time minus UTC (east positive)
    bool Utc = false;         // the fields are UTC (a reproducible time), not a local clock
    bool operator==(const TDocumentTime&) const = default;
};

// SOURCE_DATE_EPOCH, the reproducible-builds convention: a decimal count of seconds since
// 1970-01-01 00:00:00 UTC. Malformed covers anything else, and moments past the year 9999.
enum class TSourceDateEpoch { Unset, Valid, Malformed };
TSourceDateEpoch ReadSourceDateEpoch(std::int64_t& seconds);
// The UTC calendar fields of seconds since 1970 (0 to the end of 9999).
TDocumentTime UtcDocumentTime(std::int64_t seconds);
// The time a new document records: SOURCE_DATE_EPOCH in UTC when it is valid, so two runs give the
// same bytes; otherwise the local time now, with its UTC offset.
TDocumentTime DocumentTimeNow();
// Days since 1899-12-30 with the time of day as the fraction (the date format of stored records).
double NowAsDateTime();
// The current day at midnight, in the same format.
double TodayAsDateTime();
// Builds the date value for a calendar day and time.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
