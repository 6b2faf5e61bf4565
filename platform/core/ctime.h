// The framework's CTime (seconds since 1970 UTC, shown in local time) and
// CTimeSpan (a signed count of seconds).
//
// CTimeSpan parts use C division, as the framework's class does: GetHours is
// the hour within the span's day, so "%H:%M:%S" of 25 hours reads 01:00:00,
// and a negative span has negative parts.
//
// CTime::Format understands the C library's strftime codes in the "C" locale
// (%a %A %b %B %c %d %H %I %j %m %M %p %S %U %w %W %x %X %y %Y %z %Z %%), with
// the platform's '#' flag (no leading zeros; long forms of %c and %x). An
// unknown code is copied as it stands.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/core/system_time.h"
#include "platform/core/types.h"

class CTimeSpan {
 public:
  CTimeSpan() = default;
  CTimeSpan(int64_t seconds) : seconds_(seconds) {}
  CTimeSpan(LONG days, int hours, int minutes, int seconds)
      : seconds_(static_cast<int64_t>(days) * 86400 + static_cast<int64_t>(hours) * 3600 +
                 static_cast<int64_t>(minutes) * 60 + seconds) {}

  LONGLONG GetDays() const { return seconds_ / 86400; }
  LONGLONG GetTotalHours() const { return seconds_ / 3600; }
  LONG GetHours() const { return static_cast<LONG>(GetTotalHours() % 24); }
  LONGLONG GetTotalMinutes() const { return seconds_ / 60; }
  LONG GetMinutes() const { return static_cast<LONG>(GetTotalMinutes() % 60); }
  LONGLONG GetTotalSeconds() const { return seconds_; }
  LONG GetSeconds() const { return static_cast<LONG>(seconds_ % 60); }
  int64_t GetTimeSpan() const { return seconds_; }

  // %D total days, %H hours within the day, %M minutes, %S seconds (two
  // digits each, a minus sign when negative), %% a percent sign.
  CStringW Format(const char16_t* format) const;

  CTimeSpan operator+(CTimeSpan other) const { return CTimeSpan(seconds_ + other.seconds_); }
  CTimeSpan operator-(CTimeSpan other) const { return CTimeSpan(seconds_ - other.seconds_); }
  CTimeSpan& operator+=(CTimeSpan other) {
    seconds_ += other.seconds_;
    return *this;
  }
  CTimeSpan& operator-=(CTimeSpan other) {
    seconds_ -= other.seconds_;
    return *this;
  }
  auto operator<=>(const CTimeSpan&) const = default;

 private:
  int64_t seconds_ = 0;
};

class CTime {
 public:
  CTime() = default;
  CTime(__time64_t time) : time_(time) {}
  // Local wall-clock fields; out-of-range fields are normalised (day 32 of
  // January is February 1st). The daylight-saving argument is accepted and
  // ignored: the simulated zone has none.
  CTime(int year, int month, int day, int hour, int minute, int second, int dst = -1);
  CTime(const SYSTEMTIME& local_time, int dst = -1);
  // A UTC FILETIME.
  CTime(const FILETIME& utc_time, int dst = -1);

  static CTime GetCurrentTime();

  __time64_t GetTime() const { return time_; }
  int GetYear() const { return static_cast<int>(local().year); }
  int GetMonth() const { return local().month; }
  int GetDay() const { return local().day; }
  int GetHour() const { return local().hour; }
  int GetMinute() const { return local().minute; }
  int GetSecond() const { return local().second; }
  int GetDayOfWeek() const { return local().day_of_week + 1; }  // 1 = Sunday
  bool GetAsSystemTime(SYSTEMTIME& out) const;

  CStringW Format(const char16_t* format) const;
  CStringW FormatGmt(const char16_t* format) const;

  CTimeSpan operator-(CTime other) const { return CTimeSpan(time_ - other.time_); }
  CTime operator+(CTimeSpan span) const { return CTime(time_ + span.GetTimeSpan()); }
  CTime operator-(CTimeSpan span) const { return CTime(time_ - span.GetTimeSpan()); }
  CTime& operator+=(CTimeSpan span) {
    time_ += span.GetTimeSpan();
    return *this;
  }
  CTime& operator-=(CTimeSpan span) {
    time_ -= span.GetTimeSpan();
    return *this;
  }
  auto operator<=>(const CTime&) const = default;

 private:
  platform::CalendarTime local() const { return platform::SplitTime(time_, true); }
  __time64_t time_ = 0;
};

// strftime for UTF-16 with CTime's codes, over fields taken as local time.
// Returns the characters written without the terminator, or 0 (and an empty
// buffer) when the text does not fit in max characters.
size_t wcsftime(char16_t* buffer, size_t max, const char16_t* format, const std::tm* fields);
