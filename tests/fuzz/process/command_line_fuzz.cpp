// Command lines and paths from untrusted text: splitting, quoting and path
// folding never fail and quoting round-trips.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/process/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  using namespace platform::process;
  auto args = SplitCommandLine(text);
  std::u16string rebuilt = u"prog";
  for (const auto& a : args) rebuilt += u" " + QuoteArgument(a);
  auto again = SplitCommandLine(rebuilt);
  if (again.size() != args.size() + 1) __builtin_trap();
  for (size_t i = 0; i < args.size(); ++i)
    if (again[i + 1] != args[i]) __builtin_trap();
  (void)NormalizePath(text);
  (void)SplitProgram(text);
  SearchFolders folders{u"C:\\A", u"C:\\B", u"C:\\W\\S", u"C:\\W", text};
  (void)ResolveProgram(nullptr, text, folders, [](const std::u16string& p) { return p.size() % 7 == 0; });
  return 0;
}
