#include "platform/process/shutdown.h"

#include <cstdio>
#include <mutex>

#include "platform/core/process_exit.h"
#include "platform/process/machine_link.h"
#include "platform/process/privilege.h"

namespace platform::process {

namespace {

std::mutex& handler_lock() {
  static std::mutex m;
  return m;
}

std::function<void(const ShutdownRequest&)>& handler() {
  static auto* h = new std::function<void(const ShutdownRequest&)>;
  return *h;
}

}  // namespace

const char* ShutdownKindName(ShutdownKind kind) {
  switch (kind) {
    case ShutdownKind::LogOff:
      return "logoff";
    case ShutdownKind::Shutdown:
      return "shutdown";
    case ShutdownKind::Reboot:
      return "reboot";
    case ShutdownKind::PowerOff:
      return "poweroff";
  }
  return "shutdown";
}

void RequestMachineShutdown(const ShutdownRequest& request) {
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), " flags=0x%08X reason=0x%08X", request.flags, request.reason);
  MachineLog("shutdown source=" + request.source + " kind=" + ShutdownKindName(request.kind) + numbers);
  std::function<void(const ShutdownRequest&)> h;
  {
    std::lock_guard guard(handler_lock());
    h = handler();
  }
  if (h) {
    h(request);
    return;
  }
  // The machine goes down and takes the host program with it, whichever
  // thread asked: the exit goes straight to the hook, past the interceptor
  // that would end only a stand-in.
  platform::RunExitHandlers();
  auto hook = platform::SetExitHook(nullptr);
  platform::SetExitHook(hook);
  if (hook) hook(0);
  std::fflush(nullptr);
  std::_Exit(0);
}

void SetShutdownHandler(std::function<void(const ShutdownRequest&)> h) {
  std::lock_guard guard(handler_lock());
  handler() = std::move(h);
}

}  // namespace platform::process

using namespace platform::process;

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  ShutdownRequest request;
  request.source = "ExitWindowsEx";
  request.flags = flags;
  request.reason = reason;
  if (flags & EWX_POWEROFF)
    request.kind = ShutdownKind::PowerOff;
  else if (flags & EWX_REBOOT)
    request.kind = ShutdownKind::Reboot;
  else if (flags & EWX_SHUTDOWN)
    request.kind = ShutdownKind::Shutdown;
  else
    request.kind = ShutdownKind::LogOff;
  if (request.kind != ShutdownKind::LogOff && !IsPrivilegeEnabled(SE_SHUTDOWN_NAME)) {
    MachineLog("shutdown refused source=ExitWindowsEx: SeShutdownPrivilege not enabled");
    return platform::fail(ERROR_PRIVILEGE_NOT_HELD);
  }
  RequestMachineShutdown(request);
  return TRUE;
}
