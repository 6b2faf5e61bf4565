// The live registry: a key tree kept in a registry text file of the simulated
// PC (see regedit_text.h).
//
// Every change is written at once: the file is re-read when another process
// changed it since our last look, the change is applied, and the whole file is
// written to a temporary file, synced and renamed over the old one. An
// advisory lock on "<file>.lock" is held across that read-merge-write, so two
// programs of the suite on one PC never lose each other's writes. The lock
// file also carries a change counter that tells readers when to re-read.
// A damaged file is refused with its line and fault and never overwritten.
#pragma once

#include <memory>
#include <string>

#include "platform/registry/key_tree.h"

namespace platform::registry {

class LiveRegistry final : public KeyStore {
 public:
  // An in-memory registry that no file backs (tests, tools).
  LiveRegistry();
  // Opens the registry file at `host_path`, creating it (with the standard
  // top-level keys) when it does not exist. Returns null with `code`
  // ERROR_BADDB (damaged file), ERROR_CANTOPEN or ERROR_CANTWRITE and a
  // message naming the file, the line and the fault.
  static std::unique_ptr<LiveRegistry> open(const std::string& host_path, LONG& code, std::string& message);
  ~LiveRegistry() override;
  LiveRegistry(const LiveRegistry&) = delete;
  LiveRegistry& operator=(const LiveRegistry&) = delete;

  const std::string& host_path() const { return path_; }
  // The message of the last failed re-read or write, empty when there was none.
  const std::string& last_error() const { return last_error_; }

  LONG open_key(const KeyPath& path) override;
  LONG create_key(const KeyPath& path, bool* created) override;
  LONG delete_key(const KeyPath& path, bool recursive) override;
  LONG subkey_at(const KeyPath& path, DWORD index, std::u16string* name) override;
  LONG value_at(const KeyPath& path, DWORD index, RegValue* value) override;
  LONG get_value(const KeyPath& path, std::u16string_view name, RegValue* value) override;
  LONG set_value(const KeyPath& path, const RegValue& value) override;
  LONG delete_value(const KeyPath& path, std::u16string_view name) override;
  LONG query_info(const KeyPath& path, KeyInfo* info) override;
  LONG flush() override;

 private:
  struct FileStamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t mtime_ns = 0;
    uint64_t counter = 0;
    bool operator==(const FileStamp&) const = default;
  };
  class Lock;

  LONG refresh_locked();
  LONG write_locked(const std::string& bytes);
  bool read_stamp(FileStamp& stamp);
  template <typename Read>
  LONG read(Read&& body);
  template <typename Change>
  LONG change(Change&& body);

  std::unique_ptr<KeyTree> tree_;
  std::string path_;
  int lock_fd_ = -1;
  std::string text_;  // the file's bytes as last read or written
  FileStamp stamp_;
  std::string last_error_;
};

// The live registry that the Reg* calls use. With none opened, a fresh
// in-memory registry serves.
// Opens the file at `host_path` as the live registry and returns
// ERROR_SUCCESS, or an error code with `message` saying what was wrong; the
// registry in use then stays as it was.
LONG OpenLiveRegistry(const std::string& host_path, std::string* message = nullptr);
// Returns to a fresh in-memory registry. Keys of loaded hives stay loaded.
void CloseLiveRegistry();
// What went wrong in the last failed file operation of the registry (opening
// the live file, re-reading or writing it, loading or unloading a hive):
// the file, and the line or record and the fault. Empty when nothing failed.
std::string LastRegistryFault();

}  // namespace platform::registry
