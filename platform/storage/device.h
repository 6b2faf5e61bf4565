// Opening disk and volume devices, and the seams the device layer shares with
// the rest of the platform.
//
// Device paths understood here (prefix "\\.\" or "\\?\", names in any case):
//   PhysicalDriveN                   the whole disk N (N decimal, any size)
//   X:                               the volume with drive letter X
//   Volume{GUID} or Volume{GUID}\    a volume by its GUID name
//   GLOBALROOT\Device\HarddiskVolumeN  a volume by its device name
//   HarddiskNPartitionM              partition M of disk N (M = 0: the whole disk)
// Other names under "\\.\" such as ScsiN: or SMARTVSD are device paths that do
// not exist on the simulated PC; every other path (files, pipes, "\\.\X:\dir")
// is not a device path and is left to the caller.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/types.h"
#include "platform/storage/volume_table.h"

namespace platform::machine {
class Disk;
}

namespace platform::storage {

struct SharedVolumeKey;

enum class DeviceOpenResult {
  Opened,      // *out holds a new handle
  Failed,      // a device path that cannot be opened; *out is INVALID_HANDLE_VALUE, last error set
  NotADevice,  // not a device path; nothing was touched
};

// Opens a device path for CreateFileW. access: GENERIC_READ / GENERIC_WRITE
// (0 opens for queries only); share: FILE_SHARE_*; creation must be
// OPEN_EXISTING or OPEN_ALWAYS; flags: FILE_FLAG_NO_BUFFERING makes the handle
// refuse transfers whose offset or length is not a whole number of native
// sectors (ERROR_INVALID_PARAMETER) and move its data with direct I/O;
// FILE_FLAG_WRITE_THROUGH makes each write durable before it returns (see
// device_handle.h). Errors: ERROR_FILE_NOT_FOUND (no such disk
// or volume), ERROR_NOT_READY (the disk's open is set to fail),
// ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED (volume locked by another
// handle), ERROR_INVALID_PARAMETER (creation disposition).
DeviceOpenResult OpenDevice(std::u16string_view path, DWORD access, DWORD share, DWORD creation, DWORD flags,
                            HANDLE* out);

// True when `path` names a device in one of the forms above (whether or not it exists).
bool IsDevicePath(std::u16string_view path);

// ---- Seams -------------------------------------------------------------------

// Where disks come from. The default asks the current machine
// (platform::machine::Current()); tests install their own. Null restores the default.
using DiskLookup = std::function<std::shared_ptr<machine::Disk>(int number)>;
void SetDiskLookup(DiskLookup lookup);
std::shared_ptr<machine::Disk> LookupDisk(int number);

// Asked after a write to sector 0 of a disk, IOCTL_DISK_SET_DRIVE_LAYOUT_EX,
// IOCTL_DISK_CREATE_DISK, IOCTL_DISK_GROW_PARTITION and
// IOCTL_DISK_UPDATE_PROPERTIES: the mount manager installs its rescan here.
using RescanHook = std::function<void(int disk_number)>;
void SetRescanHook(RescanHook hook);
void RequestRescan(int disk_number);

// File-system controls on volume handles that the device layer does not answer
// itself (FSCTL_GET_NTFS_VOLUME_DATA, reparse points, ...) go to the
// file-system layer. The handler returns nullopt when it does not know the
// code, else TRUE/FALSE with the last error set. Without a handler such codes
// fail with ERROR_INVALID_FUNCTION.
using VolumeControlHandler =
    std::function<std::optional<BOOL>(const MountedVolume& volume, DWORD code, const void* in, DWORD in_size, void* out,
                                      DWORD out_size, DWORD* returned)>;
void SetVolumeControlHandler(VolumeControlHandler handler);

// True while some handle, of this process or another on the machine folder,
// holds FSCTL_LOCK_VOLUME on the volume that starts at `offset` on disk
// `disk_number` (the file API refuses opens on it meanwhile). A caller that
// already knows the volume's key across processes (volume_claims.h) passes it
// and spares the look at the image.
bool IsVolumeLocked(int disk_number, uint64_t offset, const SharedVolumeKey* key = nullptr);

}  // namespace platform::storage
