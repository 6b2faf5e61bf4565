// Byte-range transfers for the raw file-system readers, whatever the native
// sector size: on the current disk through the disk access layer (whole
// native sectors through a bounce buffer, read-modify-write for partial
// sectors), and on an unbuffered volume handle (aligned 4096-byte blocks, the
// largest native sector the platform has).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/types.h"

// Reads the disk's geometry when the layer does not know its sector
// multiplier yet (call before opening the disk: the geometry read opens and
// closes it). False for a disk number outside the tables or without geometry.
bool EnsureSectorMultiplier(int32_t disk);

// Reads or writes `length` bytes at byte `offset` of the current disk. False
// when any native sector transfer fails (nothing outside the buffer is touched).
bool ReadCurrentDiskBytes(uint64_t offset, void* buffer, size_t length);
bool WriteCurrentDiskBytes(uint64_t offset, const void* buffer, size_t length);

// Reads `length` bytes at byte `offset` of a volume or file handle. False on
// a failed or short read.
bool ReadHandleBytes(HANDLE handle, uint64_t offset, void* buffer, size_t length);
