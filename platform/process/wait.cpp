#include "platform/process/wait.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/core/clock.h"
#include "platform/process/thread.h"
#include "platform/process/thread_object.h"

namespace platform::process {

bool ThreadTerminationPending();

namespace {

// Waiters of this library and the last change each has re-tested. A change
// is published only once every waiter has looked at it: a thread woken by it
// does not count as working until it runs again, and without this hand-shake
// the clock could move past a deadline before the woken thread acted (a
// server answering a request, a worker setting its "done" event).
struct Waiter {
  uint64_t checked = 0;
};

struct Wakes {
  std::mutex lock;
  std::condition_variable looked;
  uint64_t generation = 1;
  std::set<Waiter*> waiters;
};

Wakes& wakes() {
  static auto* w = new Wakes;
  return *w;
}

thread_local int waiting_depth = 0;

}  // namespace

bool WaitUntil(const std::function<bool()>& ready, DWORD timeout_ms) {
  CheckThreadTermination();
  // A condition that already holds is taken while the thread still counts as
  // working; the clock stops counting a thread as soon as it enters a wait.
  if (ready()) return true;
  if (timeout_ms == 0) return false;
  auto& w = wakes();
  Waiter me;
  {
    std::lock_guard guard(w.lock);
    w.waiters.insert(&me);
  }
  ++waiting_depth;
  SetCurrentThreadWaiting(true);
  bool satisfied = false;
  auto leave = [&] {
    SetCurrentThreadWaiting(false);
    --waiting_depth;
    {
      std::lock_guard guard(w.lock);
      w.waiters.erase(&me);
    }
    w.looked.notify_all();
  };
  try {
    platform::Clock::instance().wait_until(
        [&] {
          uint64_t generation;
          {
            std::lock_guard guard(w.lock);
            generation = w.generation;
          }
          bool done = ThreadTerminationPending() || (satisfied = ready());
          if (!done) {
            {
              std::lock_guard guard(w.lock);
              me.checked = generation;
            }
            w.looked.notify_all();
          }
          return done;
        },
        timeout_ms);
  } catch (...) {
    leave();
    throw;
  }
  leave();
  CheckThreadTermination();
  return satisfied;
}

void NotifyStateChanged() {
  auto& w = wakes();
  uint64_t generation;
  {
    std::lock_guard guard(w.lock);
    generation = ++w.generation;
  }
  platform::Clock::instance().notify();
  if (waiting_depth > 0) return;  // called from inside a wait: nobody to hand over to
  std::unique_lock guard(w.lock);
  // Bounded in real time so that a waiter stuck elsewhere cannot hang the notifier.
  w.looked.wait_for(guard, std::chrono::seconds(2), [&] {
    for (Waiter* waiter : w.waiters)
      if (waiter->checked < generation) return false;
    return true;
  });
}

}  // namespace platform::process
