// Yarv's wizard run headless from its start-up on simulated PCs: files
// restored into a new folder from archives of every compression, encrypted
// or not (the passkey page with a wrong and a right passkey), read back by
// mtools; the overwrite prompt's answers; a partition item at its original
// place and a whole disk onto another disk chosen in the disk chooser,
// compared by cmp and sfdisk; the refusals of the selection page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "fixture_yarv.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "restore/yarv_pages.h"
#include "restore/yarv_state.h"

namespace {

using disk_fixture::Shell;
using yarv_fixture::Bytes;
using yarv_fixture::MachineLog;
using yarv_fixture::PartitionOfD;
using yarv_fixture::YarvPc;

std::string Mtype(const std::string& image, const std::string& path) {
  std::string out;
  Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + image + " ::" + path, &out);
  return out;
}

archive_writer::FileEntry File(const std::u16string& path, const std::string& data, uint32_t attributes = 0x20) {
  archive_writer::FileEntry f;
  f.path = path;
  f.data = Bytes(data);
  f.attributes = attributes;
  f.times.write = 133000000000000000ull;
  f.times.creation = f.times.access = f.times.write;
  return f;
}

struct FileCase {
  const char* name;
  restore::Compression compression;
  const char* passkey;  // null: not encrypted
};

class FileRestore : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileRestore, FilesLandInTheNewFolderAsStored) {
  const FileCase& c = GetParam();
  YarvPc y;
  archive_writer::Options o;
  o.compression = c.compression;
  if (c.passkey) o.passkey = platform::to_utf16(c.passkey);
  const std::string big = disk_fixture::Pattern(100000, 7);  // more than three blocks
  y.Install(o, {File(u"C:\\data\\notes.txt", "restored notes"), File(u"C:\\data\\big.bin", big, 0x21)}, {}, {});
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .expect_checked(CRestore1::kList, 0)
      .expect_checked(CRestore1::kList, 1)
      .type(CRestore1::kDestination, "D:\\Restored")
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .click(CRestoreProgress::kRestoreNow);
  if (c.passkey) {
    s.expect_dialog(CEncryption::IDD)
        .type(CEncryption::kPasskey, "not it")
        .click(IDOK)
        .expect_text(CEncryption::kMessage, "The passkey you entered does not match.\nPlease enter the passkey again.")
        .type(CEncryption::kPasskey, c.passkey)
        .click(IDOK);
  }
  s.expect_dialog(CRestoreProgressSummary::IDD)
      .expect_text(229, "Completed Successfully")
      .click(CRestoreProgressSummary::kFinish);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  const std::string d = y.VolumeD();
  EXPECT_EQ(Mtype(d, "/Restored/notes.txt"), "restored notes");
  EXPECT_TRUE(Mtype(d, "/Restored/big.bin") == big) << "big.bin differs";
  std::string attributes;
  Shell("MTOOLS_SKIP_CHECK=1 mattrib -i " + d + " ::/Restored/big.bin", &attributes);
  EXPECT_NE(attributes.find("R"), std::string::npos) << attributes;
  std::string fsck;
  EXPECT_EQ(Shell("fsck.fat -n " + d + " 2>&1", &fsck), 0) << fsck;
}

INSTANTIATE_TEST_SUITE_P(Forms, FileRestore,
                         ::testing::Values(FileCase{"plain", restore::Compression::None, nullptr},
                                           FileCase{"rle_encrypted", restore::Compression::Rle, "open sesame"},
                                           FileCase{"zlib_encrypted", restore::Compression::Zlib, "secret"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PasskeyPage, FiveWrongPasskeysEndTheAttemptAndWriteNothing) {
  YarvPc y;
  archive_writer::Options o;
  o.passkey = u"right";
  y.Install(o, {File(u"C:\\data\\a.txt", "never written")}, {}, {});
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .type(CRestore1::kDestination, "D:\\Out")
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .click(CRestoreProgress::kRestoreNow)
      .expect_dialog(CEncryption::IDD);
  for (int i = 0; i < 4; ++i) s.type(CEncryption::kPasskey, "wrong").click(IDOK).expect_enabled(IDOK);
  s.type(CEncryption::kPasskey, "wrong")
      .click(IDOK)
      .expect_text(CEncryption::kMessage, "The process is cancelled. Please try again later.")
      .expect_disabled(IDOK)
      .click(IDCANCEL);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(run.log.find("dialog 184"), std::string::npos) << run.log;
  std::string out;
  EXPECT_NE(Shell("MTOOLS_SKIP_CHECK=1 mdir -i " + y.VolumeD() + " ::/Out", &out), 0) << out;
}

struct OverwriteCase {
  const char* name;
  int button;             // of the prompt
  const char* kept;       // what D:\Restored\a.txt holds afterwards
  const char* new_copy;   // what a.txt.new holds, null when none
};

class OverwritePrompt : public ::testing::TestWithParam<OverwriteCase> {};

TEST_P(OverwritePrompt, AnswersDecideWhatIsWritten) {
  const OverwriteCase& c = GetParam();
  YarvPc y;
  y.Install({}, {File(u"C:\\data\\a.txt", "from the archive")}, {}, {});
  platform::ui::Script s = yarv_fixture::RestoreNowToFolder("D:\\Restored");
  s.expect_dialog(CBit::IDD)
      .expect_text(1013, "There is a same name of file or folder in the destination.\r\nD:\\Restored\\a.txt\r\nDo you "
                         "want to overwrite it?")
      .click(c.button);
  if (c.button == IDCANCEL) {
    // The run stops: the page stays with only Cancel left.
    s.expect_dialog(CRestoreProgress::IDD).expect_disabled(CRestoreProgress::kBack).click(IDCANCEL).answer("yes");
  } else {
    s.expect_dialog(CRestoreProgressSummary::IDD).click(CRestoreProgressSummary::kFinish);
  }
  // D:\Restored\a.txt exists before the run.
  y.pc().WriteMbr(1, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                         .fs = "fat32", .label = "DATA",
                                         .files = {{"/RESTORED/A.TXT", "old contents"}}}});
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  const std::string d = y.VolumeD();
  EXPECT_EQ(Mtype(d, "/Restored/a.txt"), c.kept);
  std::string listing;
  Shell("MTOOLS_SKIP_CHECK=1 mdir -b -i " + d + " ::/Restored", &listing);
  if (c.new_copy) EXPECT_EQ(Mtype(d, "/Restored/a.txt.new"), c.new_copy) << listing;
  else EXPECT_EQ(listing.find(".new"), std::string::npos) << listing;
}

INSTANTIATE_TEST_SUITE_P(Answers, OverwritePrompt,
                         ::testing::Values(OverwriteCase{"yes", 6, "from the archive", nullptr},
                                           OverwriteCase{"yes_to_all", 3, "from the archive", nullptr},
                                           OverwriteCase{"no", 7, "old contents", "from the archive"},
                                           OverwriteCase{"cancel", IDCANCEL, "old contents", nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DamagedArchive, ACutCatalogueIsNamedAndNothingIsListed) {
  YarvPc y;
  y.Install({}, {File(u"C:\\data\\a.txt", "a")}, {}, {});
  // The program file ends inside the archive's header.
  std::filesystem::resize_file(y.scratch().file("program/Yarv.exe"), 36 + 300);
  platform::ui::Script s;
  s.answer("ok").expect_dialog(CRestore1::IDD).click(IDCANCEL);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("The archive cannot be read:"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("Yarv.EXE"), std::string::npos) << run.log;
}

TEST(LogOff, WhileRestoringTheUserIsAskedAndNoKeepsTheRun) {
  YarvPc y;
  const std::string big = disk_fixture::Pattern(3 << 20, 9);
  y.Install({}, {File(u"C:\\data\\big.bin", big)}, {}, {});
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .type(CRestore1::kDestination, "D:\\Restored")
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .logoff()  // before the run: nobody asks
      .click(CRestoreProgress::kRestoreNow)
      .logoff()
      .answer("no")
      .expect_dialog(CRestoreProgressSummary::IDD)
      .expect_text(229, "Completed Successfully")
      .click(CRestoreProgressSummary::kFinish);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  const size_t asked = run.log.find("Corvel Yarv is now working for some backup processes.");
  ASSERT_NE(asked, std::string::npos) << run.log;
  EXPECT_NE(run.log.find("logoff allowed"), std::string::npos) << run.log;
  EXPECT_LT(run.log.find("logoff allowed"), asked) << run.log;
  EXPECT_NE(run.log.find("logoff refused", asked), std::string::npos) << run.log;
  EXPECT_TRUE(Mtype(y.VolumeD(), "/Restored/big.bin") == big);
}

TEST(SelectionPage, RefusalsKeepThePageAndMarkNothing) {
  YarvPc y;
  y.Install({}, {File(u"C:\\data\\a.txt", "a"), File(u"C:\\data\\b.txt", "b")}, {}, {});
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .click(CRestore1::kStart)
      .answer("ok")  // no destination chosen
      .expect_dialog(CRestore1::IDD)
      .type(CRestore1::kDestination, "D:\\Only")
      .click(1061)  // Deselect All
      .click(CRestore1::kStart)
      .answer("ok")  // nothing selected
      .expect_dialog(CRestore1::IDD)
      .tick(CRestore1::kList, 1)
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .click(CRestoreProgress::kBack)
      .expect_dialog(CRestore1::IDD)
      .expect_checked(CRestore1::kList, 1)
      .tick(CRestore1::kList, 0)
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .click(CRestoreProgress::kRestoreNow)
      .expect_dialog(CRestoreProgressSummary::IDD)
      .click(CRestoreProgressSummary::kFinish);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("Please select the destination and click Next button."), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("Nothing selected."), std::string::npos) << run.log;
  // The row unticked at the first Start and ticked again after Back is restored.
  const std::string d = y.VolumeD();
  EXPECT_EQ(Mtype(d, "/Only/a.txt"), "a");
  EXPECT_EQ(Mtype(d, "/Only/b.txt"), "b");
}

TEST(FilePartitionRestore, TheVolumeIsFormattedThenFilled) {
  YarvPc y;
  // D: holds a file the backup did not have: the format removes it.
  y.pc().WriteMbr(1, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                         .fs = "fat32", .label = "DATA", .files = {{"/STALE.TXT", "stale"}}}});
  archive_writer::FolderEntry volume;
  volume.kind = 11;  // a FAT32 partition backed up file by file
  volume.components = {u"D:"};
  archive_writer::FolderEntry docs;
  docs.kind = 11;
  docs.components = {u"D:", u"docs"};
  archive_writer::FolderEntry file;
  file.kind = 11;
  file.components = {u"D:", u"docs", u"plan.txt"};
  file.is_folder = false;
  file.data = Bytes("the plan");
  file.attributes = 0x20;
  y.Install({}, {}, {volume, docs, file}, {});
  platform::ui::Script s = yarv_fixture::RestoreNowAtOriginalPlace();
  s.expect_dialog(CRestoreProgressSummary::IDD)
      .expect_text(229, "Completed Successfully")
      .click(CRestoreProgressSummary::kFinish);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  const std::string d = y.VolumeD();
  EXPECT_EQ(Mtype(d, "/docs/plan.txt"), "the plan");
  std::string listing;
  Shell("MTOOLS_SKIP_CHECK=1 mdir -b -i " + d + " ::/", &listing);
  EXPECT_EQ(listing.find("STALE"), std::string::npos) << listing;
  std::string fsck;
  EXPECT_EQ(Shell("fsck.fat -n " + d + " 2>&1", &fsck), 0) << fsck;
}

TEST(PartitionRestore, OriginalPlaceIsWrittenBackAndTheMachineRestarts) {
  for (uint32_t sector_size : {512u, 4096u}) {
    SCOPED_TRACE(sector_size);
    YarvPc y(sector_size);
    // The archive holds D: as another PC had it: other files.
    std::string source = y.scratch().file("source.img");
    ASSERT_EQ(Shell("rm -f " + source + " && mkfs.fat -F 32 -n BACKUP -C " + source + " " +
                    std::to_string(YarvPc::kDCount / 2) + " >/dev/null"),
              0);
    std::ofstream(y.scratch().file("hello.txt")) << "from the backup";
    ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + source + " " + y.scratch().file("hello.txt") + " ::/HELLO.TXT"), 0);
    archive_writer::Options o;
    o.compression = restore::Compression::Zlib;
    y.Install(o, {}, {}, {PartitionOfD(source, YarvPc::kDStart, YarvPc::kDCount)});
    platform::ui::Script s = yarv_fixture::RestoreNowAtOriginalPlace();
    s.answer("yes")  // overwrite the partition
        .expect_dialog(CRestoreProgressSummary::IDD)
        .expect_text(229, "Completed Successfully")
        .click(CRestoreProgressSummary::kFinish)
        .answer("ok");
    auto run = y.Run(s);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(run.exited);
    EXPECT_NE(run.log.find("To complete the restoration, the application will reboot the system."), std::string::npos)
        << run.log;
    EXPECT_NE(MachineLog(y).find("kind=reboot"), std::string::npos) << MachineLog(y);
    EXPECT_NE(MachineLog(y).find("reason=0x80020003"), std::string::npos) << MachineLog(y);
    const std::string d = y.VolumeD();
    std::string out;
    // Every byte but the boot sector's geometry fields, which keep the destination's.
    EXPECT_EQ(Shell("cmp -n 24 " + source + " " + d, &out), 0) << out;
    EXPECT_EQ(Shell("cmp -i 32 " + source + " " + d, &out), 0) << out;
    EXPECT_EQ(Mtype(d, "/HELLO.TXT"), "from the backup");
    Shell("sfdisk -d " + y.pc().Image(1) + " | grep '^/'", &out);
    EXPECT_NE(out.find("type=c"), std::string::npos) << out;
  }
}

TEST(DiskRestore, WholeDiskGoesToTheDiskChosenInTheChooser) {
  YarvPc y;
  y.pc().AddDisk({.number = 2, .sizeBytes = 96ull << 20});
  y.pc().AddDisk({.number = 3, .sizeBytes = 96ull << 20});
  // The archive: disk 1's first sectors (its table and D:).
  const uint64_t sectors = YarvPc::kDStart + YarvPc::kDCount;
  archive_writer::DiskEntry disk;
  disk.record.kind = 1;
  disk.record.disk_number = 1;
  disk.record.model = u"ACME Test Disk";
  disk.record.sectors_per_unit = 16065;
  disk.record.full_units = static_cast<int32_t>(sectors / 16065);
  disk.record.last_unit_sectors = static_cast<int32_t>(sectors % 16065);
  disk.source_path = y.pc().Image(1);
  archive_writer::Options o;
  o.compression = restore::Compression::Zlib;
  y.Install(o, {}, {}, {disk});
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .click(CRestore1::kChoose)
      .expect_dialog(CDiskSelect::IDD)
      // Rows: Drive0, its partition C:, Drive1, its partition D:, Drive2, Drive3.
      // A partition row is unticked at once (OK would take it first).
      .tick(CDiskSelect::kList, 3)
      .tick(CDiskSelect::kList, 5)
      .click(IDOK)
      .expect_dialog(CRestore1::IDD)
      .expect_text(CRestore1::kDestination, "Drive3")
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .click(CRestoreProgress::kRestoreNow)
      .answer("yes")  // replace the disk's partitions
      .expect_dialog(CRestoreProgressSummary::IDD)
      .click(CRestoreProgressSummary::kFinish)
      .answer("ok");
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(MachineLog(y).find("kind=shutdown"), std::string::npos) << MachineLog(y);
  platform::fs::ReleaseAllDrivers();
  std::string out;
  EXPECT_EQ(Shell("cmp -n " + std::to_string(sectors * 512) + " " + y.pc().Image(1) + " " + y.pc().Image(3), &out), 0)
      << out;
  // Disk 2 untouched.
  EXPECT_EQ(Shell("cmp -n 1048576 " + y.pc().Image(2) + " /dev/zero", &out), 0) << out;
  std::string table;
  Shell("sfdisk -d " + y.pc().Image(3) + " | grep '^/'", &table);
  EXPECT_NE(table.find("start=        2048, size=      100000, type=c"), std::string::npos) << table;
}

}  // namespace
