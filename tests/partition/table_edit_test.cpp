// The partition manager's table edits on simulated MBR disks of 512- and
// 4096-byte sectors: new primaries and logical drives in each kind of free
// item, removal of first, middle and last logical drives, of a primary and of
// the extended partition, and disks the edits must not touch. After every
// write an independent reader (sfdisk -d, or fdisk -b 4096) walks the whole
// table and its EBR chain; every untouched partition's bytes are hashed before
// and after.
#include "mainapp/partition/partition_table_edit.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "fixture_partition.h"
#include "mainapp/partition/partition_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;
using partition_fixture::ReadTable;
using partition_fixture::Row;

class PartitionTableEditTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { ss = GetParam(); }
  uint64_t MiB(uint64_t n) const { return (n << 20) / ss; }
  uint64_t UnitsOf(uint64_t native) const { return native * (ss / 512); }  // 512-byte units

  // Writes the parts, stamps a pattern into each data partition, boots and
  // opens the manager on disk 0; remembers every data partition's hash.
  void Make(const std::vector<Part>& parts, uint64_t diskMiB = 256) {
    pc->AddDisk(DiskSpec{.number = 0, .sizeBytes = diskMiB << 20, .sectorSize = ss});
    pc->WriteMbr(0, parts);
    for (const Part& p : parts) {
      if (p.mbrType == 5 || p.mbrType == 0xF) continue;
      pc->WriteBytes(0, p.start * ss, disk_fixture::Pattern(4096, static_cast<uint32_t>(p.start)));
      pc->WriteBytes(0, (p.start + p.count) * ss - 4096, disk_fixture::Pattern(4096, static_cast<uint32_t>(p.count)));
    }
    partition_fixture::OpenManagerOn(*pc);
    before = ReadTable(pc->Image(0), ss);
    for (const Row& r : partition_fixture::DataRows(before)) hashes[r.start] = Hash(r);
  }
  void Fresh() {
    pc.reset();
    pc = std::make_unique<SimulatedPc>();
    hashes.clear();
  }
  uint64_t Hash(const Row& r) { return partition_fixture::HashSectors(*pc, 0, r.start, r.count); }
  // Every partition of `before` except `gone` is still there with its bytes.
  void ExpectKept(const std::vector<Row>& after, const std::vector<uint64_t>& gone = {}) {
    for (const Row& r : partition_fixture::DataRows(before)) {
      if (std::find(gone.begin(), gone.end(), r.start) != gone.end()) continue;
      auto data = partition_fixture::DataRows(after);
      EXPECT_NE(std::find(data.begin(), data.end(), r), data.end()) << "partition at " << r.start << " lost";
      EXPECT_EQ(Hash(r), hashes[r.start]) << "bytes of the partition at " << r.start << " changed";
    }
  }
  std::vector<Row> After() {
    auto rows = ReadTable(pc->Image(0), ss);
    partition_fixture::ExpectSound(rows);
    return rows;
  }
  const Row* RowAt(const std::vector<Row>& rows, uint64_t start) {
    for (const Row& r : rows)
      if (r.start == start) return &r;
    return nullptr;
  }
  // Primaries P1 [1,21) and P2 [60,80) MiB, the extended partition [80,230)
  // with logical drives at 81, 120 and 160 MiB of 20 MiB each.
  std::vector<Part> Standard() {
    return {{.start = MiB(1), .count = MiB(20), .mbrType = 0x07},
            {.start = MiB(60), .count = MiB(20), .mbrType = 0x0C},
            {.start = MiB(80), .count = MiB(150), .mbrType = 0x0F},
            {.start = MiB(81), .count = MiB(20), .mbrType = 0x07, .logical = true},
            {.start = MiB(120), .count = MiB(20), .mbrType = 0x06, .logical = true},
            {.start = MiB(160), .count = MiB(20), .mbrType = 0x07, .logical = true}};
  }
  void ChooseWizard(int item, int64_t mb, bool primary, const char16_t* fs) {
    auto& s = PartitionManagerState;
    ASSERT_GE(item, 0);
    s.cursorItem = s.wizardItem = item;
    s.newSize = mb;
    s.newSizeSectors = mb * 2048;
    s.primaryChosen = primary;
    s.fileSystemName = CString(fs);
  }

  std::unique_ptr<SimulatedPc> pc = std::make_unique<SimulatedPc>();
  uint32_t ss = 512;
  std::vector<Row> before;
  std::map<uint64_t, uint64_t> hashes;
};

TEST_P(PartitionTableEditTest, NewPrimaryTakesTheClickedGapAndKeepsSlotOrder) {
  Make(Standard());
  ChooseWizard(partition_fixture::FreeItem(false, 0), 30, true, u"NTFS");
  ASSERT_EQ(CreatePartitionFromWizard(), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows);
  ASSERT_GE(rows.size(), 4u);
  // Slots: P1, the new partition right behind it, P2, the extended partition.
  EXPECT_EQ(rows[0].start, MiB(1));
  EXPECT_EQ(rows[1], (Row{MiB(21), MiB(30), 7}));
  EXPECT_EQ(rows[2].start, MiB(60));
  EXPECT_EQ(rows[3].type, 0xF);
  EXPECT_EQ(partition_fixture::DataRows(rows).size(), 6u);
}

TEST_P(PartitionTableEditTest, NewPrimaryIsClippedToItsGapAndStaysOutOfTheExtendedPartition) {
  Make(Standard());
  // The free item behind the extended partition runs to the disk's end as its
  // geometry gives it (whole cylinders); 100 MB are asked.
  ChooseWizard(partition_fixture::FreeItem(false, 1), 100, true, u"FAT32");
  ASSERT_EQ(CreatePartitionFromWizard(), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows);
  const Row* added = RowAt(rows, MiB(230));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->start + added->count, DiskContext.listedDiskSize[1] / (ss / 512));
  EXPECT_LT(added->count, MiB(26));
  EXPECT_EQ(added->type, 0x0C);
}

TEST_P(PartitionTableEditTest, GapSmallerThanTheMinimumSizeNeverOverlaps) {
  // 12 MiB between P1 and P2: more than the 10 MiB a gap needs, less than the
  // 16 MiB minimum a new partition asks for.
  Make({{.start = MiB(1), .count = MiB(20), .mbrType = 0x07}, {.start = MiB(33), .count = MiB(20), .mbrType = 0x07}});
  ChooseWizard(partition_fixture::FreeItem(false, 0), 16, true, u"NTFS");
  ASSERT_EQ(CreatePartitionFromWizard(), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows);
  const Row* added = RowAt(rows, MiB(21));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->count, MiB(12));
}

TEST_P(PartitionTableEditTest, NewPartitionInTheLeadingGapStartsAfterTheMbrTrack) {
  Make({{.start = MiB(40), .count = MiB(20), .mbrType = 0x07}});
  int item = partition_fixture::FreeItem(false, 0);
  ASSERT_EQ(PartitionManagerState.diskMap[item].start, 0u);
  ChooseWizard(item, 20, true, u"NTFS");
  ASSERT_EQ(CreatePartitionFromWizard(), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (Row{63, MiB(20), 7}));  // slot 0, before the old partition
  EXPECT_EQ(rows[1].start, MiB(40));
}

TEST_P(PartitionTableEditTest, EmptyDiskGetsANewMbrWithOnePartition) {
  pc->AddDisk(DiskSpec{.number = 0, .sizeBytes = 256ull << 20, .sectorSize = ss});
  partition_fixture::OpenManagerOn(*pc);
  ASSERT_EQ(PartitionManagerState.diskMapCount, 0);
  ChooseWizard(0, 100, true, u"FAT32");
  PartitionManagerState.cursorItem = PartitionManagerState.wizardItem = -1;
  ASSERT_EQ(CreatePartitionFromWizard(), EditResult::Ok);
  auto rows = After();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (Row{63, MiB(100), 0x0C}));
  auto signature = pc->ReadBytes(0, 440, 4);
  EXPECT_EQ(signature, (std::vector<uint8_t>{0x00, 0x73, 0xB5, 0xA4}));
}

TEST_P(PartitionTableEditTest, NewLogicalDriveGoesIntoTheClickedGap) {
  // Each free item inside the extended partition: between L1 and L2, between
  // L2 and L3, behind L3.
  const uint64_t gapStarts[] = {101, 140, 180};
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    Fresh();
    Make(Standard());
    int item = partition_fixture::FreeItem(true, n);
    ASSERT_GE(item, 0);
    ASSERT_EQ(PartitionManagerState.diskMap[item].start, UnitsOf(MiB(gapStarts[n])));
    ChooseWizard(item, 10, false, u"FAT");
    ASSERT_EQ(CreateLogicalDrive(), EditResult::Ok);
    auto rows = After();
    ExpectKept(rows);
    const Row* added = RowAt(rows, MiB(gapStarts[n] + 1));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->count, MiB(9));  // 10 MiB less the boot record's MiB
    EXPECT_EQ(added->type, 6);
    EXPECT_EQ(partition_fixture::DataRows(rows).size(), 6u);
  }
}

TEST_P(PartitionTableEditTest, NewLogicalDriveAtTheStartOfTheExtendedPartition) {
  // The first logical drive starts 20 MiB into the extended partition; a new
  // one of 30 MB fits only in front of it and leaves it a boot record.
  Make({{.start = MiB(1), .count = MiB(79), .mbrType = 0x07},
        {.start = MiB(80), .count = MiB(100), .mbrType = 0x0F},
        {.start = MiB(100), .count = MiB(20), .mbrType = 0x07, .logical = true}});
  int item = partition_fixture::FreeItem(true, 0);
  ASSERT_GE(item, 0);
  ASSERT_EQ(PartitionManagerState.diskMap[item].start, UnitsOf(MiB(80)));
  ChooseWizard(item, 30, false, u"NTFS");
  ASSERT_EQ(CreateLogicalDrive(), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows);
  const Row* added = RowAt(rows, MiB(81));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->count, MiB(18));
}

// An extended partition that holds no logical drive (as the wizard makes it)
// takes its first logical drive: 30 MB at its
// start, its boot record in the first MiB (sfdisk -d, fdisk -b 4096).
TEST_P(PartitionTableEditTest, EmptyExtendedPartitionTakesItsFirstLogicalDrive) {
  Make({{.start = MiB(1), .count = MiB(79), .mbrType = 0x07}, {.start = MiB(80), .count = MiB(100), .mbrType = 0x0F}});
  int item = partition_fixture::FreeItem(true, 0);
  ASSERT_GE(item, 0);
  EXPECT_EQ(PartitionManagerState.diskMap[item].start, UnitsOf(MiB(80)));
  EXPECT_EQ(PartitionManagerState.diskMap[item].length, UnitsOf(MiB(100)));
  ChooseWizard(item, 30, false, u"FAT");
  ASSERT_EQ(CreateLogicalDrive(), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows);
  EXPECT_EQ(rows, (std::vector<Row>{{MiB(1), MiB(79), 7}, {MiB(80), MiB(100), 0x0F}, {MiB(81), MiB(29), 6}}));
}

TEST_P(PartitionTableEditTest, LogicalDriveNeverRunsPastTheExtendedPartition) {
  Make(Standard());
  ChooseWizard(partition_fixture::FreeItem(true, 2), 200, false, u"NTFS");
  ASSERT_EQ(CreateLogicalDrive(), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows);
  const Row* added = RowAt(rows, MiB(181));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->start + added->count, MiB(230));
}

TEST_P(PartitionTableEditTest, RemovingAnyLogicalDriveKeepsTheOthers) {
  const uint64_t starts[] = {81, 120, 160};
  for (uint64_t gone : starts) {
    SCOPED_TRACE(gone);
    Fresh();
    Make(Standard());
    int item = partition_fixture::ItemAt(UnitsOf(MiB(gone)));
    ASSERT_GE(item, 0);
    ASSERT_EQ(RemovePartitionOfItem(item), EditResult::Ok);
    auto rows = After();
    ExpectKept(rows, {MiB(gone)});
    EXPECT_EQ(RowAt(rows, MiB(gone)), nullptr);
    EXPECT_EQ(partition_fixture::DataRows(rows).size(), 4u);
  }
}

TEST_P(PartitionTableEditTest, RemovingThePrimaryOfSlotOneMovesTheLaterSlotsUp) {
  Make({{.start = MiB(1), .count = MiB(20), .mbrType = 0x07},
        {.start = MiB(30), .count = MiB(20), .mbrType = 0x07},
        {.start = MiB(60), .count = MiB(20), .mbrType = 0x06},
        {.start = MiB(90), .count = MiB(20), .mbrType = 0x0C}});
  ASSERT_EQ(RemovePartitionOfItem(partition_fixture::ItemAt(UnitsOf(MiB(30)))), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows, {MiB(30)});
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].start, MiB(60));
  EXPECT_EQ(rows[2].start, MiB(90));
}

TEST_P(PartitionTableEditTest, RemovingTheExtendedPartitionKeepsLaterPrimaries) {
  Make({{.start = MiB(1), .count = MiB(20), .mbrType = 0x07},
        {.start = MiB(30), .count = MiB(100), .mbrType = 0x0F},
        {.start = MiB(140), .count = MiB(20), .mbrType = 0x07},
        {.start = MiB(31), .count = MiB(20), .mbrType = 0x07, .logical = true}});
  ASSERT_EQ(RemovePartitionOfItem(partition_fixture::ItemAt(UnitsOf(MiB(31)))), EditResult::Ok);
  // The extended partition, now without logical drives, is its free space
  // inside the extended partition, whose removal removes it.
  partition_fixture::RefreshMap();
  int item = partition_fixture::ItemAt(UnitsOf(MiB(30)));
  ASSERT_GE(item, 0);
  EXPECT_EQ(PartitionManagerState.diskMap[item].partitionIndex, -1);
  EXPECT_EQ(PartitionManagerState.diskMap[item].outsideExtended, 0);
  EXPECT_EQ(PartitionManagerState.diskMap[item].length, UnitsOf(MiB(100)));
  EXPECT_TRUE(IsEmptyExtendedItem(item));
  ASSERT_EQ(RemovePartitionOfItem(item), EditResult::Ok);
  auto rows = After();
  ExpectKept(rows, {MiB(31)});
  EXPECT_EQ(rows, (std::vector<Row>{{MiB(1), MiB(20), 7}, {MiB(140), MiB(20), 7}}));
}

TEST_P(PartitionTableEditTest, RemovalWithoutAnItemWritesNothing) {
  Make(Standard());
  EXPECT_EQ(RemovePartitionOfItem(-1), EditResult::CannotFindPartition);
  EXPECT_EQ(RemovePartitionOfItem(partition_fixture::FreeItem(true, 0)), EditResult::CannotFindPartition);
  EXPECT_EQ(ReadTable(pc->Image(0), ss), before);
}

TEST_P(PartitionTableEditTest, DisksWithoutAnMbrAreLeftAlone) {
  // A GPT disk and a whole-disk FAT volume: every edit refuses, nothing changes.
  for (int kind = 0; kind < 2; ++kind) {
    SCOPED_TRACE(kind);
    Fresh();
    pc->AddDisk(DiskSpec{.number = 0, .sizeBytes = 128ull << 20, .sectorSize = ss});
    if (kind == 0)
      pc->WriteGpt(0, {{.start = MiB(1), .count = MiB(20)}, {.start = MiB(60), .count = MiB(20)}});
    else
      pc->WriteSuperfloppy(0, "fat16");
    uint64_t whole = partition_fixture::HashSectors(*pc, 0, 0, MiB(128));
    partition_fixture::OpenManagerOn(*pc);
    int item = kind == 0 ? partition_fixture::FreeItem(false, 0) : -1;
    ChooseWizard(kind == 0 ? item : 0, 16, true, u"NTFS");
    if (kind == 1) PartitionManagerState.cursorItem = PartitionManagerState.wizardItem = -1;
    EXPECT_EQ(CreatePartitionFromWizard(), EditResult::NotMbrDisk);
    if (kind == 0) {
      EXPECT_EQ(CreateLogicalDrive(), EditResult::NotMbrDisk);
      EXPECT_EQ(RemovePartitionOfItem(partition_fixture::ItemAt(UnitsOf(MiB(1)))), EditResult::NotMbrDisk);
    }
    EXPECT_EQ(partition_fixture::HashSectors(*pc, 0, 0, MiB(128)), whole);
  }
}

TEST_P(PartitionTableEditTest, LogicalDriveWithoutFileSystemOrExtendedPartitionWritesNothing) {
  Make({{.start = MiB(1), .count = MiB(20), .mbrType = 0x07}});
  ChooseWizard(partition_fixture::FreeItem(false, 0), 20, false, u"");
  EXPECT_EQ(CreateLogicalDrive(), EditResult::NoFileSystem);
  PartitionManagerState.fileSystemName = CString(u"NTFS");
  EXPECT_EQ(CreateLogicalDrive(), EditResult::NoExtendedPartition);
  EXPECT_EQ(ReadTable(pc->Image(0), ss), before);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, PartitionTableEditTest, ::testing::Values(512u, 4096u));

TEST(PartitionTypeFromFsNameTest, KnownNamesOnly) {
  EXPECT_EQ(PartitionTypeFromFsName(CString(u"FAT")), 6);
  EXPECT_EQ(PartitionTypeFromFsName(CString(u"FAT32")), 12);
  EXPECT_EQ(PartitionTypeFromFsName(CString(u"NTFS")), 7);
  EXPECT_EQ(PartitionTypeFromFsName(CString(u"ntfs")), -1);
  EXPECT_EQ(PartitionTypeFromFsName(CString(u"")), -1);
}

// Sizes of 1 TiB and more neither wrap nor turn negative: a 1,500,000 MB
// partition behind a small one on a 3 TiB disk is written whole, and the MBR's
// 2^32-sector limit bounds a free item that reaches past it.
TEST(PartitionTableEditLargeTest, TerabyteSizesKeepTheirValue) {
  SimulatedPc pc;
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 3ull << 40, .sectorSize = 512});
  pc.WriteMbr(0, {{.start = 2048, .count = 20 * 2048, .mbrType = 0x07}});
  partition_fixture::OpenManagerOn(pc);
  auto& s = PartitionManagerState;
  int item = partition_fixture::FreeItem(false, 0);
  ASSERT_GE(item, 0);
  FreeExtent extent;
  ASSERT_TRUE(FreeExtentOfItem(item, false, &extent));
  EXPECT_EQ(extent.end, 0x100000000ull);  // the MBR cannot address beyond 2^32 sectors
  s.cursorItem = s.wizardItem = item;
  s.newSize = 1500000;
  s.primaryChosen = 1;
  s.fileSystemName = CString(u"NTFS");
  ASSERT_EQ(CreatePartitionFromWizard(), EditResult::Ok);
  auto rows = ReadTable(pc.Image(0), 512);
  partition_fixture::ExpectSound(rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], (Row{21 * 2048, 1500000ull * 2048, 7}));
}

}  // namespace
