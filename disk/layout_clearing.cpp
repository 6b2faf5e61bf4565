#include "disk/layout_clearing.h"

#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "platform/core/clock.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "program_support/message_pump.h"

namespace {

constexpr int kTries = 5;
constexpr int kTriesLargeSectors = 50;
constexpr int kBufferBytes = 64 * 1024;
constexpr int kZeroUnits = kBufferBytes / 512;               // one write of the GPT zeroing
constexpr uint64_t kGptZeroUnits = 4194304;                  // 2 GiB in 512-byte units
constexpr unsigned char kStickLoader[3] = {0xFC, 0xFA, 0xB8};

void UpdateDiskProperties() {
  DWORD returned = 0;
  DeviceIoControl(DiskContext.currentDiskHandle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned,
                  nullptr);
}

// Zeroes the first 2 GiB of the current disk without gaps: each write covers
// kZeroUnits 512-byte units, so the next one starts that many units (in
// native sectors) further on. Stops at the end of the disk.
void ZeroGptArea(int32_t disk, const unsigned char* zeros, const std::function<void()>& afterWrite) {
  const uint64_t multiplier = static_cast<uint64_t>(SectorMultiplierOf(disk) > 0 ? SectorMultiplierOf(disk) : 1);
  // 32,768 writes: none waits for the device's cache, one flush at the end.
  OpenDiskForBulkWrites(disk);
  uint64_t diskUnits = kGptZeroUnits;
  const uint64_t units = DeviceLengthBytes(DiskContext.currentDiskHandle) / 512;
  if (units > 0 && units < diskUnits) diskUnits = units;
  for (uint64_t unit = 0; unit < diskUnits; unit += kZeroUnits) {
    const uint64_t left = diskUnits - unit;
    const int32_t count = static_cast<int32_t>(left < kZeroUnits ? left : kZeroUnits);
    WriteDiskSectors(zeros, unit / multiplier, count);
    if (afterWrite) afterWrite();
  }
  FlushFileBuffers(DiskContext.currentDiskHandle);
  Sleep(2000);
  UpdateDiskProperties();
  CloseCurrentDisk();
}

}  // namespace

bool ClearDiskLayout(int32_t disk, bool zeroGptArea, const std::function<void()>& afterGptWrite) {
  int tries = kTries;
  int attempts = 0;
  std::vector<unsigned char> buffer(kBufferBytes);
  for (;;) {
    OpenDiskReadWrite(disk);
    if (SectorMultiplierOf(disk) > 1) tries = kTriesLargeSectors;
    std::fill(buffer.begin(), buffer.end(), 0);
    ReadDiskSectors(buffer.data(), 0, 1);
    if (buffer[0] == kStickLoader[0] && buffer[1] == kStickLoader[1] && buffer[2] == kStickLoader[2]) {
      CloseCurrentDisk();
      return false;
    }
    std::fill(buffer.begin(), buffer.end(), 0);
    WriteDiskSectors(buffer.data(), 0, 1);
    Sleep(2000);
    UpdateDiskProperties();
    CloseCurrentDisk();
    Sleep(5000);

    if (zeroGptArea) ZeroGptArea(disk, buffer.data(), afterGptWrite);

    ++attempts;
    if (attempts > tries) {
      DiskContext.ioErrorCount = 0;
      return false;
    }
    MapLettersToDisks();
    if (CountDiskVolumes(disk) == 0) {
      DiskContext.ioErrorCount = 0;
      return true;
    }
    ListLetterVolumes();
    MapLettersToDisks();
    Sleep(1000);
    PumpMessages(nullptr);
  }
}

