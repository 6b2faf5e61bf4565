// Clearing a disk's layout on simulated disks of 512- and 4096-byte sectors:
// sector 0 zeroed and the volumes gone (counted by the disk tables), a boot
// stick's loader left alone, and the GPT zeroing the clone asks for, which must leave
// no gaps in its area however large the native sector (checked with cmp
// against /dev/zero on the image).
#include "disk/layout_clearing.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "disk/fixture_images.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

class LayoutClearingTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ss = GetParam();
  }
  uint64_t MiB(uint64_t n) const { return (n << 20) / ss; }

  // Builds disk 0 (the system disk, never touched) and disk 1 with an NTFS
  // and a FAT32 volume, then boots the machine.
  void BuildTwoDisks(bool gpt) {
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20, .sectorSize = ss});
    pc.WriteMbr(0, {{.start = MiB(1), .count = MiB(40), .mbrType = 0x07, .active = true, .fs = "ntfs"}});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 96ull << 20, .sectorSize = ss});
    std::vector<Part> parts = {{.start = MiB(1), .count = MiB(40), .mbrType = 0x07, .fs = "ntfs"},
                               {.start = MiB(41), .count = MiB(40), .mbrType = 0x0C, .fs = "fat32"}};
    if (gpt)
      pc.WriteGpt(1, parts);
    else
      pc.WriteMbr(1, parts);
    pc.Boot();
    DetectSystemAndSpecialDisks();
  }

  std::string Sha(int n) {
    std::string out;
    Shell("sha256sum '" + pc.Image(n) + "' | cut -c1-64", &out);
    return out;
  }

  SimulatedPc pc;
  uint32_t ss = 512;
};

TEST_P(LayoutClearingTest, ZeroesSectorZeroUntilTheDiskHasNoVolume) {
  BuildTwoDisks(false);
  MapLettersToDisks();
  ASSERT_EQ(CountDiskVolumes(1), 2);
  const std::string system_before = Sha(0);
  const std::vector<uint8_t> beyond = pc.ReadBytes(1, ss, 1 << 20);
  DiskContext.ioErrorCount = 7;

  EXPECT_TRUE(ClearDiskLayout(1, false));

  MapLettersToDisks();
  EXPECT_EQ(CountDiskVolumes(1), 0);
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
  EXPECT_FALSE(DiskContext.currentDiskOpen);
  // One native sector of zeros and nothing after it.
  EXPECT_EQ(Shell("cmp -n " + std::to_string(ss) + " '" + pc.Image(1) + "' /dev/zero"), 0);
  EXPECT_EQ(pc.ReadBytes(1, ss, 1 << 20), beyond);
  EXPECT_EQ(Sha(0), system_before);
}

TEST_P(LayoutClearingTest, LeavesABootSticksLoaderAlone) {
  BuildTwoDisks(false);
  pc.WriteBytes(1, 0, std::vector<uint8_t>{0xFC, 0xFA, 0xB8, 0x00});
  const std::string before = Sha(1);
  DiskContext.ioErrorCount = 3;

  EXPECT_FALSE(ClearDiskLayout(1, false));

  EXPECT_EQ(Sha(1), before);
  EXPECT_EQ(DiskContext.ioErrorCount, 3);
  EXPECT_FALSE(DiskContext.currentDiskOpen);
}

TEST_P(LayoutClearingTest, GptZeroingCoversTheWholeSmallDiskWithoutGaps) {
  BuildTwoDisks(true);
  struct stat before {};
  ASSERT_EQ(stat(pc.Image(1).c_str(), &before), 0);
  int refreshes = 0;

  EXPECT_TRUE(ClearDiskLayout(1, true, [&] { ++refreshes; }));

  // 96 MiB in writes of 64 KiB: the whole disk, backup GPT included, is zero.
  EXPECT_EQ(Shell("cmp -n " + std::to_string(96ull << 20) + " '" + pc.Image(1) + "' /dev/zero"), 0);
  EXPECT_EQ(refreshes, 96 * 16);
  struct stat after {};
  ASSERT_EQ(stat(pc.Image(1).c_str(), &after), 0);
  EXPECT_EQ(after.st_size, before.st_size);
  MapLettersToDisks();
  EXPECT_EQ(CountDiskVolumes(1), 0);
}

TEST_P(LayoutClearingTest, WithoutGptZeroingOnlySectorZeroIsWritten) {
  BuildTwoDisks(false);
  const std::string rest = "tail -c +" + std::to_string(ss + 1) + " '" + pc.Image(1) + "' | sha256sum";
  std::string before, after;
  Shell(rest, &before);
  int refreshes = 0;
  EXPECT_TRUE(ClearDiskLayout(1, false, [&] { ++refreshes; }));
  EXPECT_EQ(refreshes, 0);
  Shell(rest, &after);
  EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, LayoutClearingTest, ::testing::Values(512u, 4096u));

}  // namespace
