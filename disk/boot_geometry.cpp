#include "disk/boot_geometry.h"

#include <cstring>

#include "disk/disk_access.h"

BYTE bootSectorCache[kBootSectorCacheSize];

namespace {

constexpr int32_t kUnit = 512;

}  // namespace

DWORD ReadBootSectorToCache(HANDLE handle, int32_t sector) {
  if (sector < 0) return 0;
  return ReadSectorsAt(handle, bootSectorCache, static_cast<uint64_t>(sector), 1);
}

DWORD ApplyCachedBootGeometry(HANDLE handle, int32_t sector) {
  if (sector < 0) return 0;
  BYTE unit[kUnit] = {};
  // Only a whole unit may be patched and written back: writing what a failed
  // or short read left would put stale bytes on the copy.
  if (ReadSectorsAt(handle, unit, static_cast<uint64_t>(sector), 1) != kUnit) return 0;
  std::memcpy(unit + kBootGeometryOffset, bootSectorCache + kBootGeometryOffset, kBootGeometrySize);
  return WriteSectorsAt(handle, unit, static_cast<uint64_t>(sector), 1);
}

int32_t ReadSectorToBootCache(int32_t sector) {
  if (sector < 0) return -1;
  return ReadDiskSectors(bootSectorCache, static_cast<uint64_t>(sector), 1);
}

void PatchBootGeometry(int32_t sector) {
  if (sector < 0) return;
  // One native sector of up to 4096 bytes.
  alignas(16) BYTE native[kBootSectorCacheSize] = {};
  if (ReadDiskSectors(native, static_cast<uint64_t>(sector), 1) != 0) return;
  if (bootSectorCache[kBootGeometryOffset] == 0) return;
  std::memcpy(native + kBootGeometryOffset, bootSectorCache + kBootGeometryOffset, kBootGeometrySize);
  WriteDiskSectors(native, static_cast<uint64_t>(sector), 1);
}
