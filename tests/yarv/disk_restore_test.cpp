// What a restore does to a disk's table besides the restored bytes, read
// back by sfdisk: the active flag of a partition backed up file by file as
// an active one, and of a restored system partition (with the question when
// another partition holds the flag); the disk signature cleared when the
// destination disk is another model; the confirmation asked before each
// disk or partition item, whose No leaves that item's disk as it was (cmp).
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
using yarv_fixture::YarvPc;

constexpr const char* kActiveQuestion = "More than one active partitions detected in the destination drive.";

// sfdisk's dump of a disk image.
std::string Dump(YarvPc& y, int disk) {
  platform::fs::ReleaseAllDrivers();
  std::string out;
  Shell("sfdisk -d " + y.pc().Image(disk) + " 2>/dev/null", &out);
  return out;
}

// The dump's line of the partition that starts at native sector `start`.
std::string EntryLine(const std::string& dump, uint64_t start) {
  std::smatch m;
  const std::regex line("[^\n]*start= *" + std::to_string(start) + ",[^\n]*");
  return std::regex_search(dump, m, line) ? m.str() : std::string();
}

bool Bootable(const std::string& dump, uint64_t start) {
  const std::string entry = EntryLine(dump, start);
  EXPECT_FALSE(entry.empty()) << "no partition at " << start << " in\n" << dump;
  return entry.find("bootable") != std::string::npos;
}

// After a run that should end on the summary: the active-flag question
// asked when another partition held the flag, and the flags sfdisk reads.
void ExpectActiveFlags(YarvPc& y, const test_support::HeadlessRun& run, uint32_t sector_size, bool other_active,
                       uint64_t other, bool d_active) {
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(run.log.find(kActiveQuestion) != std::string::npos, other_active) << run.log;
  const std::string dump = Dump(y, 1);
  EXPECT_EQ(Bootable(dump, YarvPc::kDStart / (sector_size / 512)), d_active) << dump;
  if (other_active) EXPECT_EQ(Bootable(dump, other), !d_active) << dump;
}

// Disk 1: D: (FAT32) and, when `other_active`, a second partition after it
// that holds the active flag. Returns the second partition's native start.
uint64_t LayOutDisk1(YarvPc& y, uint32_t sector_size, bool other_active) {
  const uint64_t m = sector_size / 512;
  std::vector<disk_fixture::Part> parts{disk_fixture::Part{
      .start = YarvPc::kDStart / m, .count = YarvPc::kDCount / m, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"}};
  const uint64_t other = 110000 / m;
  if (other_active) parts.push_back({.start = other, .count = 60000 / m, .mbrType = 0x0C, .active = true});
  y.pc().WriteMbr(1, parts);
  return other;
}

struct ActiveCase {
  const char* name;
  uint32_t sector_size;
  int8_t kind;        // 13 FAT32, 14 NTFS (a 50 MB volume of 4096-byte sectors is too small for FAT32)
  bool other_active;  // another partition of disk 1 holds the flag
  const char* answer;  // to the question, when it is asked
  bool d_active;       // afterwards
};

class FileLevelPartition : public ::testing::TestWithParam<ActiveCase> {};

TEST_P(FileLevelPartition, AnActivePartitionBackedUpFileByFileIsMadeActiveAgain) {
  const ActiveCase& c = GetParam();
  YarvPc y(c.sector_size);
  const uint64_t other = LayOutDisk1(y, c.sector_size, c.other_active);
  archive_writer::FolderEntry volume;
  volume.kind = c.kind;  // a partition that was the active one
  volume.components = {u"D:"};
  archive_writer::FolderEntry file;
  file.kind = c.kind;
  file.components = {u"D:", u"boot.txt"};
  file.is_folder = false;
  file.data = Bytes("boot files");
  file.attributes = 0x20;
  y.Install({}, {}, {volume, file}, {});
  platform::ui::Script s = yarv_fixture::RestoreNowAtOriginalPlace();
  if (c.other_active) s.answer(c.answer);
  s.expect_dialog(CRestoreProgressSummary::IDD)
      .expect_text(229, "Completed Successfully")
      .click(CRestoreProgressSummary::kFinish);
  auto run = y.Run(s);
  ExpectActiveFlags(y, run, c.sector_size, c.other_active, other, c.d_active);
  if (HasFatalFailure()) return;
  std::string text;
  Shell(c.kind == 13 ? "MTOOLS_SKIP_CHECK=1 mtype -i " + y.VolumeD() + " ::/boot.txt"
                     : "ntfscat " + y.VolumeD() + " /boot.txt",
        &text);
  EXPECT_EQ(text, "boot files");
}

INSTANTIATE_TEST_SUITE_P(Tables, FileLevelPartition,
                         ::testing::Values(ActiveCase{"fat32_alone_512", 512, 13, false, nullptr, true},
                                           ActiveCase{"ntfs_alone_4096", 4096, 14, false, nullptr, true},
                                           ActiveCase{"fat32_other_yes_512", 512, 13, true, "yes", true},
                                           ActiveCase{"ntfs_other_no_4096", 4096, 14, true, "no", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A FAT32 image of D:'s size with one file, as the archive's partition bytes.
std::string PartitionSource(YarvPc& y) {
  const std::string source = y.scratch().file("source.img");
  EXPECT_EQ(Shell("rm -f " + source + " && mkfs.fat -F 32 -n BACKUP -C " + source + " " +
                  std::to_string(YarvPc::kDCount / 2) + " >/dev/null"),
            0);
  std::ofstream(y.scratch().file("hello.txt")) << "from the backup";
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + source + " " + y.scratch().file("hello.txt") + " ::/HELLO.TXT"), 0);
  return source;
}

struct SystemCase {
  const char* name;
  uint32_t sector_size;
  const char* model;   // of the backed-up disk
  bool other_active;
  const char* answer;  // to the active-flag question, when asked
  bool d_active;
  bool signature_cleared;  // and then the restart message says a last step follows
};

class SystemPartition : public ::testing::TestWithParam<SystemCase> {};

TEST_P(SystemPartition, ActiveFlagAndDiskSignatureFollowTheDiskModel) {
  const SystemCase& c = GetParam();
  YarvPc y(c.sector_size);
  const uint64_t other = LayOutDisk1(y, c.sector_size, c.other_active);
  archive_writer::DiskEntry d = yarv_fixture::PartitionOfD(PartitionSource(y), YarvPc::kDStart, YarvPc::kDCount, 6);
  d.record.model = platform::to_utf16(c.model);
  y.Install({}, {}, {}, {d});
  platform::ui::Script s = yarv_fixture::RestoreNowAtOriginalPlace();
  s.answer("yes");  // overwrite the partition
  if (c.other_active) s.answer(c.answer);
  s.expect_dialog(CRestoreProgressSummary::IDD)
      .expect_text(229, "Completed Successfully")
      .click(CRestoreProgressSummary::kFinish)
      .answer("ok");
  auto run = y.Run(s);
  ExpectActiveFlags(y, run, c.sector_size, c.other_active, other, c.d_active);
  if (HasFatalFailure()) return;
  const std::string dump = Dump(y, 1);
  // WriteMbr gives every disk the signature 0x1234ABCD.
  EXPECT_NE(dump.find(c.signature_cleared ? "label-id: 0x00000000" : "label-id: 0x1234abcd"), std::string::npos)
      << dump;
  // What the user is told at Finish: a disk given a new signature needs a
  // last step after the restart.
  EXPECT_NE(run.log.find(c.signature_cleared
                             ? "The application will reboot the system to perform the last process of restoration."
                             : "To complete the restoration, the application will reboot the system."),
            std::string::npos)
      << run.log;
  EXPECT_NE(yarv_fixture::MachineLog(y).find("kind=reboot"), std::string::npos) << yarv_fixture::MachineLog(y);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, SystemPartition,
    ::testing::Values(SystemCase{"same_model", 512, "ACMETest Disk", false, nullptr, true, false},
                      SystemCase{"other_model", 512, "Other Disk 9", false, nullptr, true, true},
                      SystemCase{"other_model_4096", 4096, "Other Disk 9", false, nullptr, true, true},
                      SystemCase{"other_model_flag_kept", 512, "Other Disk 9", true, "no", false, false},
                      SystemCase{"other_model_flag_taken", 4096, "Other Disk 9", true, "yes", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ConfirmCase {
  const char* name;
  std::vector<const char*> answers;  // one per item asked, disk 2's first
  bool disk2_written, disk3_written;
};

class DiskConfirmation : public ::testing::TestWithParam<ConfirmCase> {};

TEST_P(DiskConfirmation, EachItemIsAskedForAndANoWritesNothingMore) {
  const ConfirmCase& c = GetParam();
  YarvPc y;
  y.pc().AddDisk({.number = 2, .sizeBytes = 8ull << 20});
  y.pc().AddDisk({.number = 3, .sizeBytes = 8ull << 20});
  // Two whole-disk items, disks 2 and 3 as they were: 4 MiB of a pattern each.
  constexpr uint64_t kSectors = 8192;
  std::vector<archive_writer::DiskEntry> items;
  for (int n : {2, 3}) {
    const std::string source = y.scratch().file("disk" + std::to_string(n) + ".img");
    std::ofstream(source, std::ios::binary) << disk_fixture::Pattern(kSectors * 512, 20 + n);
    archive_writer::DiskEntry disk;
    disk.record.kind = 1;
    disk.record.disk_number = static_cast<uint8_t>(n);
    disk.record.model = u"ACME Test Disk";
    disk.record.sectors_per_unit = 16065;
    disk.record.full_units = 0;
    disk.record.last_unit_sectors = static_cast<int32_t>(kSectors);
    disk.source_path = source;
    items.push_back(disk);
  }
  y.Install({}, {}, {}, items);
  platform::ui::Script s = yarv_fixture::RestoreNowAtOriginalPlace();
  for (const char* a : c.answers) s.answer(a);
  const bool all = c.disk2_written && c.disk3_written;
  s.expect_dialog(CRestoreProgressSummary::IDD)
      .expect_text(229, all ? "Completed Successfully" : "Aborted")
      .click(CRestoreProgressSummary::kFinish);
  if (all) s.answer("ok");
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  // Asked once per item reached, in the words for a whole disk.
  const std::string question = "This operation will delete all partitions in the destination drive.";
  size_t asked = 0;
  for (size_t at = run.log.find(question); at != std::string::npos; at = run.log.find(question, at + 1)) ++asked;
  EXPECT_EQ(asked, c.answers.size()) << run.log;
  platform::fs::ReleaseAllDrivers();
  for (int n : {2, 3}) {
    const bool written = n == 2 ? c.disk2_written : c.disk3_written;
    std::string out;
    const std::string limit = " -n " + std::to_string(kSectors * 512) + " ";
    EXPECT_EQ(Shell("cmp" + limit + y.scratch().file("disk" + std::to_string(n) + ".img") + " " + y.pc().Image(n), &out) ==
                  0,
              written)
        << "disk " << n << out;
    // A disk not written is still all zeros, as it was made.
    if (!written) EXPECT_EQ(Shell("cmp" + limit + y.pc().Image(n) + " /dev/zero", &out), 0) << "disk " << n << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, DiskConfirmation,
                         ::testing::Values(ConfirmCase{"yes_yes", {"yes", "yes"}, true, true},
                                           ConfirmCase{"yes_no", {"yes", "no"}, true, false},
                                           ConfirmCase{"no", {"no"}, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A partition item restored to its original place when its drive letter no
// longer names the partition the archive recorded: the letter moved to
// another disk, or to another start on the same disk. The restore refuses
// with the page still open (text 739) and every disk stays as it was (cmp
// of each image against its copy from before the run); where the letter is
// still the recorded partition, that partition alone is written.
struct MovedLetterCase {
  const char* name;
  uint8_t recorded_disk;    // D: lives on disk 1 at kDStart
  uint64_t recorded_start;  // 512-byte sectors
  bool restored;
};

class MovedLetter : public ::testing::TestWithParam<MovedLetterCase> {};

TEST_P(MovedLetter, OnlyTheLettersOwnPartitionIsEverWritten) {
  const MovedLetterCase& c = GetParam();
  YarvPc y;
  // Disk 2 holds another volume where the record says D: was.
  y.pc().AddDisk({.number = 2, .sizeBytes = 96ull << 20});
  y.pc().WriteMbr(2, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                         .fs = "fat32", .label = "OTHER",
                                         .files = {{"/KEEP.TXT", "the user's other data"}}}});
  archive_writer::DiskEntry d = yarv_fixture::PartitionOfD(PartitionSource(y), c.recorded_start, YarvPc::kDCount, 5);
  d.record.disk_number = c.recorded_disk;
  y.Install({}, {}, {}, {d});
  // Disk 0 holds the running system, whose files the program itself writes
  // (its log and settings): there the bytes outside C: are compared.
  for (int n : {0, 1, 2})
    ASSERT_EQ(Shell("cp --sparse=always " + y.pc().Image(n) + " " + y.scratch().file("before" + std::to_string(n))), 0);

  platform::ui::Script s = yarv_fixture::RestoreNowAtOriginalPlace();
  if (c.restored) {
    s.answer("yes")  // overwrite the partition
        .expect_dialog(CRestoreProgressSummary::IDD)
        .expect_text(229, "Completed Successfully")
        .click(CRestoreProgressSummary::kFinish)
        .answer("ok");
  } else {
    s = platform::ui::Script();
    s.expect_dialog(CRestore1::IDD)
        .click(CRestore1::kOriginal)
        .click(CRestore1::kStart)
        .answer("ok")
        .expect_dialog(CRestore1::IDD)
        .click(IDCANCEL);
  }
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  SCOPED_TRACE(run.log);
  const char* refusal = "Cannot find the original partition you are restoring to.";
  EXPECT_EQ(run.log.find(refusal) != std::string::npos, !c.restored) << run.log;
  platform::fs::ReleaseAllDrivers();
  for (int n : {0, 1, 2}) {
    std::string out;
    const std::string before = y.scratch().file("before" + std::to_string(n));
    if (c.restored && n == 1) {
      // Disk 1 outside D: as it was, D: the partition's bytes from the archive.
      EXPECT_EQ(Shell("cmp -n " + std::to_string(YarvPc::kDStart * 512) + " " + before + " " + y.pc().Image(1), &out),
                0)
          << out;
      // D: holds the archive's bytes, but for the geometry fields of its
      // boot sector (bytes 24 to 31), which the restore keeps from the disk.
      const uint64_t d = YarvPc::kDStart * 512;
      const std::string source = y.scratch().file("source.img");
      EXPECT_EQ(Shell("cmp -n 24 -i 0:" + std::to_string(d) + " " + source + " " + y.pc().Image(1), &out), 0) << out;
      EXPECT_EQ(Shell("cmp -n " + std::to_string(YarvPc::kDCount * 512 - 32) + " -i 32:" + std::to_string(d + 32) +
                          " " + source + " " + y.pc().Image(1),
                      &out),
                0)
          << out;
      const uint64_t end = (YarvPc::kDStart + YarvPc::kDCount) * 512;
      EXPECT_EQ(Shell("cmp -i " + std::to_string(end) + " " + before + " " + y.pc().Image(1), &out), 0) << out;
      continue;
    }
    if (n == 0) {
      const uint64_t c_end = (2048 + 120000) * 512;  // C: of YarvPc
      EXPECT_EQ(Shell("cmp -n " + std::to_string(2048 * 512) + " " + before + " " + y.pc().Image(0), &out), 0) << out;
      EXPECT_EQ(Shell("cmp -i " + std::to_string(c_end) + " " + before + " " + y.pc().Image(0), &out), 0) << out;
      continue;
    }
    EXPECT_EQ(Shell("cmp " + before + " " + y.pc().Image(n), &out), 0) << "disk " << n << ": " << out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Places, MovedLetter,
    ::testing::Values(MovedLetterCase{"letter_on_another_disk", 2, YarvPc::kDStart, false},
                      MovedLetterCase{"letter_at_another_start", 1, YarvPc::kDStart + 63 * 64, false},
                      MovedLetterCase{"letter_where_recorded", 1, YarvPc::kDStart, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
