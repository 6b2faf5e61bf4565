// The random overwrite data's generator against the C library's rand(): for
// every seed it must give the same numbers, so a random pass writes the same
// bytes it wrote when it called rand() itself; and each thread has its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "mainapp/wipe/wipe_random.h"

namespace {

TEST(WipeRandom, GivesTheNumbersOfTheLibrarysRand) {
  for (uint32_t seed : {0u, 1u, 2u, 42u, 127773u, 1765432109u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    WipeRandom ours;
    ours.seed(seed);
    std::srand(seed);
    for (int i = 0; i < 5000; ++i) {
      const uint32_t expected = static_cast<uint32_t>(std::rand());
      ASSERT_EQ(ours.next(), expected) << "seed " << seed << ", number " << i;
    }
  }
}

TEST(WipeRandom, FillsWordsAsTheOverwriteDataWas) {
  WipeRandom ours;
  ours.seed(1765432109u);
  std::vector<uint8_t> bytes(262144);
  ours.fill_words(bytes.data(), static_cast<uint32_t>(bytes.size() / 2));
  std::srand(1765432109u);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    const unsigned r = static_cast<unsigned>(std::rand()) & 0x7FFF;
    ASSERT_EQ(bytes[i], static_cast<uint8_t>(r)) << i;
    ASSERT_EQ(bytes[i + 1], static_cast<uint8_t>(r >> 8)) << i;
  }
}

TEST(WipeRandom, EachThreadHasItsOwn) {
  ThreadWipeRandom().seed(7);
  const uint32_t first = ThreadWipeRandom().next();
  uint32_t other_first = 0;
  std::thread([&] {
    ThreadWipeRandom().seed(7);
    other_first = ThreadWipeRandom().next();
    for (int i = 0; i < 1000; ++i) ThreadWipeRandom().next();
  }).join();
  EXPECT_EQ(other_first, first);
  WipeRandom replay;
  replay.seed(7);
  replay.next();
  EXPECT_EQ(ThreadWipeRandom().next(), replay.next()) << "another thread's draws moved this thread's generator";
}

}  // namespace
