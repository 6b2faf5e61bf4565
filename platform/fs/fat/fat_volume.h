// The FAT12/16/32 volume driver: mounts a FAT volume on a block device and
// serves the file API's VolumeDriver contract on its bytes.
//
// Caching: the active FAT is held in memory and its dirty sectors go to every
// FAT copy on flush(), together with the FAT32 free-cluster figures in FSInfo;
// a written file's write_back() (on close) writes them too but leaves the
// device's flush out. File data and directory entries are written through. A
// driver flushes when it is destroyed; files opened from it keep the volume
// state alive.
//
// Times: FAT stores local time. By default "now" and the offset of local time
// from UTC come from platform::Clock (its wall clock and time-zone bias, read
// at each conversion); MountOptions can fix either.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/core/block_device.h"
#include "platform/fs/fat/boot_sector.h"
#include "platform/fs/volume_driver.h"

namespace platform::fs::fat {

struct MountOptions {
  // Local time minus UTC in minutes. Unset: the negative of the clock's bias.
  std::optional<int32_t> local_offset_minutes;
  // Current time in FILETIME ticks, for new entries and writes. Unset: the clock's wall time.
  std::function<uint64_t()> now;
};

// Returns null with *error set: ERROR_UNRECOGNIZED_VOLUME when the device does
// not hold a FAT boot sector, ERROR_FILE_CORRUPT when its fields are impossible,
// or the device's read error.
std::unique_ptr<VolumeDriver> Mount(std::shared_ptr<BlockDevice> device, DWORD* error);
std::unique_ptr<VolumeDriver> Mount(std::shared_ptr<BlockDevice> device, const MountOptions& options,
                                    DWORD* error);

// Reads the boot sector and tells the FAT kind by the cluster count. Returns
// ERROR_SUCCESS, ERROR_UNRECOGNIZED_VOLUME, ERROR_FILE_CORRUPT or a read error.
DWORD Probe(BlockDevice& device, FatKind* kind);

}  // namespace platform::fs::fat
