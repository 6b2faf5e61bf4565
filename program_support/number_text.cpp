#include "program_support/number_text.h"

#include <climits>
#include <cstring>

#include "platform/core/ctime.h"

namespace {

bool IsCSpace(unsigned ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

// Decimal parse of the low bytes of at most `limit` characters, as the C
// library's parsers read them; saturates at the 64-bit bounds.
// How a parse sees each character: its low byte alone (TextToInt, TextToInt64
// read text that way), or the whole character, so that a character outside
// ASCII is never taken for a digit, sign or blank.
enum class CharView { LowByte, Whole };

int64_t ParseDecimal(const CString& text, int limit, CharView view = CharView::LowByte) {
  int length = text.GetLength();
  if (limit >= 0 && length > limit) length = limit;
  auto byte_at = [&](int i) -> unsigned {
    if (i >= length) return 0;
    unsigned c = static_cast<unsigned>(text.GetAt(i));
    if (view == CharView::LowByte) return c & 0xFF;
    return c <= 0x7F ? c : 0x100;  // anything past ASCII stops the parse
  };
  int i = 0;
  while (i < length && IsCSpace(byte_at(i))) ++i;
  bool negative = false;
  if (byte_at(i) == '+' || byte_at(i) == '-') {
    negative = byte_at(i) == '-';
    ++i;
  }
  uint64_t magnitude = 0;
  const uint64_t cap = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : static_cast<uint64_t>(INT64_MAX);
  for (; i < length && byte_at(i) >= '0' && byte_at(i) <= '9'; ++i) {
    unsigned digit = byte_at(i) - '0';
    if (magnitude > (cap - digit) / 10) {
      magnitude = cap;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (negative) return magnitude == cap ? INT64_MIN : -static_cast<int64_t>(magnitude);
  return static_cast<int64_t>(magnitude);
}

int32_t Clamp32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// "%d X" when the value is whole, "%4.2f X" otherwise.
CString UnitText(float value, const char16_t* whole_format, const char16_t* fraction_format) {
  CString text;
  const int whole = static_cast<int>(value);
  if (value == static_cast<float>(whole))
    text.Format(whole_format, whole);
  else
    text.Format(fraction_format, static_cast<double>(value));
  return text;
}

}  // namespace

CString FormatSectorCount(uint64_t count) {
  // A signed 64-bit byte count; counts of 2^54 units and more saturate
  // instead of wrapping to a negative count.
  const int64_t bytes = count >= (1ull << 54) ? INT64_MAX : static_cast<int64_t>(count * 512);
  CString text;
  if (bytes < 1024) {
    text.Format(u"%d Byte", static_cast<int>(bytes));
    return text;
  }
  // Each quotient is a single-precision value before the next division, as
  // the sizes have always been shown.
  const float mb = static_cast<float>(bytes) / 1048576.0f;
  const float gb = mb / 1024.0f;
  const float tb = gb / 1024.0f;
  if (tb >= 1.0f) return UnitText(tb, u"%d TB", u"%4.2f TB");
  if (gb >= 1.0f) return UnitText(gb, u"%d GB", u"%4.2f GB");
  if (mb >= 1.0f) return UnitText(mb, u"%d MB", u"%4.2f MB");
  text.Format(u"%d KB", static_cast<int>((bytes + 512) / 1024));
  return text;
}

CString IntToText(int32_t value) {
  CString text;
  text.Format(u"%d", value);
  return text;
}

CString ByteToText(int32_t value) { return IntToText(value & 0xFF); }

CString Int64ToText(int64_t value) {
  CString text;
  text.Format(u"%lld", static_cast<long long>(value));
  return text;
}

CString DurationText(int64_t seconds) { return CTimeSpan(seconds < 0 ? 0 : seconds).Format(u"%H:%M:%S"); }

int32_t TextToInt(const CString& text) { return Clamp32(ParseDecimal(text, 99)); }
int64_t TextToInt64(const CString& text) { return ParseDecimal(text, 31); }
int32_t TextToLong(const CString& text) { return Clamp32(ParseDecimal(text, -1, CharView::Whole)); }

int32_t CopyTextToBuffer(const CString& text, WCHAR* buffer, int32_t capacity) {
  if (!buffer || capacity <= 0) return 0;
  const int32_t n = text.GetLength() < capacity ? text.GetLength() : capacity;
  if (n > 0) std::memcpy(buffer, text.GetString(), static_cast<size_t>(n) * sizeof(WCHAR));
  return n;
}

void WideToNarrow(const WCHAR* source, char* destination, int32_t n) {
  if (!destination) return;
  if (n < 0 || !source) n = 0;
  // A shorter text ends at its own terminator: nothing past it is read.
  int32_t i = 0;
  for (; i < n && source[i]; ++i) destination[i] = static_cast<char>(source[i] & 0xFF);
  destination[i] = 0;
}

void NarrowToWide(const char* source, WCHAR* destination, int32_t n) {
  if (!destination) return;
  if (n < 0 || !source) n = 0;
  for (int32_t i = 0; i < n; ++i)
    destination[i] = static_cast<WCHAR>(static_cast<int16_t>(static_cast<signed char>(source[i])));
  destination[n] = 0;
}
