#include "platform/core/guid.h"

#include <mutex>
#include <optional>
#include <random>

namespace platform {
namespace {

struct GuidSource {
  std::mutex mutex;
  std::optional<uint64_t> seeded_state;  // set: deterministic
};

GuidSource& source() {
  static GuidSource s;
  return s;
}

// splitmix64: small, fast, and fully determined by its state.
uint64_t next_seeded(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool read_hex(std::u16string_view text, size_t at, size_t digits, uint64_t* value) {
  uint64_t v = 0;
  for (size_t i = 0; i < digits; ++i) {
    int d = hex_value(text[at + i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

std::u16string GuidToString(const GUID& g) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out = u"{";
  auto put = [&](uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out += kHex[(v >> (i * 4)) & 0xF];
  };
  put(g.Data1, 8);
  out += u'-';
  put(g.Data2, 4);
  out += u'-';
  put(g.Data3, 4);
  out += u'-';
  put(g.Data4[0], 2);
  put(g.Data4[1], 2);
  out += u'-';
  for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
  out += u'}';
  return out;
}

bool ParseGuid(std::u16string_view text, GUID* out) {
  if (text.size() == 38) {
    if (text.front() != u'{' || text.back() != u'}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != u'-' || text[13] != u'-' || text[18] != u'-' || text[23] != u'-') return false;
  GUID g;
  uint64_t v;
  if (!read_hex(text, 0, 8, &v)) return false;
  g.Data1 = static_cast<DWORD>(v);
  if (!read_hex(text, 9, 4, &v)) return false;
  g.Data2 = static_cast<WORD>(v);
  if (!read_hex(text, 14, 4, &v)) return false;
  g.Data3 = static_cast<WORD>(v);
  static constexpr size_t kByteAt[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    if (!read_hex(text, kByteAt[i], 2, &v)) return false;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  if (out) *out = g;
  return true;
}

void SetGuidSeed(uint64_t seed) {
  std::lock_guard lock(source().mutex);
  source().seeded_state = seed;
}

void UseRandomGuids() {
  std::lock_guard lock(source().mutex);
  source().seeded_state.reset();
}

GUID NewGuid() {
  uint64_t hi, lo;
  {
    std::lock_guard lock(source().mutex);
    if (source().seeded_state) {
      hi = next_seeded(*source().seeded_state);
      lo = next_seeded(*source().seeded_state);
    } else {
      std::random_device rd;
      hi = (static_cast<uint64_t>(rd()) << 32) | rd();
      lo = (static_cast<uint64_t>(rd()) << 32) | rd();
    }
  }
  GUID g;
  g.Data1 = static_cast<DWORD>(hi >> 32);
  g.Data2 = static_cast<WORD>(hi >> 16);
  g.Data3 = static_cast<WORD>((hi & 0x0FFF) | 0x4000);  // version 4
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(lo >> (56 - 8 * i));
  g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return g;
}

}  // namespace platform

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int max_chars) {
  std::u16string text = platform::GuidToString(guid);
  if (!buffer || max_chars < static_cast<int>(text.size()) + 1) return 0;
  for (size_t i = 0; i < text.size(); ++i) buffer[i] = text[i];
  buffer[text.size()] = 0;
  return static_cast<int>(text.size()) + 1;
}

namespace {
bool parse_braced(LPCOLESTR text, GUID* out) {
  if (!text || !out) return false;
  std::u16string_view view(text);
  return view.size() == 38 && platform::ParseGuid(view, out);
}
}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out) {
  if (!out) return E_INVALIDARG;
  return parse_braced(text, out) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* out) {
  if (!out) return E_INVALIDARG;
  return parse_braced(text, out) ? S_OK : E_INVALIDARG;
}
