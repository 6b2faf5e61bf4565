#include "platform/core/ctime.h"

#include <algorithm>
#include <cstdlib>

#include "platform/core/format.h"

namespace {

const char16_t* const kDayShort[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const char16_t* const kDayLong[] = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};
const char16_t* const kMonthShort[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                       u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const char16_t* const kMonthLong[] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                      u"July",    u"August",   u"September", u"October", u"November", u"December"};

// A number with at least `digits` digits, or none of its leading zeros with
// the '#' flag.
std::u16string number(int64_t value, int digits, bool no_zeros) {
  if (no_zeros) return platform::FormatWide(u"%I64d", value);
  return platform::FormatWide(u"%0*I64d", digits, value);
}

// Week of the year, weeks starting on first_day (0 = Sunday, 1 = Monday);
// days before the first such day are in week 0.
int week_of_year(const platform::CalendarTime& t, int first_day) {
  int weekday = (t.day_of_week - first_day + 7) % 7;
  return (t.day_of_year + 7 - weekday) / 7;
}

CStringW format_time(const char16_t* format, const platform::CalendarTime& t, int64_t utc_offset_seconds) {
  CStringW out;
  if (!format) return out;
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%') {
      out += *p;
      continue;
    }
    const char16_t* start = p;
    bool alt = false;
    if (p[1] == u'#') {
      alt = true;
      ++p;
    }
    char16_t code = p[1];
    if (code == 0) {
      out += start;  // a trailing '%' (or "%#") stays as it is
      break;
    }
    ++p;
    int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    switch (code) {
      case u'a': out += kDayShort[t.day_of_week]; break;
      case u'A': out += kDayLong[t.day_of_week]; break;
      case u'b': out += kMonthShort[t.month - 1]; break;
      case u'B': out += kMonthLong[t.month - 1]; break;
      case u'c':
        if (alt) {
          out += format_time(u"%A, %B %#d, %Y, %H:%M:%S", t, utc_offset_seconds);
        } else {
          out += format_time(u"%m/%d/%y %H:%M:%S", t, utc_offset_seconds);
        }
        break;
      case u'd': out += number(t.day, 2, alt).c_str(); break;
      case u'H': out += number(t.hour, 2, alt).c_str(); break;
      case u'I': out += number(hour12, 2, alt).c_str(); break;
      case u'j': out += number(t.day_of_year + 1, 3, alt).c_str(); break;
      case u'm': out += number(t.month, 2, alt).c_str(); break;
      case u'M': out += number(t.minute, 2, alt).c_str(); break;
      case u'p': out += t.hour < 12 ? u"AM" : u"PM"; break;
      case u'S': out += number(t.second, 2, alt).c_str(); break;
      case u'U': out += number(week_of_year(t, 0), 2, alt).c_str(); break;
      case u'w': out += number(t.day_of_week, 1, alt).c_str(); break;
      case u'W': out += number(week_of_year(t, 1), 2, alt).c_str(); break;
      case u'x':
        if (alt)
          out += format_time(u"%A, %B %#d, %Y", t, utc_offset_seconds);
        else
          out += format_time(u"%m/%d/%y", t, utc_offset_seconds);
        break;
      case u'X': out += format_time(u"%H:%M:%S", t, utc_offset_seconds); break;
      case u'y': out += number(t.year % 100, 2, alt).c_str(); break;
      case u'Y': out += number(t.year, 4, alt).c_str(); break;
      case u'z':
      case u'Z': {
        int64_t minutes = utc_offset_seconds / 60;
        out.AppendFormat(u"%c%02d%02d", minutes < 0 ? u'-' : u'+', static_cast<int>(std::llabs(minutes) / 60),
                         static_cast<int>(std::llabs(minutes) % 60));
        break;
      }
      case u'%': out += u'%'; break;
      default: out.Append(start, static_cast<int>(p - start + 1)); break;
    }
  }
  return out;
}

}  // namespace

CStringW CTimeSpan::Format(const char16_t* format) const {
  CStringW out;
  if (!format) return out;
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%' || p[1] == 0) {
      out += *p;
      continue;
    }
    ++p;
    switch (*p) {
      case u'D': out.AppendFormat(u"%I64d", GetDays()); break;
      case u'H': out.AppendFormat(u"%02ld", GetHours()); break;
      case u'M': out.AppendFormat(u"%02ld", GetMinutes()); break;
      case u'S': out.AppendFormat(u"%02ld", GetSeconds()); break;
      case u'%': out += u'%'; break;
      default:
        out += u'%';
        out += *p;
        break;
    }
  }
  return out;
}

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int)
    : time_(platform::JoinLocalTime(year, month, day, hour, minute, second)) {}

CTime::CTime(const SYSTEMTIME& st, int)
    : time_(platform::JoinLocalTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond)) {}

CTime::CTime(const FILETIME& ft, int) {
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  time_ = static_cast<int64_t>(ticks / platform::kFiletimeTicksPerSecond) -
          static_cast<int64_t>(platform::kFiletimeOfUnixEpoch / platform::kFiletimeTicksPerSecond);
}

CTime CTime::GetCurrentTime() { return CTime(platform::time_now()); }

bool CTime::GetAsSystemTime(SYSTEMTIME& out) const {
  platform::CalendarTime t = local();
  if (t.year < 1601 || t.year > 30827) return false;
  out.wYear = static_cast<WORD>(t.year);
  out.wMonth = static_cast<WORD>(t.month);
  out.wDayOfWeek = static_cast<WORD>(t.day_of_week);
  out.wDay = static_cast<WORD>(t.day);
  out.wHour = static_cast<WORD>(t.hour);
  out.wMinute = static_cast<WORD>(t.minute);
  out.wSecond = static_cast<WORD>(t.second);
  out.wMilliseconds = 0;
  return true;
}

CStringW CTime::Format(const char16_t* format) const {
  return format_time(format, local(), platform::LocalOffsetSeconds());
}

CStringW CTime::FormatGmt(const char16_t* format) const {
  return format_time(format, platform::SplitTime(time_, false), 0);
}

size_t wcsftime(char16_t* buffer, size_t max, const char16_t* format, const std::tm* fields) {
  if (!buffer || max == 0) return 0;
  buffer[0] = 0;
  if (!format || !fields) return 0;
  platform::CalendarTime t;
  t.year = fields->tm_year + int64_t{1900};
  t.month = fields->tm_mon + 1;
  t.day = fields->tm_mday;
  t.hour = fields->tm_hour;
  t.minute = fields->tm_min;
  t.second = fields->tm_sec;
  t.day_of_week = fields->tm_wday;
  t.day_of_year = fields->tm_yday;
  if (t.month < 1 || t.month > 12 || t.day_of_week < 0 || t.day_of_week > 6 || t.day_of_year < 0 ||
      t.day_of_year > 365)
    return 0;  // the name tables would be indexed out of range
  CStringW text = format_time(format, t, platform::LocalOffsetSeconds());
  if (static_cast<size_t>(text.GetLength()) >= max) return 0;
  std::copy(text.GetString(), text.GetString() + text.GetLength() + 1, buffer);
  return static_cast<size_t>(text.GetLength());
}
