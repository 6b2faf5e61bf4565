// The one clock behind Sleep, GetTickCount, timeouts, timers and wall-clock time.
//
// Virtual mode (tests, headless runs) keeps its own millisecond counter. Time
// only moves when somebody waits: a wait that cannot be satisfied advances the
// counter to its deadline at once, so Sleep(30000) costs no real time yet the
// order and count of waits stay observable. Real work that may satisfy a wait
// (a worker thread copying data, a child process being waited for) marks itself
// with an ActivityScope; while any other thread is active, waiters block in real
// time instead of jumping ahead, so a bounded wait never expires under work that
// finishes within its timeout. Work that does not (a child that hangs) holds a
// wait back for no longer than the wait's timeout in real time: then the wait
// expires and time jumps to its deadline, as it would on a real machine.
//
// Several threads waiting at once are woken in deadline order: only the waiter
// with the earliest deadline moves time. Time never moves while a waiter has
// not yet re-tested its condition since the last notify(): a thread woken by a
// change sees that change at the time it was made, never a timeout. A thread
// blocked in wait_until does not count as active even inside its own
// ActivityScope, so two active threads sleeping at once never deadlock.
//
// Real mode measures a steady host clock; advance() still adds to it, which
// lets tests and scripts skip ahead in either mode.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/core/types.h"

namespace platform {

class Clock {
 public:
  enum class Mode { Virtual, Real };

  static Clock& instance();

  void set_mode(Mode mode);
  Mode mode() const;

  // Milliseconds since the clock's start ("boot").
  uint64_t now_ms() const;

  // Waits timeout_ms on this clock with nothing to wake it early.
  void sleep(uint32_t ms);

  // Moves time forward by ms and wakes waiters whose deadline has passed.
  void advance(uint64_t ms);

  // Waits until ready() returns true or timeout_ms (INFINITE allowed) passes on
  // this clock; returns the last value of ready(). ready() is called without
  // the clock's lock held, so it may take other locks; whoever changes what it
  // looks at must call notify() afterwards.
  bool wait_until(const std::function<bool()>& ready, uint32_t timeout_ms);

  // Wakes every waiter so that it re-checks its condition.
  void notify();

  // Marks real work in progress on the current thread for as long as it lives.
  // Scopes nest; the thread stops counting as active when the outermost ends.
  class ActivityScope {
   public:
    ActivityScope();
    ~ActivityScope();
    ActivityScope(const ActivityScope&) = delete;
    ActivityScope& operator=(const ActivityScope&) = delete;
  };

  // Number of threads currently marked active (not counting those blocked in a wait).
  int active_threads() const;
  // Number of threads currently inside wait_until.
  int waiting_threads() const;

  // Wall-clock time as FILETIME ticks (100 ns since 1601-01-01 UTC): a base
  // that set_wall_clock fixes, plus the time elapsed on this clock since.
  uint64_t now_filetime() const;
  void set_wall_clock(uint64_t filetime_utc);
  // local = UTC - bias (minutes), the platform's sign convention: a zone east
  // of Greenwich has a negative bias.
  void set_time_zone_bias_minutes(int bias);
  int time_zone_bias_minutes() const;

  // Back to the start state: virtual mode, time 0, the default wall clock
  // (2025-01-01 00:00:00 UTC) and bias 0. For tests; waiters must be gone.
  void reset();

  // The wall clock a fresh virtual clock shows.
  static constexpr uint64_t kDefaultWallClock = 133801632000000000ULL;  // 2025-01-01 00:00:00 UTC

 private:
  // One thread inside wait_until.
  struct Waiter {
    uint64_t deadline;       // virtual ms; UINT64_MAX for INFINITE
    uint64_t tested;         // the last generation whose change it has looked at
    int64_t real_deadline;   // steady ns by which its timeout has passed in real time
    uint64_t virtual_seen;   // now_ms() when real_deadline was last brought up to date
    int64_t looked_ns;       // steady ns when it last finished looking at its condition
  };

  Clock();
  uint64_t now_locked() const;
  void enter_activity();
  void leave_activity();
  // Called with the lock held: may `me` move virtual time to its deadline now?
  bool may_move_time(const Waiter& me, int64_t real_now) const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Mode mode_ = Mode::Virtual;
  uint64_t virtual_ms_ = 0;
  // Real mode: milliseconds added by advance() on top of the host clock.
  uint64_t real_offset_ms_ = 0;
  int64_t real_start_ns_ = 0;
  // FILETIME of "now" minus now_ms() * 10000.
  uint64_t wall_base_ = kDefaultWallClock;
  int bias_minutes_ = 0;
  int active_ = 0;
  int waiting_ = 0;
  // Bumped by every change a waiter must look at (notify, time moved, a waiter
  // came or went).
  uint64_t generation_ = 0;
  // Bumped when a waiter records that it has looked at a generation.
  uint64_t tests_ = 0;
  std::vector<Waiter*> waiters_;
};

}  // namespace platform

void Sleep(DWORD ms);
// Milliseconds since boot, wrapping at 2^32 (about 49.7 days) as the platform's does.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
