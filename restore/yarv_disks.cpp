#include "restore/yarv_disks.h"

#include <cstring>
#include <set>

#include "disk/disk_tables.h"
#include "platform/core/ascii_case.h"
#include "platform/core/little_endian.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"

namespace {

struct TypeRow {
  uint8_t type;
  const char16_t* name;
};
constexpr TypeRow kTypeTable[] = {
    {0x00, u"NONE"},  {0x01, u"FAT12"}, {0x01, u"FAT16"}, {0x04, u"FAT16"}, {0x06, u"FAT16"},
    {0x07, u"NTFS"},  {0x0B, u"FAT32"}, {0x0C, u"FAT32"}, {0x0E, u"FAT16"}, {0x1B, u"FAT32"},
    {0x1C, u"FAT32"}, {0x1E, u"FAT16"}, {0x83, u"LINUX"}, {0x42, u"DYNMC"},
};
constexpr int kMaxChainLinks = 64;

struct DiskReader {
  HANDLE h = INVALID_HANDLE_VALUE;
  int64_t per_sector = 1;  // 512-byte units per native sector
  int64_t units = 0;       // disk size in 512-byte units
  explicit DiskReader(int32_t disk) {
    if (disk < 0 || disk > 9) return;
    char16_t path[] = u"\\\\.\\PhysicalDrive0";
    path[17] = static_cast<char16_t>(u'0' + disk);
    h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DISK_GEOMETRY geometry{};
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &returned, nullptr) &&
        geometry.BytesPerSector >= 512)
      per_sector = geometry.BytesPerSector / 512;
    if (DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
      units = length.Length.QuadPart / 512;
  }
  // Opened for writing as well.
  DiskReader(int32_t disk, bool write) : DiskReader(-1) {
    if (!write || disk < 0 || disk > 9) return;
    char16_t path[] = u"\\\\.\\PhysicalDrive0";
    path[17] = static_cast<char16_t>(u'0' + disk);
    h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (ok() && DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
      units = length.Length.QuadPart / 512;
  }
  ~DiskReader() {
    if (ok()) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
  // The 512 bytes at a 512-byte unit.
  bool read(int64_t unit, uint8_t* out) {
    LARGE_INTEGER to{};
    to.QuadPart = unit * 512;
    DWORD got = 0;
    return unit >= 0 && unit < units && SetFilePointerEx(h, to, nullptr, FILE_BEGIN) &&
           ReadFile(h, out, 512, &got, nullptr) && got == 512;
  }
};

}  // namespace

int RestoreTypeRow(uint8_t type) {
  for (int row = 0; row < static_cast<int>(std::size(kTypeTable)); ++row)
    if (kTypeTable[row].type == type) return row;
  return 0;
}

CString RestoreTypeName(int row) {
  if (row <= 0 || row >= static_cast<int>(std::size(kTypeTable))) return CString();
  return kTypeTable[row].name;
}

std::vector<RestorePartitionEntry> ReadMbrPartitionTable(int32_t disk) {
  std::vector<RestorePartitionEntry> out;
  DiskReader reader(disk);
  uint8_t mbr[512];
  if (!reader.ok() || !reader.read(0, mbr) || mbr[510] != 0x55 || mbr[511] != 0xAA) return out;
  auto add = [&](const uint8_t* e, int64_t base_native, int64_t table_unit, int slot) {
    const int row = RestoreTypeRow(e[4]);
    if (row == 0 || out.size() >= kMaxRestorePartitions) return;
    out.push_back({(base_native + platform::ReadLe32(e + 8)) * reader.per_sector, row,
                   int64_t{platform::ReadLe32(e + 12)} * reader.per_sector, table_unit, slot});
  };
  int64_t extended_native = -1;
  for (int slot = 0; slot < 4; ++slot) {
    const uint8_t* e = mbr + 446 + 16 * slot;
    if (platform::storage::IsDosExtendedType(e[4])) {
      if (extended_native < 0) extended_native = platform::ReadLe32(e + 8);
    } else if (e[4] != 0) {
      add(e, 0, 0, slot);
    }
  }
  // Logical drives: each EBR's data entry is relative to the EBR, its link
  // relative to the outer extended partition.
  std::set<int64_t> seen;
  int64_t ebr_native = extended_native;
  for (int link = 0; ebr_native > 0 && link < kMaxChainLinks; ++link) {
    if (!seen.insert(ebr_native).second) break;
    uint8_t ebr[512];
    const int64_t unit = ebr_native * reader.per_sector;
    if (!reader.read(unit, ebr) || ebr[510] != 0x55 || ebr[511] != 0xAA) break;
    int64_t next = -1;
    for (int slot = 0; slot < 4; ++slot) {
      const uint8_t* e = ebr + 446 + 16 * slot;
      if (platform::storage::IsDosExtendedType(e[4])) {
        if (next < 0 && platform::ReadLe32(e + 8) != 0) next = extended_native + platform::ReadLe32(e + 8);
      } else if (e[4] != 0) {
        add(e, ebr_native, unit, slot);
      }
    }
    ebr_native = next;
  }
  return out;
}

int32_t LetterDiskPlusOne(char16_t letter) {
  const int index = LetterIndex(platform::AsciiUpper(letter));
  return index <= 0 ? -1 : DiskContext.letterToDisk[index];
}

int32_t LetterPartitionNumber(char16_t letter) {
  const int index = LetterIndex(platform::AsciiUpper(letter));
  return index <= 0 ? 0 : DiskContext.letterPartitionNumber[index];
}

bool QueryLetterPartition(char16_t letter, int64_t& start, int64_t& length) {
  const int index = LetterIndex(platform::AsciiUpper(letter));
  if (index < 2) return false;
  char16_t path[] = u"\\\\.\\C:";
  path[4] = static_cast<char16_t>(u'A' + index);
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  PARTITION_INFORMATION_EX info{};
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(h, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &returned, nullptr);
  CloseHandle(h);
  if (!ok) return false;
  // 512-byte units, whatever the disk's sector size.
  start = info.StartingOffset.QuadPart / 512;
  length = info.PartitionLength.QuadPart / 512;
  return true;
}

int32_t RescanRestoreDisks() {
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  MapLettersToDisks();
  ListLetterVolumes();
  return DiskContext.diskCount;
}

int32_t ListedDiskCount() { return std::min<int32_t>(DiskContext.diskCount, kMaxListedDisks); }
int32_t ListedDiskPhysical(int32_t listed) {
  return listed >= 1 && listed <= kMaxListedDisks ? DiskContext.listedToPhysical[listed] : -1;
}
int64_t ListedDiskSectors(int32_t listed) {
  return listed >= 1 && listed <= kMaxListedDisks ? static_cast<int64_t>(DiskContext.listedDiskSize[listed]) : 0;
}
CString ListedDiskModel(int32_t listed) {
  return listed >= 1 && listed <= kMaxListedDisks ? DiskContext.listedModel[listed] : CString();
}

bool IsFirstPartitionActive(int32_t disk) {
  DiskReader reader(disk);
  uint8_t mbr[512];
  return reader.ok() && reader.read(0, mbr) && mbr[446] == 0x80;
}

bool ClearDiskSignature(int32_t disk) {
  DiskReader writer(disk, true);
  uint8_t mbr[512];
  if (!writer.ok() || !writer.read(0, mbr) || mbr[510] != 0x55 || mbr[511] != 0xAA) return false;
  std::memset(mbr + 440, 0, 4);
  LARGE_INTEGER to{};
  DWORD done = 0;
  return SetFilePointerEx(writer.h, to, nullptr, FILE_BEGIN) && WriteFile(writer.h, mbr, 512, &done, nullptr) &&
         done == 512 && FlushFileBuffers(writer.h);
}

std::vector<uint8_t> KoztBootTemplate;

namespace {
constexpr size_t kBootManagerMarkBytes = 30;
}

bool IsKoztBootPartition(int32_t disk, int64_t start, int64_t length) {
  if (KoztBootTemplate.size() < kBootManagerMarkBytes) return false;
  DiskReader reader(disk);
  uint8_t sector[512];
  if (!reader.ok() || !reader.read(0, sector) ||
      std::memcmp(sector, KoztBootTemplate.data(), kBootManagerMarkBytes) != 0)
    return false;
  const size_t b = sector[442];
  if (b + 268 + 4 > sizeof sector) return false;
  return int64_t{platform::ReadLe32(sector + b + 264)} * reader.per_sector == start &&
         int64_t{platform::ReadLe32(sector + b + 268)} * reader.per_sector == length;
}

bool DiskHasKoztPartition(int32_t disk) {
  for (const RestorePartitionEntry& e : ReadMbrPartitionTable(disk))
    if (IsKoztBootPartition(disk, e.start, e.length)) return true;
  return false;
}
