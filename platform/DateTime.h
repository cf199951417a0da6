#pragma once
// Local date and time.
#include <string>

struct TLocalDateTime {
    int Year, Month, Day, Hour, Minute, Second;
};

TLocalDateTime NowLocal();
// Days since 1899-12-30 with the time of day as the fraction (the date format of stored records).
double NowAsDateTime();
// The current day at midnight, in the same format.
double TodayAsDateTime();
// Builds the date value for a calendar day and time.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
