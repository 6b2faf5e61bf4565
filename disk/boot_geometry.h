// Boot-sector geometry carry-over for raw partition copies: bytes 24..31 of a
// FAT or NTFS boot sector (sectors per track, heads, hidden sectors) are taken
// from the source and written over the copy's.
#pragma once

#include <cstdint>

#include "platform/core/types.h"

constexpr int32_t kBootSectorCacheSize = 4096;
constexpr int32_t kBootGeometryOffset = 24;  // uint16 sectors per track
constexpr int32_t kBootGeometrySize = 8;     // +26 uint16 heads, +28 uint32 hidden sectors
// The last boot sector read by ReadBootSectorToCache or ReadSectorToBootCache;
// only its first 512 bytes are filled.
extern BYTE bootSectorCache[kBootSectorCacheSize];

// Reads the 512-byte unit at sector x 512 of the handle into the cache; bytes read.
DWORD ReadBootSectorToCache(HANDLE handle, int32_t sector);
// Reads the unit at that sector, puts the cached bytes 24..31 over it and
// writes it back; bytes written. Writes nothing (result 0) unless the whole
// unit was read.
DWORD ApplyCachedBootGeometry(HANDLE handle, int32_t sector);
// The current-disk forms. ReadSectorToBootCache returns as ReadDiskSectors.
int32_t ReadSectorToBootCache(int32_t sector);
// Writes only when byte 24 of the cache is not 0 and the sector was read.
void PatchBootGeometry(int32_t sector);
