// Untrusted bytes through the disk layer's text helpers: INI catalogue files,
// IDENTIFY text fields, number parses, path splits and size texts. No crash,
// no access outside the input or the field, and results that keep their
// promises (a decoded field ends inside itself; leaf and parent come from the path).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "disk/smart_reader.h"
#include "program_support/number_text.h"
#include "program_support/path_helpers.h"
#include "program_support/profile_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::vector<BYTE> bytes(data, data + size);

  ProfileFile profile(bytes);
  const int32_t count = profile.get_int(u"General", u"Max Attributes", 0);
  for (int32_t i = 0; i < 8 && i < count; ++i) {
    CString section;
    section.Format(u"Attrib%d", i);
    const CString name = profile.get_text(section, u"Name", CString(), 1023);
    if (name.GetLength() > 1023) std::abort();
  }

  // An IDENTIFY field of the first byte's length (0..63) inside a guarded copy.
  const int length = data[0] % 64;
  std::vector<BYTE> field(bytes.begin() + 1, bytes.end());
  field.resize(static_cast<size_t>(length) + 16, 0xA5);
  std::vector<BYTE> original = field;
  SmartReader::DecodeIdText(field.data(), length);
  for (size_t i = static_cast<size_t>(length); i < field.size(); ++i)
    if (field[i] != original[i]) std::abort();
  if (length >= 2) {
    bool ended = false;
    for (int i = 0; i + 1 < length; i += 2) ended |= field[i] == 0 && field[i + 1] == 0;
    if (!ended) std::abort();
  }

  std::u16string text;
  for (size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  const CString path(text);
  TextToInt(path);
  TextToInt64(path);
  TextToLong(path);
  const CString leaf = GetPathLeaf(path);
  const CString parent = GetParentPath(path);
  if (leaf.GetLength() > path.GetLength() || parent.GetLength() >= path.GetLength() + (path.IsEmpty() ? 1 : 0))
    std::abort();
  if (path.Right(leaf.GetLength()) != leaf || path.Left(parent.GetLength()) != parent) std::abort();

  uint64_t count64 = 0;
  for (size_t i = 0; i < 8 && i < size; ++i) count64 = count64 << 8 | data[i];
  if (FormatSectorCount(count64).IsEmpty()) std::abort();
  return 0;
}
