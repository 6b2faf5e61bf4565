#include "platform/fs/fat/fat_time.h"

namespace platform::fs::fat {

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134'774;

// Days since 1970-01-01 for a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

unsigned days_in_month(int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

DosTime ToDosTime(uint64_t filetime, int32_t local_offset_minutes) {
  // Local ticks since 1970, in 10 ms units.
  int64_t centis = static_cast<int64_t>(filetime / 100'000) - kDays1601To1970 * kSecondsPerDay * 100 +
                   int64_t(local_offset_minutes) * 60 * 100;
  const int64_t min_centis = days_from_civil(1980, 1, 1) * kSecondsPerDay * 100;
  const int64_t max_centis = (days_from_civil(2107, 12, 31) * kSecondsPerDay + 86'399) * 100 + 99;
  if (centis < min_centis) centis = min_centis;
  if (centis > max_centis) centis = max_centis;
  int64_t days = centis / (kSecondsPerDay * 100);
  int64_t in_day = centis % (kSecondsPerDay * 100);
  int64_t y;
  unsigned m, d;
  civil_from_days(days, &y, &m, &d);
  unsigned secs = unsigned(in_day / 100);
  DosTime t;
  t.date = uint16_t(((y - 1980) << 9) | (m << 5) | d);
  t.time = uint16_t(((secs / 3600) << 11) | (((secs / 60) % 60) << 5) | ((secs % 60) / 2));
  t.hundredths = uint8_t((secs % 2) * 100 + in_day % 100);
  return t;
}

uint64_t FromDosTime(const DosTime& t, int32_t local_offset_minutes) {
  if (t.date == 0) return 0;
  int64_t y = 1980 + (t.date >> 9);
  unsigned m = (t.date >> 5) & 0xF, d = t.date & 0x1F;
  if (m < 1 || m > 12 || d < 1 || d > days_in_month(y, m)) return 0;
  unsigned hh = t.time >> 11, mm = (t.time >> 5) & 0x3F, ss = (t.time & 0x1F) * 2;
  if (hh > 23 || mm > 59 || ss > 59) return 0;
  unsigned hundredths = t.hundredths <= 199 ? t.hundredths : 0;
  int64_t seconds = days_from_civil(y, m, d) * kSecondsPerDay + hh * 3600 + mm * 60 + ss -
                    int64_t(local_offset_minutes) * 60;
  int64_t ticks = (seconds + kDays1601To1970 * kSecondsPerDay) * kTicksPerSecond + int64_t(hundredths) * 100'000;
  return ticks < 0 ? 0 : uint64_t(ticks);
}

}  // namespace platform::fs::fat
