// The disk access layer: physical disks opened by number, volumes by drive
// letter, raw sector transfers on the one current disk, the process-wide I/O
// error counter, disk geometry, and thin file helpers. Free functions on
// DiskContext; only the UI thread calls them.
//
// Units: ReadDiskSectors/WriteDiskSectors take a native sector number of the
// current disk and a count of 512-byte units (rounded up to whole native
// sectors); ReadSectorsAt/WriteSectorsAt take both in 512-byte units on any
// handle, without multiplier; ReadDiskGeometry returns 512-byte units.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/types.h"

// ---- disk and volume handles ----
// "\\.\PhysicalDriveN" with the digit patched to '0' + n (n as a signed 8-bit
// value): only disks 0 to 9 have a valid path. A negative disk number shows
// "open: No Drive" and is then tried all the same.

// Read and write, shared, unbuffered; makes the disk current (also on failure;
// a still-open previous handle is then closed). Returns the handle, 0 on failure.
HANDLE OpenDiskReadWrite(int32_t disk);
// The same, but a write does not wait for the device's cache: for long runs of
// writes, whose caller flushes (FlushFileBuffers) where they must be on the device.
HANDLE OpenDiskForBulkWrites(int32_t disk);
// Read only, share read, unbuffered; up to 3 attempts 200 ms apart. On success
// the disk becomes current; currentDiskHandle takes the result in every case
// (a still-open previous handle is closed when the open fails).
HANDLE OpenDiskRead(int32_t disk);
// Read and write, shared, unbuffered; DiskContext untouched. Close it with CloseDeviceHandle.
HANDLE OpenDiskHandle(int32_t disk);
// "\\.\X:" read and write, shared, unbuffered; INVALID_HANDLE_VALUE on failure.
HANDLE OpenVolumeDevice(WCHAR letter);
// Closes currentDiskHandle (the field keeps its value) and lowers openDiskCount.
// A handle that is already closed, or a failed open's 0, is not closed again.
BOOL CloseCurrentDisk();
BOOL CloseDeviceHandle(HANDLE handle);

// ---- sector transfer ----
// 0 when the platform read succeeded, -1 when it failed, brought fewer bytes
// than asked (past the end of the disk: then nothing is read), or the count is
// not positive or too large for one transfer; 0 without reading when the
// current disk has no multiplier. A read that fails or comes up short adds 1
// to ioErrorCount.
int32_t ReadDiskSectors(void* buffer, uint64_t sector, int32_t count);
// Up to 5 immediate attempts while nothing is written; each failed attempt adds
// 1 to ioErrorCount. A transfer that would run past the end of the disk is
// refused whole (1 added) and a short write is not tried again. Nothing when
// the current disk has no multiplier.
void WriteDiskSectors(const void* buffer, uint64_t sector, int32_t count);
// Bytes transferred (0 on failure or for a count that is not positive).
DWORD ReadSectorsAt(HANDLE handle, void* buffer, uint64_t sector, int32_t count);
DWORD WriteSectorsAt(HANDLE handle, const void* buffer, uint64_t sector, int32_t count);
// Size in 512-byte units (cylinders x reported sectors per track x tracks per
// cylinder x multiplier), 0 on failure; stores the disk's capped sectors per
// track and its multiplier (physical numbers below 32 only).
uint64_t ReadDiskGeometry(int32_t disk);
// The device's real length in bytes (the geometry above rounds down to whole
// cylinders), 0 when the handle cannot tell.
uint64_t DeviceLengthBytes(HANDLE handle);
// The whole of physical disk `disk` in 512-byte units: its real length (the
// length query, not the geometry's whole cylinders) in whole native sectors;
// also stores the disk's sectors per track and multiplier as
// ReadDiskGeometry does. 0 when the disk cannot be opened or asked.
uint64_t ReadDiskLengthUnits(int32_t disk);

// ---- file helpers (INVALID_HANDLE_VALUE on failure; DiskContext untouched) ----
HANDLE OpenFileRead(LPCWSTR path);
HANDLE OpenFileReadWrite(LPCWSTR path);
HANDLE OpenFileReadWriteShareRead(LPCWSTR path);
HANDLE OpenFileUnbuffered(LPCWSTR path);
HANDLE CreateFileForWrite(LPCWSTR path);
// The same without write-through: for a run of many files whose caller makes
// the whole volume durable once at its end (FlushVolumeFiles).
HANDLE CreateFileForBulkWrite(LPCWSTR path);
// Makes every file written on the volume whose root is `root` ("E:\\" or
// "\\?\Volume{...}\\") durable on its device. FALSE when the root cannot be
// opened for writing or the flush failed: then nothing written since the
// volume's last flush is known to be on the device.
BOOL FlushVolumeFiles(LPCWSTR root);

// One platform read or write; bytes transferred, 0 on failure.
DWORD ReadFileBytes(HANDLE handle, DWORD count, void* buffer);
DWORD WriteFileBytes(HANDLE handle, DWORD count, const void* buffer);
// File pointer := sector x 512 + offset from the start, both sign-extended, in
// 64 bits; returns 0. SeekSector32 forms the sum in 32 bits (below 2 GiB).
int32_t SeekSector(HANDLE handle, int32_t sector, int32_t offset);
int32_t SeekSector32(HANDLE handle, int32_t sector, int32_t offset);
int32_t CloseFileHandle(HANDLE handle);
