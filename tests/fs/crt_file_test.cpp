// The C runtime's streams on a simulated NTFS volume.
#include <gtest/gtest.h>

#include <cstring>

#include "fs/volume_fixture.h"
#include "platform/fs/crt_file.h"
#include "platform/fs/file_api.h"

using fstest::SimulatedDisk;

namespace {

std::string RawBytes(const std::u16string& name) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out;
  char buf[4096];
  DWORD done = 0;
  while (ReadFile(h, buf, sizeof buf, &done, nullptr) && done) out.append(buf, done);
  CloseHandle(h);
  return out;
}

class CrtFile : public ::testing::Test {
 protected:
  CrtFile() : disk({{u'C', 40ull << 20, "NTFS", ""}}) {}
  SimulatedDisk disk;
};

TEST_F(CrtFile, ModesAsATable) {
  struct Step {
    const char16_t* mode;
    const char* write;      // written with fwrite (null: nothing)
    long seek;              // fseek from the start before writing (-1: none)
    const char* expected;   // raw bytes of the file afterwards
  } steps[] = {
      {u"wb", "one\ntwo", -1, "one\ntwo"},
      {u"ab+", "+three", -1, "one\ntwo+three"},
      {u"r+b", "ONE", 0, "ONE\ntwo+three"},
      {u"ab+", "!", 0, "ONE\ntwo+three!"},  // appends whatever the position
      {u"w", "a\nb\n", -1, "a\r\nb\r\n"},   // text mode writes CR LF
      {u"wb+", "", -1, ""},
  };
  for (auto& s : steps) {
    CFILE* f = _wfopen(u"C:\\stream.dat", s.mode);
    ASSERT_NE(f, nullptr);
    if (s.seek >= 0) {
      ASSERT_EQ(fseek(f, s.seek, SEEK_SET), 0);
    }
    size_t n = std::strlen(s.write);
    EXPECT_EQ(fwrite(s.write, 1, n, f), n);
    EXPECT_EQ(fclose(f), 0);
    EXPECT_EQ(RawBytes(u"C:\\stream.dat"), s.expected);
  }
  EXPECT_EQ(_wfopen(u"C:\\missing.dat", u"rb"), nullptr);
  EXPECT_EQ(_wfopen(u"C:\\stream.dat", u"q"), nullptr);
  // A read-only stream refuses writes and says so.
  CFILE* f = _wfopen(u"C:\\stream.dat", u"rb");
  EXPECT_EQ(fwrite("x", 1, 1, f), 0u);
  EXPECT_TRUE(ferror(f));
  fclose(f);
}

TEST_F(CrtFile, TextReadingSeekingAndWideText) {
  CFILE* f = _wfopen(u"C:\\lines.txt", u"wb");
  fwrite("first\r\nsecond\r\nlone\rcr\r\n", 1, 24, f);
  fclose(f);
  f = _wfopen(u"C:\\lines.txt", u"rt");
  char line[64];
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "first\n");
  EXPECT_EQ(ftell(f), 7);
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "second\n");
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "lone\rcr\n") << "a lone CR stays";
  EXPECT_EQ(fgets(line, sizeof line, f), nullptr);
  EXPECT_TRUE(feof(f));
  ASSERT_EQ(fseek(f, -4, SEEK_END), 0);
  EXPECT_FALSE(feof(f));
  EXPECT_EQ(fgetc(f), 'c');
  fclose(f);

  // UTF-16LE with a byte-order mark, written and read back.
  f = _wfopen(u"C:\\wide.txt", u"w, ccs=UTF-16LE");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fputws(u"Gr\u00fc\u00dfe\n", f), 0);
  EXPECT_GT(fwprintf(f, u"%s=%d [%5u|%-3x] %S %%\n", u"disk", -7, 42u, 255u, "C:"), 0);
  fclose(f);
  std::string raw = RawBytes(u"C:\\wide.txt");
  ASSERT_GE(raw.size(), 4u);
  EXPECT_EQ(raw.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(raw.substr(2, 4), std::string("G\0r\0", 4));
  f = _wfopen(u"C:\\wide.txt", u"r, ccs=UTF-16LE");
  WCHAR buf[64];
  ASSERT_NE(fgetws(buf, 64, f), nullptr);
  EXPECT_EQ(std::u16string(buf), u"Gr\u00fc\u00dfe\n");
  ASSERT_NE(fgetws(buf, 64, f), nullptr);
  EXPECT_EQ(std::u16string(buf), u"disk=-7 [   42|ff ] C: %\n");
  EXPECT_EQ(fgetws(buf, 64, f), nullptr);
  fclose(f);
  // UTF-8 text keeps characters outside the basic plane whole.
  f = _wfopen(u"C:\\utf8.txt", u"w, ccs=UTF-8");
  fputws(u"a\U0001F600b", f);
  fclose(f);
  EXPECT_EQ(RawBytes(u"C:\\utf8.txt"), "\xEF\xBB\xBF" "a\xF0\x9F\x98\x80" "b");
  f = _wfopen(u"C:\\utf8.txt", u"r, ccs=UTF-8");
  ASSERT_NE(fgetws(buf, 64, f), nullptr);
  EXPECT_EQ(std::u16string(buf), u"a\U0001F600b");
  fclose(f);
}

}  // namespace
