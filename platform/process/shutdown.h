// Shutting the simulated PC down: ExitWindowsEx and the WinPE tool's
// shutdown/reboot requests. Nothing on the host shuts down: the request is
// written to the machine log ("shutdown source=ExitWindowsEx kind=shutdown
// flags=0x00000001 reason=0x00000000") and the machine then takes its programs
// down, which ends the host program through the core exit hook (a test's
// ScopedExitTrap catches it) unless a handler set here does something else.
#pragma once

#include <functional>
#include <string>

#include "platform/core/error.h"
#include "platform/core/types.h"

constexpr UINT EWX_LOGOFF = 0x00000000;
constexpr UINT EWX_SHUTDOWN = 0x00000001;
constexpr UINT EWX_REBOOT = 0x00000002;
constexpr UINT EWX_FORCE = 0x00000004;
constexpr UINT EWX_POWEROFF = 0x00000008;
constexpr UINT EWX_FORCEIFHUNG = 0x00000010;
constexpr DWORD SHTDN_REASON_MAJOR_OTHER = 0x00000000;
constexpr DWORD SHTDN_REASON_MINOR_OTHER = 0x00000000;
constexpr DWORD SHTDN_REASON_FLAG_PLANNED = 0x80000000;
constexpr DWORD SHTDN_REASON_MAJOR_OPERATINGSYSTEM = 0x00020000;
constexpr DWORD SHTDN_REASON_MINOR_UPGRADE = 0x00000003;

// Shut-down, reboot and power-off need the caller's SeShutdownPrivilege
// enabled (ERROR_PRIVILEGE_NOT_HELD otherwise); a log-off does not.
BOOL ExitWindowsEx(UINT flags, DWORD reason);

namespace platform::process {

enum class ShutdownKind { LogOff, Shutdown, Reboot, PowerOff };

struct ShutdownRequest {
  std::string source;  // "ExitWindowsEx", "wpeutil"
  ShutdownKind kind = ShutdownKind::Shutdown;
  UINT flags = 0;
  DWORD reason = 0;
};

// Logs the request, then runs the handler (by default: the host program ends
// with exit code 0 through platform::Exit).
void RequestMachineShutdown(const ShutdownRequest& request);

// Replaces what a shut-down does after it is logged; empty restores the default.
void SetShutdownHandler(std::function<void(const ShutdownRequest&)> handler);

const char* ShutdownKindName(ShutdownKind kind);

}  // namespace platform::process
