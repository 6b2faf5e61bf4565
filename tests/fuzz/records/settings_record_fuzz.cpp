// The install folder's settings record (Resources\inf.dll) from untrusted
// bytes, of any length: decoding never reads outside the input, every field
// ends within its own bytes, and a record the decoder gives is encoded and
// decoded again to the same fields (the codec is its own inverse).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_support/settings_record.h"

using shell::DecodeSettingsRecord;
using shell::EncodeSettingsRecord;
using shell::SettingsFields;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const SettingsFields fields = DecodeSettingsRecord(bytes);
  if (fields.text3.size() > 64 || fields.language.size() > 64 || fields.number.size() > 9) std::abort();
  // The stored texts before the line feeds were expanded are what an encoder takes.
  SettingsFields stored = fields;
  for (std::u16string* text : {&stored.text1, &stored.text2})
    for (size_t at; (at = text->find(u'\n')) != std::u16string::npos;) text->replace(at, 1, u"\\n");
  std::vector<uint8_t> encoded;
  std::string error;
  if (!EncodeSettingsRecord(stored, encoded, &error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  const SettingsFields back = DecodeSettingsRecord(encoded);
  if (back.text3 != fields.text3 || back.language != fields.language || back.number != fields.number) std::abort();
  return 0;
}
