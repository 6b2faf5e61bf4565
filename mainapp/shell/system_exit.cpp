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
#include "program_support/shutdown_privilege.h"

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

bool EnableTokenPrivilege(LPCWSTR privilegeName) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return true;
  DWORD needed = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &needed);
  if (needed >= sizeof(DWORD)) {
    // Kept in 32-bit units so the list's fields are aligned.
    std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    DWORD got = 0;
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &got) &&
        std::min(got, size) >= offsetof(TOKEN_PRIVILEGES, Privileges)) {
      auto* list = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
      // Only the entries that lie wholly inside what was read are walked,
      // whatever the count says.
      const size_t room = (std::min(got, size) - offsetof(TOKEN_PRIVILEGES, Privileges)) /
                          sizeof(LUID_AND_ATTRIBUTES);
      const size_t count = std::min<size_t>(list->PrivilegeCount, room);
      for (size_t i = 0; i < count; ++i) {
        WCHAR name[256] = {};
        DWORD length = 256;
        if (!LookupPrivilegeNameW(nullptr, &list->Privileges[i].Luid, name, &length)) continue;
        if (std::u16string_view(name) != std::u16string_view(privilegeName)) continue;
        list->Privileges[i].Attributes |= SE_PRIVILEGE_ENABLED;
        list->PrivilegeCount = static_cast<DWORD>(count);
        AdjustTokenPrivileges(token, FALSE, list, size, nullptr, nullptr);
        break;
      }
    }
  }
  CloseHandle(token);
  return true;
}

void RunWpeutil(const CString& parameters) {
  ShellExecuteW(nullptr, u"open", u"wpeutil.exe", parameters, nullptr, SW_HIDE);
}
