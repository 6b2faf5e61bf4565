#include "disk/drive_layout_table.h"

#include <cstring>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/volume_space.h"
#include "platform/core/kobject.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"
#include "program_support/path_helpers.h"

namespace {

constexpr char16_t kMsrName[] = u"Microsoft reserved partition";
constexpr size_t kEntrySize = sizeof(PARTITION_INFORMATION_EX);
constexpr int32_t kMaxBufferEntries = static_cast<int32_t>((kLayoutBufferSize - kDriveLayoutHeaderSize) / kEntrySize);

// The three GPT types whose boot sector tells the file system.
constexpr GUID kBasicDataTypes[] = {
    {0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}},
    {0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}},
    {0xBFBFAFE7, 0xA34F, 0x448A, {0x9A, 0x5B, 0x62, 0x13, 0xEB, 0x73, 0x6C, 0x22}},
};

const PARTITION_INFORMATION_EX* EntryAt(const void* buffer, int32_t i) {
  return reinterpret_cast<const PARTITION_INFORMATION_EX*>(static_cast<const uint8_t*>(buffer) +
                                                           kDriveLayoutHeaderSize + kEntrySize * i);
}

bool IsMsrName(const WCHAR* name36) {
  WCHAR name[37] = {};
  memcpy(name, name36, 36 * sizeof(WCHAR));
  return std::u16string_view(name) == kMsrName;
}

bool IsBasicDataType(const GUID& type) {
  for (const GUID& g : kBasicDataTypes)
    if (SameGuid(g, type)) return true;
  return false;
}

// The file system a basic-data partition's boot sector names; -1 when none
// (or when the sector cannot be read).
int32_t BootSectorCode(int32_t disk, uint64_t start_bytes) {
  alignas(64) uint8_t sector[4096] = {};
  int32_t m = SectorMultiplierOf(disk);
  if (m > 0 && OpenDiskReadWrite(disk)) {
    ReadDiskSectors(sector, start_bytes / (512 * static_cast<uint64_t>(m)), 1);
    CloseCurrentDisk();
  }
  int32_t code = FS_RAW;
  if (memcmp(sector + 3, "NTFS", 4) == 0) code = FS_NTFS;
  if (memcmp(sector + 82, "FAT32", 5) == 0) code = FS_FAT32;
  if (memcmp(sector + 54, "FAT16", 5) == 0) code = FS_FAT16;
  return code;
}

// Entries the layout in `buffer` can hold given the bytes the query returned.
int32_t EntriesInBuffer() {
  if (DiskContext.layoutByteCount < static_cast<int32_t>(kDriveLayoutHeaderSize)) return kMaxBufferEntries;
  int32_t fit = static_cast<int32_t>((DiskContext.layoutByteCount - kDriveLayoutHeaderSize) / kEntrySize);
  return fit < kMaxBufferEntries ? fit : kMaxBufferEntries;
}

}  // namespace

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

int32_t QueryDriveLayout(int32_t disk, void* buffer) {
  DiskContext.layoutRealCount = 0;
  OpenDiskReadWrite(disk);
  DWORD returned = 0;
  if (!DiskContext.currentDiskHandle ||
      !DeviceIoControl(DiskContext.currentDiskHandle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer,
                       kLayoutBufferSize, &returned, nullptr) ||
      returned < kDriveLayoutHeaderSize) {
    CloseCurrentDisk();
    return -1;
  }
  DiskContext.layoutByteCount = static_cast<int32_t>(returned);
  DiskContext.layoutBuffer = buffer;
  auto* layout = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer);
  int32_t count = static_cast<int32_t>(layout->PartitionCount);
  int32_t fit = EntriesInBuffer();
  if (count > fit || count < 0) count = fit;
  for (int32_t i = 0; i < count; ++i) {
    const PARTITION_INFORMATION_EX* e = EntryAt(buffer, i);
    bool real = e->PartitionStyle == PARTITION_STYLE_MBR
                    ? e->Mbr.PartitionType != 0
                    : e->PartitionLength.QuadPart == 0 || !IsMsrName(e->Gpt.Name);
    if (real) ++DiskContext.layoutRealCount;
  }
  CloseCurrentDisk();
  return count;
}

void FillLayoutTable(int32_t disk, const void* buffer, int32_t count) {
  for (auto& entry : DiskContext.layoutTable) entry = LayoutEntry{};
  uint32_t used = 0;  // only the low 32 bits are kept
  DiskContext.layoutTable[0].diskSignature = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer)->Mbr.Signature;
  int32_t fit = EntriesInBuffer();
  if (count > fit) count = fit;
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  for (int32_t i = 0; i < count; ++i) {
    const PARTITION_INFORMATION_EX* e = EntryAt(buffer, i);
    LayoutEntry& t = DiskContext.layoutTable[i];
    t.partitionStyle = e->PartitionStyle;
    bool gpt = e->PartitionStyle == PARTITION_STYLE_GPT;
    if (gpt) {
      t.typeGuid = e->Gpt.PartitionType;
      t.idGuid = e->Gpt.PartitionId;
      memcpy(t.name, e->Gpt.Name, sizeof e->Gpt.Name);
      t.name[36] = 0;
      t.gptAttributes = e->Gpt.Attributes;
    }
    t.startBytes = static_cast<uint64_t>(e->StartingOffset.QuadPart);
    t.lengthBytes = static_cast<uint64_t>(e->PartitionLength.QuadPart);
    t.driveLetter = FindLetterByOffset(t.startBytes / 512, disk);
    if (t.driveLetter > 0) used += static_cast<uint32_t>(GetVolumeUsedSectors(static_cast<WCHAR>(t.driveLetter)));
    if (!gpt)
      t.fsCode = e->Mbr.PartitionType;
    else
      t.fsCode = IsBasicDataType(t.typeGuid) ? BootSectorCode(disk, t.startBytes) : FS_RAW;
    if (std::u16string_view(t.name) == kMsrName) t.fsCode = FS_FAT32;
    t.partitionNumber = e->PartitionNumber;
    t.nesting = 0;
    t.containerIndex = 0;
    t.hiddenSectors = e->Mbr.HiddenSectors;
    t.bootIndicator = e->Mbr.BootIndicator;

    if (t.startBytes == 0 && t.lengthBytes == 0) continue;
    if (platform::storage::IsDosExtendedType(t.fsCode)) {
      t.nesting = -1;
      continue;
    }
    if (t.fsCode == 0) continue;
    for (int32_t j = 0; j < i; ++j) {
      const LayoutEntry& c = DiskContext.layoutTable[j];
      if (c.startBytes >= t.startBytes) continue;
      // start(i) + length(i) <= start(j) + length(j), without overflow.
      uint64_t into = t.startBytes - c.startBytes;
      if (into > c.lengthBytes || t.lengthBytes > c.lengthBytes - into) continue;
      t.nesting = 1;
      t.containerIndex = j;
      break;
    }
  }
  DiskContext.letteredUsedSectors = static_cast<int32_t>(used);
}

int32_t FindSystemPartition(int32_t count) {
  DiskContext.systemPartitionIndex = 0;
  if (count > kMaxLayoutEntries) count = kMaxLayoutEntries;
  for (int32_t i = 0; i < count; ++i) {
    const LayoutEntry& t = DiskContext.layoutTable[i];
    if (t.driveLetter <= 0) continue;
    WCHAR letter = static_cast<WCHAR>(t.driveLetter);
    if (FindFirstName(CString(u"\\\\.\\") + MakeDriveText(letter) + u"\\Windows\\System32\\Kernel32.dll").IsEmpty())
      continue;
    if (HasNtdetect(letter)) return 0;
    DiskContext.systemPartitionIndex = i;
    return 1;
  }
  return 0;
}

bool GrowPartition(WCHAR letter, uint64_t sectors) {
  HANDLE volume = OpenVolumeDevice(letter);
  if (volume == INVALID_HANDLE_VALUE) return false;
  PARTITION_INFORMATION_EX info{};
  DWORD returned = 0;
  bool grown = false;
  if (DeviceIoControl(volume, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &returned, nullptr)) {
    DISK_GROW_PARTITION grow{};
    grow.PartitionNumber = info.PartitionNumber;
    grow.BytesToGrow.QuadPart = static_cast<LONGLONG>(sectors * 512);
    grown = DeviceIoControl(volume, IOCTL_DISK_GROW_PARTITION, &grow, sizeof grow, nullptr, 0, &returned, nullptr);
  }
  CloseHandle(volume);
  return grown;
}

int32_t CountDiskVolumes(int32_t disk) {
  int32_t count = 0;
  for (int32_t index = 0; index < 26; ++index) {
    LetterVolume v{};
    if (!QueryLetterVolume(v, index)) continue;
    int letter = LetterIndex(v.letter);
    if (letter >= 0 && DiskContext.letterToDisk[letter] == disk + 1) ++count;
  }
  return count;
}

uint64_t FileSizeInSectors(const CString& path) {
  HANDLE h = OpenFileRead(path.GetString());
  if (h == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  BOOL ok = GetFileSizeEx(h, &size);
  CloseHandle(h);
  return ok ? static_cast<uint64_t>(size.QuadPart) / 512 : 0;
}
