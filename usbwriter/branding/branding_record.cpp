#include "usbwriter/branding/branding_record.h"

#include <algorithm>

#include "program_support/settings_record.h"

namespace {

bool PutText(std::vector<uint8_t>& record, size_t offset, size_t size, const std::u16string& text, const char* name,
             std::string* error) {
  if ((text.size() + 1) * 2 > size) {
    if (error) *error = std::string(name) + " is longer than its field allows";
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    record[offset + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    record[offset + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return true;
}

}  // namespace

void UnscrambleBrandingRecord(uint8_t* buffer, size_t count) {
  shell::UnscrambleWords(buffer, count, shell::ScrambleEnd::AtLastPair);
}

BrandingFields DecodeBrandingRecord(const std::vector<uint8_t>& fileBytes) {
  std::vector<uint8_t> record(kBrandingRecordSize, 0);
  std::copy_n(fileBytes.begin(), std::min(fileBytes.size(), kBrandingRecordSize), record.begin());
  UnscrambleBrandingRecord(record.data(), record.size());
  BrandingFields fields;
  fields.company = shell::FieldText(&record[kBrandCompanyOffset], kBrandTextSize);
  fields.product = shell::FieldText(&record[kBrandProductOffset], kBrandTextSize);
  fields.language = shell::FieldText(&record[kBrandLanguageOffset], kBrandTextSize);
  fields.imageName = shell::FieldText(&record[kBrandImageOffset], kBrandImageSize);
  const uint8_t* f = &record[kBrandFlagsOffset];
  fields.flags = f[0] | f[1] << 8 | f[2] << 16 | static_cast<uint32_t>(f[3]) << 24;
  return fields;
}

bool EncodeBrandingRecord(const BrandingFields& fields, std::vector<uint8_t>& out, std::string* error) {
  out.clear();
  std::vector<uint8_t> record(kBrandingRecordSize, 0);
  if (!PutText(record, kBrandCompanyOffset, kBrandTextSize, fields.company, "company", error) ||
      !PutText(record, kBrandProductOffset, kBrandTextSize, fields.product, "product", error) ||
      !PutText(record, kBrandLanguageOffset, kBrandTextSize, fields.language, "language", error) ||
      !PutText(record, kBrandImageOffset, kBrandImageSize, fields.imageName, "image name", error)) {
    return false;
  }
  for (int i = 0; i < 4; ++i) record[kBrandFlagsOffset + i] = static_cast<uint8_t>(fields.flags >> (8 * i));
  shell::ScrambleWords(record.data(), record.size(), shell::ScrambleEnd::AtLastPair);
  out = std::move(record);
  return true;
}
