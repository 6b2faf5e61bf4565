#include "platform/core/code_page.h"
#include "platform/core/text.h"

#include <iconv.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/core/error.h"

namespace platform {
namespace {

std::atomic<UINT> g_ansi_page{1252};
std::atomic<UINT> g_oem_page{437};

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kJapaneseDefault = 0x30FB;  // KATAKANA MIDDLE DOT

const char* iconv_name(UINT page) {
  switch (page) {
    case 1252: return "CP1252";
    case 932: return "CP932";
    case 437: return "CP437";
    default: return nullptr;
  }
}

// One converter per thread and direction: iconv descriptors carry state and
// must not be shared between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return cd_;
  }

 private:
  iconv_t cd_;
};

Converter* converter(UINT page, bool to_utf16) {
  thread_local std::map<std::pair<UINT, bool>, std::unique_ptr<Converter>> cache;
  auto& slot = cache[{page, to_utf16}];
  if (!slot) {
    const char* name = iconv_name(page);
    if (!name) return nullptr;
    slot = to_utf16 ? std::make_unique<Converter>("UTF-16LE", name) : std::make_unique<Converter>(name, "UTF-16LE");
  }
  return slot->valid() ? slot.get() : nullptr;
}

// Single-byte pages as a table both ways, built once from iconv.
struct SingleBytePage {
  std::array<char16_t, 256> to_unicode{};
  std::array<bool, 256> defined{};
  std::unordered_map<char16_t, uint8_t> from_unicode;
};

const SingleBytePage* single_byte_page(UINT page) {
  static std::mutex mutex;
  static std::map<UINT, std::unique_ptr<SingleBytePage>> pages;
  if (page != 1252 && page != 437) return nullptr;
  std::lock_guard lock(mutex);
  auto& slot = pages[page];
  if (slot) return slot.get();
  Converter* conv = converter(page, true);
  if (!conv) return nullptr;
  auto table = std::make_unique<SingleBytePage>();
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    char* in_ptr = &in;
    size_t in_left = 1;
    char* out_ptr = out;
    size_t out_left = sizeof(out);
    size_t r = iconv(conv->get(), &in_ptr, &in_left, &out_ptr, &out_left);
    if (r != static_cast<size_t>(-1) && out_ptr - out == 2) {
      table->to_unicode[b] = static_cast<char16_t>(static_cast<uint8_t>(out[0]) | (static_cast<uint8_t>(out[1]) << 8));
      table->defined[b] = true;
    } else {
      // The holes of 1252 map to the C1 control of the same value.
      table->to_unicode[b] = static_cast<char16_t>(b);
      table->defined[b] = true;
    }
  }
  for (int b = 255; b >= 0; --b) table->from_unicode[table->to_unicode[b]] = static_cast<uint8_t>(b);
  slot = std::move(table);
  return slot.get();
}

bool is_932_lead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool is_932_trail(uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

void append_utf16le(std::u16string& out, const char* bytes, size_t count) {
  for (size_t i = 0; i + 1 < count; i += 2)
    out += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
}

bool decode_932(std::string_view in, std::u16string& out, bool strict) {
  Converter* conv = converter(932, true);
  if (!conv) return false;
  iconv_t cd = conv->get();
  char* in_ptr = const_cast<char*>(in.data());
  size_t in_left = in.size();
  char buffer[1024];
  while (in_left > 0) {
    char* out_ptr = buffer;
    size_t out_left = sizeof(buffer);
    size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    append_utf16le(out, buffer, static_cast<size_t>(out_ptr - buffer));
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // An undefined or cut-off character: one default character for the lead
    // byte and, when it is a well-formed pair, its trail byte too.
    if (strict) return false;
    out += kJapaneseDefault;
    size_t skip = 1;
    if (in_left >= 2 && is_932_lead(static_cast<uint8_t>(in_ptr[0])) && is_932_trail(static_cast<uint8_t>(in_ptr[1])))
      skip = 2;
    in_ptr += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

bool encode_932(std::u16string_view in, std::string& out, std::string_view fallback, bool* used_default) {
  Converter* conv = converter(932, false);
  if (!conv) return false;
  iconv_t cd = conv->get();
  std::string bytes;
  bytes.reserve(in.size() * 2);
  for (char16_t c : in) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  char* in_ptr = bytes.data();
  size_t in_left = bytes.size();
  char buffer[1024];
  while (in_left > 0) {
    char* out_ptr = buffer;
    size_t out_left = sizeof(buffer);
    size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out.append(buffer, static_cast<size_t>(out_ptr - buffer));
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    out += fallback;
    if (used_default) *used_default = true;
    // Skip one UTF-16 unit, or a whole surrogate pair.
    size_t skip = 2;
    if (in_left >= 4) {
      char16_t hi = static_cast<char16_t>(static_cast<uint8_t>(in_ptr[0]) | (static_cast<uint8_t>(in_ptr[1]) << 8));
      char16_t lo = static_cast<char16_t>(static_cast<uint8_t>(in_ptr[2]) | (static_cast<uint8_t>(in_ptr[3]) << 8));
      if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
    }
    skip = std::min(skip, in_left);
    in_ptr += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

}  // namespace

bool DecodeUtf8(std::string_view in, std::u16string& out, bool strict) {
  size_t i = 0;
  while (i < in.size()) {
    uint8_t b = static_cast<uint8_t>(in[i]);
    char32_t c;
    size_t extra;
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
    } else {
      if (strict) return false;
      out += kReplacement;
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= extra; ++k) {
      if (i + k >= in.size() || (static_cast<uint8_t>(in[i + k]) & 0xC0) != 0x80) break;
      c = (c << 6) | (static_cast<uint8_t>(in[i + k]) & 0x3F);
    }
    static constexpr char32_t kMinFor[] = {0, 0x80, 0x800, 0x10000};
    if (k <= extra || c < kMinFor[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      if (strict) return false;
      out += kReplacement;
      // A truncated sequence is one bad character; an over-long or out-of-range one too.
      i += (k <= extra) ? k : extra + 1;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return true;
}

bool EncodeUtf8(std::u16string_view in, std::string& out, bool strict) {
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (strict) return false;
      c = kReplacement;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}


UINT ResolveCodePage(UINT code_page) {
  switch (code_page) {
    case CP_ACP:
    case CP_THREAD_ACP: return g_ansi_page.load();
    case CP_OEMCP: return g_oem_page.load();
    default: return code_page;
  }
}

bool IsSupportedCodePage(UINT code_page) {
  UINT page = ResolveCodePage(code_page);
  return page == 1252 || page == 932 || page == 437 || page == CP_UTF8;
}

bool SetAnsiCodePage(UINT code_page) {
  if (code_page == CP_ACP || code_page == CP_OEMCP || code_page == CP_THREAD_ACP || !IsSupportedCodePage(code_page))
    return false;
  g_ansi_page = code_page;
  return true;
}

bool SetOemCodePage(UINT code_page) {
  if (code_page == CP_ACP || code_page == CP_OEMCP || code_page == CP_THREAD_ACP || !IsSupportedCodePage(code_page))
    return false;
  g_oem_page = code_page;
  return true;
}

bool DecodeBytes(UINT code_page, std::string_view bytes, std::u16string& out, bool strict) {
  UINT page = ResolveCodePage(code_page);
  out.clear();
  if (page == CP_UTF8) return DecodeUtf8(bytes, out, strict);
  if (page == 932) return decode_932(bytes, out, strict);
  const SingleBytePage* table = single_byte_page(page);
  if (!table) return false;
  out.reserve(bytes.size());
  for (char b : bytes) out += table->to_unicode[static_cast<uint8_t>(b)];
  return true;
}

bool EncodeText(UINT code_page, std::u16string_view text, std::string& out, const char* default_char,
                bool* used_default, bool strict) {
  UINT page = ResolveCodePage(code_page);
  out.clear();
  if (used_default) *used_default = false;
  if (page == CP_UTF8) return EncodeUtf8(text, out, strict);
  std::string fallback = "?";
  if (default_char && default_char[0] != '\0') {
    fallback.assign(1, default_char[0]);
    if (page == 932 && is_932_lead(static_cast<uint8_t>(default_char[0])) && default_char[1] != '\0')
      fallback += default_char[1];
  }
  if (page == 932) return encode_932(text, out, fallback, used_default);
  const SingleBytePage* table = single_byte_page(page);
  if (!table) return false;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto it = table->from_unicode.find(text[i]);
    if (it != table->from_unicode.end()) {
      out += static_cast<char>(it->second);
      continue;
    }
    out += fallback;
    if (used_default) *used_default = true;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;  // one default character for the whole pair
  }
  return true;
}

std::u16string Decode(UINT code_page, std::string_view bytes) {
  std::u16string out;
  if (!DecodeBytes(code_page, bytes, out)) out.clear();
  return out;
}

std::string Encode(UINT code_page, std::u16string_view text) {
  std::string out;
  if (!EncodeText(code_page, text, out)) out.clear();
  return out;
}

}  // namespace platform

UINT GetACP() { return platform::ResolveCodePage(CP_ACP); }
UINT GetOEMCP() { return platform::ResolveCodePage(CP_OEMCP); }
BOOL IsValidCodePage(UINT code_page) {
  return code_page != CP_ACP && code_page != CP_OEMCP && code_page != CP_THREAD_ACP &&
         platform::IsSupportedCodePage(code_page);
}

namespace {

// The checks both conversions make first: a text with a length (-1: up to
// its terminator), an output buffer wherever one is counted and never the
// text itself, and a code page this platform converts. False, with the last
// error set, when one fails.
bool conversion_arguments_ok(UINT code_page, const void* text, int text_units, const void* out, int out_units) {
  if (!text || text_units == 0 || text_units < -1 || out_units < 0 || (out_units > 0 && !out) || (out && out == text) ||
      !platform::IsSupportedCodePage(code_page)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int text_bytes, LPWSTR out, int out_chars) {
  if (!conversion_arguments_ok(code_page, text, text_bytes, out, out_chars)) return 0;
  UINT page = platform::ResolveCodePage(code_page);
  if (page == CP_UTF8 && (flags & ~MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t length = text_bytes == -1 ? std::strlen(text) + 1 : static_cast<size_t>(text_bytes);
  std::u16string wide;
  if (!platform::DecodeBytes(page, std::string_view(text, length), wide, (flags & MB_ERR_INVALID_CHARS) != 0)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (wide.size() > static_cast<size_t>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(wide.size());
  if (out_chars == 0) return needed;
  if (needed > out_chars) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, wide.data(), wide.size() * sizeof(char16_t));
  return needed;
}

int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int text_chars, LPSTR out, int out_bytes,
                        LPCSTR default_char, LPBOOL used_default) {
  if (!conversion_arguments_ok(code_page, text, text_chars, out, out_bytes)) return 0;
  UINT page = platform::ResolveCodePage(code_page);
  if (page == CP_UTF8) {
    // UTF-8 can hold every character: a default character makes no sense.
    if (default_char || used_default) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
  } else if (flags & WC_ERR_INVALID_CHARS) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t length = 0;
  if (text_chars == -1) {
    while (text[length] != 0) ++length;
    ++length;
  } else {
    length = static_cast<size_t>(text_chars);
  }
  std::string bytes;
  bool defaulted = false;
  if (!platform::EncodeText(page, std::u16string_view(text, length), bytes, default_char, &defaulted,
                            (flags & WC_ERR_INVALID_CHARS) != 0)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(bytes.size());
  if (out_bytes != 0 && needed > out_bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (used_default) *used_default = defaulted ? TRUE : FALSE;
  if (out_bytes == 0) return needed;
  std::memcpy(out, bytes.data(), bytes.size());
  return needed;
}
