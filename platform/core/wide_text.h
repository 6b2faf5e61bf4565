// The C runtime's and the platform's wide-string routines on UTF-16
// (char16_t), as global overloads so that program code calls them by their
// usual names. A null string pointer reads as an empty string rather than
// crashing; destination buffers are the caller's responsibility as usual,
// except that every counted formatter below always terminates what it writes.
//
// Case mapping (towupper, CharUpperW, _wcsicmp, ...) is Unicode's simple
// one-to-one mapping over the Basic Multilingual Plane; surrogates are left
// alone. Numbers parse with the platform's data model: long is 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/format.h"
#include "platform/core/types.h"

// Text literals: _T("abc") and TEXT("abc") are UTF-16 literals.
#define TEXT(quote) u##quote
#define _T(quote) u##quote
#define _TEXT(quote) u##quote

using TCHAR = WCHAR;
using LPTSTR = LPWSTR;
using LPCTSTR = LPCWSTR;

template <class T, size_t N>
constexpr size_t _countof(T (&)[N]) {
  return N;
}

size_t wcslen(const char16_t* s);
size_t wcsnlen(const char16_t* s, size_t max);
char16_t* wcscpy(char16_t* dst, const char16_t* src);
// Copies at most count characters; pads with zeros up to count, and does not
// terminate when src is count characters or longer (the C rule).
char16_t* wcsncpy(char16_t* dst, const char16_t* src, size_t count);
char16_t* wcscat(char16_t* dst, const char16_t* src);
char16_t* wcsncat(char16_t* dst, const char16_t* src, size_t count);
int wcscmp(const char16_t* a, const char16_t* b);
int wcsncmp(const char16_t* a, const char16_t* b, size_t count);
int _wcsicmp(const char16_t* a, const char16_t* b);
int _wcsnicmp(const char16_t* a, const char16_t* b, size_t count);
const char16_t* wcschr(const char16_t* s, char16_t c);
char16_t* wcschr(char16_t* s, char16_t c);
const char16_t* wcsrchr(const char16_t* s, char16_t c);
char16_t* wcsrchr(char16_t* s, char16_t c);
const char16_t* wcsstr(const char16_t* s, const char16_t* find);
char16_t* wcsstr(char16_t* s, const char16_t* find);
char16_t* _wcsupr(char16_t* s);
char16_t* _wcslwr(char16_t* s);

// Integer parsing as the C runtime does it: leading white space, a sign,
// base prefixes for base 0 and 16; out-of-range values clamp to the type's
// limits (errno = ERANGE). _wtoi and _wtol are wcstol in base 10.
int _wtoi(const char16_t* s);
LONG _wtol(const char16_t* s);
int64_t _wtoi64(const char16_t* s);
LONG wcstol(const char16_t* s, char16_t** end, int base);
ULONG wcstoul(const char16_t* s, char16_t** end, int base);
int64_t _wcstoi64(const char16_t* s, char16_t** end, int base);
uint64_t _wcstoui64(const char16_t* s, char16_t** end, int base);

char16_t towupper(char16_t c);
char16_t towlower(char16_t c);
bool iswspace(char16_t c);
bool iswdigit(char16_t c);
bool iswalpha(char16_t c);

// The platform's string routines. lstrcmpW/lstrcmpiW compare code units
// (case-folded for the i form) and return -1, 0 or 1.
int lstrlenW(LPCWSTR s);
LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
// Copies at most max_chars - 1 characters and always terminates.
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max_chars);
LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
// Upper-cases the string in place and returns it. A "pointer" whose high bits
// are zero is a single character instead: its upper-case form comes back in
// the low word, as the platform defines it.
LPWSTR CharUpperW(LPWSTR s);
LPWSTR CharLowerW(LPWSTR s);
DWORD CharUpperBuffW(LPWSTR s, DWORD length);
DWORD CharLowerBuffW(LPWSTR s, DWORD length);

// The C runtime's bounds-checked copies. They return 0, EINVAL for unusable
// arguments or ERANGE when the text does not fit (the destination then holds
// an empty string); wcsncpy_s with _TRUNCATE copies what fits and returns
// STRUNCATE.
constexpr size_t _TRUNCATE = static_cast<size_t>(-1);
constexpr errno_t STRUNCATE = 80;
errno_t wcscpy_s(char16_t* dst, size_t size, const char16_t* src);
errno_t wcscat_s(char16_t* dst, size_t size, const char16_t* src);
errno_t wcsncpy_s(char16_t* dst, size_t size, const char16_t* src, size_t count);
template <size_t N>
errno_t wcscpy_s(char16_t (&dst)[N], const char16_t* src) {
  return wcscpy_s(dst, N, src);
}
template <size_t N>
errno_t wcscat_s(char16_t (&dst)[N], const char16_t* src) {
  return wcscat_s(dst, N, src);
}
template <size_t N>
errno_t wcsncpy_s(char16_t (&dst)[N], const char16_t* src, size_t count) {
  return wcsncpy_s(dst, N, src, count);
}

// Integers to text in a radix from 2 to 36 (lower-case letters). Only base 10
// shows a minus sign; other bases show the value's bits as unsigned. The
// unchecked forms trust the buffer (33 or 65 characters hold any value); the
// _s form fails with ERANGE when size is too small and EINVAL for a bad radix.
char16_t* _itow(int value, char16_t* buffer, int radix);
char16_t* _ltow(LONG value, char16_t* buffer, int radix);
char16_t* _ultow(ULONG value, char16_t* buffer, int radix);
char16_t* _i64tow(int64_t value, char16_t* buffer, int radix);
char16_t* _ui64tow(uint64_t value, char16_t* buffer, int radix);
errno_t _itow_s(int value, char16_t* buffer, size_t size, int radix);
errno_t _i64tow_s(int64_t value, char16_t* buffer, size_t size, int radix);

namespace platform {
// Writes formatted text into buffer[0..count): at most count - 1 characters and
// a terminating zero. Returns the length written, or -1 when the text did not
// fit (the buffer then holds the truncated text) or the arguments are unusable.
int WriteFormatted(char16_t* buffer, size_t count, const std::u16string& text);
}  // namespace platform

// Counted formatters. All of them terminate within count and return -1 when
// the text was cut short.
template <class... Args>
int swprintf(char16_t* buffer, size_t count, const char16_t* format, const Args&... args) {
  if (!format) return platform::WriteFormatted(buffer, 0, u"");
  return platform::WriteFormatted(buffer, count, platform::FormatWide(format, args...));
}
template <class... Args>
int _snwprintf(char16_t* buffer, size_t count, const char16_t* format, const Args&... args) {
  if (!format) return platform::WriteFormatted(buffer, 0, u"");
  return platform::WriteFormatted(buffer, count, platform::FormatWide(format, args...));
}
// The secure form: on overflow the buffer becomes empty.
template <class... Args>
int swprintf_s(char16_t* buffer, size_t count, const char16_t* format, const Args&... args) {
  int n = format ? platform::WriteFormatted(buffer, count, platform::FormatWide(format, args...))
                 : platform::WriteFormatted(buffer, 0, u"");
  if (n < 0 && buffer && count > 0) buffer[0] = 0;
  return n;
}
template <size_t N, class... Args>
int swprintf_s(char16_t (&buffer)[N], const char16_t* format, const Args&... args) {
  return swprintf_s(buffer, N, format, args...);
}
// The platform's wsprintfW writes at most 1024 characters including the zero.
constexpr size_t kWsprintfLimit = 1024;
template <class... Args>
int wsprintfW(char16_t* buffer, const char16_t* format, const Args&... args) {
  if (!format) return platform::WriteFormatted(buffer, 0, u"");
  int n = platform::WriteFormatted(buffer, kWsprintfLimit, platform::FormatWide(format, args...));
  return n < 0 ? static_cast<int>(kWsprintfLimit - 1) : n;
}
int vswprintf(char16_t* buffer, size_t count, const char16_t* format, va_list args);
int _vsnwprintf(char16_t* buffer, size_t count, const char16_t* format, va_list args);
