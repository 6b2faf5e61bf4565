// The overwrite engine on simulated disks of 512- and 4096-byte sectors whose
// size is no whole number of tracks: every method on a whole disk and on a
// partition in the middle of a disk, each target checked afterwards by cmp
// and od straight on the image (zeros, 0xFF, random data that holds no
// repeated sector), every byte outside the target unchanged (hashes of the
// image before and after), the progress count, the verifying pass's read-back
// and the counting of write failures.
#include "mainapp/wipe/overwrite_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/fixture_images.h"
#include "mainapp/wipe/deletion_state.h"
#include "program_support/language_table.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

constexpr uint64_t kDiskBytes = 16ull << 20;

std::string Num(uint64_t n) { return std::to_string(n); }

class WipeDisk {
 public:
  explicit WipeDisk(uint32_t sectorSize, const std::string& extraIni = "") : ss(sectorSize) {
    DiskContext = DiskContextRecord{};
    DeleteAbortRequested = 0;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8ull << 20, .sectorSize = ss});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = kDiskBytes, .sectorSize = ss});
    pc.WriteBytes(1, 0, disk_fixture::Pattern(kDiskBytes, 77));
    if (!extraIni.empty()) pc.SetIni("disk 1", extraIni.substr(0, extraIni.find('=')),
                                     extraIni.substr(extraIni.find('=') + 1));
    pc.Boot();
  }

  // Opens disk 1 as the run does and targets [start, start + count) native sectors.
  DiskSelectionRecord Target(uint64_t start, uint64_t count) {
    ReadDiskGeometry(1);
    OpenDiskReadWrite(1);
    DiskSelectionRecord t{};
    t.diskNumber = PhysicalDiskNumber{1};
    t.kind = start == 0 && count * ss == kDiskBytes ? kSelectionWholeDisk : kSelectionPartition;
    t.startSector = start;
    t.sectorCount = count;
    return t;
  }

  // sha256 of `bytes` bytes of the image from byte `offset`.
  std::string Hash(uint64_t offset, uint64_t bytes) {
    std::string out;
    Shell("tail -c +" + Num(offset + 1) + " '" + pc.Image(1) + "' | head -c " + Num(bytes) + " | sha256sum", &out);
    return out;
  }
  // sha256 of the whole image but `bytes` bytes from byte `offset`.
  std::string HashOutside(uint64_t offset, uint64_t bytes) {
    std::string out;
    const std::string image = "'" + pc.Image(1) + "'";
    Shell("{ head -c " + Num(offset) + " " + image + "; tail -c +" + Num(offset + bytes + 1) + " " + image +
              "; } | sha256sum",
          &out);
    return out;
  }
  // cmp of the image range against a file of the same bytes.
  bool Equals(uint64_t offset, uint64_t bytes, const std::string& source) {
    return Shell("cmp -i " + Num(offset) + ":0 -n " + Num(bytes) + " '" + pc.Image(1) + "' " + source) == 0;
  }
  // Sectors of the range whose contents occur more than once (od, sort, uniq).
  int RepeatedSectors(uint64_t offset, uint64_t bytes) {
    std::string out;
    Shell("tail -c +" + Num(offset + 1) + " '" + pc.Image(1) + "' | head -c " + Num(bytes) + " | od -An -v -tx1 -w" +
              Num(ss) + " | sort | uniq -d | wc -l",
          &out);
    return std::stoi(out);
  }
  // od's hex dump of each `piece`-byte piece of `bytes` bytes of the image
  // from byte `offset` (the last piece may be shorter), one line a piece.
  std::vector<std::string> PieceDumps(uint64_t offset, uint64_t bytes, uint64_t piece) {
    std::string out;
    Shell("tail -c +" + Num(offset + 1) + " '" + pc.Image(1) + "' | head -c " + Num(bytes) + " | od -An -v -tx1 -w" +
              Num(piece),
          &out);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(out.substr(at, end - at));
    return lines;
  }
  bool AllZeroOrFf(uint64_t offset, uint64_t bytes, const char* byte) {
    std::string out;
    Shell("tail -c +" + Num(offset + 1) + " '" + pc.Image(1) + "' | head -c " + Num(bytes) + " | od -An -v -tx1 | tr -s ' \\n' '\\n\\n' | grep -v '^$' | sort -u",
          &out);
    return out == std::string(byte) + "\n";
  }

  SimulatedPc pc;
  uint32_t ss;
};

enum class Where { WholeDisk, MiddlePartition };

class MethodBytesTest : public ::testing::TestWithParam<std::tuple<uint32_t, Where, int>> {};

TEST_P(MethodBytesTest, WritesExactlyTheTargetWithTheMethodsBytes) {
  const auto [ss, where, method] = GetParam();
  WipeDisk disk(ss);
  const uint64_t sectors = kDiskBytes / ss;
  // The partition starts at 3 MiB and its length is no whole number of tracks.
  const uint64_t start = where == Where::WholeDisk ? 0 : (3ull << 20) / ss;
  const uint64_t count = where == Where::WholeDisk ? sectors : (5ull << 20) / ss + 5;
  const uint64_t first = start * ss, bytes = count * ss;
  const std::string before = disk.Hash(0, first), after = disk.Hash(first + bytes, kDiskBytes);
  DiskSelectionRecord target = disk.Target(start, count);
  const uint32_t chunk = WipeChunkSectors(1);
  ASSERT_EQ(chunk, 63u);
  ASSERT_NE(count % chunk, 0u) << "the fixture must leave a short last chunk";

  EXPECT_EQ(RunDeleteMethod(nullptr, target, method), 0);
  CloseCurrentDisk();

  const uint64_t passes[] = {1, 1, 3, 4};
  EXPECT_EQ(WipeProgressCount, passes[method] * ((count + chunk - 1) / chunk));
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
  EXPECT_EQ(target.cursor, start + count);
  if (method == 0 || method == 2) {
    EXPECT_TRUE(disk.Equals(first, bytes, "/dev/zero"));
  } else {
    // Random data: no zero sector, no sector twice, bit 15 of each word clear.
    EXPECT_FALSE(disk.Equals(first, bytes, "/dev/zero"));
    EXPECT_EQ(disk.RepeatedSectors(first, bytes), 0);
    auto last = disk.pc.ReadBytes(1, first + bytes - ss, ss);
    for (uint32_t i = 1; i < ss; i += 2) ASSERT_EQ(last[i] & 0x80, 0) << i;
  }
  EXPECT_EQ(disk.Hash(0, first), before);
  EXPECT_EQ(disk.Hash(first + bytes, kDiskBytes), after);
}

INSTANTIATE_TEST_SUITE_P(Methods, MethodBytesTest,
                         ::testing::Combine(::testing::Values(512u, 4096u),
                                            ::testing::Values(Where::WholeDisk, Where::MiddlePartition),
                                            ::testing::Values(0, 1, 2, 3)));

class EnginePassTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(EnginePassTest, OnesPassFillsEveryByteOfAPartitionSmallerThanAChunk) {
  const uint32_t ss = GetParam();
  WipeDisk disk(ss);
  DiskSelectionRecord target = disk.Target(100, 10);
  const std::string outside = disk.Hash(0, 100 * ss) + disk.Hash(110 * ss, kDiskBytes);
  WipeProgressCount = 0;
  EXPECT_EQ(WritePass(nullptr, target, 255), 0);
  CloseCurrentDisk();
  EXPECT_EQ(WipeProgressCount, 1u);
  EXPECT_TRUE(disk.AllZeroOrFf(100 * ss, 10 * ss, "ff"));
  EXPECT_EQ(disk.Hash(0, 100 * ss) + disk.Hash(110 * ss, kDiskBytes), outside);
}

TEST_P(EnginePassTest, VerifyingPassCountsSectorsThatDoNotHoldTheRandomData) {
  const uint32_t ss = GetParam();
  WipeDisk disk(ss);
  DiskSelectionRecord target = disk.Target(0, 1000);
  SeedRandom();
  WritePass(nullptr, target, kPassRandom);
  WritePass(nullptr, target, kPassVerify);
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
  // Two chunks changed behind the engine's back: the read-back finds both.
  // One native sector of junk (4096 bytes on a 4K disk).
  std::vector<uint8_t> junk(ss, 0);
  junk[0] = 1, junk[1] = 2, junk[2] = 3;
  WriteDiskSectors(junk.data(), 5, 1);
  WriteDiskSectors(junk.data(), 700, 1);
  WritePass(nullptr, target, kPassVerify);
  EXPECT_EQ(DiskContext.ioErrorCount, 2);
  CloseCurrentDisk();
}

TEST_P(EnginePassTest, FailedWritesAreCountedAndTheRunGoesOn) {
  const uint32_t ss = GetParam();
  WipeDisk disk(ss, "failing_writes=200-201");
  DiskSelectionRecord target = disk.Target(0, 630);
  EXPECT_EQ(RunDeleteMethod(nullptr, target, 0), 0);
  CloseCurrentDisk();
  // The chunk holding 200-201 fails its five attempts; the rest is zero.
  EXPECT_EQ(DiskContext.ioErrorCount, 5);
  EXPECT_TRUE(disk.Equals(0, 189ull * ss, "/dev/zero"));
  EXPECT_TRUE(disk.Equals(252ull * ss, 378ull * ss, "/dev/zero"));
}

// Failing sectors at every place of a write of several tracks (its first,
// middle and last track, across two tracks, twice in one write, in the short
// last track, across two writes): only the tracks that hold one stay as they
// were, each counted with its five attempts, and every other track is zero.
// Each case has its own region of the disk, eight whole tracks and a short one
// of eight sectors, with its failing sectors given relative to the region.
TEST_P(EnginePassTest, FailingSectorsLeaveOnlyTheirOwnTracksUnwritten) {
  const uint32_t ss = GetParam();
  constexpr uint64_t kTrack = 63, kRegion = 512, kTracks = 9;
  const struct {
    std::vector<std::pair<uint64_t, uint64_t>> failing;  // first and last sector
    std::vector<uint64_t> unwritten;                     // tracks that keep their bytes
  } cases[] = {
      {{{200, 201}}, {3}},         {{{0, 0}}, {0}},     {{{441, 441}}, {7}},  {{{250, 253}}, {3, 4}},
      {{{100, 100}, {400, 400}}, {1, 6}}, {{{505, 505}}, {8}}, {{{500, 506}}, {7, 8}}, {{{126, 188}}, {2}},
  };
  ASSERT_LE(std::size(cases) * kRegion * ss, kDiskBytes);
  std::string ranges;
  for (size_t k = 0; k < std::size(cases); ++k)
    for (auto [first, last] : cases[k].failing)
      ranges += (ranges.empty() ? "" : ", ") + Num(k * kRegion + first) + "-" + Num(k * kRegion + last);
  WipeDisk disk(ss, "failing_writes=" + ranges);
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k];
    SCOPED_TRACE("case " + Num(k) + ": failing_writes = " + ranges);
    const uint64_t base = k * kRegion;
    const std::vector<std::string> before = disk.PieceDumps(base * ss, kRegion * ss, kTrack * ss);
    ASSERT_EQ(before.size(), kTracks);
    const std::string outside = disk.HashOutside(base * ss, kRegion * ss);
    DiskContext.ioErrorCount = 0;
    DiskSelectionRecord target = disk.Target(base, kRegion);
    EXPECT_EQ(RunDeleteMethod(nullptr, target, 0), 0);
    CloseCurrentDisk();
    EXPECT_EQ(DiskContext.ioErrorCount, static_cast<int32_t>(5 * c.unwritten.size()));
    EXPECT_EQ(WipeProgressCount, kTracks);
    const std::vector<std::string> after = disk.PieceDumps(base * ss, kRegion * ss, kTrack * ss);
    ASSERT_EQ(after.size(), kTracks);
    for (uint64_t t = 0; t < kTracks; ++t) {
      const bool bad = std::find(c.unwritten.begin(), c.unwritten.end(), t) != c.unwritten.end();
      if (bad)
        EXPECT_TRUE(after[t] == before[t]) << "track " << t << " was written";
      else
        EXPECT_EQ(after[t].find_first_not_of(" 0"), std::string::npos) << "track " << t << " is not zero";
    }
    EXPECT_EQ(disk.HashOutside(base * ss, kRegion * ss), outside);
  }
}

TEST_P(EnginePassTest, AbortLeavesTheTargetUntouchedAndEveryPassEnds) {
  const uint32_t ss = GetParam();
  WipeDisk disk(ss);
  DiskSelectionRecord target = disk.Target(0, 500);
  const std::string before = disk.Hash(0, kDiskBytes);
  DeleteAbortRequested = 1;
  EXPECT_EQ(RunDeleteMethod(nullptr, target, 3), 0);
  CloseCurrentDisk();
  DeleteAbortRequested = 0;
  EXPECT_EQ(WipeProgressCount, 0u);
  EXPECT_EQ(WipePassText, CString(LookupString(u"IDS_Verifying")) + u"  Pass 4");
  EXPECT_EQ(disk.Hash(0, kDiskBytes), before);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, EnginePassTest, ::testing::Values(512u, 4096u));

TEST(MapDeleteMethod, OfferedMethodsAndAnythingElse) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 3}, {1, 4}, {2, 9}, {3, 10}, {-1, 3}, {7, 3}};
  for (auto [method, code] : cases) EXPECT_EQ(MapDeleteMethod(method), code) << method;
}

}  // namespace
