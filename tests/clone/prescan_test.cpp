// The bad-sector scan on simulated disks of 512- and 4096-byte sectors with
// unreadable ranges set in machine.ini: every chunk that touches a range is
// counted and listed once with its first sector, the disk's last, short
// chunk is read without running past the end (the I/O error counter holds
// exactly the failed chunks' four attempts), a partition scan stays inside
// the partition, and the volumes are unlocked again afterwards.
#include "mainapp/clone/prescan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::SimulatedPc;

struct Range {
  uint64_t first, last;  // native sectors
};

// The first sectors of the chunks of `chunk` sectors from `start` that
// touch one of the ranges, within [start, start + count).
std::vector<uint64_t> FailingChunks(uint64_t start, uint64_t count, uint64_t chunk, const std::vector<Range>& ranges) {
  std::vector<uint64_t> out;
  for (uint64_t pos = 0; pos < count; pos += chunk) {
    const uint64_t a = start + pos, b = start + std::min(count, pos + chunk) - 1;
    for (const Range& r : ranges)
      if (r.first <= b && r.last >= a) {
        out.push_back(a);
        break;
      }
  }
  return out;
}

bool VolumeCanBeLocked(WCHAR letter) {
  HANDLE volume = OpenVolumeDevice(letter);
  if (volume == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const BOOL locked = DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  if (locked) DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseHandle(volume);
  return locked;
}

class PrescanTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ScanState = ScanStateRecord{};
    ss = GetParam();
    // A size that is no whole number of tracks.
    total = (48ull << 20) / ss + 5;
    partStart = (1ull << 20) / ss;
    partCount = (16ull << 20) / ss;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = total * ss, .sectorSize = ss});
    pc.WriteMbr(0, {{.start = partStart, .count = partCount, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"}});
    ranges.push_back({total - 4, total - 4});  // past the last whole cylinder
    pc.SetIni("disk 0", "unreadable", std::to_string(ranges[0].first) + "-" + std::to_string(ranges[0].last) + ", " +
                                          std::to_string(ranges[1].first) + ", " + std::to_string(ranges[2].first));
  }
  void Boot() {
    pc.Boot();
    DetectSystemAndSpecialDisks();
  }
  uint64_t Chunk() const { return std::max<uint64_t>(1, 63 / (ss / 512)); }

  DiskSelectionRecord Target(uint64_t start, uint64_t count, WCHAR letter) const {
    DiskSelectionRecord t{};
    t.diskNumber = 0;
    t.kind = start ? kSelectionPartition : kSelectionWholeDisk;
    t.driveLetter = letter;
    t.startSector = start;
    t.sectorCount = count;
    return t;
  }

  uint32_t ss = 512;
  uint64_t total = 0, partStart = 0, partCount = 0;
  // One range inside the partition, one sector after it (SetUp adds one
  // near the disk's end).
  std::vector<Range> ranges{{(2ull << 20) / GetParam() + 3, (2ull << 20) / GetParam() + 12},
                            {(40ull << 20) / GetParam(), (40ull << 20) / GetParam()}};
  SimulatedPc pc;
};

// A whole disk is read to its real end, though the target carries the
// listed size, which stops at the last whole cylinder.
TEST_P(PrescanTest, AWholeDiskScanListsEveryFailingChunkAndStopsAtTheEnd) {
  Boot();
  const uint64_t listed = DiskContext.listedDiskSize[1] / (ss / 512);
  ASSERT_LT(listed, total - 4);
  ASSERT_TRUE(ScanBadSectors(Target(0, listed, u' ')));
  const auto expected = FailingChunks(0, total, Chunk(), ranges);
  ASSERT_GE(expected.size(), 2u);
  ASSERT_EQ(ScanState.failedSectors.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_NE(platform::to_utf8(ScanState.failedSectors[i].str()).find(" " + std::to_string(expected[i])),
              std::string::npos)
        << platform::to_utf8(ScanState.failedSectors[i].str());
  EXPECT_EQ(ScanState.scanErrorCount, static_cast<int32_t>(expected.size()));
  EXPECT_EQ(ScanState.badSectorCount, 0) << "an unreadable range stays unreadable on every retry";
  EXPECT_EQ(DiskContext.ioErrorCount, static_cast<int32_t>(4 * expected.size()))
      << "four attempts per failing chunk and no read past the end of the disk";
  EXPECT_EQ(ScanState.scanFinished, 1);
  EXPECT_FALSE(DiskContext.currentDiskOpen);
  EXPECT_TRUE(VolumeCanBeLocked(u'C')) << "the disk's volumes are unlocked again";
}

TEST_P(PrescanTest, APartitionScanStaysInsideThePartition) {
  Boot();
  ASSERT_TRUE(ScanBadSectors(Target(partStart, partCount, u'C')));
  const auto expected = FailingChunks(partStart, partCount, Chunk(), ranges);
  ASSERT_GE(expected.size(), 1u);
  EXPECT_EQ(ScanState.failedSectors.size(), expected.size());
  EXPECT_EQ(ScanState.scanErrorCount, static_cast<int32_t>(expected.size())) << "the range after it is not read";
  EXPECT_TRUE(VolumeCanBeLocked(u'C'));
  // A target that runs past the disk's end is cut at the end.
  DiskContext.ioErrorCount = 0;
  ASSERT_TRUE(ScanBadSectors(Target(total - 3, 1000, u' ')));
  EXPECT_EQ(ScanState.scanErrorCount, 0);
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
}

TEST_P(PrescanTest, ADiskThatCannotBeOpenedIsNotScanned) {
  pc.SetIni("disk 0", "open_fails", "yes");
  Boot();
  ScanState.scanErrorCount = 7;
  EXPECT_FALSE(ScanBadSectors(Target(partStart, partCount, u'C')));
  EXPECT_EQ(ScanState.scanErrorCount, 0);
  EXPECT_EQ(ScanState.scanStarted, 0);
  EXPECT_FALSE(DiskContext.currentDiskOpen);
}

INSTANTIATE_TEST_SUITE_P(Disks, PrescanTest, ::testing::Values(512u, 4096u));

}  // namespace
