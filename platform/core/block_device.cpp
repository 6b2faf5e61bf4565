#include "platform/core/block_device.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/error.h"

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
  auto device = std::unique_ptr<FileBlockDevice>(new FileBlockDevice(fd, length, sector_size));
  // Zeros written to an image file free its space instead (the image stays
  // sparse, as a real disk's zeros cost nothing); never on a block device.
  device->punch_zeros_ = S_ISREG(st.st_mode) && !read_only;
  return device;
}

FileBlockDevice::~FileBlockDevice() { ::close(fd_); }

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
    if (n == 0) {  // a short host file reads as zeros up to its stated size
      std::memset(p, 0, length);
      return true;
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool FileBlockDevice::write_at(uint64_t offset, const void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  auto* p = static_cast<const uint8_t*>(buffer);
  if (punch_zeros_ && length >= kPunchGrain && offset % kPunchGrain == 0 && length % kPunchGrain == 0 &&
      is_all_zero(p, length) &&
      ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                  static_cast<off_t>(length)) == 0)
    return true;
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

bool FileBlockDevice::flush() {
  if (::fdatasync(fd_) != 0 && errno != EINVAL) {
    SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
  return true;
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
