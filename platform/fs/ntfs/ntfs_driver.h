// The NTFS volume driver: libntfs-3g on a partition's BlockDevice.
#pragma once

#include <memory>

#include "platform/core/block_device.h"
#include "platform/fs/volume_driver.h"

namespace platform::fs::ntfs {

// What FSCTL_GET_NTFS_VOLUME_DATA reports, gathered from the mounted volume.
struct NtfsVolumeData {
  uint64_t serial = 0;
  uint64_t total_clusters = 0;
  uint64_t free_clusters = 0;
  uint32_t bytes_per_sector = 0;
  uint32_t bytes_per_cluster = 0;
  uint32_t bytes_per_mft_record = 0;
  uint64_t mft_valid_data_length = 0;
  uint64_t mft_start_lcn = 0;
  uint64_t mft2_start_lcn = 0;
  uint32_t major_version = 0;
  uint32_t minor_version = 0;
};

class NtfsDriver : public VolumeDriver {
 public:
  virtual DWORD volume_data(NtfsVolumeData* data) = 0;
};

// Mounts the NTFS volume on `device`. Returns null with *error set
// (ERROR_UNRECOGNIZED_VOLUME for a device that holds no NTFS, ERROR_FILE_CORRUPT
// for a damaged one). The device must stay valid while the driver lives.
std::unique_ptr<NtfsDriver> Mount(std::shared_ptr<BlockDevice> device, bool read_only, DWORD* error);

// Win32 error for an errno value from libntfs-3g.
DWORD ErrorFromErrno(int err);

}  // namespace platform::fs::ntfs
