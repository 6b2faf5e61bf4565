// The stick writer's branding record from untrusted bytes, of any length
// (shorter than the record reads as zeros, longer is cut): decoding never
// reads outside the input, and the fields it gives are encoded and decoded
// again to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "usbwriter/branding/branding_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const BrandingFields fields = DecodeBrandingRecord(bytes);
  std::vector<uint8_t> encoded;
  std::string error;
  if (!EncodeBrandingRecord(fields, encoded, &error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  const BrandingFields back = DecodeBrandingRecord(encoded);
  if (back.company != fields.company || back.product != fields.product || back.language != fields.language ||
      back.imageName != fields.imageName || back.flags != fields.flags)
    std::abort();
  return 0;
}
