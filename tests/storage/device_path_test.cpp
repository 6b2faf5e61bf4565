// Device paths: which names are devices, and what opening them gives.
#include <gtest/gtest.h>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/storage/device_path.h"
#include "storage/device_fixture.h"

using namespace platform::storage;
using Kind = DevicePath::Kind;

namespace {

TEST(DevicePaths, ParseTable) {
  struct Case {
    const char16_t* path;
    Kind kind;
    int disk;
    int partition;
    WCHAR letter;
    const char16_t* volume_name;
  };
  const Case cases[] = {
      {u"\\\\.\\PhysicalDrive0", Kind::PhysicalDrive, 0, -1, 0, u""},
      {u"\\\\.\\PHYSICALDRIVE3", Kind::PhysicalDrive, 3, -1, 0, u""},
      {u"\\\\.\\physicaldrive12", Kind::PhysicalDrive, 12, -1, 0, u""},
      {u"\\\\?\\PhysicalDrive1", Kind::PhysicalDrive, 1, -1, 0, u""},
      {u"\\\\.\\PhysicalDrive:", Kind::Unknown, -1, -1, 0, u""},   // disk 10 with the digit patched
      {u"\\\\.\\PhysicalDrive01", Kind::Unknown, -1, -1, 0, u""},
      {u"\\\\.\\PhysicalDrive", Kind::Unknown, -1, -1, 0, u""},
      {u"\\\\.\\c:", Kind::Letter, -1, -1, u'C', u""},
      {u"\\\\.\\E:", Kind::Letter, -1, -1, u'E', u""},
      {u"\\\\.\\E:\\", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\.\\E:\\Windows\\x.dll", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\?\\Volume{0a1b2c3d-0000-1111-2222-333344445555}", Kind::VolumeGuid, -1, -1, 0,
       u"\\\\?\\Volume{0a1b2c3d-0000-1111-2222-333344445555}\\"},
      {u"\\\\?\\Volume{0a1b2c3d-0000-1111-2222-333344445555}\\", Kind::VolumeGuid, -1, -1, 0,
       u"\\\\?\\Volume{0a1b2c3d-0000-1111-2222-333344445555}\\"},
      {u"\\\\?\\Volume{0a1b2c3d-0000-1111-2222-333344445555}\\boot.ini", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\?\\Volume{short}", Kind::Unknown, -1, -1, 0, u""},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume4", Kind::VolumeDevice, -1, -1, 0, u"\\Device\\HarddiskVolume4"},
      {u"\\\\?\\globalroot\\device\\harddiskvolume17\\", Kind::VolumeDevice, -1, -1, 0, u"\\Device\\HarddiskVolume17"},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume4\\Windows", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeX", Kind::Unknown, -1, -1, 0, u""},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\.\\Harddisk1Partition2", Kind::Partition, 1, 2, 0, u""},
      {u"\\\\.\\Harddisk0Partition0", Kind::Partition, 0, 0, 0, u""},
      {u"\\\\.\\Scsi0:", Kind::Unknown, -1, -1, 0, u""},
      {u"\\\\.\\SMARTVSD", Kind::SmartVsd, -1, -1, 0, u""},
      {u"\\\\.\\SmartVsd", Kind::SmartVsd, -1, -1, 0, u""},
      {u"\\\\.\\SMARTVSD2", Kind::Unknown, -1, -1, 0, u""},
      {u"\\\\.\\pipe\\Zvq11shadowpipe", Kind::NotADevice, -1, -1, 0, u""},
      {u"C:\\Windows", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\?\\C:\\Windows", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\server\\share", Kind::NotADevice, -1, -1, 0, u""},
      {u"", Kind::NotADevice, -1, -1, 0, u""},
      {u"\\\\.", Kind::NotADevice, -1, -1, 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    DevicePath p = ParseDevicePath(c.path);
    EXPECT_EQ(p.kind, c.kind);
    if (p.kind == Kind::PhysicalDrive || p.kind == Kind::Partition) { EXPECT_EQ(p.disk, c.disk); }
    if (p.kind == Kind::Partition) { EXPECT_EQ(p.partition, c.partition); }
    if (p.kind == Kind::Letter) { EXPECT_EQ(p.letter, c.letter); }
    if (p.kind == Kind::VolumeGuid || p.kind == Kind::VolumeDevice) { EXPECT_EQ(p.volume_name, c.volume_name); }
  }
}

TEST(DevicePaths, OpenTable) {
  storage_test::DeviceFixture f;
  f.add_disk(0, 64 << 20, 512);
  f.add_disk(12, 16 << 20, 4096);
  platform::machine::DiskConfig refusing;
  refusing.faults.open_fails = true;
  f.add_disk(3, 8 << 20, 512, refusing);
  f.add_volume(0, 1, 1 << 20, 8 << 20, 'C', "0a1b2c3d-0000-1111-2222-333344445555");
  f.add_volume(0, 2, 9 << 20, 8 << 20, 0, "99999999-0000-1111-2222-333344445555");

  struct Case {
    const char16_t* path;
    DWORD creation;
    DeviceOpenResult result;
    DWORD error;
    const char* kind;
  };
  const Case cases[] = {
      {u"\\\\.\\PhysicalDrive0", OPEN_EXISTING, DeviceOpenResult::Opened, 0, "disk"},
      {u"\\\\.\\physicaldrive12", OPEN_EXISTING, DeviceOpenResult::Opened, 0, "disk"},
      {u"\\\\.\\PhysicalDrive1", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_FILE_NOT_FOUND, nullptr},
      {u"\\\\.\\PhysicalDrive:", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_FILE_NOT_FOUND, nullptr},
      {u"\\\\.\\PhysicalDrive3", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_NOT_READY, nullptr},
      {u"\\\\.\\PhysicalDrive0", CREATE_NEW, DeviceOpenResult::Failed, ERROR_INVALID_PARAMETER, nullptr},
      {u"\\\\.\\C:", OPEN_EXISTING, DeviceOpenResult::Opened, 0, "volume"},
      {u"\\\\.\\D:", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_FILE_NOT_FOUND, nullptr},
      {u"\\\\?\\Volume{0A1B2C3D-0000-1111-2222-333344445555}", OPEN_EXISTING, DeviceOpenResult::Opened, 0, "volume"},
      {u"\\\\?\\Volume{99999999-0000-1111-2222-333344445555}\\", OPEN_EXISTING, DeviceOpenResult::Opened, 0, "volume"},
      {u"\\\\?\\Volume{99999999-0000-1111-2222-000000000000}", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_FILE_NOT_FOUND, nullptr},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2", OPEN_EXISTING, DeviceOpenResult::Opened, 0, "volume"},
      {u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume9", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_FILE_NOT_FOUND, nullptr},
      {u"\\\\.\\Harddisk0Partition0", OPEN_EXISTING, DeviceOpenResult::Opened, 0, "disk"},
      {u"\\\\.\\Harddisk0Partition1", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_FILE_NOT_FOUND, nullptr},  // no table yet
      {u"\\\\.\\Scsi0:", OPEN_EXISTING, DeviceOpenResult::Failed, ERROR_FILE_NOT_FOUND, nullptr},
      {u"\\\\.\\C:\\boot.ini", OPEN_EXISTING, DeviceOpenResult::NotADevice, 0, nullptr},
      {u"\\\\.\\pipe\\x", OPEN_EXISTING, DeviceOpenResult::NotADevice, 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    HANDLE h = reinterpret_cast<HANDLE>(uintptr_t{0x1234});
    SetLastError(0);
    DeviceOpenResult r = OpenDevice(c.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, c.creation, 0, &h);
    EXPECT_EQ(r, c.result);
    if (r == DeviceOpenResult::Failed) {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (r == DeviceOpenResult::NotADevice) { EXPECT_EQ(h, reinterpret_cast<HANDLE>(uintptr_t{0x1234})); }
    if (r == DeviceOpenResult::Opened) {
      auto object = platform::ResolveHandle(h);
      ASSERT_TRUE(object);
      EXPECT_STREQ(object->kind(), c.kind);
      EXPECT_TRUE(CloseHandle(h));
    }
  }
  EXPECT_EQ(platform::OpenHandleCount(), 0u);
}

TEST(DevicePaths, SharingModesAreEnforced) {
  storage_test::DeviceFixture f;
  f.add_disk(0, 8 << 20, 512);
  struct Case {
    DWORD first_access, first_share, second_access, second_share;
    bool second_opens;
  };
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
  const Case cases[] = {
      {R | W, SR | SW, R | W, SR | SW, true},
      {R, SR, R, SR, true},
      {R, SR, R | W, SR | SW, false},  // the first does not share writing
      {R | W, SR | SW, R, SR, false},  // the second does not share the first's writing
      {R | W, 0, 0, SR | SW, true},    // a query-only open touches no data
      {0, 0, R | W, 0, true},
  };
  for (const auto& c : cases) {
    HANDLE a = storage_test::Open(u"\\\\.\\PhysicalDrive0", c.first_access, c.first_share);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    HANDLE b = storage_test::Open(u"\\\\.\\PhysicalDrive0", c.second_access, c.second_share);
    EXPECT_EQ(b != INVALID_HANDLE_VALUE, c.second_opens);
    if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
    else EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(a);
  }
  // Closing releases the sharing claim.
  HANDLE a = storage_test::Open(u"\\\\.\\PhysicalDrive0", R | W, 0);
  CloseHandle(a);
  HANDLE b = storage_test::Open(u"\\\\.\\PhysicalDrive0", R | W, 0);
  EXPECT_NE(b, INVALID_HANDLE_VALUE);
  CloseHandle(b);
}

}  // namespace
