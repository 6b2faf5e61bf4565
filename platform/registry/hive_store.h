// An offline hive file mounted into the registry: keys and values read and
// written through hivex on an in-memory copy of the file, which reaches the
// file only through commit().
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry/key_store.h"

struct hive_h;

namespace platform::registry {

class HiveStore final : public KeyStore {
 public:
  // Opens and checks the hive at `host_path`. Returns null with `code`
  // ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED or ERROR_BADDB (damaged hive:
  // bad header, blocks, key or value records) and a message naming the file
  // and the fault. The file itself is only read.
  static std::unique_ptr<HiveStore> open(const std::string& host_path, LONG& code, std::string& message);
  ~HiveStore() override;
  HiveStore(const HiveStore&) = delete;
  HiveStore& operator=(const HiveStore&) = delete;

  const std::string& host_path() const { return path_; }
  // Changes not yet written to the file.
  bool is_modified() const { return modified_; }
  // Whether commit() has rewritten the file since the hive was opened.
  bool was_written() const { return written_; }
  // Writes the hive to its file when something changed: a temporary file
  // beside it, synced, then renamed over it. ERROR_CANTWRITE on failure, the
  // old file then stays as it was.
  LONG commit();

  LONG open_key(const KeyPath& path) override;
  LONG create_key(const KeyPath& path, bool* created) override;
  LONG delete_key(const KeyPath& path, bool recursive) override;
  LONG subkey_at(const KeyPath& path, DWORD index, std::u16string* name) override;
  LONG value_at(const KeyPath& path, DWORD index, RegValue* value) override;
  LONG get_value(const KeyPath& path, std::u16string_view name, RegValue* value) override;
  LONG set_value(const KeyPath& path, const RegValue& value) override;
  LONG delete_value(const KeyPath& path, std::u16string_view name) override;
  LONG query_info(const KeyPath& path, KeyInfo* info) override;
  LONG flush() override { return commit(); }

 private:
  HiveStore(hive_h* h, std::string path) : h_(h), path_(std::move(path)) {}
  // Resolves `path` to a node; ERROR_FILE_NOT_FOUND or ERROR_BADDB.
  LONG find(const KeyPath& path, size_t* node);
  LONG read_value(size_t value, RegValue* out);

  hive_h* h_;
  std::string path_;
  bool modified_ = false;
  bool written_ = false;
};

// How a hive path of the simulated PC becomes a host file. `open` gives the
// host path of a file holding the hive; `close` runs after the hive was
// unmounted (`changed` tells whether the host file was rewritten) and may copy
// it back into the simulated volume. Until the file layer installs its own,
// hive paths are host paths and `close` does nothing.
struct HiveFileAccess {
  std::function<LONG(std::u16string_view hive_path, std::string& host_path)> open;
  std::function<LONG(std::u16string_view hive_path, const std::string& host_path, bool changed)> close;
};
// Installs `access`; a default-constructed one restores host paths.
void SetHiveFileAccess(HiveFileAccess access);
const HiveFileAccess& CurrentHiveFileAccess();

}  // namespace platform::registry
