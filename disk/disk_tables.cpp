#include "disk/disk_tables.h"

#include <cstring>

#include "disk/disk_access.h"
#include "disk/drive_identity.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "platform/registry/registry.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_api.h"
#include "program_support/message_pump.h"
#include "program_support/path_helpers.h"
#include "program_support/registry_readers.h"
#include "program_support/shell_state.h"

namespace {

constexpr uint64_t kSectorBuffer = 4096;
constexpr int kMaxWindowsFolderMatches = 256;  // bounds the "\win*.*" walk
constexpr size_t kModelTextSize = sizeof(DriveIdentityRecord{}.modelText);

bool Found(const CString& path) { return !FindFirstName(path).IsEmpty(); }

WCHAR Upper(WCHAR c) { return static_cast<WCHAR>(c & ~0x20); }

// Multiplier of a physical disk for comparing native positions with 512-byte
// units; a disk whose geometry was not read counts as 512-byte sectors (its
// letter volumes are then kept in 512-byte units too).
uint64_t CompareMultiplier(int32_t disk) {
  int32_t m = SectorMultiplierOf(disk);
  return m > 0 ? static_cast<uint64_t>(m) : 1;
}

int32_t LetterDisk(int32_t letter) {
  int index = LetterIndex(letter);
  return index < 0 ? -1 : DiskContext.letterToDisk[index];
}

bool HasOneTouchMarker(int32_t disk) {
  alignas(64) uint8_t sector[kSectorBuffer] = {};
  if (!OpenDiskReadWrite(disk)) return false;
  int32_t result = ReadDiskSectors(sector, 0, 1);
  CloseCurrentDisk();
  return result == 0 &&
         memcmp(sector + kOneTouchMarkerOffset, kOneTouchDiskMarker, sizeof kOneTouchDiskMarker - 1) == 0;
}

void AddPartitionRow(int32_t& r, int32_t diskRow, const PartitionEntry& p) {
  if (r >= kMaxListRows) return;  // the lists have 26 rows; later partitions get none
  DiskListRows.rowKind[r] = diskRow;
  DiskListRows.rowStart[r] = p.start;
  DiskListRows.rowLength[r] = p.length;
  DiskListRows.rowEbrSector[r] = p.ebrSector;
  DiskListRows.rowSlot[r] = p.slot;
  ++r;
}

}  // namespace

void DetectSystemAndSpecialDisks() {
  DiskContext.systemDisk = kNoPhysicalDisk;
  DiskContext.destinationDisk = kNoListedDisk;
  DiskContext.markedBootDisk = 0;
  for (auto& kind : DiskListRows.rowKind) kind = 0;
  int32_t r = 0;

  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  MapLettersToDisks();
  ListLetterVolumes();

  // Listed numbers beyond the table are never read, whatever the registry says.
  int32_t last = DiskContext.diskCount < kMaxListedDisks ? DiskContext.diskCount : kMaxListedDisks;
  for (int32_t n = 1; n <= last; ++n) {
    int32_t physical = DiskContext.listedToPhysical[n];
    if (physical == -1) continue;
    CString model = DiskContext.listedModel[n];
    if (model.Trim().IsEmpty()) continue;

    int32_t diskRow = r;
    if (r < kMaxListRows) {
      DiskListRows.rowKind[r] = -n;
      ++r;
    }

    int32_t count = 0;
    if (DiskContext.listedDiskSize[n] != 0) count = ReadPartitionList(sharedPartitionBuffer, physical);
    const bool marked = HasOneTouchMarker(physical);
    if (marked) DiskContext.markedBootDisk = n;
    const ListedDiskIndex listed{n - 1};
    if (ShellState.oneClickAutoMode) {
      if (marked) DiskContext.destinationDisk = listed;
    } else if (count == 0) {
      const ListedDiskIndex current = DiskContext.destinationDisk;
      if (current.is_none() || DiskContext.listedDiskSize[n] > ListedSize(current))
        DiskContext.destinationDisk = listed;
    }
    DiskListRows.partitionsPerDisk[n] = count;

    uint64_t m = CompareMultiplier(physical);
    for (int32_t k = 0; k < count && k < kMaxPartitions; ++k) {
      const PartitionEntry& p = sharedPartitionBuffer[k];
      for (int32_t l = 1; l <= DiskContext.letterVolumeCount; ++l) {
        const LetterVolume& v = DiskContext.letterVolumes[l];
        if (v.start * m != p.start || LetterDisk(v.letter) != physical + 1) continue;
        AddPartitionRow(r, diskRow, p);
        if (DiskContext.systemDisk.is_none()) {
          WCHAR letter = static_cast<WCHAR>(v.letter);
          bool system = ShellState.winPEMode ? IsWindowsPartition(MakeDriveText(letter)) : IsWindowsDirectoryDrive(letter);
          if (system) DiskContext.systemDisk = PhysicalDiskNumber{physical};
        }
      }
    }
  }
  DiskListRows.rowCount = r;
}

int32_t ReadDiskCount() {
  return ReadRegistryByte(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum", u"Count");
}

void EnumerateDisks() {
  for (int n = 1; n <= kMaxListedDisks; ++n) DiskContext.listedToPhysical[n] = -1;
  for (int p = 0; p < 8; ++p) DiskContext.sectorMultiplier[p] = 0;
  // Physical numbers 0 to diskCount are probed while listed numbers remain:
  // a gap in the numbering is bridged once, and the number after the last
  // listed disk is still probed (and found absent).
  int32_t n = 1;
  for (int32_t p = 0; p <= DiskContext.diskCount; ++p) {
    uint64_t size = ReadDiskGeometry(p);
    if (n > DiskContext.diskCount || n > kMaxListedDisks) break;
    DiskContext.listedDiskSize[n] = size;
    if (size == 0) continue;
    DiskContext.listedToPhysical[n] = p;
    ReadDriveIdentityForDisk(p);
    char model[kModelTextSize + 1] = {};
    int32_t bus = 0;
    if (p < kDriveIdentityCount) {
      memcpy(model, DriveIdentities[p].modelText, kModelTextSize);
      bus = DriveIdentities[p].busCode < kBusCodeCount ? DriveIdentities[p].busCode : 0;
    }
    DiskContext.listedModel[n] = CString(model);
    DiskContext.listedBusName[n] = busNames[bus];
    ++n;
  }
}

void MapLettersToDisks() {
  for (int i = 0; i < kLetterCount; ++i) DiskContext.letterToDisk[i] = -1;
  WCHAR roots[4 * kLetterCount + 2] = {};
  DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(std::size(roots)), roots);
  if (length == 0 || length >= std::size(roots)) return;
  for (const WCHAR* root = roots; *root; root += std::char_traits<char16_t>::length(root) + 1) {
    int index = LetterIndex(root[0]);
    if (index <= 0) continue;  // A: and anything that is no letter
    WCHAR path[] = u"\\\\.\\C:";
    path[4] = root[0];
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned, nullptr);
    CloseHandle(h);
    if (!ok) continue;
    DiskContext.letterToDisk[index] = static_cast<int32_t>(number.DeviceNumber) + 1;
    DiskContext.letterPartitionNumber[index] = static_cast<int32_t>(number.PartitionNumber);
  }
}

int32_t ListLetterVolumes() {
  DiskContext.letterVolumeCount = 0;
  for (int32_t index = 0; index < 26; ++index) {
    LetterVolume v{};
    if (!QueryLetterVolume(v, index)) continue;
    if (DiskContext.letterVolumeCount >= kMaxLetterVolumes) break;
    DiskContext.letterVolumes[++DiskContext.letterVolumeCount] = v;
  }
  return DiskContext.letterVolumeCount;
}

int32_t QueryLetterVolume(LetterVolume& volume, int32_t index) {
  PumpMessages(ShellState.MainDialogHandle);
  WCHAR letter = static_cast<WCHAR>(u'C' + index);
  WCHAR path[] = u"\\\\.\\C:";
  path[4] = letter;
  HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_WRITE_THROUGH, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  WCHAR root[] = u"C:\\";
  root[0] = letter;
  UINT type = GetDriveTypeW(root);
  if (type != DRIVE_REMOVABLE && type != DRIVE_FIXED) {
    CloseHandle(h);
    return 0;
  }
  PARTITION_INFORMATION_EX info{};
  DWORD returned = 0;
  if (!DeviceIoControl(h, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &returned, nullptr)) {
    CloseHandle(h);
    return 0;
  }
  volume.letter = letter;
  volume.partitionNumber = static_cast<int32_t>(info.PartitionNumber);
  volume.start = static_cast<uint64_t>(info.StartingOffset.QuadPart) / 512;
  volume.length = static_cast<uint64_t>(info.PartitionLength.QuadPart) / 512;
  int32_t disk = LetterDisk(letter);
  int32_t m = disk > 0 ? SectorMultiplierOf(disk - 1) : 0;
  if (m > 0) {
    volume.start /= static_cast<uint64_t>(m);
    volume.length /= static_cast<uint64_t>(m);
  }
  CloseHandle(h);
  return 1;
}

int32_t FindLetterByOffset(uint64_t start, int32_t disk) {
  // Native positions of `disk` itself, so a lookup for another disk than the
  // current one compares in the right unit.
  uint64_t m = CompareMultiplier(disk);
  for (int32_t l = 1; l <= DiskContext.letterVolumeCount && l <= kMaxLetterVolumes; ++l) {
    const LetterVolume& v = DiskContext.letterVolumes[l];
    if (v.start * m == start && LetterDisk(v.letter) == disk + 1) return v.letter;
  }
  return -1;
}

bool IsWindowsPartition(const CString& driveText) {
  if (!Found(driveText + u"\\Windows*.*") && !Found(driveText + u"\\Winnt*.*")) return false;
  return Found(driveText + u"\\bootmgr") || Found(driveText + u"\\pagefile.sys") || Found(driveText + u"\\ntldr");
}

bool IsWindowsDirectoryDrive(WCHAR letter) {
  WCHAR folder[260] = {};
  if (GetWindowsDirectoryW(folder, 260) == 0) return false;
  return folder[0] == letter;
}

bool HasNtdetect(WCHAR letter) { return Found(MakeDriveText(letter) + u"\\NTDETECT.COM"); }

bool HasWindowsSystem(WCHAR letter) {
  CString drive = MakeDriveText(letter);
  // The k-th match is reached by starting the search again and skipping k - 1
  // matches, since the kernel test below replaces the open search.
  for (int k = 1; k <= kMaxWindowsFolderMatches; ++k) {
    CString name = FindFirstName(drive + u"\\win*.*");
    for (int skip = 1; skip < k && !name.IsEmpty(); ++skip) name = FindNextName();
    if (name.IsEmpty()) return false;
    if (Found(drive + u"\\" + name + u"\\system32\\kernel32.dll")) return true;
  }
  return false;
}

bool HasWindowsSystem32(WCHAR letter) { return Found(MakeDriveText(letter) + u"\\WINDOWS\\SYSTEM32"); }

bool HasSystem32Folder(const CString& root) { return Found(root + u"\\WINDOWS\\SYSTEM32"); }

bool HasBootBcd(const CString& root) {
  if (root.IsEmpty()) return false;
  return Found(root + u"\\BOOT\\BCD");
}

bool DriveHasBootBcd(WCHAR letter) { return Found(MakeDriveText(letter) + u"\\BOOT\\BCD"); }

CString MakeDriveText(WCHAR letter) {
  WCHAR text[3] = {letter, u':', 0};
  return CString(text);
}

WCHAR BootDirLetter() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return 0;
  WCHAR value[260] = {};
  DWORD type = 0, size = sizeof value - sizeof(WCHAR);
  LSTATUS rc = RegQueryValueExW(key, u"BootDir", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return 0;
  return Upper(value[0]);
}

WCHAR WindowsDirectoryLetter() {
  WCHAR folder[260] = {};
  GetWindowsDirectoryW(folder, 260);
  return Upper(folder[0]);
}
