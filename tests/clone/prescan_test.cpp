// The bad-sector scan on simulated disks of 512- and 4096-byte sectors with
// fault maps set in machine.ini: a chunk whose read fails is read again
// sector by sector, so every unreadable sector is counted as bad and listed
// by its own number (not its chunk's first sector); a chunk whose failure a
// retry cured is listed as read on a retry, with its range, and counts as an
// error but not as a bad sector. The disk's last, short chunk is read
// without running past the end (the I/O error counter holds exactly the
// failed reads), a partition scan stays inside the partition, and the
// volumes are unlocked again afterwards.
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
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::SimulatedPc;

bool VolumeCanBeLocked(WCHAR letter) {
  HANDLE volume = OpenVolumeDevice(letter);
  if (volume == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const BOOL locked = DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  if (locked) DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseHandle(volume);
  return locked;
}

// A disk of 64 MiB and 5 sectors (no whole number of tracks) with a FAT32
// partition of 16 MiB at 1 MiB.
struct FaultCase {
  const char* what;
  uint32_t sectorSize;
  const char* unreadable;  // machine.ini fault maps, native sectors
  const char* flaky;
  bool partition;          // scan the partition C:, else the whole disk
  std::vector<std::string> lines;
  int32_t bad;             // unreadable sectors inside the target
  int32_t failedReads;     // the I/O error counter after the scan
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.what; }

// Worked out by hand. A chunk is one track of 63 units: 63 native sectors of
// 512 bytes or 7 of 4096, counted from the target's first sector. A flaky
// sector fails the first read that touches it, which is its chunk's read;
// the chunk then reads sector by sector, so its line is the chunk's range.
// The failed reads are one per failing chunk and four per unreadable sector.
const std::string kRead = "Read error in sector ";
const std::string kRetry = ", read on a retry";
std::vector<std::string> Sectors(uint64_t first, uint64_t last) {
  std::vector<std::string> out;
  for (uint64_t s = first; s <= last; ++s) out.push_back(kRead + std::to_string(s));
  return out;
}
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const FaultCase kFaultCases[] = {
    // The sectors 3000-3009 lie in the chunk 2961-3023; the flaky 7000 and
    // 7001 share 6993-7055; 20000 is in 19971-20033 and 60000 in
    // 59976-60038; the disk's last sector 131076 ends the short chunk
    // 131040-131076.
    {"whole 512-byte disk", 512, "3000-3009, 50000, 100000, 131076", "7000, 7001, 20000, 60000", false,
     Join({Sectors(3000, 3009), {kRead + "6993-7055" + kRetry, kRead + "19971-20033" + kRetry}, Sectors(50000, 50000),
           {kRead + "59976-60038" + kRetry}, Sectors(100000, 100000), Sectors(131076, 131076)}),
     13, 7 + 4 * 13},
    // From the partition's first sector 2048: 3000-3009 in 2993-3055, 7000
    // in 6962-7024, 20000 in 19940-20002; 50000 and 60000 lie after it.
    {"512-byte partition", 512, "3000-3009, 50000, 100000", "7000, 7001, 20000, 60000", true,
     Join({Sectors(3000, 3009), {kRead + "6962-7024" + kRetry, kRead + "19940-20002" + kRetry}}), 10, 3 + 4 * 10},
    // 7-sector chunks: 700-706, 1995-2001, 3000-3009 over 2996-3002 and
    // 3003-3009, 5000 in 4998-5004, 8995-9001, 12000, and the last sector
    // 16388.
    {"whole 4096-byte disk", 4096, "3000-3009, 5000, 12000, 16388", "700, 701, 2000, 9000", false,
     Join({{kRead + "700-706" + kRetry, kRead + "1995-2001" + kRetry}, Sectors(3000, 3009), Sectors(5000, 5000),
           {kRead + "8995-9001" + kRetry}, Sectors(12000, 12000), Sectors(16388, 16388)}),
     13, 8 + 4 * 13},
    // From the partition's first sector 256: 697-703, 1999-2005, and
    // 3000-3009 over 3000-3006 and 3007-3013; 5000 lies after it.
    {"4096-byte partition", 4096, "3000-3009, 5000", "700, 2000", true,
     Join({{kRead + "697-703" + kRetry, kRead + "1999-2005" + kRetry}, Sectors(3000, 3009)}), 10, 4 + 4 * 10},
    // A chunk that holds a bad sector and a marginal one: the chunk's read
    // fails on the bad one before it touches the marginal one, whose first
    // read of its own then fails and a retry reads: each by its own number.
    {"bad and marginal sectors in one chunk", 512, "3000", "3001", false,
     {kRead + "3000", kRead + "3001" + kRetry}, 1, 1 + 4 + 1},
};

class PrescanTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ScanState = ScanStateRecord{};
    ss = GetParam().sectorSize;
    total = (64ull << 20) / ss + 5;
    partStart = (1ull << 20) / ss;
    partCount = (16ull << 20) / ss;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = total * ss, .sectorSize = ss});
    pc.WriteMbr(0, {{.start = partStart, .count = partCount, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"}});
    pc.SetIni("disk 0", "unreadable", GetParam().unreadable);
    pc.SetIni("disk 0", "flaky_reads", GetParam().flaky);
    pc.AppendIni(std::string("\n[mount P]\npath = P:\nhost = ") + DRUM_STAGE_DIR + "\nread_only = yes\n");
  }
  void TearDown() override {
    LanguageTable = LanguageTableRecord{};
    ShellState = ShellStateRecord{};
  }
  void Boot() {
    pc.Boot();
    DetectSystemAndSpecialDisks();
    // The list's lines in the staged English texts.
    ShellState.programFolder = u"P:";
    ShellState.languageName = u"English";
    ASSERT_TRUE(LoadLanguageStrings());
  }
  DiskSelectionRecord Target(uint64_t start, uint64_t count, WCHAR letter) const {
    DiskSelectionRecord t{};
    t.diskNumber = PhysicalDiskNumber{0};
    t.kind = start ? kSelectionPartition : kSelectionWholeDisk;
    t.driveLetter = letter;
    t.startSector = start;
    t.sectorCount = count;
    return t;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (const CString& line : ScanState.failedSectors) out.push_back(platform::to_utf8(line.str()));
    return out;
  }

  uint32_t ss = 512;
  uint64_t total = 0, partStart = 0, partCount = 0;
  SimulatedPc pc;
};

// A whole disk's target carries its listed size, which stops at the last
// whole cylinder; the scan still reads to the disk's real end.
TEST_P(PrescanTest, UnreadableSectorsAreBadAndListedOneByOne) {
  const FaultCase& c = GetParam();
  Boot();
  const uint64_t listed = DiskContext.listedDiskSize[1] / (GetParam().sectorSize / 512);
  ASSERT_LT(listed, total - 1);
  ASSERT_TRUE(ScanBadSectors(c.partition ? Target(partStart, partCount, u'C') : Target(0, listed, u' ')));
  EXPECT_EQ(Lines(), c.lines);
  EXPECT_EQ(ScanState.scanErrorCount, static_cast<int32_t>(c.lines.size())) << "one error per listed line";
  EXPECT_EQ(ScanState.badSectorCount, c.bad);
  EXPECT_EQ(DiskContext.ioErrorCount, c.failedReads) << "no read past the end of the disk or the partition";
  EXPECT_EQ(ScanState.scanFinished, 1);
  EXPECT_FALSE(DiskContext.currentDiskOpen);
  EXPECT_TRUE(VolumeCanBeLocked(u'C')) << "the disk's volumes are unlocked again";
}

TEST_P(PrescanTest, ATargetPastTheDisksEndIsCutThere) {
  Boot();
  ASSERT_TRUE(ScanBadSectors(Target(total - 3, 1000, u' ')));
  const bool lastIsBad = std::string(GetParam().unreadable).find(std::to_string(total - 1)) != std::string::npos;
  EXPECT_EQ(ScanState.badSectorCount, lastIsBad ? 1 : 0);
  EXPECT_EQ(DiskContext.ioErrorCount, lastIsBad ? 5 : 0);
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

INSTANTIATE_TEST_SUITE_P(FaultMaps, PrescanTest, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
