// The raw copy engines on a simulated PC: a 512-byte source disk filled
// with a byte pattern, an empty 512-byte and an empty 4096-byte destination.
// What the engines wrote is compared with cmp on the host images; faults
// (unreadable source sectors, failing destination writes, a disk that does
// not open) come from machine.ini.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/clone/raw_copy.h"
#include "mainapp/records/clone_counters.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "program_support/language_table.h"
#include "tests/disk/fixture_images.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

constexpr uint64_t kMiB = 1ull << 20;
// 64 MiB of whole cylinders would not divide by the block; the source holds
// a pattern over its first 40 MiB and zeros after.
constexpr uint64_t kSourceBytes = 64 * kMiB;
constexpr uint64_t kPatternBytes = 40 * kMiB + 4096 * 3;

// cmp over [0, bytes) of two images, skipping `skipA` and `skipB` bytes first.
bool SameBytes(const std::string& a, uint64_t skipA, const std::string& b, uint64_t skipB, uint64_t bytes) {
  return Shell("cmp -s -n " + std::to_string(bytes) + " -i " + std::to_string(skipA) + ":" + std::to_string(skipB) +
               " " + a + " " + b) == 0;
}
bool AllZero(const std::string& image, uint64_t offset, uint64_t bytes) {
  return SameBytes(image, offset, "/dev/zero", 0, bytes);
}

class RawCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    CloneRunState = CloneRunStateRecord{};
    CloneCounters = CloneCountersRecord{};
    CloneSettings = CloneSettingsRecord{};
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = kSourceBytes, .product = "Source", .serial = "S0"});
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 96 * kMiB, .product = "Same", .serial = "S1"});
    pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 96 * kMiB, .sectorSize = 4096, .product = "Big", .serial = "S2"});
    pc_.WriteBytes(0, 0, disk_fixture::Pattern(kPatternBytes, 7));
  }
  void Boot() {
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
    DetectSystemAndSpecialDisks();
  }
  // The listed index of physical disk n.
  ListedDiskIndex Listed(int n) {
    for (int i = 1; i <= DiskContext.diskCount && i <= kMaxListedDisks; ++i)
      if (DiskContext.listedToPhysical[i] == n) return ListedDiskIndex{i - 1};
    ADD_FAILURE() << "disk " << n << " not listed";
    return kNoListedDisk;
  }
  void ChooseWholeSource() {
    CloneSettings.copySourceStart = 0;
    CloneSettings.copySourceLength = DiskContext.listedDiskSize[Listed(0).value + 1];
  }
  SimulatedPc pc_;
};

// A whole-disk copy lands byte for byte on a 512-byte and on a 4096-byte
// disk, up to the source's real end (its listed size stops at the last whole
// cylinder, 2,552 sectors short of 64 MiB); a verify pass over the clean copy
// finds nothing and writes nothing.
TEST_F(RawCopyTest, WholeDiskCopyAndCleanVerify) {
  pc_.WriteBytes(0, kSourceBytes - kMiB, disk_fixture::Pattern(kMiB, 9));  // past the last whole cylinder
  Boot();
  ChooseWholeSource();
  const uint64_t units = kSourceBytes / 512;
  ASSERT_LT(CloneSettings.copySourceLength, units) << "the listed size is the geometry's";
  for (int destination : {1, 2}) {
    SCOPED_TRACE(destination);
    CloneCounters = CloneCountersRecord{};
    DiskContext.ioErrorCount = 0;
    ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(destination), RawPass::Copy));
    EXPECT_EQ(CloneRunState.copiedSectors, units);
    EXPECT_TRUE(SameBytes(pc_.Image(0), 0, pc_.Image(destination), 0, kSourceBytes));
    EXPECT_TRUE(AllZero(pc_.Image(destination), kSourceBytes, 96 * kMiB - kSourceBytes));
    pc_.WriteBytes(destination, kSourceBytes - 512, std::string(512, '\x55'));  // the verify pass reaches the end
    ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(destination), RawPass::Verify));
    EXPECT_EQ(CloneRunState.verifyMismatchCount, 0);
    EXPECT_TRUE(SameBytes(pc_.Image(0), 0, pc_.Image(destination), 0, kSourceBytes));
    EXPECT_EQ(DiskContext.ioErrorCount, 0);
  }
}

// Disks laid out by sgdisk and sfdisk and formatted by mkntfs, copied sector
// by sector onto disks of the same size: the copy is the whole source, so
// sgdisk -v finds the GPT's backup header and entries at the copy's end, and
// NTFS's backup boot sector (the partition's last sector) is there.
TEST_F(RawCopyTest, WholeDiskCopyKeepsTheTablesAndBootSectorsAtTheEnd) {
  struct Case {
    const char* name;
    uint32_t sectorSize;
    bool gpt;
  };
  const Case cases[] = {{"GPT, 512-byte sectors", 512, true}, {"MBR, 4096-byte sectors", 4096, false}};
  const uint64_t size = 100 * kMiB;
  pc_.AddDisk(DiskSpec{.number = 3, .sizeBytes = size, .product = "GptSource", .serial = "S3"});
  pc_.AddDisk(DiskSpec{.number = 4, .sizeBytes = size, .product = "GptCopy", .serial = "S4"});
  pc_.AddDisk(DiskSpec{.number = 5, .sizeBytes = size, .sectorSize = 4096, .product = "MbrSource", .serial = "S5"});
  pc_.AddDisk(DiskSpec{.number = 6, .sizeBytes = size, .sectorSize = 4096, .product = "MbrCopy", .serial = "S6"});
  const std::string scratch = pc_.Image(3) + ".ntfs";
  for (const Case& c : cases) {
    const std::string image = pc_.Image(c.gpt ? 3 : 5);
    uint64_t first = 0, count = 0;  // the partition, in native sectors
    if (c.gpt) {
      ASSERT_EQ(Shell("sgdisk -n 1:2048:0 -t 1:0700 " + image + " >/dev/null"), 0);
      first = 2048;
      count = size / 512 - 33 - first;  // to the last usable sector
    } else {
      first = 256;
      count = size / 4096 - first;
      ASSERT_EQ(Shell("echo 'start=256, size=" + std::to_string(count) + ", type=7' | sfdisk -q " + image), 0);
    }
    ASSERT_EQ(Shell("truncate -s " + std::to_string(count * c.sectorSize) + " " + scratch + " && mkntfs -F -f -q -s " +
                    std::to_string(c.sectorSize) + " -p " + std::to_string(first) + " " + scratch +
                    " >/dev/null 2>&1 && dd if=" + scratch + " of=" + image + " bs=" + std::to_string(c.sectorSize) +
                    " seek=" + std::to_string(first) + " conv=notrunc status=none && rm " + scratch),
              0);
  }
  Boot();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int source = c.gpt ? 3 : 5, destination = c.gpt ? 4 : 6;
    CloneSettings.copySourceStart = 0;
    CloneSettings.copySourceLength = DiskContext.listedDiskSize[Listed(source).value + 1];
    ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(source), Listed(destination), RawPass::Copy));
    ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(source), Listed(destination), RawPass::Verify));
    EXPECT_EQ(CloneRunState.verifyMismatchCount, 0);
    EXPECT_TRUE(SameBytes(pc_.Image(source), 0, pc_.Image(destination), 0, size));
    // The last 64 KiB: the GPT's backup, or the NTFS backup boot sector.
    EXPECT_TRUE(SameBytes(pc_.Image(source), size - 65536, pc_.Image(destination), size - 65536, 65536));
    if (c.gpt) {
      // sgdisk says "No problems found" even over a damaged backup header; its
      // cautions say so.
      std::string verified;
      Shell("sgdisk -v " + pc_.Image(destination) + " 2>&1", &verified);
      EXPECT_NE(verified.find("No problems found"), std::string::npos) << verified;
      EXPECT_EQ(Shell("sgdisk -v " + pc_.Image(destination) + " 2>&1 | grep -qiE \"corrupt|invalid|don.t match|error|problem:\""), 1)
          << verified;
      // The partition's last sector holds NTFS's backup boot sector.
      const uint64_t last = (size / 512 - 34) * 512;
      EXPECT_EQ(Shell("dd if=" + pc_.Image(destination) + " bs=1 skip=" + std::to_string(last + 3) +
                      " count=8 status=none | grep -q NTFS"),
                0);
    } else {
      EXPECT_EQ(Shell("dd if=" + pc_.Image(destination) + " bs=1 skip=" + std::to_string(size - 4096 + 3) +
                      " count=8 status=none | grep -q NTFS"),
                0);
    }
  }
}

// The verify pass reads the destination back before it writes anything: a
// block changed after the copy is found and repaired, and a block that
// cannot be written stays counted.
TEST_F(RawCopyTest, VerifyFindsAndRepairsDifferences) {
  pc_.SetIni("disk 2", "failing_writes", "5000-5001");  // native 4096-byte sectors
  Boot();
  ChooseWholeSource();
  const uint64_t units = CloneSettings.copySourceLength;
  ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(1), RawPass::Copy));
  pc_.WriteBytes(1, 3 * kMiB + 17, std::string("changed after the copy"));
  ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(1), RawPass::Verify));
  EXPECT_EQ(CloneRunState.verifyMismatchCount, 0);
  EXPECT_TRUE(SameBytes(pc_.Image(0), 0, pc_.Image(1), 0, units * 512));

  DiskContext.ioErrorCount = 0;
  ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(2), RawPass::Copy));
  EXPECT_GT(DiskContext.ioErrorCount, 0);
  ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(2), RawPass::Verify));
  EXPECT_EQ(CloneRunState.verifyMismatchCount, 1);
  // Everything but the block that holds the failing sectors arrived.
  const uint64_t blockBytes = 1008 * 512;
  const uint64_t bad = 5000ull * 4096 / blockBytes * blockBytes;
  EXPECT_TRUE(SameBytes(pc_.Image(0), 0, pc_.Image(2), 0, bad));
  EXPECT_TRUE(SameBytes(pc_.Image(0), bad + blockBytes, pc_.Image(2), bad + blockBytes,
                        units * 512 - bad - blockBytes));
}

// The verify pass reads several blocks of both disks at a time, and the
// next ones while it compares. A difference anywhere in such a span (its
// first unit, its last byte, the next span's first byte, the short last
// block) is found and repaired, and a destination sector that cannot be read
// back leaves its own block counted, not the span around it.
TEST_F(RawCopyTest, VerifyFindsEveryDifferenceInItsOwnBlock) {
  pc_.SetIni("disk 1", "unreadable", "9500");  // block 9 of 1008 units, in the second span of 8 blocks
  Boot();
  const uint64_t units = kSourceBytes / 512;  // 130 blocks and a short one
  const RawRange range{0, 1, 0, 0, units};
  ASSERT_EQ(RunRawPass(nullptr, range, RawPass::Copy, 1008, nullptr, nullptr).failedWrites, 0);
  const uint64_t block = 1008 * 512;
  const struct {
    const char* where;
    uint64_t offset;
  } changes[] = {
      {"the first unit", 0},
      {"the last byte of the first span", 8 * block - 1},
      {"the first byte of the second span", 8 * block},
      {"the middle of the last whole span", 123 * block + 4096},
      {"the short last block", units * 512 - 1},
  };
  for (const auto& change : changes) pc_.WriteBytes(1, change.offset, std::string(1, '\x5A'));
  ASSERT_FALSE(SameBytes(pc_.Image(0), 0, pc_.Image(1), 0, units * 512));
  const RawPassResult r = RunRawPass(nullptr, range, RawPass::Verify, 1008, nullptr, nullptr);
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.unitsDone, units);
  EXPECT_EQ(r.mismatchedBlocks, 1) << "only the block that cannot be read back stays";
  EXPECT_EQ(CloneRunState.verifyMismatchCount, 1);
  EXPECT_EQ(r.unreadableSectors, 0) << "the source read whole";
  for (const auto& change : changes) {
    SCOPED_TRACE(change.where);
    EXPECT_TRUE(SameBytes(pc_.Image(0), change.offset, pc_.Image(1), change.offset, 1));
  }
  EXPECT_TRUE(SameBytes(pc_.Image(0), 0, pc_.Image(1), 0, units * 512));
}

// Unreadable source sectors are counted one by one and written as zeros;
// every other sector of their block is copied.
TEST_F(RawCopyTest, UnreadableSourceSectorsAreCountedAndZeroed) {
  pc_.SetIni("disk 0", "unreadable", "10000-10002, 20001");
  Boot();
  ChooseWholeSource();
  const uint64_t units = CloneSettings.copySourceLength;
  pc_.WriteBytes(1, 0, std::string(12 * kMiB, '\xEE'));  // stale bytes the copy must replace
  ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(1), RawPass::Copy));
  EXPECT_EQ(DiskContext.ioErrorCount, 4);
  EXPECT_TRUE(SameBytes(pc_.Image(0), 0, pc_.Image(1), 0, 10000 * 512));
  EXPECT_TRUE(AllZero(pc_.Image(1), 10000 * 512, 3 * 512));
  EXPECT_TRUE(SameBytes(pc_.Image(0), 10003 * 512, pc_.Image(1), 10003 * 512, (20001 - 10003) * 512));
  EXPECT_TRUE(AllZero(pc_.Image(1), 20001 * 512, 512));
  EXPECT_TRUE(SameBytes(pc_.Image(0), 20002 * 512, pc_.Image(1), 20002 * 512, units * 512 - 20002 * 512));
  // The verify pass cannot compare those blocks and says so; it counts no
  // read error twice.
  ASSERT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(1), RawPass::Verify));
  EXPECT_EQ(CloneRunState.verifyMismatchCount, 0);
  EXPECT_EQ(CloneCounters.verifySecondCount, 2);
  EXPECT_EQ(DiskContext.ioErrorCount, 4);
}

// A disk that does not open stops the engine before it transfers anything;
// a cancelled copy writes nothing and still reports that it ran.
TEST_F(RawCopyTest, OpenFailureAndCancel) {
  pc_.SetIni("disk 1", "open_fails", "yes");
  Boot();
  ChooseWholeSource();
  // The disk that does not open is not even listed; the block loop itself
  // refuses it before it reads anything.
  const RawPassResult refused = RunRawPass(nullptr, RawRange{0, 1, 0, 0, 4096}, RawPass::Copy, 1008, nullptr, nullptr);
  EXPECT_FALSE(refused.started);
  EXPECT_EQ(refused.unitsDone, 0u);
  CloneRunState.cloneAborted = 1;
  EXPECT_TRUE(CopyDiskSectors(nullptr, Listed(0), Listed(2), RawPass::Copy));
  EXPECT_EQ(CloneRunState.copiedSectors, 0u);
  EXPECT_TRUE(AllZero(pc_.Image(2), 0, 96 * kMiB));
}

// The copy pass writes a block while it reads the next: a block is counted
// (progress, units done) only once it is on the destination. Each progress
// call finds its last block on the destination's image; after a cancel the
// units done are exactly the bytes copied, and nothing lies beyond them.
struct SeenProgress {
  std::string source, destination;
  std::vector<uint64_t> done;
  bool lastBlockThere = true;
};
void CheckLastBlock(CWnd*, uint64_t done, void* context) {
  auto* seen = static_cast<SeenProgress*>(context);
  seen->done.push_back(done);
  auto tail = [&](const std::string& image) {
    std::ifstream in(image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(done * 512 - 512));
    std::string bytes(512, '\0');
    in.read(bytes.data(), 512);
    return bytes;
  };
  if (tail(seen->destination) != tail(seen->source)) seen->lastBlockThere = false;
  if (done * 512 >= 10 * kMiB) CloneRunState.cloneAborted = 1;
}

TEST_F(RawCopyTest, ProgressCountsOnlyWrittenBlocks) {
  Boot();
  SeenProgress seen;
  seen.source = pc_.Image(0);
  seen.destination = pc_.Image(1);
  const RawPassResult r =
      RunRawPass(nullptr, RawRange{0, 1, 0, 0, kPatternBytes / 512}, RawPass::Copy, 1008, &CheckLastBlock, &seen);
  ASSERT_TRUE(r.started);
  EXPECT_TRUE(seen.lastBlockThere) << "a block was counted before it was written";
  ASSERT_FALSE(seen.done.empty());
  for (size_t i = 0; i < seen.done.size(); ++i) EXPECT_EQ(seen.done[i], 1008 * (i + 1)) << i;
  EXPECT_EQ(r.unitsDone, seen.done.back()) << "every block written was shown";
  EXPECT_EQ(CloneRunState.copiedSectors, r.unitsDone);
  EXPECT_LT(r.unitsDone * 512, kPatternBytes) << "the cancel stopped the pass";
  EXPECT_TRUE(SameBytes(pc_.Image(0), 0, pc_.Image(1), 0, r.unitsDone * 512));
  EXPECT_TRUE(AllZero(pc_.Image(1), r.unitsDone * 512, 96 * kMiB - r.unitsDone * 512));
  EXPECT_EQ(r.failedWrites, 0);
}

// The status line names both disks by their physical numbers, for a whole
// disk and for a partition alike: with disk 1 absent, the second listed disk
// is physical disk 2.
TEST_F(RawCopyTest, StatusNamesTheDisksByTheirPhysicalNumbers) {
  pc_.SetIni("disk 1", "attached", "no");
  Boot();
  ASSERT_EQ(Listed(2).value, 1);
  LanguageTable = LanguageTableRecord{};
  LanguageTable.strings = {u"IDS_CopyBlock", u"Copying", u"IDS_Verifying", u"Verifying",
                           u"IDS_Disk",      u"Disk ",   u"IDS_To",        u"to"};
  LanguageTable.languageLineCount = 4;
  ChooseWholeSource();
  LayoutEntry& e = DiskContext.layoutTable[3];
  e = LayoutEntry{};
  e.startBytes = e.newStartBytes = 1 * kMiB;
  e.lengthBytes = e.newLengthBytes = 2 * kMiB;
  struct Case {
    bool partition;
    RawPass pass;
    const char* status;
  } cases[] = {
      {false, RawPass::Copy, "Copying(Disk 0 to Disk 2)"},
      {true, RawPass::Copy, "Copying(Disk 0 to Disk 2)"},
      {true, RawPass::Verify, "Verifying(Disk 0 to Disk 2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    CloneRunState.statusText = CString();
    ASSERT_TRUE(c.partition ? CopyPartitionSectors(nullptr, Listed(0), Listed(2), 3, c.pass)
                            : CopyDiskSectors(nullptr, Listed(0), Listed(2), c.pass));
    EXPECT_EQ(platform::to_utf8(CloneRunState.statusText.str()), c.status);
  }
  LanguageTable = LanguageTableRecord{};
}

// A partition planned smaller than its source is copied up to its planned
// length only: the planned neighbour behind it keeps its bytes.
TEST_F(RawCopyTest, PartitionCopyKeepsToItsPlannedLength) {
  Boot();
  struct Case {
    uint64_t start, length, newStart, newLength;
    int destination;
  };
  const Case cases[] = {
      {1 * kMiB, 8 * kMiB, 2 * kMiB, 8 * kMiB, 1},   // same size, moved
      {1 * kMiB, 8 * kMiB, 4 * kMiB, 5 * kMiB, 2},   // smaller, onto a 4096-byte disk
      {9 * kMiB, 3 * kMiB, 20 * kMiB, 6 * kMiB, 1},  // larger: only the source's bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.newStart);
    const std::string fence(kMiB, '\x5A');
    pc_.WriteBytes(c.destination, c.newStart + c.newLength, fence);
    CloneRunState.copiedBytes = 0;
    LayoutEntry& e = DiskContext.layoutTable[3];
    e = LayoutEntry{};
    e.startBytes = c.start;
    e.lengthBytes = c.length;
    e.newStartBytes = c.newStart;
    e.newLengthBytes = c.newLength;
    ASSERT_TRUE(CopyPartitionSectors(nullptr, Listed(0), Listed(c.destination), 3, RawPass::Copy));
    const uint64_t copied = std::min(c.length, c.newLength);
    EXPECT_EQ(CloneRunState.copiedBytes, copied);
    EXPECT_TRUE(SameBytes(pc_.Image(0), c.start, pc_.Image(c.destination), c.newStart, copied));
    EXPECT_EQ(pc_.ReadBytes(c.destination, c.newStart + c.newLength, fence.size()),
              std::vector<uint8_t>(fence.begin(), fence.end()));
    ASSERT_TRUE(CopyPartitionSectors(nullptr, Listed(0), Listed(c.destination), 3, RawPass::Verify));
    EXPECT_EQ(CloneRunState.verifyMismatchCount, 0);
  }
}

}  // namespace

// The page shows an engine's progress at a reader's pace: every whole
// percent of the stage, and its end, are shown whatever the clock does; the
// other positions only once the display interval has passed, so a fast copy
// of a million blocks shows about a hundred of them.
TEST(PacedPositionTest, ShowsEveryPercentAndTheEndButNotEveryBlock) {
  for (const uint64_t total : {1000000ull, 130ull, 7ull}) {
    SCOPED_TRACE(total);
    PacedPosition position(total);
    const auto began = std::chrono::steady_clock::now();
    uint64_t shownCount = 0;
    uint64_t lastShown = 0;
    bool everyPercentShown = true;
    for (uint64_t done = 1; done <= total; ++done) {
      const uint64_t step = std::max<uint64_t>(total / 100, 1);
      const bool newPercent = done / step != (done - 1) / step;
      if (position.Take(done)) {
        ++shownCount;
        lastShown = done;
        EXPECT_FALSE(position.pending);
      } else {
        EXPECT_TRUE(position.pending);
        if (newPercent && done > 1) everyPercentShown = false;
      }
      EXPECT_EQ(position.last, done);
    }
    EXPECT_TRUE(everyPercentShown);
    EXPECT_EQ(lastShown, total) << "the end is always shown";
    EXPECT_FALSE(position.pending);
    const auto windows = (std::chrono::steady_clock::now() - began) / DisplayPace::kInterval;
    const uint64_t steps = total / std::max<uint64_t>(total / 100, 1);  // 100 or a little more
    EXPECT_LE(shownCount, std::min<uint64_t>(total, steps + 1 + static_cast<uint64_t>(windows)));
  }
  // A stage that stops early leaves its last position pending for the page.
  PacedPosition stopped(1000);
  EXPECT_TRUE(stopped.Take(1));
  EXPECT_FALSE(stopped.Take(2));
  EXPECT_TRUE(stopped.pending);
  EXPECT_EQ(stopped.last, 2u);
}
