// Calendar time: SYSTEMTIME and FILETIME conversions, "now" from
// platform::Clock, local time from the clock's time-zone bias (no daylight
// saving), and the C runtime's 64-bit time_t.
//
// Program code cannot replace the C library's time(); it calls _time64 or
// platform::time_now(), which read the clock (virtual in tests).
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/core/types.h"

using __time64_t = int64_t;

namespace platform {

// FILETIME ticks (100 ns) at 1970-01-01 00:00:00 UTC.
constexpr uint64_t kFiletimeOfUnixEpoch = 116444736000000000ULL;
constexpr uint64_t kFiletimeTicksPerSecond = 10000000ULL;

// Seconds since 1970-01-01 00:00:00 UTC on the platform clock.
int64_t time_now();

// Days since 1970-01-01 of a proleptic Gregorian date, and back. Any month
// and day are accepted and normalised (month 13 is January of the next year,
// day 0 the last day of the month before).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day);
// 0 = Sunday.
int DayOfWeekFromDays(int64_t days);
int DaysInMonth(int64_t year, int month);

// Broken-down time of a 64-bit time_t (UTC, or local with the clock's bias).
struct CalendarTime {
  int64_t year = 1970;
  int month = 1;         // 1-12
  int day = 1;           // 1-31
  int hour = 0;          // 0-23
  int minute = 0;        // 0-59
  int second = 0;        // 0-59
  int day_of_week = 4;   // 0 = Sunday
  int day_of_year = 0;   // 0-365
};
CalendarTime SplitTime(int64_t seconds_since_1970, bool local);
// Local wall-clock fields to seconds since 1970 UTC (fields normalised).
int64_t JoinLocalTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second);

// Local time minus UTC, in seconds (the negative of the bias).
int64_t LocalOffsetSeconds();

}  // namespace platform

void GetSystemTime(LPSYSTEMTIME out);
void GetLocalTime(LPSYSTEMTIME out);
void GetSystemTimeAsFileTime(LPFILETIME out);
// Fails with ERROR_INVALID_PARAMETER for a FILETIME at or above 2^63, and
// SystemTimeToFileTime for any field out of range (the day of the week is
// ignored, as the platform does).
BOOL FileTimeToSystemTime(const FILETIME* in, LPSYSTEMTIME out);
BOOL SystemTimeToFileTime(const SYSTEMTIME* in, LPFILETIME out);
BOOL FileTimeToLocalFileTime(const FILETIME* in, LPFILETIME out);
BOOL LocalFileTimeToFileTime(const FILETIME* in, LPFILETIME out);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

__time64_t _time64(__time64_t* out);

// struct tm conversions of the C runtime, over the simulated zone. Times
// before 1970 or after 3000-12-31 23:59:59 are refused (EINVAL; the result
// fields are then all -1), as the C runtime refuses them.
errno_t _localtime64_s(std::tm* out, const __time64_t* time);
errno_t _gmtime64_s(std::tm* out, const __time64_t* time);
// Local (or UTC) fields to a time, normalising the fields in place and
// filling tm_wday and tm_yday; -1 when out of range.
__time64_t _mktime64(std::tm* fields);
__time64_t _mkgmtime64(std::tm* fields);
