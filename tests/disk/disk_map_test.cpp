// The disk map: tables of partition lists laid out as segments with gaps,
// and one map read from an image with an extended partition on 512- and
// 4096-byte disks.
#include "disk/disk_map.h"

#include <gtest/gtest.h>

#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/partition_list.h"
#include "fixture_images.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

struct Seg {
  int index;  // partition index, -1 gap
  uint64_t start, length;
  int outside;
  bool operator==(const Seg&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seg& s) {
  return os << "{" << s.index << ", " << s.start << ", " << s.length << ", " << s.outside << "}";
}

struct ListSpec {
  bool gpt = false;
  int64_t extendedStart = -1;  // native sectors (multiplier 1 here)
  uint64_t extendedLength = 0;
  uint64_t diskSize = 0;
  std::vector<std::pair<uint64_t, uint64_t>> parts{};  // start, length
};

// Installs a list as the reader would have left it, for listed disk 1.
void Install(const ListSpec& spec) {
  DiskContext = DiskContextRecord{};
  DiskContext.isGptDisk = spec.gpt;
  DiskContext.extendedStart = spec.extendedStart;
  DiskContext.extendedLength = spec.extendedLength;
  DiskContext.diskCount = 1;
  DiskContext.listedToPhysical[1] = 0;
  DiskContext.listedDiskSize[1] = spec.diskSize;
  DiskContext.currentDisk = 0;
  DiskContext.sectorMultiplier[0] = 1;
  DiskContext.partitionCount = static_cast<int32_t>(spec.parts.size());
  for (size_t i = 0; i < spec.parts.size(); ++i) {
    sharedPartitionBuffer[i] = PartitionEntry{};
    sharedPartitionBuffer[i].start = spec.parts[i].first;
    sharedPartitionBuffer[i].length = spec.parts[i].second;
    sharedPartitionBuffer[i].type = 7;
  }
}

std::vector<Seg> Build(bool refresh = false, int listedIndex = 0) {
  DiskMapItem items[kMaxDiskMapItems + 1] = {};
  items[kMaxDiskMapItems].start = 0xFEED;
  int n = BuildDiskMap(ListedDiskIndex{listedIndex}, items, refresh);
  EXPECT_EQ(items[kMaxDiskMapItems].start, 0xFEEDu) << "nothing past the 32 items";
  std::vector<Seg> out;
  for (int i = 0; i < n; ++i) {
    out.push_back({items[i].partitionIndex, items[i].start, items[i].length, items[i].outsideExtended});
    EXPECT_EQ(items[i].type, items[i].partitionIndex < 0 ? -1 : 7);
    EXPECT_EQ(items[i].pixelWidth, 0);
  }
  return out;
}

TEST(DiskMap, GapsBeforeBetweenAndAfterThePartitions) {
  const uint64_t size = 1000000;
  struct Case {
    const char* what;
    ListSpec list;
    std::vector<Seg> map;
  } cases[] = {
      {"one partition at 2048: no leading gap, a trailing one",
       {.diskSize = size, .parts = {{2048, 100000}}},
       {{0, 2048, 100000, 1}, {-1, 102048, size - 102048, 1}}},
      {"first partition at 20,481: a leading gap",
       {.diskSize = 20481 + 100, .parts = {{20481, 100}}},
       {{-1, 0, 20481, 1}, {0, 20481, 100, 1}}},
      {"a gap of exactly 20,480 is not shown, 20,481 is",
       {.diskSize = 55009, .parts = {{2048, 1000}, {23528, 1000}, {45009, 10000}}},
       {{0, 2048, 1000, 1}, {1, 23528, 1000, 1}, {-1, 24528, 20481, 1}, {2, 45009, 10000, 1}}},
      {"GPT: the leading gap at 34 of 262,144",
       {.gpt = true, .diskSize = 264192 + 50000, .parts = {{264192, 50000}}},
       {{-1, 34, 262144, 1}, {0, 264192, 50000, 1}}},
      {"GPT: a leading gap never reaches into the first partition",
       {.gpt = true, .diskSize = 30000 + 50000, .parts = {{30000, 50000}}},
       {{-1, 34, 30000 - 34, 1}, {0, 30000, 50000, 1}}},
      {"free space at the end of the extended partition, then at the end of the disk",
       {.extendedStart = 200000, .extendedLength = 400000, .diskSize = size,
        .parts = {{2048, 100000}, {202048, 100000}}},
       {{0, 2048, 100000, 1},
        {-1, 102048, 100000, 1},
        {1, 202048, 100000, 0},
        {-1, 302048, 600000 - 302048, 0},
        {-1, 600000, size - 600000, 1}}},
      {"listed out of order, equal starts: the later list entry first",
       {.diskSize = 50000, .parts = {{30000, 20000}, {2048, 5000}, {2048, 6000}}},
       {{2, 2048, 6000, 1}, {1, 2048, 5000, 1}, {-1, 7048, 22952, 1}, {0, 30000, 20000, 1}}},
      {"a partition past the cylinder-based size: no trailing gap, no underflow",
       {.diskSize = 50000, .parts = {{2048, 60000}}},
       {{0, 2048, 60000, 1}}},
      {"no partitions", {.diskSize = size}, {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Install(c.list);
    EXPECT_EQ(Build(), c.map);
  }
}

TEST(DiskMap, BuildingTwiceWithoutRefreshGivesTheSameMapAndKeepsTheList) {
  Install({.extendedStart = 100000, .extendedLength = 300000, .diskSize = 900000,
           .parts = {{300000, 5000}, {2048, 50000}, {102048, 40000}}});
  std::vector<PartitionEntry> before(sharedPartitionBuffer, sharedPartitionBuffer + 3);
  auto first = Build();
  auto second = Build();
  EXPECT_EQ(first, second);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sharedPartitionBuffer[i].start, before[i].start);
    EXPECT_EQ(sharedPartitionBuffer[i].length, before[i].length);
  }
  EXPECT_EQ(DiskContext.partitionCount, 3);
}

TEST(DiskMap, AMapHoldsThirtyTwoItems) {
  ListSpec list{.diskSize = 10000000};
  for (int i = 0; i < 32; ++i) list.parts.push_back({30000ull + 100000ull * i, 1000});
  Install(list);
  auto map = Build();
  ASSERT_EQ(map.size(), 32u);
  EXPECT_EQ(map[0], (Seg{-1, 0, 30000, 1}));
  EXPECT_EQ(map[31].index, 15) << "partitions and gaps alternate up to the last item";
}

TEST(DiskMap, ExtendedBoundsAreTakenInTheDisksOwnUnits) {
  Install({.extendedStart = 1000, .extendedLength = 100, .diskSize = 0});
  DiskContext.sectorMultiplier[0] = 8;  // native 1000..1100 = 512-byte units 8000..8800
  struct Case {
    uint64_t sector;
    bool inside;
  } cases[] = {{7999, false}, {8000, true}, {8000 + (100 - 63) * 8 - 1, true}, {8000 + (100 - 63) * 8, false}, {1000, false}};
  for (auto& c : cases) EXPECT_EQ(IsInsideExtended(c.sector), c.inside) << c.sector;
  DiskContext.extendedLength = 10;  // shorter than 63 sectors: nothing is inside
  EXPECT_FALSE(IsInsideExtended(8000));
  DiskContext.extendedStart = -1;
  EXPECT_FALSE(IsInsideExtended(0));
}

class DiskMapImage : public ::testing::TestWithParam<uint32_t> {};

TEST_P(DiskMapImage, ReadFromTheDiskWithLettersAndTheExtendedPartition) {
  uint32_t ss = GetParam();
  uint64_t m = ss / 512;
  auto mib = [&](uint64_t n) { return (n << 20) / ss; };
  SimulatedPc pc;
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 512ull << 20, .sectorSize = ss});
  pc.WriteMbr(0, {{.start = mib(1), .count = mib(50), .mbrType = 0x07},
                  {.start = mib(100), .count = mib(200), .mbrType = 0x0F},
                  {.start = mib(101), .count = mib(40), .mbrType = 0x07, .logical = true}});
  pc.Boot();
  DiskContext = DiskContextRecord{};
  DetectSystemAndSpecialDisks();
  auto map = Build(true);
  uint64_t u = mib(1) * m;  // one MiB in 512-byte units
  // The disk ends where its last whole cylinder ends.
  uint64_t size = DiskContext.listedDiskSize[1];
  ASSERT_EQ(size, ReadDiskGeometry(0));
  std::vector<Seg> expected = {{0, u, 50 * u, 1},         {-1, 51 * u, 50 * u, 1},       {1, 101 * u, 40 * u, 0},
                               {-1, 141 * u, 159 * u, 0}, {-1, 300 * u, size - 300 * u, 1}};
  EXPECT_EQ(map, expected);
  DiskMapItem items[kMaxDiskMapItems] = {};
  ASSERT_EQ(BuildDiskMap(ListedDiskIndex{0}, items, true), 5);
  EXPECT_GT(items[0].driveLetter, 0) << "refresh looks the letters up";
  EXPECT_EQ(items[0].driveLetter, FindLetterByOffset(u, 0));
  EXPECT_EQ(items[1].driveLetter, 0) << "gaps have none";
  ASSERT_EQ(BuildDiskMap(ListedDiskIndex{0}, items, false), 5);
  EXPECT_EQ(items[0].driveLetter, 0) << "without refresh letters stay 0";
  EXPECT_EQ(BuildDiskMap(ListedDiskIndex{5}, items, true), 0) << "a listed index without a disk";
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, DiskMapImage, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "sector" + std::to_string(info.param); });

}  // namespace
