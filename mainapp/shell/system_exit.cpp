#include "mainapp/shell/system_exit.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/core/show_window.h"
#include "platform/fs/shell_folders.h"
#include "platform/process/privilege.h"
#include "platform/process/process.h"
#include "platform/process/shutdown.h"
#include "program_support/shell_state.h"
#include "program_support/token_privileges.h"

namespace {

// Planned, operating system, upgrade.
constexpr DWORD kExitReason = 0x80020003;

CString SystemFolder() {
  WCHAR folder[260] = {};
  UINT length = GetSystemDirectoryW(folder, 260);
  if (length == 0 || length >= 260) return CString();
  return CString(folder);
}

}  // namespace

void RestartOrShutdown(UINT action) {
  if (ShellState.winPEMode) {
    CString folder = SystemFolder();
    ShellExecuteW(nullptr, u"open", u"wpeutil.exe", u"shutdown", folder.GetLength() ? folder.GetString() : nullptr,
                  SW_HIDE);
    return;
  }
  static constexpr UINT kFlags[] = {EWX_REBOOT, EWX_SHUTDOWN, EWX_POWEROFF, EWX_LOGOFF};
  if (action >= 4) return;
  EnableShutdownPrivilege();
  ExitWindowsEx(kFlags[action] | EWX_FORCE, kExitReason);
}

void RunWpeutil(const CString& parameters) {
  ShellExecuteW(nullptr, u"open", u"wpeutil.exe", parameters, nullptr, SW_HIDE);
}
