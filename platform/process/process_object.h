// The kernel object behind a process handle.
#pragma once

#include <sys/types.h>

#include <memory>

#include "platform/process/process_context.h"
#include "platform/process/thread_object.h"
#include "platform/process/waitable.h"

namespace platform::process {

class ProcessObject : public Waitable {
 public:
  const char* kind() const override { return "process"; }
  bool is_signaled_locked(DWORD) const override { return ended; }

  std::shared_ptr<ProcessContext> context;
  std::shared_ptr<ThreadObject> main_thread;  // stand-ins only
  pid_t host_pid = 0;                         // real child processes only
  // Guarded by SyncLock.
  bool ended = false;
  DWORD exit_code = 259;
};

// The process behind a handle (GetCurrentProcess() included), or null with
// ERROR_INVALID_HANDLE set.
std::shared_ptr<ProcessContext> ProcessContextOfHandle(HANDLE process);

// The administrator's privileges a new token holds (privilege.cpp).
std::map<DWORD, DWORD> AdministratorPrivileges();

}  // namespace platform::process
