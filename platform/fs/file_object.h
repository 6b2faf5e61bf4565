// An open file or folder on a volume: the kernel object behind a CreateFileW handle.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/kobject.h"
#include "platform/fs/volume_set.h"

namespace platform::fs {

class FileObject : public KernelObject, public DriverUser {
 public:
  // `stream`: a named data stream of the file or folder at `where` ("" for the file's own data).
  FileObject(Location where, DWORD access, DWORD share, DWORD flags, bool directory, std::u16string stream = {});
  ~FileObject() override;

  const char* kind() const override { return "file"; }
  BOOL read(void* buffer, DWORD size, DWORD* done) override;
  BOOL write(const void* buffer, DWORD size, DWORD* done) override;
  // Writes `size` bytes of `source` from `source_offset` at this handle's
  // position, as a ReadFile of `source` and a WriteFile here would, but
  // handed to the host as one copy; *done is short when `source` ends.
  // ERROR_NOT_SUPPORTED, with nothing written, unless both are host files.
  BOOL copy_from(FileObject& source, uint64_t source_offset, DWORD size, DWORD* done);
  BOOL seek(LONGLONG distance, DWORD method, LONGLONG* new_position) override;
  BOOL get_size(LONGLONG* size) override;
  BOOL set_end_of_file() override;
  BOOL flush() override;
  BOOL io_control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) override;
  DWORD on_handle_closed() override;
  void release_driver_state() override;

  const Location& where() const { return where_; }
  DWORD access() const { return access_; }
  DWORD share() const { return share_; }
  bool is_directory() const { return directory_; }
  bool is_open() const { return !closed_; }
  bool can_write() const;
  bool can_read() const;

  // The current driver (mounting it again after a raw access closed it) and,
  // for files, this handle's data stream on it.
  DWORD attach(std::shared_ptr<VolumeDriver>* driver);
  // Marks the file for deletion when the handle closes.
  void set_delete_on_close() { delete_on_close_ = true; }
  // Holds the volume open against other processes' locks until the handle closes.
  void hold_volume() { claim_ = HoldVolume(where_.volume); }

 private:
  // What a ReadFile or WriteFile holds while it moves bytes without FsLock.
  struct Transfer {
    std::shared_ptr<VolumeDriver> driver;
    std::shared_ptr<OpenFile> file;
    std::optional<TransferPin> pin;
  };
  // Under FsLock: the checks, the driver state, and the pin.
  DWORD begin_transfer(bool writing, Transfer* t);

  Location where_;
  DWORD access_, share_, flags_;
  bool directory_;
  std::u16string stream_;
  bool closed_ = false;
  bool delete_on_close_ = false;
  // Serializes this handle's transfers and position (taken before FsLock).
  std::mutex io_;
  uint64_t position_ = 0;
  // Shared with a transfer under way, which keeps it after the driver let go.
  std::shared_ptr<OpenFile> open_;
  uint64_t instance_ = 0;
  bool registered_for_ = false;
  storage::VolumeClaim claim_;
};

// True when opening `where` with `access`/`share` clashes with a handle
// already open on the same file.
bool SharingConflict(const Location& where, DWORD access, DWORD share);
// Registers an open file for sharing checks.
void TrackOpenFile(const std::shared_ptr<FileObject>& file);

}  // namespace platform::fs
