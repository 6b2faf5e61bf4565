// Volumes follow what programs do through disk handles: a layout written to
// sector 0 and IOCTL_DISK_UPDATE_PROPERTIES make volumes appear, zeroing
// sector 0 through the handle takes them away.
#include "mount_fixture.h"
#include "platform/core/kobject.h"
#include "platform/storage/device.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_api.h"

using namespace mount_test;
using namespace platform::storage;

class DeviceRescan : public MountTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(DeviceRescan, VolumesFollowUpdatePropertiesAndSectorZeroWrites) {
  const uint32_t ss = GetParam();
  constexpr uint64_t MiB = 1 << 20;
  add_disk(0, 64 * MiB, ss);
  // The table written straight into the image, as another program would
  // leave it, then taken back out of sector 0 until the disk is told.
  {
    auto dev = platform::FileBlockDevice::open(image(0), ss);
    ASSERT_TRUE(dev);
    DiskLayout layout;
    layout.style = PartitionStyle::Mbr;
    layout.mbr_signature = 0x55667788;
    LayoutEntry e;
    e.start = MiB;
    e.length = 48 * MiB;
    e.mbr_type = 0x06;
    e.recognized = true;
    e.hidden_sectors = static_cast<uint32_t>(MiB / ss);
    layout.entries = {e};
    ASSERT_TRUE(WriteDiskLayout(*dev, layout).ok());
  }
  format_at(0, MiB, 48 * MiB, "mkfs.fat -F 16 -S " + std::to_string(ss) + (ss == 512 ? " -s 4" : " -s 1"));
  std::vector<uint8_t> sector0(ss), zeros(ss, 0);
  {
    auto dev = platform::FileBlockDevice::open(image(0), ss);
    ASSERT_TRUE(dev->read_at(0, sector0.data(), ss));
    ASSERT_TRUE(dev->write_at(0, zeros.data(), ss));
  }
  boot();
  EXPECT_EQ(GetLogicalDrives(), 0u);

  // Sector 0 comes back behind the handle's back; UPDATE_PROPERTIES tells the disk.
  {
    auto dev = platform::FileBlockDevice::open(image(0), ss);
    ASSERT_TRUE(dev->write_at(0, sector0.data(), ss));
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  ASSERT_EQ(OpenDevice(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       OPEN_EXISTING, 0, &h),
            DeviceOpenResult::Opened);
  EXPECT_EQ(GetLogicalDrives(), 0u);  // not told yet
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLogicalDrives(), 1u << 2);
  WCHAR name[64];
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(u"C:\\", name, 64));
  EXPECT_EQ(MountedVolumes()[0].file_system, "FAT16");

  // Zeroing sector 0 through the handle takes the volume away at once.
  DWORD done = 0;
  ASSERT_NE(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(WriteFile(h, zeros.data(), ss, &done, nullptr));
  EXPECT_EQ(GetLogicalDrives(), 0u);
  EXPECT_FALSE(GetVolumeNameForVolumeMountPointW(u"C:\\", name, 64));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // And writing the table back brings it back under the same name and letter.
  ASSERT_NE(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(WriteFile(h, sector0.data(), ss, &done, nullptr));
  EXPECT_EQ(GetLogicalDrives(), 1u << 2);
  WCHAR again[64];
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(u"C:\\", again, 64));
  EXPECT_EQ(std::u16string(again), std::u16string(name));
  EXPECT_TRUE(CloseHandle(h));
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, DeviceRescan, ::testing::Values(512u, 4096u));
