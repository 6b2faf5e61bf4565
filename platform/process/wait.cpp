#include "platform/process/wait.h"

#include "platform/process/thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

namespace platform::process {

namespace {

// FIXME: switch to the core clock (Clock::wait_until, Clock::ActivityScope)
// once it is available, so that Sleep and these waits share one time line.
struct WaitState {
  std::mutex lock;
  std::condition_variable changed;
  uint64_t generation = 0;
  uint64_t now_ms = 0;  // virtual time
  int working = 0;      // open work scopes of threads that are not waiting
  std::multiset<uint64_t> deadlines;
};

WaitState& state() {
  static WaitState* s = new WaitState;  // lives through exit: waits may run during shutdown
  return *s;
}

thread_local int thread_scopes = 0;

}  // namespace

void NotifyStateChanged() {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    ++s.generation;
  }
  s.changed.notify_all();
}

WorkScope::WorkScope() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  ++thread_scopes;
  ++s.working;
}

WorkScope::WorkScope(Adopt) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  ++thread_scopes;
}

void ReserveWork() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  ++s.working;
}

void EndReservedWork() {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    --s.working;
    ++s.generation;
  }
  s.changed.notify_all();
}

WorkScope::~WorkScope() {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    --thread_scopes;
    --s.working;
    ++s.generation;
  }
  s.changed.notify_all();
}

uint64_t ClockMilliseconds() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  return s.now_ms;
}

void AdvanceClock(uint64_t milliseconds) {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    s.now_ms += milliseconds;
    ++s.generation;
  }
  s.changed.notify_all();
}

bool WaitUntil(const std::function<bool()>& ready, DWORD timeout_ms) {
  CheckThreadTermination();
  auto& s = state();
  std::unique_lock guard(s.lock);
  uint64_t seen = s.generation;
  guard.unlock();
  if (ready()) return true;
  if (timeout_ms == 0) return false;
  guard.lock();

  // A waiting thread does no work, whatever scopes it holds.
  const int suspended = thread_scopes;
  s.working -= suspended;
  const bool bounded = timeout_ms != INFINITE;
  const uint64_t deadline = s.now_ms + timeout_ms;
  std::multiset<uint64_t>::iterator slot;
  if (bounded) slot = s.deadlines.insert(deadline);
  if (suspended) {
    ++s.generation;
    s.changed.notify_all();
  }
  // Undoes the bookkeeping however the wait ends (also when the thread unwinds).
  struct Restore {
    WaitState& s;
    std::unique_lock<std::mutex>& guard;
    bool bounded;
    std::multiset<uint64_t>::iterator slot;
    int suspended;
    ~Restore() {
      if (!guard.owns_lock()) guard.lock();
      if (bounded) s.deadlines.erase(slot);
      s.working += suspended;
      ++s.generation;
      guard.unlock();
      s.changed.notify_all();
    }
  } restore{s, guard, bounded, slot, suspended};

  for (;;) {
    if (s.generation != seen) {
      seen = s.generation;
      guard.unlock();
      CheckThreadTermination();
      bool ok = ready();
      guard.lock();
      if (ok) return true;
      continue;  // the state may have moved again while we tested
    }
    if (bounded && s.now_ms >= deadline) return false;
    if (bounded && s.working == 0 && *s.deadlines.begin() == deadline) {
      // Nothing is working and ours is the earliest deadline: time jumps to it.
      s.now_ms = deadline;
      ++s.generation;
      seen = s.generation;
      guard.unlock();
      s.changed.notify_all();
      bool ok = ready();
      guard.lock();
      return ok;
    }
    s.changed.wait(guard);
  }
}

}  // namespace platform::process
