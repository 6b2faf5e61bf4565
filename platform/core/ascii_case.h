// ASCII case folding: 'a'..'z' and 'A'..'Z' change case, every other code unit
// stays as it is, whatever the locale. For texts that are ASCII by their
// nature: drive letters, machine.ini keys and values, verbs, tool names.
// Texts users see or name (file names, registry keys) fold with the full
// tables of wide_text.h instead; the FAT driver keeps its own rules for short
// names.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char16_t AsciiUpper(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}
constexpr char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
std::u16string AsciiUpper(std::u16string_view text);
std::u16string AsciiLower(std::u16string_view text);

// Equal once both are folded.
bool AsciiEqualNoCase(std::string_view a, std::string_view b);
bool AsciiEqualNoCase(std::u16string_view a, std::u16string_view b);
// `text` begins with `prefix` once both are folded.
bool AsciiStartsWithNoCase(std::u16string_view text, std::u16string_view prefix);
// -1, 0 or 1 as `a` sorts before, with or after `b` once both are folded to
// upper case (so '_' and the other marks between 'Z' and 'a' sort after the
// letters); a text sorts before the longer ones it begins.
int AsciiCompareNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform
