#include "platform/core/system_time.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/ctime.h"
#include "platform/core/error.h"
#include "platform/core/text.h"

namespace {

using platform::Clock;

FILETIME ft(uint64_t v) { return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }
uint64_t value(const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; }
std::string u8(const CStringW& s) { return platform::to_utf8(s.GetString()); }

class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::instance().reset(); }
  void TearDown() override { Clock::instance().reset(); }
};

TEST_F(TimeTest, FileTimeAndSystemTimeAgreeOnKnownDates) {
  struct Case {
    uint64_t ticks;
    SYSTEMTIME st;  // year, month, day of week, day, hour, minute, second, ms
  } cases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {94405824000000000ULL, {1900, 3, 4, 1, 0, 0, 0, 0}},
      {platform::kFiletimeOfUnixEpoch, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {125963012967890000ULL, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {133801631999990000ULL, {2024, 12, 2, 31, 23, 59, 59, 999}},
      {Clock::kDefaultWallClock, {2025, 1, 3, 1, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    FILETIME in = ft(c.ticks);
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&in, &st)) << c.ticks;
    EXPECT_EQ(st.wYear, c.st.wYear) << c.ticks;
    EXPECT_EQ(st.wMonth, c.st.wMonth) << c.ticks;
    EXPECT_EQ(st.wDayOfWeek, c.st.wDayOfWeek) << c.ticks;
    EXPECT_EQ(st.wDay, c.st.wDay) << c.ticks;
    EXPECT_EQ(st.wHour, c.st.wHour) << c.ticks;
    EXPECT_EQ(st.wMinute, c.st.wMinute) << c.ticks;
    EXPECT_EQ(st.wSecond, c.st.wSecond) << c.ticks;
    EXPECT_EQ(st.wMilliseconds, c.st.wMilliseconds) << c.ticks;
    FILETIME back{};
    SYSTEMTIME with_wrong_weekday = c.st;
    with_wrong_weekday.wDayOfWeek = 6;  // ignored on the way in
    ASSERT_TRUE(SystemTimeToFileTime(&with_wrong_weekday, &back)) << c.ticks;
    EXPECT_EQ(value(back), c.ticks);
  }
  // The largest convertible value, and the first one that is not.
  FILETIME max = ft(0x7FFFFFFFFFFFFFFFULL);
  SYSTEMTIME st{};
  ASSERT_TRUE(FileTimeToSystemTime(&max, &st));
  EXPECT_EQ(st.wYear, 30828);
  EXPECT_EQ(st.wMonth, 9);
  EXPECT_EQ(st.wDay, 14);
  EXPECT_EQ(st.wHour, 2);
  EXPECT_EQ(st.wMinute, 48);
  EXPECT_EQ(st.wSecond, 5);
  EXPECT_EQ(st.wMilliseconds, 477);
  FILETIME too_big = ft(0x8000000000000000ULL);
  SetLastError(0);
  EXPECT_FALSE(FileTimeToSystemTime(&too_big, &st));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(TimeTest, SystemTimeFieldsOutOfRangeAreRefused) {
  SYSTEMTIME good = {2023, 6, 0, 15, 10, 20, 30, 400};
  struct Case {
    const char* what;
    SYSTEMTIME st;
  } cases[] = {
      {"year before 1601", {1600, 12, 0, 31, 0, 0, 0, 0}},
      {"year after 30827", {30828, 1, 0, 1, 0, 0, 0, 0}},
      {"month 0", {2023, 0, 0, 1, 0, 0, 0, 0}},
      {"month 13", {2023, 13, 0, 1, 0, 0, 0, 0}},
      {"day 0", {2023, 6, 0, 0, 0, 0, 0, 0}},
      {"June 31", {2023, 6, 0, 31, 0, 0, 0, 0}},
      {"February 29 of a common year", {2023, 2, 0, 29, 0, 0, 0, 0}},
      {"February 29 of 1900", {1900, 2, 0, 29, 0, 0, 0, 0}},
      {"hour 24", {2023, 6, 0, 1, 24, 0, 0, 0}},
      {"minute 60", {2023, 6, 0, 1, 0, 60, 0, 0}},
      {"second 60", {2023, 6, 0, 1, 0, 0, 60, 0}},
      {"millisecond 1000", {2023, 6, 0, 1, 0, 0, 0, 1000}},
  };
  FILETIME out = ft(12345);
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&c.st, &out)) << c.what;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
  }
  EXPECT_EQ(value(out), 12345u);  // untouched
  SYSTEMTIME leap = {2000, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_TRUE(SystemTimeToFileTime(&leap, &out));
  EXPECT_TRUE(SystemTimeToFileTime(&good, &out));
  EXPECT_FALSE(SystemTimeToFileTime(nullptr, &out));
  EXPECT_FALSE(FileTimeToSystemTime(&out, nullptr));
}

// GNU date is an independent calendar: random instants over four centuries
// must split into the same fields.
TEST_F(TimeTest, CalendarAgreesWithGnuDate) {
  std::mt19937_64 random(20240229);
  std::vector<int64_t> instants = {0, -1, 951782400, 4102444800, -11644473600, 253402300799};
  std::uniform_int_distribution<int64_t> pick(-11644473600, 253402300799);  // 1601 to 9999
  for (int i = 0; i < 300; ++i) instants.push_back(pick(random));
  std::string dir = testing::TempDir();
  std::string stem = dir + "/dates_" + std::to_string(getpid());
  std::string in_path = stem + "_in.txt", out_path = stem + "_out.txt";
  {
    std::ofstream in(in_path);
    for (int64_t t : instants) in << "@" << t << "\n";
  }
  std::string cmd = "date -u -f " + in_path + " '+%Y %m %d %H %M %S %w %j' > " + out_path;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream out(out_path);
  for (int64_t t : instants) {
    long long y;
    int mo, d, h, mi, s, w, j;
    ASSERT_TRUE(out >> y >> mo >> d >> h >> mi >> s >> w >> j);
    platform::CalendarTime c = platform::SplitTime(t, false);
    EXPECT_EQ(c.year, y) << t;
    EXPECT_EQ(c.month, mo) << t;
    EXPECT_EQ(c.day, d) << t;
    EXPECT_EQ(c.hour, h) << t;
    EXPECT_EQ(c.minute, mi) << t;
    EXPECT_EQ(c.second, s) << t;
    EXPECT_EQ(c.day_of_week, w) << t;
    EXPECT_EQ(c.day_of_year + 1, j) << t;
    EXPECT_EQ(platform::JoinLocalTime(c.year, c.month, c.day, c.hour, c.minute, c.second), t);
  }
}

TEST_F(TimeTest, NowComesFromTheClockAndLocalTimeFromTheBias) {
  auto& clock = Clock::instance();
  // 2025-03-10 08:30:00 UTC
  const uint64_t base = 133860690000000000ULL;
  clock.set_wall_clock(base);
  Sleep(90000);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  EXPECT_EQ(value(now), base + 90ULL * platform::kFiletimeTicksPerSecond);
  EXPECT_EQ(_time64(nullptr), static_cast<int64_t>((value(now) - platform::kFiletimeOfUnixEpoch) / 10000000));
  __time64_t stored = 0;
  _time64(&stored);
  EXPECT_EQ(stored, platform::time_now());

  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  EXPECT_EQ(utc.wHour, 8);
  EXPECT_EQ(utc.wMinute, 31);
  EXPECT_EQ(utc.wSecond, 30);
  // Tokyo: bias -540 minutes, local is nine hours ahead.
  clock.set_time_zone_bias_minutes(-540);
  GetLocalTime(&local);
  EXPECT_EQ(local.wHour, 17);
  EXPECT_EQ(local.wDay, 10);
  // New York standard time crosses the date line backwards.
  clock.set_time_zone_bias_minutes(300);
  clock.set_wall_clock(133860438000000000ULL);  // 2025-03-10 01:30:00 UTC
  GetLocalTime(&local);
  EXPECT_EQ(local.wDay, 9);
  EXPECT_EQ(local.wHour, 20);

  FILETIME local_ft, back;
  ASSERT_TRUE(FileTimeToLocalFileTime(&now, &local_ft));
  EXPECT_EQ(value(local_ft), value(now) - 300ULL * 60 * platform::kFiletimeTicksPerSecond);
  ASSERT_TRUE(LocalFileTimeToFileTime(&local_ft, &back));
  EXPECT_EQ(value(back), value(now));
  // Shifting below zero is an error, not a wrap.
  FILETIME tiny = ft(5), shifted = ft(7);
  EXPECT_FALSE(FileTimeToLocalFileTime(&tiny, &shifted));
  EXPECT_EQ(value(shifted), 7u);
  EXPECT_EQ(CompareFileTime(&tiny, &back), -1);
  EXPECT_EQ(CompareFileTime(&back, &tiny), 1);
  EXPECT_EQ(CompareFileTime(&back, &back), 0);
}

TEST_F(TimeTest, TimeSpanFormatWrapsHoursAtADay) {
  struct Case {
    CTimeSpan span;
    const char16_t* format;
    const char16_t* expect;
  } cases[] = {
      {CTimeSpan(0), u"%H:%M:%S", u"00:00:00"},
      {CTimeSpan(3661), u"%H:%M:%S", u"01:01:01"},
      {CTimeSpan(25 * 3600), u"%H:%M:%S", u"01:00:00"},        // 25 hours
      {CTimeSpan(2, 23, 59, 59), u"%H:%M:%S", u"23:59:59"},
      {CTimeSpan(3, 4, 5, 6), u"%D days %H:%M:%S", u"3 days 04:05:06"},
      {CTimeSpan(86399), u"%M:%S", u"59:59"},
      {CTimeSpan(-30), u"%H:%M:%S", u"00:00:-30"},             // negative parts, C division
      {CTimeSpan(59), u"100%% %S", u"100% 59"},
      {CTimeSpan(59), u"%Q%", u"%Q%"},
  };
  for (const auto& c : cases) EXPECT_EQ(u8(c.span.Format(c.format)), platform::to_utf8(c.expect));
  CTimeSpan span(1, 2, 3, 4);
  EXPECT_EQ(span.GetDays(), 1);
  EXPECT_EQ(span.GetHours(), 2);
  EXPECT_EQ(span.GetTotalHours(), 26);
  EXPECT_EQ(span.GetMinutes(), 3);
  EXPECT_EQ(span.GetTotalMinutes(), 26 * 60 + 3);
  EXPECT_EQ(span.GetSeconds(), 4);
  EXPECT_EQ(span.GetTotalSeconds(), 93784);
}

TEST_F(TimeTest, CTimeReadsTheClockAndFormatsLocalTime) {
  auto& clock = Clock::instance();
  clock.set_wall_clock(125963012967890000ULL);  // 2000-02-29 12:34:56.789 UTC, a Tuesday
  clock.set_time_zone_bias_minutes(-540);       // Tokyo
  CTime now = CTime::GetCurrentTime();
  EXPECT_EQ(now.GetTime(), 951827696);
  EXPECT_EQ(now.GetYear(), 2000);
  EXPECT_EQ(now.GetMonth(), 2);
  EXPECT_EQ(now.GetDay(), 29);
  EXPECT_EQ(now.GetHour(), 21);
  EXPECT_EQ(now.GetDayOfWeek(), 3);  // 1 = Sunday
  struct Case {
    const char16_t* format;
    const char16_t* expect;
  } cases[] = {
      {u"%m/%d/%Y %H:%M", u"02/29/2000 21:34"},
      {u"%Y/%m/%d %H:%M:%S", u"2000/02/29 21:34:56"},
      {u"%a %A %b %B", u"Tue Tuesday Feb February"},
      {u"%I %p %j %y %w", u"09 PM 060 00 2"},
      {u"%#m/%#d %#H", u"2/29 21"},
      {u"%x %X", u"02/29/00 21:34:56"},
      {u"%c", u"02/29/00 21:34:56"},
      {u"%#x", u"Tuesday, February 29, 2000"},
      {u"%U %W", u"09 09"},
      {u"%z", u"+0900"},
      {u"%%%q", u"%%q"},
  };
  for (const auto& c : cases) EXPECT_EQ(u8(now.Format(c.format)), platform::to_utf8(c.expect)) << platform::to_utf8(c.format);
  EXPECT_EQ(u8(now.FormatGmt(u"%H:%M %z")), "12:34 +0000");

  // Elapsed time as the programs show it: now minus a start, as a span.
  CTime start = now;
  Sleep(26 * 3600 * 1000 + 62 * 1000);
  CTimeSpan elapsed = CTime::GetCurrentTime() - start;
  EXPECT_EQ(u8(elapsed.Format(u"%H:%M:%S")), "02:01:02");

  // Local fields in, the same fields out; out-of-range fields normalise.
  CTime built(2024, 12, 31, 23, 59, 59);
  EXPECT_EQ(u8(built.Format(u"%Y-%m-%d %H:%M:%S")), "2024-12-31 23:59:59");
  EXPECT_EQ(u8(CTime(2024, 1, 32, 0, 0, 0).Format(u"%Y-%m-%d")), "2024-02-01");
  EXPECT_EQ(u8(CTime(2024, 13, 1, 0, 0, 0).Format(u"%Y-%m-%d")), "2025-01-01");
  SYSTEMTIME st{};
  ASSERT_TRUE(built.GetAsSystemTime(st));
  EXPECT_EQ(st.wYear, 2024);
  EXPECT_EQ(st.wHour, 23);
  EXPECT_EQ(CTime(st).GetTime(), built.GetTime());
  FILETIME utc = ft(125963012967890000ULL);
  EXPECT_EQ(CTime(utc).GetTime(), 951827696);
}

}  // namespace

namespace {

class TmTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Clock::instance().reset(); }
  void TearDown() override { platform::Clock::instance().reset(); }
};

TEST_F(TmTest, BrokenDownTimeAndBack) {
  platform::Clock::instance().set_time_zone_bias_minutes(-540);
  __time64_t t = 951827696;  // 2000-02-29 12:34:56 UTC
  std::tm local{}, utc{};
  ASSERT_EQ(_localtime64_s(&local, &t), 0);
  ASSERT_EQ(_gmtime64_s(&utc, &t), 0);
  EXPECT_EQ(utc.tm_year, 100);
  EXPECT_EQ(utc.tm_mon, 1);
  EXPECT_EQ(utc.tm_mday, 29);
  EXPECT_EQ(utc.tm_hour, 12);
  EXPECT_EQ(utc.tm_wday, 2);
  EXPECT_EQ(utc.tm_yday, 59);
  EXPECT_EQ(local.tm_hour, 21);
  EXPECT_EQ(_mktime64(&local), t);
  EXPECT_EQ(_mkgmtime64(&utc), t);
  // Out-of-range fields normalise: 2000-02-30 is March 1st.
  std::tm fields{};
  fields.tm_year = 100;
  fields.tm_mon = 1;
  fields.tm_mday = 30;
  ASSERT_NE(_mkgmtime64(&fields), -1);
  EXPECT_EQ(fields.tm_mon, 2);
  EXPECT_EQ(fields.tm_mday, 1);
  EXPECT_EQ(fields.tm_wday, 3);
  // Outside 1970..3000: refused, fields marked invalid.
  __time64_t negative = -1, far = 32535216000LL;
  EXPECT_EQ(_gmtime64_s(&utc, &negative), EINVAL);
  EXPECT_EQ(utc.tm_year, -1);
  EXPECT_EQ(_localtime64_s(&utc, &far), EINVAL);
  EXPECT_EQ(_localtime64_s(nullptr, &t), EINVAL);
  fields = std::tm{};
  fields.tm_year = 1101;  // 3001
  fields.tm_mday = 1;
  EXPECT_EQ(_mkgmtime64(&fields), -1);

  char16_t buf[32];
  EXPECT_EQ(wcsftime(buf, 32, u"%Y/%m/%d %H:%M", &local), 16u);
  EXPECT_EQ(std::u16string(buf), u"2000/02/29 21:34");
  EXPECT_EQ(wcsftime(buf, 16, u"%Y/%m/%d %H:%M", &local), 0u);  // no room for the terminator
  EXPECT_EQ(buf[0], 0);
  std::tm broken = local;
  broken.tm_mon = 12;
  EXPECT_EQ(wcsftime(buf, 32, u"%B", &broken), 0u);
}

}  // namespace
