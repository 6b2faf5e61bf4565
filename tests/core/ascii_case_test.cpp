// ASCII case folding against the C library in the "C" locale (an independent
// definition of ASCII case).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <iterator>
#include <string>

#include "platform/core/ascii_case.h"

namespace {

using platform::AsciiCompareNoCase;
using platform::AsciiEqualNoCase;
using platform::AsciiLower;
using platform::AsciiStartsWithNoCase;
using platform::AsciiUpper;

TEST(AsciiCase, EveryByteFoldsAsTheCLocaleSays) {
  // The program never changes the C library's locale before this runs, so
  // toupper/tolower are the plain ASCII tables.
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    EXPECT_EQ(static_cast<unsigned char>(AsciiUpper(ch)), std::toupper(c)) << c;
    EXPECT_EQ(static_cast<unsigned char>(AsciiLower(ch)), std::tolower(c)) << c;
  }
}

TEST(AsciiCase, WideUnitsOutsideAsciiStayAsTheyAre) {
  // Latin-1, Greek, Cyrillic and full-width letters have case, but not here.
  for (char16_t c :
       {u'\u00E9', u'\u00C9', u'\u03B1', u'\u0430', u'\uFF41', u'\u0131', u'\u017F', u'@', u'[', u'`', u'{'}) {
    EXPECT_EQ(AsciiUpper(c), c) << static_cast<int>(c);
    EXPECT_EQ(AsciiLower(c), c) << static_cast<int>(c);
  }
  EXPECT_EQ(AsciiUpper(u'a'), u'A');
  EXPECT_EQ(AsciiUpper(u'z'), u'Z');
  EXPECT_EQ(AsciiLower(u'A'), u'a');
  EXPECT_EQ(AsciiLower(u'Z'), u'z');
}

TEST(AsciiCase, TextsAndComparisons) {
  EXPECT_EQ(AsciiUpper(std::u16string_view(u"\\\\?\\volume{ab-\u00e9}")), u"\\\\?\\VOLUME{AB-\u00e9}");
  EXPECT_EQ(AsciiLower(std::string_view("Disk 1 = USB\xC3\x89")), "disk 1 = usb\xC3\x89");
  EXPECT_EQ(AsciiUpper(std::string_view()), "");
  EXPECT_TRUE(AsciiEqualNoCase(std::string_view("SeBackupPrivilege"), std::string_view("sebackupprivilege")));
  EXPECT_TRUE(AsciiEqualNoCase(std::u16string_view(u"CMD.EXE"), std::u16string_view(u"cmd.exe")));
  EXPECT_FALSE(AsciiEqualNoCase(std::u16string_view(u"\u00C9"), std::u16string_view(u"\u00E9")));
  EXPECT_FALSE(AsciiEqualNoCase(std::string_view("abc"), std::string_view("abcd")));
  EXPECT_FALSE(AsciiEqualNoCase(std::string_view("@"), std::string_view("`")));
}

TEST(AsciiCase, OrderOfEveryPairOfUnitsFollowsTheCLocalesUpperCase) {
  // Sorting folds to upper case: '_' (between 'Z' and 'a') sorts after every
  // letter, '@' before them.
  for (int x = 0; x < 128; ++x)
    for (int y = 0; y < 128; ++y) {
      const int ux = std::toupper(x), uy = std::toupper(y);
      const int expected = ux < uy ? -1 : ux > uy ? 1 : 0;
      const char16_t a[] = {static_cast<char16_t>(x), 0}, b[] = {static_cast<char16_t>(y), 0};
      ASSERT_EQ(AsciiCompareNoCase(std::u16string_view(a, 1), std::u16string_view(b, 1)), expected) << x << " " << y;
    }
}

TEST(AsciiCase, PrefixesAndOrderOfTexts) {
  struct Case {
    std::u16string_view a, b;
    int order;             // AsciiCompareNoCase(a, b)
    bool a_begins_with_b;  // AsciiStartsWithNoCase(a, b)
  };
  const Case cases[] = {
      {u"Setup.exe", u"SETUP", 1, true},
      {u"setup", u"SETUP.EXE", -1, false},
      {u"Readme", u"readme", 0, true},
      {u"", u"", 0, true},
      {u"abc", u"", 1, true},
      {u"", u"a", -1, false},
      {u"a_b", u"aZb", 1, false},
      {u"a@b", u"AAB", -1, false},
      {u"\u00E9t\u00E9", u"\u00C9T", 1, false},
      {u"\u00E9t\u00E9", u"\u00E9T", 1, true},
      {u"Disk 10", u"disk 9", -1, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(AsciiCompareNoCase(c.a, c.b), c.order) << "case " << i;
    EXPECT_EQ(AsciiCompareNoCase(c.b, c.a), -c.order) << "case " << i;
    EXPECT_EQ(AsciiStartsWithNoCase(c.a, c.b), c.a_begins_with_b) << "case " << i;
  }
}

}  // namespace
