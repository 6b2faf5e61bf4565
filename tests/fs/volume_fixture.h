// A simulated disk with NTFS partitions published in the mount manager's
// table, for file-API tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fs/fs_fixture.h"
#include "platform/core/block_device.h"
#include "platform/fs/file_api.h"
#include "platform/storage/volume_table.h"

namespace fstest {

struct PartitionSpec {
  char16_t letter;           // 0 for none
  uint64_t size;             // bytes
  std::string file_system;   // "NTFS" (made with mkntfs), or "RAW" (left zero)
  std::string label;
};

// Passes every call to another device; tests override what they watch or break.
class PassThroughDevice : public platform::BlockDevice {
 public:
  explicit PassThroughDevice(std::shared_ptr<platform::BlockDevice> inner) : inner_(std::move(inner)) {}
  uint64_t size() const override { return inner_->size(); }
  uint32_t sector_size() const override { return inner_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override { return inner_->read_at(offset, buffer, length); }
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    return inner_->write_at(offset, buffer, length);
  }
  bool flush() override { return inner_->flush(); }
  bool read_direct(uint64_t offset, void* buffer, size_t length) override {
    return inner_->read_direct(offset, buffer, length);
  }
  bool write_direct(uint64_t offset, const void* buffer, size_t length) override {
    return inner_->write_direct(offset, buffer, length);
  }
  bool direct_io() const override { return inner_->direct_io(); }

 private:
  std::shared_ptr<platform::BlockDevice> inner_;
};

class SimulatedDisk {
 public:
  // Lays the partitions out from 1 MiB on, 1 MiB apart, and publishes them as
  // volumes 1..n of disk `number`.
  SimulatedDisk(std::vector<PartitionSpec> parts, uint32_t sector_size = 512, int number = 0);
  ~SimulatedDisk();

  const std::string& image() const { return image_; }
  std::shared_ptr<platform::BlockDevice> device() const { return device_; }
  const platform::storage::MountedVolume& volume(size_t i) const { return volumes_[i]; }
  // Re-publishes the table, e.g. after changing a volume's file system or generation.
  void publish();
  platform::storage::MountedVolume& edit(size_t i) { return volumes_[i]; }
  // Copies one partition's bytes to a host file for the ntfs-3g tools.
  std::string extract(size_t i, const std::string& name);

  ScratchDir dir;

 private:
  std::string image_;
  std::shared_ptr<platform::BlockDevice> device_;
  std::vector<platform::storage::MountedVolume> volumes_;
};

// Writes `text` into the file `name` through the file API, sharing everything
// (the file created or replaced unless `disposition` says otherwise); whether
// all of it was written.
bool WriteText(const std::u16string& name, const std::string& text, DWORD disposition = CREATE_ALWAYS);
// The whole file `name` read through the file API, or "<error N>" with the
// error of opening it.
std::string ReadText(const std::u16string& name);

}  // namespace fstest
