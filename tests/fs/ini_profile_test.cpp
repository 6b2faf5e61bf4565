// INI files on a simulated volume.
#include <gtest/gtest.h>

#include <cstring>

#include "fs/volume_fixture.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/ini_profile.h"

using fstest::SimulatedDisk;

namespace {

void Put(const std::u16string& name, const std::string& bytes) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);
}

std::string Get(const std::u16string& name) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string out;
  char buf[4096];
  DWORD done = 0;
  while (h != INVALID_HANDLE_VALUE && ReadFile(h, buf, sizeof buf, &done, nullptr) && done) out.append(buf, done);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return out;
}

class IniProfile : public ::testing::Test {
 protected:
  IniProfile() : disk({{u'C', 40ull << 20, "NTFS", ""}}) {}
  SimulatedDisk disk;
};

TEST_F(IniProfile, ReadsAsThePlatformDoes) {
  Put(u"C:\\setup.ini",
      "; comment\r\n[Setup]\r\n  Path = C:\\Program Files\\App  \r\nQuoted=\"  spaced  \"\r\nCount=42 items\r\n"
      "Hex=0x1F\r\nNeg=-5\r\nWord=abc\r\n[Other]\r\nx=1\r\n");
  struct Case {
    const char16_t* section;
    const char16_t* key;
    const char16_t* fallback;
    const char16_t* expected;
  } cases[] = {
      {u"setup", u"PATH", u"", u"C:\\Program Files\\App"},
      {u"Setup", u"Quoted", u"", u"  spaced  "},
      {u"Setup", u"missing", u" ", u""},  // a default loses its trailing blanks
      {u"Setup", u"missing", u"dflt  ", u"dflt"},
      {u"Nope", u"Path", u"x", u"x"},
      {u"Other", u"X", u"", u"1"},
  };
  WCHAR buf[256];
  for (auto& c : cases) {
    DWORD n = GetPrivateProfileStringW(c.section, c.key, c.fallback, buf, 256, u"C:\\setup.ini");
    EXPECT_EQ(std::u16string(buf, n), c.expected) << platform::to_utf8(c.key);
    EXPECT_EQ(std::u16string(buf), c.expected);
  }
  EXPECT_EQ(GetPrivateProfileIntW(u"Setup", u"Count", 7, u"C:\\setup.ini"), 42u);
  EXPECT_EQ(GetPrivateProfileIntW(u"Setup", u"Hex", 7, u"C:\\setup.ini"), 31u);
  EXPECT_EQ(GetPrivateProfileIntW(u"Setup", u"Neg", 7, u"C:\\setup.ini"), 0u);
  EXPECT_EQ(GetPrivateProfileIntW(u"Setup", u"Word", 7, u"C:\\setup.ini"), 0u);
  EXPECT_EQ(GetPrivateProfileIntW(u"Setup", u"None", 7, u"C:\\setup.ini"), 7u);
  EXPECT_EQ(GetPrivateProfileIntW(u"Setup", u"None", 7, u"C:\\missing.ini"), 7u);
  // Lists of sections and keys, and truncation into a small buffer.
  DWORD n = GetPrivateProfileStringW(nullptr, nullptr, u"", buf, 256, u"C:\\setup.ini");
  EXPECT_EQ(std::u16string(buf, n), std::u16string(u"Setup\0Other\0", 12));
  n = GetPrivateProfileStringW(u"Setup", u"Path", u"", buf, 8, u"C:\\setup.ini");
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(std::u16string(buf), u"C:\\Prog");
}

TEST_F(IniProfile, WritesKeepTheRestOfTheFile) {
  Put(u"C:\\app.ini", "[A]\r\nk=1\r\n\r\n[B]\r\nz=9\r\n");
  ASSERT_TRUE(WritePrivateProfileStringW(u"a", u"K", u"2", u"C:\\app.ini"));
  ASSERT_TRUE(WritePrivateProfileStringW(u"A", u"new", u"n", u"C:\\app.ini"));
  ASSERT_TRUE(WritePrivateProfileStringW(u"C", u"c", u"3", u"C:\\app.ini"));
  ASSERT_TRUE(WritePrivateProfileStringW(u"B", nullptr, nullptr, u"C:\\app.ini"));
  EXPECT_EQ(Get(u"C:\\app.ini"), "[A]\r\nk=2\r\nnew=n\r\n\r\n[C]\r\nc=3\r\n");
  // UTF-16 files stay UTF-16.
  Put(u"C:\\wide.ini", std::string("\xFF\xFE[\0S\0]\0\r\0\n\0v\0=\0\xE9\0\r\0\n\0", 22));
  WCHAR buf[16];
  EXPECT_EQ(GetPrivateProfileStringW(u"S", u"v", u"", buf, 16, u"C:\\wide.ini"), 1u);
  EXPECT_EQ(buf[0], 0xE9);
  ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"w", u"\u65e5", u"C:\\wide.ini"));
  std::string raw = Get(u"C:\\wide.ini");
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(raw.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(GetPrivateProfileStringW(u"S", u"w", u"", buf, 16, u"C:\\wide.ini"), 1u);
  EXPECT_EQ(buf[0], 0x65e5);
  DWORD spc = 0, bps = 0, fc = 0, tc = 0;
  EXPECT_TRUE(GetDiskFreeSpaceA("C:\\", &spc, &bps, &fc, &tc));
  EXPECT_EQ(bps, 512u);
}

}  // namespace
