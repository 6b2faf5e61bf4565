// The boot.ini hand-off from untrusted bytes: the first line is the command
// tail a RunOnce value passes ("/r C: 0 1"), the rest a drive's boot.ini. A
// tail is taken only with a drive letter and a slot from 1 to 4; the rewrite
// keeps the file's length and changes no byte but the one after each
// "partition(", which becomes the slot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/core/text.h"
#include "program_support/boot_ini_fix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t end = input.find('\n');
  const std::string tail = input.substr(0, end);
  std::string text = end == std::string::npos ? std::string() : input.substr(end + 1);
  CString drive;
  char slot = 0;
  if (!ParseBootIniTail(CString(platform::to_utf16(tail).c_str()), &drive, &slot)) slot = '1';
  else if (drive.GetLength() != 2 || drive[1] != u':' || slot < '1' || slot > '4') std::abort();
  const std::string before = text;
  RetargetBootIni(text, slot);
  if (text.size() != before.size()) std::abort();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == before[i]) continue;
    if (text[i] != slot || i < 10 || before.compare(i - 10, 10, "partition(") != 0) std::abort();
  }
  return 0;
}
