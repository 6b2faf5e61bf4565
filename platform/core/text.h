// Conversions between the programs' UTF-16 text and the host's UTF-8. The
// ANSI and OEM code pages (1252, 932, 437) are in platform/core/code_page.h.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/types.h"

namespace platform {

// Unpaired surrogates and malformed UTF-8 become U+FFFD; nothing is dropped silently.
std::string to_utf8(std::u16string_view text);
std::u16string to_utf16(std::string_view utf8);

// The same conversions appending to `out`. With `strict`, malformed input
// fails (false) instead of becoming U+FFFD; what was converted stays in `out`.
bool DecodeUtf8(std::string_view in, std::u16string& out, bool strict);
bool EncodeUtf8(std::u16string_view in, std::string& out, bool strict);

}  // namespace platform
