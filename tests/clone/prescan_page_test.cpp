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
#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::SimulatedPc;

bool summaryShown = false;
// The page as the summary opens: bar position and range, remaining time, sector.
int shownProgress = -1, shownRange = -1;
std::string shownRemaining, shownSector;
// Virtual ms when the summary opened.
uint64_t stopTime = UINT64_MAX;

void ReadTheScanPage() {
  summaryShown = true;
  stopTime = platform::Clock::instance().now_ms();
  const HWND page = FindWindowW(nullptr, LookupString(u"IDS_BadSectorScanProgCap"));
  CWnd* wnd = CWnd::FromHandle(page);
  if (!wnd) return;
  if (auto* bar = dynamic_cast<CProgressCtrl*>(wnd->GetDlgItem(CBadSectorScanSummary::kProgressBar))) {
    int low = 0;
    bar->GetRange(low, shownRange);
    shownProgress = bar->GetPos();
  }
  CString text;
  wnd->GetDlgItemText(1084, text);
  shownRemaining = platform::to_utf8(text.str());
  wnd->GetDlgItemText(1078, text);
  shownSector = platform::to_utf8(text.str());
}

class PrescanPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ScanState = ScanStateRecord{};
    CloneSettings = CloneSettingsRecord{};
    ShellState = ShellStateRecord{};
    summaryShown = false;
    shownProgress = shownRange = -1;
    shownRemaining.clear();
    shownSector.clear();
    stopTime = UINT64_MAX;
    RunScanSummaryPage = &ReadTheScanPage;
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
    ScanTarget.diskNumber = PhysicalDiskNumber{0};
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
  EXPECT_EQ(ScanState.scanErrorCount, 2) << "sectors 5000-5001, each found in the failed chunk 4977-5039";
  EXPECT_EQ(ScanState.badSectorCount, 2);
  ASSERT_EQ(ScanState.failedSectors.size(), 2u);
  EXPECT_EQ(platform::to_utf8(ScanState.failedSectors[0].str()), "Read error in sector 5000");
  EXPECT_EQ(platform::to_utf8(ScanState.failedSectors[1].str()), "Read error in sector 5001");
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
  EXPECT_EQ(ScanState.scanErrorCount, 2);
  EXPECT_TRUE(std::filesystem::exists(shot));
  // What the page showed as "complete" came up: a full bar, nothing left.
  EXPECT_EQ(shownProgress, shownRange) << "the bar is full when the scan is complete";
  EXPECT_GT(shownRange, 0);
  EXPECT_EQ(shownRemaining, "00:00:00");
  EXPECT_EQ(shownSector, std::to_string((32ull << 20) / 512 - 1)) << "the last sector read";
}

// Cancel pressed while the scan reads is answered at the scan's next look at
// its messages, within a second of the click by the virtual clock: the
// press, the release and the button's notification all wait there, and the
// pump serves them together, question and answer included. The scan then
// stops where it was, without the "complete" message.
TEST_F(PrescanPageTest, CancelDuringTheScanIsAnsweredWithinASecond) {
  platform::ui::Script script;
  script.expect_dialog(155).click(CBadSectorScanSummary::kStartButton).click(CBadSectorScanSummary::kCancelButton);
  script.answer("yes");
  CBadSectorScanSummary page;
  const uint64_t opened = platform::Clock::instance().now_ms();
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  EXPECT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(run.log.find("The bad sector scan is complete."), std::string::npos) << run.log;
  EXPECT_EQ(ScanState.scanCancelled, 1);
  EXPECT_EQ(ScanState.scanFinished, 1);
  ASSERT_NE(stopTime, UINT64_MAX);
  EXPECT_LT(stopTime - opened, 1000u) << "virtual ms from the page's opening to the scan's stop";
  EXPECT_LT(shownProgress, shownRange / 2) << "the scan stopped near where it was";
  EXPECT_TRUE(summaryShown) << "a stand-alone scan ends on its summary";
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
