// 8.3 short names: validity, the case-only variants stored with the lowercase
// flags, and the generation of an alias for a long name (upper-casing, invalid
// characters replaced by "_", blanks and dots stripped, "~1".."~4" tails, then a
// hashed form). Short names are 11 raw bytes, blank padded, in the OEM code
// page; the driver writes ASCII only and reads other bytes as code page 437.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace platform::fs::fat {

using ShortName = std::array<uint8_t, 11>;

constexpr uint8_t kLowerBase = 0x08;       // directory entry +0x0c: base shown in lowercase
constexpr uint8_t kLowerExtension = 0x10;  // directory entry +0x0c: extension shown in lowercase

// Upper-cases one UTF-16 unit the way names compare (ASCII, Latin-1, Latin
// Extended-A, Greek, Cyrillic).
char16_t UpcaseChar(char16_t c);
std::u16string Upcase(const std::u16string& s);
bool NamesEqual(const std::u16string& a, const std::u16string& b);

// True when a long name is acceptable on FAT: 1..255 units, no control
// characters, none of < > : " / \ | ? *, not "." or "..".
bool IsValidLongName(const std::u16string& name);

// The raw, upper-cased form of "NAME.EXT" text made of printable ASCII, for
// comparing against stored short names; false when the text has no such form.
bool AsciiShortForm(const std::u16string& text, ShortName* out);

// The short name as text ("README.TXT"), with the lowercase flags applied.
std::u16string ShortNameText(const ShortName& raw, uint8_t case_flags = 0);

// OEM bytes (code page 437) as text, trailing blanks dropped: volume labels.
std::u16string OemText(const uint8_t* bytes, size_t length);

// The directory-entry checksum a long-name entry carries for its short entry.
uint8_t ShortNameChecksum(const ShortName& raw);

// How a long name is stored.
struct NamePlan {
  bool needs_long_entries = true;  // false: the short entry alone carries the name
  ShortName short_name{};          // the fixed name when !needs_long_entries
  uint8_t case_flags = 0;          // kLowerBase / kLowerExtension for case-only names
};
// Decides whether `name` fits a short entry by itself (a valid 8.3 name, upper
// case or with an all-lower/all-upper base and extension).
NamePlan PlanName(const std::u16string& name);

// Generates the alias for a name that needs long entries. `taken` answers
// whether a short name is already used in the folder. Returns false when no
// free alias exists (after a bounded number of tries).
bool GenerateShortName(const std::u16string& name, const std::function<bool(const ShortName&)>& taken,
                       ShortName* out);

// Parses "NAME.EXT" text into the raw form; false when it is not a valid 8.3 name
// (used for volume labels and tests).
bool ParseShortName(const std::u16string& text, ShortName* out);

}  // namespace platform::fs::fat
