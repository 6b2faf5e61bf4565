#include "platform/fs/ini_profile.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/path_name.h"
#include "platform/fs/shell_folders.h"

namespace {

using platform::fs::EqualNoCase;

constexpr size_t kMaxIniBytes = 16 << 20;  // larger files are not profiles

enum class Encoding { Utf16, Utf8Bom, Plain };

std::u16string full_name(LPCWSTR file) {
  std::u16string name(file);
  if (name.find_first_of(u"\\/:") == std::u16string::npos) return platform::fs::SpecialFolder(CSIDL_WINDOWS) + u"\\" + name;
  return name;
}

bool read_all(const std::u16string& name, std::vector<uint8_t>* bytes) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  uint8_t buf[65536];
  DWORD done = 0;
  while (ReadFile(h, buf, sizeof buf, &done, nullptr) && done && bytes->size() < kMaxIniBytes)
    bytes->insert(bytes->end(), buf, buf + done);
  CloseHandle(h);
  return true;
}

bool valid_utf8(const std::vector<uint8_t>& b, size_t from) {
  for (size_t i = from; i < b.size();) {
    uint8_t c = b[i];
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (extra == 9 || i + extra >= b.size() + (extra ? 0 : 1)) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((b[i + k] & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

std::u16string decode(const std::vector<uint8_t>& b, Encoding* enc) {
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    *enc = Encoding::Utf16;
    std::u16string out;
    for (size_t i = 2; i + 1 < b.size(); i += 2) out += static_cast<char16_t>(b[i] | (b[i + 1] << 8));
    return out;
  }
  size_t from = b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
  *enc = from ? Encoding::Utf8Bom : Encoding::Plain;
  if (valid_utf8(b, from)) return platform::to_utf16(std::string(b.begin() + static_cast<std::ptrdiff_t>(from), b.end()));
  std::u16string out;  // Latin-1
  for (size_t i = from; i < b.size(); ++i) out += static_cast<char16_t>(b[i]);
  return out;
}

std::u16string trim(std::u16string s) {
  size_t a = s.find_first_not_of(u" \t\r");
  if (a == std::u16string::npos) return u"";
  size_t z = s.find_last_not_of(u" \t\r");
  return s.substr(a, z - a + 1);
}

struct Line {
  std::u16string text;
  bool is_section = false;
  std::u16string name;   // section or key name
  std::u16string value;  // for keys
  bool is_key = false;
};

std::vector<Line> parse(const std::u16string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(u'\n', pos);
    if (end == std::u16string::npos) end = text.size();
    Line l;
    l.text = text.substr(pos, end - pos);
    if (!l.text.empty() && l.text.back() == u'\r') l.text.pop_back();
    std::u16string t = trim(l.text);
    if (!t.empty() && t[0] == u'[') {
      size_t close = t.find(u']');
      l.is_section = true;
      l.name = trim(t.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1));
    } else if (!t.empty() && t[0] != u';') {
      size_t eq = t.find(u'=');
      l.is_key = true;
      l.name = trim(t.substr(0, eq));
      std::u16string v = eq == std::u16string::npos ? u"" : trim(t.substr(eq + 1));
      if (v.size() >= 2 && (v[0] == u'"' || v[0] == u'\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
      l.value = v;
    }
    lines.push_back(std::move(l));
    if (end == text.size()) break;
    pos = end + 1;
  }
  return lines;
}

// Copies a NUL-separated list with its final double NUL, as the platform truncates it.
DWORD copy_list(const std::vector<std::u16string>& items, LPWSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size < 2) {
    buffer[0] = 0;
    return 0;
  }
  DWORD used = 0;
  for (auto& item : items) {
    for (char16_t c : item) {
      if (used + 2 >= size) {
        buffer[used] = 0;
        buffer[used + 1] = 0;
        return size - 2;
      }
      buffer[used++] = c;
    }
    if (used + 2 >= size) {
      buffer[used] = 0;
      buffer[used + 1] = 0;
      return size - 2;
    }
    buffer[used++] = 0;
  }
  buffer[used] = 0;
  return used;
}

DWORD copy_text(const std::u16string& text, LPWSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  DWORD n = static_cast<DWORD>(std::min<size_t>(text.size(), size - 1));
  std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return n;
}

}  // namespace

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR default_value, LPWSTR buffer, DWORD size,
                               LPCWSTR file) {
  std::u16string fallback = default_value ? default_value : u"";
  while (!fallback.empty() && fallback.back() == u' ') fallback.pop_back();
  std::vector<uint8_t> bytes;
  Encoding enc;
  if (!file || !read_all(full_name(file), &bytes)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return section && key ? copy_text(fallback, buffer, size) : copy_list({}, buffer, size);
  }
  auto lines = parse(decode(bytes, &enc));
  if (!section) {
    std::vector<std::u16string> names;
    for (auto& l : lines)
      if (l.is_section) names.push_back(l.name);
    return copy_list(names, buffer, size);
  }
  bool inside = false;
  std::vector<std::u16string> keys;
  for (auto& l : lines) {
    if (l.is_section) {
      inside = EqualNoCase(l.name, section);
      continue;
    }
    if (!inside || !l.is_key) continue;
    if (!key) {
      keys.push_back(l.name);
    } else if (EqualNoCase(l.name, key)) {
      SetLastError(ERROR_SUCCESS);
      return copy_text(l.value, buffer, size);
    }
  }
  if (!key) return copy_list(keys, buffer, size);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return copy_text(fallback, buffer, size);
}

UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT default_value, LPCWSTR file) {
  WCHAR buf[64];
  const char16_t kMissing[] = u"\x01missing";
  DWORD n = GetPrivateProfileStringW(section, key, kMissing, buf, 64, file);
  std::u16string text(buf, n);
  if (text == kMissing) return static_cast<UINT>(default_value);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  uint64_t value = 0;
  bool hex = i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X');
  if (hex) i += 2;
  size_t start = i;
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    int digit = c >= u'0' && c <= u'9' ? c - u'0' : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
                                                   : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
  }
  if (i == start || negative) return 0;
  return static_cast<UINT>(value);
}

BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (!section || !file) return platform::fail(ERROR_INVALID_PARAMETER);
  std::u16string name = full_name(file);
  std::vector<uint8_t> bytes;
  Encoding enc = Encoding::Plain;
  bool existed = read_all(name, &bytes);
  auto lines = existed ? parse(decode(bytes, &enc)) : std::vector<Line>{};
  if (!lines.empty() && lines.back().text.empty()) lines.pop_back();
  std::vector<std::u16string> out;
  bool inside = false, section_seen = false, done = false;
  size_t section_end = 0;  // where a new key goes: after the section's last non-blank line
  for (auto& l : lines) {
    if (l.is_section) {
      inside = EqualNoCase(l.name, section);
      if (inside) section_seen = true;
      if (inside && !key) continue;  // the whole section goes
    } else if (inside && !key) {
      continue;
    } else if (inside && l.is_key && EqualNoCase(l.name, key)) {
      if (value && !done) out.push_back(l.name + u"=" + value);
      done = true;
      continue;
    }
    out.push_back(l.text);
    if (inside && !trim(l.text).empty()) section_end = out.size();
  }
  if (key && value && !done) {
    if (section_seen) {
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(section_end), std::u16string(key) + u"=" + value);
    } else {
      out.push_back(u"[" + std::u16string(section) + u"]");
      out.push_back(std::u16string(key) + u"=" + value);
    }
  }
  std::u16string text;
  for (auto& l : out) text += l + u"\r\n";
  std::vector<uint8_t> data;
  if (enc == Encoding::Utf16) {
    data = {0xFF, 0xFE};
    for (char16_t c : text) {
      data.push_back(static_cast<uint8_t>(c & 0xFF));
      data.push_back(static_cast<uint8_t>(c >> 8));
    }
  } else {
    if (enc == Encoding::Utf8Bom) data = {0xEF, 0xBB, 0xBF};
    std::string utf8 = platform::to_utf8(text);
    data.insert(data.end(), utf8.begin(), utf8.end());
  }
  HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  BOOL ok = data.empty() || WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  DWORD e = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(h);
  return e ? platform::fail(e) : TRUE;
}

BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectors_per_cluster, LPDWORD bytes_per_sector, LPDWORD free_clusters,
                       LPDWORD total_clusters) {
  std::u16string wide = root ? platform::to_utf16(root) : std::u16string();
  return GetDiskFreeSpaceW(root ? wide.c_str() : nullptr, sectors_per_cluster, bytes_per_sector, free_clusters,
                           total_clusters);
}
