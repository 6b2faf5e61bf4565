// The drive-layout table from the platform's layout query on simulated disks
// (512- and 4096-byte sectors): offsets against fdisk's reading, nesting of
// logical partitions, GPT codes from the boot sectors made by mkfs.fat and
// mkntfs, the system partition, growing a partition (checked with fdisk),
// volume counts and file sizes.
#include "disk/drive_layout_table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/volume_space.h"
#include "fixture_images.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_table.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

// fdisk's start and sector count of each partition, in native sectors.
std::vector<std::pair<uint64_t, uint64_t>> FdiskExtents(const std::string& image, uint32_t ss) {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  for (const auto& row : disk_fixture::FdiskRows(image, ss, "Start,Sectors"))
    if (row.size() >= 2) out.push_back({std::stoull(row[0]), std::stoull(row[1])});
  return out;
}

class LayoutTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ss = GetParam();
  }
  uint64_t MiB(uint64_t n) const { return (n << 20) / ss; }
  alignas(8) uint8_t buffer[kLayoutBufferSize] = {};
  SimulatedPc pc;
  uint32_t ss = 512;
};

TEST_P(LayoutTest, MbrLogicalPartitionsNestInTheirContainer) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 512ull << 20, .sectorSize = ss});
  pc.WriteMbr(0, {{.start = MiB(1), .count = MiB(20), .mbrType = 0x07, .active = true, .fs = "ntfs"},
                  {.start = MiB(21), .count = MiB(20), .mbrType = 0x07},
                  {.start = MiB(50), .count = MiB(200), .mbrType = 0x0F},
                  {.start = MiB(51), .count = MiB(40), .mbrType = 0x07, .logical = true},
                  {.start = MiB(100), .count = MiB(40), .mbrType = 0x83, .logical = true}},
              0xCAFEF00D);
  pc.Boot();
  DetectSystemAndSpecialDisks();
  int count = QueryDriveLayout(0, buffer);
  ASSERT_GT(count, 0);
  EXPECT_EQ(DiskContext.layoutBuffer, buffer);
  EXPECT_FALSE(DiskContext.currentDiskOpen);
  FillLayoutTable(0, buffer, count);
  EXPECT_EQ(DiskContext.layoutTable[0].diskSignature, 0xCAFEF00Du);

  auto oracle = FdiskExtents(pc.Image(0), ss);
  ASSERT_EQ(oracle.size(), 5u);
  int container = -1, real = 0;
  std::vector<int> seen;
  for (int i = 0; i < count; ++i) {
    const LayoutEntry& t = DiskContext.layoutTable[i];
    if (t.fsCode != 0) ++real;
    if (t.startBytes == 0 && t.lengthBytes == 0) continue;
    SCOPED_TRACE(i);
    EXPECT_EQ(t.partitionStyle, 0u);
    if (t.fsCode == 5 || t.fsCode == 15) {
      EXPECT_EQ(t.nesting, -1);
      if (t.fsCode == 15) container = i;
      continue;
    }
    for (size_t k = 0; k < oracle.size(); ++k)
      if (oracle[k].first * ss == t.startBytes) {
        EXPECT_EQ(oracle[k].second * ss, t.lengthBytes);
        seen.push_back(static_cast<int>(k));
      }
    bool logical = t.startBytes >= MiB(50) * ss;
    EXPECT_EQ(t.nesting, logical ? 1 : 0);
    if (logical) EXPECT_EQ(t.containerIndex, container) << "the first earlier entry that holds it";
    else EXPECT_EQ(t.containerIndex, 0);
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 3, 4})) << "every partition fdisk reads, in order";
  EXPECT_EQ(DiskContext.layoutRealCount, real);
  EXPECT_EQ(DiskContext.layoutTable[0].bootIndicator != 0, true);
  EXPECT_EQ(DiskContext.layoutTable[1].bootIndicator, 0u);
  // Letters as the mount manager gave them; the Linux partition has none.
  for (int i = 0; i < count; ++i) {
    const LayoutEntry& t = DiskContext.layoutTable[i];
    int expected = -1;
    for (auto& v : platform::storage::MountedVolumes())
      if (v.disk_number == 0 && v.offset == t.startBytes && v.letter && t.lengthBytes) expected = v.letter;
    EXPECT_EQ(t.driveLetter, expected) << i;
  }
  uint32_t used = 0;
  for (int i = 0; i < count; ++i)
    if (DiskContext.layoutTable[i].driveLetter > 0)
      used += static_cast<uint32_t>(GetVolumeUsedSectors(static_cast<WCHAR>(DiskContext.layoutTable[i].driveLetter)));
  EXPECT_EQ(static_cast<uint32_t>(DiskContext.letteredUsedSectors), used);
  EXPECT_GT(used, 0u) << "the NTFS volume uses some space";
}

TEST_P(LayoutTest, GptCodesComeFromTheBasicDataBootSectors) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1ull << 30, .sectorSize = ss});
  pc.WriteGpt(0, {{.start = MiB(1), .count = MiB(100), .gptType = disk_fixture::kGptEsp, .name = u"EFI system partition",
                   .fs = "fat32"},
                  {.start = MiB(101), .count = MiB(16), .gptType = disk_fixture::kGptMsr, .name = disk_fixture::kMsrName},
                  {.start = MiB(117), .count = MiB(64), .name = u"Basic data partition", .fs = "ntfs"},
                  {.start = MiB(181), .count = MiB(300), .name = u"fat", .fs = "fat32"},
                  {.start = MiB(490), .count = MiB(64), .name = u"fat16", .fs = "fat16"},
                  {.start = MiB(560), .count = MiB(64), .name = u"blank"}});
  pc.Boot();
  DetectSystemAndSpecialDisks();
  int count = QueryDriveLayout(0, buffer);
  ASSERT_EQ(count, 6);
  FillLayoutTable(0, buffer, count);
  std::vector<int> codes;
  for (int i = 0; i < count; ++i) codes.push_back(DiskContext.layoutTable[i].fsCode);
  EXPECT_EQ(codes, (std::vector<int>{-1, 12, 7, 12, 6, -1}));
  EXPECT_EQ(DiskContext.layoutRealCount, 5) << "all but the reserved partition";
  const LayoutEntry& ntfs = DiskContext.layoutTable[2];
  EXPECT_EQ(std::u16string(ntfs.name), u"Basic data partition");
  EXPECT_EQ(ntfs.startBytes, MiB(117) * ss);
  EXPECT_EQ(ntfs.lengthBytes, MiB(64) * ss);
  EXPECT_EQ(ntfs.partitionStyle, 1u);
  EXPECT_EQ(ntfs.typeGuid.Data1, 0xEBD0A0A2u);
  EXPECT_TRUE(SameGuid(ntfs.typeGuid, DiskContext.layoutTable[3].typeGuid));
  EXPECT_FALSE(SameGuid(ntfs.idGuid, DiskContext.layoutTable[3].idGuid));
  EXPECT_GT(ntfs.driveLetter, 0);
  EXPECT_EQ(DiskContext.layoutTable[0].driveLetter, -1) << "the EFI system partition has no letter";
  for (int i = 0; i < count; ++i) EXPECT_EQ(DiskContext.layoutTable[i].nesting, 0);
}

TEST_P(LayoutTest, TableHoldsSixtyFourEntries) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 512ull << 20, .sectorSize = ss});
  std::vector<Part> parts;
  for (int i = 0; i < 100; ++i)
    parts.push_back({.start = MiB(1 + 2 * i), .count = MiB(1), .gptType = disk_fixture::kGptLinux, .name = u"p"});
  pc.WriteGpt(0, parts);
  pc.Boot();
  DetectSystemAndSpecialDisks();
  int count = QueryDriveLayout(0, buffer);
  ASSERT_EQ(count, 100);
  EXPECT_EQ(DiskContext.layoutRealCount, 100);
  FillLayoutTable(0, buffer, count);
  EXPECT_EQ(DiskContext.layoutTable[63].startBytes, MiB(127) * ss);
  EXPECT_EQ(DiskContext.layoutRealCount, 100) << "the fields after the table are untouched";
  // A reply that claims more entries than it holds is read only as far as it goes.
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer);
  layout->PartitionCount = 5000;
  DiskContext.layoutByteCount = static_cast<int32_t>(kDriveLayoutHeaderSize + 3 * sizeof(PARTITION_INFORMATION_EX));
  FillLayoutTable(0, buffer, 5000);
  EXPECT_EQ(DiskContext.layoutTable[2].startBytes, MiB(5) * ss);
  EXPECT_EQ(DiskContext.layoutTable[3].startBytes, 0u);
  EXPECT_EQ(QueryDriveLayout(9, buffer), -1) << "no such disk";
}

TEST_P(LayoutTest, SystemPartitionIsTheFirstWithWindowsUnlessItHoldsNtdetect) {
  struct Case {
    const char* what;
    bool ntdetectOnFirst;
    int found, index;
  } cases[] = {{"C: holds NTDETECT.COM: none, D: is not tried", true, 0, 0},
               {"C: without NTDETECT.COM: C:", false, 1, 0}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedPc local;
    local.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1ull << 30, .sectorSize = ss});
    std::vector<disk_fixture::VolumeFile> first = {{"/Windows/System32/Kernel32.dll", "MZ"}};
    if (c.ntdetectOnFirst) first.push_back({"/NTDETECT.COM", "x"});
    local.WriteMbr(0, {{.start = MiB(1), .count = MiB(300), .mbrType = 0x0C, .fs = "fat32", .files = first},
                       {.start = MiB(301), .count = MiB(300), .mbrType = 0x0C, .fs = "fat32",
                        .files = {{"/Windows/System32/Kernel32.dll", "MZ newer"}}}});
    local.Boot();
    DiskContext = DiskContextRecord{};
    DetectSystemAndSpecialDisks();
    int count = QueryDriveLayout(0, buffer);
    FillLayoutTable(0, buffer, count);
    EXPECT_EQ(FindSystemPartition(count), c.found);
    EXPECT_EQ(DiskContext.systemPartitionIndex, c.index);
  }
}

TEST_P(LayoutTest, GrowCountAndFileSize) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 512ull << 20, .sectorSize = ss});
  pc.WriteMbr(0, {{.start = MiB(1), .count = MiB(300), .mbrType = 0x0C, .fs = "fat32",
                   .files = {{"/five.bin", std::string(5000, 'x')}}},
                  {.start = MiB(400), .count = MiB(8), .mbrType = 0x07}});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 64ull << 20, .sectorSize = ss});
  pc.WriteMbr(1, {{.start = MiB(1), .count = MiB(8), .mbrType = 0x07}});
  pc.Boot();
  DetectSystemAndSpecialDisks();
  EXPECT_EQ(CountDiskVolumes(0), 2);
  EXPECT_EQ(CountDiskVolumes(1), 1);
  EXPECT_EQ(CountDiskVolumes(2), 0);

  EXPECT_EQ(FileSizeInSectors(u"C:\\five.bin"), 9u);
  EXPECT_EQ(FileSizeInSectors(u"C:\\missing.bin"), 0u);

  EXPECT_TRUE(GrowPartition(u'C', 2048 * 50));  // 50 MiB more
  auto extents = FdiskExtents(pc.Image(0), ss);
  ASSERT_FALSE(extents.empty());
  EXPECT_EQ(extents[0].second * ss, (350ull << 20)) << "fdisk reads the grown entry";
  EXPECT_FALSE(GrowPartition(u'C', 2048 * 100)) << "it would run into the next partition";
  EXPECT_FALSE(GrowPartition(u'Q', 2048)) << "no such letter";
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, LayoutTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "sector" + std::to_string(info.param); });

}  // namespace
