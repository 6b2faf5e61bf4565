// A program's language file (Resources\001.dll: UTF-16LE "KEY:TEXT" lines)
// from untrusted bytes, read through a handle as the program reads it: the
// table holds two slots per counted line, never more lines than the cap, and
// every lookup (a key of the file, a missing one) gives a text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "tests/fuzz/memory_image.h"
#include "platform/core/kobject.h"
#include "program_support/language_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const bool loaded = LoadLanguageTable(
      [&] { return platform::OpenHandle(std::make_shared<fuzz_support::MemoryImage>(bytes)); });
  if (!loaded) std::abort();  // the handle always opens
  if (LanguageTable.strings.size() != 2 * static_cast<size_t>(LanguageTable.languageLineCount)) std::abort();
  for (size_t k = 0; k < LanguageTable.strings.size() && k < 64; k += 2)
    if (!LanguageTable.strings[k].IsEmpty()) LookupString(LanguageTable.strings[k]);
  LookupString(u"IDS_NoSuchKey");
  return 0;
}
