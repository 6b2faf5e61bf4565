// The secure deletion wizard run headless from the target page to the
// summary on a simulated PC (fixture_wipe_pc.h): the partition in the middle
// of a 4096-byte disk and a whole 512-byte disk overwritten (checked with cmp
// on the images, every other byte hashed before and after), the saved report
// compared with a golden file written by hand (converted to UTF-16LE with
// CR LF by iconv and sed, compared by cmp), Cancel during the run, the
// system disk refusing its tick, and the method page's rules.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "disk/disk_context.h"
#include "fixture_wipe_pc.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/wipe/deletion_progress_page.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/deletion_summary_page.h"
#include "mainapp/wipe/deletion_texts.h"
#include "mainapp/wipe/select_disk_page.h"
#include "mainapp/wipe/select_method_page.h"
#include "platform/core/text.h"
#include "program_support/language_table.h"

namespace {

using disk_fixture::Shell;
using wipe_fixture::WipePc;
constexpr uint64_t kMiB = WipePc::kMiB;

// Rows of the target list: disk 0 (0) and C: (1); disk 1 (2) with D:, E:,
// F: (3-5); disk 2 (6) with G:, H: (7-8).
constexpr int kRowDisk0 = 0, kRowSystem = 1, kRowE = 4, kRowDisk2 = 6;

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }

class DeletionPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SelectedWipeMethod = -1;
    DeleteAbortRequested = 0;
    DiskSelection = DiskSelectionRecord{};
  }
  WipePc w;
};

TEST_F(DeletionPagesTest, ZeroWriteOfAMiddlePartitionOnA4096ByteDiskAndItsReport) {
  const uint64_t first = 21 * kMiB, bytes = 20 * kMiB;
  const std::string before = w.Hash(1, 0, first), after = w.Hash(1, first + bytes, 96 * kMiB);
  const std::string other = w.Hash(2, 0, 64 * kMiB);
  ASSERT_FALSE(w.IsZero(1, first + 8192, 4096));
  platform::ui::Script s;
  s.expect_dialog(CSelectDisk::IDD).expect_disabled(1007).tick(1027, kRowE).expect_enabled(1007).click(1007);
  s.expect_dialog(CSelectDeleteMethod::IDD).expect_checked(1027, 0).expect_enabled(1007).click(1007);
  s.expect_dialog(CDeletionProgress::IDD).click(1038).answer("yes").answer("ok");
  s.expect_dialog(CDeleteProgressSummary::IDD).click(1067).choose("P:\\report.txt");
  s.click(1026).expect_dialog(207).click(2);
  CloneSettings.checkedRow = -1;
  CSelectDisk page;
  ASSERT_EQ(wipe_fixture::RunPage(page, s), "");

  EXPECT_EQ(DiskSelection.kind, kSelectionPartition);
  EXPECT_EQ(DiskSelection.diskNumber.value, 1);
  EXPECT_EQ(DiskSelection.driveLetter, u'E');
  EXPECT_EQ(DiskSelection.startSector, first / 4096);
  EXPECT_EQ(DiskSelection.sectorCount, bytes / 4096);
  EXPECT_EQ(std::u16string(DiskSelection.fileSystemName), u"NTFS");
  EXPECT_TRUE(w.IsZero(1, first, bytes));
  EXPECT_EQ(w.Hash(1, 0, first), before);
  EXPECT_EQ(w.Hash(1, first + bytes, 96 * kMiB), after);
  EXPECT_EQ(w.Hash(2, 0, 64 * kMiB), other);
  EXPECT_EQ(CloneSettings.checkedRow, -1);

  // The report: the golden file with the run's date, in UTF-16LE with a
  // byte order mark and CR LF.
  const std::string date = Utf8(DeleteStartText);
  EXPECT_TRUE(std::regex_match(date, std::regex(R"(01/01/2025 \d\d:\d\d)"))) << date;
  const std::string golden = std::string(std::getenv("DRUM_SOURCE_DIR")) + "/tests/wipe/golden/deletion_report_partition.txt";
  const std::string expected = w.pc.folder() + "/expected.txt";
  ASSERT_EQ(Shell("(printf '\\377\\376'; sed 's|@DATE@|" + date + "|; s/$/\\r/' '" + golden +
                  "' | iconv -f UTF-8 -t UTF-16LE) > '" + expected + "'"),
            0);
  EXPECT_EQ(Shell("cmp '" + expected + "' '" + w.ProgramFolder() + "/report.txt'"), 0);
  std::string lines;
  Shell("iconv -f UTF-16 -t UTF-8 '" + w.ProgramFolder() + "/report.txt' | wc -l", &lines);
  EXPECT_EQ(std::stoi(lines), 17);
}

TEST_F(DeletionPagesTest, RandomWriteOfAWholeDiskClearsItsLayoutAndWritesEverySector) {
  const std::string others = w.Hash(0, 0, 64 * kMiB) + w.Hash(1, 0, 96 * kMiB);
  platform::ui::Script s;
  s.expect_dialog(CSelectDisk::IDD).tick(1027, kRowDisk2).expect_checked(1027, kRowDisk2 + 1).click(1007);
  s.expect_dialog(CSelectDeleteMethod::IDD).tick(1027, 1).click(1007);
  s.expect_dialog(CDeletionProgress::IDD).click(1038).answer("yes").answer("ok");
  s.expect_dialog(CDeleteProgressSummary::IDD).expect_text(1070, "Completed").expect_text(1038, "0").click(1026);
  s.expect_dialog(207).click(2);
  CSelectDisk page;
  ASSERT_EQ(wipe_fixture::RunPage(page, s), "");

  EXPECT_EQ(DiskSelection.kind, kSelectionWholeDisk);
  EXPECT_EQ(DiskSelection.diskNumber.value, 2);
  EXPECT_EQ(SelectedWipeMethod, 1);
  // The disk word's own trailing blank does not double the one before the number.
  const std::string target = Utf8(DeletionTargetText(DiskSelection));
  EXPECT_EQ(target.rfind("Disk 2 ", 0), 0u) << target;
  EXPECT_EQ(target.find("  "), std::string::npos) << target;
  // The whole disk is random, the sectors past its last whole cylinder too:
  // no zero sector among its first and last, no sector twice.
  const uint64_t bytes = DiskSelection.sectorCount * 512;
  std::string imageBytes;
  Shell("stat -c %s '" + w.pc.Image(2) + "'", &imageBytes);
  EXPECT_EQ(bytes, std::stoull(imageBytes));
  std::string repeated;
  Shell("head -c " + std::to_string(bytes) + " '" + w.pc.Image(2) + "' | od -An -v -tx1 -w512 | sort | uniq -d | wc -l",
        &repeated);
  EXPECT_EQ(std::stoi(repeated), 0);
  EXPECT_FALSE(w.IsZero(2, 0, 512));
  EXPECT_FALSE(w.IsZero(2, bytes - 512, 512));
  EXPECT_EQ(w.Hash(0, 0, 64 * kMiB) + w.Hash(1, 0, 96 * kMiB), others);
}

TEST_F(DeletionPagesTest, CancelConfirmedDuringTheRunStopsItAndTheSummarySaysAborted) {
  const uint64_t first = 21 * kMiB, bytes = 20 * kMiB;
  const std::string outside = w.Hash(2, 0, first) + w.Hash(2, first + bytes, 64 * kMiB);
  platform::ui::Script s;
  s.expect_dialog(CSelectDisk::IDD).tick(1027, kRowDisk2 + 2).click(1007);
  s.expect_dialog(CSelectDeleteMethod::IDD).tick(1027, 3).click(1007);
  // Cancel once the first pass is under way (the whole click is served at
  // the engine's next look at its messages): a No goes on, a Yes stops.
  s.expect_dialog(CDeletionProgress::IDD).click(1038).answer("yes").expect_progress(1025, 10);
  s.click(2).answer("no").expect_progress(1025, 20).click(2).answer("yes");
  s.expect_dialog(CDeleteProgressSummary::IDD).expect_text(1070, "Aborted").click(1026);
  CSelectDisk page;
  ASSERT_EQ(wipe_fixture::RunPage(page, s), "");
  EXPECT_EQ(DeleteAbortRequested, 1);
  // Only a part of H: was zeroed; the rest of it and the disk keep their bytes.
  EXPECT_FALSE(w.IsZero(2, first, bytes));
  EXPECT_TRUE(w.IsZero(2, first, 4096));
  EXPECT_EQ(w.Hash(2, 0, first) + w.Hash(2, first + bytes, 64 * kMiB), outside);
}

TEST_F(DeletionPagesTest, TheSystemDiskCannotBeTickedAndNextNeedsATick) {
  platform::ui::Script s;
  s.expect_dialog(CSelectDisk::IDD).tick(1027, kRowDisk0).expect_disabled(1007).tick(1027, kRowSystem);
  s.expect_disabled(1007).click(2);
  CSelectDisk page;
  ASSERT_EQ(wipe_fixture::RunPage(page, s), "");
  EXPECT_EQ(CloneSettings.checkedRow, -1);
}

TEST_F(DeletionPagesTest, MethodPageTicksOneMethodAndBackReturnsToTheSameRow) {
  platform::ui::Script s;
  s.expect_dialog(CSelectDisk::IDD).tick(1027, kRowE).click(1007);
  s.expect_dialog(CSelectDeleteMethod::IDD).tick(1027, 2).expect_checked(1027, 2).untick(1027, 2);
  s.expect_disabled(1007).expect_text(1053, "").tick(1027, 3).click(4);
  s.expect_dialog(CSelectDisk::IDD).expect_checked(1027, kRowE).click(2);
  CSelectDisk page;
  ASSERT_EQ(wipe_fixture::RunPage(page, s), "");
  EXPECT_EQ(SelectedWipeMethod, 0);  // the target page resets it
  EXPECT_EQ(CloneSettings.checkedRow, kRowE);
}

}  // namespace
