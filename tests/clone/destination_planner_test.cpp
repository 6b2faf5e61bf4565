// The destination planner and the plan corrections, as tables of layouts
// whose expected results were worked out by hand from the planning rules:
// MBR primaries, logical drives and system migration, the first-track rule,
// the alignment unit, type mapping, conversion to GPT (512- and 4096-byte
// sectors), GPT to GPT, the surplus rule, the shrink corrections, the planned
// map's tail and the size totals.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "disk/partition_list.h"
#include "mainapp/clone/clone_plan.h"
#include "mainapp/clone/destination_planner.h"
#include "mainapp/clone/plan_application.h"
#include "mainapp/records/disk_bars.h"
#include "platform/core/text.h"

namespace {

constexpr uint64_t kMiB = 1048576;

struct E {
  uint64_t start = 0;   // 512-byte sectors
  uint64_t length = 0;  // 512-byte sectors
  int32_t fs = 0;
  char letter = 0;
  int32_t nesting = 0;
  int32_t container = 0;
  uint32_t style = 0;
  const char16_t* name = u"";
};

struct Table {
  LayoutEntry t[kMaxLayoutEntries] = {};
  explicit Table(const std::vector<E>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      const E& e = entries[i];
      LayoutEntry& x = t[i];
      x.startBytes = e.start * 512;
      x.lengthBytes = e.length * 512;
      x.fsCode = e.fs;
      x.driveLetter = e.letter ? e.letter : -1;
      x.nesting = e.nesting;
      x.containerIndex = e.container;
      x.partitionStyle = e.style;
      std::u16string_view n(e.name);
      memcpy(x.name, n.data(), n.size() * sizeof(char16_t));
    }
  }
};

struct Plan {
  uint64_t start, length;  // bytes
  int32_t type;
};

void ExpectPlan(const LayoutEntry* t, const std::vector<Plan>& want, const std::string& what) {
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(what + ", entry " + std::to_string(i));
    EXPECT_EQ(t[i].newStartBytes, want[i].start);
    EXPECT_EQ(t[i].newLengthBytes, want[i].length);
    EXPECT_EQ(t[i].newType, want[i].type);
  }
}

PlannerInputs Inputs(uint64_t s, uint64_t d, SizingMode mode = SizingMode::Automatic) {
  PlannerInputs in;
  in.sourceSectors = s;
  in.destinationSectors = d;
  in.sizingMode = mode;
  return in;
}

TEST(DestinationPlanner, AlignmentUnitFollowsWindowsVersion) {
  EXPECT_EQ(AlignmentUnitFor(6, 63), 2048);
  EXPECT_EQ(AlignmentUnitFor(10, 63), 2048);
  EXPECT_EQ(AlignmentUnitFor(5, 63), 63);
  EXPECT_EQ(AlignmentUnitFor(5, 32), 32);
}

// MBR to MBR over the primary partitions.
TEST(DestinationPlanner, MbrPrimaries) {
  struct Case {
    const char* what;
    std::vector<E> entries;
    int32_t count;
    PlannerInputs in;
    double scale;
    std::vector<Plan> want;
    int32_t wantCount;
    uint8_t moved;
  };
  auto with = [](PlannerInputs in, int32_t q, int32_t real, int32_t m = 1, int32_t unit = 2048) {
    in.systemIndex = q;
    in.realCount = real;
    in.multiplier = m;
    in.alignUnit = unit;
    return in;
  };
  std::vector<Case> cases = {
      {"one partition doubles and runs to the end",
       {{2048, 209715200 - 2048, 7, 'C'}, {}, {}, {}}, 4,
       with(Inputs(209715200, 419430400), 0, 1), 2.0,
       {{kMiB, 214747316224ull, 7}, {0, 0, 0}}, 4, 0},
      {"an unlettered partition before the system keeps its size; hidden NTFS becomes NTFS",
       {{2048, 204800, 0x27}, {206848, 209715200 - 206848, 7, 'C'}, {}, {}}, 4,
       with(Inputs(209715200, 419430400), 1, 2), 2.0,
       {{kMiB, 104857600, 7}, {105906176, 214642458624ull, 7}}, 4, 0},
      {"same size packs the partitions from the first start; hidden FAT32 becomes FAT32",
       {{2048, 204800, 7, 'C'}, {206848, 409600, 0x1C, 'D'}, {}, {}}, 4,
       with(Inputs(2097152, 4194304, SizingMode::SameSize), 0, 2), 1.0,
       {{kMiB, 104857600, 7}, {105906176, 209715200, 0x0C}}, 4, 0},
      {"a partition at sector 32 moves to 1 MiB and the layout widens to four slots",
       {{32, 1048576, 7, 'C'}}, 1,
       with(Inputs(2097152, 4194304, SizingMode::SameSize), 0, 1), 1.0,
       {{kMiB, 536870912, 7}, {0, 0, 0}}, 4, 1},
      {"a partition at sector 63 keeps its start on a 63-sector track",
       {{63, 1048576, 7, 'C'}}, 1,
       with(Inputs(2097152, 4194304, SizingMode::SameSize), 0, 1), 1.0,
       {{32256, 536870912, 7}}, 1, 0},
      {"4096-byte destination: lengths and cursor in whole 8 MiB steps",
       {{2048, 104857600, 7, 'C'}, {104859648, 104855552, 7, 'D'}, {}, {}}, 4,
       with(Inputs(209715200, 419430400), 0, 2, 8), 2.0,
       {{kMiB, 107374182400ull, 7}, {107382571008ull, 107365793792ull, 7}}, 4, 0},
      {"XP-era unit of 63 sectors",
       {{63, 1000000, 7, 'C'}, {1000063, 999937, 7, 'D'}, {}, {}}, 4,
       with(Inputs(2000000, 3000000), 0, 2, 1, 63), 1.5,
       {{32256, 767983104, 7}, {768015360, 767983104, 7}}, 4, 0},
  };
  for (Case& c : cases) {
    Table table(c.entries);
    PlannerResults r = PlanLayoutEntries(table.t, c.count, c.in);
    SCOPED_TRACE(c.what);
    EXPECT_DOUBLE_EQ(r.scaleFactor, c.scale);
    EXPECT_EQ(r.count, c.wantCount);
    EXPECT_EQ(r.singlePartitionMoved, c.moved);
    ExpectPlan(table.t, c.want, c.what);
  }
}

// A primary, an extended partition with two logical drives (and the link
// between them), given in the order the layout query reports them.
TEST(DestinationPlanner, LogicalDrivesKeepSizesAndOffsets) {
  Table table({{2048, 4194304, 7, 'C'},
               {4196352, 16775168, 5, 0, -1},
               {},
               {},
               {4198400, 4194304, 7, 'E', 1, 1},
               {8392704, 4196352, 5, 0, -1},
               {},
               {},
               {8394752, 4194304, 7, 'F', 1, 1},
               {},
               {},
               {}});
  SortLayoutEntries(table.t, 12);
  // Sorted by start; the slots after the last partition are empty, not repeats.
  EXPECT_EQ(table.t[2].driveLetter, 'E');
  EXPECT_EQ(table.t[4].driveLetter, 'F');
  for (int i = 5; i < 12; ++i) EXPECT_EQ(table.t[i].fsCode, 0) << i;
  EXPECT_EQ(table.t[4].containerIndex, 1);
  PlannerInputs in = Inputs(20971520, 41943040);
  in.realCount = 5;
  PlannerResults r = PlanLayoutEntries(table.t, 12, in);
  EXPECT_DOUBLE_EQ(r.scaleFactor, 2.0);
  ExpectPlan(table.t,
             {{kMiB, 4294967296ull, 7},
              {4296015872ull, 8588886016ull, 5},
              {4297064448ull, 2147483648ull, 7},
              {6444548096ull, 2148532224ull, 5},
              {6445596672ull, 2147483648ull, 7}},
             "extended");
  for (int i = 5; i < 12; ++i) EXPECT_EQ(table.t[i].newLengthBytes, 0u) << i;
}

// A primary partition behind the extended partition, whose last logical
// drive ends short of the container's end: the primary starts at the
// container's planned end or later, never inside it (the layout writer
// refuses overlapping entries), whatever the destination's size.
TEST(DestinationPlanner, APrimaryBehindTheExtendedPartitionStartsAfterIt) {
  for (const uint64_t destination : {2097152ull, 4194304ull}) {
    SCOPED_TRACE(destination);
    Table table({{2048, 131072, 7, 'C'},
                 {133120, 819200, 15, 0, -1},
                 {},
                 {952320, 358400, 6},
                 {135168, 204800, 12, 0, 1, 1},
                 {339968, 206848, 5, 0, -1},
                 {},
                 {},
                 {342016, 204800, 7, 0, 1, 1},
                 {546816, 403456, 5, 0, -1},
                 {},
                 {},
                 {548864, 401408, 11, 0, 1, 1},
                 {},
                 {},
                 {}});
    SortLayoutEntries(table.t, 16);
    ASSERT_EQ(table.t[7].fsCode, 6) << "the primary sorts last";
    PlannerInputs in = Inputs(2097152, destination);
    in.realCount = 4;
    PlanLayoutEntries(table.t, 16, in);
    const LayoutEntry& container = table.t[1];
    const LayoutEntry& behind = table.t[7];
    ASSERT_GT(container.newLengthBytes, 0u);
    ASSERT_GT(behind.newLengthBytes, 0u);
    EXPECT_GE(behind.newStartBytes, container.newStartBytes + container.newLengthBytes)
        << "container " << container.newStartBytes / 512 << "+" << container.newLengthBytes / 512 << ", primary at "
        << behind.newStartBytes / 512;
    for (int i = 2; i < 7; ++i) {
      const LayoutEntry& inside = table.t[i];
      EXPECT_GE(inside.newStartBytes, container.newStartBytes) << i;
      EXPECT_LE(inside.newStartBytes + inside.newLengthBytes, container.newStartBytes + container.newLengthBytes) << i;
    }
  }
}

TEST(DestinationPlanner, SystemMigration) {
  // A 100 MiB boot partition and the Windows partition (N = 2, Q = 1).
  Table table({{2048, 204800, 7}, {206848, 104857600, 7, 'C'}});
  PlannerInputs in = Inputs(209715200, 419430400);
  in.systemMigration = true;
  in.systemIndex = 1;
  in.realCount = 2;
  PlanLayoutEntries(table.t, 2, in);
  ExpectPlan(table.t, {{kMiB, 104857600, 7}, {105906176, 214642458624ull, 7}}, "migration");
}

TEST(DestinationPlanner, ConversionToGpt) {
  struct Case {
    int32_t multiplier;
    uint64_t espStart, espLength;
  } cases[] = {{1, 17408, 134200320}, {8, 24576, 134193152}};
  for (const Case& c : cases) {
    Table table({{2048, 976771120, 7, 'C'}, {}, {}, {}});
    PlannerInputs in = Inputs(976773168, 5860533168ull);
    in.convertToGpt = true;
    in.realCount = 1;
    in.multiplier = c.multiplier;
    PlannerResults r = PlanLayoutEntries(table.t, 4, in);
    SCOPED_TRACE(c.multiplier);
    EXPECT_DOUBLE_EQ(r.scaleFactor, (5860533168.0 - 131072.0) / 976773168.0);
    EXPECT_EQ(r.newPartitionCount, 2);
    EXPECT_EQ(r.count, 2);
    ExpectPlan(table.t, {{c.espStart, c.espLength, 0xEE}, {134217728, 3000458764288ull, 7}}, "conversion");
    EXPECT_EQ(table.t[0].partitionStyle, 1u);
    EXPECT_EQ(table.t[0].typeGuid.Data1, 0xC12A7328u);
    EXPECT_EQ(table.t[1].partitionStyle, 1u);
    EXPECT_EQ(table.t[1].typeGuid.Data1, 0xEBD0A0A2u);
    EXPECT_EQ(table.t[1].gptAttributes, 0x8000000000000000ull);
    EXPECT_EQ(std::u16string(table.t[1].name), u"Basic data partition");
    EXPECT_EQ(table.t[1].driveLetter, 'C');
    EXPECT_EQ(table.t[2].newLengthBytes, 0u);
  }
  EXPECT_TRUE(NeedsGptConversion(5860533168ull));
  EXPECT_TRUE(NeedsGptConversion(4294967296ull));
  EXPECT_FALSE(NeedsGptConversion(4294967295ull));
}

// Next hands the converted plan's tail back to the table: the last partition
// reaches the disk's end less the backup GPT (33 sectors of 512 bytes, or 5
// of 4096 bytes: 40 units), the ESP keeps its place.
TEST(DestinationPlanner, ConvertedTailWrittenBack) {
  struct Case {
    const char* what;
    int32_t multiplier;
    uint64_t destination;  // 512-byte units
    uint64_t dataLength;   // bytes of the data entry before the write-back (0: as planned)
    uint64_t wantLength;   // bytes of the data entry after it
  } cases[] = {
      {"planned to the disk's very end", 1, 5860533168ull, 0, (5860533168ull - 33 - 262144) * 512},
      {"planned to the end, 4096-byte sectors", 8, 5860533168ull, 0, (5860533168ull - 40 - 262144) * 512},
      {"planned 100 MiB short of the end", 1, 5860533168ull, (5860533168ull - 262144 - 204800) * 512,
       (5860533168ull - 33 - 262144) * 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Table table({{2048, 976771120, 7, 'C'}, {}, {}, {}});
    PlannerInputs in = Inputs(976773168, c.destination);
    in.convertToGpt = true;
    in.realCount = 1;
    in.multiplier = c.multiplier;
    PlannerResults r = PlanLayoutEntries(table.t, 4, in);
    ASSERT_EQ(r.count, 2);
    const uint64_t espStart = table.t[0].newStartBytes, espLength = table.t[0].newLengthBytes;
    if (c.dataLength) table.t[1].newLengthBytes = c.dataLength;
    DiskMapRecord map;
    map.count = BuildPlannedMap(table.t, 2, c.destination, true, true, map.items);
    ASSERT_EQ(map.count, 2);
    WriteBackConvertedTail(map, table.t, 2, c.destination, c.multiplier);
    EXPECT_EQ(table.t[0].newStartBytes, espStart);
    EXPECT_EQ(table.t[0].newLengthBytes, espLength);
    EXPECT_EQ(table.t[1].newStartBytes, 134217728u);
    EXPECT_EQ(table.t[1].newLengthBytes, c.wantLength);
    EXPECT_EQ(table.t[2].newLengthBytes, 0u);
  }
}

// The After bar of a conversion calls the EFI system partition it adds new;
// the same type on a bar without a conversion keeps its type name.
TEST(DestinationPlanner, BarLabelsOfPlannedSegments) {
  DiskBarStyle conversion;
  conversion.newPartitionType = 0xEE;
  const DiskBarStyle plain;
  struct Case {
    DiskMapItem item;
    const DiskBarStyle* style;
    std::u16string want;
  } cases[] = {
      {{0, 34, 262110, 0xEE, 1, 0, -1}, &conversion, u"IDS_new"},
      {{1, 262144, 1000000, 7, 1, 0, 'C'}, &conversion, u" (C:) " + std::u16string(PartitionTypeName(7).GetString())},
      {{0, 34, 262110, 0xEE, 1, 0, -1}, &plain, std::u16string(PartitionTypeName(0xEE).GetString())},
      {{2, 2048, 4096, FS_RAW, 1, 0, -1}, &plain, u"Raw"},
      {{-1, 2048, 4096, -1, 1, 0, -1}, &plain, u"IDS_Unallocated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.want));
    EXPECT_EQ(std::u16string(DiskBarSegmentLabel(c.item, 0, *c.style).GetString()), c.want);
  }
  EXPECT_FALSE(PartitionTypeName(7).IsEmpty());
}

// Conversion drops extended partitions, turns logical drives into ordinary
// partitions and packs everything behind the EFI system partition.
TEST(DestinationPlanner, ConversionFlattensLogicalDrives) {
  Table table({{2048, 2048000, 7, 'C'}, {2050048, 4098048, 5, 0, -1}, {2052096, 2048000, 7, 'D', 1, 1}, {}});
  PlannerInputs in = Inputs(6148096, 8388608000ull, SizingMode::SameSize);  // same size: factor 1.0
  in.convertToGpt = true;
  in.realCount = 3;
  PlannerResults r = PlanLayoutEntries(table.t, 4, in);
  EXPECT_EQ(r.newPartitionCount, 3);
  EXPECT_EQ(r.count, 3);
  ExpectPlan(table.t, {{17408, 134200320, 0xEE}, {134217728, 1048576000, 7}, {1182793728, 1048576000, 7}},
             "flattened");
  EXPECT_EQ(table.t[2].nesting, 0);
}

TEST(DestinationPlanner, GptToGpt) {
  const std::vector<E> layout = {{2048, 204800, -1, 0, 0, 0, 1},
                                 {206848, 32768, 12, 0, 0, 0, 1, u"Microsoft reserved partition"},
                                 {239616, 204800000, 7, 'C', 0, 0, 1}};
  struct Case {
    const char* what;
    uint64_t d;
    int32_t q;
    std::vector<Plan> want;
  } cases[] = {
      {"system third: the two before it keep size and become type 7", 419430400, 2,
       {{kMiB, 104857600, 7}, {105906176, 16777216, 7}, {122683392, 209715200000ull, 7}}},
      {"no system: the unlettered and the reserved partition keep size and type", 419430400, 0,
       {{kMiB, 104857600, -1}, {105906176, 16777216, 12}, {122683392, 209715200000ull, 7}}},
      {"a destination too small cuts the last partition at its end", 5000000, 2,
       {{kMiB, 104857600, 7}, {105906176, 16777216, 7}, {122683392, 2437316608ull, 7}}},
  };
  for (const Case& c : cases) {
    Table table(layout);
    PlannerInputs in = Inputs(209715200, c.d);
    in.sourceIsGpt = true;
    in.systemIndex = c.q;
    in.realCount = 3;
    PlannerResults r = PlanLayoutEntries(table.t, 3, in);
    EXPECT_EQ(r.newPartitionCount, 3) << c.what;
    ExpectPlan(table.t, c.want, c.what);
    // A second run over the same layout gives the same count.
    Table again(layout);
    EXPECT_EQ(PlanLayoutEntries(again.t, 3, in).newPartitionCount, 3);
  }
}

// Planned entries: one lettered data partition at 1 MiB of 1 GiB on a 2 GiB source.
TEST(PlanApplication, SurplusGoesToFirstLetteredEntry) {
  struct Case {
    const char* what;
    uint64_t d;
    uint64_t given;
  } cases[] = {
      {"same size: nothing", 4194304, 0},
      {"exactly 1 MiB more: left free", 4194304 + 2048, 0},
      {"1 MiB and a sector more: 1 MiB given", 4194304 + 2049, kMiB},
      {"5 MiB and 100 sectors more: 5 MiB given", 4194304 + 10240 + 100, 5 * kMiB},
  };
  for (const Case& c : cases) {
    Table table({{2048, 204800, 7}, {206848, 2097152, 7, 'C'}, {2303999, 100, 7, 'D'}});
    uint64_t starts[] = {kMiB, 105906176, 105906176 + 1073741824ull};
    for (int i = 0; i < 3; ++i) {
      table.t[i].newStartBytes = starts[i];
      table.t[i].newLengthBytes = table.t[i].lengthBytes;
    }
    table.t[2].newStartBytes = table.t[2].startBytes;  // the last one ends where it ends on the source
    EXPECT_EQ(GiveSurplusSpace(table.t, 3, 4194304, c.d, 1.0), c.given) << c.what;
    EXPECT_EQ(table.t[0].newLengthBytes, 104857600u) << c.what;
    EXPECT_EQ(table.t[1].newLengthBytes, 1073741824u + c.given) << c.what;
    EXPECT_EQ(table.t[2].newStartBytes, 2303999ull * 512 + c.given) << c.what;
  }
}

TEST(PlanApplication, ShrinkCorrections) {
  auto mib = [](uint64_t v) { return v * kMiB; };
  struct Case {
    const char* what;
    std::vector<E> entries;
    std::vector<std::pair<uint64_t, uint64_t>> planned;  // MiB
    std::map<int32_t, uint64_t> usedMiB;
    uint64_t dMiB;
    bool fits;
    std::vector<std::pair<uint64_t, uint64_t>> want;  // MiB
  };
  std::vector<Case> cases = {
      {"an overrun of 10 MiB comes out of the first lettered partition with room",
       {{2048, 1, 7, 'C'}, {2, 1, 7, 'D'}}, {{1, 5000}, {5001, 1000}}, {{'C', 1000}, {'D', 100}}, 5991, true,
       {{1, 4990}, {4991, 1000}}},
      {"no partition with 42 MiB of room: the plan stays and is reported",
       {{2048, 1, 7, 'C'}, {2, 1, 7, 'D'}}, {{1, 5000}, {5001, 1000}}, {{'C', 4980}, {'D', 100}}, 5991, false,
       {{1, 5000}, {5001, 1000}}},
      {"a partition short of used + 16 MiB takes it from a later one",
       {{2048, 1, 7, 'C'}, {2, 1, 7, 'D'}}, {{1, 1000}, {1001, 3000}}, {{'C', 990}, {'D', 100}}, 4001, true,
       {{1, 1006}, {1007, 2994}}},
      {"an unlettered partition cut below its length gets it back",
       {{2048, 500 * 2048, 0x27}, {2, 1, 7, 'C'}}, {{1, 450}, {451, 3000}}, {{'C', 100}}, 3451, true,
       {{1, 500}, {501, 2950}}},
      {"a partition short of its data with no room anywhere stays short",
       {{2048, 1, 7, 'C'}, {2, 1, 7, 'D'}}, {{1, 1000}, {1001, 1000}}, {{'C', 990}, {'D', 990}}, 2001, true,
       {{1, 1000}, {1001, 1000}}},
  };
  for (const Case& c : cases) {
    Table table(c.entries);
    for (size_t i = 0; i < c.planned.size(); ++i) {
      table.t[i].newStartBytes = mib(c.planned[i].first);
      table.t[i].newLengthBytes = mib(c.planned[i].second);
    }
    auto used = [&](int32_t letter) {
      auto it = c.usedMiB.find(letter);
      return it == c.usedMiB.end() ? 0 : it->second * 2048;
    };
    EXPECT_EQ(CorrectShrinkingPlan(table.t, static_cast<int32_t>(c.entries.size()), c.dMiB * 2048, used), c.fits)
        << c.what;
    for (size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(table.t[i].newStartBytes, mib(c.want[i].first)) << c.what << " " << i;
      EXPECT_EQ(table.t[i].newLengthBytes, mib(c.want[i].second)) << c.what << " " << i;
    }
  }
}

TEST(PlanApplication, PlannedMapTail) {
  struct Case {
    uint64_t gap;  // sectors between the last partition's end and the disk's end
    bool gpt;
    int32_t wantCount;
    uint64_t wantLastLength;
  } cases[] = {{32768, false, 1, 1000000}, {32769, false, 2, 32769}, {32769, true, 1, 1032769}, {0, true, 1, 1000000}};
  for (const Case& c : cases) {
    Table table({{2048, 1000000, 7, 'C'}});
    table.t[0].newStartBytes = kMiB;
    table.t[0].newLengthBytes = 1000000ull * 512;
    table.t[0].newType = 7;
    DiskMapItem items[kMaxDiskMapItems];
    int32_t n = BuildPlannedMap(table.t, 1, 2048 + 1000000 + c.gap, false, c.gpt, items);
    EXPECT_EQ(n, c.wantCount) << c.gap;
    EXPECT_EQ(items[n - 1].length, c.wantLastLength) << c.gap;
    EXPECT_EQ(items[0].driveLetter, 'C');
    EXPECT_EQ(items[0].partitionIndex, 0);
    if (n == 2) {
      EXPECT_EQ(items[1].partitionIndex, -1);
      EXPECT_EQ(items[1].start, 1002048u);
    }
  }
}

TEST(PlanApplication, RequiredSectorsAndTotals) {
  Table table({{2048, 60000000, 7, 'C'}, {60002048, 1000, 7}, {60003048, 2000, 7, 'D'}});
  table.t[0].newLengthBytes = 60000000ull * 512;
  table.t[2].newLengthBytes = 1000ull * 512;
  auto used = [](int32_t letter) -> uint64_t { return letter == 'C' ? 40000000 : 980; };
  PlanTotals totals = ComputePlanTotals(table.t, 3, used);
  EXPECT_EQ(totals.required, 50000000u + 980 + 245);
  EXPECT_EQ(totals.planned, 60001000u);
}

}  // namespace
