#include "disk/partition_list.h"

#include <cstring>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/volume_space.h"
#include "platform/core/little_endian.h"
#include "platform/fs/file_api.h"
#include "platform/storage/partition_table.h"
#include "program_support/language_table.h"
#include "program_support/registry_readers.h"

const MbrTypeRow mbrTypeTable[kMbrTypeCount] = {
    {0x01, "FAT12     "}, {0x02, "XENIX root"}, {0x03, "XENIX usr "}, {0x04, "FAT16     "}, {0x06, "FAT16     "},
    {0x07, "NTFS      "}, {0x08, "AIX       "}, {0x09, "AIX       "}, {0x0A, "OS/2 Boot "}, {0x0B, "FAT32     "},
    {0x0C, "FAT32     "}, {0x0E, "FAT16     "}, {0x10, "OPUS      "}, {0x11, "FAT12     "}, {0x12, "Compaq    "},
    {0x14, "FAT16     "}, {0x16, "FAT16     "}, {0x17, "NTFS      "}, {0x1B, "FAT32     "}, {0x1C, "FAT32     "},
    {0x1E, "FAT16     "}, {0x24, "NEC DOS   "}, {0x38, "THEOS     "}, {0x39, "Plan 9    "}, {0x3C, "PartnMagic"},
    {0x40, "Venix     "}, {0x41, "PPC Boot  "}, {0x42, "Dynamic   "},
    {0x4D, "QNX4.x    "}, {0x4E, "QNX4.x    "}, {0x4F, "QNX4.x    "}, {0x50, "OnTrack   "}, {0x51, "OnTrack   "},
    {0x52, "CP/M      "}, {0x53, "OnTrack   "}, {0x54, "OnTrack   "}, {0x55, "EZ-Drive  "}, {0x56, "Golden Bow"},
    {0x5C, "PriamEdisk"}, {0x61, "SpeedStor "}, {0x63, "GNU       "}, {0x64, "Netware   "}, {0x65, "Netware   "},
    {0x70, "DiskSecure"}, {0x75, "PC/IX     "}, {0x80, "Minix     "}, {0x81, "Minix/L   "}, {0x82, "Linux     "},
    {0x83, "Linux     "}, {0x84, "OS/2x     "}, {0x85, "Linux     "}, {0x86, "NTFS      "}, {0x87, "NTFS      "},
    {0x8E, "Linux LVM "}, {0x93, "Amoeba    "}, {0x94, "AmoebaBBT "},
    {0x9F, "BSD/OS    "}, {0xA0, "Thinkpad  "}, {0xA5, "BSD/386   "}, {0xA6, "OpenBSD   "}, {0xA7, "NeXTSTEP  "},
    {0xB7, "BSDI      "}, {0xB8, "BSDI      "}, {0xC1, "DRDOS     "}, {0xC4, "DRDOS     "}, {0xC6, "DRDOS     "},
    {0xC7, "Syrinx    "}, {0xDA, "Non-FSdata"}, {0xDB, "CP/M      "}, {0xDE, "Dell      "}, {0xE4, "SpeedStor "},
    {0xEB, "BeOS      "}, {0xEE, "EFI GPT   "}, {0xEF, "EFI       "}, {0xF1, "SpeedStor "}, {0xF2, "DOS       "},
    {0xF4, "SpeedStor "}, {0xFB, "VMWARE    "}, {0xFC, "VMWARESWAP"}, {0xFD, "Linux raid"}, {0xFE, "LANstep   "},
    {0xFF, "BBT       "}, {0x27, "EISA CFG  "},
};

namespace {

// A native sector of at most 4096 bytes, read through the disk access layer.
constexpr size_t kSectorBuffer = 4096;
constexpr size_t kMbrEntries = 446;
constexpr size_t kMbrEntrySize = 16;
constexpr size_t kGptEntrySize = 128;
constexpr int kGptEntrySectors = 8;
constexpr char16_t kMsrName[] = u"Microsoft reserved partition";
constexpr uint64_t kBasicSizeLimit = 2097152;  // 1 GiB in 512-byte units

struct SectorBuffer {
  alignas(64) uint8_t bytes[kSectorBuffer];
};

// Reads one native sector of the current disk into a zeroed buffer; false
// when the read failed (the buffer is then all zero, never stale).
bool ReadNativeSector(SectorBuffer& buffer, uint64_t sector) {
  memset(buffer.bytes, 0, sizeof buffer.bytes);
  return ReadDiskSectors(buffer.bytes, sector, 1) == 0;
}

bool HasSignature(const SectorBuffer& b) { return b.bytes[510] == 0x55 && b.bytes[511] == 0xAA; }

bool Matches(const uint8_t* at, const char* text, size_t length) { return memcmp(at, text, length) == 0; }

enum class BootKind { None, ExFat, Other };

// The volume boot sector patterns of a disk without a partition table.
BootKind SuperfloppyKind(const SectorBuffer& b) {
  const uint8_t* s = b.bytes;
  if (s[2] == 0x90 && Matches(s + 3, "MSDOS5.0", 8) && s[11] == 0) return BootKind::Other;
  if (s[2] == 0x90 && Matches(s + 3, "MSWIN4.1", 8)) return BootKind::Other;
  if (s[0] == 0xEB && s[1] == 0x76 && s[2] == 0x90 && Matches(s + 3, "EXFAT ", 6)) return BootKind::ExFat;
  if (s[2] == 0x90 && Matches(s + 3, "NTFS    ", 8) && s[11] == 0) return BootKind::Other;
  return BootKind::None;
}

// A FAT boot sector keeps its sector count in the 16-bit field at byte 19
// when it fits (small FAT12 and FAT16 volumes), else in the 32-bit one at 32.
uint64_t FatSectorCount(const uint8_t* s) {
  uint16_t small = platform::ReadLe16(s + 19);
  return small ? small : platform::ReadLe32(s + 32);
}

// A FAT12 or FAT16 boot sector: its type text at byte 54 says so, or,
// without the text, it is no NTFS sector and its 16-bit FAT size (byte 22)
// is set, which only FAT12 and FAT16 use.
bool IsFat12Or16(const uint8_t* s) {
  if (Matches(s + 54, "FAT12", 5) || Matches(s + 54, "FAT16", 5)) return true;
  return !Matches(s + 3, "NTFS    ", 8) && platform::ReadLe16(s + 22) != 0;
}

// 512-byte units per sector of the volume itself; its counts are in its own
// sectors, which on a 4096-byte disk are 4096 bytes.
uint64_t VolumeSectorUnits(uint32_t bytes_per_sector) {
  switch (bytes_per_sector) {
    case 512: case 1024: case 2048: case 4096:
      return bytes_per_sector / 512;
    default:
      return 1;
  }
}

bool TypeIsKnown(int32_t type) {
  for (const auto& row : mbrTypeTable)
    if (row.type == type) return true;
  return false;
}

bool Append(const PartitionEntry& entry) {
  if (DiskContext.partitionCount >= kMaxPartitions) return false;
  DiskContext.partitions[DiskContext.partitionCount++] = entry;
  return true;
}

PartitionEntry MakeEntry(int32_t type, uint64_t start, uint64_t length, uint64_t ebr, int32_t slot) {
  PartitionEntry e{};
  e.start = start;
  e.reserved = 0;
  e.type = type;
  e.length = length;
  e.ebrSector = ebr;
  e.slot = slot;
  return e;
}

struct MbrSlot {
  int32_t type;
  uint32_t first;
  uint32_t count;
};

MbrSlot SlotOf(const SectorBuffer& b, int i) {
  const uint8_t* e = b.bytes + kMbrEntries + kMbrEntrySize * i;
  return {e[4], platform::ReadLe32(e + 8), platform::ReadLe32(e + 12)};
}

// Walks the EBR chain from the extended partition's start. The chain ends at
// the first EBR without signature, whose logical partition is empty or of an
// unknown type, whose sector cannot be read, that was visited before, or when
// the list is full. Returns false when the first EBR gave nothing.
bool ReadExtendedChain(int32_t multiplier, bool basic) {
  uint64_t base = static_cast<uint64_t>(DiskContext.extendedStart);
  uint64_t offset = 0;
  uint64_t visited[kMaxPartitions + 1];
  int hops = 0;
  SectorBuffer b;
  for (;;) {
    uint64_t ebr = base + offset;
    for (int i = 0; i < hops; ++i)
      if (visited[i] == ebr) return hops > 0;  // a chain that loops back ends here
    if (hops > kMaxPartitions || DiskContext.partitionCount >= kMaxPartitions) return hops > 0;
    visited[hops++] = ebr;
    if (!ReadNativeSector(b, ebr) || !HasSignature(b)) return hops > 1;
    MbrSlot first = SlotOf(b, 0);
    MbrSlot link = SlotOf(b, 1);
    uint64_t start = ebr + first.first;
    int32_t code = CheckPartitionType(first.type, basic ? 0 : start);
    if (code == 0) return hops > 1;
    uint64_t m = basic ? 1 : static_cast<uint64_t>(multiplier);
    Append(MakeEntry(code, start * m, static_cast<uint64_t>(first.count) * m, ebr, 0));
    if (!platform::storage::IsDosExtendedType(link.type)) return true;
    offset = link.first;
  }
}

// The GPT's entries; the disk is current and open.
void ReadGptPartitions(int32_t disk, int32_t multiplier) {
  DiskContext.msrIndex = -1;
  SectorBuffer b;
  if (!ReadNativeSector(b, 1) || !Matches(b.bytes, "EFI PART", 8)) return;
  uint64_t array = platform::ReadLe32(b.bytes + 72);
  // A 4096-byte sector holds 32 entries; every one is read, within the list's room.
  size_t per_sector = static_cast<size_t>(multiplier) * 512 / kGptEntrySize;
  if (per_sector > kSectorBuffer / kGptEntrySize) per_sector = kSectorBuffer / kGptEntrySize;
  int examined = 0;
  for (int j = 0; j < kGptEntrySectors; ++j) {
    if (!ReadNativeSector(b, array + j)) return;  // an unreadable entry sector ends the list
    for (size_t k = 0; k < per_sector; ++k) {
      if (examined >= kMaxPartitions || DiskContext.partitionCount >= kMaxPartitions) return;
      ++examined;
      const uint8_t* e = b.bytes + k * kGptEntrySize;
      uint64_t first = platform::ReadLe64(e + 32);
      uint64_t last = platform::ReadLe64(e + 40);
      if (first == 0) return;
      if (last < first) return;  // a damaged entry: nothing sensible follows
      char16_t name[37] = {};
      for (int c = 0; c < 36; ++c) name[c] = static_cast<char16_t>(platform::ReadLe16(e + 56 + 2 * c));
      if (std::u16string_view(name) == kMsrName) {
        DiskContext.msrIndex = static_cast<int32_t>(k);
        continue;
      }
      PartitionEntry entry = MakeEntry(0, first * multiplier, (last - first + 1) * multiplier, 0, 0);
      int32_t letter = FindLetterByOffset(entry.start, disk);
      if (letter > 0) {
        entry.type = VolumeFsCodeByLetter(static_cast<WCHAR>(letter));
      } else {
        CString path = FindVolumeByExtent(disk, entry.start * 512);
        if (path.IsEmpty()) {
          entry.type = FS_GPT_NO_VOLUME;
          ShowDebugMessage(0, CString(u"novolume"));
        } else {
          entry.type = VolumeFsCodeByPath(path + u"\\");
        }
      }
      CString text;
      text.Format(u"%d %s %d filesystem", disk, name, entry.type);
      ShowDebugMessage(0, text);
      Append(entry);
    }
  }
}

int32_t FsCodeOfName(const WCHAR* name) {
  std::u16string_view n(name);
  if (n == u"FAT32") return FS_FAT32;
  if (n == u"NTFS") return FS_NTFS;
  if (n == u"FAT") return FS_FAT16;
  if (n == u"exFAT") return FS_EXFAT;
  return FS_UNKNOWN;
}

int32_t CopyOut(PartitionEntry* out) {
  if (out)
    for (int i = 0; i < DiskContext.partitionCount; ++i) out[i] = DiskContext.partitions[i];
  return DiskContext.partitionCount;
}

}  // namespace

int32_t ReadPartitionList(PartitionEntry* out, int32_t disk) {
  DiskContext.partitionCount = 0;
  DiskContext.isGptDisk = 0;
  DiskContext.extendedStart = -1;
  if (!OpenDiskRead(disk)) return -1;
  int32_t m = SectorMultiplierOf(disk);
  SectorBuffer b;
  ReadNativeSector(b, 0);
  BootKind kind = SuperfloppyKind(b);
  if (kind != BootKind::None) {
    const uint8_t* s = b.bytes;
    uint64_t units = VolumeSectorUnits(platform::ReadLe16(s + 11));
    int32_t type;
    uint64_t count;
    if (kind == BootKind::ExFat) {
      type = FS_EXFAT;
      count = platform::ReadLe64(s + 72);
      units = s[108] >= 9 && s[108] <= 12 ? uint64_t{1} << (s[108] - 9) : 1;
    } else if (s[85] == '3' && s[86] == '2') {
      type = FS_FAT32_CHS;
      count = FatSectorCount(s);
    } else if (IsFat12Or16(s)) {
      // FAT12 answers as FAT16 does: the platform names both "FAT".
      type = FS_FAT16;
      count = FatSectorCount(s);
    } else {
      type = FS_NTFS;
      count = platform::ReadLe64(s + 40);
    }
    Append(MakeEntry(type, 0, count * units, 0, 0));
  } else if (HasSignature(b)) {
    if (SlotOf(b, 0).type == 0xEE) {
      DiskContext.isGptDisk = 1;
      ReadGptPartitions(disk, m);
    } else {
      SectorBuffer mbr = b;
      for (int i = 0; i < 4; ++i) {
        MbrSlot slot = SlotOf(mbr, i);
        if (slot.type == 0) continue;
        if (platform::storage::IsDosExtendedType(slot.type)) {
          DiskContext.extendedStart = slot.first;
          DiskContext.extendedLength = slot.count;
          continue;
        }
        int32_t code = CheckPartitionType(slot.type, slot.first);
        Append(MakeEntry(code, static_cast<uint64_t>(slot.first) * m, static_cast<uint64_t>(slot.count) * m, 0, i));
      }
      if (DiskContext.extendedStart >= 0) {
        int32_t before = DiskContext.partitionCount;
        if (!ReadExtendedChain(m, false) && DiskContext.partitionCount == before)
          Append(MakeEntry(FS_EXTENDED, static_cast<uint64_t>(DiskContext.extendedStart) * m,
                           DiskContext.extendedLength * m, 0, 4));
      }
    }
  }
  CloseCurrentDisk();
  return CopyOut(out);
}

int32_t CheckPartitionType(int32_t type, uint64_t sector) {
  if (type == 0) return 0;
  SectorBuffer b;
  ReadNativeSector(b, sector);
  if (type == FS_FAT16_SMALL && b.bytes[85] == '3') type = FS_FAT32_CHS;
  return TypeIsKnown(type) ? type : 0;
}

int32_t VolumeFsCodeByPath(const CString& root) {
  WCHAR name[64] = {};
  if (!GetVolumeInformationW(root.GetString(), nullptr, 0, nullptr, nullptr, nullptr, name, 64)) return FS_UNKNOWN;
  return FsCodeOfName(name);
}

int32_t VolumeFsCodeByLetter(WCHAR letter) {
  WCHAR root[] = u"C:\\";
  root[0] = letter;
  return VolumeFsCodeByPath(CString(root));
}

bool VolumeHasFileSystem(WCHAR letter) {
  WCHAR root[] = u"C:\\";
  root[0] = letter;
  WCHAR name[64] = {};
  return GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, 64) != FALSE;
}

CString PartitionTypeName(int32_t type) {
  for (const auto& row : mbrTypeTable) {
    if (row.type != type) continue;
    CString name(row.name);
    name.Trim();
    return name.IsEmpty() ? CString(u"N/A") : name;
  }
  return CString();
}

CString FileSystemTypeText(int32_t code) {
  CString text;
  switch (code) {
    case -1: text = u"RAW"; break;
    case 1: case 4: case 6: case 14: case 30: text = u"FAT16"; break;
    case 7: text = u"NTFS"; break;
    case 11: case 12: case 27: case 28: text = u"FAT32"; break;
    case 131: text = u"LINUX"; break;
    default: text = LookupString(u"IDS_UNKNOWN"); break;
  }
  CString number;
  number.Format(u"(%d)", code);
  return text + number;
}

int32_t ReadPartitionListBasic(PartitionEntry* out, int32_t diskPlusOne) {
  DiskContext.partitionCount = 0;
  DiskContext.extendedStart = -1;
  if (!OpenDiskRead(diskPlusOne - 1)) return 0;
  SectorBuffer b;
  ReadNativeSector(b, 0);
  const uint8_t* s = b.bytes;
  uint64_t listed_size = diskPlusOne >= 1 && diskPlusOne <= kMaxListedDisks ? DiskContext.listedDiskSize[diskPlusOne] : 0;
  if (listed_size <= kBasicSizeLimit && s[2] == 0x90 && Matches(s + 3, "MSDOS5.0", 8) && s[11] == 0) {
    int32_t type = FS_UNKNOWN;
    if (s[85] == '3' || s[86] == '2')
      type = FS_FAT16;
    else if (s[57] == '1' || s[58] == '6')
      type = FS_FAT16_SMALL;
    Append(MakeEntry(type, 0, FatSectorCount(s), 0, 0));
  } else if (HasSignature(b)) {
    // Primaries first (table values, no multiplier; the type check reads
    // sector 0), then the logical partitions of the chain.
    SectorBuffer mbr = b;
    for (int i = 0; i < 4; ++i) {
      MbrSlot slot = SlotOf(mbr, i);
      if (slot.type == 0) continue;
      if (platform::storage::IsDosExtendedType(slot.type)) {
        DiskContext.extendedStart = slot.first;
        DiskContext.extendedLength = slot.count;
        continue;
      }
      Append(MakeEntry(CheckPartitionType(slot.type, 0), slot.first, slot.count, 0, i));
    }
    if (DiskContext.extendedStart >= 0) ReadExtendedChain(1, true);
  }
  CloseCurrentDisk();
  return CopyOut(out);
}

int32_t PartitionKindValue(int32_t type) {
  switch (type) {
    case 5: return 100;
    case 6: case 7: case 9: case 10: return 32;
    default: return 0;
  }
}
