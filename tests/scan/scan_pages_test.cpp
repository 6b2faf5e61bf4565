// The stand-alone bad-sector scan run headless through its three pages on a
// simulated PC whose disks have unreadable sectors (machine.ini faults):
// the ticked partition of a 4096-byte disk, listed as disk 2 but physical
// disk 2 of a machine without a disk 1, is scanned from its first to its
// last native sector, every failing chunk is found and counted, and the
// result page says so; a whole disk is scanned the same way.
#include "mainapp/scan/scan_pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "mainapp/clone/clone_settings.h"
#include "mainapp/clone/disk_selection.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/clone/prescan_page.h"
#include "mainapp/shell/main_commands.h"
#include "platform/core/text.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

constexpr uint64_t kMiB = 1ull << 20;
// Disk 2: 4096-byte sectors, one NTFS partition of 8192 native sectors at 256.
constexpr uint64_t kPartStart = 256, kPartCount = 8192;
// Rows of the target list: disk 0, its C:, disk 2, its D:.
constexpr int kRowDisk0 = 0, kRowPartitionD = 3;

class ScanPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ScanState = ScanStateRecord{};
    CloneSettings = CloneSettingsRecord{};
    ShellState = ShellStateRecord{};
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1024 * kMiB, .product = "System Disk", .serial = "S0"});
    pc.WriteMbr(0, {Part{.start = 2048, .count = 64 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"}});
    pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 64 * kMiB, .sectorSize = 4096, .product = "Native Disk",
                        .serial = "S2"});
    pc.WriteMbr(2, {Part{.start = kPartStart, .count = kPartCount, .mbrType = 0x07, .fs = "ntfs", .label = "DATA"}});
    // One bad sector inside the partition and its very last sector; one
    // outside it, which the partition's scan must not report.
    pc.SetIni("disk 2", "unreadable", "3000, 8447, 9000");
    pc.SetIni("disk 0", "unreadable", "700000-700003");
    ASSERT_TRUE(disk_fixture::MountProgramFolder(pc, pc.folder() + "/program"));
    pc.Boot();
    ShellState.programFolder = u"P:";
    ShellState.languageName = u"English";
    ShellState.messageCaption = u"Drummetworks";
    ShellState.titleFontHeight = 16;
    ShellState.textFontHeight = 13;
    ASSERT_TRUE(LoadLanguageStrings());
    RegisterScanCommands();
  }
  void TearDown() override {
    RunScanSummaryPage = nullptr;
    RunScanTargetPage = nullptr;
    LanguageTable = LanguageTableRecord{};
    ShellState = ShellStateRecord{};
  }
  std::vector<std::string> FailedSectors() {
    std::vector<std::string> lines;
    for (const CString& line : ScanState.failedSectors) lines.push_back(platform::to_utf8(line.str()));
    return lines;
  }
  SimulatedPc pc;
};

TEST_F(ScanPagesTest, PartitionOfA4096ByteDiskIsScannedWholeOnTheRightDisk) {
  ASSERT_NE(shell::FindMainCommand(shell::kCmdScan), nullptr);
  platform::ui::Script script;
  script.expect_dialog(CScanNewDiskPartition::IDD)
      .expect_disabled(CScanNewDiskPartition::kNext)
      .tick(CScanNewDiskPartition::kList, kRowPartitionD)
      .expect_enabled(CScanNewDiskPartition::kNext)
      .click(CScanNewDiskPartition::kNext)
      .answer("yes")
      .expect_dialog(155)
      .click(1011)
      .answer("ok")
      .expect_dialog(CScanSummary::IDD)
      .expect_text(CScanSummary::kResult, "2 errors, 0 , read on a retry")
      .click(1000);
  CScanNewDiskPartition page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "") << run.log;
  // The physical disk, the start and the whole length in native sectors.
  EXPECT_EQ(ScanTarget.diskNumber, 2);
  EXPECT_EQ(ScanTarget.kind, kSelectionPartition);
  EXPECT_EQ(ScanTarget.startSector, kPartStart);
  EXPECT_EQ(ScanTarget.sectorCount, kPartCount);
  // Chunks of one track (63 units = 7 native sectors) from the partition's
  // start: 3000 opens chunk 392, 8447 lies in the short last chunk at 8446.
  EXPECT_EQ(FailedSectors(), (std::vector<std::string>{"Read error in sector 3000", "Read error in sector 8446"}));
  EXPECT_EQ(ScanState.scanErrorCount, 2);
  EXPECT_EQ(ScanState.badSectorCount, 0);
  EXPECT_NE(platform::to_utf8(ScanState.scanTargetText.str()).find("(D:)"), std::string::npos);
  EXPECT_EQ(ScanState.scanOnlySummary, 1);
}

TEST_F(ScanPagesTest, TickingADiskTicksItsPartitionsAndScansTheWholeDisk) {
  platform::ui::Script script;
  script.expect_dialog(CScanNewDiskPartition::IDD)
      .tick(CScanNewDiskPartition::kList, kRowDisk0)
      .expect_checked(CScanNewDiskPartition::kList, kRowDisk0 + 1)
      .click(CScanNewDiskPartition::kNext)
      .answer("no")  // stays on the page
      .expect_dialog(CScanNewDiskPartition::IDD)
      .click(CScanNewDiskPartition::kNext)
      .answer("yes")
      .expect_dialog(155)
      .click(1011)
      .answer("ok")
      .expect_dialog(CScanSummary::IDD)
      .expect_text(CScanSummary::kResult, "1 errors, 0 , read on a retry")
      .click(1000);
  CScanNewDiskPartition page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(ScanTarget.diskNumber, 0);
  EXPECT_EQ(ScanTarget.kind, kSelectionWholeDisk);
  EXPECT_EQ(ScanTarget.startSector, 0u);
  // 700000-700003 lie in the chunk of one track that starts at 699993.
  EXPECT_EQ(FailedSectors(), (std::vector<std::string>{"Read error in sector 699993"}));
  EXPECT_EQ(CloneSettings.checkedRow, -1) << "the result page forgets the tick";
}

// The three pages in both languages, for a person to look at.
TEST_F(ScanPagesTest, PagesInEnglishAndJapanese) {
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    ShellState.languageName = platform::to_utf16(language);
    ASSERT_TRUE(LoadLanguageStrings());
    const std::string suffix = std::string("-") + language + ".png";
    platform::ui::Script script;
    script.expect_dialog(CScanNewDiskPartition::IDD)
        .tick(CScanNewDiskPartition::kList, kRowPartitionD)
        .screenshot("scan-target" + suffix)
        .click(CScanNewDiskPartition::kNext)
        .answer("yes")
        .expect_dialog(155)
        .screenshot("scan-progress" + suffix)
        .click(1011)
        .answer("ok")
        .expect_dialog(CScanSummary::IDD)
        .screenshot("scan-summary" + suffix)
        .click(1000);
    CScanNewDiskPartition page;
    const std::string folder = ::testing::TempDir();
    auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); },
                                         [&](platform::ui::DriverOptions& o) { o.screenshots_dir = folder; });
    ASSERT_EQ(run.failure, "") << run.log;
    for (const char* name : {"scan-target", "scan-progress", "scan-summary"})
      EXPECT_TRUE(std::filesystem::exists(folder + "/" + name + suffix)) << name;
  }
}

}  // namespace
