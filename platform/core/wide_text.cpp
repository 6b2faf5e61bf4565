#include "platform/core/wide_text.h"

#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace {

const char16_t kEmpty[1] = {0};
const char16_t* safe(const char16_t* s) { return s ? s : kEmpty; }

// Unicode case mapping comes from the C library's UTF-8 locale, which every
// glibc has built in; without it only ASCII and Latin-1 are mapped.
locale_t unicode_locale() {
  static locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
    return l;
  }();
  return locale;
}

bool is_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

char16_t map_case(char16_t c, bool upper) {
  if (c < 0x80) {
    if (upper && c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (!upper && c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    return c;
  }
  if (is_surrogate(c)) return c;
  if (locale_t l = unicode_locale()) {
    wint_t mapped = upper ? towupper_l(c, l) : towlower_l(c, l);
    return mapped <= 0xFFFF && !is_surrogate(static_cast<char16_t>(mapped)) ? static_cast<char16_t>(mapped) : c;
  }
  // Latin-1 letters without the locale (0xD7 and 0xF7 are signs, 0xDF and 0xFF have no one-unit partner).
  if (upper && c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (!upper && c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

int sign_of(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int digit_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

// Parses the magnitude of an integer the way strtol does. Returns false when
// no digits were found (end then points at the start).
struct ParsedInteger {
  bool any = false;
  bool negative = false;
  bool overflow = false;  // magnitude above 2^64 - 1
  uint64_t magnitude = 0;
};

ParsedInteger parse_integer(const char16_t* s, char16_t** end, int base) {
  ParsedInteger result;
  const char16_t* start = s;
  if (end) *end = const_cast<char16_t*>(start);
  if (!s || base < 0 || base == 1 || base > 36) {
    errno = EINVAL;
    return result;
  }
  while (iswspace(*s)) ++s;
  if (*s == u'+' || *s == u'-') {
    result.negative = *s == u'-';
    ++s;
  }
  if ((base == 0 || base == 16) && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X') && digit_value(s[2]) < 16) {
    s += 2;
    base = 16;
  } else if (base == 0) {
    base = s[0] == u'0' ? 8 : 10;
  }
  const char16_t* digits = s;
  for (; digit_value(*s) < base; ++s) {
    uint64_t d = static_cast<uint64_t>(digit_value(*s));
    if (result.magnitude > (std::numeric_limits<uint64_t>::max() - d) / static_cast<uint64_t>(base))
      result.overflow = true;
    else
      result.magnitude = result.magnitude * static_cast<uint64_t>(base) + d;
  }
  if (s == digits) return result;
  result.any = true;
  if (end) *end = const_cast<char16_t*>(s);
  return result;
}

// Signed result clamped to [min, max].
int64_t to_signed(const ParsedInteger& p, int64_t min, int64_t max) {
  if (!p.any) return 0;
  uint64_t limit = p.negative ? static_cast<uint64_t>(-(min + 1)) + 1 : static_cast<uint64_t>(max);
  if (p.overflow || p.magnitude > limit) {
    errno = ERANGE;
    return p.negative ? min : max;
  }
  return p.negative ? static_cast<int64_t>(~p.magnitude + 1) : static_cast<int64_t>(p.magnitude);
}

// Unsigned result: a negative number wraps as in C; too large clamps to max.
uint64_t to_unsigned(const ParsedInteger& p, uint64_t max) {
  if (!p.any) return 0;
  if (p.overflow || p.magnitude > max) {
    errno = ERANGE;
    return max;
  }
  uint64_t v = p.negative ? (~p.magnitude + 1) : p.magnitude;
  return v & max;
}

}  // namespace

size_t wcslen(const char16_t* s) {
  if (!s) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

size_t wcsnlen(const char16_t* s, size_t max) {
  if (!s) return 0;
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

char16_t* wcscpy(char16_t* dst, const char16_t* src) {
  if (!dst) return dst;
  src = safe(src);
  size_t i = 0;
  do dst[i] = src[i];
  while (src[i++]);
  return dst;
}

char16_t* wcsncpy(char16_t* dst, const char16_t* src, size_t count) {
  if (!dst) return dst;
  src = safe(src);
  size_t i = 0;
  for (; i < count && src[i]; ++i) dst[i] = src[i];
  for (; i < count; ++i) dst[i] = 0;
  return dst;
}

char16_t* wcscat(char16_t* dst, const char16_t* src) {
  if (!dst) return dst;
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

char16_t* wcsncat(char16_t* dst, const char16_t* src, size_t count) {
  if (!dst) return dst;
  src = safe(src);
  char16_t* p = dst + wcslen(dst);
  size_t i = 0;
  for (; i < count && src[i]; ++i) p[i] = src[i];
  p[i] = 0;
  return dst;
}

int wcscmp(const char16_t* a, const char16_t* b) { return wcsncmp(a, b, std::numeric_limits<size_t>::max()); }

int wcsncmp(const char16_t* a, const char16_t* b, size_t count) {
  a = safe(a);
  b = safe(b);
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (!a[i]) return 0;
  }
  return 0;
}

int _wcsicmp(const char16_t* a, const char16_t* b) { return _wcsnicmp(a, b, std::numeric_limits<size_t>::max()); }

int _wcsnicmp(const char16_t* a, const char16_t* b, size_t count) {
  a = safe(a);
  b = safe(b);
  for (size_t i = 0; i < count; ++i) {
    char16_t x = towlower(a[i]);
    char16_t y = towlower(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
  return 0;
}

const char16_t* wcschr(const char16_t* s, char16_t c) {
  if (!s) return nullptr;
  for (;; ++s) {
    if (*s == c) return s;
    if (!*s) return nullptr;
  }
}
char16_t* wcschr(char16_t* s, char16_t c) {
  return const_cast<char16_t*>(wcschr(static_cast<const char16_t*>(s), c));
}

const char16_t* wcsrchr(const char16_t* s, char16_t c) {
  if (!s) return nullptr;
  const char16_t* found = nullptr;
  for (;; ++s) {
    if (*s == c) found = s;
    if (!*s) return found;
  }
}
char16_t* wcsrchr(char16_t* s, char16_t c) {
  return const_cast<char16_t*>(wcsrchr(static_cast<const char16_t*>(s), c));
}

const char16_t* wcsstr(const char16_t* s, const char16_t* find) {
  if (!s) return nullptr;
  find = safe(find);
  if (!*find) return s;
  size_t n = wcslen(find);
  for (; *s; ++s)
    if (*s == *find && wcsncmp(s, find, n) == 0) return s;
  return nullptr;
}
char16_t* wcsstr(char16_t* s, const char16_t* find) {
  return const_cast<char16_t*>(wcsstr(static_cast<const char16_t*>(s), find));
}

char16_t* _wcsupr(char16_t* s) {
  for (char16_t* p = s; p && *p; ++p) *p = towupper(*p);
  return s;
}

char16_t* _wcslwr(char16_t* s) {
  for (char16_t* p = s; p && *p; ++p) *p = towlower(*p);
  return s;
}

int _wtoi(const char16_t* s) { return wcstol(s, nullptr, 10); }
LONG _wtol(const char16_t* s) { return wcstol(s, nullptr, 10); }
int64_t _wtoi64(const char16_t* s) { return _wcstoi64(s, nullptr, 10); }

LONG wcstol(const char16_t* s, char16_t** end, int base) {
  return static_cast<LONG>(to_signed(parse_integer(s, end, base), INT32_MIN, INT32_MAX));
}

ULONG wcstoul(const char16_t* s, char16_t** end, int base) {
  return static_cast<ULONG>(to_unsigned(parse_integer(s, end, base), UINT32_MAX));
}

int64_t _wcstoi64(const char16_t* s, char16_t** end, int base) {
  return to_signed(parse_integer(s, end, base), INT64_MIN, INT64_MAX);
}

uint64_t _wcstoui64(const char16_t* s, char16_t** end, int base) {
  return to_unsigned(parse_integer(s, end, base), UINT64_MAX);
}

char16_t towupper(char16_t c) { return map_case(c, true); }
char16_t towlower(char16_t c) { return map_case(c, false); }
bool iswspace(char16_t c) { return c == u' ' || (c >= 0x09 && c <= 0x0D); }
bool iswdigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool iswalpha(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  if (locale_t l = unicode_locale()) return iswalpha_l(c, l) != 0;
  return false;
}

int lstrlenW(LPCWSTR s) { return static_cast<int>(std::min<size_t>(wcslen(s), INT32_MAX)); }

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) { return dst ? wcscpy(dst, src) : nullptr; }

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max_chars) {
  if (!dst || max_chars <= 0) return dst;
  src = safe(src);
  int i = 0;
  for (; i < max_chars - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src) { return dst ? wcscat(dst, src) : nullptr; }

int lstrcmpW(LPCWSTR a, LPCWSTR b) { return sign_of(wcscmp(a, b)); }
int lstrcmpiW(LPCWSTR a, LPCWSTR b) { return sign_of(_wcsicmp(a, b)); }

LPWSTR CharUpperW(LPWSTR s) {
  auto value = reinterpret_cast<uintptr_t>(s);
  if (value >> 16 == 0) return reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(towupper(static_cast<char16_t>(value))));
  return _wcsupr(s);
}

LPWSTR CharLowerW(LPWSTR s) {
  auto value = reinterpret_cast<uintptr_t>(s);
  if (value >> 16 == 0) return reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(towlower(static_cast<char16_t>(value))));
  return _wcslwr(s);
}

DWORD CharUpperBuffW(LPWSTR s, DWORD length) {
  if (!s) return 0;
  for (DWORD i = 0; i < length; ++i) s[i] = towupper(s[i]);
  return length;
}

DWORD CharLowerBuffW(LPWSTR s, DWORD length) {
  if (!s) return 0;
  for (DWORD i = 0; i < length; ++i) s[i] = towlower(s[i]);
  return length;
}

namespace platform {

int WriteFormatted(char16_t* buffer, size_t count, const std::u16string& text) {
  if (!buffer || count == 0) return -1;
  if (text.size() < count) {
    std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
    buffer[text.size()] = 0;
    return static_cast<int>(std::min<size_t>(text.size(), INT32_MAX));
  }
  std::memcpy(buffer, text.data(), (count - 1) * sizeof(char16_t));
  buffer[count - 1] = 0;
  return -1;
}

}  // namespace platform

int vswprintf(char16_t* buffer, size_t count, const char16_t* format, va_list args) {
  if (!format) return platform::WriteFormatted(buffer, 0, u"");
  return platform::WriteFormatted(buffer, count, platform::FormatWideV(format, args));
}

int _vsnwprintf(char16_t* buffer, size_t count, const char16_t* format, va_list args) {
  return vswprintf(buffer, count, format, args);
}

namespace {

// The text of `src` (at most `limit` units of it) and a terminator into the
// `size` units of `dst`; ERANGE, with `dst` emptied, when they do not fit.
errno_t copy_text(char16_t* dst, size_t size, const char16_t* src, size_t limit) {
  size_t n = wcsnlen(src, limit);
  if (n >= size) {
    dst[0] = 0;
    return ERANGE;
  }
  std::memmove(dst, src, n * sizeof(char16_t));
  dst[n] = 0;
  return 0;
}

}  // namespace

errno_t wcscpy_s(char16_t* dst, size_t size, const char16_t* src) {
  if (!dst || size == 0) return EINVAL;
  if (!src) {
    dst[0] = 0;
    return EINVAL;
  }
  return copy_text(dst, size, src, size);
}

errno_t wcscat_s(char16_t* dst, size_t size, const char16_t* src) {
  if (!dst || size == 0) return EINVAL;
  size_t have = wcsnlen(dst, size);
  if (have >= size || !src) {  // the destination is not even terminated
    dst[0] = 0;
    return EINVAL;
  }
  size_t add = wcsnlen(src, size - have);
  if (have + add >= size) {
    dst[0] = 0;
    return ERANGE;
  }
  std::memmove(dst + have, src, add * sizeof(char16_t));
  dst[have + add] = 0;
  return 0;
}

errno_t wcsncpy_s(char16_t* dst, size_t size, const char16_t* src, size_t count) {
  if (!dst || size == 0) return EINVAL;
  if (!src) {
    dst[0] = 0;
    return count == 0 ? 0 : EINVAL;
  }
  if (count == _TRUNCATE) {
    size_t n = wcsnlen(src, size);
    bool truncated = n >= size;
    if (truncated) n = size - 1;
    std::memmove(dst, src, n * sizeof(char16_t));
    dst[n] = 0;
    return truncated ? STRUNCATE : 0;
  }
  return copy_text(dst, size, src, count);
}

namespace {

// Digits of value (most significant first) into text; negative only in base 10.
std::u16string integer_text(uint64_t magnitude, bool negative, int radix) {
  std::u16string text;
  do {
    int d = static_cast<int>(magnitude % static_cast<uint64_t>(radix));
    text.insert(text.begin(), static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + d - 10));
    magnitude /= static_cast<uint64_t>(radix);
  } while (magnitude != 0);
  if (negative) text.insert(text.begin(), u'-');
  return text;
}

std::u16string signed_text(int64_t value, uint64_t as_unsigned, int radix) {
  if (radix == 10 && value < 0) return integer_text(~static_cast<uint64_t>(value) + 1, true, radix);
  return integer_text(as_unsigned, false, radix);
}

char16_t* put_text(const std::u16string& text, char16_t* buffer) {
  if (!buffer) return buffer;
  std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
  buffer[text.size()] = 0;
  return buffer;
}

bool bad_radix(int radix) { return radix < 2 || radix > 36; }

}  // namespace

char16_t* _itow(int value, char16_t* buffer, int radix) {
  if (bad_radix(radix)) return buffer ? (buffer[0] = 0, buffer) : buffer;
  return put_text(signed_text(value, static_cast<uint32_t>(value), radix), buffer);
}

char16_t* _ltow(LONG value, char16_t* buffer, int radix) { return _itow(value, buffer, radix); }

char16_t* _ultow(ULONG value, char16_t* buffer, int radix) {
  if (bad_radix(radix)) return buffer ? (buffer[0] = 0, buffer) : buffer;
  return put_text(integer_text(value, false, radix), buffer);
}

char16_t* _i64tow(int64_t value, char16_t* buffer, int radix) {
  if (bad_radix(radix)) return buffer ? (buffer[0] = 0, buffer) : buffer;
  return put_text(signed_text(value, static_cast<uint64_t>(value), radix), buffer);
}

char16_t* _ui64tow(uint64_t value, char16_t* buffer, int radix) {
  if (bad_radix(radix)) return buffer ? (buffer[0] = 0, buffer) : buffer;
  return put_text(integer_text(value, false, radix), buffer);
}

errno_t _itow_s(int value, char16_t* buffer, size_t size, int radix) {
  if (!buffer || size == 0) return EINVAL;
  buffer[0] = 0;
  if (bad_radix(radix)) return EINVAL;
  std::u16string text = signed_text(value, static_cast<uint32_t>(value), radix);
  if (text.size() >= size) return ERANGE;
  put_text(text, buffer);
  return 0;
}

errno_t _i64tow_s(int64_t value, char16_t* buffer, size_t size, int radix) {
  if (!buffer || size == 0) return EINVAL;
  buffer[0] = 0;
  if (bad_radix(radix)) return EINVAL;
  std::u16string text = signed_text(value, static_cast<uint64_t>(value), radix);
  if (text.size() >= size) return ERANGE;
  put_text(text, buffer);
  return 0;
}
