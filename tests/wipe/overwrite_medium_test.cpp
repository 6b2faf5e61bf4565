// What a deletion leaves on the host's medium, not only in the image file:
// the simulated PC lives on an ext4 file system of its own (a loop device
// over a scratch file, when the host lets the test make one; the host's
// temporary folder otherwise). Disk 1 is filled with a pattern, filefrag
// (FIEMAP) names the host blocks that hold it, the zero method and the DoD
// method run over the whole disk, and then:
//  - filefrag shows every block of the image where it was (written in place,
//    nothing given back to the host with the old bytes still on it);
//  - on the loop device, those very host blocks, read from the ext4 file
//    system's own backing file after syncfs, hold none of the old bytes
//    (zeros after the zero method).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/fixture_images.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/overwrite_engine.h"
#include "platform/fs/volume_set.h"
#include "tests/support/temp_folder.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

constexpr uint64_t kDiskBytes = 8ull << 20;
constexpr uint64_t kBlock = 4096;

// An ext4 file system on a loop device over a scratch file, mounted in a
// scratch folder; ok() false when the host does not allow it (not root, no
// loop devices). Unmounted and detached with the object.
class LoopExt4 {
 public:
  LoopExt4() : scratch_("wipe-medium") {
    backing_ = scratch_.file("host.ext4");
    mount_ = scratch_.file("mnt");
    if (geteuid() != 0) return;
    std::string out;
    if (Shell("truncate -s 96M " + backing_ + " && mkfs.ext4 -q -b 4096 -E nodiscard " + backing_ + " && mkdir " +
                  mount_ + " && losetup --find --show " + backing_,
              &out) != 0)
      return;
    device_ = out.substr(0, out.find('\n'));
    ok_ = !device_.empty() && Shell("mount -t ext4 -o nodiscard " + device_ + " " + mount_) == 0;
  }
  ~LoopExt4() {
    // The platform may still hold a file of the machine folder open (it lives
    // until the process ends): then the mount is detached lazily, and the
    // loop device goes when the last of them is closed.
    if (ok_ && Shell("umount " + mount_ + " 2>/dev/null") != 0) Shell("umount -l " + mount_);
    if (!device_.empty()) Shell("losetup -d " + device_);
  }
  bool ok() const { return ok_; }
  const std::string& mount() const { return mount_; }
  // Writes everything of the file system to its device (syncfs).
  void Sync() { Shell("sync -f " + mount_); }
  // 4 KiB block `n` of the file system, as its device holds it.
  std::string BlockBytes(uint64_t n) {
    std::ifstream in(backing_, std::ios::binary);
    std::string bytes(kBlock, '\0');
    in.seekg(static_cast<std::streamoff>(n * kBlock));
    in.read(bytes.data(), static_cast<std::streamsize>(kBlock));
    return in ? bytes : std::string();
  }

 private:
  test_support::TempFolder scratch_;
  std::string backing_, mount_, device_;
  bool ok_ = false;
};

// The host blocks under each 4 KiB block of `path` (filefrag -e).
std::map<uint64_t, uint64_t> PhysicalBlocks(const std::string& path) {
  std::map<uint64_t, uint64_t> blocks;
  std::string out;
  Shell("filefrag -e -b4096 '" + path + "'", &out);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    unsigned long long ext, first, last, physical, physical_last;
    if (sscanf(line.c_str(), " %llu: %llu.. %llu: %llu.. %llu:", &ext, &first, &last, &physical, &physical_last) == 5)
      for (unsigned long long b = first; b <= last; ++b) blocks[b] = physical + (b - first);
  }
  return blocks;
}

// $TMPDIR pointed at `folder` while the object lives.
class TempDirIn {
 public:
  explicit TempDirIn(const std::string& folder) {
    if (const char* old = getenv("TMPDIR")) old_ = old, had_ = true;
    setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TempDirIn() { had_ ? setenv("TMPDIR", old_.c_str(), 1) : unsetenv("TMPDIR"); }

 private:
  std::string old_;
  bool had_ = false;
};

struct MediumCase {
  const char* name;
  int32_t method;
  bool zeros;  // the last pass leaves zeros
};

class OverwriteMedium : public ::testing::TestWithParam<MediumCase> {};

TEST_P(OverwriteMedium, TheOldBytesAreGoneFromTheHostsMedium) {
  const MediumCase& c = GetParam();
  LoopExt4 host;
  std::unique_ptr<TempDirIn> tmp;
  if (host.ok()) tmp = std::make_unique<TempDirIn>(host.mount());
  DiskContext = DiskContextRecord{};
  DeleteAbortRequested = 0;
  SimulatedPc pc;
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8ull << 20});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = kDiskBytes});
  const std::string pattern = disk_fixture::Pattern(kDiskBytes, 31);
  pc.WriteBytes(1, 0, pattern);
  Shell("sync -f '" + pc.Image(1) + "'");
  pc.Boot();
  const auto before = PhysicalBlocks(pc.Image(1));
  if (before.empty()) GTEST_SKIP() << "the host's file system does not report its blocks";
  ASSERT_EQ(before.size(), kDiskBytes / kBlock) << "the pattern must lie in real blocks";

  ReadDiskGeometry(1);
  OpenDiskForBulkWrites(1);  // as the deletion run opens it
  DiskSelectionRecord target{};
  target.diskNumber = PhysicalDiskNumber{1};
  target.kind = kSelectionWholeDisk;
  target.startSector = 0;
  target.sectorCount = kDiskBytes / 512;
  SeedRandom();
  RunDeleteMethod(nullptr, target, c.method);
  CloseCurrentDisk();
  platform::fs::ReleaseAllDrivers();
  EXPECT_EQ(DiskContext.ioErrorCount, 0);

  // The image holds what the method wrote (up to the last whole track).
  const uint64_t written = kDiskBytes / 512 / WipeChunkSectors(1) * WipeChunkSectors(1) * 512;
  const auto image = pc.ReadBytes(1, 0, written);
  if (c.zeros) EXPECT_EQ(image, std::vector<uint8_t>(written, 0));

  const auto after = PhysicalBlocks(pc.Image(1));
  for (const auto& [logical, physical] : before) {
    if ((logical + 1) * kBlock > written) continue;
    ASSERT_TRUE(after.count(logical)) << "block " << logical << " was given back with its old bytes on the medium";
    ASSERT_EQ(after.at(logical), physical) << "block " << logical << " moved, its old bytes stay where they were";
  }
  if (!host.ok()) GTEST_SKIP() << "no loop device here: the blocks were compared, not read back";
  host.Sync();
  int still_old = 0, not_zero = 0;
  for (const auto& [logical, physical] : before) {
    if ((logical + 1) * kBlock > written) continue;
    const std::string bytes = host.BlockBytes(physical);
    ASSERT_EQ(bytes.size(), kBlock);
    if (bytes == pattern.substr(logical * kBlock, kBlock)) ++still_old;
    if (bytes != std::string(kBlock, '\0')) ++not_zero;
  }
  EXPECT_EQ(still_old, 0) << "host blocks that still hold the deleted bytes";
  if (c.zeros) EXPECT_EQ(not_zero, 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, OverwriteMedium,
                         ::testing::Values(MediumCase{"zero_write", 0, true}, MediumCase{"dod", 3, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
