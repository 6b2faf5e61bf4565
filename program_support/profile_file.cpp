#include "program_support/profile_file.h"

#include <vector>

#include "platform/fs/file_api.h"
#include "program_support/number_text.h"

namespace {

constexpr DWORD kMaxProfileBytes = 4u << 20;

std::u16string Folded(CString text) {
  text.Trim();
  text.MakeUpper();
  return text.str();
}

CString DecodeText(const std::vector<BYTE>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    return CString(text);
  }
  size_t start = 0;
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) start = 3;
  // Through the ANSI code page, as the profile routines read narrow files.
  std::string narrow(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end());
  return CString(narrow.c_str(), static_cast<int>(narrow.size()));
}

}  // namespace

ProfileFile::ProfileFile(const CString& path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::vector<BYTE> bytes;
  BYTE chunk[8192];
  DWORD read = 0;
  while (bytes.size() < kMaxProfileBytes && ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
    bytes.insert(bytes.end(), chunk, chunk + read);
  CloseHandle(file);
  parse(bytes);
}

ProfileFile::ProfileFile(const std::vector<BYTE>& bytes) { parse(bytes); }

void ProfileFile::parse(const std::vector<BYTE>& bytes) {
  loaded_ = true;
  const CString text = DecodeText(bytes);
  std::map<std::u16string, CString>* current = nullptr;
  int position = 0;
  while (position >= 0 && position < text.GetLength()) {
    int end = text.Find(u'\n', position);
    CString line = end < 0 ? text.Mid(position) : text.Mid(position, end - position);
    position = end < 0 ? -1 : end + 1;
    line.Trim();
    if (line.IsEmpty() || line[0] == u';') continue;
    if (line[0] == u'[') {
      const int close = line.Find(u']');
      const CString name = close < 0 ? line.Mid(1) : line.Mid(1, close - 1);
      current = &sections_[Folded(name)];
      continue;
    }
    const int equals = line.Find(u'=');
    if (!current || equals <= 0) continue;
    CString value = line.Mid(equals + 1);
    value.Trim();
    if (value.GetLength() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value[value.GetLength() - 1] == value[0])
      value = value.Mid(1, value.GetLength() - 2);
    current->emplace(Folded(line.Left(equals)), value);
  }
}

const CString* ProfileFile::find(const CString& section, const CString& key) const {
  auto s = sections_.find(Folded(section));
  if (s == sections_.end()) return nullptr;
  auto k = s->second.find(Folded(key));
  return k == s->second.end() ? nullptr : &k->second;
}

int32_t ProfileFile::get_int(const CString& section, const CString& key, int32_t fallback) const {
  const CString* value = find(section, key);
  return value ? TextToLong(*value) : fallback;
}

CString ProfileFile::get_text(const CString& section, const CString& key, const CString& fallback,
                              int32_t max_chars) const {
  const CString* value = find(section, key);
  const CString& chosen = value ? *value : fallback;
  return max_chars >= 0 && chosen.GetLength() > max_chars ? chosen.Left(max_chars) : chosen;
}
