#include "program_support/settings_record.h"

#include <algorithm>

namespace shell {
namespace {

uint16_t LoadUnit(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void StoreUnit(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t SwapBytes(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

}  // namespace

std::u16string FieldText(const uint8_t* bytes, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint16_t unit = LoadUnit(bytes + i);
    if (unit == 0) break;
    text.push_back(static_cast<char16_t>(unit));
  }
  return text;
}

void UnscrambleWords(uint8_t* bytes, size_t byte_count, ScrambleEnd end) {
  size_t pairs = byte_count / 4;
  for (size_t i = 0; i < pairs; ++i) {
    uint8_t* first = bytes + i * 4;
    uint8_t* second = first + 2;
    uint16_t u = LoadUnit(first);
    if (u == 0 && end == ScrambleEnd::AtZeroPair) return;
    StoreUnit(first, SwapBytes(static_cast<uint16_t>(u ^ kScrambleMaskFirst)));
    StoreUnit(second, SwapBytes(static_cast<uint16_t>(LoadUnit(second) ^ kScrambleMaskSecond)));
  }
}

void ScrambleWords(uint8_t* bytes, size_t byte_count, ScrambleEnd end) {
  size_t pairs = byte_count / 4;
  for (size_t i = 0; i < pairs; ++i) {
    uint8_t* first = bytes + i * 4;
    uint8_t* second = first + 2;
    uint16_t u = LoadUnit(first);
    if (u == 0 && end == ScrambleEnd::AtZeroPair) return;
    StoreUnit(first, static_cast<uint16_t>(SwapBytes(u) ^ kScrambleMaskFirst));
    StoreUnit(second, static_cast<uint16_t>(SwapBytes(LoadUnit(second)) ^ kScrambleMaskSecond));
  }
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
    for (size_t i = 0; i < text.size(); ++i) StoreUnit(field + i * 2, static_cast<uint16_t>(text[i]));
    ScrambleWords(field, kSettingsFieldSize[f]);
  }
  out = std::move(record);
  return true;
}

}  // namespace shell
