#include "platform/core/text.h"

namespace platform {

// The converters themselves live with the code pages (code_page.cpp).

std::string to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  EncodeUtf8(text, out, false);
  return out;
}

std::u16string to_utf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  DecodeUtf8(utf8, out, false);
  return out;
}

}  // namespace platform
