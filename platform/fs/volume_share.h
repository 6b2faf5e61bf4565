// Volumes shared by several processes on one machine folder.
//
// Every process mounts its own driver on a volume and keeps what it read
// (allocation tables, folders) in memory. Two of them writing one volume
// would each trust their own stale copy and cross-link the file system. So a
// file call that touches a volume of the machine's disks holds the machine's
// volume lock (DIR/volumes.lock, a POSIX record lock: per process, not passed
// to children) for the whole call, writes its changes back before letting go,
// and counts each change of a volume in the lock file. A process that finds a
// volume's count moved since it last looked drops its driver unwritten and
// mounts afresh.
//
// The lock file holds fixed records, one per volume that was ever changed:
//   +0x00 u64 device of the image (st_dev)
//   +0x08 u64 inode of the image (st_ino)
//   +0x10 u64 byte offset of the volume in the image
//   +0x18 u64 change count
// (32 bytes each, little-endian as the host writes them; the file never
// leaves the host).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/storage/volume_claims.h"

namespace platform::fs {

// Which volume, across processes (volume_claims.h).
using storage::SharedVolumeKey;
using storage::SharedVolumeKeyOf;

class VolumeShareLock {
 public:
  // Opens DIR/volumes.lock, creating it. Null when the folder does not allow it
  // (a read-only machine folder is then used without coordination).
  static std::unique_ptr<VolumeShareLock> open(const std::string& machine_folder);
  ~VolumeShareLock();
  VolumeShareLock(const VolumeShareLock&) = delete;
  VolumeShareLock& operator=(const VolumeShareLock&) = delete;

  // Waits for the lock; false only when the system refuses it.
  bool lock();
  void unlock();
  bool held() const { return held_; }

  // A volume's change count (0 when never changed). Only under the lock.
  uint64_t generation(const SharedVolumeKey& key);
  // Counts one change of the volume and returns the new count. Only under the lock.
  uint64_t bump(const SharedVolumeKey& key);

  const std::string& folder() const { return folder_; }

 private:
  VolumeShareLock(int fd, std::string folder) : fd_(fd), folder_(std::move(folder)) {}
  // The record's byte offset in the file, or -1 when absent (then *end is
  // where a new one goes).
  int64_t find(const SharedVolumeKey& key, uint64_t* count, uint64_t* end);
  int fd_;
  std::string folder_;
  bool held_ = false;
};

}  // namespace platform::fs
