// The kernel object behind a thread handle, shared with the process code that
// runs stand-in programs on their own threads.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/process/waitable.h"

namespace platform::process {

struct ProcessContext;

class ThreadObject : public Waitable {
 public:
  const char* kind() const override { return "thread"; }
  bool is_signaled_locked(DWORD) const override { return ended; }

  DWORD id = 0;
  // Guarded by SyncLock.
  bool ended = false;
  bool started = false;
  DWORD exit_code = STILL_ACTIVE_CODE;
  std::atomic<bool> terminate_requested{false};
  // Nonzero while the thread blocks in a wait of this library.
  std::atomic<int> waiting{0};
  std::function<DWORD()> body;
  // Runs on the thread after its end is recorded, still counted as work.
  std::function<void(DWORD exit_code)> on_end;
  std::shared_ptr<ProcessContext> process;

  static constexpr DWORD STILL_ACTIVE_CODE = 259;
};

// Starts `thread->body` on a new host thread (the object must have an id).
// The thread ends the object when the body returns or unwinds; `on_end`, when
// set, runs on that thread after the exit code is recorded.
void StartThread(const std::shared_ptr<ThreadObject>& thread);

// Marks the calling thread as blocked in a wait (for StartThread callers
// that wait until a new program is idle).
void SetCurrentThreadWaiting(bool waiting);

// A fresh thread id.
DWORD NewThreadId();

// Records an end (exit code) unless the thread has ended already; wakes waiters.
void EndThread(ThreadObject& thread, DWORD exit_code);

}  // namespace platform::process
