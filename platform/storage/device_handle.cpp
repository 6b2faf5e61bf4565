#include "platform/storage/device_handle.h"

#include <algorithm>

#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/ioctl.h"

namespace platform::storage {

DeviceHandle::DeviceHandle(DeviceTarget target, DWORD access, DWORD share, DWORD flags)
    : target_(std::move(target)), access_(access), share_(share), flags_(flags) {}

bool DeviceHandle::can_read() const { return (access_ & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0; }
bool DeviceHandle::can_write() const {
  return (access_ & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}
bool DeviceHandle::unbuffered() const { return (flags_ & FILE_FLAG_NO_BUFFERING) != 0; }

bool DeviceHandle::still_attached() const {
  return !target_.disk || LookupDisk(target_.disk_number) == target_.disk;
}

DWORD DeviceHandle::lock_claim() {
  // A handle opened without data access holds no claim yet: the lock needs one.
  if (!claim_.holds() && target_.is_volume && target_.disk) {
    SharedVolumeKey key;
    if (SharedVolumeKeyOfDisk(*target_.disk, target_.base, &key)) {
      if (DWORD error = VolumeClaim::Take(key, VolumeUse::Presence(), &claim_)) return error;
    }
  }
  return claim_.lock();
}

BOOL DeviceHandle::read(void* buffer, DWORD size, DWORD* done) {
  if (done) *done = 0;
  if (!can_read()) [[unlikely]] return fail(ERROR_ACCESS_DENIED);
  if (!buffer && size) [[unlikely]] return fail(ERROR_NOACCESS);
  if (!target_.disk) [[unlikely]] return fail(ERROR_INVALID_FUNCTION);
  if (!still_attached()) [[unlikely]] return fail(ERROR_DEVICE_NOT_CONNECTED);
  std::lock_guard guard(mutex_);
  const uint32_t ss = target_.disk->sector_size();
  if (unbuffered() && (position_ % ss || size % ss)) [[unlikely]] return fail(ERROR_INVALID_PARAMETER);
  // At or past the end: success with nothing read. A read that runs over the
  // end returns the bytes up to the end.
  if (position_ >= target_.length || size == 0) return TRUE;
  uint64_t n = std::min<uint64_t>(size, target_.length - position_);
  uint64_t at = target_.base + position_;
  NotifyRawAccess(target_.disk_number, at, n, RawAccess::Read);
  auto& device = *target_.disk->device();
  if (!(unbuffered() ? device.read_direct(at, buffer, n) : device.read_at(at, buffer, n))) return FALSE;
  position_ += n;
  if (done) *done = static_cast<DWORD>(n);
  return TRUE;
}

BOOL DeviceHandle::write(const void* buffer, DWORD size, DWORD* done) {
  if (done) *done = 0;
  if (!can_write()) [[unlikely]] return fail(ERROR_ACCESS_DENIED);
  if (!buffer && size) [[unlikely]] return fail(ERROR_NOACCESS);
  if (!target_.disk) [[unlikely]] return fail(ERROR_INVALID_FUNCTION);
  if (!still_attached()) [[unlikely]] return fail(ERROR_DEVICE_NOT_CONNECTED);
  uint64_t at, n;
  {
    std::lock_guard guard(mutex_);
    const uint32_t ss = target_.disk->sector_size();
    if (unbuffered() && (position_ % ss || size % ss)) [[unlikely]] return fail(ERROR_INVALID_PARAMETER);
    if (size == 0) return TRUE;
    // Nothing can be written at or past the end; a write that runs over the
    // end writes the bytes up to the end and reports that shorter count.
    if (position_ >= target_.length) [[unlikely]] return fail(ERROR_SECTOR_NOT_FOUND);
    n = std::min<uint64_t>(size, target_.length - position_);
    at = target_.base + position_;
    NotifyRawAccess(target_.disk_number, at, n, RawAccess::Write);
    auto& device = *target_.disk->device();
    if (!(unbuffered() ? device.write_direct(at, buffer, n) : device.write_at(at, buffer, n))) return FALSE;
    position_ += n;
    // A write-through write is durable before it returns; any other leaves
    // the handle owing a sync, paid by FlushFileBuffers or the close.
    if (flags_ & FILE_FLAG_WRITE_THROUGH) {
      if (!device.flush()) {
        unsynced_ = true;
        return FALSE;
      }
    } else {
      unsynced_ = true;
    }
    if (done) *done = static_cast<DWORD>(n);
  }
  NotifyRawAccess(target_.disk_number, at, n, RawAccess::Written);
  // A new sector 0 may carry a new partition table.
  if (at < target_.disk->sector_size()) RequestRescan(target_.disk_number);
  return TRUE;
}

BOOL DeviceHandle::seek(LONGLONG distance, DWORD method, LONGLONG* new_position) {
  std::lock_guard guard(mutex_);
  LONGLONG origin;
  switch (method) {
    case FILE_BEGIN: origin = 0; break;
    case FILE_CURRENT: origin = static_cast<LONGLONG>(position_); break;
    case FILE_END: origin = static_cast<LONGLONG>(target_.length); break;
    default: return fail(ERROR_INVALID_PARAMETER);
  }
  if (distance > 0 && origin > INT64_MAX - distance) return fail(ERROR_INVALID_PARAMETER);
  LONGLONG target = origin + distance;
  if (target < 0) return fail(ERROR_NEGATIVE_SEEK);
  position_ = static_cast<uint64_t>(target);
  if (new_position) *new_position = target;
  return TRUE;
}

BOOL DeviceHandle::get_size(LONGLONG* size) {
  if (!size) return fail(ERROR_INVALID_PARAMETER);
  *size = static_cast<LONGLONG>(target_.length);
  return TRUE;
}

BOOL DeviceHandle::flush() {
  if (!target_.disk) return fail(ERROR_INVALID_FUNCTION);
  if (!can_write()) return fail(ERROR_ACCESS_DENIED);
  std::lock_guard guard(mutex_);
  if (!target_.disk->device()->flush()) return FALSE;
  unsynced_ = false;
  return TRUE;
}

BOOL DeviceHandle::io_control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  DWORD ignored = 0;
  if (!returned) returned = &ignored;
  *returned = 0;
  if ((!in && in_size) || (!out && out_size)) [[unlikely]] return fail(ERROR_NOACCESS);
  if (!still_attached()) [[unlikely]] return fail(ERROR_DEVICE_NOT_CONNECTED);
  // A code demands read and/or write access of the handle.
  DWORD need = ControlCodeAccess(code);
  if (((need & FILE_READ_ACCESS) && !can_read()) || ((need & FILE_WRITE_ACCESS) && !can_write()))
    return fail(ERROR_ACCESS_DENIED);
  switch (code) {
    case SMART_GET_VERSION:
    case SMART_SEND_DRIVE_COMMAND:
    case SMART_RCV_DRIVE_DATA:
      return SmartControl(*this, code, in, in_size, out, out_size, returned);
    default:
      return DiskControl(*this, code, in, in_size, out, out_size, returned);
  }
}

DWORD DeviceHandle::on_handle_closed() {
  std::lock_guard guard(mutex_);
  if (closed_) return ERROR_SUCCESS;
  closed_ = true;
  // Closing a handle that wrote makes its writes durable: a tool that reports
  // "completed" after closing the disk must not leave the data in the cache.
  // A sync that fails is reported by CloseHandle.
  DWORD result = ERROR_SUCCESS;
  if (unsynced_ && target_.disk) {
    SetLastError(ERROR_SUCCESS);
    if (!target_.disk->device()->flush()) {
      result = GetLastError();
      if (result == ERROR_SUCCESS) result = ERROR_WRITE_FAULT;
    }
    unsynced_ = false;
  }
  UnlockVolumeKey(target_.share_key, this);
  UnregisterOpen(target_.share_key, this);
  claim_.release();
  return result;
}

}  // namespace platform::storage
