#include "platform/process/thread.h"

#include <future>
#include <thread>

#include "platform/core/clock.h"

#include "platform/process/process.h"
#include "platform/process/process_context.h"
#include "platform/process/thread_object.h"
#include "platform/process/wait.h"

namespace platform::process {

namespace {

std::atomic<DWORD> next_thread_id{1000};
thread_local DWORD current_thread_id = 0;
thread_local std::weak_ptr<ThreadObject> current_thread;

}  // namespace

DWORD NewThreadId() { return next_thread_id.fetch_add(4); }

void SetCurrentThreadWaiting(bool waiting) {
  if (auto self = current_thread.lock()) self->waiting += waiting ? 1 : -1;
}

std::mutex& SyncLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

DWORD Waitable::wait(DWORD timeout_ms) {
  const DWORD me = GetCurrentThreadId();
  DWORD result = WAIT_TIMEOUT;
  bool ok = WaitUntil(
      [&] {
        std::lock_guard guard(SyncLock());
        if (!is_signaled_locked(me)) return false;
        result = acquire_locked(me);
        return true;
      },
      timeout_ms);
  if (!ok) return WAIT_TIMEOUT;
  NotifyStateChanged();
  return result;
}

void EndThread(ThreadObject& thread, DWORD exit_code) {
  {
    std::lock_guard guard(SyncLock());
    if (thread.ended) return;
    thread.ended = true;
    thread.exit_code = exit_code;
  }
  NotifyStateChanged();
}

bool ThreadTerminationPending() {
  auto self = current_thread.lock();
  return self && self->terminate_requested.load();
}

void CheckThreadTermination() {
  auto self = current_thread.lock();
  if (self && self->terminate_requested.load()) {
    DWORD code;
    {
      std::lock_guard guard(SyncLock());
      code = self->exit_code;
    }
    throw ThreadUnwind{code};
  }
}

void StartThread(const std::shared_ptr<ThreadObject>& thread) {
  {
    std::lock_guard guard(SyncLock());
    thread->started = true;
  }
  // The creator goes on only once the new thread counts as working, so that a
  // bounded wait for it cannot expire on the virtual clock before it ran.
  std::promise<void> running;
  auto started = running.get_future();
  std::thread([thread, &running] {
    current_thread_id = thread->id;
    current_thread = thread;
    SetCurrentProcessContext(thread->process);
    DWORD code = 0;
    {
      platform::Clock::ActivityScope work;
      running.set_value();
      try {
        code = thread->body();
      } catch (const ThreadUnwind& unwind) {
        code = unwind.exit_code;
      }
      thread->body = nullptr;  // drop what the routine captured
      EndThread(*thread, code);
      if (thread->on_end) {
        {
          std::lock_guard guard(SyncLock());
          code = thread->exit_code;  // a terminated thread keeps the code it was given
        }
        thread->on_end(code);
        thread->on_end = nullptr;
      }
    }
  }).detach();
  started.wait();
}

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

DWORD GetCurrentThreadId() {
  if (current_thread_id == 0) current_thread_id = NewThreadId();
  return current_thread_id;
}

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    LPDWORD thread_id) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>();
  thread->id = NewThreadId();
  thread->process = CurrentProcessContext();
  thread->body = [start, parameter] { return start(parameter); };
  if (thread_id) *thread_id = thread->id;
  HANDLE handle = platform::OpenHandle(thread);
  if (!(flags & CREATE_SUSPENDED)) StartThread(thread);
  return handle;
}

DWORD ResumeThread(HANDLE handle) {
  auto thread = platform::ResolveHandleAs<ThreadObject>(handle);
  if (!thread) return static_cast<DWORD>(-1);
  bool start;
  {
    std::lock_guard guard(SyncLock());
    start = !thread->started && !thread->ended;
  }
  if (start) StartThread(thread);
  return start ? 1 : 0;  // previous suspend count
}

void ExitThread(DWORD exit_code) {
  auto self = current_thread.lock();
  if (!self) {
    // The program's first thread: when it leaves, the program ends.
    ExitCurrentProgram(exit_code);
  }
  {
    std::lock_guard guard(SyncLock());
    self->exit_code = exit_code;
  }
  throw ThreadUnwind{exit_code};
}

BOOL TerminateThread(HANDLE handle, DWORD exit_code) {
  auto thread = platform::ResolveHandleAs<ThreadObject>(handle);
  if (!thread) return FALSE;
  bool never_started;
  {
    std::lock_guard guard(SyncLock());
    never_started = !thread->started;
  }
  thread->terminate_requested = true;
  EndThread(*thread, exit_code);
  if (never_started) thread->body = nullptr;
  return TRUE;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exit_code) {
  if (!exit_code) return fail(ERROR_INVALID_PARAMETER);
  auto thread = platform::ResolveHandleAs<ThreadObject>(handle);
  if (!thread) return FALSE;
  std::lock_guard guard(SyncLock());
  *exit_code = thread->ended ? thread->exit_code : STILL_ACTIVE;
  return TRUE;
}

DWORD GetThreadId(HANDLE handle) {
  auto thread = platform::ResolveHandleAs<ThreadObject>(handle);
  return thread ? thread->id : 0;
}
