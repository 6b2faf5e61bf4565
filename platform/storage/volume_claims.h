// Who uses a volume, across every process of one machine folder.
//
// Each process keeps its own tables of open handles and volume locks
// (device_open.cpp, the file API); those only see the process itself. What
// the other processes must see goes to DIR/volumes.claims, beside
// volumes.lock: a file that holds no data, only byte-range locks of the
// kind that belong to an open file description (F_OFD_SETLK). The kernel
// lets go of them when the process ends, however it ends, so a killed
// program never leaves a volume claimed.
//
// Every volume has a slot of a few bytes at an offset hashed from its key
// (the image or device and the byte offset of the volume in it):
//   +0  open: a shared lock by each process that has the volume open (a
//       volume handle with data access, a file or folder handle, or a file
//       call under way); FSCTL_LOCK_VOLUME turns the locker's into an
//       exclusive one, so a lock fails while any other process has the
//       volume open, and nobody else can open it while it is locked
//   +1  reading, +2 writing: held by each process with a volume handle that
//       reads or writes
//   +3  denies reading, +4 denies writing: held by each process with a volume
//       handle whose sharing leaves out FILE_SHARE_READ or FILE_SHARE_WRITE
// Byte 0 of the file guards the check and the taking of the sharing bytes.
// One process holds all of its claims through one descriptor, counting in
// memory how many of its handles stand behind each byte.
//
// A folder that does not allow the file (read-only) is used without claims.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/types.h"

namespace platform::machine {
class Disk;
}

namespace platform::storage {

// Which volume, across processes: the image file (or device) and the offset.
struct SharedVolumeKey {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t offset = 0;
  bool operator==(const SharedVolumeKey&) const = default;
};

// The key of the volume at `offset` in the image or device at `path`; false
// when the path cannot be looked at.
bool SharedVolumeKeyOf(const std::string& path, uint64_t offset, SharedVolumeKey* key);
// The key of the volume at `offset` of a disk of the current machine.
bool SharedVolumeKeyOfDisk(const machine::Disk& disk, uint64_t offset, SharedVolumeKey* key);

// What one user of a volume does and lets others do. A file handle or a file
// call takes `Presence()`: it only keeps the volume from being locked.
struct VolumeUse {
  bool reads = false;
  bool writes = false;
  bool shares_read = true;
  bool shares_write = true;
  static VolumeUse Presence() { return {}; }
};

// One user's claim on a volume of the current machine folder; let go when
// destroyed. An empty claim (default, or the folder takes no claims) holds
// nothing.
class VolumeClaim {
 public:
  VolumeClaim() = default;
  ~VolumeClaim() { release(); }
  VolumeClaim(VolumeClaim&& other) noexcept { *this = std::move(other); }
  VolumeClaim& operator=(VolumeClaim&& other) noexcept;
  VolumeClaim(const VolumeClaim&) = delete;
  VolumeClaim& operator=(const VolumeClaim&) = delete;

  // Claims `use` of the volume. 0, or ERROR_ACCESS_DENIED when another
  // process holds the volume locked, or ERROR_SHARING_VIOLATION when its
  // handles and this use do not allow each other.
  static DWORD Take(const SharedVolumeKey& key, const VolumeUse& use, VolumeClaim* out);

  // FSCTL_LOCK_VOLUME across processes: 0, or ERROR_ACCESS_DENIED while
  // another process has the volume open or locked.
  DWORD lock();
  void unlock();
  bool is_locked() const { return locked_; }
  bool holds() const { return epoch_ != 0; }
  void release();

 private:
  SharedVolumeKey key_;
  VolumeUse use_;
  uint64_t epoch_ = 0;  // the claims file it was taken in (0: none)
  bool locked_ = false;
};

// True while another process holds the volume locked.
bool IsVolumeLockedElsewhere(const SharedVolumeKey& key);

}  // namespace platform::storage
