// Byte-addressed access to a run of sectors: a whole disk image, a partition
// window onto one, or a buffer in memory. The storage layer hands these to the
// file-system drivers; the drivers never see file descriptors or paths.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/types.h"

namespace platform {

// The host file (or block device node) behind a device, and where the
// device's byte 0 lies in it.
struct BackingFile {
  uint64_t device = 0;  // st_dev
  uint64_t inode = 0;   // st_ino
  uint64_t base = 0;
  bool same_file(const BackingFile& other) const { return device == other.device && inode == other.inode; }
};

class BlockDevice {
 public:
  virtual ~BlockDevice() = default;

  virtual uint64_t size() const = 0;          // bytes
  virtual uint32_t sector_size() const = 0;   // native bytes per sector (512 or 4096)

  // Moves exactly `length` bytes. Any part outside [0, size()) fails the whole
  // call with ERROR_SECTOR_NOT_FOUND and moves nothing. Failures set the last
  // error (ERROR_READ_FAULT, ERROR_WRITE_FAULT, ERROR_CRC, ...) and return false.
  virtual bool read_at(uint64_t offset, void* buffer, size_t length) = 0;
  virtual bool write_at(uint64_t offset, const void* buffer, size_t length) = 0;
  // Makes every byte written so far durable on the backing (the host file's
  // data and the device's cache).
  virtual bool flush() = 0;

  // Transfers for unbuffered handles: they bypass the host's page cache where
  // the backing can (direct I/O) and are the plain transfers above where it
  // cannot. Same contract as read_at/write_at; a direct write is on the device
  // when it returns, though not yet durable (flush() makes it so).
  virtual bool read_direct(uint64_t offset, void* buffer, size_t length) { return read_at(offset, buffer, length); }
  virtual bool write_direct(uint64_t offset, const void* buffer, size_t length) {
    return write_at(offset, buffer, length);
  }
  // True when read_direct/write_direct bypass the host's cache.
  virtual bool direct_io() const { return false; }
  // The host file behind the device; false for devices not backed by one.
  virtual bool backing_file(BackingFile*) const { return false; }

 protected:
  // True when [offset, offset + length) lies inside the device; never overflows.
  bool in_bounds(uint64_t offset, size_t length) const {
    uint64_t total = size();
    return offset <= total && length <= total - offset;
  }
};

// A device over a host file or block device.
//
// Two descriptors: the cached one serves read_at/write_at (the file-system
// drivers, buffered handles); a second one opened with O_DIRECT serves
// read_direct/write_direct. Some file systems refuse O_DIRECT (ramfs, some
// FUSE and network file systems): the open then says so (direct_io() is
// false) and the direct calls fall back to the cached descriptor, so an
// unbuffered handle there is as durable as flush() makes it and no more.
// A direct transfer whose offset or length is not a multiple of what the host
// demands (a 512-byte-sector disk on a host that wants 4096) also takes the
// cached path; a buffer that is not aligned goes through an aligned bounce
// buffer. Linux keeps both descriptors coherent: a direct transfer writes back
// and drops the cached pages of its range.
class FileBlockDevice : public BlockDevice {
 public:
  // Opens `path` read-write (or read-only). Returns null with the last error set
  // (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...) when it cannot be opened.
  static std::unique_ptr<FileBlockDevice> open(const std::string& path, uint32_t sector_size,
                                               bool read_only = false);
  ~FileBlockDevice() override;

  uint64_t size() const override { return length_; }
  uint32_t sector_size() const override { return sector_size_; }
  bool read_at(uint64_t offset, void* buffer, size_t length) override;
  bool write_at(uint64_t offset, const void* buffer, size_t length) override;
  bool flush() override;
  bool read_direct(uint64_t offset, void* buffer, size_t length) override;
  bool write_direct(uint64_t offset, const void* buffer, size_t length) override;
  bool direct_io() const override { return direct_fd_ >= 0; }
  bool backing_file(BackingFile* out) const override {
    *out = BackingFile{host_device_, host_inode_, 0};
    return true;
  }

  int fd() const { return fd_; }
  // What the host demands of a direct transfer: offset and length multiples of
  // the first, buffer address a multiple of the second (0 without direct I/O).
  uint32_t direct_offset_alignment() const { return dio_offset_align_; }
  uint32_t direct_memory_alignment() const { return dio_mem_align_; }

  // Zeros are data like any other bytes: a run of zeros written over stored
  // bytes of an image file is written in place, so that nothing of what it
  // replaces stays on the host's medium (a secure deletion relies on it; a
  // punched hole would free the blocks with the old bytes still on them).
  // Only a whole 4 KiB-aligned run of zeros that falls entirely into a hole
  // of the file is not stored: the hole already reads as zeros and holds no
  // bytes of the image, so a clone onto a fresh image stays as sparse as
  // its source.
  static constexpr size_t kHoleGrain = 4096;

 private:
  FileBlockDevice(int fd, uint64_t length, uint32_t sector_size) : fd_(fd), length_(length), sector_size_(sector_size) {}
  bool direct_transfer(uint64_t offset, uint8_t* read_into, const uint8_t* write_from, size_t length);
  // Lets every snapshot of the image save what the write will overwrite
  // (snapshot_table.h); false when one could not.
  bool keep_snapshots(uint64_t offset, const void* data, size_t length);
  uint64_t host_device_ = 0;
  uint64_t host_inode_ = 0;
  // True for a whole-grain run of zeros over a range the image file holds
  // no data in (see kHoleGrain): the write has nothing to do.
  bool lands_in_hole(uint64_t offset, const uint8_t* data, size_t length) const;
  bool keep_holes_ = false;
  int fd_;
  int direct_fd_ = -1;
  uint32_t dio_offset_align_ = 0;
  uint32_t dio_mem_align_ = 0;
  uint64_t length_;
  uint32_t sector_size_;
};

// A window [base, base + length) onto another device; the parent must outlive it.
class WindowBlockDevice : public BlockDevice {
 public:
  WindowBlockDevice(std::shared_ptr<BlockDevice> parent, uint64_t base, uint64_t length)
      : parent_(std::move(parent)), base_(base), length_(length) {}
  uint64_t size() const override { return length_; }
  uint32_t sector_size() const override { return parent_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override;
  bool write_at(uint64_t offset, const void* buffer, size_t length) override;
  bool flush() override { return parent_->flush(); }
  bool read_direct(uint64_t offset, void* buffer, size_t length) override;
  bool write_direct(uint64_t offset, const void* buffer, size_t length) override;
  bool direct_io() const override { return parent_->direct_io(); }
  bool backing_file(BackingFile* out) const override {
    if (!parent_->backing_file(out)) return false;
    out->base += base_;
    return true;
  }

 private:
  std::shared_ptr<BlockDevice> parent_;
  uint64_t base_;
  uint64_t length_;
};

// A device held in memory, for tests and fixtures.
class MemoryBlockDevice : public BlockDevice {
 public:
  MemoryBlockDevice(uint64_t size, uint32_t sector_size) : bytes_(size), sector_size_(sector_size) {}
  uint64_t size() const override { return bytes_.size(); }
  uint32_t sector_size() const override { return sector_size_; }
  bool read_at(uint64_t offset, void* buffer, size_t length) override;
  bool write_at(uint64_t offset, const void* buffer, size_t length) override;
  bool flush() override { return true; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t sector_size_;
};

}  // namespace platform
