// Pellimor's raw disk access: one current physical disk, opened by number
// ("\\.\PhysicalDrive0" with its digit replaced, so disks 0 to 9), read and
// written in 512-byte sectors, and its geometry.
#pragma once

#include <cstdint>

#include "platform/core/types.h"

// The current disk's handle, 0 when closed or when the open failed.
extern HANDLE UsbDiskHandle;

// Read and write, shared, not write-through (see FlushUsbDisk); on failure shows "IDS_Error" and
// leaves the handle 0. Returns the handle.
HANDLE OpenUsbDisk(int disk);
// Read only, shared reading; failure leaves 0 without a message.
HANDLE OpenUsbDiskRead(int disk);
void CloseUsbDisk();

// count x 512 bytes at sector x 512: 0 on success, -1 on failure.
int ReadUsbSectors(void* buffer, uint64_t sector, uint32_t count);
// Up to 5 attempts; when none writes the whole request: "Error in Writing
// Sector", CopyErrorCount += 1, false.
bool WriteUsbSectors(const void* buffer, uint64_t sector, uint32_t count);
// Makes every write to the stick so far durable (the device's cache too).
// A failure is a failed write: "Error in Writing Sector" and one more
// CopyErrorCount; false.
bool FlushUsbDisk();

struct UsbGeometry {
  uint64_t cylinders = 0;
  uint32_t heads = 0;            // tracks per cylinder
  uint32_t sectorsPerTrack = 0;
  uint64_t sectors() const { return cylinders * heads * sectorsPerTrack; }
};
// The current disk's geometry; false when the request fails.
bool ReadUsbGeometry(UsbGeometry* geometry);
// Cylinders x heads x sectors per track of disk n (0 when it cannot be opened).
uint64_t GetUsbDiskSectorCount(int disk);
