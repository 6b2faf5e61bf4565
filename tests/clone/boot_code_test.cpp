// Boot code and disk signature on the destination of a clone, on simulated
// disks of 512- and 4096-byte sectors: bytes 0-439 of sector 0 become the
// source's boot code or else our own loader, and on an MBR destination the
// sectors before the first partition the source's (as far as both disks'
// first partitions leave room), while the partition entries, signature and
// boot signature stay (checked byte by byte and with sfdisk -d / sgdisk -v);
// the signature copy changes exactly four bytes. A volume's boot code moves
// onto another volume keeping its parameter block (ntfsfix -n, fsck.fat -n).
// The loader itself is checked with ndisasm.
#include "mainapp/clone/boot_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/volume_table.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

constexpr uint64_t kTrackBytes = 63 * 512;

// A recognisable stand-in for a source's boot code: 33 C0, then a pattern.
std::vector<uint8_t> SourceBootCode() {
  std::string pattern = disk_fixture::Pattern(kMbrBootCodeBytes, 7);
  std::vector<uint8_t> code(pattern.begin(), pattern.end());
  code[0] = 0x33;
  code[1] = 0xC0;
  return code;
}

std::string SfdiskDump(const std::string& image) {
  std::string out;
  Shell("sfdisk -d '" + image + "' | grep -v '^device:'", &out);
  return out;
}

struct BootCase {
  uint32_t sectorSize;
  bool sourceHasCode;
};
void PrintTo(const BootCase& c, std::ostream* os) {
  *os << c.sectorSize << (c.sourceHasCode ? " source code" : " own loader");
}

class BootCodeTest : public ::testing::TestWithParam<BootCase> {
 public:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    CloneSettings = CloneSettingsRecord{};
    ss = GetParam().sectorSize;
  }
  uint64_t MiB(uint64_t n) const { return (n << 20) / ss; }

  // Disk 0 the source, its first partition at native sector `sourceFirst`
  // and the sectors before it filled; disk 1 the destination with three
  // primaries (so the entries that the old forms cleared are in use), its
  // first at 1 MiB, and the sectors before it filled otherwise.
  void MakeDisks(bool gptDestination, uint32_t sourceSignature = 0x11223344, uint64_t sourceFirst = 0) {
    if (sourceFirst == 0) sourceFirst = MiB(1);
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20, .sectorSize = ss});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 96ull << 20, .sectorSize = ss, .serial = "SN0002"});
    pc.WriteMbr(0, {{.start = sourceFirst, .count = MiB(32), .mbrType = 0x07, .active = true}}, sourceSignature);
    if (GetParam().sourceHasCode) pc.WriteBytes(0, 0, SourceBootCode());
    pc.WriteBytes(0, ss, disk_fixture::Pattern((sourceFirst - 1) * ss, 5));
    const std::vector<Part> parts = {{.start = MiB(1), .count = MiB(16), .mbrType = 0x07, .active = true},
                                     {.start = MiB(17), .count = MiB(16), .mbrType = 0x27},
                                     {.start = MiB(40), .count = MiB(8), .mbrType = 0x0C}};
    if (gptDestination) {
      pc.WriteGpt(1, parts);
    } else {
      pc.WriteMbr(1, parts, 0xCAFEF00D);
      // What another boot loader may have kept before the first partition,
      // and the partition's own first bytes.
      pc.WriteBytes(1, ss, disk_fixture::Pattern((1 << 20) - ss + 4096, 3));
    }
    pc.Boot();
    DetectSystemAndSpecialDisks();
  }

  std::vector<uint8_t> ExpectedCode() const {
    if (GetParam().sourceHasCode) return SourceBootCode();
    return std::vector<uint8_t>(kOwnMbrBootCode, kOwnMbrBootCode + kMbrBootCodeBytes);
  }

  uint32_t ss = 512;
  SimulatedPc pc;
};

// MBR to MBR: the boot code and the loader's room before the first
// partition move, bounded by the destination's first partition (when the
// source's starts later) or by the source's (when it starts earlier: the
// rest of the destination's room stays).
void ExpectGapCopied(BootCodeTest& t, SimulatedPc& pc, uint32_t ss, uint64_t sourceFirst) {
  t.MakeDisks(false, 0x11223344, sourceFirst);
  const uint64_t room = std::min<uint64_t>(sourceFirst * ss, 1 << 20);  // bytes copied before
  const auto before = pc.ReadBytes(1, 0, (1 << 20) + 4096);
  const auto source = pc.ReadBytes(0, 0, (1 << 20) + 4096);
  const std::string tableBefore = SfdiskDump(pc.Image(1));
  ASSERT_NE(tableBefore.find("type=27"), std::string::npos) << tableBefore;

  ASSERT_TRUE(CopyMbrBootCode(ListedDiskIndex{0}, ListedDiskIndex{1}));

  const auto after = pc.ReadBytes(1, 0, (1 << 20) + 4096);
  EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + kMbrBootCodeBytes), t.ExpectedCode());
  EXPECT_TRUE(std::equal(after.begin() + kMbrBootCodeBytes, after.begin() + ss, before.begin() + kMbrBootCodeBytes))
      << "signature, entries 1-4 and boot signature stay";
  EXPECT_TRUE(std::equal(after.begin() + ss, after.begin() + room, source.begin() + ss))
      << "the source's sectors before its first partition";
  EXPECT_TRUE(std::equal(after.begin() + room, after.end(), before.begin() + room))
      << "nothing at or behind either first partition";
  EXPECT_EQ(SfdiskDump(pc.Image(1)), tableBefore);
  // The source is only read.
  EXPECT_EQ(pc.ReadBytes(0, 0, (1 << 20) + 4096), source);
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
}

TEST_P(BootCodeTest, TheSectorsBeforeTheFirstPartitionMoveUpToTheDestinationsFirst) {
  ExpectGapCopied(*this, pc, ss, MiB(2));
}

TEST_P(BootCodeTest, TheSectorsBeforeTheFirstPartitionMoveUpToTheSourcesFirst) {
  ExpectGapCopied(*this, pc, ss, (64 << 10) / ss);
}

// The status line, with the English texts of the staged install folder.
TEST_P(BootCodeTest, TheStatusLineNamesBothDisks) {
  pc.AppendIni(std::string("\n[mount P]\npath = P:\nhost = ") + DRUM_STAGE_DIR + "\nread_only = yes\n");
  MakeDisks(false);
  ShellState.programFolder = u"P:";
  ShellState.languageName = u"English";
  ASSERT_TRUE(LoadLanguageStrings());
  ASSERT_TRUE(CopyMbrBootCode(ListedDiskIndex{0}, ListedDiskIndex{1}));
  EXPECT_EQ(platform::to_utf8(CloneRunState.statusText.str()), "Copying the boot code (Disk 0 to Disk 1)");
  LanguageTable = LanguageTableRecord{};
  ShellState = ShellStateRecord{};
}

TEST_P(BootCodeTest, AGptDestinationKeepsItsProtectiveTableAndHeaders) {
  MakeDisks(true);
  const auto before = pc.ReadBytes(1, 0, 34 * ss);
  ASSERT_TRUE(CopyMbrBootCode(ListedDiskIndex{0}, ListedDiskIndex{1}));
  const auto after = pc.ReadBytes(1, 0, 34 * ss);
  EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + kMbrBootCodeBytes), ExpectedCode());
  EXPECT_TRUE(std::equal(after.begin() + kMbrBootCodeBytes, after.end(), before.begin() + kMbrBootCodeBytes));
  if (ss == 512) {  // sgdisk reads image files as 512-byte-sector disks
    std::string out;
    EXPECT_EQ(Shell("sgdisk -v '" + pc.Image(1) + "'", &out), 0) << out;
    EXPECT_NE(out.find("No problems found"), std::string::npos) << out;
  }
}

TEST_P(BootCodeTest, TheSignatureCopyChangesExactlyFourBytes) {
  MakeDisks(false);
  const auto before = pc.ReadBytes(1, 0, ss);
  CloneSettings.sourceDisk = ListedDiskIndex{0};
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{1};
  ASSERT_TRUE(CopyDiskSignature());
  const auto after = pc.ReadBytes(1, 0, ss);
  for (size_t i = 0; i < after.size(); ++i) {
    if (i >= kMbrSignatureOffset && i < kMbrSignatureOffset + 4) continue;
    ASSERT_EQ(after[i], before[i]) << "byte " << i;
  }
  EXPECT_EQ(std::vector<uint8_t>(after.begin() + 440, after.begin() + 444),
            (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
  std::string dump;
  Shell("sfdisk -d '" + pc.Image(1) + "' | grep label-id", &dump);
  EXPECT_NE(dump.find("0x11223344"), std::string::npos) << dump;
}

TEST_P(BootCodeTest, NoSignatureOrNoDiskWritesNothing) {
  MakeDisks(false, 0);
  const auto before = pc.ReadBytes(1, 0, ss);
  EXPECT_FALSE(CopyDiskSignatureBetween(ListedDiskIndex{0}, ListedDiskIndex{1})) << "a zero signature is not given to the destination";
  EXPECT_FALSE(CopyDiskSignatureBetween(ListedDiskIndex{0}, ListedDiskIndex{5})) << "no such listed disk";
  EXPECT_FALSE(CopyDiskSignatureBetween(ListedDiskIndex{6}, ListedDiskIndex{1}));
  EXPECT_FALSE(CopyMbrBootCode(ListedDiskIndex{7}, ListedDiskIndex{1}));
  EXPECT_FALSE(CopyMbrBootCode(ListedDiskIndex{0}, ListedDiskIndex{9}));
  EXPECT_EQ(pc.ReadBytes(1, 0, ss), before);
}

INSTANTIATE_TEST_SUITE_P(Disks, BootCodeTest,
                         ::testing::Values(BootCase{512, true}, BootCase{512, false}, BootCase{4096, true},
                                           BootCase{4096, false}),
                         [](const auto& info) {
                           return std::to_string(info.param.sectorSize) +
                                  (info.param.sourceHasCode ? "_SourceCode" : "_OwnLoader");
                         });

// Between disks of different sector sizes the loader's room moves as bytes
// from each disk's sector 1 on (a loader that MBR code reads from sector 1
// on stays in one piece), bounded by the room of both and cut to whole
// destination sectors; the rest of the destination's room and its sector 0
// past the boot code stay. Checked with cmp on the images.
TEST(LoaderGap, MovesBetweenSectorSizesAsBytes) {
  struct Case {
    uint32_t sourceSector;
    uint64_t sourceFirst;  // native sectors
    uint32_t destinationSector;
    uint64_t destinationFirst;
    uint64_t copied;  // bytes
  } cases[] = {
      {512, 2048, 4096, 256, (1 << 20) - 4096},  // both at 1 MiB: the destination's room is smaller
      {4096, 256, 512, 2048, (1 << 20) - 4096},  // the source's room is smaller
      {512, 63, 4096, 256, 28672},               // 62 sectors of 512 bytes: whole 4096-byte sectors only
      {4096, 256, 512, 63, 62 * 512},            // up to a destination partition on the first track
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sourceSector) + " -> " + std::to_string(c.destinationSector) + ", " +
                 std::to_string(c.sourceFirst) + " -> " + std::to_string(c.destinationFirst));
    DiskContext = DiskContextRecord{};
    SimulatedPc pc;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20, .sectorSize = c.sourceSector});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 64ull << 20, .sectorSize = c.destinationSector, .serial = "SN2"});
    pc.WriteMbr(0, {{.start = c.sourceFirst, .count = (16ull << 20) / c.sourceSector, .active = true}}, 0x11223344);
    pc.WriteBytes(0, 0, SourceBootCode());
    pc.WriteBytes(0, c.sourceSector, disk_fixture::Pattern((c.sourceFirst - 1) * c.sourceSector, 5));
    pc.WriteMbr(1, {{.start = c.destinationFirst, .count = (16ull << 20) / c.destinationSector, .active = true}},
                0xCAFEF00D);
    const uint64_t destinationRoom = (c.destinationFirst - 1) * c.destinationSector;
    pc.WriteBytes(1, c.destinationSector, disk_fixture::Pattern(destinationRoom, 3));
    pc.Boot();
    DetectSystemAndSpecialDisks();
    const auto before = pc.ReadBytes(1, 0, c.destinationFirst * c.destinationSector);
    ASSERT_TRUE(CopyMbrBootCode(ListedDiskIndex{0}, ListedDiskIndex{1}));
    const auto after = pc.ReadBytes(1, 0, c.destinationFirst * c.destinationSector);
    EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + kMbrBootCodeBytes), SourceBootCode());
    EXPECT_TRUE(std::equal(after.begin() + kMbrBootCodeBytes, after.begin() + c.destinationSector,
                           before.begin() + kMbrBootCodeBytes))
        << "the destination's sector 0 past the boot code stays";
    const std::string skip = std::to_string(c.sourceSector) + ":" + std::to_string(c.destinationSector);
    EXPECT_EQ(Shell("cmp -n " + std::to_string(c.copied) + " -i " + skip + " " + pc.Image(0) + " " + pc.Image(1)), 0)
        << "the room's bytes";
    const uint64_t end = c.destinationSector + c.copied;
    EXPECT_TRUE(std::equal(after.begin() + end, after.end(), before.begin() + end)) << "the rest of the room stays";
    if (end < after.size()) {
      EXPECT_NE(Shell("cmp -s -n 512 -i " + std::to_string(c.sourceSector + c.copied) + ":" + std::to_string(end) +
                      " " + pc.Image(0) + " " + pc.Image(1)),
                0)
          << "nothing past the bound";
    }
    EXPECT_EQ(DiskContext.ioErrorCount, 0);
  }
}

// The drive text ("D:") of the volume at byte `offset` of disk `disk`.
std::u16string DriveAt(int disk, uint64_t offset) {
  for (const auto& v : platform::storage::MountedVolumes())
    if (v.disk_number == disk && v.offset == offset && v.letter) return std::u16string(1, v.letter) + u":";
  ADD_FAILURE() << "no lettered volume at " << offset << " of disk " << disk;
  return u"Q:";
}

// A volume's boot code moved onto another volume, keeping each destination's
// parameter block: NTFS (8 KiB of boot code, bytes 11-83 kept) onto a larger
// NTFS volume and onto one on a 4096-byte disk, each backup boot sector
// following, ntfsfix -n clean; FAT32 (sector 0 but bytes 11-89, and the other
// code sectors 2 and 12) onto a FAT32 volume whose information sector and
// backup boot sectors stay its own, fsck.fat -n clean. Refused untouched: a
// FAT16 destination for NTFS code, a FAT32 one on another sector size, a
// missing volume, and code whose jump lands inside the parameter block kept.
// The sources are never written.
TEST(TransplantBootSector, KeepsTheDestinationsParameterBlock) {
  SimulatedPc pc;
  constexpr uint64_t kNtfs = 2048 * 512, kFat32 = 44 * 2048 * 512;  // bytes on disk 0
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 96ull << 20});
  pc.WriteMbr(0, {{.start = 2048, .count = 40 * 2048, .mbrType = 0x07, .fs = "ntfs", .label = "SRC"},
                  {.start = 44 * 2048, .count = 40 * 2048, .mbrType = 0x0C, .fs = "fat32", .label = "SRC32"}});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 192ull << 20, .serial = "SN0002"});
  pc.WriteMbr(1, {{.start = 2048, .count = 60 * 2048, .mbrType = 0x07, .fs = "ntfs", .label = "DST"},
                  {.start = 62 * 2048, .count = 40 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "FAT"},
                  {.start = 104 * 2048, .count = 50 * 2048, .mbrType = 0x0C, .fs = "fat32", .label = "DST32"}});
  // The fixture names its FAT volumes' maker in sector 0 only: the backup
  // boot sector is made to match it again, as a formatter leaves it.
  pc.WriteBytes(1, 104 * 2048 * 512 + 6 * 512, pc.ReadBytes(1, 104 * 2048 * 512, 512));
  pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 512ull << 20, .sectorSize = 4096, .serial = "SN0003"});
  pc.WriteMbr(2, {{.start = 256, .count = 40 * 256, .mbrType = 0x07, .fs = "ntfs", .label = "NATIVE"},
                  {.start = 42 * 256, .count = 400 * 256, .mbrType = 0x0C, .fs = "fat32", .label = "NATIVE32"}});
  // Recognisable boot code on the sources, behind their own parameter blocks:
  // NTFS's first sector and the rest of its 8 KiB, FAT32's sector 0 and its
  // sectors 2 and 12.
  pc.WriteBytes(0, kNtfs + 84, disk_fixture::Pattern(510 - 84, 11));
  pc.WriteBytes(0, kNtfs + 512, disk_fixture::Pattern(8192 - 512, 12));
  pc.WriteBytes(0, kFat32 + 90, disk_fixture::Pattern(510 - 90, 13));
  pc.WriteBytes(0, kFat32 + 2 * 512, disk_fixture::Pattern(512, 14));
  pc.WriteBytes(0, kFat32 + 12 * 512, disk_fixture::Pattern(512, 15));
  pc.Boot();
  const auto source = pc.ReadBytes(0, 0, 96ull << 20);
  const std::u16string ntfsSource = DriveAt(0, kNtfs), fatSource = DriveAt(0, kFat32);

  struct Case {
    const char* what;
    const std::u16string& from;
    uint64_t fromOffset;
    int disk;
    uint64_t offset;    // bytes
    uint64_t sectors;   // native sectors of the destination volume
    bool moved;
  };
  const Case cases[] = {
      {"NTFS onto NTFS", ntfsSource, kNtfs, 1, 2048 * 512, 60 * 2048, true},
      {"NTFS onto FAT16", ntfsSource, kNtfs, 1, 62 * 2048 * 512, 40 * 2048, false},
      {"NTFS onto 4096-byte NTFS", ntfsSource, kNtfs, 2, 256 * 4096, 40 * 256, true},
      {"FAT32 onto FAT32", fatSource, kFat32, 1, 104 * 2048 * 512, 50 * 2048, true},
      {"FAT32 onto 4096-byte FAT32", fatSource, kFat32, 2, 42 * 256 * 4096, 400 * 256, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t ss = pc.SectorSize(c.disk);
    const bool ntfs = std::string(c.what).rfind("NTFS", 0) == 0;
    const auto before = pc.ReadBytes(c.disk, c.offset, 16 * ss);
    EXPECT_EQ(TransplantBootSector(c.from, DriveAt(c.disk, c.offset)), c.moved);
    platform::fs::ReleaseAllDrivers();
    const auto after = pc.ReadBytes(c.disk, c.offset, 16 * ss);
    if (!c.moved) {
      EXPECT_EQ(after, before);
      continue;
    }
    const auto code = pc.ReadBytes(0, c.fromOffset, 16 * 512);
    const size_t kept = ntfs ? 84 : 90;
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 11, code.begin()));
    EXPECT_TRUE(std::equal(after.begin() + 11, after.begin() + kept, before.begin() + 11)) << "the parameter block";
    std::string out;
    const std::string copy = pc.ExtractVolume(c.disk, c.offset / ss, c.sectors, "transplanted.img");
    if (ntfs) {
      EXPECT_TRUE(std::equal(after.begin() + kept, after.begin() + 8192, code.begin() + kept)) << "all 8 KiB";
      EXPECT_TRUE(std::equal(after.begin() + 8192, after.end(), before.begin() + 8192));
      const auto backup = pc.ReadBytes(c.disk, c.offset + (c.sectors - 1) * ss, ss);
      EXPECT_TRUE(std::equal(backup.begin(), backup.end(), after.begin())) << "the backup boot sector follows";
      EXPECT_EQ(Shell("ntfsfix -n " + copy, &out), 0) << out;
    } else {
      auto sector = [&](const std::vector<uint8_t>& b, int n) {
        return std::vector<uint8_t>(b.begin() + n * 512, b.begin() + (n + 1) * 512);
      };
      EXPECT_TRUE(std::equal(after.begin() + kept, after.begin() + 512, code.begin() + kept));
      EXPECT_EQ(sector(after, 2), sector(code, 2));
      EXPECT_EQ(sector(after, 12), sector(code, 12));
      EXPECT_EQ(sector(after, 1), sector(before, 1)) << "the information sector stays";
      EXPECT_EQ(sector(after, 7), sector(before, 7));
      EXPECT_EQ(sector(after, 6), sector(after, 0)) << "the backup boot sector follows";
      EXPECT_EQ(Shell("fsck.fat -n " + copy, &out), 0) << out;
    }
  }
  const std::u16string target = DriveAt(1, 2048 * 512);
  EXPECT_FALSE(TransplantBootSector(ntfsSource, u"Q:")) << "no such volume";
  EXPECT_TRUE(pc.ReadBytes(0, 0, 96ull << 20) == source) << "the source volumes were written";
  // Code whose jump lands inside the parameter block that would be kept.
  pc.WriteBytes(0, kNtfs, std::vector<uint8_t>{0xEB, 0x30, 0x90});
  const auto before = pc.ReadBytes(1, 2048 * 512, 8192);
  EXPECT_FALSE(TransplantBootSector(ntfsSource, target));
  EXPECT_EQ(pc.ReadBytes(1, 2048 * 512, 8192), before);
}

// The loader compiled in is the assembled one: 440 bytes that ndisasm decodes
// into the moving, the extended and CHS reads and the jump to the loaded
// volume boot code.
TEST(OwnMbrLoader, IsTheAssembledRealModeLoader) {
  ASSERT_EQ(kOwnMbrBootCodeSize, static_cast<size_t>(kMbrBootCodeBytes));
  EXPECT_TRUE(HasMbrBootCode(kOwnMbrBootCode));
  const std::string path = ::testing::TempDir() + "own_mbr.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(kOwnMbrBootCode), kMbrBootCodeBytes);
  }
  std::string listing;
  ASSERT_EQ(Shell("ndisasm -b16 -o 0x600 '" + path + "'", &listing), 0);
  std::remove(path.c_str());
  for (const char* expected : {"xor ax,ax", "rep movsw", "jmp 0x0:0x61c", "cmp byte [si],0x80", "mov ah,0x42",
                               "mov ax,0x201", "int 0x13", "cmp word [0x7dfe],0xaa55", "jmp 0x0:0x7c00"})
    EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
}

}  // namespace
