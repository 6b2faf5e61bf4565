// The partition list reader on images built on a simulated PC, 512- and
// 4096-byte sectors: MBR primaries with an EBR chain, a superfloppy, GPT with
// an MSR; the readings are compared with sfdisk (512) and fdisk -b 4096 as
// independent readers of the same images. Hostile tables (looping and
// unreadable chains, over-full lists) end cleanly.
#include "disk/partition_list.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "fixture_images.h"
#include "platform/storage/volume_table.h"
#include "program_support/language_table.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

struct OracleEntry {
  uint64_t start;  // native sectors
  uint64_t count;
  int type;
};

// The image's MBR/EBR partitions as util-linux reads them, in native sectors.
std::vector<OracleEntry> OracleMbr(const std::string& image, uint32_t sector_size) {
  std::vector<OracleEntry> out;
  for (const auto& row : disk_fixture::FdiskRows(image, sector_size, "Start,Sectors,Id")) {
    if (row.size() < 3) continue;
    out.push_back({std::stoull(row[0]), std::stoull(row[1]), std::stoi(row[2], nullptr, 16)});
  }
  return out;
}

std::vector<int> Types(const PartitionEntry* list, int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back(list[i].type);
  return out;
}

class PartitionListTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ss = GetParam();
    m = ss / 512;
  }
  // Native sectors for a position given in MiB.
  uint64_t MiB(uint64_t n) const { return (n << 20) / ss; }
  SimulatedPc pc;
  uint32_t ss = 512;
  uint64_t m = 1;
};

TEST_P(PartitionListTest, MbrPrimariesThenTheLogicalPartitionsOfTheChain) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1ull << 30, .sectorSize = ss});
  std::vector<Part> parts = {
      {.start = MiB(1), .count = MiB(16), .mbrType = 0x07, .active = true, .fs = "ntfs"},
      {.start = MiB(17), .count = MiB(8), .mbrType = 0x83},
      {.start = MiB(32), .count = MiB(300), .mbrType = 0x04, .fs = "fat32"},  // says FAT32 in its boot sector
      {.start = MiB(400), .count = MiB(200), .mbrType = 0x0F},
      {.start = MiB(401), .count = MiB(20), .mbrType = 0x07, .logical = true},
      {.start = MiB(430), .count = MiB(20), .mbrType = 0x07, .logical = true},
      {.start = MiB(460), .count = MiB(30), .mbrType = 0x07, .logical = true},
  };
  pc.WriteMbr(0, parts);
  pc.Boot();
  DetectSystemAndSpecialDisks();

  PartitionEntry list[kMaxPartitions] = {};
  int count = ReadPartitionList(list, 0);
  auto oracle = OracleMbr(pc.Image(0), ss);
  // The oracle lists the container too; the reader keeps it only as extendedStart/Length.
  std::vector<OracleEntry> expected;
  for (auto& e : oracle)
    if (e.type != 0x05 && e.type != 0x0F) expected.push_back(e);
  ASSERT_EQ(count, static_cast<int>(expected.size()));
  ASSERT_EQ(count, 6);
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].start, expected[i].start * m);
    EXPECT_EQ(list[i].length, expected[i].count * m);
    EXPECT_EQ(list[i].reserved, 0u);
  }
  EXPECT_EQ(Types(list, count), (std::vector<int>{7, 0x83, 11, 7, 7, 7}));
  EXPECT_EQ((std::vector<int>{list[0].slot, list[1].slot, list[2].slot, list[3].slot, list[4].slot, list[5].slot}),
            (std::vector<int>{0, 1, 2, 0, 0, 0}));
  // Each logical partition names its own EBR: the first at the container's
  // start, the others one gap before their partition.
  EXPECT_EQ(list[3].ebrSector, MiB(400));
  EXPECT_EQ(list[4].ebrSector, MiB(429));
  EXPECT_EQ(list[5].ebrSector, MiB(459));
  EXPECT_EQ(list[0].ebrSector, 0u);
  EXPECT_EQ(DiskContext.extendedStart, static_cast<int64_t>(MiB(400)));
  EXPECT_EQ(DiskContext.extendedLength, MiB(200));
  EXPECT_EQ(DiskContext.isGptDisk, 0);
  EXPECT_EQ(DiskContext.partitionCount, 6);
  EXPECT_FALSE(DiskContext.currentDiskOpen);
}

// Small sticks formatted without a table: FAT12 and FAT16 keep their sector
// count in the 16-bit field (mtools' minfo reads it as the "small size"), and
// a FAT12 volume is FAT, not NTFS.
TEST_P(PartitionListTest, SmallFatSuperfloppiesTakeTheirSizeAndTypeFromTheFileSystem) {
  struct Case {
    std::string fs;
    uint64_t size;
  } cases[] = {{"fat12", 4ull << 20}, {"fat16", ss == 512 ? 24ull << 20 : 128ull << 20}};
  int n = 0;
  for (auto& c : cases) {
    pc.AddDisk(DiskSpec{.number = n, .sizeBytes = c.size, .sectorSize = ss, .tracksPerCylinder = 4, .sectorsPerTrack = 16});
    pc.WriteSuperfloppy(n++, c.fs);
  }
  pc.Boot();
  DetectSystemAndSpecialDisks();
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(cases[i].fs);
    std::string info;
    ASSERT_EQ(Shell("minfo -i " + pc.Image(i) + " ::", &info), 0);
    auto at = info.find("small size: ");
    ASSERT_NE(at, std::string::npos) << info;
    uint64_t sectors = std::stoull(info.substr(at + 12));
    EXPECT_EQ(sectors, cases[i].size / ss);
    PartitionEntry list[kMaxPartitions] = {};
    ASSERT_EQ(ReadPartitionList(list, i), 1);
    EXPECT_EQ(list[0].type, FS_FAT16);
    EXPECT_EQ(list[0].start, 0u);
    EXPECT_EQ(list[0].length, sectors * m);
  }
}

TEST_P(PartitionListTest, UnknownTypesAndAnEmptyExtendedPartition) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 256ull << 20, .sectorSize = ss});
  pc.WriteMbr(0, {{.start = MiB(1), .count = MiB(8), .mbrType = 0x2A},
                  {.start = MiB(16), .count = MiB(64), .mbrType = 0x05}});
  pc.Boot();
  DetectSystemAndSpecialDisks();
  PartitionEntry list[kMaxPartitions] = {};
  int count = ReadPartitionList(list, 0);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(list[0].type, 0) << "0x2A is not in the type table";
  EXPECT_EQ(list[1].type, 15) << "an extended partition whose chain yields nothing is one covering record";
  EXPECT_EQ(list[1].start, MiB(16) * m);
  EXPECT_EQ(list[1].length, MiB(64) * m);
  EXPECT_EQ(list[1].slot, 4);
}

TEST_P(PartitionListTest, SuperfloppiesAreOneRecordCoveringTheVolume) {
  struct Case {
    std::string fs;
    int type;
  } cases[] = {{"fat32", 11}, {"ntfs", 7}, {"fat16", 6}};
  int n = 0;
  uint64_t size = 320ull << 20;
  for (auto& c : cases) {
    pc.AddDisk(DiskSpec{.number = n, .sizeBytes = size, .sectorSize = ss});
    pc.WriteSuperfloppy(n, c.fs);
    ++n;
  }
  // The FAT16 one keeps the OEM name of another formatter.
  pc.WriteBytes(2, 3, std::string("MSWIN4.1"));
  pc.Boot();
  DetectSystemAndSpecialDisks();
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(cases[i].fs);
    PartitionEntry list[kMaxPartitions] = {};
    ASSERT_EQ(ReadPartitionList(list, i), 1);
    EXPECT_EQ(list[0].type, cases[i].type);
    EXPECT_EQ(list[0].start, 0u);
    // In 512-byte units on either disk: mkntfs leaves the last sector for the
    // backup boot sector; mtools tells the size of a FAT volume.
    uint64_t expected = cases[i].fs == "ntfs" ? (size / ss - 1) * m : size / 512;
    if (cases[i].fs != "ntfs") {
      std::string info;
      ASSERT_EQ(Shell("minfo -i " + pc.Image(i) + " ::", &info), 0);
      auto at = info.find("big size: ");
      ASSERT_NE(at, std::string::npos) << info;
      expected = std::stoull(info.substr(at + 10)) * m;
    }
    EXPECT_EQ(list[0].length, expected);
  }
}

TEST_P(PartitionListTest, GptSkipsTheReservedPartitionAndTypesEntriesByTheirVolumes) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1ull << 30, .sectorSize = ss});
  pc.WriteGpt(0, {
                     {.start = MiB(1), .count = MiB(100), .gptType = disk_fixture::kGptEsp, .name = u"EFI system partition",
                      .fs = "fat16"},
                     {.start = MiB(101), .count = MiB(16), .gptType = disk_fixture::kGptMsr, .name = disk_fixture::kMsrName},
                     {.start = MiB(117), .count = MiB(64), .name = u"Basic data partition", .fs = "ntfs"},
                     {.start = MiB(181), .count = MiB(300), .name = u"Data", .fs = "fat32"},
                     {.start = MiB(500), .count = MiB(32), .gptType = disk_fixture::kGptLinux, .name = u"linux"},
                     {.start = MiB(540), .count = MiB(32), .name = u"empty"},
                 });
  if (ss == 512) {
    EXPECT_EQ(Shell("sgdisk -v " + pc.Image(0)), 0) << "the fixture wrote a valid GPT";
  }
  pc.Boot();
  DetectSystemAndSpecialDisks();
  PartitionEntry list[kMaxPartitions] = {};
  int count = ReadPartitionList(list, 0);
  EXPECT_EQ(DiskContext.isGptDisk, 1);
  EXPECT_EQ(DiskContext.msrIndex, 1);
  ASSERT_EQ(count, 5) << "every entry but the reserved one, also past the fourth entry of a sector";
  std::vector<uint64_t> starts = {MiB(1), MiB(117), MiB(181), MiB(500), MiB(540)};
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].start, starts[i] * m);
  }
  EXPECT_EQ(list[1].length, MiB(64) * m);
  // The types follow the platform's view of each extent: a lettered volume by
  // its file system, an unlettered one by its path, no volume 0xEF.
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    int expected = FS_GPT_NO_VOLUME;
    for (auto& v : platform::storage::MountedVolumes()) {
      if (v.disk_number != 0 || v.offset != list[i].start * 512) continue;
      expected = v.file_system == "NTFS"                                 ? 7
                 : v.file_system == "FAT32"                              ? 12
                 : v.file_system == "FAT16" || v.file_system == "FAT12" ? 6
                                                                          : 0;
    }
    EXPECT_EQ(list[i].type, expected);
  }
  EXPECT_EQ(list[0].type, 6) << "the unlettered FAT volume, found by its volume path";
  EXPECT_EQ(FindLetterByOffset(list[0].start, 0), -1);
  EXPECT_EQ(list[1].type, 7) << "the lettered NTFS volume";
  EXPECT_GT(FindLetterByOffset(list[1].start, 0), 0);
  EXPECT_EQ(list[2].type, 12);

  // An entry added behind the mount manager's back has no volume: 0xEF.
  std::vector<uint8_t> entry(128, 0);
  entry[0] = 0xAF;  // any non-zero type GUID
  uint64_t first = MiB(700), last = MiB(710) - 1;
  for (int b = 0; b < 8; ++b) {
    entry[32 + b] = static_cast<uint8_t>(first >> (8 * b));
    entry[40 + b] = static_cast<uint8_t>(last >> (8 * b));
  }
  pc.WriteBytes(0, 2 * ss + 6 * 128, entry);
  ASSERT_EQ(ReadPartitionList(list, 0), 6);
  EXPECT_EQ(list[5].start, MiB(700) * m);
  EXPECT_EQ(list[5].type, FS_GPT_NO_VOLUME);
}

TEST_P(PartitionListTest, ListsStopAtThirtyTwoRecords) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 512ull << 20, .sectorSize = ss});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 512ull << 20, .sectorSize = ss});
  std::vector<Part> gpt;
  for (int i = 0; i < 40; ++i)
    gpt.push_back({.start = MiB(1 + 2 * i), .count = MiB(1), .gptType = disk_fixture::kGptLinux, .name = u"p"});
  pc.WriteGpt(0, gpt);
  std::vector<Part> mbr = {{.start = MiB(1), .count = MiB(400), .mbrType = 0x05}};
  for (int i = 0; i < 40; ++i) mbr.push_back({.start = MiB(2 + 4 * i), .count = MiB(2), .mbrType = 0x83, .logical = true});
  pc.WriteMbr(1, mbr);
  pc.Boot();
  DetectSystemAndSpecialDisks();
  for (int disk : {0, 1}) {
    SCOPED_TRACE(disk);
    PartitionEntry list[kMaxPartitions + 1] = {};
    list[kMaxPartitions].start = 0xDEAD;
    EXPECT_EQ(ReadPartitionList(list, disk), kMaxPartitions);
    EXPECT_EQ(list[kMaxPartitions].start, 0xDEADu) << "nothing written past the list";
    EXPECT_EQ(list[31].start, (disk == 0 ? MiB(63) : MiB(126)) * m);
  }
}

TEST_P(PartitionListTest, DamagedChainsEndTheListWithoutRepeatingEntries) {
  for (int n = 0; n < 3; ++n) pc.AddDisk(DiskSpec{.number = n, .sizeBytes = 256ull << 20, .sectorSize = ss});
  std::vector<Part> chain = {{.start = MiB(1), .count = MiB(100), .mbrType = 0x0F},
                             {.start = MiB(2), .count = MiB(10), .mbrType = 0x07, .logical = true},
                             {.start = MiB(20), .count = MiB(10), .mbrType = 0x07, .logical = true},
                             {.start = MiB(40), .count = MiB(10), .mbrType = 0x07, .logical = true}};
  // Disk 0: the third EBR links back to the first.
  pc.WriteMbr(0, chain);
  std::vector<uint8_t> link = {0x00, 0xFE, 0xFF, 0xFF, 0x05, 0xFE, 0xFF, 0xFF, 0, 0, 0, 0, 0x10, 0, 0, 0};
  pc.WriteBytes(0, (MiB(39)) * ss + 462, link);
  // Disk 1: the second EBR cannot be read.
  pc.WriteMbr(1, chain);
  pc.SetIni("disk 1", "unreadable", std::to_string(MiB(19)));
  // Disk 2: a GPT whose second entry sector cannot be read (512) / the header
  // promises an entry array that lies on an unreadable sector (4096).
  std::vector<Part> gpt;
  for (int i = 0; i < 10; ++i)
    gpt.push_back({.start = MiB(1 + 2 * i), .count = MiB(1), .gptType = disk_fixture::kGptLinux, .name = u"p"});
  pc.WriteGpt(2, gpt);
  pc.SetIni("disk 2", "unreadable", ss == 512 ? "3" : "2");
  pc.Boot();
  DetectSystemAndSpecialDisks();
  PartitionEntry list[kMaxPartitions] = {};
  EXPECT_EQ(ReadPartitionList(list, 0), 3) << "the loop back to the first EBR ends the chain";
  EXPECT_EQ(list[2].start, MiB(40) * m);
  EXPECT_EQ(ReadPartitionList(list, 1), 1) << "an unreadable EBR ends the chain";
  EXPECT_EQ(list[0].start, MiB(2) * m);
  EXPECT_EQ(ReadPartitionList(list, 2), ss == 512 ? 4 : 0) << "an unreadable entry sector ends the list";
  EXPECT_EQ(ReadPartitionList(list, 7), -1) << "no such disk";
  EXPECT_EQ(DiskContext.partitionCount, 0);
}

TEST_P(PartitionListTest, BasicReaderKeepsTableValuesAndPutsLogicalsLast) {
  // Disk 0: a small superfloppy (FAT16, then FAT32 boot sector texts); disk 1:
  // an MBR whose extended entry comes first in the table.
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 320ull << 20, .sectorSize = ss});
  pc.WriteSuperfloppy(0, "fat16");
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 512ull << 20, .sectorSize = ss});
  pc.WriteMbr(1, {{.start = MiB(100), .count = MiB(200), .mbrType = 0x05},
                  {.start = MiB(1), .count = MiB(50), .mbrType = 0x04, .fs = "fat32"},
                  {.start = MiB(101), .count = MiB(20), .mbrType = 0x07, .logical = true},
                  {.start = MiB(130), .count = MiB(20), .mbrType = 0x07, .logical = true}});
  pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 1200ull << 20, .sectorSize = ss});
  pc.WriteSuperfloppy(2, "fat16");
  pc.Boot();
  DetectSystemAndSpecialDisks();
  PartitionEntry list[kMaxPartitions] = {};
  ASSERT_EQ(ReadPartitionListBasic(list, 1), 1);
  EXPECT_EQ(list[0].type, 4) << "'1' and '6' of the FAT16 text";
  auto boot = pc.ReadBytes(0, 0, 64);
  EXPECT_EQ(list[0].length, static_cast<uint64_t>(boot[32] | boot[33] << 8 | boot[34] << 16 | boot[35] << 24))
      << "the stored count, unscaled";

  ASSERT_EQ(ReadPartitionListBasic(list, 2), 3);
  EXPECT_EQ(list[0].start, MiB(1)) << "table values without the multiplier";
  EXPECT_EQ(list[0].type, 4) << "the type check reads sector 0, so type 4 stays 4";
  EXPECT_EQ(list[0].slot, 1);
  EXPECT_EQ(list[1].start, MiB(101));
  EXPECT_EQ(list[1].ebrSector, MiB(100));
  EXPECT_EQ(list[2].start, MiB(130));
  EXPECT_EQ(list[2].length, MiB(20));

  EXPECT_EQ(ReadPartitionListBasic(list, 3), 0) << "larger than 1 GiB: no superfloppy, and no MBR signature";
  EXPECT_EQ(ReadPartitionListBasic(list, 8), 0) << "no such disk";
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, PartitionListTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "sector" + std::to_string(info.param); });

TEST(PartitionTypeTable, NamesCodesAndKinds) {
  std::set<int> types;
  for (auto& row : mbrTypeTable) {
    types.insert(row.type);
    EXPECT_EQ(row.name[10], 0);
    EXPECT_EQ(row.name[11], 0);
  }
  EXPECT_EQ(types.size(), static_cast<size_t>(kMbrTypeCount)) << "83 distinct type bytes";
  for (int absent : {0x00, 0x05, 0x0F}) EXPECT_EQ(types.count(absent), 0u);

  struct NameCase {
    int type;
    const char16_t* name;
  } names[] = {{0x07, u"NTFS"},       {0x3C, u"PartnMagic"}, {0xFC, u"VMWARESWAP"}, {0x27, u"EISA CFG"},
               {0x02, u"XENIX root"}, {0x9F, u"BSD/OS"},     {0x05, u""},           {0x2A, u""}};
  for (auto& c : names) EXPECT_EQ(PartitionTypeName(c.type), CString(c.name)) << c.type;

  CString unknown = LookupString(u"IDS_UNKNOWN");
  struct TextCase {
    int code;
    CString text;
  } texts[] = {{-1, u"RAW(-1)"},  {1, u"FAT16(1)"},   {30, u"FAT16(30)"},   {7, u"NTFS(7)"},
               {28, u"FAT32(28)"}, {12, u"FAT32(12)"}, {131, u"LINUX(131)"}, {0xEF, unknown + u"(239)"},
               {0, unknown + u"(0)"}};
  for (auto& c : texts) EXPECT_EQ(FileSystemTypeText(c.code), c.text) << c.code;

  struct KindCase {
    int type, kind;
  } kinds[] = {{5, 100}, {6, 32}, {7, 32}, {9, 32}, {10, 32}, {15, 0}, {11, 0}, {0, 0}};
  for (auto& c : kinds) EXPECT_EQ(PartitionKindValue(c.type), c.kind) << c.type;
}

}  // namespace
