#include "program_support/token_privileges.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/process/privilege.h"
#include "platform/process/process.h"

void EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
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
