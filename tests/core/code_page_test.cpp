#include "platform/core/code_page.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/error.h"
#include "platform/core/text.h"

namespace {

std::string hex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof(buf), "%02x", b);
    out += buf;
  }
  return out;
}

std::string to_bytes(UINT page, std::u16string_view text) {
  int n = WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string to_wide(UINT page, std::string_view bytes) {
  int n = MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  if (n > 0) MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

// Runs perl's Encode module (its own code-page tables) as an independent
// oracle: decodes the given bytes from `page`, one line of input per line of
// output, printing each result as UTF-16LE hex or "bad" when perl rejects it.
std::vector<std::string> perl_decode_lines(const std::string& page, const std::vector<std::string>& inputs) {
  std::string dir = testing::TempDir();
  // Unique per page and process: ctest runs the cases in parallel.
  std::string stem = dir + "/cp_oracle_" + page + "_" + std::to_string(getpid());
  std::string in_path = stem + "_in.txt";
  std::string out_path = stem + "_out.txt";
  {
    std::ofstream in(in_path, std::ios::binary);
    for (const auto& s : inputs) in << hex(s) << "\n";
  }
  std::string cmd = "perl -MEncode -ne 'chomp; my $b = pack(\"H*\", $_); my $s = eval { decode(\"" + page +
                    "\", $b, Encode::FB_CROAK) }; print defined $s ? unpack(\"H*\", encode(\"UTF-16LE\", $s)) : "
                    "\"bad\", \"\\n\";' < " +
                    in_path + " > " + out_path;
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream out(out_path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

std::string utf16_hex(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return hex(bytes);
}

class CodePageTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::SetAnsiCodePage(1252);
    platform::SetOemCodePage(437);
  }
};

TEST_F(CodePageTest, JapaneseRoundTripThrough932) {
  const std::u16string texts[] = {
      u"日本語",
      u"ディスクのクローンを作成します。よろしいですか？",
      u"ﾊﾝｶｸｶﾀｶﾅ and ASCII \\ ~ 123",
      u"①②③ ＡＢＣ ｱｲｳ 表示 ソフト",  // NEC specials and 0x5C trail bytes
  };
  for (const auto& text : texts) {
    std::string bytes = to_bytes(932, text);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(to_wide(932, bytes), text) << platform::to_utf8(text);
  }
  // Known bytes: the lead/trail pairs of the page, and 0x5C and 0x7E staying ASCII.
  EXPECT_EQ(hex(to_bytes(932, u"日本語")), "93fa967b8cea");
  EXPECT_EQ(hex(to_bytes(932, u"ソ表")), "835c955c");
  EXPECT_EQ(hex(to_bytes(932, u"\\~ｶ①")), "5c7eb68740");
}

TEST_F(CodePageTest, Page932AgreesWithPerlOnEveryDoubleByteCode) {
  std::vector<std::string> inputs;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      inputs.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  auto oracle = perl_decode_lines("cp932", inputs);
  ASSERT_EQ(oracle.size(), inputs.size()) << "perl with Encode is needed as the oracle";
  int compared = 0, mismatches = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::u16string ours;
    bool ok = platform::DecodeBytes(932, inputs[i], ours, /*strict=*/true);
    if (oracle[i] == "bad") continue;  // perl knows no character there
    ++compared;
    if (!ok || utf16_hex(ours) != oracle[i]) {
      if (++mismatches <= 10)
        ADD_FAILURE() << "bytes " << hex(inputs[i]) << ": ours " << (ok ? utf16_hex(ours) : "bad") << ", perl "
                      << oracle[i];
    }
  }
  EXPECT_GT(compared, 7000);
  EXPECT_EQ(mismatches, 0);
}

TEST_F(CodePageTest, Page1252AgreesWithPerlAndKeepsItsHoles) {
  std::vector<std::string> inputs;
  for (int b = 0; b < 256; ++b) inputs.push_back(std::string(1, static_cast<char>(b)));
  auto oracle = perl_decode_lines("cp1252", inputs);
  ASSERT_EQ(oracle.size(), inputs.size());
  for (int b = 0; b < 256; ++b) {
    std::u16string ours = to_wide(1252, inputs[static_cast<size_t>(b)]);
    ASSERT_EQ(ours.size(), 1u) << b;
    if (oracle[static_cast<size_t>(b)] == "bad") {
      // The five undefined bytes read as the control character of the same value.
      EXPECT_EQ(ours[0], static_cast<char16_t>(b)) << b;
    } else {
      EXPECT_EQ(utf16_hex(ours), oracle[static_cast<size_t>(b)]) << b;
    }
    // Every byte survives the way back.
    EXPECT_EQ(to_bytes(1252, ours), inputs[static_cast<size_t>(b)]) << b;
  }
  struct Case {
    unsigned char byte;
    char16_t unicode;
  } cases[] = {{0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x8D, 0x008D}, {0x9F, 0x0178}, {0xE9, 0x00E9}};
  for (auto c : cases) EXPECT_EQ(to_wide(1252, std::string(1, static_cast<char>(c.byte))), std::u16string(1, c.unicode));
}

TEST_F(CodePageTest, UnmappableCharactersBecomeTheDefaultCharacter) {
  struct Case {
    UINT page;
    std::u16string text;
    const char* default_char;
    std::string expect;
    BOOL used;
  } cases[] = {
      {1252, u"A日B", nullptr, "A?B", TRUE},
      {1252, u"A日B", "#", "A#B", TRUE},
      {1252, u"caf\u00e9", nullptr, "caf\xe9", FALSE},
      {437, u"caf\u00e9 \u2500", nullptr, "caf\x82 \xc4", FALSE},
      {437, u"\u20ac", nullptr, "?", TRUE},
      {932, u"x\u00e9y", nullptr, "x?y", TRUE},
      {932, u"a\U0001F600b", nullptr, "a?b", TRUE},  // one default for the whole surrogate pair
      {1252, u"a\U0001F600b", nullptr, "a?b", TRUE},
  };
  for (const auto& c : cases) {
    char out[32] = {};
    BOOL used = 2;
    int n = WideCharToMultiByte(c.page, 0, c.text.data(), static_cast<int>(c.text.size()), out, sizeof(out),
                                c.default_char, &used);
    EXPECT_EQ(std::string(out, static_cast<size_t>(std::max(n, 0))), c.expect) << c.page;
    EXPECT_EQ(used, c.used) << c.page;
  }
}

TEST_F(CodePageTest, InvalidInputIsReplacedOrRefused) {
  // UTF-8: a bad byte becomes U+FFFD, or fails with MB_ERR_INVALID_CHARS.
  EXPECT_EQ(to_wide(CP_UTF8, "a\xC3(b"), u"a\uFFFD(b");
  EXPECT_EQ(to_wide(CP_UTF8, "\xE6\x97"), u"\uFFFD");  // cut off at the end
  char16_t out[16];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xC3(b", 4, out, 16), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // 932: a lone lead byte, or an undefined pair, reads as the page's default character.
  EXPECT_EQ(to_wide(932, "A\x93"), u"A\u30FB");
  EXPECT_EQ(to_wide(932, "\x85\x40Z"), u"\u30FBZ");
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "A\x93", 2, out, 16), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // An unpaired surrogate to UTF-8.
  const char16_t lone[] = {u'a', 0xD800, u'b'};
  EXPECT_EQ(to_bytes(CP_UTF8, std::u16string_view(lone, 3)), "a\xEF\xBF\xBD" "b");
  char bytes[16];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 3, bytes, 16, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST_F(CodePageTest, BufferAndParameterRules) {
  char16_t out[8];
  // -1 counts the terminating zero.
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, out, 8), 4);
  EXPECT_EQ(std::u16string(out), u"abc");
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, out, 8), 3);

  char16_t small[2] = {u'x', u'y'};
  char bytes[4];
  BOOL used = FALSE;
  struct Case {
    const char* name;
    std::function<int()> call;
    DWORD error;
  } cases[] = {
      {"small buffer", [&] { return MultiByteToWideChar(1252, 0, "abc", -1, small, 2); }, ERROR_INSUFFICIENT_BUFFER},
      {"null input", [&] { return MultiByteToWideChar(1252, 0, nullptr, 3, out, 8); }, ERROR_INVALID_PARAMETER},
      {"zero length", [&] { return MultiByteToWideChar(1252, 0, "abc", 0, out, 8); }, ERROR_INVALID_PARAMETER},
      {"length below -1", [&] { return MultiByteToWideChar(1252, 0, "abc", -2, out, 8); }, ERROR_INVALID_PARAMETER},
      {"unknown page", [&] { return MultiByteToWideChar(12345, 0, "abc", 3, out, 8); }, ERROR_INVALID_PARAMETER},
      {"utf-8 flags", [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "abc", 3, out, 8); },
       ERROR_INVALID_FLAGS},
      {"narrow small buffer", [&] { return WideCharToMultiByte(1252, 0, u"abcdef", 6, bytes, 4, nullptr, nullptr); },
       ERROR_INSUFFICIENT_BUFFER},
      {"utf-8 used-default", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, bytes, 4, nullptr, &used); },
       ERROR_INVALID_PARAMETER},
      {"utf-8 default char", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, bytes, 4, "?", nullptr); },
       ERROR_INVALID_PARAMETER},
      {"strict flag off utf-8",
       [&] { return WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, u"abc", 3, bytes, 4, nullptr, nullptr); },
       ERROR_INVALID_FLAGS},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(c.call(), 0) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
  EXPECT_EQ(small[0], u'x');  // nothing written on failure
}

TEST_F(CodePageTest, MachinePagesAreSettable) {
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(GetOEMCP(), 437u);
  EXPECT_FALSE(platform::SetAnsiCodePage(12345));
  EXPECT_FALSE(platform::SetAnsiCodePage(CP_OEMCP));
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(to_wide(CP_ACP, "\x80"), u"\u20AC");
  EXPECT_EQ(to_wide(CP_OEMCP, "\x80"), u"\u00C7");

  // A Japanese machine: narrow text in the ANSI page is Shift-JIS.
  ASSERT_TRUE(platform::SetAnsiCodePage(932));
  ASSERT_TRUE(platform::SetOemCodePage(932));
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_EQ(GetOEMCP(), 932u);
  EXPECT_EQ(to_wide(CP_ACP, "\x93\xfa\x96\x7b"), u"日本");
  CStringW wide("\x93\xfa\x96\x7b\x8c\xea");
  EXPECT_EQ(wide, u"日本語");
  CStringA narrow(u"日本語");
  EXPECT_EQ(hex(narrow.GetString()), "93fa967b8cea");
  EXPECT_TRUE(IsValidCodePage(932));
  EXPECT_FALSE(IsValidCodePage(1250));
}

}  // namespace
