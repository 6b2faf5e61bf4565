#include "platform/registry/hive_store.h"

#include <fcntl.h>
#include <hivex.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <unordered_set>

#include "platform/core/text.h"

namespace platform::registry {
namespace {

// Bounds of the check that runs when a hive is opened.
constexpr size_t kMaxCheckedKeys = size_t{1} << 22;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using CPtr = std::unique_ptr<T, FreeDeleter>;

// hivex passes value types through its enum, which holds only the common
// ones; any 32-bit type is carried as the enum's underlying integer.
using RawType = std::underlying_type_t<hive_type>;
static_assert(sizeof(RawType) == sizeof(hive_type));

void put_type(hive_set_value& v, DWORD type) {
  const RawType raw = static_cast<RawType>(type);
  std::memcpy(&v.t, &raw, sizeof raw);
}

std::u16string take_name(char* raw) {
  CPtr<char> owned(raw);
  return platform::to_utf16(raw);
}

LONG code_for_errno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    default:
      return ERROR_BADDB;
  }
}

// Walks every key once, reading names, subkey lists and value records, so a
// damaged hive is refused when it is loaded rather than half-way through an edit.
bool check_tree(hive_h* h, std::string& fault) {
  struct Item {
    hive_node_h node;
    size_t depth;
  };
  std::vector<Item> stack{{hivex_root(h), 0}};
  std::unordered_set<hive_node_h> seen;
  while (!stack.empty()) {
    const Item item = stack.back();
    stack.pop_back();
    if (!seen.insert(item.node).second) {
      fault = "key record at offset " + std::to_string(item.node) + " is reached twice (cyclic key list)";
      return false;
    }
    if (seen.size() > kMaxCheckedKeys) {
      fault = "more than " + std::to_string(kMaxCheckedKeys) + " keys";
      return false;
    }
    errno = 0;
    CPtr<char> name(hivex_node_name(h, item.node));
    if (!name) {
      fault = "key record at offset " + std::to_string(item.node) + ": unreadable name";
      return false;
    }
    CPtr<hive_value_h> values(hivex_node_values(h, item.node));
    if (!values) {
      fault = "key \"" + std::string(name.get()) + "\": unreadable value list";
      return false;
    }
    for (size_t i = 0; values.get()[i]; ++i) {
      RawType t;
      size_t len;
      CPtr<char> key(hivex_value_key(h, values.get()[i]));
      if (!key || hivex_value_type(h, values.get()[i], reinterpret_cast<hive_type*>(&t), &len) != 0) {
        fault = "key \"" + std::string(name.get()) + "\": damaged value record";
        return false;
      }
    }
    CPtr<hive_node_h> children(hivex_node_children(h, item.node));
    if (!children) {
      fault = "key \"" + std::string(name.get()) + "\": unreadable subkey list";
      return false;
    }
    for (size_t i = 0; children.get()[i]; ++i) {
      if (item.depth + 1 > kMaxKeyDepth) {
        fault = "keys nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
        return false;
      }
      stack.push_back({children.get()[i], item.depth + 1});
    }
  }
  return true;
}

bool sync_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

HiveFileAccess& access_slot() {
  static HiveFileAccess access;
  return access;
}

}  // namespace

std::unique_ptr<HiveStore> HiveStore::open(const std::string& host_path, LONG& code, std::string& message) {
  errno = 0;
  if (!std::filesystem::is_regular_file(host_path)) {
    code = ERROR_FILE_NOT_FOUND;
    message = host_path + ": no such hive file";
    return nullptr;
  }
  hive_h* h = hivex_open(host_path.c_str(), HIVEX_OPEN_WRITE);
  if (!h) {
    const int e = errno;
    code = code_for_errno(e);
    message = host_path + ": not a readable hive (" + std::strerror(e) + ")";
    return nullptr;
  }
  std::string fault;
  if (!check_tree(h, fault)) {
    hivex_close(h);
    code = ERROR_BADDB;
    message = host_path + ": damaged hive: " + fault;
    return nullptr;
  }
  code = ERROR_SUCCESS;
  return std::unique_ptr<HiveStore>(new HiveStore(h, host_path));
}

HiveStore::~HiveStore() { hivex_close(h_); }

LONG HiveStore::commit() {
  if (!modified_) return ERROR_SUCCESS;
  const std::string temp = path_ + ".commit";
  if (hivex_commit(h_, temp.c_str(), 0) != 0 || !sync_file(temp) || ::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  sync_file(std::filesystem::path(path_).parent_path().empty() ? std::string(".")
                                                                : std::filesystem::path(path_).parent_path().string());
  modified_ = false;
  written_ = true;
  return ERROR_SUCCESS;
}

LONG HiveStore::find(const KeyPath& path, size_t* out) {
  hive_node_h node = hivex_root(h_);
  for (const auto& part : path) {
    CPtr<hive_node_h> children(hivex_node_children(h_, node));
    if (!children) return ERROR_BADDB;
    hive_node_h match = 0;
    for (size_t i = 0; children.get()[i] && !match; ++i) {
      char* raw = hivex_node_name(h_, children.get()[i]);
      if (!raw) return ERROR_BADDB;
      if (names_equal(take_name(raw), part)) match = children.get()[i];
    }
    if (!match) return ERROR_FILE_NOT_FOUND;
    node = match;
  }
  *out = node;
  return ERROR_SUCCESS;
}

LONG HiveStore::read_value(size_t value, RegValue* out) {
  char* key = hivex_value_key(h_, value);
  if (!key) return ERROR_BADDB;
  out->name = take_name(key);
  RawType t = 0;
  size_t len = 0;
  errno = 0;
  CPtr<char> data(hivex_value_value(h_, value, reinterpret_cast<hive_type*>(&t), &len));
  if (!data) return ERROR_BADDB;
  out->type = static_cast<DWORD>(t);
  out->data.assign(reinterpret_cast<const BYTE*>(data.get()), reinterpret_cast<const BYTE*>(data.get()) + len);
  return ERROR_SUCCESS;
}

LONG HiveStore::open_key(const KeyPath& path) {
  size_t node;
  return find(path, &node);
}

LONG HiveStore::create_key(const KeyPath& path, bool* created) {
  if (path.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  hive_node_h node = hivex_root(h_);
  bool last_created = false;
  for (size_t depth = 0; depth < path.size(); ++depth) {
    KeyPath prefix(path.begin(), path.begin() + static_cast<ptrdiff_t>(depth) + 1);
    size_t child = 0;
    const LONG rc = find(prefix, &child);
    if (rc == ERROR_SUCCESS) {
      node = child;
      last_created = false;
      continue;
    }
    if (rc != ERROR_FILE_NOT_FOUND) return rc;
    const std::string name = platform::to_utf8(path[depth]);
    modified_ = true;
    node = hivex_node_add_child(h_, node, name.c_str());
    if (!node) return ERROR_CANTWRITE;
    last_created = true;
  }
  if (created) *created = last_created;
  return ERROR_SUCCESS;
}

LONG HiveStore::delete_key(const KeyPath& path, bool recursive) {
  size_t node;
  if (const LONG rc = find(path, &node)) return rc;
  CPtr<hive_node_h> children(hivex_node_children(h_, node));
  if (!children) return ERROR_BADDB;
  if (!recursive && children.get()[0]) return ERROR_ACCESS_DENIED;
  modified_ = true;
  if (!path.empty()) return hivex_node_delete_child(h_, node) == 0 ? ERROR_SUCCESS : ERROR_CANTWRITE;
  // The root stays: empty it.
  for (size_t i = 0; children.get()[i]; ++i)
    if (hivex_node_delete_child(h_, children.get()[i]) != 0) return ERROR_CANTWRITE;
  return hivex_node_set_values(h_, node, 0, nullptr, 0) == 0 ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG HiveStore::subkey_at(const KeyPath& path, DWORD index, std::u16string* name) {
  size_t node;
  if (const LONG rc = find(path, &node)) return rc == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : rc;
  CPtr<hive_node_h> children(hivex_node_children(h_, node));
  if (!children) return ERROR_BADDB;
  for (DWORD i = 0; children.get()[i]; ++i) {
    if (i == index) {
      char* raw = hivex_node_name(h_, children.get()[i]);
      if (!raw) return ERROR_BADDB;
      *name = take_name(raw);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_NO_MORE_ITEMS;
}

LONG HiveStore::value_at(const KeyPath& path, DWORD index, RegValue* value) {
  size_t node;
  if (const LONG rc = find(path, &node)) return rc == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : rc;
  CPtr<hive_value_h> values(hivex_node_values(h_, node));
  if (!values) return ERROR_BADDB;
  for (DWORD i = 0; values.get()[i]; ++i)
    if (i == index) return read_value(values.get()[i], value);
  return ERROR_NO_MORE_ITEMS;
}

LONG HiveStore::get_value(const KeyPath& path, std::u16string_view name, RegValue* value) {
  size_t node;
  if (const LONG rc = find(path, &node)) return rc == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : rc;
  CPtr<hive_value_h> values(hivex_node_values(h_, node));
  if (!values) return ERROR_BADDB;
  for (size_t i = 0; values.get()[i]; ++i) {
    char* key = hivex_value_key(h_, values.get()[i]);
    if (!key) return ERROR_BADDB;
    if (names_equal(take_name(key), name)) return read_value(values.get()[i], value);
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG HiveStore::set_value(const KeyPath& path, const RegValue& value) {
  size_t node;
  if (const LONG rc = find(path, &node)) return rc == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : rc;
  // A value that exists keeps the name it was stored under.
  RegValue existing;
  const LONG found = get_value(path, value.name, &existing);
  if (found != ERROR_SUCCESS && found != ERROR_FILE_NOT_FOUND) return found;
  std::string key = platform::to_utf8(found == ERROR_SUCCESS ? existing.name : value.name);
  std::vector<BYTE> data = value.data;
  hive_set_value v{};
  v.key = key.data();
  put_type(v, value.type);
  v.len = data.size();
  v.value = reinterpret_cast<char*>(data.data());
  modified_ = true;
  return hivex_node_set_value(h_, node, &v, 0) == 0 ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG HiveStore::delete_value(const KeyPath& path, std::u16string_view name) {
  size_t node;
  if (const LONG rc = find(path, &node)) return rc == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : rc;
  std::vector<RegValue> kept;
  bool found = false;
  for (DWORD i = 0;; ++i) {
    RegValue v;
    const LONG rc = value_at(path, i, &v);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    if (!found && names_equal(v.name, name)) {
      found = true;
      continue;
    }
    kept.push_back(std::move(v));
  }
  if (!found) return ERROR_FILE_NOT_FOUND;
  std::vector<std::string> keys;
  keys.reserve(kept.size());
  std::vector<hive_set_value> list(kept.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    keys.push_back(platform::to_utf8(kept[i].name));
    list[i].key = keys.back().data();
    put_type(list[i], kept[i].type);
    list[i].len = kept[i].data.size();
    list[i].value = reinterpret_cast<char*>(kept[i].data.data());
  }
  modified_ = true;
  return hivex_node_set_values(h_, node, list.size(), list.data(), 0) == 0 ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG HiveStore::query_info(const KeyPath& path, KeyInfo* info) {
  size_t node;
  if (const LONG rc = find(path, &node)) return rc == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : rc;
  *info = KeyInfo{};
  std::u16string name;
  for (DWORD i = 0;; ++i) {
    const LONG rc = subkey_at(path, i, &name);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    ++info->subkeys;
    info->max_subkey_name = std::max<DWORD>(info->max_subkey_name, name.size());
  }
  RegValue v;
  for (DWORD i = 0;; ++i) {
    const LONG rc = value_at(path, i, &v);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    ++info->values;
    info->max_value_name = std::max<DWORD>(info->max_value_name, v.name.size());
    info->max_value_data = std::max<DWORD>(info->max_value_data, v.data.size());
  }
  const int64_t stamp = hivex_node_timestamp(h_, node);
  if (stamp > 0) {
    info->last_write.dwLowDateTime = static_cast<DWORD>(stamp);
    info->last_write.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(stamp) >> 32);
  }
  return ERROR_SUCCESS;
}

void SetHiveFileAccess(HiveFileAccess access) { access_slot() = std::move(access); }
const HiveFileAccess& CurrentHiveFileAccess() { return access_slot(); }

}  // namespace platform::registry
