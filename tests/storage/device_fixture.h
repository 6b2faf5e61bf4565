// Disks and volumes for device-layer tests: scratch images wrapped as machine
// disks, served to the device layer through its disk lookup.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_table.h"
#include "storage/oracle.h"

namespace storage_test {

class DeviceFixture {
 public:
  DeviceFixture() {
    platform::storage::SetDiskLookup([this](int n) -> std::shared_ptr<platform::machine::Disk> {
      auto it = disks_.find(n);
      return it == disks_.end() ? nullptr : it->second;
    });
    platform::storage::SetRescanHook([this](int n) { rescans.push_back(n); });
  }
  ~DeviceFixture() {
    platform::storage::SetDiskLookup(nullptr);
    platform::storage::SetRescanHook(nullptr);
    platform::storage::SetMountedVolumes({});
  }

  // Adds disk `number` over a fresh sparse image of `size` bytes.
  platform::machine::Disk& add_disk(int number, uint64_t size, uint32_t sector_size,
                                    platform::machine::DiskConfig config = {}, platform::machine::SmartPages smart = {}) {
    images_.push_back(std::make_unique<ScratchImage>(size, "disk" + std::to_string(number) + ".img"));
    config.number = number;
    config.sector_size = sector_size;
    config.image = images_.back()->path();
    auto backing = images_.back()->open(sector_size);
    auto disk = std::make_shared<platform::machine::Disk>(config, backing, std::move(smart), false);
    disks_[number] = disk;
    return *disk;
  }
  // Adds disk `number` over a device the test made (e.g. one that watches
  // what reaches an image).
  platform::machine::Disk& add_disk_over(int number, std::shared_ptr<platform::BlockDevice> backing,
                                         platform::machine::DiskConfig config = {}) {
    config.number = number;
    config.sector_size = backing->sector_size();
    auto disk = std::make_shared<platform::machine::Disk>(config, std::move(backing), platform::machine::SmartPages{}, false);
    disks_[number] = disk;
    return *disk;
  }
  // Unplugs disk `number`: lookups stop finding it.
  void remove_disk(int number) { disks_.erase(number); }
  const std::string& image_path(size_t index) const { return images_[index]->path(); }

  // Publishes a volume on `disk` at [offset, offset + length).
  void add_volume(int disk, int partition, uint64_t offset, uint64_t length, char letter, const char* guid) {
    platform::storage::MountedVolume v;
    v.guid_path = platform::to_utf16(std::string("\\\\?\\Volume{") + guid + "}\\");
    v.device_name = platform::to_utf16("\\Device\\HarddiskVolume" + std::to_string(volumes_.size() + 1));
    v.letter = static_cast<WCHAR>(letter);
    v.disk_number = disk;
    v.partition_number = partition;
    v.offset = offset;
    v.length = length;
    v.file_system = "RAW";
    volumes_.push_back(v);
    platform::storage::SetMountedVolumes(volumes_);
  }

  std::vector<int> rescans;

 private:
  std::vector<std::unique_ptr<ScratchImage>> images_;
  std::map<int, std::shared_ptr<platform::machine::Disk>> disks_;
  std::vector<platform::storage::MountedVolume> volumes_;
};

// A byte pattern that differs from sector to sector.
inline std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return bytes;
}

inline BOOL SeekTo(HANDLE h, uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(h, to, nullptr, FILE_BEGIN);
}

// Opens a device path; INVALID_HANDLE_VALUE on failure (last error set).
inline HANDLE Open(const std::u16string& path, DWORD access = GENERIC_READ | GENERIC_WRITE,
                   DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE, DWORD flags = 0) {
  HANDLE h = INVALID_HANDLE_VALUE;
  platform::storage::OpenDevice(path, access, share, OPEN_EXISTING, flags, &h);
  return h;
}

}  // namespace storage_test
