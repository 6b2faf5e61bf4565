#include "mainapp/shell/remaining_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// 2026-12-10 00:00:00 UTC.
constexpr int64_t kMidnight = 1796860800;

int64_t At(int h, int m, int s) { return kMidnight + h * 3600 + m * 60 + s; }

TEST(RemainingTime, TicksAcrossTheHourBoundary) {
  struct Tick {
    int64_t now;
    std::string text;
  };
  // Started at 10:05; one tick per second around the first boundary
  // (10:59:30), then a late tick after the next one.
  const std::vector<Tick> ticks = {
      {At(10, 5, 0), "71:54:29"},  {At(10, 20, 0), "71:39:29"}, {At(10, 59, 29), "71:00:00"},
      {At(10, 59, 30), "70:59:59"}, {At(10, 59, 31), "70:59:58"}, {At(11, 59, 29), "70:00:00"},
      {At(12, 0, 10), "69:59:19"},
  };
  shell::RemainingTimeClock clock;
  for (const Tick& t : ticks) EXPECT_EQ(clock.Format(t.now), t.text) << t.now - kMidnight;
}

TEST(RemainingTime, LateTicksDropEveryHourPassed) {
  struct Case {
    int64_t first, second;
    int32_t hours_after;
  };
  const Case cases[] = {
      {At(10, 59, 29), At(10, 59, 31), 70},  // boundary skipped by a busy second
      {At(10, 0, 0), At(13, 0, 0), 68},      // three boundaries in one late tick
      {At(10, 59, 30), At(10, 59, 30), 70},  // the same second twice drops once
      {At(10, 30, 0), At(10, 20, 0), 71},    // a clock set back drops nothing
      {At(9, 0, 0), At(9, 0, 0) + 100 * 3600, 0},  // never below zero
  };
  for (const Case& c : cases) {
    shell::RemainingTimeClock clock;
    clock.Format(c.first);
    clock.Format(c.second);
    EXPECT_EQ(clock.remaining_hours(), c.hours_after) << c.first - kMidnight << " " << c.second - kMidnight;
  }
}

TEST(RemainingTime, LastSecondsOfTheDayShowZero) {
  shell::RemainingTimeClock clock;
  EXPECT_EQ(clock.Format(At(23, 59, 29)), "71:00:00");
  EXPECT_EQ(clock.Format(At(23, 59, 45)), "70:00:00");
  EXPECT_EQ(clock.Format(At(0, 0, 0) + 86400), "70:59:29");
}

}  // namespace
