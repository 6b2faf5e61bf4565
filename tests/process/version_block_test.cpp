#include <gtest/gtest.h>

#include <cstring>

#include "platform/core/little_endian.h"
#include "platform/process/version_block.h"

using namespace platform::process;

namespace {

std::u16string TextAt(const std::vector<uint8_t>& b, size_t unit) {
  std::u16string out;
  for (size_t at = unit * 2; at + 1 < b.size(); at += 2) {
    char16_t c = platform::ReadLe16(&b[at]);
    if (!c) break;
    out.push_back(c);
  }
  return out;
}

// The programs' own readers scan the raw block: (a) texts one after another,
// the value two units after the end of the text holding the key; (b) the unit
// where the key starts, the value a fixed count of units after it.
std::u16string ScanConsecutiveTexts(const std::vector<uint8_t>& b, std::u16string_view key) {
  size_t units = b.size() / 2;
  size_t start = 0;
  while (start < units) {
    size_t end = start;
    while (end < units && platform::ReadLe16(&b[end * 2]) != 0) ++end;
    std::u16string text = TextAt(b, start);
    if (text.find(key) != std::u16string::npos) return TextAt(b, end + 2);
    start = end + 1;
  }
  return u"<none>";
}

std::u16string ScanKeyStart(const std::vector<uint8_t>& b, std::u16string_view key, size_t offset) {
  size_t units = b.size() / 2;
  for (size_t i = 0; i + key.size() <= units; ++i) {
    bool match = true;
    for (size_t k = 0; k < key.size() && match; ++k) match = platform::ReadLe16(&b[(i + k) * 2]) == key[k];
    if (match) return TextAt(b, i + offset);
  }
  return u"<none>";
}

VersionInfo Sample() {
  VersionInfo info;
  info.file_version[0] = 3;
  info.file_version[1] = 1;
  info.file_version[2] = 0;
  info.file_version[3] = 7;
  info.strings = {{u"CompanyName", u"Corvelware"},
                  {u"FileDescription", u"Drummetworks disk tools"},
                  {u"FileVersion", u"3, 1, 0, 7"},
                  {u"ProductName", u"Drummetworks"},
                  {u"LegalCopyright", u"(c) 2026"}};
  return info;
}

TEST(VersionBlock, SmallBlockHasTheFixedLayout) {
  VersionInfo info;
  info.strings = {{u"FileVersion", u"1, 2"}};
  auto b = BuildVersionBlock(info);
  ASSERT_EQ(b.size(), 264u);
  EXPECT_EQ(platform::ReadLe16(&b[0]), 264);  // root length
  EXPECT_EQ(platform::ReadLe16(&b[2]), 52);   // fixed info size
  EXPECT_EQ(TextAt(b, 3), u"VS_VERSION_INFO");
  uint32_t signature;
  std::memcpy(&signature, b.data() + 40, 4);
  EXPECT_EQ(signature, VS_FFI_SIGNATURE);
  EXPECT_EQ(platform::ReadLe16(&b[92]), 104);                     // StringFileInfo length
  EXPECT_EQ(TextAt(b, 98 / 2), u"StringFileInfo");
  EXPECT_EQ(TextAt(b, 134 / 2), u"040904b0");
  EXPECT_EQ(platform::ReadLe16(&b[152]), 42);                     // the FileVersion node
  EXPECT_EQ(platform::ReadLe16(&b[154]), 5);                      // value length in units, terminator included
  EXPECT_EQ(platform::ReadLe16(&b[156]), 1);                      // text
  EXPECT_EQ(TextAt(b, 158 / 2), u"FileVersion");
  EXPECT_EQ(TextAt(b, 184 / 2), u"1, 2");
  EXPECT_EQ(platform::ReadLe16(&b[196]), 68);                     // VarFileInfo
  EXPECT_EQ(TextAt(b, 234 / 2), u"Translation");
  EXPECT_EQ(platform::ReadLe16(&b[260]), 0x0409);
  EXPECT_EQ(platform::ReadLe16(&b[262]), 0x04B0);
}

TEST(VersionBlock, RawScansOfTheProgramsFindTheirValues) {
  auto b = BuildVersionBlock(Sample());
  ASSERT_FALSE(b.empty());
  EXPECT_EQ(ScanConsecutiveTexts(b, u"FileVersion"), u"3, 1, 0, 7");
  EXPECT_EQ(ScanKeyStart(b, u"FileVersion", 13), u"3, 1, 0, 7");
  EXPECT_EQ(ScanKeyStart(b, u"ProductName", 13), u"Drummetworks");
  EXPECT_EQ(ScanKeyStart(b, u"FileDescription", 17), u"Drummetworks disk tools");
}

TEST(VersionBlock, PlatformCallsReadARegisteredProgram) {
  RegisterVersionBlock(u"C:\\Program Files\\Drum\\Drum.exe", BuildVersionBlock(Sample()));
  DWORD handle = 99;
  DWORD size = GetFileVersionInfoSizeW(u"C:\\Program Files\\Drum\\..\\Drum\\DRUM.EXE", &handle);
  ASSERT_GT(size, 0u);
  EXPECT_EQ(handle, 0u);
  std::vector<uint8_t> buffer(size * 2, 0xCC);
  ASSERT_TRUE(GetFileVersionInfoW(u"C:\\Program Files\\Drum\\Drum.exe", 0, size * 2, buffer.data()));

  struct Case {
    const char16_t* path;
    bool found;
    std::u16string text;
  };
  const Case cases[] = {
      {u"\\StringFileInfo\\040904b0\\FileVersion", true, u"3, 1, 0, 7"},
      {u"\\StringFileInfo\\040904B0\\productname", true, u"Drummetworks"},
      {u"\\StringFileInfo\\040904b0\\LegalCopyright", true, u"(c) 2026"},
      {u"\\StringFileInfo\\040904b0\\Comments", false, u""},
      {u"\\StringFileInfo\\041104b0\\FileVersion", false, u""},
      {u"\\Nothing", false, u""},
  };
  for (const auto& c : cases) {
    LPVOID value = nullptr;
    UINT length = 0;
    BOOL ok = VerQueryValueW(buffer.data(), c.path, &value, &length);
    EXPECT_EQ(ok != FALSE, c.found);
    if (c.found && ok) {
      EXPECT_EQ(length, c.text.size() + 1);
      EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), c.text);
    } else {
      EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
  }
  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(buffer.data(), u"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof(fixed));
  EXPECT_EQ(fixed.dwSignature, VS_FFI_SIGNATURE);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00030001u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00000007u);
  ASSERT_TRUE(VerQueryValueW(buffer.data(), u"\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(length, 4u);

  // Any folder, by file name only.
  RegisterVersionBlock(u"Pellimor.exe", BuildVersionBlock(Sample()));
  EXPECT_GT(GetFileVersionInfoSizeW(u"D:\\x\\pellimor.exe", nullptr), 0u);
  EXPECT_EQ(GetFileVersionInfoSizeW(u"C:\\Windows\\notepad.exe", nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  UnregisterVersionBlock(u"Pellimor.exe");
  UnregisterVersionBlock(u"C:\\Program Files\\Drum\\Drum.exe");
}

TEST(VersionBlock, ShortBufferGetsACutBlockThatStaysInBounds) {
  RegisterVersionBlock(u"cut.exe", BuildVersionBlock(Sample()));
  std::vector<uint8_t> small(120);
  ASSERT_TRUE(GetFileVersionInfoW(u"cut.exe", 0, static_cast<DWORD>(small.size()), small.data()));
  EXPECT_EQ(platform::ReadLe16(&small[0]), 120);
  LPVOID value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueW(small.data(), u"\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  UnregisterVersionBlock(u"cut.exe");
}

// Damaged blocks: each is cut or patched so a length or key points outside.
TEST(VersionBlock, DamagedBlocksAreRefusedNotOverread) {
  const auto good = BuildVersionBlock(Sample());
  struct Damage {
    const char* name;
    size_t at;
    WORD value;
    bool refused;
  };
  // Offsets as in SmallBlockHasTheFixedLayout's block up to StringFileInfo.
  const Damage cases[] = {
      {"root longer than the buffer", 0, 0xFFFF, true},
      {"root shorter than its header", 0, 4, true},
      {"child longer than its parent", 92, 0xF000, true},
      {"child of length zero", 92, 0, true},
      {"text value longer than its node", 0, 0, false},  // patched below
  };
  for (const auto& d : cases) {
    auto bad = good;
    if (d.refused) {
      bad[d.at] = static_cast<uint8_t>(d.value & 0xFF);
      bad[d.at + 1] = static_cast<uint8_t>(d.value >> 8);
    }
    const uint8_t* value = nullptr;
    UINT length = 0;
    if (!d.refused) {
      // The FileVersion node's value length claims far more than the node holds.
      size_t key = 0;
      for (size_t i = 0; i + 22 <= bad.size(); i += 2)
        if (std::memcmp(bad.data() + i, u"FileVersion", 22) == 0) key = i;
      ASSERT_NE(key, 0u);
      bad[key - 4] = 0xFF;
      bad[key - 3] = 0x7F;
    }
    bool found = FindVersionValue(bad.data(), bad.size(), u"\\StringFileInfo\\040904b0\\FileVersion", &value, &length);
    EXPECT_EQ(found, !d.refused) << d.name;
    if (found) {  // cut to what the node holds
      EXPECT_LE(value + length * 2, bad.data() + bad.size()) << d.name;
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(value), 10), u"3, 1, 0, 7") << d.name;
      EXPECT_LT(length, 40u) << d.name;
    }
  }
  // A StringFileInfo entry typed binary would have its byte count read as
  // text units, twice the bytes it holds.
  {
    auto bad = good;
    size_t key = 0;
    for (size_t i = 0; i + 22 <= bad.size(); i += 2)
      if (std::memcmp(bad.data() + i, u"FileVersion", 22) == 0) key = i;
    ASSERT_NE(key, 0u);
    bad[key - 2] = 0;
    const uint8_t* value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(FindVersionValue(bad.data(), bad.size(), u"\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  }
  // A key without terminator running to the end of the buffer.
  std::vector<uint8_t> endless = {0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 'A', 0, 'B', 0, 'C', 0, 'D', 0, 'E', 0};
  const uint8_t* value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(FindVersionValue(endless.data(), endless.size(), u"\\X", &value, &length));
  EXPECT_FALSE(FindVersionValue(endless.data(), 3, u"\\", &value, &length));
}

}  // namespace
