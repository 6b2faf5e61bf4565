#include "platform/core/cstring.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <vector>

#include "platform/core/code_page.h"
#include "platform/core/text.h"

namespace {

std::string u8(const CStringW& s) { return platform::to_utf8(s.GetString()); }

struct Case {
  const char* what;
  CStringW got;
  const char16_t* expect;
};

void check(const std::vector<Case>& cases) {
  for (const auto& c : cases) EXPECT_EQ(u8(c.got), platform::to_utf8(c.expect)) << c.what;
}

TEST(CStringTest, SubstringsClampOutOfRangeArguments) {
  const CStringW s(u"0123456789");
  check({
      {"Left", s.Left(3), u"012"},
      {"Left zero", s.Left(0), u""},
      {"Left negative", s.Left(-3), u""},
      {"Left too long", s.Left(50), u"0123456789"},
      {"Right", s.Right(3), u"789"},
      {"Right negative", s.Right(-1), u""},
      {"Right too long", s.Right(11), u"0123456789"},
      {"Mid rest", s.Mid(7), u"789"},
      {"Mid at end", s.Mid(10), u""},
      {"Mid past end", s.Mid(50), u""},
      {"Mid negative start", s.Mid(-5), u"0123456789"},
      {"Mid count", s.Mid(2, 3), u"234"},
      {"Mid count past end", s.Mid(8, 10), u"89"},
      {"Mid negative count", s.Mid(2, -1), u""},
      {"Mid negative start and count", s.Mid(-2, 4), u"0123"},
      {"Mid huge", s.Mid(INT32_MAX, INT32_MAX), u""},
      {"Mid start near overflow", s.Mid(5, INT32_MAX), u"56789"},
      {"SpanIncluding", CStringW(u"123abc").SpanIncluding(u"0123456789"), u"123"},
      {"SpanIncluding none", CStringW(u"abc").SpanIncluding(u"0123456789"), u""},
      {"SpanExcluding", CStringW(u"name=value").SpanExcluding(u"=;"), u"name"},
      {"SpanExcluding no set", CStringW(u"abc").SpanExcluding(nullptr), u"abc"},
  });
  EXPECT_EQ(s.GetAt(3), u'3');
  EXPECT_EQ(s[9], u'9');
  EXPECT_EQ(s.GetAt(10), 0);
  EXPECT_EQ(s.GetAt(-1), 0);
}

TEST(CStringTest, SearchesAndTheirLimits) {
  const CStringW s(u"C:\\dir\\file.txt");
  struct Search {
    const char* what;
    int got;
    int expect;
  } cases[] = {
      {"Find char", s.Find(u'\\'), 2},
      {"Find char from", s.Find(u'\\', 3), 6},
      {"Find char from its own position", s.Find(u'\\', 6), 6},
      {"Find char missing", s.Find(u'?'), -1},
      {"Find char start past end", s.Find(u'C', 100), -1},
      {"Find char negative start", s.Find(u'C', -1), -1},
      {"Find text", s.Find(u"file"), 7},
      {"Find text from", s.Find(u"\\", 7), -1},
      {"Find empty text", s.Find(u"", 4), 4},
      {"Find text start at end", s.Find(u"t", 15), -1},
      {"Find null text", s.Find(static_cast<const char16_t*>(nullptr)), -1},
      {"FindOneOf", s.FindOneOf(u".:"), 1},
      {"FindOneOf none", s.FindOneOf(u"#"), -1},
      {"FindOneOf empty set", s.FindOneOf(u""), -1},
      {"ReverseFind", s.ReverseFind(u'\\'), 6},
      {"ReverseFind first char", s.ReverseFind(u'C'), 0},
      {"ReverseFind missing", s.ReverseFind(u'/'), -1},
      {"ReverseFind in empty", CStringW().ReverseFind(u'a'), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expect) << c.what;
}

TEST(CStringTest, ReplaceGrowsShrinksAndCounts) {
  struct ReplaceCase {
    const char16_t* text;
    const char16_t* from;
    const char16_t* to;
    int count;
    const char16_t* expect;
  } cases[] = {
      {u"a-b-c", u"-", u"--", 2, u"a--b--c"},        // grows
      {u"a--b--c", u"--", u"-", 2, u"a-b-c"},        // shrinks
      {u"aaaa", u"aa", u"b", 2, u"bb"},              // no overlapping matches
      {u"abc", u"b", u"", 1, u"ac"},                 // removes
      {u"abc", u"b", nullptr, 1, u"ac"},             // null replacement removes
      {u"abc", u"x", u"y", 0, u"abc"},
      {u"abc", u"", u"y", 0, u"abc"},                // empty pattern changes nothing
      {u"%IPATH%\\x %IPATH%", u"%IPATH%", u"C:\\kit", 2, u"C:\\kit\\x C:\\kit"},
      {u"", u"a", u"b", 0, u""},
  };
  for (const auto& c : cases) {
    CStringW s(c.text);
    EXPECT_EQ(s.Replace(c.from, c.to), c.count) << platform::to_utf8(c.text);
    EXPECT_EQ(u8(s), platform::to_utf8(c.expect)) << platform::to_utf8(c.text);
  }
  CStringW chars(u"a.b.c");
  EXPECT_EQ(chars.Replace(u'.', u'\\'), 2);
  EXPECT_EQ(chars, u"a\\b\\c");
  // Replacing with text taken from the string itself.
  CStringW self(u"xyx");
  EXPECT_EQ(self.Replace(u"x", self.GetString()), 2);
  EXPECT_EQ(self, u"xyxyxyx");
}

TEST(CStringTest, TokenizeWalksTokensAndEnds) {
  struct TokenCase {
    const char16_t* text;
    const char16_t* delimiters;
    std::vector<std::u16string> tokens;
  } cases[] = {
      {u"a,b,,c", u",", {u"a", u"b", u"c"}},
      {u",,lead and trail,,", u",", {u"lead and trail"}},
      {u"one two\tthree", u" \t", {u"one", u"two", u"three"}},
      {u"", u",", {}},
      {u",,,", u",", {}},
      {u"whole", u"", {u"whole"}},  // no delimiters: one token, then the end
  };
  for (const auto& c : cases) {
    CStringW s(c.text);
    std::vector<std::u16string> got;
    int pos = 0;
    for (int guard = 0; guard < 20; ++guard) {
      CStringW token = s.Tokenize(c.delimiters, pos);
      if (pos == -1) {
        EXPECT_TRUE(token.IsEmpty());
        break;
      }
      got.push_back(token.GetString());
    }
    EXPECT_EQ(pos, -1) << platform::to_utf8(c.text);
    EXPECT_EQ(got, c.tokens) << platform::to_utf8(c.text);
  }
  int bad = -5;
  EXPECT_TRUE(CStringW(u"abc").Tokenize(u",", bad).IsEmpty());
  EXPECT_EQ(bad, -1);
}

TEST(CStringTest, EditingClampsPositions) {
  struct EditCase {
    const char* what;
    int result;
    int expect_result;
    CStringW text;
    const char16_t* expect;
  };
  std::vector<EditCase> cases;
  auto run = [&](const char* what, const char16_t* start, auto edit, int expect_result, const char16_t* expect) {
    CStringW s(start);
    int r = edit(s);
    cases.push_back({what, r, expect_result, s, expect});
  };
  run("Insert char", u"abc", [](CStringW& s) { return s.Insert(1, u'X'); }, 4, u"aXbc");
  run("Insert at negative", u"abc", [](CStringW& s) { return s.Insert(-4, u'X'); }, 4, u"Xabc");
  run("Insert past end", u"abc", [](CStringW& s) { return s.Insert(99, u"YZ"); }, 5, u"abcYZ");
  run("Insert self", u"ab", [](CStringW& s) { return s.Insert(1, s.GetString()); }, 4, u"aabb");
  run("Delete one", u"abcdef", [](CStringW& s) { return s.Delete(2); }, 5, u"abdef");
  run("Delete run", u"abcdef", [](CStringW& s) { return s.Delete(1, 3); }, 3, u"aef");
  run("Delete past end", u"abcdef", [](CStringW& s) { return s.Delete(4, 100); }, 4, u"abcd");
  run("Delete start past end", u"abc", [](CStringW& s) { return s.Delete(10, 2); }, 3, u"abc");
  run("Delete negative count", u"abc", [](CStringW& s) { return s.Delete(0, -2); }, 3, u"abc");
  run("Delete negative start", u"abc", [](CStringW& s) { return s.Delete(-3, 1); }, 2, u"bc");
  run("Remove", u"a b c ", [](CStringW& s) { return s.Remove(u' '); }, 3, u"abc");
  run("Trim", u" \t x y \r\n", [](CStringW& s) { s.Trim(); return s.GetLength(); }, 3, u"x y");
  run("TrimLeft char", u"00120", [](CStringW& s) { s.TrimLeft(u'0'); return s.GetLength(); }, 3, u"120");
  run("TrimRight set", u"C:\\dir\\/", [](CStringW& s) { s.TrimRight(u"\\/"); return s.GetLength(); }, 6, u"C:\\dir");
  run("Trim all", u"    ", [](CStringW& s) { s.Trim(); return s.GetLength(); }, 0, u"");
  run("MakeUpper", u"straße é ω", [](CStringW& s) { s.MakeUpper(); return 0; }, 0, u"STRAßE É Ω");
  run("MakeLower", u"ÀB Ω", [](CStringW& s) { s.MakeLower(); return 0; }, 0, u"àb ω");
  run("MakeReverse", u"abc", [](CStringW& s) { s.MakeReverse(); return 0; }, 0, u"cba");
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, c.expect_result) << c.what;
    EXPECT_EQ(u8(c.text), platform::to_utf8(c.expect)) << c.what;
  }
}

TEST(CStringTest, BufferAccess) {
  CStringW s(u"ab");
  char16_t* p = s.GetBuffer(10);
  for (int i = 0; i < 10; ++i) p[i] = static_cast<char16_t>(u'0' + i);
  p[10] = 0;  // room for the terminator is always there
  s.ReleaseBuffer();
  EXPECT_EQ(s, u"0123456789");

  p = s.GetBuffer(4);  // smaller than the length keeps the text
  EXPECT_EQ(std::u16string(p), u"0123456789");
  p[3] = 0;
  s.ReleaseBuffer();
  EXPECT_EQ(s, u"012");

  p = s.GetBuffer(8);
  p[0] = u'x';
  s.ReleaseBuffer(1);
  EXPECT_EQ(s, u"x");

  // A length beyond the buffer is clamped, and a missing terminator is not
  // searched for beyond it.
  p = s.GetBuffer(4);
  for (int i = 0; i < 4; ++i) p[i] = u'z';
  s.ReleaseBuffer(1000);
  EXPECT_EQ(s, u"zzzz");

  p = s.GetBufferSetLength(3);
  p[0] = u'a';
  p[1] = u'b';
  p[2] = u'c';
  EXPECT_EQ(s.GetLength(), 3);
  EXPECT_EQ(s, u"abc");
  s.GetBufferSetLength(-1);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, ConstructionConversionAndComparison) {
  EXPECT_TRUE(CStringW(static_cast<const char16_t*>(nullptr)).IsEmpty());
  EXPECT_EQ(CStringW(u"abcdef", 3), u"abc");
  EXPECT_EQ(CStringW(u'-', 4), u"----");
  EXPECT_EQ(CStringW("caf\xe9"), u"café");  // narrow text through the ANSI page
  EXPECT_EQ(CStringA(u"caf\u00e9"), "caf\xe9");
  CStringA narrow = CStringW(u"x");
  EXPECT_EQ(narrow, "x");

  CStringW a(u"Disk");
  EXPECT_EQ(a + u" " + CStringW(u"1") + u'!', u"Disk 1!");
  EXPECT_EQ(u">" + a, u">Disk");
  a += u'2';
  a += "3";
  EXPECT_EQ(a, u"Disk23");
  EXPECT_EQ(a.Compare(u"Disk23"), 0);
  EXPECT_LT(a.Compare(u"Disk3"), 0);
  EXPECT_GT(a.Compare(u"Disk"), 0);
  EXPECT_EQ(a.CompareNoCase(u"dISK23"), 0);
  EXPECT_EQ(CStringW(u"É").CompareNoCase(u"é"), 0);
  EXPECT_TRUE(CStringW(u"a") < CStringW(u"b"));
  EXPECT_TRUE(a != u"disk23");
  const char16_t* raw = a;
  EXPECT_EQ(std::u16string(raw), u"Disk23");
  a.SetAt(0, u'd');
  a.SetAt(100, u'?');  // ignored
  EXPECT_EQ(a, u"disk23");
  a.Empty();
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(a.GetString()[0], 0);
}

CStringW format_v(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  CStringW s;
  s.FormatV(format, args);
  va_end(args);
  return s;
}

TEST(CStringTest, FormatAndAppendFormat) {
  CStringW s;
  CStringW model(u"Model X");
  s.Format(u"%s (%c:) %d%%", model, u'E', 50);
  EXPECT_EQ(s, u"Model X (E:) 50%");
  s.AppendFormat(u" %4.2f GB", 1.5);
  EXPECT_EQ(s, u"Model X (E:) 50% 1.50 GB");
  // Formatting into itself reads the old value first.
  s.Format(u"[%s]", s);
  EXPECT_EQ(s, u"[Model X (E:) 50% 1.50 GB]");
  s.Format(nullptr);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(format_v(u"%S-%d", "n", 7), u"n-7");
  CStringA a;
  a.Format("%s=%S", "k", u"v");
  EXPECT_EQ(a, "k=v");
}

TEST(CStringTest, NarrowCaseChangesKeepDoubleByteCharacters) {
  ASSERT_TRUE(platform::SetAnsiCodePage(932));
  // "ヂ" is 0x83 0x61: its trail byte is the code of 'a'.
  CStringA s("\x83\x61" "ab");
  s.MakeUpper();
  EXPECT_EQ(s, "\x83\x61" "AB");
  platform::SetAnsiCodePage(1252);
  CStringA w("\x83\x41" "AB");
  w.MakeLower();
  EXPECT_EQ(w, "\x83\x61" "ab");  // single-byte page: every byte is a character
}

}  // namespace

namespace {

TEST(CStringTest, LoadStringUsesTheInstalledLoader) {
  CStringW s(u"unchanged");
  platform::SetStringResourceLoader(nullptr);
  EXPECT_FALSE(s.LoadString(101));
  EXPECT_EQ(s, u"unchanged");
  platform::SetStringResourceLoader([](UINT id, std::u16string& text) {
    if (id != 101) return false;
    text = u"Clone Disk é";
    return true;
  });
  EXPECT_TRUE(s.LoadString(101));
  EXPECT_EQ(s, u"Clone Disk é");
  EXPECT_FALSE(s.LoadString(102));
  EXPECT_EQ(s, u"Clone Disk é");
  CStringA a;
  EXPECT_TRUE(a.LoadString(101));
  EXPECT_EQ(a, "Clone Disk \xe9");
  platform::SetStringResourceLoader(nullptr);
}

}  // namespace
