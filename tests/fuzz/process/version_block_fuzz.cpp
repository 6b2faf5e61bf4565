// Version blocks from untrusted bytes: every lookup stays inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/process/version_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy so that any read past the end is caught.
  std::vector<uint8_t> block(data, data + size);
  static const char16_t* paths[] = {u"\\", u"\\StringFileInfo\\040904b0\\FileVersion",
                                    u"\\StringFileInfo\\040904b0\\ProductName", u"\\VarFileInfo\\Translation",
                                    u"\\a\\b\\c\\d\\e\\f\\g\\h\\i"};
  for (const char16_t* path : paths) {
    const uint8_t* value = nullptr;
    UINT length = 0;
    if (platform::process::FindVersionValue(block.data(), block.size(), path, &value, &length)) {
      if (value < block.data() || value > block.data() + block.size()) __builtin_trap();
      volatile uint8_t sink = 0;
      size_t bytes = std::char_traits<char16_t>::length(path) > 1 && path[1] == u'S' ? size_t{length} * 2 : length;
      if (value + bytes > block.data() + block.size()) __builtin_trap();
      for (size_t i = 0; i < bytes; ++i) sink = sink ^ value[i];
      (void)sink;
    }
  }
  return 0;
}
