// The Reg* calls: key handles, the root keys, and the dispatch of each key
// path to the live registry or to a loaded hive.
#include "platform/registry/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/core/text.h"
#include "platform/registry/hive_privilege.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/live_registry.h"
#include "platform/registry/regedit_text.h"

namespace platform::registry {
namespace {

enum class Root { LocalMachine, CurrentUser, Users, ClassesRoot };

struct OpenKey {
  Root root;
  KeyPath path;  // below the root
  REGSAM access;
};

struct Mount {
  Root root;  // LocalMachine or Users
  std::u16string name;
  std::u16string hive_path;
  std::string host_path;
  std::unique_ptr<HiveStore> store;
};

struct State {
  std::recursive_mutex mutex;
  std::unique_ptr<LiveRegistry> live = std::make_unique<LiveRegistry>();
  std::unordered_map<uintptr_t, OpenKey> keys;
  uintptr_t next_handle = 0x1000;
  std::vector<std::unique_ptr<Mount>> mounts;
  std::function<bool()> privilege_check;
  std::string fault;
};

State& state() {
  static State s;
  return s;
}

// Where a key lives: the store, the path inside it, and the hive when it is one.
struct Target {
  KeyStore* store = nullptr;
  KeyPath path;
  Mount* mount = nullptr;
  // Keys that are not in the store but listed below this one: hives loaded
  // here, and the current control set link below HKLM\SYSTEM.
  std::vector<std::u16string> extra_names;
  bool is_link = false;  // the path names the control set link itself
};

constexpr std::u16string_view kSystemName = u"SYSTEM";
constexpr std::u16string_view kCurrentControlSet = u"CurrentControlSet";

// HKLM\SYSTEM\CurrentControlSet is a link to the control set that
// HKLM\SYSTEM\Select "Current" names (ControlSet001 when unset).
std::u16string current_control_set(State& s) {
  RegValue current;
  DWORD number = 1;
  if (s.live->get_value({std::u16string(kLocalMachineName), std::u16string(kSystemName), u"Select"}, u"Current",
                        &current) == ERROR_SUCCESS &&
      current.type == REG_DWORD && current.data.size() == 4) {
    const DWORD v = current.data[0] | (current.data[1] << 8) | (current.data[2] << 16) |
                    (static_cast<DWORD>(current.data[3]) << 24);
    if (v >= 1 && v <= 999) number = v;
  }
  char digits[4];
  std::snprintf(digits, sizeof digits, "%03u", static_cast<unsigned>(number));
  return u"ControlSet" + platform::to_utf16(digits);
}

KeyPath live_prefix(Root root) {
  switch (root) {
    case Root::LocalMachine:
      return {std::u16string(kLocalMachineName)};
    case Root::CurrentUser:
      return {std::u16string(kCurrentUserName)};
    case Root::Users:
      return {std::u16string(kUsersName)};
    case Root::ClassesRoot:
      return {std::u16string(kLocalMachineName), u"SOFTWARE", u"Classes"};
  }
  return {};
}

Target resolve(State& s, Root root, const KeyPath& path) {
  KeyPath full = live_prefix(root);
  full.insert(full.end(), path.begin(), path.end());
  Target t;
  for (auto& m : s.mounts) {
    const KeyPath top = live_prefix(m->root);
    if (full.size() >= 2 && names_equal(full[0], top[0]) && names_equal(full[1], m->name)) {
      t.store = m->store.get();
      t.path.assign(full.begin() + 2, full.end());
      t.mount = m.get();
      return t;
    }
    if (full.size() == 1 && names_equal(full[0], top[0])) t.extra_names.push_back(m->name);
  }
  if (full.size() >= 2 && names_equal(full[0], kLocalMachineName) && names_equal(full[1], kSystemName)) {
    if (full.size() == 2) {
      t.extra_names.emplace_back(kCurrentControlSet);
    } else if (names_equal(full[2], kCurrentControlSet)) {
      full[2] = current_control_set(s);
      t.is_link = full.size() == 3;
    }
  }
  std::sort(t.extra_names.begin(), t.extra_names.end(), name_less);
  t.store = s.live.get();
  t.path = std::move(full);
  return t;
}

bool predefined_root(HKEY h, Root* root) {
  if (h == HKEY_LOCAL_MACHINE) *root = Root::LocalMachine;
  else if (h == HKEY_CURRENT_USER) *root = Root::CurrentUser;
  else if (h == HKEY_USERS) *root = Root::Users;
  else if (h == HKEY_CLASSES_ROOT) *root = Root::ClassesRoot;
  else return false;
  return true;
}

LONG lookup(State& s, HKEY h, OpenKey* out) {
  Root root;
  if (predefined_root(h, &root)) {
    *out = OpenKey{root, {}, KEY_ALL_ACCESS};
    return ERROR_SUCCESS;
  }
  auto it = s.keys.find(reinterpret_cast<uintptr_t>(h));
  if (it == s.keys.end()) return ERROR_INVALID_HANDLE;
  *out = it->second;
  return ERROR_SUCCESS;
}

// Splits a subkey path. A trailing backslash is allowed; a leading one, an
// empty name between two backslashes or a line break in a name is not.
LONG split_path(LPCWSTR sub, KeyPath* out) {
  out->clear();
  if (!sub || !*sub) return ERROR_SUCCESS;
  std::u16string_view rest(sub);
  if (rest.front() == u'\\') return ERROR_BAD_PATHNAME;
  while (!rest.empty()) {
    const size_t slash = rest.find(u'\\');
    const std::u16string_view part = rest.substr(0, slash);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > REG_MAX_KEY_NAME) return ERROR_INVALID_PARAMETER;
    // Key names are kept one per line in the registry file.
    if (part.find_first_of(u"\r\n") != std::u16string_view::npos) return ERROR_INVALID_PARAMETER;
    out->emplace_back(part);
    if (slash == std::u16string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  if (out->size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

// A subkey named against an open key or a predefined root: the parent key,
// the full path below its root, and where that path is stored.
struct SubKey {
  OpenKey parent;
  KeyPath sub;
  KeyPath path;
  Target target;
};

LONG locate_sub_key(State& s, HKEY h, LPCWSTR sub_path, SubKey* out) {
  if (const LONG rc = lookup(s, h, &out->parent)) return rc;
  if (const LONG rc = split_path(sub_path, &out->sub)) return rc;
  out->path = out->parent.path;
  out->path.insert(out->path.end(), out->sub.begin(), out->sub.end());
  out->target = resolve(s, out->parent.root, out->path);
  return ERROR_SUCCESS;
}

HKEY add_handle(State& s, OpenKey key) {
  const uintptr_t id = s.next_handle;
  s.next_handle += 4;
  s.keys.emplace(id, std::move(key));
  return reinterpret_cast<HKEY>(id);
}

REGSAM effective_access(REGSAM sam) {
  if (sam & MAXIMUM_ALLOWED) return KEY_ALL_ACCESS;
  return sam & ~KEY_WOW64_RES;
}

// Opens hKey and resolves it; checks that the handle carries `needed`.
LONG target_of(State& s, HKEY h, REGSAM needed, OpenKey* key, Target* t) {
  if (const LONG rc = lookup(s, h, key)) return rc;
  if ((key->access & needed) != needed) return ERROR_ACCESS_DENIED;
  *t = resolve(s, key->root, key->path);
  return ERROR_SUCCESS;
}

// Subkey names below a target, hives loaded there included, in enumeration order.
LONG list_subkeys(Target& t, std::vector<std::u16string>* names) {
  names->clear();
  for (DWORD i = 0;; ++i) {
    std::u16string name;
    const LONG rc = t.store->subkey_at(t.path, i, &name);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    names->push_back(std::move(name));
  }
  names->insert(names->end(), t.extra_names.begin(), t.extra_names.end());
  std::stable_sort(names->begin(), names->end(), name_less);
  names->erase(std::unique(names->begin(), names->end(),
                           [](const std::u16string& a, const std::u16string& b) { return names_equal(a, b); }),
               names->end());
  return ERROR_SUCCESS;
}

LONG subkey_name_at(Target& t, DWORD index, std::u16string* name) {
  if (t.extra_names.empty()) return t.store->subkey_at(t.path, index, name);
  std::vector<std::u16string> names;
  if (const LONG rc = list_subkeys(t, &names)) return rc;
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  *name = names[index];
  return ERROR_SUCCESS;
}

// The key itself may not go: root keys, the classes root and a hive's top key.
bool is_protected(const Target& t) {
  if (t.mount) return t.path.empty();
  if (t.is_link) return true;
  if (t.path.size() <= 1) return true;
  const KeyPath classes = live_prefix(Root::ClassesRoot);
  if (t.path.size() != classes.size()) return false;
  for (size_t i = 0; i < classes.size(); ++i)
    if (!names_equal(t.path[i], classes[i])) return false;
  return true;
}

void note_fault(State& s) {
  if (!s.live->last_error().empty()) s.fault = s.live->last_error();
}

// Hands a value's type and data to the caller: ERROR_MORE_DATA with the
// needed size when the buffer is short, the stored size otherwise.
LONG copy_value_out(const RegValue& v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpType) *lpType = v.type;
  const DWORD size = static_cast<DWORD>(v.data.size());
  if (lpData) {
    if (*lpcbData < size) {
      *lpcbData = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(lpData, v.data.data(), size);
  }
  if (lpcbData) *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG copy_name(const std::u16string& name, LPWSTR buffer, LPDWORD count) {
  if (*count <= name.size()) {
    *count = static_cast<DWORD>(name.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
  buffer[name.size()] = 0;
  *count = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG delete_tree(KeyStore& store, const KeyPath& path) {
  // Children first, bounded by the store's depth limit.
  std::u16string child;
  while (true) {
    const LONG rc = store.subkey_at(path, 0, &child);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    KeyPath sub = path;
    sub.push_back(child);
    if (const LONG d = store.delete_key(sub, true)) return d;
  }
  RegValue v;
  while (true) {
    const LONG rc = store.value_at(path, 0, &v);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    if (const LONG d = store.delete_value(path, v.name)) return d;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG OpenLiveRegistry(const std::string& host_path, std::string* message) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  LONG code = ERROR_SUCCESS;
  std::string why;
  auto live = LiveRegistry::open(host_path, code, why);
  if (!live) {
    s.fault = why;
    if (message) *message = why;
    return code;
  }
  s.live = std::move(live);
  return ERROR_SUCCESS;
}

void CloseLiveRegistry() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.live = std::make_unique<LiveRegistry>();
}

std::string LastRegistryFault() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.fault;
}

void SetHivePrivilegeCheck(std::function<bool()> holds_privileges) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.privilege_check = std::move(holds_privileges);
}

bool HoldsHivePrivileges() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return !s.privilege_check || s.privilege_check();
}

}  // namespace platform::registry

using namespace platform::registry;

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD dwOptions, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (dwOptions & REG_OPTION_CREATE_LINK) return ERROR_NOT_SUPPORTED;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  SubKey key;
  if (const LONG rc = locate_sub_key(s, hKey, lpSubKey, &key)) return rc;
  const OpenKey& parent = key.parent;
  Target& t = key.target;
  bool created = false;
  LONG rc = t.store->open_key(t.path);
  if (rc == ERROR_FILE_NOT_FOUND) {
    if (!(parent.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    rc = t.store->create_key(t.path, &created);
  }
  if (rc != ERROR_SUCCESS) {
    note_fault(s);
    return rc;
  }
  *phkResult = add_handle(s, OpenKey{parent.root, std::move(key.path), effective_access(samDesired)});
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return RegCreateKeyExW(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, phkResult,
                         nullptr);
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  SubKey key;
  if (const LONG rc = locate_sub_key(s, hKey, lpSubKey, &key)) return rc;
  if (const LONG rc = key.target.store->open_key(key.target.path)) {
    note_fault(s);
    return rc;
  }
  *phkResult = add_handle(s, OpenKey{key.parent.root, std::move(key.path), effective_access(samDesired)});
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return RegOpenKeyExW(hKey, lpSubKey, 0, KEY_ALL_ACCESS, phkResult);
}

LSTATUS RegCloseKey(HKEY hKey) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  Root root;
  if (predefined_root(hKey, &root)) return ERROR_SUCCESS;
  return s.keys.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegFlushKey(HKEY hKey) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  OpenKey key;
  Target t;
  if (const LONG rc = target_of(s, hKey, 0, &key, &t)) return rc;
  const LONG rc = t.store->flush();
  if (rc != ERROR_SUCCESS) note_fault(s);
  return rc;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  OpenKey key;
  Target t;
  if (const LONG rc = target_of(s, hKey, KEY_QUERY_VALUE, &key, &t)) return rc;
  RegValue v;
  if (const LONG rc = t.store->get_value(t.path, lpValueName ? lpValueName : u"", &v)) {
    note_fault(s);
    return rc;
  }
  return copy_value_out(v, lpType, lpData, lpcbData);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (!lpData && cbData) return ERROR_NOACCESS;
  RegValue v;
  v.name = lpValueName ? lpValueName : u"";
  // Value names are kept one per line in the registry file.
  if (v.name.size() > REG_MAX_VALUE_NAME || v.name.find_first_of(u"\r\n") != std::u16string::npos)
    return ERROR_INVALID_PARAMETER;
  v.type = dwType;
  if (cbData) v.data.assign(lpData, lpData + cbData);
  auto& s = state();
  std::lock_guard lock(s.mutex);
  OpenKey key;
  Target t;
  if (const LONG rc = target_of(s, hKey, KEY_SET_VALUE, &key, &t)) return rc;
  const LONG rc = t.store->set_value(t.path, v);
  if (rc != ERROR_SUCCESS) note_fault(s);
  return rc;
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  OpenKey key;
  Target t;
  if (const LONG rc = target_of(s, hKey, KEY_SET_VALUE, &key, &t)) return rc;
  const LONG rc = t.store->delete_value(t.path, lpValueName ? lpValueName : u"");
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) note_fault(s);
  return rc;
}

namespace {
LONG delete_key(HKEY hKey, LPCWSTR lpSubKey, bool tree) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  SubKey key;
  if (const LONG rc = locate_sub_key(s, hKey, lpSubKey, &key)) return rc;
  const OpenKey& parent = key.parent;
  Target& t = key.target;
  if (const LONG rc = t.store->open_key(t.path)) return rc;
  LONG rc;
  if (tree && key.sub.empty()) {
    // With no subkey the tree call empties the key it was given.
    if ((parent.access & (KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE)) !=
        (KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE))
      return ERROR_ACCESS_DENIED;
    rc = delete_tree(*t.store, t.path);
  } else if (is_protected(t) || !t.extra_names.empty()) {
    return ERROR_ACCESS_DENIED;
  } else {
    rc = t.store->delete_key(t.path, tree);
  }
  if (rc != ERROR_SUCCESS) note_fault(s);
  return rc;
}
}  // namespace

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  return delete_key(hKey, lpSubKey, false);
}

LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM, DWORD) { return RegDeleteKeyW(hKey, lpSubKey); }

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) { return delete_key(hKey, lpSubKey, true); }

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  OpenKey key;
  Target t;
  if (const LONG rc = target_of(s, hKey, KEY_ENUMERATE_SUB_KEYS, &key, &t)) return rc;
  std::u16string name;
  if (const LONG rc = subkey_name_at(t, dwIndex, &name)) {
    note_fault(s);
    return rc;
  }
  if (const LONG rc = copy_name(name, lpName, lpcchName)) return rc;
  // Keys carry no class names.
  if (lpClass && lpcchClass && *lpcchClass) lpClass[0] = 0;
  if (lpcchClass) *lpcchClass = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName) {
  DWORD count = cchName;
  return RegEnumKeyExW(hKey, dwIndex, lpName, &count, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  OpenKey key;
  Target t;
  if (const LONG rc = target_of(s, hKey, KEY_QUERY_VALUE, &key, &t)) return rc;
  RegValue v;
  if (const LONG rc = t.store->value_at(t.path, dwIndex, &v)) {
    note_fault(s);
    return rc;
  }
  if (const LONG rc = copy_name(v.name, lpValueName, lpcchValueName)) return rc;
  return copy_value_out(v, lpType, lpData, lpcbData);
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  OpenKey key;
  Target t;
  if (const LONG rc = target_of(s, hKey, KEY_QUERY_VALUE, &key, &t)) return rc;
  KeyInfo info;
  if (const LONG rc = t.store->query_info(t.path, &info)) {
    note_fault(s);
    return rc;
  }
  for (const auto& m : t.extra_names) {
    ++info.subkeys;
    info.max_subkey_name = std::max<DWORD>(info.max_subkey_name, m.size());
  }
  if (lpClass && lpcchClass && *lpcchClass) lpClass[0] = 0;
  if (lpcchClass) *lpcchClass = 0;
  if (lpcSubKeys) *lpcSubKeys = info.subkeys;
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.max_subkey_name;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = info.values;
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.max_value_name;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = info.max_value_data;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = info.last_write;
  return ERROR_SUCCESS;
}

LSTATUS RegLoadKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile) {
  if (hKey != HKEY_USERS && hKey != HKEY_LOCAL_MACHINE) return ERROR_INVALID_PARAMETER;
  if (!lpSubKey || !*lpSubKey || !lpFile || !*lpFile) return ERROR_INVALID_PARAMETER;
  const std::u16string name(lpSubKey);
  if (name.size() > REG_MAX_KEY_NAME || name.find(u'\\') != std::u16string::npos) return ERROR_INVALID_PARAMETER;
  if (!HoldsHivePrivileges()) return ERROR_PRIVILEGE_NOT_HELD;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const Root root = hKey == HKEY_USERS ? Root::Users : Root::LocalMachine;
  const std::u16string file(lpFile);
  for (const auto& m : s.mounts) {
    if (m->root == root && names_equal(m->name, name)) return ERROR_ALREADY_EXISTS;
    if (names_equal(m->hive_path, file)) return ERROR_SHARING_VIOLATION;
  }
  KeyPath live_path = live_prefix(root);
  live_path.push_back(name);
  if (s.live->open_key(live_path) == ERROR_SUCCESS) return ERROR_ALREADY_EXISTS;

  const HiveFileAccess& access = CurrentHiveFileAccess();
  std::string host;
  if (access.open) {
    if (const LONG rc = access.open(file, host)) {
      s.fault = platform::to_utf8(file) + ": hive file cannot be reached";
      return rc;
    }
  } else {
    host = platform::to_utf8(file);
  }
  LONG code = ERROR_SUCCESS;
  std::string why;
  auto store = HiveStore::open(host, code, why);
  if (!store) {
    s.fault = why;
    if (access.close) access.close(file, host, false);
    return code;
  }
  auto mount = std::make_unique<Mount>();
  mount->root = root;
  mount->name = name;
  mount->hive_path = file;
  mount->host_path = host;
  mount->store = std::move(store);
  s.mounts.push_back(std::move(mount));
  return ERROR_SUCCESS;
}

LSTATUS RegUnLoadKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (hKey != HKEY_USERS && hKey != HKEY_LOCAL_MACHINE) return ERROR_INVALID_PARAMETER;
  if (!lpSubKey || !*lpSubKey) return ERROR_INVALID_PARAMETER;
  if (!HoldsHivePrivileges()) return ERROR_PRIVILEGE_NOT_HELD;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const Root root = hKey == HKEY_USERS ? Root::Users : Root::LocalMachine;
  auto it = std::find_if(s.mounts.begin(), s.mounts.end(),
                         [&](const auto& m) { return m->root == root && names_equal(m->name, lpSubKey); });
  if (it == s.mounts.end()) return ERROR_FILE_NOT_FOUND;
  Mount* mount = it->get();
  for (const auto& [id, key] : s.keys)
    if (resolve(s, key.root, key.path).mount == mount) return ERROR_ACCESS_DENIED;
  // A flush may already have written the changes; the file layer must still copy them back.
  const bool changed = mount->store->is_modified() || mount->store->was_written();
  if (const LONG rc = mount->store->commit()) {
    // The hive stays loaded, so nothing of the changes is lost.
    s.fault = mount->host_path + ": hive cannot be written";
    return rc;
  }
  std::unique_ptr<Mount> owned = std::move(*it);
  s.mounts.erase(it);
  owned->store.reset();
  const HiveFileAccess& access = CurrentHiveFileAccess();
  if (access.close) {
    if (const LONG rc = access.close(owned->hive_path, owned->host_path, changed)) {
      s.fault = owned->host_path + ": hive cannot be returned to " + platform::to_utf8(owned->hive_path);
      return rc;
    }
  }
  return ERROR_SUCCESS;
}
