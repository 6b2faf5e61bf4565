// The mount manager's published view of the simulated PC's volumes, and the
// hook that keeps file-system drivers coherent with raw disk access.
//
// The mount manager (re)builds the table after every rescan; the file API and
// the volume APIs read snapshots of it. A raw read or write through a disk or
// volume handle, a lock, a dismount or a layout change first tells every raw
// access listener which byte range of which disk it is about to touch, so the
// file-system layer can flush and drop any driver it has open on that range.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/types.h"

namespace platform::storage {

struct MountedVolume {
  std::u16string guid_path;    // "\\?\Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\"
  std::u16string device_name;  // "\Device\HarddiskVolumeN"
  WCHAR letter = 0;            // 'C'..'Z', or 0 when the volume has no letter
  int disk_number = -1;        // physical disk, -1 for volumes not on a disk (host mounts)
  int partition_number = 0;    // 1-based as the platform numbers partitions
  uint64_t offset = 0;         // bytes from the start of the disk
  uint64_t length = 0;         // bytes
  std::string file_system;     // what the boot sector says: "NTFS", "FAT12", "FAT16", "FAT32", "exFAT", "RAW"
  bool removable = false;
  uint64_t generation = 0;     // changes whenever this volume's extent or contents were replaced wholesale
  std::shared_ptr<BlockDevice> device;  // window onto the partition's bytes
};

// A consistent copy of the current table.
std::vector<MountedVolume> MountedVolumes();
// Replaces the table (the mount manager after each rescan; tests with fixtures).
void SetMountedVolumes(std::vector<MountedVolume> volumes);

// kind of access, so listeners can tell a read (flush only) from a write (flush and drop).
// Written comes after a write landed (the others come before the access), so
// the machine's other processes can be told that their view is stale.
enum class RawAccess { Read, Write, Lock, Dismount, LayoutChange, Written };
using RawAccessListener = std::function<void(int disk_number, uint64_t offset, uint64_t length, RawAccess kind)>;

// Returns an id for RemoveRawAccessListener.
int AddRawAccessListener(RawAccessListener listener);
void RemoveRawAccessListener(int id);
// Called by the storage layer before it touches [offset, offset + length) of a disk.
void NotifyRawAccess(int disk_number, uint64_t offset, uint64_t length, RawAccess kind);

}  // namespace platform::storage
