#include "platform/core/clock.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace platform {
namespace {

// How many ActivityScopes the current thread holds.
thread_local int t_activity_depth = 0;

// Waiters re-check their condition at least this often in real time, so a
// state change whose owner forgot to call notify() delays a waiter but never
// strands it.
constexpr auto kRecheck = std::chrono::milliseconds(20);

// A waiter that has been inside its condition this long without finishing
// (blocked on a lock whose holder sleeps, say) no longer holds time back, by
// its own deadline or by a change it has not looked at, so it cannot stall
// every other wait. A waiter that is not stuck looks at least every kRecheck.
constexpr int64_t kStuckLookNs = 2'000'000'000;

int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// FILETIME ticks between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochFiletime = 116444736000000000ULL;

uint64_t host_filetime() {
  auto since_unix = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  return kUnixEpochFiletime + static_cast<uint64_t>(since_unix / 100);
}

}  // namespace

Clock::Clock() { real_start_ns_ = steady_ns(); }

Clock& Clock::instance() {
  static Clock clock;
  return clock;
}

uint64_t Clock::now_locked() const {
  if (mode_ == Mode::Virtual) return virtual_ms_;
  int64_t elapsed = (steady_ns() - real_start_ns_) / 1000000;
  return real_offset_ms_ + static_cast<uint64_t>(std::max<int64_t>(elapsed, 0));
}

void Clock::set_mode(Mode mode) {
  std::lock_guard lock(mutex_);
  if (mode == mode_) return;
  uint64_t now = now_locked();
  if (mode == Mode::Real) {
    // Time continues from where the virtual counter stood; the wall clock
    // follows the host from now on.
    real_start_ns_ = steady_ns();
    real_offset_ms_ = now;
    wall_base_ = host_filetime() - now * 10000;
  } else {
    virtual_ms_ = now;
  }
  mode_ = mode;
  ++generation_;
  changed_.notify_all();
}

Clock::Mode Clock::mode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

uint64_t Clock::now_ms() const {
  std::lock_guard lock(mutex_);
  return now_locked();
}

void Clock::sleep(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  wait_until([] { return false; }, ms);
}

void Clock::advance(uint64_t ms) {
  std::lock_guard lock(mutex_);
  if (mode_ == Mode::Virtual)
    virtual_ms_ += ms;
  else
    real_offset_ms_ += ms;
  ++generation_;
  changed_.notify_all();
}

bool Clock::may_move_time(const Waiter& me, int64_t real_now) const {
  if (mode_ != Mode::Virtual || me.deadline == std::numeric_limits<uint64_t>::max()) return false;
  for (const Waiter* w : waiters_) {
    if (w == &me) continue;
    const bool behind = w->tested != generation_;
    if (behind && real_now - w->looked_ns >= kStuckLookNs) continue;  // stuck in its condition
    if (w->deadline < me.deadline) return false;  // an earlier deadline goes first
    if (behind) return false;                     // a change it has not looked at yet
  }
  // Nobody works, or this wait's timeout has passed in real time as well.
  return active_ == 0 || real_now >= me.real_deadline;
}

bool Clock::wait_until(const std::function<bool()>& ready, uint32_t timeout_ms) {
  // A condition that already holds is taken while the thread still counts as
  // working: nobody else may move time in between.
  if (ready()) return true;
  if (timeout_ms == 0) return false;
  const bool infinite = timeout_ms == INFINITE;
  std::unique_lock lock(mutex_);
  Waiter me;
  me.deadline = infinite ? std::numeric_limits<uint64_t>::max() : now_locked() + timeout_ms;
  me.tested = 0;
  me.real_deadline = steady_ns() + int64_t(timeout_ms) * 1000000;
  me.virtual_seen = now_locked();
  me.looked_ns = steady_ns();
  waiters_.push_back(&me);
  // A blocked thread does no work, so it stops counting as active while it
  // waits; otherwise two active threads sleeping at once would wait for each other.
  const bool was_active = t_activity_depth > 0;
  if (was_active) --active_;
  ++waiting_;
  ++generation_;
  changed_.notify_all();

  bool result = false;
  uint64_t seen = 0;
  bool look = true;
  for (;;) {
    if (look) {
      seen = generation_;
      lock.unlock();
      result = ready();
      lock.lock();
      me.looked_ns = steady_ns();
      if (result) break;
      if (generation_ != seen) continue;  // something changed while we looked; look again
      if (me.tested != seen) {
        // Whoever waits to move time may now find everybody up to date.
        me.tested = seen;
        ++tests_;
        changed_.notify_all();
      }
    }
    const uint64_t now = now_locked();
    if (now >= me.deadline) {
      lock.unlock();
      result = ready();
      lock.lock();
      break;
    }
    const int64_t real_now = steady_ns();
    if (now != me.virtual_seen) {
      // Virtual time moved under this wait: what remains of it must not take
      // longer in real time than it now would on the virtual clock.
      me.real_deadline = std::min<int64_t>(me.real_deadline, real_now + int64_t(me.deadline - now) * 1000000);
      me.virtual_seen = now;
    }
    if (may_move_time(me, real_now)) {
      virtual_ms_ = me.deadline;
      ++generation_;
      changed_.notify_all();
      look = true;
      continue;
    }
    // Sleep until something changes, a waiter catches up, or a while has passed
    // (re-testing then covers a change whose owner forgot to notify()).
    auto pause = std::chrono::nanoseconds(kRecheck);
    if (mode_ == Mode::Real && !infinite)
      pause = std::min(pause, std::chrono::nanoseconds(int64_t(me.deadline - now) * 1000000));
    if (mode_ == Mode::Virtual && !infinite && active_ > 0 && me.real_deadline > real_now)
      pause = std::min(pause, std::chrono::nanoseconds(me.real_deadline - real_now));
    const uint64_t tests_before = tests_;
    bool woke = changed_.wait_for(lock, pause, [&] { return generation_ != seen || tests_ != tests_before; });
    // A new generation, or the pause ran out: look again. Another waiter having
    // caught up only calls for another try at moving time.
    look = generation_ != seen || !woke;
  }

  std::erase(waiters_, &me);
  --waiting_;
  if (was_active) ++active_;
  // Our deadline left the queue: a later waiter may now be the one to move time.
  ++generation_;
  changed_.notify_all();
  return result;
}

void Clock::notify() {
  std::lock_guard lock(mutex_);
  ++generation_;
  changed_.notify_all();
}

void Clock::enter_activity() {
  std::lock_guard lock(mutex_);
  if (t_activity_depth++ == 0) ++active_;
}

void Clock::leave_activity() {
  std::lock_guard lock(mutex_);
  if (--t_activity_depth == 0) --active_;
  ++generation_;
  changed_.notify_all();
}

Clock::ActivityScope::ActivityScope() { Clock::instance().enter_activity(); }
Clock::ActivityScope::~ActivityScope() { Clock::instance().leave_activity(); }

int Clock::active_threads() const {
  std::lock_guard lock(mutex_);
  return active_;
}

int Clock::waiting_threads() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}

uint64_t Clock::now_filetime() const {
  std::lock_guard lock(mutex_);
  return wall_base_ + now_locked() * 10000;
}

void Clock::set_wall_clock(uint64_t filetime_utc) {
  std::lock_guard lock(mutex_);
  wall_base_ = filetime_utc - now_locked() * 10000;
}

void Clock::set_time_zone_bias_minutes(int bias) {
  std::lock_guard lock(mutex_);
  bias_minutes_ = bias;
}

int Clock::time_zone_bias_minutes() const {
  std::lock_guard lock(mutex_);
  return bias_minutes_;
}

void Clock::reset() {
  std::lock_guard lock(mutex_);
  mode_ = Mode::Virtual;
  virtual_ms_ = 0;
  real_offset_ms_ = 0;
  real_start_ns_ = steady_ns();
  wall_base_ = kDefaultWallClock;
  bias_minutes_ = 0;
  ++generation_;
  changed_.notify_all();
}

}  // namespace platform

void Sleep(DWORD ms) { platform::Clock::instance().sleep(ms); }

DWORD GetTickCount() { return static_cast<DWORD>(platform::Clock::instance().now_ms()); }

ULONGLONG GetTickCount64() { return platform::Clock::instance().now_ms(); }
