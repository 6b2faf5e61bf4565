// Pellimor's branding record "\Resources\inf.dll": 17,380 bytes scrambled as
// a whole with the settings record's masks (every pair, no early end).
// After unscrambling:
//   +0x0000 company (256 bytes UTF-16LE)   +0x0100 product (256)
//   +0x0200 language name (256)            +0x0300 default image name (128)
//   +0x0380, +0x03C0 unused (64, 16,384)   +0x43C0 flags (LE 32)
//   +0x43C4 unused (32)
// Each text is read within its own field: one that fills the field without
// a terminator ends at the field's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr size_t kBrandingRecordSize = 17380;
inline constexpr size_t kBrandCompanyOffset = 0x0000;
inline constexpr size_t kBrandProductOffset = 0x0100;
inline constexpr size_t kBrandLanguageOffset = 0x0200;
inline constexpr size_t kBrandImageOffset = 0x0300;
inline constexpr size_t kBrandTextSize = 256;
inline constexpr size_t kBrandImageSize = 128;
inline constexpr size_t kBrandFlagsOffset = 0x43C0;
static_assert(kBrandFlagsOffset + 4 + 32 == kBrandingRecordSize);

inline constexpr uint32_t kFlagWriteBootLoader = 0x1;
inline constexpr uint32_t kFlagNeedBiosBlob = 0x2;

struct BrandingFields {
  std::u16string company;    // as stored (backslash + "n" not yet expanded)
  std::u16string product;
  std::u16string language;
  std::u16string imageName;
  uint32_t flags = 0;
};

// Unscrambles `count` bytes in place (count / 4 pairs).
void UnscrambleBrandingRecord(uint8_t* buffer, size_t count);
// Decodes a record as read from the file; a short file reads as zeros after
// its end (before unscrambling), a longer one is cut to the record's size.
BrandingFields DecodeBrandingRecord(const std::vector<uint8_t>& fileBytes);
// The 17,380 scrambled bytes; false (out empty) when a text does not fit its
// field with room for the terminator.
bool EncodeBrandingRecord(const BrandingFields& fields, std::vector<uint8_t>& out, std::string* error);
