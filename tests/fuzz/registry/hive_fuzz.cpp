// An offline hive (a SYSTEM hive, the boot store BCD) from untrusted bytes,
// opened through the hive library as RegLoadKeyW opens one: a damaged hive is
// refused with a message, an accepted one is walked (keys and values, depth
// and count capped), changed (a key and a value added, one value removed) and
// written back, and the written file opens again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "platform/registry/hive_store.h"

namespace {

using platform::registry::HiveStore;
using platform::registry::KeyPath;
using platform::registry::RegValue;

void walk(HiveStore& hive, KeyPath& path, int depth, int& budget) {
  if (depth > 8 || budget <= 0) return;
  for (DWORD i = 0; budget > 0; ++i, --budget) {
    RegValue value;
    if (hive.value_at(path, i, &value) != ERROR_SUCCESS) break;
    RegValue again;
    hive.get_value(path, value.name, &again);
  }
  platform::registry::KeyInfo info;
  hive.query_info(path, &info);
  for (DWORD i = 0; budget > 0; ++i, --budget) {
    std::u16string name;
    if (hive.subkey_at(path, i, &name) != ERROR_SUCCESS) break;
    path.push_back(name);
    walk(hive, path, depth + 1, budget);
    path.pop_back();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char path[] = "/tmp/hive_fuzz_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return 0;
  bool written = write(fd, data, size) == static_cast<ssize_t>(size);
  close(fd);
  if (written) {
    LONG code = 0;
    std::string message;
    auto hive = HiveStore::open(path, code, message);
    if (!hive) {
      if (message.empty() || code == ERROR_SUCCESS) std::abort();  // a refusal always says why
    } else {
      KeyPath root;
      int budget = 2000;
      walk(*hive, root, 0, budget);
      bool created = false;
      if (hive->create_key({u"Fuzz", u"Key"}, &created) == ERROR_SUCCESS) {
        RegValue v{u"Value", 3 /* REG_BINARY */, {1, 2, 3}};
        hive->set_value({u"Fuzz", u"Key"}, v);
      }
      RegValue first;
      if (hive->value_at({}, 0, &first) == ERROR_SUCCESS) hive->delete_value({}, first.name);
      if (hive->commit() == ERROR_SUCCESS && hive->was_written()) {
        hive.reset();
        auto back = HiveStore::open(path, code, message);
        if (!back) std::abort();  // what the library wrote must open again
      }
    }
  }
  unlink(path);
  return 0;
}
