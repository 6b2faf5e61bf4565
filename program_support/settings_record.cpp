#include "program_support/settings_record.h"

#include <algorithm>

#include "platform/core/little_endian.h"

namespace shell {
namespace {

uint16_t SwapBytes(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

// Walks the pairs of units of both directions: each unit is replaced by
// code(unit, its mask); with AtZeroPair a pair whose first stored unit is 0
// ends the walk.
template <typename Code>
void CodePairs(uint8_t* bytes, size_t byte_count, ScrambleEnd end, Code code) {
  const size_t pairs = byte_count / 4;
  for (size_t i = 0; i < pairs; ++i) {
    uint8_t* first = bytes + i * 4;
    uint8_t* second = first + 2;
    const uint16_t u = platform::ReadLe16(first);
    if (u == 0 && end == ScrambleEnd::AtZeroPair) return;
    platform::WriteLe16(first, code(u, kScrambleMaskFirst));
    platform::WriteLe16(second, code(platform::ReadLe16(second), kScrambleMaskSecond));
  }
}

}  // namespace

std::u16string FieldText(const uint8_t* bytes, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint16_t unit = platform::ReadLe16(bytes + i);
    if (unit == 0) break;
    text.push_back(static_cast<char16_t>(unit));
  }
  return text;
}

void UnscrambleWords(uint8_t* bytes, size_t byte_count, ScrambleEnd end) {
  CodePairs(bytes, byte_count, end,
            [](uint16_t unit, uint16_t mask) { return SwapBytes(static_cast<uint16_t>(unit ^ mask)); });
}

void ScrambleWords(uint8_t* bytes, size_t byte_count, ScrambleEnd end) {
  CodePairs(bytes, byte_count, end,
            [](uint16_t unit, uint16_t mask) { return static_cast<uint16_t>(SwapBytes(unit) ^ mask); });
}

std::u16string ExpandLineBreaks(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u'n') {
      out.push_back(u'\n');
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

SettingsFields DecodeSettingsRecord(const std::vector<uint8_t>& file_bytes) {
  std::u16string texts[kSettingsFieldCount];
  for (size_t f = 0; f < kSettingsFieldCount; ++f) {
    uint8_t field[128] = {};
    size_t offset = kSettingsFieldOffset[f];
    size_t size = kSettingsFieldSize[f];
    if (offset < file_bytes.size()) {
      size_t have = std::min(size, file_bytes.size() - offset);
      std::copy_n(file_bytes.begin() + static_cast<std::ptrdiff_t>(offset), have, field);
    }
    UnscrambleWords(field, size);
    texts[f] = FieldText(field, size);
  }
  SettingsFields out;
  out.text1 = ExpandLineBreaks(texts[0]);
  out.text2 = ExpandLineBreaks(texts[1]);
  out.text3 = texts[2];
  out.language = texts[3];
  out.number = texts[4];
  return out;
}

bool EncodeSettingsRecord(const SettingsFields& fields, std::vector<uint8_t>& out, std::string* error) {
  out.clear();
  const std::u16string* texts[kSettingsFieldCount] = {&fields.text1, &fields.text2, &fields.text3,
                                                      &fields.language, &fields.number};
  std::vector<uint8_t> record(kSettingsRecordSize, 0);
  for (size_t f = 0; f < kSettingsFieldCount; ++f) {
    size_t max_units = kSettingsFieldSize[f] / 2 - 1;
    const std::u16string& text = *texts[f];
    if (text.size() > max_units || text.find(u'\0') != std::u16string::npos) {
      if (error)
        *error = "field " + std::to_string(f + 1) + " holds " + std::to_string(text.size()) +
                 " characters or a zero; at most " + std::to_string(max_units) + " fit";
      return false;
    }
    uint8_t* field = record.data() + kSettingsFieldOffset[f];
    for (size_t i = 0; i < text.size(); ++i) platform::WriteLe16(field + i * 2, static_cast<uint16_t>(text[i]));
    ScrambleWords(field, kSettingsFieldSize[f]);
  }
  out = std::move(record);
  return true;
}

}  // namespace shell
