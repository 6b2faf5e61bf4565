// Manual sizing of planned partitions, on maps written in MiB and expected
// layouts worked out by hand from the resizing rules: growing into a large
// gap, into a small one (which keeps 1 MiB), shrinking the last partition
// by 100 MiB and by 1 MiB, a gap under 2 MiB at the end joining its
// neighbour, a request that the gaps kept between partitions cannot hold;
// the same-size trim of a partition copy; the write-back into the layout
// entries (a logical drive's container following it); the bounds, the
// typed MiB text and the trackbar's last step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "mainapp/clone/manual_sizing.h"
#include "platform/core/text.h"

namespace {

constexpr uint64_t M = 2048;  // sectors in one MiB

struct Seg {
  uint64_t start, length;  // MiB
  bool partition;
  int32_t letter = -1;
};

DiskMapRecord MapOf(const std::vector<Seg>& segs) {
  DiskMapRecord map;
  int32_t number = 0;
  for (const Seg& s : segs) {
    DiskMapItem& item = map.items[map.count++];
    item.start = s.start * M;
    item.length = s.length * M;
    item.partitionIndex = s.partition ? number++ : -1;
    item.type = s.partition ? 7 : -1;
    item.outsideExtended = 1;
    item.driveLetter = s.letter;
  }
  return map;
}

void ExpectMap(const DiskMapRecord& map, const std::vector<Seg>& want) {
  ASSERT_EQ(map.count, static_cast<int32_t>(want.size()));
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("item " + std::to_string(i));
    EXPECT_EQ(map.items[i].start, want[i].start * M);
    EXPECT_EQ(map.items[i].length, want[i].length * M);
    EXPECT_EQ(map.items[i].partitionIndex >= 0, want[i].partition);
  }
}

TEST(ManualSizingTest, ResizingMovesLaterItemsAndKeepsTheMapInsideTheDisk) {
  struct Case {
    const char* what;
    std::vector<Seg> before;
    int32_t item;
    uint64_t requestedMiB;
    uint64_t diskMiB;
    std::vector<Seg> after;
  } cases[] = {
      {"grow by 10 MiB into 100 MiB of free space: 90 MiB stay free, nothing else moves",
       {{1, 100, true}, {101, 100, false}, {201, 50, true}}, 0, 110, 251,
       {{1, 110, true}, {111, 90, false}, {201, 50, true}}},
      {"grow by 10 MiB into a gap of 4 MiB: the gap keeps 1 MiB, later partitions move by 7 MiB",
       {{1, 100, true}, {101, 4, false}, {105, 50, true}, {155, 20, false}}, 0, 110, 175,
       {{1, 110, true}, {111, 1, false}, {112, 50, true}, {162, 13, false}}},
      {"shrink the last partition by 100 MiB: a free item of 100 MiB follows it",
       {{1, 200, true}}, 0, 100, 201, {{1, 100, true}, {101, 100, false}}},
      {"shrink the last partition by 1 MiB: the rest is under 2 MiB and goes back to it",
       {{1, 200, true}}, 0, 199, 201, {{1, 200, true}}},
      {"a gap left under 2 MiB at the end joins the partition before it",
       {{1, 100, true}, {101, 10, false}}, 0, 109, 111, {{1, 110, true}}},
      {"shrink a middle partition: the gap after it grows, the next partition moves back",
       {{1, 50, true}, {51, 50, true}, {101, 20, false}}, 0, 30, 121,
       {{1, 30, true}, {31, 50, true}, {81, 40, false}}},
      // The maximum (10 + 3 + 2 MiB) counts every gap, but the first gap
      // keeps 1 MiB: the request is cut by what would pass the disk's end.
      {"a request the kept gaps cannot hold ends at the disk's end",
       {{1, 10, true}, {11, 3, false}, {14, 10, true}, {24, 2, false}}, 0, 15, 26,
       {{1, 14, true}, {15, 1, false}, {16, 10, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiskMapRecord map = MapOf(c.before);
    const uint64_t length = ResizePlannedItem(map, c.item, c.requestedMiB * M, c.diskMiB * M);
    ExpectMap(map, c.after);
    EXPECT_EQ(length, map.items[c.item].length);
    const DiskMapItem& last = map.items[map.count - 1];
    EXPECT_EQ(last.start + last.length, c.diskMiB * M);
  }
  // No item, or a request of 0: nothing changes.
  for (auto [item, requested] : {std::pair{-1, 10 * M}, std::pair{5, 10 * M}, std::pair{0, uint64_t{0}}}) {
    DiskMapRecord map = MapOf({{1, 100, true}, {101, 10, false}});
    EXPECT_EQ(ResizePlannedItem(map, item, requested, 111 * M), 0u);
    ExpectMap(map, {{1, 100, true}, {101, 10, false}});
  }
}

TEST(ManualSizingTest, SameSizeTrimOfAPartitionCopy) {
  // The trimmed partition is second to last before a gap: the gap grows back.
  DiskMapRecord map = MapOf({{1, 50, true}, {51, 100, true}, {151, 20, false}});
  ApplySourceSizeToPartition(map, 1, 60 * M);
  ExpectMap(map, {{1, 50, true}, {51, 60, true}, {111, 60, false}});
  // A partition follows it: a gap of the freed 40 MiB is put in between.
  map = MapOf({{1, 50, true}, {51, 100, true}, {151, 20, true}});
  ApplySourceSizeToPartition(map, 1, 60 * M);
  ExpectMap(map, {{1, 50, true}, {51, 60, true}, {111, 40, false}, {151, 20, true}});
  // A source as long as the partition, or longer, leaves it whole.
  for (uint64_t source : {100 * M, 120 * M}) {
    map = MapOf({{1, 50, true}, {51, 100, true}, {151, 20, true}});
    ApplySourceSizeToPartition(map, 1, source);
    ExpectMap(map, {{1, 50, true}, {51, 100, true}, {151, 20, true}});
  }
}

TEST(ManualSizingTest, WriteBackMovesLetteredEntriesAndTheirContainer) {
  constexpr uint64_t B = 1048576;  // bytes in one MiB
  LayoutEntry table[5] = {};
  auto entry = [&](int k, uint64_t start, uint64_t length, int32_t letter, int32_t nesting, int32_t container) {
    table[k].startBytes = table[k].newStartBytes = start * B;
    table[k].lengthBytes = table[k].newLengthBytes = length * B;
    table[k].driveLetter = letter;
    table[k].fsCode = letter > 0 ? 7 : 0x27;
    table[k].nesting = nesting;
    table[k].containerIndex = container;
  };
  entry(0, 1, 100, 'C', 0, 0);
  entry(1, 101, 200, -1, -1, 0);  // the extended container
  entry(2, 102, 199, 'D', 1, 1);  // its logical drive
  entry(3, 301, 10, -1, 0, 0);    // a partition without a letter
  entry(4, 311, 5, 'F', 0, 0);    // a letter the map does not hold
  table[1].fsCode = 5;
  DiskMapRecord map = MapOf({{1, 120, true, 'C'}, {122, 179, true, 'D'}, {301, 10, true}});
  WriteBackPlannedMap(map, table, 5);
  EXPECT_EQ(table[0].newStartBytes, 1 * B);
  EXPECT_EQ(table[0].newLengthBytes, 120 * B);
  // The logical drive moved up 20 MiB and lost 20 MiB: its container moves
  // with it and keeps its length.
  EXPECT_EQ(table[2].newStartBytes, 122 * B);
  EXPECT_EQ(table[2].newLengthBytes, 179 * B);
  EXPECT_EQ(table[1].newStartBytes, 121 * B);
  EXPECT_EQ(table[1].newLengthBytes, 180 * B);
  EXPECT_EQ(table[3].newStartBytes, 301 * B);
  EXPECT_EQ(table[4].newStartBytes, 311 * B);
  EXPECT_EQ(table[4].newLengthBytes, 5 * B);
}

TEST(ManualSizingTest, BoundsTypedSizesAndTrackbarSteps) {
  DiskMapRecord planned;
  planned.count = 4;
  planned.items[0] = {0, 2048, 60000000, 7, 1, 0, 'C'};
  planned.items[1] = {-1, 60002048, 5000000, -1, 1, 0, -1};
  planned.items[2] = {1, 65002048, 1000000, 7, 1, 0, 'D'};
  planned.items[3] = {-1, 66002048, 2000000, -1, 1, 0, -1};
  // 40,000,000 used sectors need 50,000,000; the maximum adds every free item after it.
  ManualBounds b = WholeDiskBounds(planned, 0, 40000000);
  EXPECT_EQ(b.minimum, 50000000u);
  EXPECT_EQ(b.current, 60000000u);
  EXPECT_EQ(b.maximum, 67000000u);
  b = WholeDiskBounds(planned, 2, 100);
  EXPECT_EQ(b.minimum, 125u);
  EXPECT_EQ(b.maximum, 3000000u);
  // A partition without a volume is copied by sectors: it cannot shrink.
  planned.items[2].driveLetter = -1;
  EXPECT_EQ(WholeDiskBounds(planned, 2, 100).minimum, 1000000u);
  // A partition copy: the used sectors without reserve; the destination's length plus the free after it.
  b = PartitionBounds(planned, 0, 40000000);
  EXPECT_EQ(b.minimum, 40000000u);
  EXPECT_EQ(b.maximum, 67000000u);

  const uint64_t maximum = 1000 * M + 1000, minimum = 5 * M;
  struct Typed {
    const char* text;
    uint64_t want;
  } typed[] = {
      {"123456789", maximum},  // only "12345678" counts: far above, so the maximum
      {"1000", maximum},       // within 1 MiB of the maximum
      {"998", 998 * M},
      {"12x", 12 * M},
      {"3", minimum},
      {"0", minimum},
      {"-4", maximum},
      {"", minimum},
  };
  for (const Typed& t : typed) {
    SCOPED_TRACE(t.text);
    EXPECT_EQ(TypedLength(CString(platform::to_utf16(t.text).c_str()), minimum, maximum), t.want);
  }
  // The last trackbar step snaps to the maximum: 15 sectors short does, 16 do not.
  EXPECT_EQ(TrackbarLength(1000, 16015), 16015u);
  EXPECT_EQ(TrackbarLength(1000, 16016), 16000u);
}

TEST(ManualSizingTest, ComboLinesNameTheirMapItem) {
  ShellState.languageName = u"English";
  DiskMapItem item{0, 2048, 61440, 7, 1, 0, 'C'};
  const CString line = PartitionComboLine(item, 12);
  EXPECT_EQ(ItemOfComboLine(line), 12);
  EXPECT_EQ(ItemOfComboLine(CString(u"Disk 1: 40 GB")), -1);
  EXPECT_EQ(ItemOfComboLine(CString(u"")), -1);
}

TEST(ManualSizingTest, FindMapItemByPartitionPosition) {
  DiskMapRecord map = MapOf({{1, 10, false}, {11, 10, true}, {21, 10, false}, {31, 10, true}});
  EXPECT_EQ(FindMapItem(map.items, map.count, 0), 1);
  EXPECT_EQ(FindMapItem(map.items, map.count, 1), 3);
  EXPECT_EQ(FindMapItem(map.items, map.count, 2), -1);
  EXPECT_EQ(FindMapItem(map.items, map.count, -1), -1);
}

}  // namespace
