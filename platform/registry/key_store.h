// The store behind a tree of registry keys: the live registry's in-memory
// tree and an offline hive both implement it, and the Reg* calls address keys
// by the list of names below the store's root.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/types.h"

namespace platform::registry {

// Key names from the store's root down to one key; empty for the root itself.
using KeyPath = std::vector<std::u16string>;

struct RegValue {
  std::u16string name;  // empty for the default value
  DWORD type = 0;
  std::vector<BYTE> data;

  bool operator==(const RegValue&) const = default;
};

struct KeyInfo {
  DWORD subkeys = 0;
  DWORD values = 0;
  DWORD max_subkey_name = 0;   // characters, without terminator
  DWORD max_value_name = 0;    // characters, without terminator
  DWORD max_value_data = 0;    // bytes
  FILETIME last_write{};
};

// Every operation returns a registry error code: ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_NO_MORE_ITEMS for an
// index past the end, ERROR_BADDB when the backing file is damaged,
// ERROR_CANTWRITE when a change could not be made durable (the store then
// holds what it held before the call).
class KeyStore {
 public:
  virtual ~KeyStore() = default;

  virtual LONG open_key(const KeyPath& path) = 0;
  // Creates the key and any missing parents; *created tells whether the last
  // key was new.
  virtual LONG create_key(const KeyPath& path, bool* created) = 0;
  // Without `recursive` a key that has subkeys is refused with
  // ERROR_ACCESS_DENIED. The root (an empty path) is never deleted: with
  // `recursive` its values and subkeys are removed.
  virtual LONG delete_key(const KeyPath& path, bool recursive) = 0;
  virtual LONG subkey_at(const KeyPath& path, DWORD index, std::u16string* name) = 0;
  virtual LONG value_at(const KeyPath& path, DWORD index, RegValue* value) = 0;
  virtual LONG get_value(const KeyPath& path, std::u16string_view name, RegValue* value) = 0;
  // Replaces a value of the same name in place, or appends a new one.
  virtual LONG set_value(const KeyPath& path, const RegValue& value) = 0;
  virtual LONG delete_value(const KeyPath& path, std::u16string_view name) = 0;
  virtual LONG query_info(const KeyPath& path, KeyInfo* info) = 0;
  virtual LONG flush() = 0;
};

// Registry names compare as the platform compares them: each UTF-16 unit
// upper-cased (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and
// full-width Latin letters), then unit by unit.
char16_t fold_name_char(char16_t c);
std::u16string fold_name(std::u16string_view name);
bool names_equal(std::u16string_view a, std::u16string_view b);
// Order of subkeys in an enumeration.
bool name_less(std::u16string_view a, std::u16string_view b);

// Deepest key path accepted below a root.
constexpr size_t kMaxKeyDepth = 512;

}  // namespace platform::registry
