// The settings record "\Resources\inf.dll" of the program folder: five
// scrambled UTF-16LE fields (three texts, the language name and a number
// text). The reader takes each field strictly within its own size, so a
// field without a terminator never runs into the next one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace shell {

// Layout of the record: field n starts at kFieldOffset[n] and is
// kFieldSize[n] bytes long; 530 bytes in all.
inline constexpr size_t kSettingsFieldCount = 5;
inline constexpr size_t kSettingsFieldOffset[kSettingsFieldCount] = {0, 128, 256, 384, 512};
inline constexpr size_t kSettingsFieldSize[kSettingsFieldCount] = {128, 128, 128, 128, 18};
inline constexpr size_t kSettingsRecordSize = 530;
static_assert(kSettingsFieldOffset[4] + kSettingsFieldSize[4] == kSettingsRecordSize);

// The two 16-bit masks of each pair of units.
inline constexpr uint16_t kScrambleMaskFirst = 0x5E19;
inline constexpr uint16_t kScrambleMaskSecond = 0xC3A7;

// Where a walk over the pairs ends: at the first pair whose first unit is 0
// (the settings record's fields), or only at the last pair (Pellimor's
// branding record, scrambled as a whole).
enum class ScrambleEnd { AtZeroPair, AtLastPair };

// Unscrambles `byte_count` bytes of little-endian 16-bit units in place, by
// pairs (byte_count / 4 of them): with AtZeroPair a pair whose first stored
// unit is 0 ends the walk; otherwise each unit is XORed with its mask and its
// bytes exchanged. Bytes after the last whole pair stay as they are.
void UnscrambleWords(uint8_t* bytes, size_t byte_count, ScrambleEnd end = ScrambleEnd::AtZeroPair);

// The writer's inverse: with AtZeroPair a pair whose first plain unit is 0
// (the terminator) ends the walk, so what follows the text stays zero and the
// reader stops at the same pair.
void ScrambleWords(uint8_t* bytes, size_t byte_count, ScrambleEnd end = ScrambleEnd::AtZeroPair);

struct SettingsFields {
  std::u16string text1;     // backslash + "n" already turned into a line feed
  std::u16string text2;     // likewise
  std::u16string text3;     // as stored
  std::u16string language;  // "English" or "Japanese"
  std::u16string number;    // field 5 as text (at most 9 units)
};

// Decodes a record as read from the file. A short file leaves the missing
// bytes zero, as the reader's zeroed buffers do. Each field's text ends at
// its first zero unit or at the field's end, whichever comes first.
SettingsFields DecodeSettingsRecord(const std::vector<uint8_t>& file_bytes);

// Builds the 530 scrambled bytes for the given texts. Returns false (and
// leaves `out` empty) when a text does not fit its field with room for the
// terminator: 63 units for fields 1 to 4, 8 for field 5.
bool EncodeSettingsRecord(const SettingsFields& fields, std::vector<uint8_t>& out, std::string* error);

// The UTF-16LE text at the start of a field of `size` bytes: up to its first
// zero unit, never beyond the field.
std::u16string FieldText(const uint8_t* bytes, size_t size);

// Replaces every backslash + "n" by a line feed.
std::u16string ExpandLineBreaks(const std::u16string& text);

}  // namespace shell
