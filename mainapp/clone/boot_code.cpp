#include "mainapp/clone/boot_code.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/volume_space.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/format.h"
#include "platform/core/kobject.h"
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

uint64_t LittleEndian(const uint8_t* bytes, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// Where a boot sector keeps its copy, in bytes from the volume start: NTFS
// after its last counted sector, FAT32 at the sector its parameter block
// names; 0 for none.
uint64_t BackupBootSectorOffset(const uint8_t* boot) {
  const uint64_t bytesPerSector = LittleEndian(boot + 11, 2);
  if (bytesPerSector < 512 || bytesPerSector > kNativeSectorMax || bytesPerSector % 512) return 0;
  if (std::memcmp(boot + 3, "NTFS    ", 8) == 0) return LittleEndian(boot + 0x28, 8) * bytesPerSector;
  if (std::memcmp(boot + 0x52, "FAT32   ", 8) == 0) {
    const uint64_t sector = LittleEndian(boot + 0x32, 2);
    return sector != 0 && sector != 0xFFFF ? sector * bytesPerSector : 0;
  }
  return 0;
}

CString DiskNumberText(int32_t physical) {
  CString text;
  text.Format(u"%d", physical);
  return text;
}

}  // namespace

bool HasMbrBootCode(const uint8_t* sector0) { return sector0[0] == 0x33 && sector0[1] == 0xC0; }

bool CopyMbrBootCode(int32_t sourceListed, int32_t destinationListed) {
  const int32_t source = ListedPhysicalDisk(sourceListed);
  const int32_t destination = ListedPhysicalDisk(destinationListed);
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
  return true;
}

bool CopyDiskSignatureBetween(int32_t sourceListed, int32_t destinationListed) {
  const int32_t source = ListedPhysicalDisk(sourceListed);
  const int32_t destination = ListedPhysicalDisk(destinationListed);
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

bool CopyDiskSignature() {
  return CopyDiskSignatureBetween(CloneSettings.sourceDisk, CloneSettings.chosenDestinationDisk);
}

bool TransplantBootSector(const CString& sourceVolume, const CString& destinationVolume) {
  // The source is only read; the destination is locked while its first
  // sector is replaced.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH;
  HANDLE source = CreateFileW(CString(u"\\\\.\\") + sourceVolume, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              flags, nullptr);
  if (source == INVALID_HANDLE_VALUE) return false;
  HANDLE destination = CreateFileW(CString(u"\\\\.\\") + destinationVolume, GENERIC_READ | GENERIC_WRITE, share,
                                   nullptr, OPEN_EXISTING, flags, nullptr);
  if (destination == INVALID_HANDLE_VALUE) {
    CloseHandle(source);
    return false;
  }
  LockVolume(destination);
  // 4096 bytes: one native sector of either size, read unbuffered.
  constexpr int32_t kUnits = kNativeSectorMax / 512;
  std::vector<uint8_t> s(kNativeSectorMax), v(kNativeSectorMax);
  bool ok = ReadSectorsAt(source, s.data(), 0, kUnits) == s.size() &&
            ReadSectorsAt(destination, v.data(), 0, kUnits) == v.size();
  const int j = v[1];
  ok = ok && v[0] == 0xEB && s[0] == 0xEB && s[1] == v[1] && j >= 10 && j + 2 <= kMbrBootSignatureOffset;
  if (ok) {
    // The copy of the boot sector that a volume keeps, when it matched the
    // old one, gets the new one too: a volume whose two boot sectors differ
    // is reported damaged.
    const uint64_t backup = BackupBootSectorOffset(v.data());
    const int32_t backupUnits = static_cast<int32_t>(LittleEndian(v.data() + 11, 2) / 512);
    std::vector<uint8_t> b(static_cast<size_t>(backupUnits) * 512);
    const bool updateBackup = backup != 0 && ReadSectorsAt(destination, b.data(), backup / 512, backupUnits) == b.size() &&
                              std::equal(b.begin(), b.begin() + 512, v.begin());
    std::copy(v.begin() + 11, v.begin() + j + 2, s.begin() + 11);
    std::copy(s.begin(), s.begin() + 512, v.begin());
    ok = WriteSectorsAt(destination, v.data(), 0, kUnits) == v.size();
    if (ok && updateBackup) {
      std::copy(s.begin(), s.begin() + 512, b.begin());
      ok = WriteSectorsAt(destination, b.data(), backup / 512, backupUnits) == b.size();
    }
  }
  UnlockVolume(destination);
  CloseHandle(destination);
  CloseHandle(source);
  return ok;
}
