// The device layer on a machine folder as simpc writes it: disks come from
// machine.ini through the current machine, with no test lookup installed.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"
#include "storage/oracle.h"

using namespace platform;
using namespace platform::storage;

namespace {

constexpr uint64_t MiB = 1 << 20;

TEST(DeviceOnMachine, DisksComeFromMachineIni) {
  storage_test::ScratchImage folder(8 * MiB, "disk0.img");
  std::ofstream(folder.folder() + "/disk1.img").close();
  std::filesystem::resize_file(folder.folder() + "/disk1.img", 16 * MiB);
  {
    std::ofstream ini(folder.folder() + "/machine.ini");
    ini << "[disk 0]\nimage = disk0.img\nsector_size = 512\nbus = sata\nproduct = System Disk\n"
           "unreadable = 10-19\n\n"
           "[disk 1]\nimage = disk1.img\nsector_size = 4096\nbus = usb\nvendor = Stick\nremovable = yes\n";
  }
  std::string error;
  auto machine = machine::Machine::open(folder.folder(), &error);
  ASSERT_TRUE(machine) << error;
  machine::SetCurrent(machine);

  HANDLE h = INVALID_HANDLE_VALUE;
  ASSERT_EQ(OpenDevice(u"\\\\.\\PhysicalDrive1", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, &h),
            DeviceOpenResult::Opened);
  DISK_GEOMETRY g{};
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &returned, nullptr));
  EXPECT_EQ(g.BytesPerSector, 4096u);
  EXPECT_EQ(g.MediaType, RemovableMedia);
  // A 512-byte transfer is misaligned on this disk.
  std::vector<uint8_t> buffer(4096);
  DWORD done;
  EXPECT_FALSE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // A table written through the handle is what sfdisk finds on disk1.img.
  CREATE_DISK create{};
  create.PartitionStyle = PARTITION_STYLE_MBR;
  create.Mbr.Signature = 0xA4B573FF;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_CREATE_DISK, &create, sizeof create, nullptr, 0, &returned, nullptr));
  CloseHandle(h);
  auto probe = storage_test::RunTool("fdisk -b 4096 -l " + folder.folder() + "/disk1.img");
  EXPECT_NE(probe.text.find("0xa4b573ff"), std::string::npos) << probe.text;

  // Disk 0's listed bad sectors fail; others read.
  ASSERT_EQ(OpenDevice(u"\\\\.\\PhysicalDrive0", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, &h),
            DeviceOpenResult::Opened);
  LARGE_INTEGER at;
  at.QuadPart = 9 * 512;
  ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
  EXPECT_TRUE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_FALSE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CRC);
  CloseHandle(h);

  // Unlisted disks do not exist.
  EXPECT_EQ(OpenDevice(u"\\\\.\\PhysicalDrive2", GENERIC_READ, 3, OPEN_EXISTING, 0, &h), DeviceOpenResult::Failed);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  machine::SetCurrent(nullptr);
}

TEST(DeviceOnMachine, PartitionPathsAndHostVolumes) {
  auto disk_bytes = std::make_shared<MemoryBlockDevice>(32 * MiB, 512);
  DiskLayout layout;
  layout.style = PartitionStyle::Mbr;
  LayoutEntry first;
  first.start = MiB;
  first.length = 4 * MiB;
  first.mbr_type = 0x07;
  LayoutEntry second = first;
  second.start = 8 * MiB;
  second.mbr_type = 0x0C;
  layout.entries = {first, second};
  ASSERT_TRUE(WriteDiskLayout(*disk_bytes, layout).ok());
  machine::DiskConfig config;
  config.number = 5;
  auto disk = std::make_shared<machine::Disk>(config, disk_bytes, machine::SmartPages{}, false);
  SetDiskLookup([disk](int n) { return n == 5 ? disk : nullptr; });
  // A host folder shown as a letter: a volume with no disk behind it.
  MountedVolume host;
  host.guid_path = u"\\\\?\\Volume{00000000-0000-0000-0000-00000000000a}\\";
  host.device_name = u"\\Device\\HarddiskVolume9";
  host.letter = u'X';
  SetMountedVolumes({host});

  HANDLE h = INVALID_HANDLE_VALUE;
  ASSERT_EQ(OpenDevice(u"\\\\.\\Harddisk5Partition2", GENERIC_READ, 3, OPEN_EXISTING, 0, &h), DeviceOpenResult::Opened);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, static_cast<LONGLONG>(4 * MiB));
  STORAGE_DEVICE_NUMBER number{};
  DWORD returned;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned, nullptr));
  EXPECT_EQ(number.DeviceNumber, 5u);
  EXPECT_EQ(number.PartitionNumber, 2u);
  std::vector<uint8_t> buffer(512);
  disk_bytes->bytes()[8 * MiB] = 0x42;
  DWORD done;
  ASSERT_TRUE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(buffer[0], 0x42);
  CloseHandle(h);
  EXPECT_EQ(OpenDevice(u"\\\\.\\Harddisk5Partition3", GENERIC_READ, 3, OPEN_EXISTING, 0, &h), DeviceOpenResult::Failed);

  ASSERT_EQ(OpenDevice(u"\\\\.\\X:", GENERIC_READ, 3, OPEN_EXISTING, 0, &h), DeviceOpenResult::Opened);
  EXPECT_FALSE(DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_FALSE(ReadFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  CloseHandle(h);
  SetMountedVolumes({});
  SetDiskLookup(nullptr);
}

}  // namespace
