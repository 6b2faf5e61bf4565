// Name parsing and wildcard matching: tables of cases.
#include <gtest/gtest.h>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/path_name.h"
#include "platform/fs/wildcard.h"

using namespace platform::fs;

namespace {

struct NameCase {
  const char16_t* name;
  const char16_t* current;
  DWORD error;
  NameKind kind;
  const char16_t* full;  // FullPathText for files, the device text otherwise
};

TEST(ParseName, ResolvesEveryAcceptedForm) {
  const NameCase cases[] = {
      {u"C:\\Windows\\System32", u"", ERROR_SUCCESS, NameKind::File, u"C:\\Windows\\System32"},
      {u"c:/windows/", u"", ERROR_SUCCESS, NameKind::File, u"C:\\windows"},
      {u"C:\\", u"", ERROR_SUCCESS, NameKind::File, u"C:\\"},
      {u"C:\\a\\..\\..\\..\\b", u"", ERROR_SUCCESS, NameKind::File, u"C:\\b"},
      {u"C:\\a\\.\\b\\.", u"", ERROR_SUCCESS, NameKind::File, u"C:\\a\\b"},
      {u"C:\\dots...\\blanks  \\x. .", u"", ERROR_SUCCESS, NameKind::File, u"C:\\dots\\blanks\\x"},
      {u"C:\\\\double\\\\sep", u"", ERROR_SUCCESS, NameKind::File, u"C:\\double\\sep"},
      {u"\\\\?\\C:\\keep. ", u"", ERROR_SUCCESS, NameKind::File, u"C:\\keep. "},
      {u"\\\\.\\D:\\x", u"", ERROR_SUCCESS, NameKind::File, u"D:\\x"},
      {u"\\??\\C:\\Target", u"", ERROR_SUCCESS, NameKind::File, u"C:\\Target"},
      {u"rel\\file.txt", u"C:\\Users\\Me", ERROR_SUCCESS, NameKind::File, u"C:\\Users\\Me\\rel\\file.txt"},
      {u"..\\..\\..\\..\\x", u"C:\\Users\\Me", ERROR_SUCCESS, NameKind::File, u"C:\\x"},
      {u"\\top", u"D:\\deep\\down", ERROR_SUCCESS, NameKind::File, u"D:\\top"},
      {u"D:name", u"D:\\deep", ERROR_SUCCESS, NameKind::File, u"D:\\deep\\name"},
      {u"E:name", u"D:\\deep", ERROR_SUCCESS, NameKind::File, u"E:\\name"},
      {u"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\dir\\f",
       u"", ERROR_SUCCESS, NameKind::File, u"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\dir\\f"},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3\\Windows", u"", ERROR_SUCCESS, NameKind::File,
       u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3\\Windows"},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy12\\a", u"", ERROR_SUCCESS, NameKind::File,
       u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy12\\a"},
      {u"\\\\.\\PhysicalDrive0", u"", ERROR_SUCCESS, NameKind::Device, u"\\\\.\\PhysicalDrive0"},
      {u"\\\\.\\C:", u"", ERROR_SUCCESS, NameKind::Device, u"\\\\.\\C:"},
      {u"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}", u"", ERROR_SUCCESS, NameKind::Device,
       u"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}"},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2", u"", ERROR_SUCCESS, NameKind::Device,
       u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2"},
      {u"\\\\.\\pipe\\drum", u"", ERROR_SUCCESS, NameKind::Pipe, u"\\\\.\\pipe\\drum"},
      // Refused names.
      {u"C:\\a<b", u"", ERROR_INVALID_NAME, NameKind::File, u""},
      {u"C:\\what?", u"", ERROR_INVALID_NAME, NameKind::File, u""},
      {u"C:\\a:stream", u"", ERROR_INVALID_NAME, NameKind::File, u""},
      {u"\\\\server\\share\\x", u"", ERROR_BAD_PATHNAME, NameKind::File, u""},
      {u"relative", u"", ERROR_PATH_NOT_FOUND, NameKind::File, u""},
      {u"", u"C:\\", ERROR_PATH_NOT_FOUND, NameKind::File, u""},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeX\\a", u"", ERROR_INVALID_NAME, NameKind::File, u""},
      {u"\\\\?\\Volume{unclosed\\a", u"", ERROR_INVALID_NAME, NameKind::File, u""},
  };
  for (auto& c : cases) {
    ParsedName p;
    DWORD e = ParseName(c.name, c.current, &p);
    std::string label = platform::to_utf8(c.name);
    ASSERT_EQ(e, c.error) << label;
    if (e) continue;
    EXPECT_EQ(p.kind, c.kind) << label;
    if (p.kind == NameKind::File)
      EXPECT_EQ(FullPathText(p), c.full) << label;
    else
      EXPECT_EQ(p.device, c.full) << label;
  }
}

TEST(ParseName, OverlongComponentIsRefused) {
  ParsedName p;
  std::u16string name = u"C:\\" + std::u16string(256, u'a');
  EXPECT_EQ(ParseName(name, u"", &p), ERROR_FILENAME_EXCED_RANGE);
  name = u"C:\\" + std::u16string(255, u'a');
  EXPECT_EQ(ParseName(name, u"", &p), ERROR_SUCCESS);
}

TEST(Wildcard, MatchesAsThePlatformDoes) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  } cases[] = {
      {u"*", u"anything.txt", true},
      {u"*", u"noext", true},
      {u"*.*", u"noext", true},
      {u"*.*", u"a.b.c", true},
      {u"*.", u"noext", true},
      {u"*.", u"has.ext", false},
      {u"*.txt", u"READ.ME.TXT", true},
      {u"*.txt", u"notes.txt.bak", false},
      {u"*.TXT", u"a.txt", true},
      {u"a?.txt", u"a.txt", true},
      {u"a?.txt", u"ab.txt", true},
      {u"a?.txt", u"abc.txt", false},
      {u"???", u"ab", true},
      {u"???", u"abcd", false},
      {u"file.*", u"file", true},
      {u"file.*", u"file.c", true},
      {u"file.*", u"files", false},
      {u"boot*", u"bootmgr", true},
      {u"boot*", u"BOOT", true},
      {u"*mgr", u"bootmgr", true},
      {u"*mgr", u"mgrx", false},
      {u"a*b*c", u"aXXbYYc", true},
      {u"a*b*c", u"aXXcYYb", false},
      {u"exact.name", u"EXACT.NAME", true},
      {u"exact.name", u"exact.names", false},
      {u"\u00e9t\u00e9.*", u"\u00c9T\u00c9.doc", true},
  };
  for (auto& c : cases)
    EXPECT_EQ(Wildcard(c.pattern).matches(c.name), c.match)
        << platform::to_utf8(c.pattern) << " vs " << platform::to_utf8(c.name);
  EXPECT_TRUE(Wildcard(u"plain.txt").is_literal());
  EXPECT_FALSE(Wildcard(u"*.txt").is_literal());
}

}  // namespace
