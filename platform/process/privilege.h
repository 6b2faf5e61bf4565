// Process tokens and privileges. Every simulated program runs with an
// elevated administrator's token: it holds the shut-down, backup, restore,
// debug and volume-management privileges (disabled until adjusted) and a few
// enabled by default, and lacks the ones only the system account holds.
#pragma once

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/types.h"

struct LUID {
  DWORD LowPart;   // +0x00
  LONG HighPart;   // +0x04
};
using PLUID = LUID*;
static_assert(sizeof(LUID) == 8);

#pragma pack(push, 4)
struct LUID_AND_ATTRIBUTES {
  LUID Luid;         // +0x00
  DWORD Attributes;  // +0x08 SE_PRIVILEGE_*
};
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12);

struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;                // +0x00
  LUID_AND_ATTRIBUTES Privileges[1];   // +0x04, PrivilegeCount entries
};
#pragma pack(pop)
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;
static_assert(sizeof(TOKEN_PRIVILEGES) == 16);
static_assert(offsetof(TOKEN_PRIVILEGES, Privileges) == 4);

constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;
constexpr DWORD SE_PRIVILEGE_USED_FOR_ACCESS = 0x80000000;

constexpr DWORD TOKEN_ASSIGN_PRIMARY = 0x0001;
constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_QUERY_SOURCE = 0x0010;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD TOKEN_ADJUST_GROUPS = 0x0040;
constexpr DWORD TOKEN_ADJUST_DEFAULT = 0x0080;
constexpr DWORD TOKEN_ADJUST_SESSIONID = 0x0100;
constexpr DWORD TOKEN_ALL_ACCESS = 0x000F01FF;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups = 2, TokenPrivileges = 3, TokenElevation = 20 };

inline constexpr const WCHAR* SE_SHUTDOWN_NAME = u"SeShutdownPrivilege";
inline constexpr const WCHAR* SE_BACKUP_NAME = u"SeBackupPrivilege";
inline constexpr const WCHAR* SE_RESTORE_NAME = u"SeRestorePrivilege";
inline constexpr const WCHAR* SE_DEBUG_NAME = u"SeDebugPrivilege";
inline constexpr const WCHAR* SE_MANAGE_VOLUME_NAME = u"SeManageVolumePrivilege";

BOOL OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token);
BOOL LookupPrivilegeValueW(LPCWSTR system_name, LPCWSTR name, PLUID luid);
// *name_length: in, the buffer's size in characters; out, the name's length
// without its terminator, or the size needed with it when the buffer is short.
BOOL LookupPrivilegeNameW(LPCWSTR system_name, PLUID luid, LPWSTR name, LPDWORD name_length);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class, LPVOID information,
                         DWORD length, PDWORD return_length);
// Succeeds with the last error ERROR_NOT_ALL_ASSIGNED when the token lacks one
// of the named privileges (the others are still adjusted), ERROR_SUCCESS otherwise.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES new_state, DWORD buffer_length,
                           PTOKEN_PRIVILEGES previous_state, PDWORD return_length);

namespace platform::process {

// Whether the calling program's token holds the privilege enabled.
bool IsPrivilegeEnabled(const WCHAR* name);

}  // namespace platform::process
