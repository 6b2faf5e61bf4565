#include "mainapp/clone/boot_code.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "mainapp/clone/clone_run_state.h"
#include "mainapp/clone/clone_settings.h"
#include "mainapp/clone/disk_selection.h"
#include "platform/core/format.h"
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
