#include "platform/fs/fat/short_name.h"

#include <string_view>

namespace platform::fs::fat {

namespace {

// Code page 437, bytes 0x80..0xFF, for reading short names written elsewhere.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// Punctuation valid in short names besides letters and digits.
constexpr std::u16string_view kShortPunctuation = u"!#$%&'()-@^_`{}~";

bool is_short_char(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || kShortPunctuation.find(c) != std::u16string_view::npos;
}
bool is_lower(char16_t c) { return c >= u'a' && c <= u'z'; }
bool is_upper(char16_t c) { return c >= u'A' && c <= u'Z'; }

void fill(ShortName* out, std::u16string_view base, std::u16string_view ext) {
  out->fill(' ');
  for (size_t i = 0; i < base.size() && i < 8; ++i) (*out)[i] = uint8_t(base[i]);
  for (size_t i = 0; i < ext.size() && i < 3; ++i) (*out)[8 + i] = uint8_t(ext[i]);
}

// A short hash of the whole long name, for the alias form used after the fourth collision.
uint16_t name_hash(const std::u16string& name, uint32_t seed) {
  uint32_t h = 2166136261u ^ (seed * 0x9E3779B9u);
  for (char16_t c : name) {
    h ^= c & 0xFF;
    h *= 16777619u;
    h ^= c >> 8;
    h *= 16777619u;
  }
  return uint16_t(h ^ (h >> 16));
}

}  // namespace

char16_t UpcaseChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A mostly pairs upper/lower as even/odd, with a shifted stretch.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : char16_t(c - 1);
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? char16_t(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return char16_t(c - 32);
  if (c >= 0x430 && c <= 0x44F) return char16_t(c - 32);
  if (c >= 0x450 && c <= 0x45F) return char16_t(c - 80);
  return c;
}

std::u16string Upcase(const std::u16string& s) {
  std::u16string r(s);
  for (auto& c : r) c = UpcaseChar(c);
  return r;
}

bool NamesEqual(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpcaseChar(a[i]) != UpcaseChar(b[i])) return false;
  return true;
}

bool IsValidLongName(const std::u16string& name) {
  if (name.empty() || name.size() > 255 || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case u'<': case u'>': case u':': case u'"': case u'/': case u'\\': case u'|': case u'?': case u'*':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool AsciiShortForm(const std::u16string& text, ShortName* out) {
  size_t dot = text.find(u'.');
  size_t base = dot == std::u16string::npos ? text.size() : dot;
  size_t ext = dot == std::u16string::npos ? 0 : text.size() - dot - 1;
  if (base == 0 || base > 8 || ext > 3 || (dot != std::u16string::npos && ext == 0)) return false;
  out->fill(' ');
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == dot) continue;
    char16_t c = text[i];
    if (c < 0x20 || c >= 0x80 || c == u'.') return false;
    uint8_t b = uint8_t(c >= u'a' && c <= u'z' ? c - 32 : c);
    (*out)[i < base ? i : 8 + (i - dot - 1)] = b;
  }
  return true;
}

std::u16string ShortNameText(const ShortName& raw, uint8_t case_flags) {
  auto decode = [](uint8_t b) -> char16_t { return b < 0x80 ? char16_t(b) : kCp437High[b - 0x80]; };
  std::u16string base, ext;
  for (int i = 0; i < 8; ++i) {
    uint8_t b = (i == 0 && raw[0] == 0x05) ? 0xE5 : raw[i];  // 0x05 stands for a leading 0xE5
    char16_t c = decode(b);
    if ((case_flags & kLowerBase) && is_upper(c)) c = char16_t(c + 32);
    base += c;
  }
  for (int i = 8; i < 11; ++i) {
    char16_t c = decode(raw[i]);
    if ((case_flags & kLowerExtension) && is_upper(c)) c = char16_t(c + 32);
    ext += c;
  }
  while (!base.empty() && base.back() == u' ') base.pop_back();
  while (!ext.empty() && ext.back() == u' ') ext.pop_back();
  return ext.empty() ? base : base + u"." + ext;
}

std::u16string OemText(const uint8_t* bytes, size_t length) {
  std::u16string text;
  for (size_t i = 0; i < length; ++i) text += bytes[i] < 0x80 ? char16_t(bytes[i]) : kCp437High[bytes[i] - 0x80];
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return text;
}

uint8_t ShortNameChecksum(const ShortName& raw) {
  uint8_t sum = 0;
  for (uint8_t b : raw) sum = uint8_t(((sum & 1) ? 0x80 : 0) + (sum >> 1) + b);
  return sum;
}

NamePlan PlanName(const std::u16string& name) {
  NamePlan plan;
  size_t dot = name.find(u'.');
  std::u16string_view all(name);
  std::u16string_view base = all.substr(0, dot);
  std::u16string_view ext = dot == std::u16string::npos ? std::u16string_view() : all.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return plan;
  if (dot != std::u16string::npos && ext.empty()) return plan;  // a trailing dot
  auto part_case = [](std::u16string_view part, uint8_t lower_flag, uint8_t* flags) {
    bool any_lower = false, any_upper = false;
    for (char16_t c : part) {
      if (is_lower(c)) any_lower = true;
      else if (is_upper(c)) any_upper = true;
      else if (!is_short_char(c)) return false;
    }
    if (any_lower && any_upper) return false;  // mixed case needs the long name
    if (any_lower) *flags |= lower_flag;
    return true;
  };
  uint8_t flags = 0;
  if (!part_case(base, kLowerBase, &flags) || !part_case(ext, kLowerExtension, &flags)) return plan;
  std::u16string ub = Upcase(std::u16string(base)), ue = Upcase(std::u16string(ext));
  fill(&plan.short_name, ub, ue);
  plan.case_flags = flags;
  plan.needs_long_entries = false;
  return plan;
}

bool GenerateShortName(const std::u16string& name, const std::function<bool(const ShortName&)>& taken,
                       ShortName* out) {
  // Upper-case, drop blanks, replace what a short name cannot hold, strip leading dots.
  std::u16string cleaned;
  for (char16_t c : Upcase(name)) {
    if (c == u' ') continue;
    if (c == u'.') {
      if (cleaned.empty()) continue;  // leading dots
      cleaned += c;
      continue;
    }
    cleaned += (c < 0x80 && is_short_char(c)) ? c : u'_';
  }
  size_t last_dot = cleaned.rfind(u'.');
  std::u16string base, ext;
  for (size_t i = 0; i < cleaned.size() && i < last_dot; ++i)
    if (cleaned[i] != u'.') base += cleaned[i];
  if (last_dot != std::u16string::npos) ext = cleaned.substr(last_dot + 1, 3);
  if (base.empty()) base = u"_";

  ShortName candidate;
  for (int n = 1; n <= 4; ++n) {
    std::u16string tail = u"~" + std::u16string(1, char16_t(u'0' + n));
    fill(&candidate, base.substr(0, 8 - tail.size()) + tail, ext);
    if (!taken(candidate)) {
      *out = candidate;
      return true;
    }
  }
  // After four collisions: two characters of the base, four hex digits of a hash, a tail.
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  for (uint32_t seed = 0; seed < 512; ++seed) {
    uint16_t h = name_hash(name, seed);
    std::u16string stem = base.substr(0, 2);
    for (int shift = 12; shift >= 0; shift -= 4) stem += kHex[(h >> shift) & 0xF];
    for (int n = 1; n <= 9; ++n) {
      std::u16string tail = u"~" + std::u16string(1, char16_t(u'0' + n));
      fill(&candidate, stem + tail, ext);
      if (!taken(candidate)) {
        *out = candidate;
        return true;
      }
    }
  }
  return false;
}

bool ParseShortName(const std::u16string& text, ShortName* out) {
  NamePlan plan = PlanName(text);
  if (plan.needs_long_entries || plan.case_flags) return false;
  *out = plan.short_name;
  return true;
}

}  // namespace platform::fs::fat
