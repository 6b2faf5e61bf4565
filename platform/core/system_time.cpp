#include "platform/core/system_time.h"

#include <cerrno>

#include "platform/core/clock.h"
#include "platform/core/error.h"

namespace platform {
namespace {

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

bool is_leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The largest FILETIME the platform converts (2^63 - 1 ticks, in 30828).
constexpr uint64_t kMaxFiletime = 0x7FFFFFFFFFFFFFFFULL;

uint64_t join(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

FILETIME split(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

// FILETIME ticks to SYSTEMTIME fields; ticks must be below 2^63.
SYSTEMTIME to_system_time(uint64_t ticks) {
  // Work from 1601 so every value is non-negative.
  uint64_t total_ms = ticks / 10000;
  uint64_t ms_of_day = total_ms % 86400000ULL;
  int64_t days_since_1601 = static_cast<int64_t>(total_ms / 86400000ULL);
  int64_t days = days_since_1601 + DaysFromCivil(1601, 1, 1);  // now counted from 1970
  int64_t year;
  int month, day;
  CivilFromDays(days, &year, &month, &day);
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wDayOfWeek = static_cast<WORD>(DayOfWeekFromDays(days));
  st.wHour = static_cast<WORD>(ms_of_day / 3600000);
  st.wMinute = static_cast<WORD>(ms_of_day / 60000 % 60);
  st.wSecond = static_cast<WORD>(ms_of_day / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(ms_of_day % 1000);
  return st;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  // Normalise the month into 1..12 first.
  year += floor_div(month - 1, 12);
  month = floor_mod(month - 1, 12) + 1;
  // Count from March so that the leap day ends the year.
  int64_t y = month <= 2 ? year - 1 : year;
  int64_t era = floor_div(y, 400);
  int64_t year_of_era = y - era * 400;                                   // 0..399
  int64_t month_from_march = month > 2 ? month - 3 : month + 9;          // 0..11
  int64_t day_of_year = (153 * month_from_march + 2) / 5;                // first day of the month, 0..334
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468 + (day - 1);
}

void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
  int64_t z = days + 719468;
  int64_t era = floor_div(z, 146097);
  int64_t day_of_era = z - era * 146097;                                                    // 0..146096
  int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;  // 0..399
  int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);  // 0..365
  int64_t mp = (5 * day_of_year + 2) / 153;                                                 // 0..11
  int d = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = year_of_era + era * 400 + (m <= 2 ? 1 : 0);
  *month = m;
  *day = d;
}

int DayOfWeekFromDays(int64_t days) { return static_cast<int>(floor_mod(days + 4, 7)); }  // 1970-01-01 was a Thursday

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

int64_t LocalOffsetSeconds() { return -static_cast<int64_t>(Clock::instance().time_zone_bias_minutes()) * 60; }

int64_t time_now() {
  uint64_t ft = Clock::instance().now_filetime();
  if (ft >= kFiletimeOfUnixEpoch) return static_cast<int64_t>((ft - kFiletimeOfUnixEpoch) / kFiletimeTicksPerSecond);
  return -static_cast<int64_t>((kFiletimeOfUnixEpoch - ft + kFiletimeTicksPerSecond - 1) / kFiletimeTicksPerSecond);
}

CalendarTime SplitTime(int64_t seconds, bool local) {
  if (local) seconds += LocalOffsetSeconds();
  int64_t days = floor_div(seconds, 86400);
  int64_t rest = seconds - days * 86400;
  CalendarTime t;
  CivilFromDays(days, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  t.day_of_week = DayOfWeekFromDays(days);
  t.day_of_year = static_cast<int>(days - DaysFromCivil(t.year, 1, 1));
  return t;
}

int64_t JoinLocalTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
  int64_t days = DaysFromCivil(year, month, day);
  return days * 86400 + hour * 3600 + minute * 60 + second - LocalOffsetSeconds();
}

}  // namespace platform

void GetSystemTimeAsFileTime(LPFILETIME out) {
  if (!out) return;
  *out = platform::split(platform::Clock::instance().now_filetime());
}

void GetSystemTime(LPSYSTEMTIME out) {
  if (!out) return;
  *out = platform::to_system_time(platform::Clock::instance().now_filetime() & platform::kMaxFiletime);
}

void GetLocalTime(LPSYSTEMTIME out) {
  if (!out) return;
  FILETIME utc, local;
  GetSystemTimeAsFileTime(&utc);
  if (!FileTimeToLocalFileTime(&utc, &local)) local = utc;
  *out = platform::to_system_time(platform::join(local) & platform::kMaxFiletime);
}

BOOL FileTimeToSystemTime(const FILETIME* in, LPSYSTEMTIME out) {
  if (!in || !out) return platform::fail(ERROR_INVALID_PARAMETER);
  uint64_t ticks = platform::join(*in);
  if (ticks > platform::kMaxFiletime) return platform::fail(ERROR_INVALID_PARAMETER);
  *out = platform::to_system_time(ticks);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* in, LPFILETIME out) {
  if (!in || !out) return platform::fail(ERROR_INVALID_PARAMETER);
  const SYSTEMTIME& st = *in;
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > platform::DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
      st.wMilliseconds > 999)
    return platform::fail(ERROR_INVALID_PARAMETER);
  int64_t days = platform::DaysFromCivil(st.wYear, st.wMonth, st.wDay) - platform::DaysFromCivil(1601, 1, 1);
  uint64_t ms = static_cast<uint64_t>(days) * 86400000ULL + st.wHour * 3600000ULL + st.wMinute * 60000ULL +
                st.wSecond * 1000ULL + st.wMilliseconds;
  *out = platform::split(ms * 10000ULL);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* in, LPFILETIME out) {
  if (!in || !out) return platform::fail(ERROR_INVALID_PARAMETER);
  int64_t offset = platform::LocalOffsetSeconds() * static_cast<int64_t>(platform::kFiletimeTicksPerSecond);
  uint64_t ticks = platform::join(*in);
  if (ticks > platform::kMaxFiletime) return platform::fail(ERROR_INVALID_PARAMETER);
  int64_t local = static_cast<int64_t>(ticks) + offset;
  if (local < 0 || static_cast<uint64_t>(local) > platform::kMaxFiletime) return platform::fail(ERROR_INVALID_PARAMETER);
  *out = platform::split(static_cast<uint64_t>(local));
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* in, LPFILETIME out) {
  if (!in || !out) return platform::fail(ERROR_INVALID_PARAMETER);
  int64_t offset = platform::LocalOffsetSeconds() * static_cast<int64_t>(platform::kFiletimeTicksPerSecond);
  uint64_t ticks = platform::join(*in);
  if (ticks > platform::kMaxFiletime) return platform::fail(ERROR_INVALID_PARAMETER);
  int64_t utc = static_cast<int64_t>(ticks) - offset;
  if (utc < 0 || static_cast<uint64_t>(utc) > platform::kMaxFiletime) return platform::fail(ERROR_INVALID_PARAMETER);
  *out = platform::split(static_cast<uint64_t>(utc));
  return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  uint64_t x = a ? platform::join(*a) : 0;
  uint64_t y = b ? platform::join(*b) : 0;
  return x < y ? -1 : x > y ? 1 : 0;
}

__time64_t _time64(__time64_t* out) {
  __time64_t now = platform::time_now();
  if (out) *out = now;
  return now;
}

namespace {

constexpr __time64_t kLastTime = 32535215999LL;  // 3000-12-31 23:59:59

void fill_tm(std::tm* out, const platform::CalendarTime& c) {
  *out = std::tm{};
  out->tm_year = static_cast<int>(c.year - 1900);
  out->tm_mon = c.month - 1;
  out->tm_mday = c.day;
  out->tm_hour = c.hour;
  out->tm_min = c.minute;
  out->tm_sec = c.second;
  out->tm_wday = c.day_of_week;
  out->tm_yday = c.day_of_year;
  out->tm_isdst = 0;
}

void invalidate_tm(std::tm* out) {
  out->tm_year = out->tm_mon = out->tm_mday = out->tm_hour = out->tm_min = out->tm_sec = -1;
  out->tm_wday = out->tm_yday = out->tm_isdst = -1;
}

errno_t split_checked(std::tm* out, const __time64_t* time, bool local) {
  if (!out) return EINVAL;
  if (!time || *time < 0 || *time > kLastTime) {
    invalidate_tm(out);
    return EINVAL;
  }
  fill_tm(out, platform::SplitTime(*time, local));
  return 0;
}

__time64_t join_checked(std::tm* fields, bool local) {
  if (!fields) return -1;
  int64_t t = platform::JoinLocalTime(fields->tm_year + int64_t{1900}, fields->tm_mon + int64_t{1}, fields->tm_mday,
                                      fields->tm_hour, fields->tm_min, fields->tm_sec);
  if (!local) t += platform::LocalOffsetSeconds();
  if (t < 0 || t > kLastTime) return -1;
  fill_tm(fields, platform::SplitTime(t, local));
  return t;
}

}  // namespace

errno_t _localtime64_s(std::tm* out, const __time64_t* time) { return split_checked(out, time, true); }
errno_t _gmtime64_s(std::tm* out, const __time64_t* time) { return split_checked(out, time, false); }
__time64_t _mktime64(std::tm* fields) { return join_checked(fields, true); }
__time64_t _mkgmtime64(std::tm* fields) { return join_checked(fields, false); }
