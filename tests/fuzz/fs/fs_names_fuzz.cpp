// Names, wildcard patterns and security descriptors from untrusted bytes:
// no crash, no read outside the input, and rebuilt descriptors parse back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/core/error.h"
#include "platform/fs/path_name.h"
#include "platform/fs/security_descriptor.h"
#include "platform/fs/wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace platform::fs;
  if (size < 1) return 0;
  // First byte picks the split between the two UTF-16 texts.
  size_t split = size > 1 ? (data[0] % size) & ~size_t{1} : 0;
  std::u16string a, b;
  for (size_t i = 1; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    (i < split ? a : b) += c;
  }
  ParsedName parsed;
  if (ParseName(a, b, &parsed) == ERROR_SUCCESS && parsed.kind == NameKind::File) {
    std::u16string full = FullPathText(parsed);
    ParsedName again;
    // A full path parses to itself.
    if (ParseName(full, u"", &again) != ERROR_SUCCESS || FullPathText(again) != full) std::abort();
  }
  Wildcard pattern(a);
  pattern.matches(b);
  SecurityParts parts;
  if (ParseSelfRelative(data, size, &parts) == ERROR_SUCCESS) {
    auto rebuilt = BuildSelfRelative(parts);
    SecurityParts back;
    if (ParseSelfRelative(rebuilt.data(), rebuilt.size(), &back) != ERROR_SUCCESS) std::abort();
    if (back.owner != parts.owner || back.group != parts.group || back.dacl.has_value() != parts.dacl.has_value())
      std::abort();
  }
  return 0;
}
