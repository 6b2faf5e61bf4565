#include "platform/core/ascii_case.h"

#include <algorithm>

namespace platform {

namespace {

template <typename Char>
std::basic_string<Char> Folded(std::basic_string_view<Char> text, Char (*fold)(Char)) {
  std::basic_string<Char> out(text);
  for (Char& c : out) c = fold(c);
  return out;
}

template <typename Char>
bool EqualFolded(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace

std::string AsciiUpper(std::string_view text) { return Folded<char>(text, AsciiUpper); }
std::string AsciiLower(std::string_view text) { return Folded<char>(text, AsciiLower); }
std::u16string AsciiUpper(std::u16string_view text) { return Folded<char16_t>(text, AsciiUpper); }
std::u16string AsciiLower(std::u16string_view text) { return Folded<char16_t>(text, AsciiLower); }

bool AsciiEqualNoCase(std::string_view a, std::string_view b) { return EqualFolded(a, b); }
bool AsciiEqualNoCase(std::u16string_view a, std::u16string_view b) { return EqualFolded(a, b); }

bool AsciiStartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && EqualFolded(text.substr(0, prefix.size()), prefix);
}

int AsciiCompareNoCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = AsciiUpper(a[i]), y = AsciiUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace platform
