#include "platform/fs/path_name.h"

#include "platform/core/error.h"

namespace platform::fs {

namespace {

constexpr size_t kMaxComponent = 255;
constexpr size_t kMaxPath = 32767;

std::u16string number_text(int n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

bool is_sep(char16_t c) { return c == u'\\' || c == u'/'; }

bool starts_no_case(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool bad_char(char16_t c) {
  return c < 32 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*';
}

// Appends the components of `rest` to `out`, normalising unless `literal`.
DWORD add_components(std::u16string_view rest, bool literal, VolumePath* out, bool* trailing) {
  *trailing = !rest.empty() && is_sep(rest.back());
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && is_sep(rest[i])) ++i;
    size_t start = i;
    while (i < rest.size() && !is_sep(rest[i])) ++i;
    std::u16string part(rest.substr(start, i - start));
    if (part.empty()) continue;
    if (part == u".") continue;
    if (part == u"..") {
      if (!out->empty()) out->pop_back();  // never above the root
      continue;
    }
    if (!literal) {
      while (!part.empty() && (part.back() == u' ' || part.back() == u'.')) part.pop_back();
      if (part.empty()) continue;
    }
    for (char16_t c : part)
      if (bad_char(c)) return ERROR_INVALID_NAME;
    if (part.size() > kMaxComponent) return ERROR_FILENAME_EXCED_RANGE;
    out->push_back(std::move(part));
  }
  return ERROR_SUCCESS;
}

// Reads decimal digits at the start of `s`; -1 when there are none or too many.
int leading_number(std::u16string_view s, size_t* used) {
  int n = 0;
  size_t i = 0;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9' && i < 6) n = n * 10 + (s[i++] - u'0');
  *used = i;
  return i ? n : -1;
}

DWORD parse_prefixed(std::u16string_view name, std::u16string_view r, bool literal, ParsedName* out) {
  // r is what follows "\\?\" or "\\.\".
  if (r.size() >= 2 && is_letter(r[0]) && r[1] == u':') {
    if (r.size() == 2) {
      out->kind = NameKind::Device;
      out->device = std::u16string(name);
      return ERROR_SUCCESS;
    }
    if (!is_sep(r[2])) return ERROR_INVALID_NAME;
    out->root = RootKind::DriveLetter;
    out->letter = FoldCase(r[0]);
    return add_components(r.substr(3), literal, &out->components, &out->trailing_separator);
  }
  if (starts_no_case(r, u"pipe\\") || starts_no_case(r, u"pipe/")) {
    out->kind = NameKind::Pipe;
    out->device = std::u16string(name);
    return ERROR_SUCCESS;
  }
  if (starts_no_case(r, u"Volume{")) {
    size_t close = r.find(u'}');
    if (close == std::u16string_view::npos) return ERROR_INVALID_NAME;
    out->volume_guid = std::u16string(r.substr(6, close - 5));
    std::u16string_view after = r.substr(close + 1);
    if (after.empty()) {
      out->kind = NameKind::Device;
      out->device = std::u16string(name);
      return ERROR_SUCCESS;
    }
    if (!is_sep(after[0])) return ERROR_INVALID_NAME;
    out->root = RootKind::VolumeGuid;
    return add_components(after.substr(1), literal, &out->components, &out->trailing_separator);
  }
  struct {
    std::u16string_view prefix;
    RootKind kind;
  } const devices[] = {
      {u"GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", RootKind::ShadowCopy},
      {u"GLOBALROOT\\Device\\HarddiskVolume", RootKind::HarddiskVolume},
  };
  for (auto& d : devices) {
    if (!starts_no_case(r, d.prefix)) continue;
    size_t used = 0;
    int n = leading_number(r.substr(d.prefix.size()), &used);
    if (n < 0) return ERROR_INVALID_NAME;
    std::u16string_view after = r.substr(d.prefix.size() + used);
    out->number = n;
    out->root = d.kind;
    if (after.empty()) {
      out->kind = NameKind::Device;
      out->device = std::u16string(name);
      return ERROR_SUCCESS;
    }
    if (!is_sep(after[0])) return ERROR_INVALID_NAME;
    return add_components(after.substr(1), literal, &out->components, &out->trailing_separator);
  }
  // PhysicalDriveN, CdRomN and every other device name.
  out->kind = NameKind::Device;
  out->device = std::u16string(name);
  return ERROR_SUCCESS;
}

}  // namespace

char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
    // Latin Extended-A pairs: even upper, odd lower (shifted between 0x139 and 0x148, 0x179 and 0x17E).
    bool shifted = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (shifted ? (c % 2 == 0) : (c % 2 == 1)) return c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 32;                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;  // full-width Latin
  return c;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

DWORD ParseName(std::u16string_view name, std::u16string_view current, ParsedName* out) {
  *out = ParsedName{};
  if (name.empty()) return ERROR_PATH_NOT_FOUND;
  if (name.size() > kMaxPath) return ERROR_FILENAME_EXCED_RANGE;
  for (char16_t c : name)
    if (c == 0) return ERROR_INVALID_NAME;
  if (name.size() >= 4 && is_sep(name[0]) && is_sep(name[1]) && (name[2] == u'?' || name[2] == u'.') &&
      is_sep(name[3]))
    return parse_prefixed(name, name.substr(4), name[2] == u'?', out);
  if (name.size() >= 4 && name[0] == u'\\' && name[1] == u'?' && name[2] == u'?' && name[3] == u'\\')
    return parse_prefixed(name, name.substr(4), true, out);  // "\??\C:\..." as reparse targets spell it
  if (name.size() >= 2 && is_sep(name[0]) && is_sep(name[1])) return ERROR_BAD_PATHNAME;  // \\server\share
  if (name.size() >= 2 && is_letter(name[0]) && name[1] == u':') {
    WCHAR letter = FoldCase(name[0]);
    std::u16string_view rest = name.substr(2);
    if (!rest.empty() && is_sep(rest[0])) {
      out->letter = letter;
      return add_components(rest, false, &out->components, &out->trailing_separator);
    }
    // "C:name": relative to the current folder when it is on that drive, else to the root.
    ParsedName base;
    if (!current.empty() && ParseName(current, u"", &base) == ERROR_SUCCESS && base.kind == NameKind::File &&
        base.root == RootKind::DriveLetter && base.letter == letter) {
      *out = base;
      out->trailing_separator = false;
    } else {
      out->letter = letter;
    }
    return add_components(rest, false, &out->components, &out->trailing_separator);
  }
  // Relative to the current folder, or to its root for "\name".
  if (current.empty()) return ERROR_PATH_NOT_FOUND;
  ParsedName base;
  DWORD e = ParseName(current, u"", &base);
  if (e || base.kind != NameKind::File) return ERROR_PATH_NOT_FOUND;
  *out = base;
  out->trailing_separator = false;
  if (is_sep(name[0])) out->components.clear();
  return add_components(name, false, &out->components, &out->trailing_separator);
}

std::u16string FullPathText(const ParsedName& name) {
  std::u16string out;
  switch (name.root) {
    case RootKind::DriveLetter:
      out = std::u16string(1, name.letter) + u":";
      break;
    case RootKind::VolumeGuid:
      out = u"\\\\?\\Volume" + name.volume_guid;
      break;
    case RootKind::HarddiskVolume:
      out = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume" + number_text(name.number);
      break;
    case RootKind::ShadowCopy:
      out = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" + number_text(name.number);
      break;
  }
  if (name.components.empty()) return out + u"\\";
  for (auto& c : name.components) out += u"\\" + c;
  return out;
}

}  // namespace platform::fs
