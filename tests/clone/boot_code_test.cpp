// Boot code and disk signature on the destination of a clone, on simulated
// disks of 512- and 4096-byte sectors: only bytes 0-439 of sector 0 change
// (the partition entries, signature, boot signature and the rest of the first
// track stay, checked byte by byte and with sfdisk -d / sgdisk -v), the
// source's boot code or else our own loader; and the signature copy changes
// exactly four bytes. The loader itself is checked with ndisasm.
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
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    CloneSettings = CloneSettingsRecord{};
    ss = GetParam().sectorSize;
  }
  uint64_t MiB(uint64_t n) const { return (n << 20) / ss; }

  // Disk 0 the source, disk 1 the destination with three primaries (so the
  // entries that the old forms cleared are in use) and a filled first track.
  void MakeDisks(bool gptDestination, uint32_t sourceSignature = 0x11223344) {
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20, .sectorSize = ss});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 96ull << 20, .sectorSize = ss, .serial = "SN0002"});
    pc.WriteMbr(0, {{.start = MiB(1), .count = MiB(32), .mbrType = 0x07, .active = true}}, sourceSignature);
    if (GetParam().sourceHasCode) pc.WriteBytes(0, 0, SourceBootCode());
    const std::vector<Part> parts = {{.start = MiB(1), .count = MiB(16), .mbrType = 0x07, .active = true},
                                     {.start = MiB(17), .count = MiB(16), .mbrType = 0x27},
                                     {.start = MiB(40), .count = MiB(8), .mbrType = 0x0C}};
    if (gptDestination) {
      pc.WriteGpt(1, parts);
    } else {
      pc.WriteMbr(1, parts, 0xCAFEF00D);
      // Bytes after sector 0 up to the end of the first track: what another
      // boot loader may keep there.
      pc.WriteBytes(1, ss, disk_fixture::Pattern(kTrackBytes, 3));
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

TEST_P(BootCodeTest, OnlyTheBootCodeBytesChangeOnAnMbrDestination) {
  MakeDisks(false);
  const auto before = pc.ReadBytes(1, 0, ss + kTrackBytes);
  const std::string tableBefore = SfdiskDump(pc.Image(1));
  ASSERT_NE(tableBefore.find("type=27"), std::string::npos) << tableBefore;

  ASSERT_TRUE(CopyMbrBootCode(0, 1));

  const auto after = pc.ReadBytes(1, 0, ss + kTrackBytes);
  EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + kMbrBootCodeBytes), ExpectedCode());
  EXPECT_TRUE(std::equal(after.begin() + kMbrBootCodeBytes, after.end(), before.begin() + kMbrBootCodeBytes))
      << "signature, entries 1-4, boot signature and the rest of the track stay";
  EXPECT_EQ(SfdiskDump(pc.Image(1)), tableBefore);
  // The source is only read.
  EXPECT_EQ(pc.ReadBytes(0, 0, 2), (GetParam().sourceHasCode ? std::vector<uint8_t>{0x33, 0xC0}
                                                              : std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
}

// The status line, with the English texts of the staged install folder.
TEST_P(BootCodeTest, TheStatusLineNamesBothDisks) {
  pc.AppendIni(std::string("\n[mount P]\npath = P:\nhost = ") + DRUM_STAGE_DIR + "\nread_only = yes\n");
  MakeDisks(false);
  ShellState.programFolder = u"P:";
  ShellState.languageName = u"English";
  ASSERT_TRUE(LoadLanguageStrings());
  ASSERT_TRUE(CopyMbrBootCode(0, 1));
  EXPECT_EQ(platform::to_utf8(CloneRunState.statusText.str()), "Copying the boot code (Disk 0 to Disk 1)");
  LanguageTable = LanguageTableRecord{};
  ShellState = ShellStateRecord{};
}

TEST_P(BootCodeTest, AGptDestinationKeepsItsProtectiveTableAndHeaders) {
  MakeDisks(true);
  const auto before = pc.ReadBytes(1, 0, 34 * ss);
  ASSERT_TRUE(CopyMbrBootCode(0, 1));
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
  CloneSettings.sourceDisk = 0;
  CloneSettings.chosenDestinationDisk = 1;
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
  EXPECT_FALSE(CopyDiskSignatureBetween(0, 1)) << "a zero signature is not given to the destination";
  EXPECT_FALSE(CopyDiskSignatureBetween(0, 5)) << "no such listed disk";
  EXPECT_FALSE(CopyDiskSignatureBetween(6, 1));
  EXPECT_FALSE(CopyMbrBootCode(7, 1));
  EXPECT_FALSE(CopyMbrBootCode(0, 9));
  EXPECT_EQ(pc.ReadBytes(1, 0, ss), before);
}

INSTANTIATE_TEST_SUITE_P(Disks, BootCodeTest,
                         ::testing::Values(BootCase{512, true}, BootCase{512, false}, BootCase{4096, true},
                                           BootCase{4096, false}),
                         [](const auto& info) {
                           return std::to_string(info.param.sectorSize) +
                                  (info.param.sourceHasCode ? "_SourceCode" : "_OwnLoader");
                         });

// A volume's boot code moved onto another volume: C: (NTFS, disk 0) onto D:
// (a larger NTFS volume) and onto F: (NTFS on a 4096-byte disk) keeps each
// destination's parameter block (bytes 11 to 83 behind EB 52 90) and the
// rest of its first sector, so ntfsfix still finds it whole; E: (FAT16,
// its code behind EB 3C) and a missing volume are refused untouched. The
// source is never written.
TEST(TransplantBootSector, KeepsTheDestinationsParameterBlock) {
  SimulatedPc pc;
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20});
  pc.WriteMbr(0, {{.start = 2048, .count = 40 * 2048, .mbrType = 0x07, .fs = "ntfs", .label = "SRC"}});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 128ull << 20, .serial = "SN0002"});
  pc.WriteMbr(1, {{.start = 2048, .count = 60 * 2048, .mbrType = 0x07, .fs = "ntfs", .label = "DST"},
                  {.start = 62 * 2048, .count = 40 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "FAT"}});
  pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 96ull << 20, .sectorSize = 4096, .serial = "SN0003"});
  pc.WriteMbr(2, {{.start = 256, .count = 40 * 256, .mbrType = 0x07, .fs = "ntfs", .label = "NATIVE"}});
  // A recognisable boot code on the source, behind its own parameter block.
  pc.WriteBytes(0, 2048 * 512 + 84, disk_fixture::Pattern(510 - 84, 11));
  pc.Boot();
  const auto source = pc.ReadBytes(0, 0, 64ull << 20);

  struct Case {
    const char16_t* volume;
    int disk;
    uint64_t offset;  // bytes
    bool moved;
  };
  for (const Case& c : {Case{u"D:", 1, 2048 * 512, true}, Case{u"E:", 1, 62 * 2048 * 512, false},
                        Case{u"F:", 2, 256 * 4096, true}, Case{u"Q:", 1, 0, false}}) {
    SCOPED_TRACE(platform::to_utf8(c.volume));
    const auto before = pc.ReadBytes(c.disk, c.offset, 4096);
    if (c.moved) {
      ASSERT_EQ(before[1], 0x52) << "an NTFS boot sector opens EB 52 90";
    }
    EXPECT_EQ(TransplantBootSector(u"C:", c.volume), c.moved);
    const auto after = pc.ReadBytes(c.disk, c.offset, 4096);
    if (!c.moved) {
      EXPECT_EQ(after, before);
      continue;
    }
    const auto code = pc.ReadBytes(0, 2048 * 512, 512);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 11, code.begin()));
    EXPECT_TRUE(std::equal(after.begin() + 11, after.begin() + 84, before.begin() + 11));
    EXPECT_TRUE(std::equal(after.begin() + 84, after.begin() + 512, code.begin() + 84));
    EXPECT_TRUE(std::equal(after.begin() + 512, after.end(), before.begin() + 512));
    const uint32_t ss = pc.SectorSize(c.disk);
    const std::string copy = pc.ExtractVolume(c.disk, c.offset / ss, (c.disk == 1 ? 60 * 2048 * 512 : 40 * 256 * 4096) / ss,
                                              "transplanted.img");
    std::string out;
    EXPECT_EQ(Shell("ntfsfix -n " + copy, &out), 0) << out;
  }
  EXPECT_TRUE(pc.ReadBytes(0, 0, 64ull << 20) == source) << "the source volume was written";
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
