// The bad-sector scan page run headless on a simulated PC with unreadable
// sectors: in automatic mode (before a clone) it starts by itself with Start
// and Back disabled, shows no message and closes; stand-alone the user
// starts it, gets the result message and the summary hook; Cancel before
// Start closes it with scanCancelled set. The English texts come from the
// staged language file.
#include "mainapp/clone/prescan_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/text.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::SimulatedPc;

bool summaryShown = false;

class PrescanPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ScanState = ScanStateRecord{};
    CloneSettings = CloneSettingsRecord{};
    ShellState = ShellStateRecord{};
    summaryShown = false;
    RunScanSummaryPage = [] { summaryShown = true; };
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 32ull << 20, .product = "Scan Disk"});
    pc.SetIni("disk 0", "unreadable", "5000-5001");
    pc.AppendIni(std::string("\n[mount P]\npath = P:\nhost = ") + DRUM_STAGE_DIR + "\nread_only = yes\n");
    pc.Boot();
    DetectSystemAndSpecialDisks();
    ShellState.programFolder = u"P:";
    ShellState.languageName = u"English";
    ShellState.messageCaption = u"Drummetworks";
    ShellState.titleFontHeight = 16;
    ShellState.textFontHeight = 13;
    ASSERT_TRUE(LoadLanguageStrings());
    ScanTarget = DiskSelectionRecord{};
    ScanTarget.diskNumber = 0;
    ScanTarget.kind = kSelectionWholeDisk;
    SetSelectionModel(ScanTarget, u"Scan Disk");
    ScanTarget.sectorCount = (32ull << 20) / 512;
  }
  void TearDown() override {
    RunScanSummaryPage = nullptr;
    LanguageTable = LanguageTableRecord{};
    ShellState = ShellStateRecord{};
  }
  SimulatedPc pc;
};

TEST_F(PrescanPageTest, AutomaticModeScansByItselfAndCloses) {
  ScanState.scanAutomatic = 1;
  platform::ui::Script script;
  script.expect_dialog(155)
      .expect_disabled(CBadSectorScanSummary::kStartButton)
      .expect_disabled(CBadSectorScanSummary::kBackButton)
      .expect_text(CBadSectorScanSummary::kTargetText, "Disk 0 Scan Disk 32 MB");
  CBadSectorScanSummary page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  EXPECT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("dialog 155"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("message box"), std::string::npos) << "no message in automatic mode\n" << run.log;
  EXPECT_EQ(ScanState.scanFinished, 1);
  EXPECT_EQ(ScanState.scanCancelled, 0);
  EXPECT_EQ(ScanState.scanErrorCount, 1) << "sectors 5000-5001 lie in the chunk 4977-5039";
  ASSERT_EQ(ScanState.failedSectors.size(), 1u);
  EXPECT_EQ(platform::to_utf8(ScanState.failedSectors[0].str()), "Read error in sector 4977");
  EXPECT_FALSE(summaryShown);
}

TEST_F(PrescanPageTest, StandAloneScanReportsAndHandsOverToTheSummary) {
  const std::string shot = ::testing::TempDir() + "scan_page.png";
  platform::ui::Script script;
  script.expect_dialog(155)
      .expect_enabled(CBadSectorScanSummary::kStartButton)
      .expect_text(CBadSectorScanSummary::kStartButton, "&Start Scan")
      .screenshot(shot)
      .click(CBadSectorScanSummary::kStartButton)
      .answer("ok");
  CBadSectorScanSummary page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  EXPECT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("The bad sector scan is complete."), std::string::npos) << run.log;
  EXPECT_TRUE(summaryShown);
  EXPECT_EQ(ScanState.scanOnlySummary, 1);
  EXPECT_EQ(CloneSettings.badSectorScan, 1);
  EXPECT_EQ(ScanState.scanErrorCount, 1);
  EXPECT_TRUE(std::filesystem::exists(shot));
}

TEST_F(PrescanPageTest, CancelBeforeStartClosesThePage) {
  platform::ui::Script script;
  script.expect_dialog(155).click(CBadSectorScanSummary::kCancelButton).answer("yes");
  CBadSectorScanSummary page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  EXPECT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(ScanState.scanCancelled, 1);
  EXPECT_EQ(ScanState.scanStarted, 0);
  EXPECT_FALSE(summaryShown);
}

}  // namespace
