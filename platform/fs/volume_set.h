// Which volume a file name lands on, and the live driver for each volume.
//
// Volumes come from three places: the mount manager's table (disk
// partitions, by letter, volume GUID path or \Device\HarddiskVolumeN), the
// machine's host mounts (a whole letter or a folder inside a volume, served by
// the host-folder driver), and shadow copies (frozen snapshots).
//
// A driver is mounted on first use and kept until something makes its view
// stale: a raw read or write through a disk or volume handle that overlaps
// the volume, a lock, a dismount, a layout change, or a new generation in the
// mount manager's table. Then every open file on it lets go of its driver
// state, the driver writes everything back and is closed, and the next file
// call mounts afresh. So raw and file views always agree.
//
// All state is guarded by FsLock(); every public file call holds it. A call
// that reaches a volume of the machine's disks also holds the machine's volume
// lock until FsLock is let go at its end (volume_share.h): then each volume the
// call used writes its cached changes back and counts them for the other
// processes on the machine.
//
// The one exception is the transfer of a ReadFile or WriteFile: it runs on
// the file's driver state under the driver's own per-volume lock with FsLock
// let go (a TransferPin keeps the machine's volume lock meanwhile), so that
// transfers on different volumes proceed at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/fs/path_name.h"
#include "platform/fs/volume_driver.h"
#include "platform/storage/volume_claims.h"

namespace platform::fs {

// A recursive mutex whose outermost unlock ends the file call (see above).
class FsMutex {
 public:
  void lock();
  bool try_lock();
  void unlock();

 private:
  std::recursive_mutex mutex_;
  int depth_ = 0;      // only changed by the owner
  bool ending_ = false;
};
FsMutex& FsLock();

// Taken under FsLock by a file call that goes on to move bytes without it:
// the machine's volume lock, when the call holds it, stays held past the
// call's end until the pin is released, so no other process changes a volume
// while the transfer runs. Releasing (or destroying) the pin takes FsLock; the
// caller joins the volume again first when its transfer may have written, so
// the end of that call writes back and counts the change.
class TransferPin {
 public:
  TransferPin();
  ~TransferPin() { release(); }
  TransferPin(const TransferPin&) = delete;
  TransferPin& operator=(const TransferPin&) = delete;
  void release();

 private:
  bool pinned_ = false;
};

// A file system other than NTFS (FAT12/16/32) mounts through a registered
// factory: name as the mount manager reports it ("FAT32", ...).
using DriverFactory = std::function<std::unique_ptr<VolumeDriver>(std::shared_ptr<BlockDevice> device, DWORD* error)>;
void RegisterFileSystem(const std::string& name, DriverFactory factory);

// Something that keeps driver state for a volume and must let go of it when
// the driver is closed (open files do).
class DriverUser {
 public:
  virtual ~DriverUser() = default;
  virtual void release_driver_state() = 0;
};

struct Location {
  std::string volume;          // key of the volume: its GUID path, "host:NAME" or "shadow:N"
  VolumePath path;             // components below that volume's root
  std::u16string full_path;    // the name as the program would see it ("C:\a\b")
  bool volume_root_of_name = false;  // the name itself is a volume root ("C:\")
};

// Resolves a parsed file name to a volume and the path inside it. Returns
// ERROR_PATH_NOT_FOUND when no volume answers to the name's root.
DWORD Locate(const ParsedName& name, Location* out);

// Names of the mount points (host folders or volumes mounted on a folder)
// that sit directly inside `folder`, so listings can show them.
std::vector<std::u16string> MountedChildren(const Location& folder);

// The current driver of a volume, mounting it when needed; *instance changes
// whenever a new driver replaced the old one. Null with *error set.
std::shared_ptr<VolumeDriver> DriverFor(const std::string& volume, DWORD* error, uint64_t* instance = nullptr);

// Makes a volume of the machine's disks part of the file call under way (the
// caller holds FsLock), as any file call on it does: no other process writes
// or locks it until the call ends. ERROR_ACCESS_DENIED while another process
// holds it locked.
DWORD JoinVolumeCall(const std::string& volume);

// A claim on a volume of the machine's disks that keeps the machine's other
// processes from locking it (volume_claims.h), for an open file or folder;
// empty for host folders, shadow copies and folders without claims. The
// volume must have been reached by the call under way.
storage::VolumeClaim HoldVolume(const std::string& volume);

// Open files register so a closing driver can tell them to let go.
void AddDriverUser(const std::string& volume, std::weak_ptr<DriverUser> user);

// Flushes and closes the drivers of every volume that overlaps
// [offset, offset + length) of `disk` (length 0: the whole disk).
void ReleaseDrivers(int disk, uint64_t offset, uint64_t length);
// Flushes and closes one volume's driver.
void ReleaseDriver(const std::string& volume);
// Flushes and closes every driver (tests, shut-down).
void ReleaseAllDrivers();

// The partition behind a volume key, for raw work (formatting, snapshots).
struct VolumeExtent {
  int disk = -1;
  uint64_t offset = 0;
  uint64_t length = 0;
  std::string file_system;
  std::shared_ptr<BlockDevice> device;
};
DWORD ExtentOf(const std::string& volume, VolumeExtent* out);

// Shadow copies: a frozen view served from its own device.
int AddShadowVolume(std::shared_ptr<BlockDevice> device, const std::string& file_system, const std::string& source);
bool RemoveShadowVolume(int number);

}  // namespace platform::fs
