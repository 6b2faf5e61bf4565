// Boot-sector geometry carry-over between two FAT16 partitions of one disk
// (512- and 4096-byte sectors): the destination's sectors per track, heads and
// hidden sectors become the source's, as minfo reads them, and the volume
// still checks clean; failed reads write nothing.
#include "disk/boot_geometry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "disk/disk_access.h"
#include "fixture_images.h"
#include "platform/fs/file_api.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

struct Geometry {
  long sectors_per_track = -1;
  long heads = -1;
  long hidden = -1;
};

Geometry Minfo(const std::string& image) {
  std::string out;
  disk_fixture::Shell("MTOOLS_SKIP_CHECK=1 minfo -i " + image + " ::", &out);
  Geometry g;
  std::smatch m;
  if (std::regex_search(out, m, std::regex("sectors per track: (\\d+)"))) g.sectors_per_track = std::stol(m[1]);
  if (std::regex_search(out, m, std::regex("heads: (\\d+)"))) g.heads = std::stol(m[1]);
  if (std::regex_search(out, m, std::regex("hidden sectors: (\\d+)"))) g.hidden = std::stol(m[1]);
  return g;
}

class BootGeometryTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    ss_ = GetParam();
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 320ull << 20, .sectorSize = ss_});
    source_ = (1u << 20) / ss_;
    count_ = (120ull << 20) / ss_;
    dest_ = source_ + count_ + (1u << 20) / ss_;
    pc_.WriteMbr(0, {Part{.start = source_, .count = count_, .mbrType = 0x06, .fs = "fat16", .label = "SOURCE"},
                     Part{.start = dest_, .count = count_, .mbrType = 0x06, .fs = "fat16", .label = "DEST"}});
    // The source carries a geometry of its own: 17 sectors per track, 5 heads.
    pc_.WriteBytes(0, source_ * ss_ + 24, std::vector<uint8_t>{17, 0, 5, 0});
    DiskContext = DiskContextRecord{};
    std::memset(bootSectorCache, 0, sizeof bootSectorCache);
  }
  void TearDown() override {
    if (DiskContext.currentDiskOpen) CloseCurrentDisk();
  }

  Geometry DestinationGeometry() { return Minfo(pc_.ExtractVolume(0, dest_, count_, "dest.img")); }
  std::vector<uint8_t> DestinationBootSector() { return pc_.ReadBytes(0, dest_ * ss_, 512); }

  // Units of 512 bytes, as the handle forms count.
  uint64_t Units(uint64_t native) const { return native * ss_ / 512; }

  uint32_t ss_ = 512;
  uint64_t source_ = 0, count_ = 0, dest_ = 0;
  SimulatedPc pc_;
};

TEST_P(BootGeometryTest, CurrentDiskFormsCarryTheGeometryOver) {
  pc_.Boot();
  ASSERT_GT(ReadDiskGeometry(0), 0u);
  ASSERT_TRUE(OpenDiskReadWrite(0));
  ASSERT_EQ(ReadSectorToBootCache(static_cast<int32_t>(source_)), 0);
  PatchBootGeometry(static_cast<int32_t>(dest_));
  CloseCurrentDisk();

  const Geometry g = DestinationGeometry();
  EXPECT_EQ(g.sectors_per_track, 17);
  EXPECT_EQ(g.heads, 5);
  EXPECT_EQ(g.hidden, static_cast<long>(source_)) << "hidden sectors come from the source too";
  const std::string dest = pc_.folder() + "/dest.img";
  EXPECT_EQ(disk_fixture::Shell("fsck.fat -n " + dest), 0);
  std::string label;
  disk_fixture::Shell("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + dest + " ::", &label);
  EXPECT_NE(label.find("DEST"), std::string::npos) << "only bytes 24 to 31 change: " << label;
}

TEST_P(BootGeometryTest, NothingIsWrittenWithoutGeometryOrAfterAFailedRead) {
  pc_.Boot();
  const std::vector<uint8_t> before = DestinationBootSector();
  ASSERT_GT(ReadDiskGeometry(0), 0u);
  ASSERT_TRUE(OpenDiskReadWrite(0));
  // A cache whose byte 24 is 0 (nothing cached): the sector is left alone.
  bootSectorCache[25] = 0x77;
  PatchBootGeometry(static_cast<int32_t>(dest_));
  CloseCurrentDisk();
  EXPECT_EQ(DestinationBootSector(), before);

  // An unreadable destination sector: no write of a stale buffer.
  pc_.SetIni("disk 0", "unreadable", std::to_string(dest_));
  pc_.Boot();
  ASSERT_GT(ReadDiskGeometry(0), 0u);
  ASSERT_TRUE(OpenDiskReadWrite(0));
  ASSERT_EQ(ReadSectorToBootCache(static_cast<int32_t>(source_)), 0);
  PatchBootGeometry(static_cast<int32_t>(dest_));
  CloseCurrentDisk();
  EXPECT_EQ(DestinationBootSector(), before);

  HANDLE h = CreateFileW(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ApplyCachedBootGeometry(h, static_cast<int32_t>(Units(dest_))), 0u);
  EXPECT_EQ(ApplyCachedBootGeometry(h, -1), 0u);
  CloseHandle(h);
  EXPECT_EQ(DestinationBootSector(), before);
}

TEST_P(BootGeometryTest, HandleFormsCountIn512ByteUnits) {
  pc_.Boot();
  // A buffered handle takes 512-byte transfers on either disk.
  HANDLE h = CreateFileW(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadBootSectorToCache(h, static_cast<int32_t>(Units(source_))), 512u);
  EXPECT_EQ(ApplyCachedBootGeometry(h, static_cast<int32_t>(Units(dest_))), 512u);
  CloseHandle(h);
  const Geometry g = DestinationGeometry();
  EXPECT_EQ(g.sectors_per_track, 17);
  EXPECT_EQ(g.heads, 5);
  EXPECT_EQ(g.hidden, static_cast<long>(source_));
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, BootGeometryTest, ::testing::Values(512u, 4096u));

}  // namespace
