// A simulated PC for the migration: disk 0 holds C: (NTFS, the source),
// disk 1 D: (NTFS) and disk 2 E: (FAT32), all 512-byte sectors unless the
// test asks for 4096; the language files reach the program through P:.
#pragma once

#include <string>

#include "disk/fixture_images.h"
#include "platform/ui/headless_driver.h"

namespace migrate_fixture {

struct MigratePcOptions {
  uint32_t sectorSize = 512;
  uint64_t sourceBytes = 96ull << 20;
  uint64_t destinationBytes = 96ull << 20;
};

class MigratePc {
 public:
  static constexpr uint64_t kMiB = 1 << 20;
  explicit MigratePc(const MigratePcOptions& options = {});
  ~MigratePc();
  void UseLanguage(const char* name);
  // The partition image of disk `n` (a copy cut out of the disk; the
  // drivers are released first).
  std::string Volume(int n, const std::string& name);
  // Writes a partition image (one Volume gave, changed by an outside tool)
  // back into disk `n`.
  void PutVolume(int n, const std::string& image);
  uint64_t start() const { return start_; }

  disk_fixture::SimulatedPc pc;

 private:
  uint64_t start_ = 0;
  uint64_t counts_[3] = {};
};


}  // namespace migrate_fixture
