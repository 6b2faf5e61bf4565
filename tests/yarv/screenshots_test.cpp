// Every page of Yarv's wizard opened headless in English and in Japanese
// (the language library swapped in the program folder), its texts checked
// and pictured into build/screenshots/yarv/<language>/.
#include <gtest/gtest.h>

#include <filesystem>

#include "fixture_yarv.h"
#include "restore/yarv_pages.h"

namespace {

using yarv_fixture::Bytes;
using yarv_fixture::YarvPc;

struct Language {
  const char* name;
  bool japanese;
  const char* next;     // the selection page's Start button
  const char* finish;   // the summary's Finish button
};

class EveryPage : public ::testing::TestWithParam<Language> {};

TEST_P(EveryPage, OpensWithItsTextsAndIsPictured) {
  const Language& l = GetParam();
  const std::string folder = std::string(DRUM_BUILD_DIR) + "/screenshots/yarv/" + l.name;
  std::filesystem::create_directories(folder);
  {
    // Files, encrypted, one already at the destination.
    YarvPc y;
    archive_writer::Options o;
    o.passkey = u"pass";
    o.compression = restore::Compression::Zlib;
    archive_writer::FileEntry f;
    f.path = u"C:\\Documents\\report.doc";
    f.data = Bytes(std::string(5000, 'r'));
    archive_writer::FileEntry g = f;
    g.path = u"C:\\Documents\\budget.xls";
    y.Install(o, {f, g}, {}, {}, l.japanese);
    y.pc().WriteMbr(1, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                           .fs = "fat32", .label = "DATA", .files = {{"/OUT/REPORT.DOC", "old"}}}});
    platform::ui::Script s;
    s.expect_dialog(CRestore1::IDD)
        .expect_text(CRestore1::kStart, l.next)
        .screenshot("selection-files.png")
        .click(CRestore1::kChoose)
        .expect_dialog(CBit1::IDD)
        .screenshot("folder-chooser.png")
        .click(IDCANCEL)
        .expect_dialog(CRestore1::IDD)
        .type(CRestore1::kDestination, "D:\\Out")
        .click(CRestore1::kStart)
        .expect_dialog(CRestoreProgress::IDD)
        .screenshot("progress-files.png")
        .click(CRestoreProgress::kRestoreNow)
        .expect_dialog(CEncryption::IDD)
        .screenshot("passkey.png")
        .type(CEncryption::kPasskey, "pass")
        .click(IDOK)
        .expect_dialog(CBit::IDD)
        .screenshot("overwrite.png")
        .click(6)
        .expect_dialog(CRestoreProgressSummary::IDD)
        .expect_text(CRestoreProgressSummary::kFinish, l.finish)
        .screenshot("summary-files.png")
        .click(CRestoreProgressSummary::kFinish);
    auto run = y.Run(s, "", folder);
    ASSERT_EQ(run.failure, "") << run.log;
  }
  {
    // A partition item: the disk chooser.
    YarvPc y;
    archive_writer::DiskEntry d;
    d.record.kind = 5;
    d.record.disk_number = 1;
    d.record.drive_text = u"D:";
    d.record.partition_type = 0x0C;
    d.record.first_sector = 2048;
    d.record.sectors_per_unit = 16065;
    d.record.full_units = 1;
    d.record.last_unit_sectors = 100;
    d.bytes.assign(512 * (16065 + 100), 0);
    y.pc().AddDisk({.number = 2, .sizeBytes = 64ull << 20});
    y.pc().WriteMbr(2, {disk_fixture::Part{.start = 2048, .count = 60000, .mbrType = 0x07, .fs = "ntfs",
                                           .label = "SPARE"}});
    y.Install({}, {}, {}, {d}, l.japanese);
    platform::ui::Script s;
    s.expect_dialog(CRestore1::IDD)
        .screenshot("selection-partition.png")
        .click(CRestore1::kChoose)
        .expect_dialog(CDiskSelect::IDD)
        .tick(CDiskSelect::kList, 5)
        .screenshot("disk-chooser.png")
        .click(IDOK)
        .expect_dialog(CRestore1::IDD)
        .screenshot("selection-partition-chosen.png")
        .click(CRestore1::kStart)
        .expect_dialog(CRestoreProgress::IDD)
        .screenshot("progress-partition.png")
        .click(CRestoreProgress::kRestoreNow)
        .screenshot("confirm-partition.png")  // the question before the partition is overwritten
        .answer("no")
        .expect_dialog(CRestoreProgressSummary::IDD)
        .screenshot("summary-aborted.png")
        .click(CRestoreProgressSummary::kFinish);
    auto run = y.Run(s, "", folder);
    ASSERT_EQ(run.failure, "") << run.log;
  }
  {
    // A partition backed up file by file as the active one, restored where
    // another partition holds the flag: the page while the volume is
    // formatted, then the question whether to take the flag.
    YarvPc y;
    y.pc().WriteMbr(1, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                           .fs = "fat32", .label = "DATA"},
                        disk_fixture::Part{.start = 110000, .count = 60000, .mbrType = 0x0C, .active = true}});
    archive_writer::FolderEntry volume;
    volume.kind = 13;
    volume.components = {u"D:"};
    y.Install({}, {}, {volume}, {}, l.japanese);
    platform::ui::Script s = yarv_fixture::RestoreNowAtOriginalPlace();
    s.screenshot("progress-preparing.png")
        .answer("no")
        .expect_dialog(CRestoreProgressSummary::IDD)
        .click(CRestoreProgressSummary::kFinish);
    auto run = y.Run(s, "", folder);
    ASSERT_EQ(run.failure, "") << run.log;
  }
  for (const char* name : {"selection-files", "folder-chooser", "progress-files", "passkey", "overwrite",
                           "summary-files", "selection-partition", "disk-chooser", "progress-partition",
                           "confirm-partition", "summary-aborted", "progress-preparing"})
    EXPECT_TRUE(std::filesystem::exists(folder + "/" + name + ".png")) << name;
}

INSTANTIATE_TEST_SUITE_P(Languages, EveryPage,
                         ::testing::Values(Language{"english", false, "&Next>", "&Finish"},
                                           Language{"japanese", true, "次へ(&N)>", "完了(&F)"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
