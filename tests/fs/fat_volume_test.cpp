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

INSTANTIATE_TEST_SUITE_P(Sectors, FatBySector, ::testing::Values(512u, 4096u));

}  // namespace
