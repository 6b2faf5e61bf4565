// One-click copy run headless on simulated PCs: with an empty SATA disk, a
// SATA system disk and a USB stick, it copies the SATA disk (never the
// stick, which is not touched) onto the empty disk through the clone page,
// checked with sfdisk, ntfsls/ntfscat and fsck.fat; with a single empty
// disk it refuses to copy a disk onto itself; and BorrowFreeSpace moves room
// from later partitions as the planner's tables expect.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "clone/clone_fixture.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "mainapp/clone/one_click_copy.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

constexpr uint64_t kMiB = 1ull << 20;

class OneClickTest : public clone_fixture::ClonePcTest {};

// Listed 1: the empty destination; listed 2: the SATA system disk; listed 3:
// a USB stick with a letter. The search from the last disk skips the stick
// and takes the SATA disk.
TEST_F(OneClickTest, CopiesTheSataSystemDiskOntoTheEmptyDiskAndLeavesTheStick) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 900 * kMiB, .product = "Empty Disk", .serial = "E0"});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 640 * kMiB, .product = "System Disk", .serial = "S1"});
  Part system{.start = 2048, .count = 160 * 2048, .mbrType = 0x07, .active = true, .fs = "ntfs", .label = "SYSTEM"};
  system.files = {{"/bootmgr", disk_fixture::Pattern(300000, 3)}, {"/notes.txt", "the system partition\n"}};
  Part data{.start = 162 * 2048, .count = 300 * 2048, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"};
  data.files = {{"/DOCS/REPORT.BIN", disk_fixture::Pattern(1500000, 9)}};
  pc_.WriteMbr(1, {system, data}, 0x5EED1234);
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 128 * kMiB, .bus = platform::machine::BusType::Usb,
                       .product = "Stick", .serial = "U2", .removable = true});
  pc_.WriteMbr(2, {Part{.start = 2048, .count = 100 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "STICK"}});
  Start();
  const std::string stick = ImageHash(2), source = ImageHash(1);

  platform::ui::Script script;
  script.expect_dialog(191).expect_disabled(4).click(1011).answer("ok").expect_dialog(138);
  script.expect_text(1024, "Completed").key("escape");
  auto run = disk_fixture::RunHeadless(script, [] { OnOneClickCopy(nullptr); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_FALSE(ShellState.oneClickRunning);
  EXPECT_EQ(CloneSettings.basicDuplication, 1);
  EXPECT_EQ(CloneSettings.sizingMode, SizingMode::Automatic);
  EXPECT_EQ(DiskContext.listedToPhysical[CloneSettings.copySourceDisk.value + 1], 1);
  EXPECT_EQ(DiskContext.listedToPhysical[CloneSettings.chosenDestinationDisk.value + 1], 0);
  EXPECT_EQ(ImageHash(2), stick) << "the USB stick is never touched";
  EXPECT_EQ(ImageHash(1), source);

  std::string out;
  Shell("sfdisk -d " + pc_.Image(0), &out);
  std::regex row("start=\\s*(\\d+), size=\\s*(\\d+), type=(\\w+)");
  std::vector<std::vector<uint64_t>> rows;
  for (std::sregex_iterator it(out.begin(), out.end(), row), end; it != end; ++it)
    rows.push_back({std::stoull((*it)[1]), std::stoull((*it)[2]), std::stoull((*it)[3], nullptr, 16)});
  ASSERT_EQ(rows.size(), 2u) << out;
  EXPECT_EQ(rows[0][2], 7u);
  EXPECT_EQ(rows[1][2], 0xCu);
  EXPECT_GE(rows[0][1], 160u * 2048) << "automatic sizing never shrinks onto a larger disk";
  const std::string copy = pc_.ExtractVolume(0, rows[0][0], rows[0][1], "one-click-system.img");
  EXPECT_EQ(Shell("ntfsfix -n " + copy, &out), 0) << out;
  Shell("ntfscat " + copy + " bootmgr", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(300000, 3)) << "bootmgr differs";
  const std::string dataCopy = pc_.ExtractVolume(0, rows[1][0], rows[1][1], "one-click-data.img");
  EXPECT_EQ(Shell("fsck.fat -n " + dataCopy, &out), 0) << out;
  Shell("mtype -i " + dataCopy + " ::/DOCS/REPORT.BIN", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(1500000, 9)) << "REPORT.BIN differs";
}

// The only disk is empty: it is the automatic destination and, with no other
// disk to copy, would also be the source. One-click copy offers the wizard
// instead and writes nothing.
TEST_F(OneClickTest, RefusesToCopyADiskOntoItself) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 300 * kMiB, .product = "Only Disk", .serial = "O0"});
  Start();
  platform::ui::Script script;
  script.answer("cancel");
  auto run = disk_fixture::RunHeadless(script, [] { OnOneClickCopy(nullptr); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("No new disk without partitions was found"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("dialog 191"), std::string::npos) << run.log;
  EXPECT_EQ(Shell("cmp -s -n " + std::to_string(300 * kMiB) + " " + pc_.Image(0) + " /dev/zero"), 0);
  EXPECT_FALSE(ShellState.oneClickRunning);
}

// The planned C: of 50,000,000 sectors holds 48,000,000 used ones and needs
// 60,000,000; the later lettered partitions lend what they hold beyond
// their own used x 1.25, in order, and the partitions between move up.
TEST(BorrowFreeSpace, TakesRoomFromLaterLetteredPartitionsInOrder) {
  DiskContext = DiskContextRecord{};
  constexpr uint64_t kSector = 512;
  struct Row {
    int32_t letter;
    uint64_t start, length;  // sectors
    int32_t nesting;
  };
  const Row rows[] = {{'C', 2048, 50000000, 0}, {'D', 50002048, 12000000, 0}, {0, 62002048, 1000000, 0},
                      {'E', 63002048, 30000000, 0}};
  for (int i = 0; i < 4; ++i) {
    LayoutEntry& e = DiskContext.layoutTable[i];
    e.driveLetter = rows[i].letter;
    e.newStartBytes = rows[i].start * kSector;
    e.newLengthBytes = rows[i].length * kSector;
    e.nesting = rows[i].nesting;
  }
  const std::map<int32_t, uint64_t> used = {{'C', 48000000}, {'D', 8000000}, {'E', 4000000}};
  const UsedSectorsOf usedOf = [&](int32_t letter) { return used.at(letter); };
  ASSERT_TRUE(BorrowFreeSpace(0, 10000000, 4, usedOf));
  // D: keeps 10,000,000 (8,000,000 x 1.25) and lends 2,000,000; E: the other 8,000,000.
  EXPECT_EQ(DiskContext.layoutTable[0].newLengthBytes, 60000000 * kSector);
  EXPECT_EQ(DiskContext.layoutTable[1].newLengthBytes, 10000000 * kSector);
  EXPECT_EQ(DiskContext.layoutTable[1].newStartBytes, 60002048 * kSector);
  EXPECT_EQ(DiskContext.layoutTable[2].newStartBytes, 70002048 * kSector);
  EXPECT_EQ(DiskContext.layoutTable[3].newStartBytes, 71002048 * kSector);
  EXPECT_EQ(DiskContext.layoutTable[3].newLengthBytes, 22000000 * kSector);
  // Every giving partition keeps its end.
  EXPECT_EQ(DiskContext.layoutTable[3].newStartBytes + DiskContext.layoutTable[3].newLengthBytes,
            (63002048 + 30000000) * kSector);
  // More than the later partitions can spare fails.
  EXPECT_FALSE(BorrowFreeSpace(0, 50000000, 4, usedOf));
  // A logical drive right after the short one stops the search at once.
  DiskContext.layoutTable[1].nesting = 1;
  const uint64_t before = DiskContext.layoutTable[0].newLengthBytes;
  EXPECT_FALSE(BorrowFreeSpace(0, 1000, 4, usedOf));
  EXPECT_EQ(DiskContext.layoutTable[0].newLengthBytes, before);
}

}  // namespace
