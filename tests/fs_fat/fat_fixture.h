// Test fixtures for the FAT driver: sparse images formatted by mkfs.fat
// (optionally inside a disk file at an offset), shell helpers for the mtools
// and fsck.fat oracles, and small byte patterns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/fs/fat/fat_volume.h"
#include "platform/fs/volume_driver.h"
#include "tests/support/byte_patterns.h"
#include "tests/support/shell.h"

namespace fat_test {

using test_support::CommandResult;
using test_support::Quote;
// Runs a shell command with mtools' checks off and TZ=UTC, its standard error with its output.
inline CommandResult Shell(const std::string& command) {
  return test_support::RunCommand("env MTOOLS_SKIP_CHECK=1 TZ=UTC LC_ALL=C.UTF-8 " + command);
}

// A FAT volume image made by mkfs.fat, removed when the fixture goes away.
class FatImage {
 public:
  // fat_bits 12/16/32, logical sector size, volume size in KiB, byte offset of the volume in the disk file.
  FatImage(int fat_bits, uint32_t sector_size, uint64_t kib, uint64_t offset = 0, const std::string& extra = "");
  ~FatImage();
  FatImage(const FatImage&) = delete;
  FatImage& operator=(const FatImage&) = delete;

  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }
  uint64_t offset() const { return offset_; }
  uint64_t volume_bytes() const { return volume_bytes_; }
  uint32_t sector_size() const { return sector_size_; }
  // "-i 'path@@offset'" for mtools.
  std::string mtools_image() const;
  // The volume as a block device (a window when the volume sits at an offset).
  std::shared_ptr<platform::BlockDevice> device() const;
  std::unique_ptr<platform::fs::VolumeDriver> mount(DWORD* error = nullptr) const;
  // fsck.fat -n on the volume (copied out first when it sits at an offset).
  CommandResult fsck() const;
  // Bytes of a file on the volume as mtools reads them; status != 0 when mcopy fails.
  CommandResult mtools_read(const std::string& dos_path) const;
  std::vector<uint8_t> raw() const;  // the whole disk file

 private:
  bool ok_ = false;
  std::string path_;
  uint64_t offset_ = 0;
  uint64_t volume_bytes_ = 0;
  uint32_t sector_size_ = 512;
};

// Fixed times for the driver's clock: 2024-05-17 13:45:26.37 UTC.
constexpr uint64_t kFixedNow = 133604271263700000ull;
platform::fs::fat::MountOptions FixedClock();

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) { return test_support::XorshiftBytes(size, seed); }
platform::fs::VolumePath P(std::initializer_list<const char16_t*> parts);
std::string U8(const std::u16string& s);
inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Writes a whole file through the driver (creating it) and reads it back.
DWORD WriteFile(platform::fs::VolumeDriver& v, const platform::fs::VolumePath& path, const std::vector<uint8_t>& data,
                size_t chunk = 65536);
DWORD ReadFile(platform::fs::VolumeDriver& v, const platform::fs::VolumePath& path, std::vector<uint8_t>* data);

// One row of `mdir` output: short name as "BASE.EXT", long name (may be empty), directory flag.
struct MdirRow {
  std::string short_name;
  std::string long_name;
  bool directory = false;
  std::string date, time;  // "YYYY-MM-DD", "HH:MM"
  uint64_t size = 0;
};
std::vector<MdirRow> Mdir(const FatImage& image, const std::string& dos_folder);
// mattrib letters ("AHRS" subset) for a path.
std::string Mattrib(const FatImage& image, const std::string& dos_path);
// Used and total clusters from fsck.fat's summary line; false when absent.
bool FsckClusters(const CommandResult& r, uint64_t* used, uint64_t* total);

}  // namespace fat_test
