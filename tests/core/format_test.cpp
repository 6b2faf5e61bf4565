#include "platform/core/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/core/cstring.h"
#include "platform/core/text.h"
#include "platform/core/wide_text.h"

namespace {

using platform::FormatNarrow;
using platform::FormatWide;

std::string u8(const std::u16string& s) { return platform::to_utf8(s); }

// The C-style path, as program code reaches it through FormatV.
std::u16string via_va_list(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string out = platform::FormatWideV(format, args);
  va_end(args);
  return out;
}

struct Case {
  const char* what;
  std::u16string got;
  std::u16string expect;
};

void check(const std::vector<Case>& cases) {
  for (const auto& c : cases) EXPECT_EQ(u8(c.got), u8(c.expect)) << c.what;
}

TEST(FormatTest, Integers) {
  check({
      {"plain", FormatWide(u"%d", 42), u"42"},
      {"negative", FormatWide(u"%d", -42), u"-42"},
      {"%i", FormatWide(u"%i", 7), u"7"},
      {"width", FormatWide(u"[%5d]", 42), u"[   42]"},
      {"left", FormatWide(u"[%-5d]", 42), u"[42   ]"},
      {"zero fill", FormatWide(u"[%05d]", -42), u"[-0042]"},
      {"plus", FormatWide(u"%+d %+d", 5, -5), u"+5 -5"},
      {"space", FormatWide(u"[% d]", 5), u"[ 5]"},
      {"precision", FormatWide(u"[%.3d]", 7), u"[007]"},
      {"width and precision", FormatWide(u"[%8.3d]", -7), u"[    -007]"},
      {"zero flag ignored with precision", FormatWide(u"[%08.3d]", 7), u"[     007]"},
      {"precision zero of zero", FormatWide(u"[%.0d]", 0), u"[]"},
      {"hex", FormatWide(u"%x %X", 255, 255), u"ff FF"},
      {"hex alternate", FormatWide(u"%#x %#X %#x", 255, 255, 0), u"0xff 0XFF 0"},
      {"hex zero padded", FormatWide(u"%08X", 0xBEEF), u"0000BEEF"},
      {"bytes as %.2x", FormatWide(u"%.2x%.2x", 0x0A, 0xFF), u"0aff"},
      {"octal", FormatWide(u"%o %#o", 8, 8), u"10 010"},
      {"unsigned of -1", FormatWide(u"%u", -1), u"4294967295"},
      {"long is 32 bits", FormatWide(u"%ld %lu", 2147483647, 4294967295u), u"2147483647 4294967295"},
      {"error code", FormatWide(u"0x%lX", static_cast<DWORD>(0x80070005)), u"0x80070005"},
      {"I64d", FormatWide(u"%I64d", INT64_MIN), u"-9223372036854775808"},
      {"I64u", FormatWide(u"%I64u", UINT64_MAX), u"18446744073709551615"},
      {"I64x", FormatWide(u"%I64x", 0x123456789ABCDEFULL), u"123456789abcdef"},
      {"lld llu", FormatWide(u"%lld %llu", -3LL, 3ULL), u"-3 3"},
      {"64-bit value read as %d", FormatWide(u"%d", int64_t{0x100000005}), u"5"},
      {"short", FormatWide(u"%hd %hu", 70000, 70000), u"4464 4464"},
      {"char-sized", FormatWide(u"%hhd", 200), u"-56"},
      {"size_t", FormatWide(u"%Iu %zu", size_t{1} << 40, size_t{3}), u"1099511627776 3"},
      {"star width", FormatWide(u"[%*d]", 5, 42), u"[   42]"},
      {"negative star width", FormatWide(u"[%*d]", -5, 42), u"[42   ]"},
      {"star precision", FormatWide(u"[%.*d]", 4, 42), u"[0042]"},
      {"device path", FormatWide(u"\\\\.\\PhysicalDrive%d", 3), u"\\\\.\\PhysicalDrive3"},
      {"percent", FormatWide(u"100%% %d%%", 5), u"100% 5%"},
  });
}

TEST(FormatTest, FloatingPoint) {
  check({
      {"default", FormatWide(u"%f", 1.5), u"1.500000"},
      {"size text", FormatWide(u"%4.2f MB", 1.5), u"1.50 MB"},
      {"wider than field", FormatWide(u"%4.2f", 1234.567), u"1234.57"},
      {"rounded", FormatWide(u"%4.2f TB", 1.8194), u"1.82 TB"},
      {"padded", FormatWide(u"[%8.3f]", 3.14159), u"[   3.142]"},
      {"left", FormatWide(u"[%-8.2f]", 3.14159), u"[3.14    ]"},
      {"zero fill", FormatWide(u"[%08.2f]", -3.14159), u"[-0003.14]"},
      {"plus", FormatWide(u"%+.1f", 2.25), u"+2.2"},
      {"exponent", FormatWide(u"%e", 12345.678), u"1.234568e+04"},
      {"exponent upper", FormatWide(u"%.2E", 0.000123), u"1.23E-04"},
      {"general", FormatWide(u"%g %g %G", 0.0001, 1e-5, 1e20), u"0.0001 1e-05 1E+20"},
      {"star precision", FormatWide(u"%.*f", 2, 3.14159), u"3.14"},
      {"float argument", FormatWide(u"%.1f", 2.5f), u"2.5"},
      {"integer given to %f", FormatWide(u"%.1f", 3), u"3.0"},
  });
}

TEST(FormatTest, TextAndCharactersFollowTheWideRules) {
  CStringW name(u"Disk");
  CStringA narrow_name("Stick");
  std::u16string wide_std = u"std";
  check({
      {"%s is wide", FormatWide(u"%s", u"wide"), u"wide"},
      {"%S is narrow", FormatWide(u"%S", "narrow"), u"narrow"},
      {"%ls %ws", FormatWide(u"%ls %ws", u"a", u"b"), u"a b"},
      {"%hs", FormatWide(u"%hs", "c"), u"c"},
      {"field", FormatWide(u"[%-10s][%10s]", u"abc", u"xyz"), u"[abc       ][       xyz]"},
      {"precision cuts", FormatWide(u"[%.2s]", u"abcdef"), u"[ab]"},
      {"narrow precision", FormatWide(u"[%.3S]", "abcdef"), u"[abc]"},
      {"null text", FormatWide(u"%s|%S", static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr)),
       u"(null)|(null)"},
      {"NULL macro and nullptr", FormatWide(u"%s %s", NULL, nullptr), u"(null) (null)"},
      {"narrow through the ANSI page", FormatWide(u"%S", "caf\xe9 \x80"), u"café €"},
      {"CString argument", FormatWide(u"%s %S", name, narrow_name), u"Disk Stick"},
      {"std string argument", FormatWide(u"%s", wide_std), u"std"},
      {"%c wide", FormatWide(u"%c%c", u'Z', u'日'), u"Z日"},
      {"%C narrow", FormatWide(u"%C", 'q'), u"q"},
      {"%lc %hc", FormatWide(u"%lc%hc", u'x', 'y'), u"xy"},
      {"drive", FormatWide(u"%c:\\", u'D'), u"D:\\"},
      {"char field", FormatWide(u"[%3c]", u'a'), u"[  a]"},
      {"pointer", FormatWide(u"%p", reinterpret_cast<void*>(0x1234)), u"0000000000001234"},
      {"mixed", FormatWide(u"%s %d %d", u"Attrib", 5, -1), u"Attrib 5 -1"},
  });
}

TEST(FormatTest, NarrowCallsSwapTheTextRules) {
  EXPECT_EQ(FormatNarrow("%s|%S|%c|%C", "n", u"w", 'c', u'W'), "n|w|c|W");
  EXPECT_EQ(FormatNarrow("%S", u"caf\u00e9"), "caf\xe9");  // wide text into the ANSI page
  EXPECT_EQ(FormatNarrow("%S", u"日本"), "??");             // not in 1252
  EXPECT_EQ(FormatNarrow("Unable to open physical drive %d, error code: 0x%lX\n", 4, 5u),
            "Unable to open physical drive 4, error code: 0x5\n");
  EXPECT_EQ(FormatNarrow("%4.2f GB", 1.5), "1.50 GB");
}

TEST(FormatTest, VaListPathAgreesWithTypedPath) {
  check({
      {"ints", via_va_list(u"%d %u %x %I64d %lld", -1, 7u, 255, int64_t{-5}, 6LL), u"-1 7 ff -5 6"},
      {"long is 32 bits", via_va_list(u"%ld|%lX", -2, 0xFFFFFFFFu), u"-2|FFFFFFFF"},
      {"float", via_va_list(u"%4.2f|%e", 1.5, 100.0), u"1.50|1.000000e+02"},
      {"text", via_va_list(u"%s|%S|%c|%C", u"w", "n", u'c', 'C'), u"w|n|c|C"},
      {"stars", via_va_list(u"[%*.*f]", 7, 2, 3.14159), u"[   3.14]"},
      {"null", via_va_list(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)"},
  });
}

// A format that does not match its arguments shows the conversion itself:
// no garbage is read and nothing crashes.
TEST(FormatTest, BadFormatsAndArgumentsAreShownNotTrusted) {
  int untouched = 77;
  check({
      {"missing argument", FormatWide(u"a%db"), u"a%db"},
      {"missing second", FormatWide(u"%d-%d", 1), u"1-%d"},
      {"text for %d", FormatWide(u"%d", u"x"), u"%d"},
      {"number for %s", FormatWide(u"%s|%d", 5, 6), u"%s|6"},
      {"missing star", FormatWide(u"[%*d]"), u"[%*d]"},
      {"unknown conversion", FormatWide(u"%y%d", 1), u"%y1"},
      {"cut off", FormatWide(u"abc%"), u"abc%"},
      {"cut off in flags", FormatWide(u"abc%-0"), u"abc%-0"},
      {"%n writes nothing", FormatWide(u"%n%d", &untouched, 5), u"5"},
  });
  EXPECT_EQ(untouched, 77);
  // A huge width is clamped rather than allocating gigabytes.
  EXPECT_EQ(FormatWide(u"%999999999d", 1).size(), size_t{1} << 16);
  EXPECT_EQ(FormatWide(u"%.999999999d", 1).size(), size_t{1} << 16);
}

TEST(FormatTest, CountedWritersTerminateAndReportTruncation) {
  char16_t buf[8];
  EXPECT_EQ(swprintf(buf, 8, u"%d-%s", 12, u"ab"), 5);
  EXPECT_EQ(std::u16string(buf), u"12-ab");
  // Exactly fitting needs room for the zero.
  EXPECT_EQ(swprintf(buf, 8, u"%s", u"1234567"), 7);
  EXPECT_EQ(std::u16string(buf), u"1234567");
  EXPECT_EQ(swprintf(buf, 8, u"%s", u"12345678"), -1);
  EXPECT_EQ(std::u16string(buf), u"1234567");
  EXPECT_EQ(_snwprintf(buf, 4, u"%d", 123456), -1);
  EXPECT_EQ(std::u16string(buf), u"123");
  EXPECT_EQ(swprintf_s(buf, u"%s", u"far too long"), -1);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(swprintf_s(buf, u"%03d", 7), 3);
  EXPECT_EQ(std::u16string(buf), u"007");
  buf[0] = u'k';
  EXPECT_EQ(swprintf(buf, 0, u"%d", 1), -1);
  EXPECT_EQ(buf[0], u'k');
  EXPECT_EQ(swprintf(nullptr, 8, u"%d", 1), -1);
  EXPECT_EQ(swprintf(buf, 8, nullptr), -1);

  std::u16string big(2000, u'x');
  std::vector<char16_t> out(3000, u'#');
  EXPECT_EQ(wsprintfW(out.data(), u"%s", big.c_str()), 1023);
  EXPECT_EQ(out[1023], 0);
  EXPECT_EQ(out[1024], u'#');  // nothing past the 1024-character limit
}

}  // namespace
