// The kernel object behind a disk or volume handle.
//
// A handle is a window [base, base + length) onto one physical disk: the whole
// disk for "\\.\PhysicalDriveN", the partition for a volume. Every transfer is
// one read_at/write_at on the disk's shared block device (which applies the
// disk's fault injection) after the raw-access listeners were told about it.
//
// The handle keeps the promises of its flags: FILE_FLAG_NO_BUFFERING transfers
// use the device's direct I/O (bypassing the host's cache where the backing
// allows it), FILE_FLAG_WRITE_THROUGH writes sync the device before they
// return, and closing a handle that wrote since its last sync syncs the device.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/kobject.h"
#include "platform/storage/volume_claims.h"
#include "platform/storage/volume_table.h"

namespace platform::machine {
class Disk;
}

namespace platform::storage {

struct DeviceTarget {
  std::shared_ptr<machine::Disk> disk;  // null for a volume that is not on a disk (a host folder)
  int disk_number = -1;
  bool is_volume = false;
  uint32_t partition_number = 0;  // volumes: as the platform numbers partitions
  uint64_t base = 0;              // bytes from the start of the disk
  uint64_t length = 0;
  MountedVolume volume;           // volumes: the table entry (may be partly empty for HarddiskNPartitionM)
  std::string share_key;          // sharing and locks are tracked per key
  bool smart_vsd = false;         // \\.\SMARTVSD: no disk of its own, each request names one
};

class DeviceHandle : public KernelObject {
 public:
  DeviceHandle(DeviceTarget target, DWORD access, DWORD share, DWORD flags);

  const char* kind() const override { return target_.is_volume ? "volume" : "disk"; }
  BOOL read(void* buffer, DWORD size, DWORD* done) override;
  BOOL write(const void* buffer, DWORD size, DWORD* done) override;
  BOOL seek(LONGLONG distance, DWORD method, LONGLONG* new_position) override;
  BOOL get_size(LONGLONG* size) override;
  BOOL flush() override;
  BOOL io_control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) override;
  DWORD on_handle_closed() override;

  const DeviceTarget& target() const { return target_; }
  bool can_read() const;
  bool can_write() const;
  DWORD access() const { return access_; }
  DWORD share() const { return share_; }
  bool unbuffered() const;
  // False once the disk was detached (or replaced) after this handle was opened:
  // transfers and controls then fail with ERROR_DEVICE_NOT_CONNECTED.
  bool still_attached() const;

  // The handle's claim on its volume as the machine's other processes see it
  // (volume_claims.h): taken at the open, turned exclusive by FSCTL_LOCK_VOLUME.
  void set_claim(VolumeClaim claim) { claim_ = std::move(claim); }
  DWORD lock_claim();
  void unlock_claim() { claim_.unlock(); }

 private:
  DeviceTarget target_;
  DWORD access_;
  DWORD share_;
  DWORD flags_;
  std::mutex mutex_;
  uint64_t position_ = 0;
  bool closed_ = false;
  bool unsynced_ = false;  // wrote since the last sync of the device
  VolumeClaim claim_;
};

// Sharing and lock bookkeeping (device_open.cpp).
// Registers a new handle on `key`; ERROR_SHARING_VIOLATION / ERROR_ACCESS_DENIED or 0.
DWORD RegisterOpen(const std::string& key, const DeviceHandle* handle, DWORD access, DWORD share);
void UnregisterOpen(const std::string& key, const DeviceHandle* handle);
// FSCTL_LOCK_VOLUME / FSCTL_UNLOCK_VOLUME bookkeeping: 0 or the platform error.
DWORD LockVolumeKey(const std::string& key, const DeviceHandle* handle);
DWORD UnlockVolumeKey(const std::string& key, const DeviceHandle* handle);
std::string VolumeKey(int disk_number, uint64_t offset, const std::u16string& guid_path);
// Forwards to the installed VolumeControlHandler; nullopt when none answers.
std::optional<BOOL> CallVolumeControlHandler(const MountedVolume& volume, DWORD code, const void* in, DWORD in_size,
                                             void* out, DWORD out_size, DWORD* returned);

// Control-code answers (device_control.cpp, smart.cpp).
BOOL DiskControl(DeviceHandle& handle, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                 DWORD* returned);
BOOL SmartControl(DeviceHandle& handle, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                  DWORD* returned);

}  // namespace platform::storage
