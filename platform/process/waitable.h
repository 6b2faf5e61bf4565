// Base of the objects a thread can wait for: threads, processes, events,
// mutexes. Their signal state is guarded by one lock (SyncLock) so that
// WaitForMultipleObjects can test and take several objects at once.
#pragma once

#include <mutex>

#include "platform/core/kobject.h"

namespace platform::process {

std::mutex& SyncLock();

class Waitable : public KernelObject {
 public:
  // Both are called with SyncLock held. `thread_id` is the waiting thread.
  virtual bool is_signaled_locked(DWORD thread_id) const = 0;
  // Takes the object once a wait is satisfied (auto-reset, mutex ownership).
  // Returns WAIT_OBJECT_0, or WAIT_ABANDONED for a mutex whose owner ended.
  virtual DWORD acquire_locked(DWORD thread_id) { return WAIT_OBJECT_0; }

  DWORD wait(DWORD timeout_ms) override;
};

}  // namespace platform::process
