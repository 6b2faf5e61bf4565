// Rounding to a unit, unsigned and signed, and a unit that cannot divide.
#include "platform/core/align.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Align, RoundsToMultiplesOfTheUnit) {
  struct Case {
    uint64_t value, unit, down, up;
  };
  const Case cases[] = {
      {0, 512, 0, 0},          {1, 512, 0, 512},      {511, 512, 0, 512},    {512, 512, 512, 512},
      {513, 512, 512, 1024},   {4095, 8, 4088, 4096}, {7, 1, 7, 7},
      {0xFFFFFFFFull * 4096 + 1, 4096, 0xFFFFFFFFull * 4096, 0x100000000ull * 4096},  // past 32 bits
      {12345, 0, 12345, 12345},  // no unit: left alone, never a division by zero
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::AlignDown(c.value, c.unit), c.down) << c.value << " / " << c.unit;
    EXPECT_EQ(platform::AlignUp(c.value, c.unit), c.up) << c.value << " / " << c.unit;
  }
  // The signed form serves byte counts that may be computed below a start.
  EXPECT_EQ(platform::AlignDown<int64_t>(1048577, 4096), 1048576);
  EXPECT_EQ(platform::AlignUp<int64_t>(1048577, 4096), 1052672);
  EXPECT_EQ(platform::AlignUp<int64_t>(1048577, -4096), 1048577);
  static_assert(platform::AlignUp(10, 4) == 12);
}

}  // namespace
