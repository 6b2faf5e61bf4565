// Seeded random rounds against the host C library, which implements the
// C-standard part of printf and strtol independently of our code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cwchar>
#include <random>
#include <string>

#include "platform/core/code_page.h"
#include "platform/core/format.h"
#include "platform/core/text.h"
#include "platform/core/wide_text.h"

namespace {

std::u16string from_wchar(const std::wstring& w) {
  std::u16string out;
  for (wchar_t c : w) out += static_cast<char16_t>(c);  // the texts here are ASCII
  return out;
}

std::wstring to_wchar(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring host_format(const std::wstring& format, ...) {
  std::wstring out(1 << 17, L'\0');
  va_list args;
  va_start(args, format);
  int n = std::vswprintf(out.data(), out.size(), format.c_str(), args);
  va_end(args);
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

// A random printf field: flags, width, precision.
std::string random_field(std::mt19937_64& random, bool allow_zero_flag) {
  std::string field = "%";
  const char flags[] = "-+ #0";
  for (int i = 0; i < 5; ++i)
    if (random() % 4 == 0 && (allow_zero_flag || flags[i] != '0')) field += flags[i];
  if (random() % 2) field += std::to_string(random() % 25);
  if (random() % 2) field += "." + std::to_string(random() % 25);
  return field;
}

TEST(OracleTest, IntegerConversionsMatchTheHostPrintf) {
  std::mt19937_64 random(7);
  const int64_t interesting[] = {0, 1, -1, 7, 255, -255, INT32_MAX, INT32_MIN, INT64_MAX, INT64_MIN, 1000000007};
  const char convs[] = "diuxXo";
  for (int round = 0; round < 4000; ++round) {
    std::string field = random_field(random, true);
    char conv = convs[random() % 6];
    int64_t v = random() % 3 ? interesting[random() % 11] : static_cast<int64_t>(random());
    bool wide64 = random() % 2;
    std::string ours_spec = field + (wide64 ? "I64" : "") + conv;
    std::string host_spec = field + (wide64 ? "ll" : "") + conv;
    std::u16string ours;
    std::wstring host;
    if (wide64) {
      ours = platform::FormatWide(platform::to_utf16("<" + ours_spec + ">"), v);
      host = host_format(to_wchar(platform::to_utf16("<" + host_spec + ">")), static_cast<long long>(v));
    } else {
      int32_t v32 = static_cast<int32_t>(v);
      ours = platform::FormatWide(platform::to_utf16("<" + ours_spec + ">"), v32);
      host = host_format(to_wchar(platform::to_utf16("<" + host_spec + ">")), v32);
    }
    ASSERT_EQ(platform::to_utf8(ours), platform::to_utf8(from_wchar(host))) << ours_spec << " of " << v;
  }
}

TEST(OracleTest, FloatAndTextConversionsMatchTheHostPrintf) {
  std::mt19937_64 random(11);
  const double values[] = {0.0, -0.0, 1.5, -2.25, 3.14159265358979, 1e-7, 12345678.9, -1e300, 0.5, 999.9995};
  const char convs[] = "feEgG";
  const char16_t* texts[] = {u"", u"a", u"disk", u"Basic data partition"};
  for (int round = 0; round < 3000; ++round) {
    if (round % 2) {
      std::string field = random_field(random, true);
      char conv = convs[random() % 5];
      double v = values[random() % 10];
      std::string spec = "<" + field + conv + ">";
      std::u16string ours = platform::FormatWide(platform::to_utf16(spec), v);
      std::wstring host = host_format(to_wchar(platform::to_utf16(spec)), v);
      ASSERT_EQ(platform::to_utf8(ours), platform::to_utf8(from_wchar(host))) << spec << " of " << v;
    } else {
      // The host's %ls is wide text, as our %s is in a wide call; the '0'
      // flag on text is left out (the platform zero-fills, the host does not).
      std::string field = random_field(random, false);
      const char16_t* text = texts[random() % 4];
      std::u16string ours = platform::FormatWide(platform::to_utf16("<" + field + "s>"), text);
      std::wstring host = host_format(to_wchar(platform::to_utf16("<" + field + "ls>")), to_wchar(text).c_str());
      ASSERT_EQ(platform::to_utf8(ours), platform::to_utf8(from_wchar(host))) << field << "s";
    }
  }
}

TEST(OracleTest, NumberParsingMatchesTheHostStrtol) {
  std::mt19937_64 random(13);
  const std::u16string pieces[] = {u" ", u"\t", u"+", u"-", u"0", u"1", u"7", u"9", u"x", u"X", u"a", u"f", u"z",
                                   u"Z", u"g", u"00", u"0x", u"99999999999", u"18446744073709551616", u"."};
  const int bases[] = {0, 2, 8, 10, 16, 36};
  int nonzero = 0, out_of_range = 0;
  for (int round = 0; round < 5000; ++round) {
    std::u16string text;
    int n = static_cast<int>(random() % 6);
    for (int i = 0; i < n; ++i) text += pieces[random() % 20];
    int base = bases[random() % 6];
    std::wstring wide = to_wchar(text);
    const char* what = "";
    std::string shown = platform::to_utf8(text) + " base " + std::to_string(base);

    wchar_t* host_end = nullptr;
    char16_t* our_end = nullptr;
    errno = 0;
    long long host = std::wcstoll(wide.c_str(), &host_end, base);
    bool host_range = errno == ERANGE;
    errno = 0;
    int64_t ours = _wcstoi64(text.c_str(), &our_end, base);
    bool our_range = errno == ERANGE;
    what = "_wcstoi64";
    ASSERT_EQ(ours, host) << what << " " << shown;
    ASSERT_EQ(our_end - text.c_str(), host_end - wide.c_str()) << what << " " << shown;
    ASSERT_EQ(our_range, host_range) << what << " " << shown;

    errno = 0;
    unsigned long long host_u = std::wcstoull(wide.c_str(), &host_end, base);
    host_range = errno == ERANGE;
    errno = 0;
    uint64_t ours_u = _wcstoui64(text.c_str(), &our_end, base);
    our_range = errno == ERANGE;
    what = "_wcstoui64";
    ASSERT_EQ(ours_u, host_u) << what << " " << shown;
    ASSERT_EQ(our_end - text.c_str(), host_end - wide.c_str()) << what << " " << shown;
    ASSERT_EQ(our_range, host_range) << what << " " << shown;

    // 32-bit long: the 64-bit result clamped.
    LONG ours_32 = wcstol(text.c_str(), &our_end, base);
    ASSERT_EQ(ours_32, std::clamp<long long>(host, INT32_MIN, INT32_MAX)) << "wcstol " << shown;
    nonzero += host != 0;
    out_of_range += host_range;
  }
  // The rounds covered real numbers and overflow, not only empty parses.
  EXPECT_GT(nonzero, 1000);
  EXPECT_GT(out_of_range, 50);
}

TEST(OracleTest, RandomBytesSurviveEveryCodePage) {
  std::mt19937_64 random(17);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 40, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    for (UINT page : {1252u, 437u}) {
      // Single-byte pages: every byte has a character and comes back.
      std::u16string wide = platform::Decode(page, bytes);
      ASSERT_EQ(wide.size(), bytes.size());
      ASSERT_EQ(platform::Encode(page, wide), bytes) << page;
    }
    for (UINT page : {932u, CP_UTF8}) {
      // Double-byte and UTF-8: what decodes, encodes back to the same text.
      std::u16string wide = platform::Decode(page, bytes);
      ASSERT_LE(wide.size(), bytes.size());
      std::string again = platform::Encode(page, wide);
      ASSERT_EQ(platform::Decode(page, again), wide) << page;
    }
  }
}

}  // namespace
