// Volume space helpers on FAT32 volumes of 512- and 4096-byte-sector disks of
// a simulated PC: free and used space checked against fsck.fat, folder and
// file sizes, the volume found by disk and offset, locks with refusals on the
// virtual clock, and the folder walk's depth limit.
#include "disk/volume_space.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "fixture_images.h"
#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/volume_api.h"

namespace {

namespace fs = std::filesystem;
using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

struct FsckView {
  uint64_t bytes_per_cluster = 0;
  uint64_t used_clusters = 0;
  uint64_t total_clusters = 0;
};

// What fsck.fat says of a host copy of the volume.
FsckView Fsck(const std::string& image) {
  std::string out;
  disk_fixture::Shell("fsck.fat -n -v " + image, &out);
  FsckView view;
  std::smatch m;
  if (std::regex_search(out, m, std::regex("(\\d+) bytes per cluster"))) view.bytes_per_cluster = std::stoull(m[1]);
  if (std::regex_search(out, m, std::regex("(\\d+)/(\\d+) clusters"))) {
    view.used_clusters = std::stoull(m[1]);
    view.total_clusters = std::stoull(m[2]);
  }
  return view;
}

uint64_t VirtualMs() { return platform::Clock::instance().now_ms(); }

class VolumeSpaceTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    sector_ = GetParam();
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 512ull << 20, .sectorSize = sector_});
    start_ = (1u << 20) / sector_;
    count_ = (300ull << 20) / sector_;
    Part part{.start = start_, .count = count_, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"};
    part.files = {{"/DATA/A.BIN", std::string(5000, 'a')},
                  {"/DATA/SUB/B.BIN", std::string(70000, 'b')},
                  {"/DATA/SUB/DEEP/C.BIN", std::string(1, 'c')},
                  {"/ROOT.TXT", std::string(123, 'r')}};
    pc_.WriteMbr(0, {part});
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
  }

  uint32_t sector_ = 512;
  uint64_t start_ = 0;
  uint64_t count_ = 0;
  SimulatedPc pc_;
};

TEST_P(VolumeSpaceTest, FreeAndUsedSpaceAgreeWithFsck) {
  const FsckView oracle = Fsck(pc_.ExtractVolume(0, start_, count_, "vol.img"));
  ASSERT_GT(oracle.total_clusters, 0u);
  ASSERT_GT(oracle.used_clusters, 0u);
  EXPECT_EQ(GetVolumeUsedSectors(u'C'), oracle.used_clusters * oracle.bytes_per_cluster / 512);
  EXPECT_EQ(GetFreeSectors(u'C'), (oracle.total_clusters - oracle.used_clusters) * oracle.bytes_per_cluster / 512);
  // The root form of the folder size is the volume's used space.
  EXPECT_EQ(GetFolderUsedBytes(CString(u"C:\\")), oracle.used_clusters * oracle.bytes_per_cluster);
  // Letters without a volume.
  EXPECT_EQ(GetVolumeUsedSectors(u'Z'), 0u);
  EXPECT_EQ(GetFreeSectors(u'Z'), 0u);
}

TEST_P(VolumeSpaceTest, FolderAndFileSizes) {
  FolderDepth = 0;
  EXPECT_EQ(GetFolderUsedBytes(CString(u"C:\\DATA")), 75001u);
  EXPECT_EQ(FolderDepth, -1) << "a walk lowers the counter once more than it raises it";
  FolderDepth = 0;
  EXPECT_EQ(GetFolderUsedBytes(CString(u"C:\\DATA\\SUB")), 70001u);
  FolderDepth = 0;
  EXPECT_EQ(GetFolderUsedBytes(CString(u"C:\\NOPE")), 0u);
  EXPECT_EQ(FolderDepth, -1);

  struct Case {
    const char16_t* path;
    int64_t size;
  } files[] = {{u"C:\\DATA\\A.BIN", 5000}, {u"C:\\DATA\\SUB\\B.BIN", 70000}, {u"C:\\ROOT.TXT", 123},
               {u"C:\\MISSING.TXT", -1},   {u"Z:\\A.BIN", -1}};
  for (const auto& c : files) EXPECT_EQ(GetFileSizeBytes(CString(c.path)), c.size) << platform::to_utf8(c.path);
}

TEST_P(VolumeSpaceTest, NestingBeyondTheLimitSpoilsTheWholeSum) {
  // The walk starts from a counter the caller left high: DATA\SUB\DEEP lies
  // two folder levels below DATA, so a start at 255 crosses 256 there.
  struct Case {
    int32_t start_depth;
    uint64_t result;
  } cases[] = {{0, 75001}, {254, 75001}, {255, kFolderTooDeep}, {256, kFolderTooDeep}};
  for (const auto& c : cases) {
    FolderDepth = c.start_depth;
    EXPECT_EQ(GetFolderUsedBytes(CString(u"C:\\DATA")), c.result) << c.start_depth;
  }
}

TEST_P(VolumeSpaceTest, VolumeFoundByDiskAndStartOffset) {
  WCHAR name[64] = {};
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(u"C:\\", name, 64));
  CString expected(name);
  expected = expected.Left(expected.GetLength() - 1);
  const uint64_t offset = start_ * sector_;
  EXPECT_EQ(FindVolumeByExtent(0, offset), expected);
  EXPECT_EQ(FindVolumeByExtent(0, offset + sector_), u"");
  EXPECT_EQ(FindVolumeByExtent(1, offset), u"");
  EXPECT_EQ(FindVolumeByExtent(0, offset + (1ull << 32)), u"") << "both halves of the offset count";
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, VolumeSpaceTest, ::testing::Values(512u, 4096u));

TEST(VolumeLock, RefusedLocksAreRetriedThenIgnored) {
  SimulatedPc pc;
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20});
  pc.WriteMbr(0, {Part{.start = 2048, .count = 60000, .mbrType = 0x06, .fs = "fat16", .label = "LOCK"}});
  struct Case {
    int refusals;
    uint64_t waited_ms;
  } cases[] = {{0, 0}, {3, 600}, {21, 4200}, {22, 4400}, {40, 4400}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusals);
    pc.SetIni("disk 0", "lock_refusals", std::to_string(c.refusals));
    pc.Boot();
    HANDLE volume = CreateFileW(u"\\\\.\\C:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    const uint64_t before = VirtualMs();
    EXPECT_TRUE(LockVolume(volume));
    EXPECT_EQ(VirtualMs() - before, c.waited_ms);
    // Unlocking tells whether the lock was really held.
    EXPECT_EQ(UnlockVolume(volume), c.refusals < 22);
    CloseHandle(volume);
  }
  const uint64_t before = VirtualMs();
  EXPECT_TRUE(LockVolume(INVALID_HANDLE_VALUE));
  EXPECT_EQ(VirtualMs() - before, 4400u);
  EXPECT_FALSE(UnlockVolume(INVALID_HANDLE_VALUE));
}

}  // namespace
