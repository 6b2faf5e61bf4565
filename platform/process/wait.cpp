#include "platform/process/wait.h"

#include "platform/core/clock.h"
#include "platform/process/thread.h"
#include "platform/process/thread_object.h"

namespace platform::process {

bool ThreadTerminationPending();

bool WaitUntil(const std::function<bool()>& ready, DWORD timeout_ms) {
  CheckThreadTermination();
  // A condition that already holds is taken while the thread still counts as
  // working; the clock stops counting a thread as soon as it enters a wait.
  if (ready()) return true;
  if (timeout_ms == 0) return false;
  SetCurrentThreadWaiting(true);
  bool satisfied = false;
  try {
    platform::Clock::instance().wait_until(
        [&] { return ThreadTerminationPending() || (satisfied = ready()); }, timeout_ms);
  } catch (...) {
    SetCurrentThreadWaiting(false);
    throw;
  }
  SetCurrentThreadWaiting(false);
  CheckThreadTermination();
  return satisfied;
}

// The clock makes every waiter look at a change before time moves on, so a
// thread woken here acts at the time of the change (a server answering a
// request, a worker setting its "done" event) without the notifier waiting.
void NotifyStateChanged() { platform::Clock::instance().notify(); }

}  // namespace platform::process
