// ASCII case folding against the C library in the "C" locale (an independent
// definition of ASCII case).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/core/ascii_case.h"

namespace {

using platform::AsciiEqualNoCase;
using platform::AsciiLower;
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

}  // namespace
