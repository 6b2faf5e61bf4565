#include "mainapp/clone/boot_code.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/volume_space.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/format.h"
#include "platform/core/kobject.h"
#include "platform/core/little_endian.h"
#include "platform/fs/file_api.h"
#include "program_support/language_table.h"

namespace {

// One native sector of up to 4096 bytes.
constexpr int kNativeSectorMax = 4096;

// Reads native sector 0 of a physical disk (512 or 4096 bytes) into `sector`;
// false when the disk cannot be opened or read. The disk is closed again.
bool ReadSectorZero(int32_t physical, bool forWriting, std::vector<uint8_t>& sector) {
  if (physical < 0) return false;
  if (SectorMultiplierOf(physical) == 0) ReadDiskGeometry(physical);
  const int32_t multiplier = SectorMultiplierOf(physical);
  if (multiplier <= 0 || multiplier * 512 > kNativeSectorMax) return false;
  sector.assign(static_cast<size_t>(multiplier) * 512, 0);
  const HANDLE handle = forWriting ? OpenDiskReadWrite(physical) : OpenDiskRead(physical);
  if (!handle || handle == INVALID_HANDLE_VALUE) {
    CloseCurrentDisk();
    return false;
  }
  const bool ok = ReadDiskSectors(sector.data(), 0, 1) == 0;
  if (!forWriting || !ok) CloseCurrentDisk();
  return ok;
}

// Writes the native sector 0 read by ReadSectorZero(forWriting = true), which
// left the destination open and current; closes it.
void WriteSectorZeroAndClose(const std::vector<uint8_t>& sector) {
  WriteDiskSectors(sector.data(), 0, 1);
  CloseCurrentDisk();
}

// What of a volume's first sectors is boot code, by its file system.
enum class BootKind { None, Ntfs, Fat32, Fat };
struct BootLayout {
  BootKind kind = BootKind::None;
  uint32_t bytesPerSector = 0;
  uint32_t parameterEnd = 0;  // the jump and name (0-10) and the parameter block end before this byte
  uint32_t areaBytes = 0;     // the boot code's sectors read and written at once
  uint32_t reserved = 0;      // FAT: reserved sectors; the code sectors lie among them
  uint32_t infoSector = 0;    // FAT32: the information sector and the first backup boot sector
  uint32_t backupSector = 0;
  uint64_t backupOffset = 0;  // bytes from the volume start of the copy of sector 0; 0 for none
};

// NTFS keeps its boot code in the 8 KiB of its $Boot file, FAT32 in sector 0
// and further reserved sectors (12 since Windows Vista, 2 before), FAT12/16
// in sector 0 alone. Kind None for anything else.
BootLayout ReadBootLayout(const uint8_t* boot) {
  BootLayout l;
  const uint64_t bytesPerSector = platform::ReadLe16(boot + 11);
  if (bytesPerSector < 512 || bytesPerSector > kNativeSectorMax || bytesPerSector % 512) return l;
  l.bytesPerSector = static_cast<uint32_t>(bytesPerSector);
  if (std::memcmp(boot + 3, "NTFS    ", 8) == 0) {
    l.kind = BootKind::Ntfs;
    l.parameterEnd = 84;
    l.areaBytes = 8192;
    l.backupOffset = platform::ReadLe64(boot + 0x28) * bytesPerSector;
    return l;
  }
  l.reserved = static_cast<uint32_t>(platform::ReadLe16(boot + 14));
  if (l.reserved == 0) return l;
  if (std::memcmp(boot + 0x52, "FAT32   ", 8) == 0) {
    l.kind = BootKind::Fat32;
    l.parameterEnd = 90;
    l.areaBytes = std::min<uint32_t>(l.reserved, 16) * l.bytesPerSector;
    l.infoSector = static_cast<uint32_t>(platform::ReadLe16(boot + 0x30));
    l.backupSector = static_cast<uint32_t>(platform::ReadLe16(boot + 0x32));
    if (l.backupSector != 0 && l.backupSector != 0xFFFF) l.backupOffset = uint64_t{l.backupSector} * bytesPerSector;
    return l;
  }
  if (std::memcmp(boot + 0x36, "FAT1", 4) == 0) {
    l.kind = BootKind::Fat;
    l.parameterEnd = 62;
    l.areaBytes = l.bytesPerSector;
  }
  return l;
}

// Where the code of a boot sector starts: the target of its opening jump
// (EB short or E9 near); 0 when it opens with neither.
uint32_t JumpTarget(const uint8_t* boot) {
  if (boot[0] == 0xEB) return 2u + boot[1];
  if (boot[0] == 0xE9) return static_cast<uint32_t>((3 + static_cast<int>(platform::ReadLe16(boot + 1))) & 0xFFFF);
  return 0;
}

// Lays the source's boot code over the destination's boot area, keeping the
// destination's parameter block and, on FAT32, its information sector and
// backup boot sectors. False (nothing changed) when the two are not of one
// file system, or FAT volumes of different sector sizes, or when the
// source's code would start inside the parameter block kept.
bool MergeBootArea(const std::vector<uint8_t>& source, const BootLayout& from, std::vector<uint8_t>& destination,
                   const BootLayout& to) {
  if (from.kind == BootKind::None || from.kind != to.kind) return false;
  if (from.kind != BootKind::Ntfs && from.bytesPerSector != to.bytesPerSector) return false;
  if (JumpTarget(source.data()) < to.parameterEnd || JumpTarget(source.data()) >= 510) return false;
  std::copy(source.begin(), source.begin() + 11, destination.begin());
  const size_t firstEnd = from.kind == BootKind::Ntfs ? to.areaBytes : to.bytesPerSector;
  std::copy(source.begin() + to.parameterEnd, source.begin() + firstEnd, destination.begin() + to.parameterEnd);
  if (from.kind != BootKind::Fat32) return true;
  // Further code sectors among the reserved ones both volumes have.
  const uint32_t bps = to.bytesPerSector;
  const uint32_t sectors = std::min(from.areaBytes, to.areaBytes) / bps;
  auto isFileSystemSector = [](const BootLayout& l, uint32_t s) {
    return s == l.infoSector || (l.backupSector != 0 && (s == l.backupSector || s == l.backupSector + 1));
  };
  for (uint32_t s = 1; s < sectors; ++s) {
    if (isFileSystemSector(from, s) || isFileSystemSector(to, s)) continue;
    std::copy(source.begin() + s * bps, source.begin() + (s + 1) * bps, destination.begin() + s * bps);
  }
  return true;
}

// Reads `count` bytes at byte `offset` of an unbuffered handle (both whole
// 512-byte units; the caller keeps them whole native sectors).
bool ReadAt(HANDLE handle, std::vector<uint8_t>& buffer, uint64_t offset, size_t count) {
  buffer.assign(count, 0);
  return ReadSectorsAt(handle, buffer.data(), offset / 512, static_cast<int32_t>(count / 512)) == count;
}
bool WriteAt(HANDLE handle, const uint8_t* buffer, uint64_t offset, size_t count) {
  return WriteSectorsAt(handle, buffer, offset / 512, static_cast<int32_t>(count / 512)) == count;
}

// The native sector where an MBR disk's first partition starts; 0 for a
// sector that is no MBR or a GPT's protective one (whose sectors behind
// sector 0 hold the GPT), or for a table without partitions.
uint64_t FirstPartitionSector(const uint8_t* sector0) {
  if (sector0[kMbrBootSignatureOffset] != 0x55 || sector0[kMbrBootSignatureOffset + 1] != 0xAA) return 0;
  uint64_t first = 0;
  for (int k = 0; k < 4; ++k) {
    const uint8_t* entry = sector0 + kMbrTableOffset + 16 * k;
    if (entry[4] == 0xEE) return 0;
    const uint64_t start = platform::ReadLe32(entry + 8);
    if (entry[4] != 0 && start != 0 && (first == 0 || start < first)) first = start;
  }
  return first;
}

// Copies the room between sector 0 and the first partition, where a loader
// started by the MBR code lives, from the source disk onto the destination,
// never reaching the destination's own first partition. The room is taken as
// bytes from each disk's native sector 1 on, so that between disks of
// different sector sizes (512 and 4096 bytes) a loader that the MBR code
// reads from sector 1 on lands in one piece, as on the source; the length
// copied is whole destination sectors. Nothing when either disk has no MBR
// partition (`sourceFirst`, `destinationFirst`: native sectors, 0 for none).
void CopyLoaderGap(int32_t source, uint64_t sourceFirst, int32_t sourceMultiplier, int32_t destination,
                   uint64_t destinationFirst, int32_t destinationMultiplier) {
  if (sourceFirst <= 1 || destinationFirst <= 1 || sourceMultiplier <= 0 || destinationMultiplier <= 0) return;
  // Bytes per native sector, and each disk's room in bytes.
  const uint64_t from512 = static_cast<uint64_t>(sourceMultiplier), to512 = static_cast<uint64_t>(destinationMultiplier);
  const uint64_t sourceRoom = (sourceFirst - 1) * from512 * 512, destinationRoom = (destinationFirst - 1) * to512 * 512;
  const uint64_t length = std::min(sourceRoom, destinationRoom) / (to512 * 512) * (to512 * 512);
  if (length == 0) return;
  // The source only for reading (it becomes the current disk), the
  // destination through a handle of its own.
  HANDLE from = OpenDiskRead(source);
  if (from == INVALID_HANDLE_VALUE) from = nullptr;
  HANDLE to = from ? OpenDiskHandle(destination) : nullptr;
  if (to == INVALID_HANDLE_VALUE) to = nullptr;
  if (from && to) {
    constexpr uint64_t kChunkBytes = 256 * 1024;  // whole sectors of either size
    std::vector<uint8_t> buffer(kChunkBytes);
    for (uint64_t done = 0; done < length;) {
      const uint64_t bytes = std::min(kChunkBytes, length - done);
      // Whole source sectors (never past its room: that is whole sectors).
      const uint64_t readUnits = (bytes / 512 + from512 - 1) / from512 * from512;
      if (ReadSectorsAt(from, buffer.data(), from512 + done / 512, static_cast<int32_t>(readUnits)) != readUnits * 512) {
        ++DiskContext.ioErrorCount;
        break;
      }
      if (WriteSectorsAt(to, buffer.data(), to512 + done / 512, static_cast<int32_t>(bytes / 512)) != bytes) {
        ++DiskContext.ioErrorCount;
        break;
      }
      done += bytes;
    }
  }
  if (to) CloseDeviceHandle(to);
  CloseCurrentDisk();
}

CString DiskNumberText(int32_t physical) {
  CString text;
  text.Format(u"%d", physical);
  return text;
}

}  // namespace

bool HasMbrBootCode(const uint8_t* sector0) {
  return std::any_of(sector0, sector0 + kMbrBootCodeBytes, [](uint8_t b) { return b != 0; });
}

bool CopyMbrBootCode(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed) {
  const int32_t source = ListedPhysicalDisk(sourceListed).value;
  const int32_t destination = ListedPhysicalDisk(destinationListed).value;
  CloneRunState.statusText = LookupString(u"IDS_COPYINGMBR") + u"(" + LookupString(u"IDS_Disk") +
                             DiskNumberText(source) + u" " + LookupString(u"IDS_To") + u" " +
                             LookupString(u"IDS_Disk") + DiskNumberText(destination) + u")";
  if (source < 0 || destination < 0) return false;

  std::vector<uint8_t> sourceSector;
  if (!ReadSectorZero(source, false, sourceSector)) return false;
  const uint8_t* code = HasMbrBootCode(sourceSector.data()) ? sourceSector.data() : kOwnMbrBootCode;

  std::vector<uint8_t> destinationSector;
  if (!ReadSectorZero(destination, true, destinationSector)) return false;
  std::memcpy(destinationSector.data(), code, kMbrBootCodeBytes);
  WriteSectorZeroAndClose(destinationSector);
  CopyLoaderGap(source, FirstPartitionSector(sourceSector.data()), SectorMultiplierOf(source), destination,
                FirstPartitionSector(destinationSector.data()), SectorMultiplierOf(destination));
  return true;
}

bool CopyDiskSignatureBetween(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed) {
  const int32_t source = ListedPhysicalDisk(sourceListed).value;
  const int32_t destination = ListedPhysicalDisk(destinationListed).value;
  std::vector<uint8_t> sourceSector;
  if (!ReadSectorZero(source, false, sourceSector)) return false;
  const uint8_t* signature = sourceSector.data() + kMbrSignatureOffset;
  if (std::all_of(signature, signature + 4, [](uint8_t b) { return b == 0; })) return false;

  std::vector<uint8_t> destinationSector;
  if (!ReadSectorZero(destination, true, destinationSector)) return false;
  std::memcpy(destinationSector.data() + kMbrSignatureOffset, signature, 4);
  WriteSectorZeroAndClose(destinationSector);
  return true;
}

uint32_t ReadDiskSignature(ListedDiskIndex listed) {
  std::vector<uint8_t> sector;
  if (!ReadSectorZero(ListedPhysicalDisk(listed).value, false, sector)) return 0;
  return static_cast<uint32_t>(platform::ReadLe32(sector.data() + kMbrSignatureOffset));
}

bool CopyDiskSignature() {
  return CopyDiskSignatureBetween(CloneSettings.sourceDisk, CloneSettings.chosenDestinationDisk);
}

bool TransplantBootSector(const CString& sourceVolume, const CString& destinationVolume) {
  return TransplantVolumeBootCode(CString(u"\\\\.\\") + sourceVolume, CString(u"\\\\.\\") + destinationVolume);
}

bool TransplantVolumeBootCode(const CString& sourceDevice, const CString& destinationDevice) {
  if (sourceDevice.IsEmpty() || destinationDevice.IsEmpty()) return false;
  // The source is only read; the destination is locked while its boot code
  // is replaced.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH;
  HANDLE source = CreateFileW(sourceDevice, GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);
  if (source == INVALID_HANDLE_VALUE) return false;
  HANDLE destination =
      CreateFileW(destinationDevice, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, flags, nullptr);
  if (destination == INVALID_HANDLE_VALUE) {
    CloseHandle(source);
    return false;
  }
  LockVolume(destination);
  // 4096 bytes first: one native sector of either size, read unbuffered.
  std::vector<uint8_t> s, v;
  bool ok = ReadAt(source, s, 0, kNativeSectorMax) && ReadAt(destination, v, 0, kNativeSectorMax);
  const BootLayout from = ok ? ReadBootLayout(s.data()) : BootLayout{};
  const BootLayout to = ok ? ReadBootLayout(v.data()) : BootLayout{};
  ok = ok && from.kind != BootKind::None && from.kind == to.kind;
  // The whole boot areas: whole native sectors of each volume.
  const size_t sourceBytes = std::max<size_t>(from.areaBytes, kNativeSectorMax);
  const size_t destinationBytes = std::max<size_t>(to.areaBytes, kNativeSectorMax);
  ok = ok && ReadAt(source, s, 0, sourceBytes) && ReadAt(destination, v, 0, destinationBytes);
  std::vector<uint8_t> merged = v;
  ok = ok && MergeBootArea(s, from, merged, to);
  if (ok) {
    // The copy of the boot sector that a volume keeps, when it matched the
    // old one, gets the new one too: a volume whose two boot sectors differ
    // is reported damaged.
    const uint32_t bps = to.bytesPerSector;
    std::vector<uint8_t> backup;
    const bool inArea = to.backupOffset != 0 && to.backupOffset + bps <= merged.size();
    const bool updateBackup =
        to.backupOffset != 0 && (inArea ? std::equal(v.begin(), v.begin() + bps, v.begin() + to.backupOffset)
                                        : ReadAt(destination, backup, to.backupOffset, bps) &&
                                              std::equal(backup.begin(), backup.begin() + bps, v.begin()));
    if (updateBackup && inArea) std::copy(merged.begin(), merged.begin() + bps, merged.begin() + to.backupOffset);
    ok = WriteAt(destination, merged.data(), 0, merged.size());
    if (ok && updateBackup && !inArea) {
      std::copy(merged.begin(), merged.begin() + bps, backup.begin());
      ok = WriteAt(destination, backup.data(), to.backupOffset, backup.size());
    }
  }
  UnlockVolume(destination);
  CloseHandle(destination);
  CloseHandle(source);
  return ok;
}
