// Reparse helpers on NTFS volumes (512- and 4096-byte sectors) of a simulated
// PC: junction and symbolic-link targets with the shadowed drive redirected,
// links written onto copies re-pointed at the copied volume (checked with
// ntfsinfo on the image), damaged reparse data, and the restore privilege.
#include "disk/reparse_points.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/shadow_copy.h"
#include "fixture_images.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/process/privilege.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

using disk_fixture::LinkData;

bool SetReparse(const char16_t* path, const std::vector<BYTE>& data) {
  HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, const_cast<BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
  CloseHandle(h);
  return ok;
}

std::vector<BYTE> GetReparse(const char16_t* path) {
  HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  std::vector<BYTE> data(17000, 0);
  DWORD returned = 0;
  if (h == INVALID_HANDLE_VALUE ||
      !DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(), 17000, &returned, nullptr))
    returned = 0;
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  data.resize(returned);
  return data;
}

void MakeFile(const char16_t* path) {
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << platform::to_utf8(path);
  CloseHandle(h);
}

class ReparsePointsTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    ss_ = GetParam();
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 128ull << 20, .sectorSize = ss_});
    start_ = (1u << 20) / ss_;
    count_ = (100ull << 20) / ss_;
    pc_.WriteMbr(0, {Part{.start = start_, .count = count_, .mbrType = 0x07, .fs = "ntfs", .label = "SYS"}});
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Users", nullptr));
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Data", nullptr));
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Junction", nullptr));
    MakeFile(u"C:\\Data\\x");
    MakeFile(u"C:\\Link");
    MakeFile(u"C:\\Plain");
    MakeFile(u"C:\\Copy");
    ASSERT_TRUE(SetReparse(u"C:\\Junction", LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\Users", u"C:\\Users", 0)));
    ASSERT_TRUE(SetReparse(u"C:\\Link", LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\C:\\Data\\x", u"C:\\Data\\x", 0)));
    ShadowSourceVolume.Empty();
    ShadowDevicePath.Empty();
  }
  void TearDown() override {
    ShadowSourceVolume.Empty();
    ShadowDevicePath.Empty();
  }
  uint32_t ss_ = 512;
  uint64_t start_ = 0, count_ = 0;
  SimulatedPc pc_;
};

TEST_P(ReparsePointsTest, TargetsWithTheShadowedDriveRedirected) {
  struct Case {
    const char16_t* path;
    const char16_t* source;  // ShadowSourceVolume
    const char16_t* device;  // ShadowDevicePath
    const char16_t* target;
  } cases[] = {
      {u"C:\\Junction", u"", u"", u"C:\\Users"},
      {u"C:\\Junction", u"C:", u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3",
       u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\Users"},
      {u"C:\\Junction", u"D:", u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3", u"C:\\Users"},
      {u"C:\\Link", u"", u"", u"C:\\Data\\x"},
      {u"C:\\Plain", u"C:", u"\\\\?\\Shadow", u""},
      {u"C:\\Data", u"", u"", u""},
      {u"C:\\Missing", u"", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    ShadowSourceVolume = c.source;
    ShadowDevicePath = c.device;
    EXPECT_EQ(ReadReparseTarget(CString(c.path)), c.target);
  }
  // The print name stays in its buffer, unredirected.
  ShadowSourceVolume.Empty();
  ShadowDevicePath.Empty();
  ReadReparseTarget(CString(u"C:\\Link"));
  EXPECT_EQ(std::u16string(ReparsePrintName), u"C:\\Data\\x");
}

// The link data written onto a copy of C: on D: (or on a volume without a
// letter): relative links as they are, absolute links into C: re-pointed at
// the copy, links elsewhere unchanged.
TEST_P(ReparsePointsTest, LinksIntoTheCopiedVolumeArePointedAtTheCopy) {
  const CString volume = u"\\\\?\\Volume{0e1f2a3b-0000-4000-8000-000000000001}";
  struct Case {
    const char* name;
    std::vector<BYTE> source;
    CString to;
    std::vector<BYTE> copy;
  } cases[] = {
      {"junction into C:", LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\Users", u"C:\\Users", 0), u"D:",
       LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\D:\\Users", u"D:\\Users", 0)},
      {"absolute link into C:", LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\C:\\Target\\inner", u"C:\\Target\\inner", 0),
       u"D:", LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\D:\\Target\\inner", u"D:\\Target\\inner", 0)},
      {"lower-case drive", LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\c:\\Data\\x", u"c:\\Data\\x", 0), u"D:",
       LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\D:\\Data\\x", u"D:\\Data\\x", 0)},
      {"onto a volume without a letter", LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\C:\\Data\\x", u"C:\\Data\\x", 0),
       volume,
       LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\Volume{0e1f2a3b-0000-4000-8000-000000000001}\\Data\\x",
                volume.GetString() + std::u16string(u"\\Data\\x"), 0)},
      {"relative link", LinkData(IO_REPARSE_TAG_SYMLINK, u"..\\Target", u"..\\Target", 1), u"D:",
       LinkData(IO_REPARSE_TAG_SYMLINK, u"..\\Target", u"..\\Target", 1)},
      {"link to another volume", LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\E:\\Other", u"E:\\Other", 0), u"D:",
       LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\E:\\Other", u"E:\\Other", 0)},
      {"a name that only starts like the drive",
       LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:x\\y", u"C:x\\y", 0), u"D:",
       LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:x\\y", u"C:x\\y", 0)},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string source = u"C:\\Src" + platform::to_utf16(std::to_string(n));
    const std::u16string copy = u"C:\\Dst" + platform::to_utf16(std::to_string(n++));
    ASSERT_TRUE(CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(copy.c_str(), nullptr));
    ASSERT_TRUE(SetReparse(source.c_str(), c.source));
    ASSERT_FALSE(ReadReparseTarget(CString(source)).IsEmpty());
    EXPECT_TRUE(WriteReparsePointCopy(CString(copy), u"C:", c.to));
    EXPECT_EQ(GetReparse(copy.c_str()), c.copy);
  }

  // The image holds it: ntfsinfo finds the reparse attribute on the copy.
  platform::fs::ReleaseAllDrivers();
  const std::string image = pc_.ExtractVolume(0, start_, count_, "ntfs.img");
  std::string out;
  EXPECT_EQ(disk_fixture::Shell("ntfsinfo -F /Dst1 " + image, &out), 0);
  EXPECT_NE(out.find("$REPARSE_POINT"), std::string::npos) << out;

  // With nothing read last, nothing is written.
  EXPECT_EQ(ReadReparseTarget(CString(u"C:\\Plain")), u"");
  EXPECT_FALSE(WriteReparsePointCopy(CString(u"C:\\Plain"), u"C:", u"D:"));
  EXPECT_TRUE(GetReparse(u"C:\\Plain").empty());
}

TEST_P(ReparsePointsTest, DamagedReparseDataGivesNoTarget) {
  struct Case {
    const char* name;
    std::vector<BYTE> data;
  } cases[] = {
      {"print name beyond the data", LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\Users", u"C:\\Users", 0, 0x7FF0)},
      {"odd print length", [] {
         auto d = LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\U", u"C:\\U", 0);
         platform::WriteLe16(&d[14], 3);
         return d;
       }()},
      {"unknown tag", [] {
         auto d = LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\U", u"C:\\U", 0);
         platform::WriteLe32(&d[0], 0x80000017);
         return d;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Bad", nullptr));
    ASSERT_TRUE(SetReparse(u"C:\\Bad", c.data));
    EXPECT_EQ(ReadReparseTarget(CString(u"C:\\Bad")), u"");
    ASSERT_TRUE(RemoveDirectoryW(u"C:\\Bad"));
  }
  // A long print name is cut to the 1,023 characters its buffer holds.
  const std::u16string long_name = u"C:\\" + std::u16string(1500, u'n');
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Long", nullptr));
  ASSERT_TRUE(SetReparse(u"C:\\Long", LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\" + long_name, long_name, 0)));
  EXPECT_EQ(ReadReparseTarget(CString(u"C:\\Long")), CString(long_name.substr(0, 1023)));
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, ReparsePointsTest, ::testing::Values(512u, 4096u));

TEST(RestorePrivilege, EnabledOnceAndAlwaysOne) {
  EXPECT_FALSE(platform::process::IsPrivilegeEnabled(SE_RESTORE_NAME));
  EXPECT_EQ(EnableRestorePrivilege(), 1);
  EXPECT_TRUE(platform::process::IsPrivilegeEnabled(SE_RESTORE_NAME));
  EXPECT_FALSE(platform::process::IsPrivilegeEnabled(SE_SHUTDOWN_NAME)) << "only the restore privilege";
  EXPECT_EQ(EnableRestorePrivilege(), 1);
}

}  // namespace
