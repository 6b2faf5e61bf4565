#include "platform/process/privilege.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/core/ascii_case.h"
#include "platform/core/kobject.h"
#include "platform/process/process_context.h"
#include "platform/process/process_object.h"

namespace platform::process {

namespace {

struct PrivilegeName {
  DWORD luid;
  const char16_t* name;
  // Attributes in an elevated administrator's token; kNotHeld when absent.
  DWORD admin_attributes;
};

constexpr DWORD kNotHeld = 0xFFFFFFFF;
constexpr DWORD kOnByDefault = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;

constexpr PrivilegeName kPrivileges[] = {
    {2, u"SeCreateTokenPrivilege", kNotHeld},
    {3, u"SeAssignPrimaryTokenPrivilege", kNotHeld},
    {4, u"SeLockMemoryPrivilege", kNotHeld},
    {5, u"SeIncreaseQuotaPrivilege", 0},
    {6, u"SeMachineAccountPrivilege", kNotHeld},
    {7, u"SeTcbPrivilege", kNotHeld},
    {8, u"SeSecurityPrivilege", 0},
    {9, u"SeTakeOwnershipPrivilege", 0},
    {10, u"SeLoadDriverPrivilege", 0},
    {11, u"SeSystemProfilePrivilege", 0},
    {12, u"SeSystemtimePrivilege", 0},
    {13, u"SeProfileSingleProcessPrivilege", 0},
    {14, u"SeIncreaseBasePriorityPrivilege", 0},
    {15, u"SeCreatePagefilePrivilege", 0},
    {16, u"SeCreatePermanentPrivilege", kNotHeld},
    {17, u"SeBackupPrivilege", 0},
    {18, u"SeRestorePrivilege", 0},
    {19, u"SeShutdownPrivilege", 0},
    {20, u"SeDebugPrivilege", 0},
    {21, u"SeAuditPrivilege", kNotHeld},
    {22, u"SeSystemEnvironmentPrivilege", 0},
    {23, u"SeChangeNotifyPrivilege", kOnByDefault},
    {24, u"SeRemoteShutdownPrivilege", 0},
    {25, u"SeUndockPrivilege", 0},
    {26, u"SeSyncAgentPrivilege", kNotHeld},
    {27, u"SeEnableDelegationPrivilege", kNotHeld},
    {28, u"SeManageVolumePrivilege", 0},
    {29, u"SeImpersonatePrivilege", kOnByDefault},
    {30, u"SeCreateGlobalPrivilege", kOnByDefault},
    {31, u"SeTrustedCredManAccessPrivilege", kNotHeld},
    {32, u"SeRelabelPrivilege", kNotHeld},
    {33, u"SeIncreaseWorkingSetPrivilege", 0},
    {34, u"SeTimeZonePrivilege", 0},
    {35, u"SeCreateSymbolicLinkPrivilege", 0},
};

const PrivilegeName* FindByName(std::u16string_view name) {
  for (const auto& p : kPrivileges)
    if (AsciiEqualNoCase(p.name, name)) return &p;
  return nullptr;
}

const PrivilegeName* FindByLuid(const LUID& luid) {
  if (luid.HighPart != 0) return nullptr;
  for (const auto& p : kPrivileges)
    if (p.luid == luid.LowPart) return &p;
  return nullptr;
}

class TokenObject : public KernelObject {
 public:
  TokenObject(std::shared_ptr<ProcessContext> process, DWORD access) : process(std::move(process)), access(access) {}
  const char* kind() const override { return "token"; }
  std::shared_ptr<ProcessContext> process;
  DWORD access;
};

bool IsRemoteSystem(LPCWSTR system_name) { return system_name && system_name[0]; }

}  // namespace

std::map<DWORD, DWORD> AdministratorPrivileges() {
  std::map<DWORD, DWORD> held;
  for (const auto& p : kPrivileges)
    if (p.admin_attributes != kNotHeld) held[p.luid] = p.admin_attributes;
  return held;
}

bool IsPrivilegeEnabled(const WCHAR* name) {
  const PrivilegeName* p = name ? FindByName(name) : nullptr;
  if (!p) return false;
  auto process = CurrentProcessContext();
  std::lock_guard guard(process->token_lock);
  auto it = process->privileges.find(p->luid);
  return it != process->privileges.end() && (it->second & SE_PRIVILEGE_ENABLED);
}

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

BOOL OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token) {
  if (!token) return fail(ERROR_INVALID_PARAMETER);
  *token = nullptr;
  auto context = ProcessContextOfHandle(process);
  if (!context) return FALSE;
  *token = platform::OpenHandle(std::make_shared<TokenObject>(std::move(context), desired_access));
  return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR system_name, LPCWSTR name, PLUID luid) {
  if (!name || !luid) return fail(ERROR_INVALID_PARAMETER);
  if (IsRemoteSystem(system_name)) return fail(ERROR_INVALID_PARAMETER);
  const PrivilegeName* p = FindByName(name);
  if (!p) return fail(ERROR_NO_SUCH_PRIVILEGE);
  luid->LowPart = p->luid;
  luid->HighPart = 0;
  return TRUE;
}

BOOL LookupPrivilegeNameW(LPCWSTR system_name, PLUID luid, LPWSTR name, LPDWORD name_length) {
  if (!luid || !name_length) return fail(ERROR_INVALID_PARAMETER);
  if (IsRemoteSystem(system_name)) return fail(ERROR_INVALID_PARAMETER);
  const PrivilegeName* p = FindByLuid(*luid);
  if (!p) return fail(ERROR_NO_SUCH_PRIVILEGE);
  std::u16string_view text(p->name);
  if (!name || *name_length < text.size() + 1) {
    *name_length = static_cast<DWORD>(text.size() + 1);
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(name, text.data(), text.size() * sizeof(WCHAR));
  name[text.size()] = 0;
  *name_length = static_cast<DWORD>(text.size());
  return TRUE;
}

namespace {

DWORD PrivilegesSize(size_t count) {
  return static_cast<DWORD>(sizeof(DWORD) + (count ? count : 1) * sizeof(LUID_AND_ATTRIBUTES));
}

void StorePrivileges(const std::vector<LUID_AND_ATTRIBUTES>& list, void* out) {
  auto* bytes = static_cast<unsigned char*>(out);
  DWORD count = static_cast<DWORD>(list.size());
  std::memcpy(bytes, &count, sizeof(count));
  if (!list.empty()) std::memcpy(bytes + sizeof(DWORD), list.data(), list.size() * sizeof(LUID_AND_ATTRIBUTES));
}

}  // namespace

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class, LPVOID information, DWORD length,
                         PDWORD return_length) {
  auto object = platform::ResolveHandleAs<TokenObject>(token);
  if (!object) return FALSE;
  if (!return_length) return fail(ERROR_INVALID_PARAMETER);
  if (!(object->access & TOKEN_QUERY)) return fail(ERROR_ACCESS_DENIED);
  if (information_class != TokenPrivileges) return fail(ERROR_INVALID_PARAMETER);
  std::vector<LUID_AND_ATTRIBUTES> list;
  {
    std::lock_guard guard(object->process->token_lock);
    for (auto [luid, attributes] : object->process->privileges)
      list.push_back(LUID_AND_ATTRIBUTES{LUID{luid, 0}, attributes});
  }
  DWORD needed = PrivilegesSize(list.size());
  *return_length = needed;
  if (!information || length < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
  StorePrivileges(list, information);
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES new_state, DWORD buffer_length,
                           PTOKEN_PRIVILEGES previous_state, PDWORD return_length) {
  auto object = platform::ResolveHandleAs<TokenObject>(token);
  if (!object) return FALSE;
  if (!(object->access & TOKEN_ADJUST_PRIVILEGES)) return fail(ERROR_ACCESS_DENIED);
  if (previous_state && !(object->access & TOKEN_QUERY)) return fail(ERROR_ACCESS_DENIED);
  if (!disable_all && !new_state) return fail(ERROR_INVALID_PARAMETER);

  // Requests as (luid, attributes); read through memcpy: the caller's array may be unaligned.
  std::vector<LUID_AND_ATTRIBUTES> requests;
  if (!disable_all) {
    DWORD count = 0;
    std::memcpy(&count, new_state, sizeof(count));
    if (count > 1024) return fail(ERROR_INVALID_PARAMETER);
    requests.resize(count);
    if (count)
      std::memcpy(requests.data(), reinterpret_cast<const unsigned char*>(new_state) + sizeof(DWORD),
                  count * sizeof(LUID_AND_ATTRIBUTES));
  }

  auto& process = *object->process;
  std::lock_guard guard(process.token_lock);
  std::map<DWORD, DWORD> next = process.privileges;
  bool all_assigned = true;
  if (disable_all) {
    for (auto& [luid, attributes] : next) attributes &= ~SE_PRIVILEGE_ENABLED;
  } else {
    for (const auto& r : requests) {
      auto it = r.Luid.HighPart == 0 ? next.find(r.Luid.LowPart) : next.end();
      if (it == next.end()) {
        all_assigned = false;
        continue;
      }
      if (r.Attributes & SE_PRIVILEGE_REMOVED) {
        next.erase(it);
      } else if (r.Attributes & SE_PRIVILEGE_ENABLED) {
        it->second |= SE_PRIVILEGE_ENABLED;
      } else {
        it->second &= ~SE_PRIVILEGE_ENABLED;
      }
    }
  }
  // The previous state lists the privileges whose state changed, as they were.
  std::vector<LUID_AND_ATTRIBUTES> changed;
  for (auto [luid, attributes] : process.privileges) {
    auto it = next.find(luid);
    if (it == next.end() || it->second != attributes) changed.push_back(LUID_AND_ATTRIBUTES{LUID{luid, 0}, attributes});
  }
  if (previous_state) {
    DWORD needed = PrivilegesSize(changed.size());
    if (return_length) *return_length = needed;
    if (buffer_length < needed) return fail(ERROR_INSUFFICIENT_BUFFER);  // nothing changed
    StorePrivileges(changed, previous_state);
  }
  process.privileges = std::move(next);
  SetLastError(all_assigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}
