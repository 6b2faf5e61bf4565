// The volume APIs over a small PC: disk 0 (MBR, FAT16 + NTFS), disk 1 (a USB
// stick, FAT32), disk 2 (GPT with an EFI system partition), and host drives
// X: (RAM disk), R: (CD-ROM) and N: (network).
#include <cstring>

#include "mount_fixture.h"
#include "platform/core/kobject.h"
#include "platform/storage/volume_api.h"

using namespace mount_test;
using namespace platform::storage;

namespace {

constexpr uint64_t MiB = 1 << 20;
constexpr DWORD bit(char letter) { return 1u << (letter - 'A'); }

std::u16string multi(const WCHAR* p, size_t n) { return std::u16string(p, n); }

class VolumeApiTest : public MountTest {
 protected:
  void SetUp() override {
    MountTest::SetUp();
    add_disk(0, 96 * MiB);
    add_disk(1, 64 * MiB, 512, platform::machine::BusType::Usb, true);
    add_disk(2, 64 * MiB);
    ASSERT_EQ(sh("printf 'label: dos\\nlabel-id: 0x44444444\\nstart=2048, size=81920, type=6\\n"
                 "start=83968, size=81920, type=7\\n' | sfdisk " + image(0)),
              0);
    ASSERT_EQ(sh("printf 'label: dos\\nstart=2048, size=100000, type=c\\n' | sfdisk " + image(1)), 0);
    ASSERT_EQ(sh("sgdisk -n 1:2048:+16M -t 1:ef00 " + image(2)), 0);
    format_at(0, MiB, 40 * MiB, "mkfs.fat -F 16");
    format_at(0, 41 * MiB, 40 * MiB, "mkntfs -F -f -q");
    format_at(1, MiB, 100000ull * 512, "mkfs.fat -F 32");
    std::ofstream(dir + "/machine.ini", std::ios::app)
        << "\n[mount pe]\npath = X:\nhost = hostx\ndrive_type = ramdisk\n"
        << "[mount cd]\npath = R:\nhost = iso\ndrive_type = cdrom\n"
        << "[mount share]\npath = N:\nhost = share\ndrive_type = remote\n";
    boot();
    RescanAll();
  }

  std::u16string guid_of(WCHAR letter) {
    for (auto& v : MountedVolumes())
      if (v.letter == letter) return v.guid_path;
    return u"";
  }
  std::u16string esp_guid() {
    for (auto& v : MountedVolumes())
      if (v.disk_number == 2) return v.guid_path;
    return u"";
  }
};

}  // namespace

TEST_F(VolumeApiTest, LettersAndDriveTypes) {
  EXPECT_EQ(GetLogicalDrives(), bit('C') | bit('D') | bit('E') | bit('N') | bit('R') | bit('X'));

  WCHAR buf[64];
  std::memset(buf, 0xAB, sizeof buf);
  EXPECT_EQ(GetLogicalDriveStringsW(10, buf), 25u);  // too short: the size needed, buffer untouched
  EXPECT_EQ(buf[0], 0xABAB);
  EXPECT_EQ(GetLogicalDriveStringsW(25, buf), 24u);
  EXPECT_EQ(multi(buf, 25), std::u16string(u"C:\\\0D:\\\0E:\\\0N:\\\0R:\\\0X:\\\0\0", 25));

  std::u16string d_guid = guid_of(u'D');
  ASSERT_FALSE(d_guid.empty());
  struct {
    const WCHAR* root;
    UINT type;
  } cases[] = {
      {u"C:\\", DRIVE_FIXED},       {u"c:", DRIVE_FIXED},          {u"E:\\", DRIVE_REMOVABLE},
      {u"X:\\", DRIVE_RAMDISK},     {u"R:\\", DRIVE_CDROM},        {u"N:\\", DRIVE_REMOTE},
      {u"Q:\\", DRIVE_NO_ROOT_DIR}, {u"C:\\Windows\\", DRIVE_NO_ROOT_DIR},
      {u"C:\\Windows", DRIVE_NO_ROOT_DIR}, {u"", DRIVE_NO_ROOT_DIR}, {u"\\\\server\\share\\", DRIVE_NO_ROOT_DIR},
      {d_guid.c_str(), DRIVE_FIXED},
      {u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", DRIVE_NO_ROOT_DIR},
      {nullptr, DRIVE_FIXED},  // the current drive, C:
  };
  for (auto& c : cases)
    EXPECT_EQ(GetDriveTypeW(c.root), c.type) << (c.root ? platform::to_utf8(c.root) : "(null)");
}

TEST_F(VolumeApiTest, EnumeratesEveryVolume) {
  size_t handles = platform::OpenHandleCount();
  WCHAR name[64];
  EXPECT_EQ(FindFirstVolumeW(name, 49), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  HANDLE h = FindFirstVolumeW(name, 64);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<std::u16string> seen = {name};
  EXPECT_FALSE(FindNextVolumeW(h, name, 10));
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  while (FindNextVolumeW(h, name, 64)) seen.push_back(name);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindVolumeClose(h));
  EXPECT_FALSE(FindVolumeClose(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindNextVolumeW(reinterpret_cast<HANDLE>(0x1234), name, 64));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(platform::OpenHandleCount(), handles);
  // 3 disk volumes with letters, the EFI system partition without one, 3 host drives.
  EXPECT_EQ(seen.size(), 7u);
  EXPECT_NE(std::find(seen.begin(), seen.end(), esp_guid()), seen.end());
  for (auto& s : seen) EXPECT_EQ(s.substr(0, 11), u"\\\\?\\Volume{");
}

TEST_F(VolumeApiTest, VolumeNamesForMountPoints) {
  std::u16string c_guid = guid_of(u'C');
  WCHAR out[64];
  struct {
    const WCHAR* mount_point;
    DWORD size;
    DWORD error;  // 0 = succeeds
    std::u16string expect;
  } cases[] = {
      {u"C:\\", 64, 0, c_guid},
      {u"c:\\", 50, 0, c_guid},
      {u"C:\\", 49, ERROR_FILENAME_EXCED_RANGE, u""},
      {u"C:", 64, ERROR_INVALID_PARAMETER, u""},
      {u"Q:\\", 64, ERROR_FILE_NOT_FOUND, u""},
      {u"C:\\Windows\\", 64, ERROR_NOT_A_REPARSE_POINT, u""},
      {c_guid.c_str(), 64, 0, c_guid},
      {u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", 64, ERROR_FILE_NOT_FOUND, u""},
  };
  for (auto& c : cases) {
    SetLastError(0);
    BOOL ok = GetVolumeNameForVolumeMountPointW(c.mount_point, out, c.size);
    EXPECT_EQ(ok, c.error == 0) << platform::to_utf8(c.mount_point);
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << platform::to_utf8(c.mount_point);
    } else {
      EXPECT_EQ(std::u16string(out), c.expect);
    }
  }
  EXPECT_FALSE(GetVolumeNameForVolumeMountPointW(nullptr, out, 64));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(VolumeApiTest, MountPointsComeAndGo) {
  std::u16string esp = esp_guid(), d = guid_of(u'D');
  ASSERT_FALSE(esp.empty());
  WCHAR list[64];
  DWORD needed = 0;
  ASSERT_TRUE(GetVolumePathNamesForVolumeNameW(esp.c_str(), list, 64, &needed));
  EXPECT_EQ(needed, 1u);
  EXPECT_EQ(list[0], 0);

  struct {
    const WCHAR* mount_point;
    std::u16string volume;
    DWORD error;
  } sets[] = {
      {u"S:\\", esp, 0},
      {u"T:\\", esp, ERROR_INVALID_PARAMETER},  // one letter per volume
      {u"C:\\", d, ERROR_DIR_NOT_EMPTY},         // the letter is taken
      {u"X:\\", d, ERROR_DIR_NOT_EMPTY},         // so is a host drive's
      {u"U:\\", u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", ERROR_FILE_NOT_FOUND},
      {u"U:\\", u"\\\\?\\Volume{oops}\\", ERROR_INVALID_NAME},
      {u"U:", d, ERROR_INVALID_PARAMETER},
      {u"C:\\Mnt\\Efi\\", esp, 0},
      {u"C:\\Mnt\\Efi\\", d, ERROR_DIR_NOT_EMPTY},
      {u"Q:\\Mnt\\", esp, ERROR_PATH_NOT_FOUND},
  };
  int events = 0;
  DWORD arrived = 0;
  int id = AddDeviceChangeListener([&](const DeviceChange& c) {
    ++events;
    if (c.event == DBT_DEVICEARRIVAL) arrived |= c.unit_mask;
  });
  for (auto& s : sets) {
    SetLastError(0);
    BOOL ok = SetVolumeMountPointW(s.mount_point, s.volume.c_str());
    EXPECT_EQ(ok, s.error == 0) << platform::to_utf8(s.mount_point);
    if (s.error) {
      EXPECT_EQ(GetLastError(), s.error) << platform::to_utf8(s.mount_point);
    }
  }
  EXPECT_EQ(arrived, bit('S'));
  EXPECT_TRUE(GetLogicalDrives() & bit('S'));
  EXPECT_EQ(GetDriveTypeW(u"C:\\Mnt\\Efi\\"), DRIVE_FIXED);

  ASSERT_TRUE(GetVolumePathNamesForVolumeNameW(esp.c_str(), list, 64, &needed));
  std::u16string expect(u"S:\\\0C:\\MNT\\EFI\\\0\0", 17);
  EXPECT_EQ(needed, 17u);
  EXPECT_EQ(multi(list, 17), expect);
  EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(esp.c_str(), list, 16, &needed));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(needed, 17u);
  EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(u"C:\\", list, 64, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(esp.substr(0, 48).c_str() /* no trailing backslash */, list, 64, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  WCHAR name[64];
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(u"C:\\Mnt\\Efi\\", name, 64));
  EXPECT_EQ(std::u16string(name), esp);

  // The new letter is recorded like any other.
  DWORD type = 0;
  std::vector<uint8_t> data;
  EXPECT_TRUE(reg_value(u"SYSTEM\\MountedDevices", u"\\DosDevices\\S:", &type, &data));

  struct {
    const WCHAR* mount_point;
    DWORD error;
  } deletes[] = {
      {u"S:\\", 0},
      {u"S:\\", ERROR_FILE_NOT_FOUND},
      {u"X:\\", ERROR_ACCESS_DENIED},
      {u"C:\\Mnt\\Efi\\", 0},
      {u"C:\\Mnt\\Efi\\", ERROR_NOT_A_REPARSE_POINT},
      {u"S:", ERROR_INVALID_PARAMETER},
  };
  for (auto& d : deletes) {
    SetLastError(0);
    EXPECT_EQ(DeleteVolumeMountPointW(d.mount_point), d.error == 0) << platform::to_utf8(d.mount_point);
    if (d.error) {
      EXPECT_EQ(GetLastError(), d.error) << platform::to_utf8(d.mount_point);
    }
  }
  EXPECT_FALSE(GetLogicalDrives() & bit('S'));
  EXPECT_FALSE(reg_value(u"SYSTEM\\MountedDevices", u"\\DosDevices\\S:", &type, &data));
  RemoveDeviceChangeListener(id);
}

TEST_F(VolumeApiTest, DosDeviceNames) {
  WCHAR out[512];
  struct {
    const WCHAR* name;
    std::u16string expect;  // empty = ERROR_FILE_NOT_FOUND
  } cases[] = {
      {u"C:", std::u16string(u"\\Device\\HarddiskVolume1\0\0", 25)},
      {u"d:", std::u16string(u"\\Device\\HarddiskVolume2\0\0", 25)},
      {u"X:", std::u16string(u"\\Device\\HostDriveX\0\0", 20)},
      {u"PhysicalDrive1", std::u16string(u"\\Device\\Harddisk1\\DR1\0\0", 23)},
      {u"PHYSICALDRIVE2", std::u16string(u"\\Device\\Harddisk2\\DR2\0\0", 23)},
      {u"PhysicalDrive7", u""},
      {u"PhysicalDriveX", u""},
      {u"Q:", u""},
      {u"nonsense", u""},
  };
  for (auto& c : cases) {
    SetLastError(0);
    DWORD n = QueryDosDeviceW(c.name, out, 512);
    if (c.expect.empty()) {
      EXPECT_EQ(n, 0u) << platform::to_utf8(c.name);
      EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    } else {
      EXPECT_EQ(n, c.expect.size()) << platform::to_utf8(c.name);
      EXPECT_EQ(multi(out, n), c.expect);
    }
  }
  EXPECT_EQ(QueryDosDeviceW(u"C:", out, 24), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::u16string esp = esp_guid();
  DWORD n = QueryDosDeviceW(esp.substr(4, 44).c_str(), out, 512);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::u16string(out).rfind(u"\\Device\\HarddiskVolume", 0), 0u);
  n = QueryDosDeviceW(nullptr, out, 512);
  ASSERT_GT(n, 0u);
  std::u16string all(out, n);
  for (auto want : {u"C:", u"X:", u"PhysicalDrive0", u"PhysicalDrive2"})
    EXPECT_NE(all.find(std::u16string(want) + u'\0'), std::u16string::npos) << platform::to_utf8(want);

  // Definitions stack on a name; the newest answers first.
  ASSERT_TRUE(DefineDosDeviceW(0, u"Q:", u"C:\\Temp"));
  EXPECT_TRUE(GetLogicalDrives() & bit('Q'));
  EXPECT_EQ(GetDriveTypeW(u"Q:\\"), DRIVE_FIXED);  // follows C:
  ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"Q:", u"\\Device\\HarddiskVolume3"));
  EXPECT_EQ(GetDriveTypeW(u"Q:\\"), DRIVE_REMOVABLE);  // the stick
  n = QueryDosDeviceW(u"q:", out, 512);
  EXPECT_EQ(multi(out, n), std::u16string(u"\\Device\\HarddiskVolume3\0\\??\\C:\\Temp\0\0", 37));
  ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, u"Q:", u"C:\\Temp"));
  n = QueryDosDeviceW(u"Q:", out, 512);
  EXPECT_EQ(multi(out, n), std::u16string(u"\\Device\\HarddiskVolume3\0\0", 25));
  EXPECT_FALSE(DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, u"Q:", u"C:\\Other"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, u"Q:", nullptr));
  EXPECT_FALSE(GetLogicalDrives() & bit('Q'));
  EXPECT_FALSE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, u"Q:", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DefineDosDeviceW(0, u"", u"C:\\"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(DefineDosDeviceW(0, u"Q:", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(DefineDosDeviceW(0x100, u"Q:", u"C:\\"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // A name that is no letter does not show as a drive.
  ASSERT_TRUE(DefineDosDeviceW(0, u"LPT9", u"C:\\Printer"));
  EXPECT_EQ(GetLogicalDrives(), bit('C') | bit('D') | bit('E') | bit('N') | bit('R') | bit('X'));
  n = QueryDosDeviceW(u"lpt9", out, 512);
  EXPECT_EQ(multi(out, n), std::u16string(u"\\??\\C:\\Printer\0\0", 16));
}
