// The volume formatter: the formatter calls a request makes (a recording
// stand-in for fmifs.dll), the progress dialog run headless through real
// formats of a lettered volume on 512- and 4096-byte disks (checked by
// ntfsfix -n and fsck.fat -n), Cancel answered No then Yes inside the poll,
// a worker that ends without a completion report, a volume that cannot be
// opened, and the question dialog. The dialog templates come from
// resources/dialogs/format.rc; a test keeps this file's copy equal to what
// the resource compiler makes of it.
#include "disk/volume_formatter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fixture_images.h"
#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/formatter.h"
#include "platform/fs/volume_set.h"
#include "platform/process/module.h"
#include "platform/process/standins.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/resources.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;
using platform::ui::DialogItemTemplate;
using platform::ui::DialogTemplate;

// ---- the dialogs of resources/dialogs/format.rc, as the resource compiler emits them ----

const DialogItemTemplate kFormatItems[] = {
    {u"Button", u"Start", 1, 7, 77, 50, 14, 0x40010001u, 0x0u, 0},
    {u"Button", u"Cancel", 2, 167, 77, 50, 14, 0x50010000u, 0x0u, 0},
    {u"Button", u"", 1001, 4, 2, 216, 70, 0x50000007u, 0x0u, 0},
    {u"Button", u"Partition Format", 1115, 11, 9, 202, 56, 0x50000007u, 0x0u, 0},
    {u"msctls_progress32", u"", 1025, 19, 25, 186, 12, 0x50800000u, 0x0u, 0},
    {u"Static", u"%", 1112, 19, 43, 186, 10, 0x50020001u, 0x0u, 0},
    {u"Static", u"Click Cancel to stop Format process", 1116, 7, 80, 150, 10, 0x50020000u, 0x0u, 0},
};
const DialogItemTemplate kQuestionItems[] = {
    {u"Static", u"", 1121, 12, 12, 214, 68, 0x50020000u, 0x0u, 0},
    {u"Button", u"OK", 1122, 53, 98, 76, 14, 0x50010001u, 0x0u, 0},
    {u"Button", u"Cancel", 2, 135, 98, 50, 14, 0x50010000u, 0x0u, 0},
};
const DialogTemplate kDialogs[] = {
    {216, u"Formatting Partition", u"MS Shell Dlg", 8, 400, 0, 0, 0, 224, 98, 0x80c808c0u, 0x0u, 0, kFormatItems, 7},
    {206, u"", u"MS Shell Dlg", 8, 400, 0, 0, 0, 238, 123, 0x80c808c0u, 0x0u, 0, kQuestionItems, 3},
};
const platform::ui::ResourceTable kTable{"format_dialogs", kDialogs, 2, nullptr, 0, nullptr, 0};

std::string Hex(uint32_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << v << "u";
  return s.str();
}

std::string Quote(const char16_t* text) { return "u\"" + platform::to_utf8(text) + "\""; }

std::string ItemLine(const DialogItemTemplate& i) {
  std::ostringstream s;
  s << "{" << Quote(i.class_name) << ", " << Quote(i.text) << ", " << i.id << ", " << i.x << ", " << i.y << ", "
    << i.cx << ", " << i.cy << ", " << Hex(i.style) << ", " << Hex(i.ex_style) << ", " << i.image_id << "},";
  return s.str();
}

std::string DialogLine(const DialogTemplate& d, int index) {
  std::ostringstream s;
  s << "{" << d.id << ", " << Quote(d.caption) << ", " << Quote(d.font_face) << ", " << d.font_points << ", "
    << d.font_weight << ", " << d.font_italic << ", " << d.x << ", " << d.y << ", " << d.cx << ", " << d.cy << ", "
    << Hex(d.style) << ", " << Hex(d.ex_style) << ", " << d.menu_id << ", dialog" << index << "_items, "
    << d.item_count << "},";
  return s.str();
}

TEST(FormatDialogScript, TheResourceCompilerMakesTheTemplatesTheseTestsUse) {
  // The build tree holds the compiler next to this test program.
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::filesystem::path rc = self.parent_path().parent_path().parent_path() / "tools/rc/drum_rc";
  ASSERT_TRUE(std::filesystem::exists(rc)) << rc;
  const char* source = std::getenv("DRUM_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::string out = testing::TempDir() + "/format_rc.cpp";
  ASSERT_EQ(Shell(rc.string() + " " + source + "/resources/dialogs/format.rc " + out + " format_dialogs"), 0);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  std::string generated = text.str();
  for (const auto& d : kDialogs) {
    for (size_t i = 0; i < d.item_count; ++i)
      EXPECT_NE(generated.find(ItemLine(d.items[i])), std::string::npos) << ItemLine(d.items[i]);
  }
  EXPECT_NE(generated.find(DialogLine(kDialogs[0], 0)), std::string::npos) << DialogLine(kDialogs[0], 0);
  EXPECT_NE(generated.find(DialogLine(kDialogs[1], 1)), std::string::npos) << DialogLine(kDialogs[1], 1);
}

// ---- a recording formatter ----

struct FormatCall {
  std::u16string root;
  DWORD media;
  std::u16string fileSystem;
  BOOL quick;
  DWORD clusterBytes;
};

enum class FakeEnd { Success, Failure, NoReport, UntilCancelled };

struct FakeFormatter {
  std::vector<FormatCall> calls;
  DWORD percent = 5;
  FakeEnd end = FakeEnd::Success;
};
FakeFormatter fake;

void FakeFormatEx(WCHAR* root, DWORD media, WCHAR* fileSystem, WCHAR* label, BOOL quick, DWORD clusterBytes,
                  PFMIFSCALLBACK callback) {
  (void)label;
  fake.calls.push_back({root, media, fileSystem, quick, clusterBytes});
  DWORD percent = fake.percent;
  callback(FMIFS_PROGRESS, 0, &percent);
  if (fake.end == FakeEnd::UntilCancelled) {
    // Works on until the user's Cancel ends the wait (bounded).
    for (int i = 0; i < 100000 && !FormatDone; ++i) platform::Clock::instance().sleep(100);
    return;
  }
  if (fake.end == FakeEnd::NoReport) return;
  BOOLEAN ok = fake.end == FakeEnd::Success;
  callback(FMIFS_DONE, 0, &ok);
}

void InstallFake() {
  platform::process::RegisterModule(
      u"fmifs.dll", {{{"FormatEx", platform::process::AsExport(&FakeFormatEx)}}, nullptr});
}

class FormatterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ui::RegisterResourceTable(&kTable);
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    FormatRequest = FormatRequestRecord{};
    FormatDone = 0;
    FormatPercent = 0;
    FormatSucceeded = 0;
    fake = FakeFormatter{};
  }
  void TearDown() override {
    platform::process::RegisterStandardPrograms();
    platform::ui::UnregisterResourceTable(&kTable);
    ShellState = ShellStateRecord{};
  }
  // C: FAT32 (system), D: FAT16 to be formatted, on one MBR disk.
  void MakePc(uint32_t sectorSize) {
    ss = sectorSize;
    dStart = ss == 512 ? 2048 + 100000 : 256 + 72000;
    dCount = (ss == 512 ? 200ull << 20 : 320ull << 20) / ss;
    uint64_t c_count = ss == 512 ? 100000 : 72000;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = (dStart + dCount) * ss + (1 << 20), .sectorSize = ss});
    pc.WriteMbr(0, {Part{.start = dStart - c_count, .count = c_count, .mbrType = 0x0C, .fs = "fat32", .label = "SYS"},
                    Part{.start = dStart, .count = dCount, .mbrType = 0x06, .fs = "fat16", .label = "OLD"}});
    pc.Boot();
  }
  // Runs a dialog under a headless script; returns the failure text, empty when the script ran.
  template <class Dialog>
  std::string RunHeadless(platform::ui::Script script, Dialog& dialog, std::string* logText = nullptr) {
    auto run = disk_fixture::RunHeadless(script, [&] { dialog.DoModal(); });
    if (logText) *logText = run.log;
    return run.failure;
  }
  std::string ExtractD() { return pc.ExtractVolume(0, dStart, dCount, "d.vol"); }

  SimulatedPc pc;
  uint32_t ss = 512;
  uint64_t dStart = 0, dCount = 0;
};

TEST_F(FormatterTest, RequestsBecomeTheFormatterCallsTheyAsk) {
  MakePc(512);
  InstallFake();
  struct Case {
    const char* what;
    bool ntfs;
    int32_t drive;
    int32_t clusterUnits;
    uint8_t fat32;
    uint8_t quick;
    bool winpe;
    FakeEnd end;
    bool called;
    FormatCall call;
    uint8_t result;
    uint8_t done;
  } cases[] = {
      {"NTFS on D:, 8 units", true, 3, 8, 0, 1, false, FakeEnd::Success, true, {u"D:\\", 12, u"NTFS", TRUE, 4096}, 1, 1},
      {"NTFS default cluster, full", true, 3, 0, 0, 0, false, FakeEnd::Success, true, {u"D:\\", 12, u"NTFS", FALSE, 0}, 1,
       1},
      {"NTFS on C: outside WinPE", true, 2, 0, 0, 1, false, FakeEnd::Success, false, {}, 0, 0},
      {"NTFS on A: outside WinPE", true, 0, 0, 0, 1, false, FakeEnd::Success, false, {}, 0, 0},
      {"NTFS on C: under WinPE", true, 2, 0, 0, 1, true, FakeEnd::Success, true, {u"C:\\", 12, u"NTFS", TRUE, 0}, 1, 1},
      {"FAT32 on D:, full", false, 3, 8, 1, 0, false, FakeEnd::Success, true, {u"D:\\", 12, u"FAT32", FALSE, 0}, 1, 1},
      {"FAT is always quick", false, 3, 8, 0, 0, false, FakeEnd::Success, true, {u"D:\\", 12, u"FAT", TRUE, 0}, 1, 1},
      {"FAT on C: is not refused", false, 2, 0, 1, 1, false, FakeEnd::Success, true, {u"C:\\", 12, u"FAT32", TRUE, 0}, 1,
       1},
      {"letter without a drive", false, 16, 0, 1, 1, false, FakeEnd::Success, true, {u"Q:\\", 8, u"FAT32", TRUE, 0}, 1,
       1},
      {"formatter reports failure", true, 3, 0, 0, 1, false, FakeEnd::Failure, true, {u"D:\\", 12, u"NTFS", TRUE, 0}, 0,
       1},
      {"formatter ends without a report", false, 3, 0, 1, 1, false, FakeEnd::NoReport, true,
       {u"D:\\", 12, u"FAT32", TRUE, 0}, 0, 0},
      {"drive index past Z:", true, 26, 0, 0, 1, true, FakeEnd::Success, false, {}, 0, 0},
      {"negative drive index", false, -1, 0, 1, 1, false, FakeEnd::Success, false, {}, 0, 0},
      {"negative cluster units", true, 3, -8, 0, 1, false, FakeEnd::Success, false, {}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake.calls.clear();
    fake.end = c.end;
    ShellState.winPEMode = c.winpe;
    FormatDone = 0;
    FormatPercent = 0;
    uint8_t result = c.ntfs ? FormatNtfsVolume(c.drive, c.clusterUnits, c.quick) : FormatFatVolume(c.drive, c.fat32, c.quick);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(FormatDone.load(), c.done);
    ASSERT_EQ(fake.calls.size(), c.called ? 1u : 0u);
    if (!c.called) continue;
    EXPECT_EQ(fake.calls[0].root, c.call.root);
    EXPECT_EQ(fake.calls[0].media, c.call.media);
    EXPECT_EQ(fake.calls[0].fileSystem, c.call.fileSystem);
    EXPECT_EQ(fake.calls[0].quick, c.call.quick);
    EXPECT_EQ(fake.calls[0].clusterBytes, c.call.clusterBytes);
    EXPECT_EQ(FormatPercent.load(), 5);
  }
  // No formatter library, or one without FormatEx: nothing is formatted.
  platform::process::UnregisterModule(u"fmifs.dll");
  FormatDone = 0;
  EXPECT_EQ(FormatNtfsVolume(3, 0, 1), 0);
  platform::process::RegisterModule(u"fmifs.dll", {{}, nullptr});
  EXPECT_EQ(FormatFatVolume(3, 1, 1), 0);
  EXPECT_EQ(FormatDone.load(), 0);
}

class RealFormatTest : public FormatterTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RealFormatTest, ProgressDialogFormatsTheVolumeOnItsWorkerAndNtfsfixAgrees) {
  MakePc(GetParam());
  FormatRequest = FormatRequestRecord{.fileSystemCode = 7, .driveIndex = 3};
  platform::ui::Script script;
  script.expect_dialog(216);
  CCFormat dialog;
  std::string log;
  ASSERT_EQ(RunHeadless(script, dialog, &log), "");
  EXPECT_EQ(FormatDone.load(), 1);
  EXPECT_EQ(FormatSucceeded.load(), 1);
  EXPECT_EQ(FormatPercent.load(), 100);
  EXPECT_EQ(FormatRequest.quickFlag, 1) << "formats started from the dialog are quick";
  EXPECT_NE(FormatThread, nullptr);
  EXPECT_EQ(ShellState.OneShotTickCount, 3);
  EXPECT_NE(log.find("dialog 216 \"IDS_FormattingDrive: D:\" opened"), std::string::npos) << log;
  std::string out;
  EXPECT_EQ(Shell("ntfsfix -n " + ExtractD() + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("processed successfully"), std::string::npos) << out;
  WCHAR fs[16] = {};
  ASSERT_TRUE(GetVolumeInformationW(u"D:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(std::u16string(fs), u"NTFS");
  // C: is untouched.
  ASSERT_TRUE(GetVolumeInformationW(u"C:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(std::u16string(fs), u"FAT32");
  // The mount manager republishes its table on every poll the volume APIs
  // make: the new file system must survive that, and take files.
  platform::storage::PollDeviceChanges();
  ASSERT_TRUE(GetVolumeInformationW(u"D:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_EQ(std::u16string(fs), u"NTFS");
  HANDLE f = CreateFileW(u"D:\\after.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD put = 0;
  EXPECT_TRUE(WriteFile(f, "written after a poll", 20, &put, nullptr));
  EXPECT_EQ(put, 20u);
  CloseHandle(f);
  platform::fs::ReleaseAllDrivers();
  EXPECT_EQ(Shell("ntfscat " + ExtractD() + " after.txt 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "written after a poll");
}

TEST_P(RealFormatTest, ProgressDialogFormatsFat32AndFsckAgrees) {
  MakePc(GetParam());
  FormatRequest = FormatRequestRecord{.fileSystemCode = 12, .driveIndex = 3, .clusterUnits = 64, .fat32Flag = 1};
  platform::ui::Script script;
  script.expect_dialog(216);
  CCFormat dialog;
  ASSERT_EQ(RunHeadless(script, dialog), "");
  EXPECT_EQ(FormatSucceeded.load(), 1);
  std::string volume = ExtractD();
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n " + volume + " 2>&1", &out), 0) << out;
  std::ifstream boot(volume, std::ios::binary);
  std::string sector(90, '\0');
  boot.read(sector.data(), 90);
  EXPECT_EQ(sector.substr(82, 8), "FAT32   ");
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, RealFormatTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "Sector" + std::to_string(info.param); });

TEST_F(FormatterTest, CancelAnsweredNoGoesOnAndYesEndsTheWait) {
  MakePc(512);
  InstallFake();
  fake.end = FakeEnd::UntilCancelled;
  fake.percent = 5;
  ShellState.messageCaption = u"Drum Networks";
  LanguageTable.strings = {u"IDS_CancelFormatMsg", u"Stop formatting?", u"IDS_FormattingDrive", u"Formatting"};
  LanguageTable.languageLineCount = 2;
  FormatRequest = FormatRequestRecord{.fileSystemCode = 7, .driveIndex = 3};
  platform::ui::Script script;
  script.expect_dialog(216)
      .expect_text(1112, "(5%)")
      .click(2)
      .answer("no")
      .expect_text(1112, "(5%)")
      .click(2)
      .answer("yes");
  CCFormat dialog;
  std::string log;
  ASSERT_EQ(RunHeadless(script, dialog, &log), "") << log;
  EXPECT_EQ(FormatDone.load(), 1);
  EXPECT_EQ(FormatSucceeded.load(), 0) << "the format never reported completion";
  EXPECT_EQ(FormatPercent.load(), 100);
  size_t first = log.find("Stop formatting?");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find("Stop formatting?", first + 1), std::string::npos) << "asked twice";
  EXPECT_EQ(fake.calls.size(), 1u);
}

// A formatter that reports failure is not shown as a finished format: the
// bar stays where it stopped and the user is told.
TEST_F(FormatterTest, ReportedFailureIsShownNotAFullBar) {
  MakePc(512);
  InstallFake();
  fake.end = FakeEnd::Failure;
  fake.percent = 40;
  ShellState.messageCaption = u"Drum Networks";
  LanguageTable.strings = {u"IDS_FormatFailed", u"The drive cannot be formatted.", u"IDS_FormattingDrive",
                           u"Formatting"};
  LanguageTable.languageLineCount = 2;
  FormatRequest = FormatRequestRecord{.fileSystemCode = 7, .driveIndex = 3};
  platform::ui::Script script;
  script.expect_dialog(216).answer("ok");
  CCFormat dialog;
  std::string log;
  ASSERT_EQ(RunHeadless(script, dialog, &log), "") << log;
  EXPECT_NE(log.find("The drive cannot be formatted."), std::string::npos) << log;
  EXPECT_EQ(FormatSucceeded.load(), 0);
  EXPECT_EQ(FormatPercent.load(), 40) << "the bar is not filled for a failed format";
  EXPECT_EQ(fake.calls.size(), 1u);
}

TEST_F(FormatterTest, PollEndsWhenTheWorkerEndsWithoutAReport) {
  MakePc(512);
  InstallFake();
  fake.end = FakeEnd::NoReport;
  fake.percent = 40;
  FormatRequest = FormatRequestRecord{.fileSystemCode = 7, .driveIndex = 3};
  platform::ui::Script script;
  script.expect_dialog(216);
  {
    CCFormat dialog;
    ASSERT_EQ(RunHeadless(script, dialog), "");
    EXPECT_NE(ShellState.ProgressBar, nullptr) << "the open page's bar is shared";
  }
  EXPECT_EQ(ShellState.ProgressBar, nullptr) << "no dangling bar once the dialog is gone";
  EXPECT_EQ(FormatDone.load(), 0) << "no completion was reported";
  EXPECT_EQ(FormatSucceeded.load(), 0);
  EXPECT_FALSE(FormatWorkerRunning.load());
  EXPECT_EQ(fake.calls.size(), 1u);
}

TEST_F(FormatterTest, VolumeThatCannotBeOpenedStartsNoWorker) {
  MakePc(512);
  InstallFake();
  FormatRequest = FormatRequestRecord{.fileSystemCode = 7, .driveIndex = 16};  // Q: has no volume
  FormatThread = nullptr;
  platform::ui::Script script;
  script.expect_dialog(216);
  CCFormat dialog;
  ASSERT_EQ(RunHeadless(script, dialog), "");
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(FormatThread, nullptr);
  EXPECT_EQ(dialog.RunFormatWithProgress(&FormatRequest), nullptr);
}

TEST_F(FormatterTest, QuestionDialogSetsTheAnswer) {
  LanguageTable.strings = {u"IDS_part2disk", u"Format the new partition now?", u"IDS_formatnow", u"Format now",
                           u"IDS_Cancel", u"Not now", u"IDS_Product", u"Drum Networks"};
  LanguageTable.languageLineCount = 4;
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, int>> steps;  // "click" id, or "key" escape
    uint8_t answer;
  } cases[] = {
      {"format now", {{"click", 1122}}, 1},
      {"cancel", {{"click", 2}}, 0},
      {"escape (the close box)", {{"escape", 0}}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FormatNowAnswer = 7;
    platform::ui::Script script;
    script.expect_dialog(206)
        .expect_text(1121, "Format the new partition now?")
        .expect_text(1122, "Format now")
        .expect_text(2, "Not now");
    for (const auto& s : c.steps) {
      if (s.first == "click") script.click(s.second);
      else script.key("escape");
    }
    CFormatDisk dialog;
    std::string log;
    ASSERT_EQ(RunHeadless(script, dialog, &log), "");
    EXPECT_NE(log.find("dialog 206 \"Drum Networks\" opened"), std::string::npos) << log;
    EXPECT_EQ(FormatNowAnswer, c.answer);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
  }
}

}  // namespace
