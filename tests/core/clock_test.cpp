#include "platform/core/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using platform::Clock;

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::instance().reset(); }
  void TearDown() override { Clock::instance().reset(); }

  // Real-time handshake: lets a test wait until its threads are parked in a
  // clock wait. Polls briefly; the bound only stops a broken build hanging.
  static bool await_waiters(int count) {
    for (int i = 0; i < 20000; ++i) {
      if (Clock::instance().waiting_threads() >= count) return true;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }
};

TEST_F(ClockTest, SleepCostsNoRealTimeAndAdvancesTicks) {
  auto& clock = Clock::instance();
  DWORD before = GetTickCount();
  auto real_start = std::chrono::steady_clock::now();
  Sleep(30000);
  auto real_spent = std::chrono::steady_clock::now() - real_start;
  EXPECT_EQ(GetTickCount() - before, 30000u);
  EXPECT_EQ(GetTickCount64(), 30000u);
  // Thirty virtual seconds; far less than one real second.
  EXPECT_LT(real_spent, std::chrono::seconds(1));
  Sleep(0);
  EXPECT_EQ(clock.now_ms(), 30000u);
}

TEST_F(ClockTest, TickCountWrapsAt32Bits) {
  auto& clock = Clock::instance();
  clock.advance((1ULL << 32) - 10);
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF6u);
  Sleep(25);
  EXPECT_EQ(GetTickCount(), 15u);
  EXPECT_EQ(GetTickCount64(), (1ULL << 32) + 15);
  // Elapsed time computed the usual way survives the wrap.
  EXPECT_EQ(static_cast<DWORD>(GetTickCount() - 0xFFFFFFF6u), 25u);
}

TEST_F(ClockTest, WaitWithoutActivityJumpsToDeadline) {
  auto& clock = Clock::instance();
  int checks = 0;
  bool result = clock.wait_until([&] { return ++checks, false; }, 5000);
  EXPECT_FALSE(result);
  EXPECT_EQ(clock.now_ms(), 5000u);
  EXPECT_GE(checks, 2);  // checked before and at the deadline

  // A condition already true returns at once without moving time.
  EXPECT_TRUE(clock.wait_until([] { return true; }, 5000));
  EXPECT_EQ(clock.now_ms(), 5000u);
  // A zero timeout checks once and returns.
  EXPECT_FALSE(clock.wait_until([] { return false; }, 0));
  EXPECT_EQ(clock.now_ms(), 5000u);
}

TEST_F(ClockTest, WaitDoesNotExpireWhileOtherThreadWorks) {
  auto& clock = Clock::instance();
  std::atomic<bool> done{false};
  std::latch entered(1);
  std::thread worker([&] {
    Clock::ActivityScope busy;
    entered.count_down();
    // The "work" finishes only once the main thread is parked in its wait,
    // so a wait that jumps ahead would time out first.
    ASSERT_TRUE(await_waiters(1));
    done = true;
    clock.notify();
  });
  entered.wait();
  EXPECT_TRUE(clock.wait_until([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_EQ(clock.now_ms(), 0u);  // real work does not consume virtual time
}

// A condition that already holds is taken while the waiter still counts as
// working, so no sleeper elsewhere can move time in between.
TEST_F(ClockTest, SatisfiedWaitKeepsTheWaiterActive) {
  auto& clock = Clock::instance();
  std::thread sleeper;
  {
    Clock::ActivityScope busy;
    sleeper = std::thread([] { Sleep(1000); });
    ASSERT_TRUE(await_waiters(1));
    for (int i = 0; i < 200; ++i) {
      int active_seen = -1;
      EXPECT_TRUE(clock.wait_until(
          [&] {
            active_seen = clock.active_threads();
            return true;
          },
          5000));
      ASSERT_EQ(active_seen, 1);
    }
    EXPECT_EQ(clock.now_ms(), 0u);
  }
  sleeper.join();
  EXPECT_EQ(clock.now_ms(), 1000u);
}

TEST_F(ClockTest, InfiniteWaitIsSatisfiedByAnotherThread) {
  auto& clock = Clock::instance();
  std::atomic<bool> flag{false};
  std::atomic<bool> result{false};
  std::thread waiter([&] { result = clock.wait_until([&] { return flag.load(); }, INFINITE); });
  ASSERT_TRUE(await_waiters(1));
  flag = true;
  clock.notify();
  waiter.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(clock.now_ms(), 0u);
}

TEST_F(ClockTest, AdvanceWakesWaitersWhoseDeadlinePassed) {
  auto& clock = Clock::instance();
  std::atomic<uint64_t> woke_at{0};
  std::atomic<bool> woke{false};
  std::thread waiter;
  {
    // The test itself is "working", so only advance() moves time.
    Clock::ActivityScope busy;
    waiter = std::thread([&] {
      clock.sleep(500);
      woke_at = clock.now_ms();
      woke = true;
    });
    ASSERT_TRUE(await_waiters(1));
    clock.advance(200);
    EXPECT_EQ(clock.now_ms(), 200u);
    clock.advance(300);
    waiter.join();
  }
  EXPECT_TRUE(woke);
  EXPECT_EQ(woke_at.load(), 500u);
}

// Threads that wait at the same time expire in deadline order, each exactly at
// its own deadline: time never overshoots a waiter with an earlier deadline.
// The last look at the condition happens at the deadline itself. (Once a plain
// thread has woken it no longer holds time back, so it checks the time from
// inside its condition rather than after returning.)
TEST_F(ClockTest, ConcurrentSleepersWakeAtTheirOwnDeadlines) {
  auto& clock = Clock::instance();
  const std::vector<uint32_t> sleeps = {300, 100, 200, 100, 5000};
  std::vector<uint64_t> woke(sleeps.size());
  std::vector<std::thread> threads;
  uint64_t start = 0;
  {
    Clock::ActivityScope busy;
    start = clock.now_ms();
    for (size_t i = 0; i < sleeps.size(); ++i)
      threads.emplace_back([&, i] {
        bool met = clock.wait_until(
            [&] {
              woke[i] = clock.now_ms();
              return false;
            },
            sleeps[i]);
        EXPECT_FALSE(met);
      });
    ASSERT_TRUE(await_waiters(static_cast<int>(sleeps.size())));
    EXPECT_EQ(clock.now_ms(), start);  // nothing moves while we are busy
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < sleeps.size(); ++i) EXPECT_EQ(woke[i], start + sleeps[i]) << "thread " << i;
  EXPECT_EQ(clock.now_ms(), start + 5000);
}

// Working threads that sleep: a sleeping thread stops counting as active, so
// several active threads sleeping at once neither deadlock nor run ahead of
// each other. Each sees exactly its own sleeps pass.
TEST_F(ClockTest, ActiveThreadsSleepingTogetherKeepTheirOwnTime) {
  auto& clock = Clock::instance();
  const std::vector<std::vector<uint32_t>> plans = {
      {100, 100, 100}, {250, 50}, {30, 30, 30, 30, 30, 30}, {1000}};
  std::vector<std::vector<uint64_t>> seen(plans.size());
  std::latch ready(static_cast<ptrdiff_t>(plans.size()) + 1);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < plans.size(); ++i)
    threads.emplace_back([&, i] {
      Clock::ActivityScope busy;
      ready.arrive_and_wait();
      for (uint32_t ms : plans[i]) {
        Clock::ActivityScope nested;  // nesting must not change the count
        Sleep(ms);
        seen[i].push_back(clock.now_ms());
      }
    });
  ready.arrive_and_wait();
  for (auto& t : threads) t.join();
  EXPECT_EQ(clock.active_threads(), 0);
  for (size_t i = 0; i < plans.size(); ++i) {
    uint64_t expect = 0;
    ASSERT_EQ(seen[i].size(), plans[i].size());
    for (size_t k = 0; k < plans[i].size(); ++k) {
      expect += plans[i][k];
      EXPECT_EQ(seen[i][k], expect) << "thread " << i << " sleep " << k;
    }
  }
  EXPECT_EQ(clock.now_ms(), 1000u);
}

// A thread woken by a change sees it at the virtual time the change was made.
// Here a client asks a server thread (working, as every platform thread is)
// and waits briefly for the answer: the client's short wait must not move time
// past its deadline before the woken server has looked at the request.
TEST_F(ClockTest, NotifiedWaiterSeesItsChangeBeforeTimeMoves) {
  auto& clock = Clock::instance();
  constexpr int kRounds = 200;
  std::atomic<int> request{0}, reply{0};
  std::vector<uint64_t> served_at(kRounds + 1, 0);
  std::thread server([&] {
    Clock::ActivityScope busy;
    for (int i = 1; i <= kRounds; ++i) {
      if (!clock.wait_until([&] { return request.load() >= i; }, INFINITE)) return;
      served_at[i] = clock.now_ms();
      reply = i;
      clock.notify();
    }
  });
  for (int i = 1; i <= kRounds; ++i) {
    ASSERT_TRUE(await_waiters(1));  // the server is parked in its wait
    const uint64_t asked = clock.now_ms();
    request = i;
    clock.notify();
    EXPECT_TRUE(clock.wait_until([&] { return reply.load() >= i; }, 100)) << "round " << i;
    EXPECT_EQ(clock.now_ms(), asked) << "round " << i;
    // Let the server park again before the next round's handshake counts it.
    while (reply.load() < i) std::this_thread::yield();
    EXPECT_EQ(served_at[i], asked) << "round " << i;
  }
  server.join();
}

// Work that never ends holds a bounded wait back for no longer than its
// timeout in real time; then the wait expires at its own deadline. Waits
// under work that finishes in time are covered above: they do not expire.
TEST_F(ClockTest, WaitUnderEndlessWorkExpiresAfterItsTimeoutInRealTime) {
  auto& clock = Clock::instance();
  std::atomic<bool> stop{false};
  std::latch entered(1);
  std::thread worker([&] {
    Clock::ActivityScope busy;
    entered.count_down();
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  entered.wait();
  for (uint32_t timeout : {300u, 200u}) {
    const uint64_t before = clock.now_ms();
    const auto real_start = std::chrono::steady_clock::now();
    EXPECT_FALSE(clock.wait_until([] { return false; }, timeout));
    const auto spent = std::chrono::steady_clock::now() - real_start;
    EXPECT_EQ(clock.now_ms(), before + timeout);
    EXPECT_GE(spent, std::chrono::milliseconds(timeout)) << "the work held the wait in real time";
    EXPECT_LT(spent, std::chrono::seconds(10)) << "and only for about its timeout";
  }
  stop = true;
  worker.join();
}

// A waiter stuck inside its condition (here on a lock whose holder sleeps)
// holds time back only for a bounded real time, so the sleeper is not stalled
// for good.
TEST_F(ClockTest, WaiterStuckInItsConditionDoesNotStallTime) {
  auto& clock = Clock::instance();
  std::mutex held;
  std::atomic<int> looks{0};
  std::unique_lock hold(held);
  // Its deadline is earlier than the sleeper's, so it would hold time back
  // twice over: by its deadline and by the change it has not looked at.
  std::atomic<bool> met{true};
  std::thread waiter([&] {
    met = clock.wait_until(
        [&] {
          if (++looks > 1) std::lock_guard inside(held);  // its second look blocks
          return false;
        },
        50);
  });
  ASSERT_TRUE(await_waiters(1));
  while (looks.load() < 2) std::this_thread::yield();
  Sleep(100);
  EXPECT_EQ(clock.now_ms(), 100u);
  hold.unlock();
  waiter.join();
  EXPECT_FALSE(met) << "once it comes back, its own deadline has passed";
}

TEST_F(ClockTest, WallClockFollowsVirtualTime) {
  auto& clock = Clock::instance();
  EXPECT_EQ(clock.now_filetime(), Clock::kDefaultWallClock);
  const uint64_t base = 132000000000000000ULL;
  clock.set_wall_clock(base);
  Sleep(1500);
  EXPECT_EQ(clock.now_filetime(), base + 1500 * 10000ULL);
}

TEST_F(ClockTest, RealModeMeasuresHostTimeAndAdvanceAddsToIt) {
  auto& clock = Clock::instance();
  clock.advance(1000);
  clock.set_mode(Clock::Mode::Real);
  EXPECT_GE(clock.now_ms(), 1000u);  // continues from the virtual count
  clock.advance(60000);
  EXPECT_GE(clock.now_ms(), 61000u);
  // A condition that is already true returns at once in real mode too.
  EXPECT_TRUE(clock.wait_until([] { return true; }, INFINITE));
  clock.set_mode(Clock::Mode::Virtual);
  uint64_t now = clock.now_ms();
  Sleep(10);
  EXPECT_EQ(clock.now_ms(), now + 10);
}

}  // namespace
