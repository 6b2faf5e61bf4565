// The file API on FAT volumes made by the platform formatter, checked with
// fsck.fat and mtools on the same bytes.
#include <gtest/gtest.h>

#include "fs/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/fs/file_api.h"
#include "platform/fs/formatter.h"

using fstest::SimulatedDisk;

namespace {

BOOLEAN Quiet(DWORD, DWORD, PVOID) { return 1; }

class FatBySector : public ::testing::TestWithParam<uint32_t> {};

TEST_P(FatBySector, FilesWrittenThroughTheApiReadBackWithMtools) {
  // FAT32 needs 65525 clusters or more: 300 MiB holds that with 4096-byte sectors.
  SimulatedDisk disk({{u'F', 300ull << 20, "RAW", ""}}, GetParam());
  std::u16string root = u"F:\\", fs = u"FAT32", label = u"";
  FormatEx(root.data(), FMIFS_FIXED_MEDIA, fs.data(), label.data(), TRUE, 0, Quiet);
  ASSERT_EQ(GetFileAttributesW(u"F:\\"), FILE_ATTRIBUTE_DIRECTORY) << GetLastError();
  auto big = fstest::Pattern(150000, 5);
  ASSERT_TRUE(CreateDirectoryW(u"F:\\Long Folder Name", nullptr)) << GetLastError();
  HANDLE h = CreateFileW(u"F:\\Long Folder Name\\data file.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &done, nullptr));
  CloseHandle(h);
  WIN32_FIND_DATAW data;
  HANDLE f = FindFirstFileW(u"F:\\Long Folder Name\\*.bin", &data);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"data file.bin");
  EXPECT_NE(data.cAlternateFileName[0], 0) << "a long name has an 8.3 alias";
  FindClose(f);
  std::string image = disk.extract(0, "f.img");
  auto fsck = fstest::Run("fsck.fat -n " + fstest::Quote(image));
  EXPECT_EQ(fsck.status, 0) << fsck.output;
  auto copy = fstest::Run("mcopy -n -i " + fstest::Quote(image) + " '::/Long Folder Name/data file.bin' " +
                          fstest::Quote(disk.dir.file("out.bin")));
  ASSERT_EQ(copy.status, 0) << copy.output;
  EXPECT_EQ(fstest::ReadHostFile(disk.dir.file("out.bin")), big);
}

// MoveFileW and MoveFileExW on FAT: the alias follows the new long name, with
// its ~N picked against the target folder, and a plain 8.3 name loses its
// long-name entries. The names read back through the API and through mdir -a.
TEST(FatMove, AliasesFollowTheNewName) {
  SimulatedDisk disk({{u'G', 64ull << 20, "RAW", ""}});
  std::u16string root = u"G:\\", fs = u"FAT", label = u"";
  FormatEx(root.data(), FMIFS_FIXED_MEDIA, fs.data(), label.data(), TRUE, 0, Quiet);
  ASSERT_EQ(GetFileAttributesW(u"G:\\"), FILE_ATTRIBUTE_DIRECTORY) << GetLastError();
  ASSERT_TRUE(CreateDirectoryW(u"G:\\Target Folder", nullptr));
  for (const char16_t* name : {u"G:\\Target Folder\\Annual Report.doc", u"G:\\Annual Review.doc",
                               u"G:\\quarterly figures.xls", u"G:\\Old Long Name.txt"}) {
    HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(h);
  }
  ASSERT_TRUE(MoveFileW(u"G:\\Annual Review.doc", u"G:\\Target Folder\\Annual Records.doc")) << GetLastError();
  ASSERT_TRUE(MoveFileExW(u"G:\\quarterly figures.xls", u"G:\\Sales Figures.xls", 0)) << GetLastError();
  ASSERT_TRUE(MoveFileW(u"G:\\Old Long Name.txt", u"G:\\NOTES.TXT")) << GetLastError();
  ASSERT_TRUE(MoveFileW(u"G:\\Target Folder", u"G:\\Moved Folder Name")) << GetLastError();
  struct Row {
    const char16_t* path;
    const char16_t* short_path;
  } rows[] = {
      {u"G:\\Moved Folder Name\\Annual Records.doc", u"G:\\MOVEDF~1\\ANNUAL~2.DOC"},
      {u"G:\\Moved Folder Name\\Annual Report.doc", u"G:\\MOVEDF~1\\ANNUAL~1.DOC"},
      {u"G:\\Sales Figures.xls", u"G:\\SALESF~1.XLS"},
      {u"G:\\NOTES.TXT", u"G:\\NOTES.TXT"},
  };
  for (const Row& r : rows) {
    WCHAR buffer[260] = {};
    ASSERT_NE(GetShortPathNameW(r.path, buffer, 260), 0u) << GetLastError();
    EXPECT_EQ(std::u16string(buffer), r.short_path);
  }
  std::string image = disk.extract(0, "g.img");
  auto fsck = fstest::Run("fsck.fat -n " + fstest::Quote(image));
  EXPECT_EQ(fsck.status, 0) << fsck.output;
  auto mdir = fstest::Run("MTOOLS_SKIP_CHECK=1 mdir -a -i " + fstest::Quote(image) + " ::/ '::/Moved Folder Name'");
  ASSERT_EQ(mdir.status, 0) << mdir.output;
  for (const char* line : {"MOVEDF~1     <DIR>", "SALESF~1 XLS", "NOTES    TXT", "ANNUAL~1 DOC", "ANNUAL~2 DOC"})
    EXPECT_NE(mdir.output.find(line), std::string::npos) << line << "\n" << mdir.output;
  EXPECT_NE(mdir.output.find("Annual Records.doc"), std::string::npos) << mdir.output;
  EXPECT_EQ(mdir.output.find("Old Long Name"), std::string::npos) << mdir.output;
  EXPECT_EQ(mdir.output.find("quarterly"), std::string::npos) << mdir.output;
}

INSTANTIATE_TEST_SUITE_P(Sectors, FatBySector, ::testing::Values(512u, 4096u));

}  // namespace
