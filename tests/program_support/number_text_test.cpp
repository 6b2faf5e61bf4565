// Size texts and number texts: the size table every list shows, the number
// conversions checked against the host C library's parsers and printf, and the
// buffer copies with their bounds.
#include "program_support/number_text.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/core/text.h"

namespace {

std::string Utf8(const CString& text) { return platform::to_utf8(text.str()); }

TEST(FormatSectorCount, SizeTextsOfTheListsAndBars) {
  struct Case {
    uint64_t count;
    const char* text;
  } cases[] = {
      {0, "0 Byte"},
      {1, "512 Byte"},
      {2, "1 KB"},                   // 1024 bytes
      {3, "2 KB"},                   // 1536 bytes round to nearest
      {1024, "512 KB"},
      {2047, "1024 KB"},             // just under 1 MiB stays in KB
      {2048, "1 MB"},
      {3072, "1.50 MB"},
      {2097151, "1024.00 MB"},       // the single-precision quotient rounds the fraction up in print
      {2097152, "1 GB"},
      {3145728, "1.50 GB"},
      {2147483648ull, "1 TB"},
      {3907029168ull, "1.82 TB"},    // a nominal 2 TB disk
      {8589934592ull, "4 TB"},
      {7814037168ull, "3.64 TB"},
      {1ull << 54, "8388608 TB"},    // 2^63 bytes
      {UINT64_MAX, "8388608 TB"},    // saturates instead of wrapping to a negative byte count
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8(FormatSectorCount(c.count)), c.text) << c.count;
}

TEST(FormatSectorCount, FractionsFollowSinglePrecisionQuotients) {
  // Independent check of the rule for MB-sized counts: the host printf of the
  // float quotient, or the whole number when the quotient is whole.
  std::mt19937_64 random(1234);
  for (int i = 0; i < 2000; ++i) {
    const uint64_t count = 2048 + random() % (2097152 - 2048);
    const float mb = static_cast<float>(count * 512) / 1048576.0f;
    char expected[64];
    if (mb == static_cast<float>(static_cast<int>(mb)))
      std::snprintf(expected, sizeof expected, "%d MB", static_cast<int>(mb));
    else
      std::snprintf(expected, sizeof expected, "%4.2f MB", static_cast<double>(mb));
    ASSERT_EQ(Utf8(FormatSectorCount(count)), expected) << count;
  }
}

TEST(NumberText, DecimalTexts) {
  EXPECT_EQ(Utf8(IntToText(0)), "0");
  EXPECT_EQ(Utf8(IntToText(-2147483647 - 1)), "-2147483648");
  EXPECT_EQ(Utf8(Int64ToText(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(Utf8(Int64ToText(1234567890123ll)), "1234567890123");
  struct Case {
    int32_t value;
    const char* text;
  } bytes[] = {{300, "44"}, {255, "255"}, {256, "0"}, {-1, "255"}, {7, "7"}};
  for (const auto& c : bytes) EXPECT_EQ(Utf8(ByteToText(c.value)), c.text) << c.value;
}

TEST(NumberText, DurationTexts) {
  struct Case {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {0, "00:00:00"},  {59, "00:00:59"},  {3661, "01:01:01"}, {86399, "23:59:59"},
      {90061, "01:01:01"},  // the hours within the day, as the elapsed times have always read
      {-1, "00:00:00"},     // a clock that stepped back shows no time rather than "-1"
      {INT64_MIN, "00:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8(DurationText(c.seconds)), c.text) << c.seconds;
}

TEST(NumberText, ParsesAgreeWithTheCLibrary) {
  const char* texts[] = {"0",          "42",          "  17abc",     "\t-5",       "+9",          "abc",
                         "",           "-",           "12 34",       "2147483647", "-2147483648", "007",
                         " \n\v\f\r3", "9223372036854775807", "-9223372036854775808", "123456789012"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const CString wide(text);
    EXPECT_EQ(TextToInt64(wide), std::strtoll(text, nullptr, 10));
    const long long as_long = std::strtoll(text, nullptr, 10);
    const int32_t clamped = as_long > INT32_MAX ? INT32_MAX : as_long < INT32_MIN ? INT32_MIN : static_cast<int32_t>(as_long);
    EXPECT_EQ(TextToInt(wide), clamped);
    EXPECT_EQ(TextToLong(wide), clamped);
  }
  // Out of range saturates as the C library's parsers do.
  EXPECT_EQ(TextToInt(CString(u"99999999999")), INT32_MAX);
  EXPECT_EQ(TextToInt64(CString(u"-99999999999999999999")), INT64_MIN);
  // Only the low byte of each character is read: U+0131 reads as '1'.
  EXPECT_EQ(TextToInt(CString(u"\u0131\u0132")), 12);
  // TextToLong reads whole characters: a CJK character whose low byte is a
  // digit ends the number, and a fullwidth digit is no digit.
  EXPECT_EQ(TextToInt(CString(u"5\u4E31")), 51);
  EXPECT_EQ(TextToLong(CString(u"5\u4E31")), 5);
  EXPECT_EQ(TextToLong(CString(u"\u0131\u0132")), 0);
  EXPECT_EQ(TextToLong(CString(u"\u2020-7")), 0) << "U+2020's low byte is a blank, the character is not";
  // The character limits: digits past the 99th (31st for 64 bits) are not read.
  const CString long_text = CString(std::u16string(98, u'0') + u"12");
  EXPECT_EQ(TextToInt(long_text), 1);
  EXPECT_EQ(TextToInt64(CString(std::u16string(30, u'0') + u"45")), 4);
  EXPECT_EQ(TextToLong(long_text), 12);
}

TEST(NumberText, BufferCopiesStayInBounds) {
  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(CopyTextToBuffer(CString(), buffer, 8), 0);
  EXPECT_EQ(buffer[0], u'#') << "an empty text copies nothing";
  EXPECT_EQ(CopyTextToBuffer(CString(u"abc"), buffer, 8), 3);
  EXPECT_EQ(std::u16string(buffer, 4), u"abc#") << "no terminator is written";
  EXPECT_EQ(CopyTextToBuffer(CString(u"0123456789"), buffer, 8), 8);
  EXPECT_EQ(std::u16string(buffer, 8), u"01234567");
  EXPECT_EQ(CopyTextToBuffer(CString(u"x"), nullptr, 8), 0);

  char narrow[6];
  std::fill(std::begin(narrow), std::end(narrow), '#');
  const WCHAR wide[] = {u'A', 0x0142, 0x00E9, u'z'};
  WideToNarrow(wide, narrow, 3);
  EXPECT_EQ(std::string(narrow, 5), std::string("A\x42\xE9\0#", 5));
  // A text shorter than the count ends at its terminator: what lies behind it
  // (here "XY", in a script line the end of the heap block) is never read.
  std::fill(std::begin(narrow), std::end(narrow), '#');
  const WCHAR shorter[] = {u'a', u'b', 0, u'X', u'Y'};
  WideToNarrow(shorter, narrow, 5);
  EXPECT_EQ(std::string(narrow, 4), std::string("ab\0#", 4));

  WCHAR widened[5];
  std::fill(std::begin(widened), std::end(widened), u'#');
  NarrowToWide("a\xE9\x7F", widened, 3);
  EXPECT_EQ(widened[0], u'a');
  EXPECT_EQ(widened[1], 0xFFE9) << "bytes widen as signed values";
  EXPECT_EQ(widened[2], 0x7F);
  EXPECT_EQ(widened[3], 0);
  EXPECT_EQ(widened[4], u'#');
  NarrowToWide("abc", widened, -4);
  EXPECT_EQ(widened[0], 0) << "a negative count copies nothing but still terminates";
}

}  // namespace
