#include "platform/core/wide_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/core/text.h"

namespace {

TEST(WideTextTest, CopyConcatenateAndMeasure) {
  char16_t buf[16];
  EXPECT_EQ(wcscpy(buf, _T("disk")), buf);
  EXPECT_EQ(wcslen(buf), 4u);
  wcscat(buf, TEXT(" 1"));
  EXPECT_EQ(std::u16string(buf), u"disk 1");
  wcsncat(buf, u"234", 2);
  EXPECT_EQ(std::u16string(buf), u"disk 123");
  EXPECT_EQ(lstrlenW(buf), 8);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(wcslen(static_cast<const char16_t*>(nullptr)), 0u);
  EXPECT_EQ(wcsnlen(buf, 3), 3u);

  // wcsncpy pads with zeros and does not terminate a full copy.
  char16_t pad[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
  wcsncpy(pad, u"ab", 4);
  EXPECT_EQ(pad[1], u'b');
  EXPECT_EQ(pad[2], 0);
  EXPECT_EQ(pad[3], 0);
  EXPECT_EQ(pad[4], u'#');
  wcsncpy(pad, u"abcdef", 3);
  EXPECT_EQ(pad[3], 0);  // from the previous padding: nothing written at [3]

  // lstrcpynW always terminates within its count.
  char16_t small[4];
  lstrcpynW(small, u"abcdef", 4);
  EXPECT_EQ(std::u16string(small), u"abc");
  lstrcpyW(small, u"xy");
  lstrcatW(small, u"z");
  EXPECT_EQ(std::u16string(small), u"xyz");
}

TEST(WideTextTest, CompareAndSearch) {
  struct Compare {
    const char16_t* a;
    const char16_t* b;
    int cmp, icmp;
  } cases[] = {
      {u"abc", u"abc", 0, 0},     {u"abc", u"ABC", 1, 0}, {u"ab", u"abc", -1, -1},
      {u"NTFS", u"ntfs", -1, 0},  {u"Ä", u"ä", -1, 0},    {u"", u"", 0, 0},
      {u"b", u"a", 1, 1},         {nullptr, u"", 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lstrcmpW(c.a, c.b), c.cmp);
    EXPECT_EQ(lstrcmpiW(c.a, c.b), c.icmp);
    EXPECT_EQ(wcscmp(c.a, c.b) < 0 ? -1 : wcscmp(c.a, c.b) > 0 ? 1 : 0, c.cmp);
    EXPECT_EQ(_wcsicmp(c.a, c.b) < 0 ? -1 : _wcsicmp(c.a, c.b) > 0 ? 1 : 0, c.icmp);
  }
  EXPECT_EQ(wcsncmp(u"abcX", u"abcY", 3), 0);
  EXPECT_EQ(_wcsnicmp(u"ABCx", u"abcy", 3), 0);
  EXPECT_NE(_wcsnicmp(u"ABCx", u"abcy", 4), 0);

  const char16_t* path = u"C:\\dir\\file.txt";
  EXPECT_EQ(wcschr(path, u'\\') - path, 2);
  EXPECT_EQ(wcsrchr(path, u'\\') - path, 6);
  EXPECT_EQ(wcschr(path, 0) - path, 15);  // the terminator can be found
  EXPECT_EQ(wcschr(path, u'?'), nullptr);
  EXPECT_EQ(wcsstr(path, u"file") - path, 7);
  EXPECT_EQ(wcsstr(path, u"") - path, 0);
  EXPECT_EQ(wcsstr(path, u"files"), nullptr);
}

TEST(WideTextTest, NumbersParseAndClamp) {
  struct Number {
    const char16_t* text;
    int base;
    int64_t wcstol_value;
    uint64_t wcstoul_value;
    int consumed;
  } cases[] = {
      {u"42", 10, 42, 42, 2},
      {u"  -17xyz", 10, -17, static_cast<uint32_t>(-17), 5},
      {u"+8", 10, 8, 8, 2},
      {u"0x1F", 0, 31, 31, 4},
      {u"0x1F", 16, 31, 31, 4},
      {u"0x", 16, 0, 0, 1},  // "0" parsed, the x left over
      {u"017", 0, 15, 15, 3},
      {u"zz", 36, 1295, 1295, 2},
      {u"abc", 10, 0, 0, 0},
      {u"", 10, 0, 0, 0},
      {u"2147483648", 10, INT32_MAX, 2147483648u, 10},
      {u"-2147483649", 10, INT32_MIN, static_cast<uint32_t>(-2147483649LL), 11},
      {u"4294967296", 10, INT32_MAX, UINT32_MAX, 10},
      {u"99999999999999999999999", 10, INT32_MAX, UINT32_MAX, 23},
      {u"-1", 10, -1, UINT32_MAX, 2},
      {u"12", 1, 0, 0, 0},  // invalid base
  };
  for (const auto& c : cases) {
    char16_t* end = nullptr;
    EXPECT_EQ(wcstol(c.text, &end, c.base), c.wcstol_value) << platform::to_utf8(c.text);
    EXPECT_EQ(end - c.text, c.consumed) << platform::to_utf8(c.text);
    EXPECT_EQ(wcstoul(c.text, &end, c.base), c.wcstoul_value) << platform::to_utf8(c.text);
  }
  errno = 0;
  EXPECT_EQ(_wtoi(u"3000000000"), INT32_MAX);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(_wtoi(u" 12ab"), 12);
  EXPECT_EQ(_wtol(u"-5"), -5);
  EXPECT_EQ(_wtoi64(u"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(_wtoi64(u"9223372036854775808"), INT64_MAX);
  EXPECT_EQ(_wcstoui64(u"18446744073709551615", nullptr, 10), UINT64_MAX);
  EXPECT_EQ(_wtoi(nullptr), 0);
}

TEST(WideTextTest, CaseMapping) {
  struct Pair {
    char16_t lower, upper;
  } pairs[] = {{u'a', u'A'}, {u'z', u'Z'}, {u'é', u'É'}, {u'ω', u'Ω'}, {u'я', u'Я'}, {u'ａ', u'Ａ'}};
  for (auto p : pairs) {
    EXPECT_EQ(towupper(p.lower), p.upper);
    EXPECT_EQ(towlower(p.upper), p.lower);
  }
  EXPECT_EQ(towupper(u'1'), u'1');
  EXPECT_EQ(towupper(u'日'), u'日');
  EXPECT_EQ(towupper(static_cast<char16_t>(0xD800)), 0xD800);

  char16_t text[] = u"c:\\windows\\é";
  EXPECT_EQ(CharUpperW(text), text);
  EXPECT_EQ(std::u16string(text), u"C:\\WINDOWS\\É");
  CharLowerBuffW(text, 2);
  EXPECT_EQ(std::u16string(text), u"c:\\WINDOWS\\É");
  // A single character passed in the pointer's low word.
  auto one = reinterpret_cast<uintptr_t>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(u'q'))));
  EXPECT_EQ(one, static_cast<uintptr_t>(u'Q'));
}

}  // namespace

namespace {

TEST(WideTextTest, BoundsCheckedCopiesRefuseOverflow) {
  char16_t buf[6];
  struct Case {
    const char* what;
    std::function<errno_t()> call;
    errno_t result;
    std::u16string after;
  } cases[] = {
      {"fits", [&] { return wcscpy_s(buf, u"abcde"); }, 0, u"abcde"},
      {"one too many", [&] { return wcscpy_s(buf, u"abcdef"); }, ERANGE, u""},
      {"null source", [&] { return wcscpy_s(buf, nullptr); }, EINVAL, u""},
      {"append fits", [&] { wcscpy_s(buf, u"ab"); return wcscat_s(buf, u"cde"); }, 0, u"abcde"},
      {"append overflows", [&] { wcscpy_s(buf, u"ab"); return wcscat_s(buf, u"cdef"); }, ERANGE, u""},
      {"counted copy", [&] { return wcsncpy_s(buf, u"abcdefgh", 3); }, 0, u"abc"},
      {"counted copy too long", [&] { return wcsncpy_s(buf, u"abcdefgh", 6); }, ERANGE, u""},
      {"truncating copy", [&] { return wcsncpy_s(buf, u"abcdefgh", _TRUNCATE); }, STRUNCATE, u"abcde"},
      {"truncating copy that fits", [&] { return wcsncpy_s(buf, u"abc", _TRUNCATE); }, 0, u"abc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(), c.result) << c.what;
    EXPECT_EQ(std::u16string(buf), c.after) << c.what;
  }
  // An unterminated destination cannot be appended to.
  for (auto& ch : buf) ch = u'x';
  EXPECT_EQ(wcscat_s(buf, u"a"), EINVAL);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(wcscpy_s(nullptr, 4, u"a"), EINVAL);
  EXPECT_EQ(wcscpy_s(buf, 0, u"a"), EINVAL);
}

TEST(WideTextTest, IntegersToText) {
  char16_t buf[80];
  struct Case {
    std::u16string got;
    std::u16string expect;
  } cases[] = {
      {_itow(-1234, buf, 10), u"-1234"},
      {_itow(-1, buf, 16), u"ffffffff"},
      {_itow(255, buf, 2), u"11111111"},
      {_itow(35, buf, 36), u"z"},
      {_itow(0, buf, 10), u"0"},
      {_i64tow(INT64_MIN, buf, 10), u"-9223372036854775808"},
      {_i64tow(-1, buf, 16), u"ffffffffffffffff"},
      {_ui64tow(UINT64_MAX, buf, 10), u"18446744073709551615"},
      {_ultow(4000000000u, buf, 10), u"4000000000"},
      {_ltow(-7, buf, 10), u"-7"},
      {_itow(5, buf, 1), u""},  // bad radix
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expect) << platform::to_utf8(c.expect);
  char16_t small[4];
  EXPECT_EQ(_itow_s(123, small, 4, 10), 0);
  EXPECT_EQ(std::u16string(small), u"123");
  EXPECT_EQ(_itow_s(-123, small, 4, 10), ERANGE);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(_i64tow_s(10, small, 4, 37), EINVAL);
}

}  // namespace
