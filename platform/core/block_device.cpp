#include "platform/core/block_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/core/error.h"
#include "platform/core/snapshot_table.h"

namespace platform {

namespace {

bool is_all_zero(const uint8_t* p, size_t length) {
  // Compare the buffer with itself shifted by one word: all equal and the
  // first word zero means all zero.
  uint64_t first = 0;
  std::memcpy(&first, p, sizeof first);
  return first == 0 && std::memcmp(p, p + sizeof first, length - sizeof first) == 0;
}

DWORD error_from_errno(int err, bool writing) {
  switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC: return ERROR_DISK_FULL;
    case EBUSY: return ERROR_BUSY;
    default: return writing ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
  }
}

// What a direct transfer on `fd` must respect, or false when the host does not
// say. Linux reports it through statx for files and block devices alike.
bool direct_alignment(int fd, uint32_t* offset_align, uint32_t* memory_align) {
  struct statx stx {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &stx) != 0 || !(stx.stx_mask & STATX_DIOALIGN)) return false;
  if (stx.stx_dio_offset_align == 0 || stx.stx_dio_mem_align == 0) return false;
  *offset_align = stx.stx_dio_offset_align;
  *memory_align = stx.stx_dio_mem_align;
  return true;
}

// Direct transfers go through the caller's buffer when it is aligned, else
// through this per-thread bounce buffer, a chunk at a time.
constexpr size_t kBounceBytes = 1 << 20;

uint8_t* bounce_buffer(size_t alignment) {
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  thread_local std::unique_ptr<uint8_t, Free> buffer;
  thread_local size_t buffer_alignment = 0;
  if (!buffer || buffer_alignment < alignment) {
    size_t a = std::max<size_t>(alignment, 4096);
    buffer.reset(static_cast<uint8_t*>(std::aligned_alloc(a, kBounceBytes)));
    buffer_alignment = buffer ? a : 0;
  }
  return buffer.get();
}

}  // namespace

std::unique_ptr<FileBlockDevice> FileBlockDevice::open(const std::string& path, uint32_t sector_size,
                                                       bool read_only) {
  int fd = ::open(path.c_str(), (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(error_from_errno(errno, false));
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    SetLastError(error_from_errno(errno, false));
    ::close(fd);
    return nullptr;
  }
  uint64_t length = static_cast<uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
      SetLastError(ERROR_NOT_READY);
      ::close(fd);
      return nullptr;
    }
    length = bytes;
  }
  std::unique_ptr<FileBlockDevice> device(new FileBlockDevice(fd, length, sector_size));
  device->host_device_ = static_cast<uint64_t>(st.st_dev);
  device->host_inode_ = static_cast<uint64_t>(st.st_ino);
  // The direct descriptor. A file system that cannot do direct I/O refuses
  // the open (EINVAL); the device then serves unbuffered transfers from the
  // cache (see the class comment). Without an alignment from the host, one
  // that every Linux block device accepts.
  int direct = ::open(path.c_str(), (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_DIRECT);
  if (direct >= 0) {
    uint32_t offset_align = 4096, memory_align = 4096;
    direct_alignment(direct, &offset_align, &memory_align);
    device->direct_fd_ = direct;
    device->dio_offset_align_ = offset_align;
    device->dio_mem_align_ = memory_align;
  }
  // Zeros that fall into a hole of an image file stay a hole (see
  // kHoleGrain); a block device has none.
  device->keep_holes_ = S_ISREG(st.st_mode) && !read_only;
  return device;
}

FileBlockDevice::~FileBlockDevice() {
  ::close(fd_);
  if (direct_fd_ >= 0) ::close(direct_fd_);
}

// The size is the one the file had when it was opened; a read of bytes the
// file no longer has (it shrank since) fails with ERROR_READ_FAULT rather than
// reading as zeros, so a copy never takes a cut-off image for a whole one.
bool FileBlockDevice::read_at(uint64_t offset, void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  auto* p = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    ssize_t n = ::pread(fd_, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastError(error_from_errno(errno, false));
      return false;
    }
    if (n == 0) {  // the host file shrank after it was opened: those sectors are gone
      SetLastError(ERROR_READ_FAULT);
      return false;
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool FileBlockDevice::lands_in_hole(uint64_t offset, const uint8_t* p, size_t length) const {
  if (!keep_holes_ || length < kHoleGrain || offset % kHoleGrain || length % kHoleGrain || !is_all_zero(p, length))
    return false;
  // The first data at or after the run's start: none (ENXIO) or only past
  // its end means the whole run is a hole. Any other answer, an error
  // included, writes the zeros.
  const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
  if (data < 0) return errno == ENXIO;
  return static_cast<uint64_t>(data) >= offset + length;
}

bool FileBlockDevice::write_at(uint64_t offset, const void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  auto* p = static_cast<const uint8_t*>(buffer);
  if (lands_in_hole(offset, p, length)) return true;
  if (!keep_snapshots(offset, buffer, length)) return false;
  while (length > 0) {
    ssize_t n = ::pwrite(fd_, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetLastError(error_from_errno(n < 0 ? errno : ENOSPC, true));
      return false;
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool FileBlockDevice::keep_snapshots(uint64_t offset, const void* data, size_t length) {
  if (!SnapshotsMayCover()) return true;
  return SaveBeforeWrite(BackingFile{host_device_, host_inode_, 0}, fd_, offset, data, length);
}

bool FileBlockDevice::flush() {
  if (::fdatasync(fd_) != 0 && errno != EINVAL) {
    SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
  return true;
}

bool FileBlockDevice::read_direct(uint64_t offset, void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  if (direct_fd_ < 0 || offset % dio_offset_align_ || length % dio_offset_align_)
    return read_at(offset, buffer, length);
  return direct_transfer(offset, static_cast<uint8_t*>(buffer), nullptr, length);
}

bool FileBlockDevice::write_direct(uint64_t offset, const void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  if (direct_fd_ < 0 || offset % dio_offset_align_ || length % dio_offset_align_)
    return write_at(offset, buffer, length);
  if (lands_in_hole(offset, static_cast<const uint8_t*>(buffer), length)) return true;
  if (!keep_snapshots(offset, buffer, length)) return false;
  return direct_transfer(offset, nullptr, static_cast<const uint8_t*>(buffer), length);
}

// One direct read (read_into) or write (write_from) of whole aligned blocks.
bool FileBlockDevice::direct_transfer(uint64_t offset, uint8_t* read_into, const uint8_t* write_from, size_t length) {
  const bool writing = write_from != nullptr;
  const uint8_t* caller = writing ? write_from : read_into;
  const bool aligned = reinterpret_cast<uintptr_t>(caller) % dio_mem_align_ == 0;
  uint8_t* bounce = aligned ? nullptr : bounce_buffer(dio_mem_align_);
  if (!aligned && !bounce) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  size_t done = 0;
  while (done < length) {
    size_t chunk = aligned ? length - done : std::min(length - done, kBounceBytes);
    uint8_t* p = aligned ? const_cast<uint8_t*>(caller) + done : bounce;
    if (writing && !aligned) std::memcpy(bounce, write_from + done, chunk);
    ssize_t n = writing ? ::pwrite(direct_fd_, p, chunk, static_cast<off_t>(offset + done))
                        : ::pread(direct_fd_, p, chunk, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EINVAL && done == 0) {
      // The host refused this transfer after all (an alignment it did not
      // report): the cached path moves the same bytes.
      return writing ? write_at(offset, write_from, length) : read_at(offset, read_into, length);
    }
    if (n < 0) {
      SetLastError(error_from_errno(errno, writing));
      return false;
    }
    if (n == 0 && writing) {
      SetLastError(error_from_errno(ENOSPC, true));
      return false;
    }
    if (n == 0) {  // the host file shrank after it was opened: those sectors are gone
      SetLastError(ERROR_READ_FAULT);
      return false;
    }
    if (!writing && !aligned) std::memcpy(read_into + done, bounce, static_cast<size_t>(n));
    done += static_cast<size_t>(n);
    // A short transfer leaves the position unaligned: finish through the cache.
    if (done < length && done % dio_offset_align_) {
      return writing ? write_at(offset + done, write_from + done, length - done)
                     : read_at(offset + done, read_into + done, length - done);
    }
  }
  return true;
}

bool WindowBlockDevice::read_direct(uint64_t offset, void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  return parent_->read_direct(base_ + offset, buffer, length);
}

bool WindowBlockDevice::write_direct(uint64_t offset, const void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  return parent_->write_direct(base_ + offset, buffer, length);
}

bool WindowBlockDevice::read_at(uint64_t offset, void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  return parent_->read_at(base_ + offset, buffer, length);
}

bool WindowBlockDevice::write_at(uint64_t offset, const void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  return parent_->write_at(base_ + offset, buffer, length);
}

bool MemoryBlockDevice::read_at(uint64_t offset, void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

bool MemoryBlockDevice::write_at(uint64_t offset, const void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  std::memcpy(bytes_.data() + offset, buffer, length);
  return true;
}

}  // namespace platform
