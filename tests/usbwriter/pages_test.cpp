// Pellimor's pages run headless from its start-up on a simulated PC whose
// program folder is the staged install folder: the whole wizard writes a
// stick (checked by sfdisk and fsck.fat, the other disks hashed), the
// destination list follows sticks plugged out, the last stick leaving ends
// the program with its message, an image too big for the stick keeps the page
// open, and every page opens (and goes back) in English and Japanese.
#include "usbwriter/pellimor_pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/device_events.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/run_options.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso/iso_reader.h"
#include "usbwriter/pellimor_extra_pages.h"
#include "usbwriter/usb_disk_table.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Shell;

const std::string kStage = std::string(DRUM_BUILD_DIR) + "/stage/Pellimor";

DiskSpec Stick(int number, uint64_t bytes, const std::string& serial) {
  DiskSpec stick{number, bytes};
  stick.bus = platform::machine::BusType::Usb;
  stick.vendor = "SanDisk";
  stick.product = "Cruzer";
  stick.serial = serial;
  stick.removable = true;
  return stick;
}

class PagesTest : public ::testing::Test {
 protected:
  // Disk 0 is the system disk; sticks follow. The program folder P: is a
  // copy of the staged folder (its record in the given language).
  void MakePc(std::vector<DiskSpec> sticks, const std::string& language = "English") {
    pc_.AddDisk(DiskSpec{0, 64ull << 20});
    for (const DiskSpec& s : sticks) pc_.AddDisk(s);
    pc_.WriteBytes(0, 0, disk_fixture::Pattern(1 << 20, 31));
    std::filesystem::copy(kStage, scratch_.file("program"), std::filesystem::copy_options::recursive);
    ASSERT_EQ(Shell(std::string(DRUM_BUILD_DIR) + "/tools/settings_record/settings_record " +
                    scratch_.file("program/Resources/inf.dll") + " --branding --language " + language +
                    " --company Corvelware --product Pellimor --image boot.iso --flags 1"),
              0);
    std::filesystem::create_directories(scratch_.file("isos"));
    pc_.AppendIni("\n[mount program]\npath = P:\nhost = " + scratch_.file("program") + "\ndrive_type = fixed\n");
    pc_.AppendIni("\n[mount iso]\npath = I:\nhost = " + scratch_.file("isos") + "\ndrive_type = fixed\n");
    iso_fixture::IsoSpec spec;
    spec.files = {{"/README.TXT", "hello"}, {"/BOOT/BOOT.SDI", disk_fixture::Pattern(100000, 3)}};
    spec.volumeId = "PE_TEST";
    spec.boot = iso_fixture::BootKind::NoEmulation;
    spec.bootImage = iso_fixture::WindowsLikeBootImage("BOOTMGR");
    iso_fixture::MakeIso(spec, scratch_.file("isos/test.iso"));
    pc_.Boot();
    // As the program's runner does: device changes reach the windows.
    platform::ui::ConnectDeviceNotifications();
    ChosenFileSystem = -1;
  }
  void TearDown() override {
    platform::fs::ReleaseAllDrivers();
    std::string pattern = disk_fixture::Pattern(1 << 20, 31);
    EXPECT_EQ(pc_.ReadBytes(0, 0, 1 << 20), std::vector<uint8_t>(pattern.begin(), pattern.end()))
        << "the system disk was written";
  }
  // A new simulated PC and program folder for a second MakePc in one test.
  void FreshPc() {
    pc_.~SimulatedPc();
    new (&pc_) disk_fixture::SimulatedPc();
    std::filesystem::remove_all(scratch_.file("program"));
    std::filesystem::remove_all(scratch_.file("isos"));
  }
  disk_fixture::HeadlessRun Run(const platform::ui::Script& script, const std::string& shots = "") {
    return disk_fixture::RunHeadless(
        script,
        [] {
          CPellimorApp app;
          app.SetProgramPath(u"P:\\Pellimor.exe");
          app.InitInstance();
        },
        [this, shots](platform::ui::DriverOptions& options) {
          if (!shots.empty()) options.screenshots_dir = shots;
          options.device_hook = [this](bool arrive, int disk, std::string*) {
            pc_.SetIni("disk " + std::to_string(disk), "attached", arrive ? "yes" : "no");
            platform::storage::PollDeviceChanges();
            return true;
          };
        });
  }
  // The image and the stick chosen, Next: the size message, and the
  // destination page again (Cancel ends the program there).
  // The image chosen on the welcome page, the first stick on the
  // destination page, Next.
  static platform::ui::Script ToFirstStickNext() {
    platform::ui::Script script;
    script.expect_dialog(102).click(1007).choose("I:\\test.iso").expect_dialog(140).select(1029, 1).click(1);
    return script;
  }
  void ExpectRefusedAsTooSmall() {
    platform::ui::Script script = ToFirstStickNext();
    script.answer("ok")
        .expect_dialog(140)
        .click(2);
    auto run = Run(script);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_NE(run.log.find("The USB stick is too small for this image."), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("dialog 175"), std::string::npos) << run.log;
  }
  disk_fixture::SimulatedPc pc_;
  iso_fixture::TempFolder scratch_;
};

TEST_F(PagesTest, WizardWritesTheChosenStick) {
  MakePc({Stick(1, 300ull << 20, "AA0100001")});
  platform::ui::Script script;
  script.expect_dialog(102)
      .click(1007)
      .choose("I:\\test.iso")
      .expect_dialog(140)
      .expect_disabled(1)
      .select(1029, 1)
      .expect_enabled(1)
      .click(1)
      .expect_dialog(175)
      .expect_text(1138, "I:\\test.iso")
      .click(4)
      .answer("yes")
      .answer("ok");
  auto run = Run(script);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  EXPECT_NE(run.log.find("The USB stick is ready."), std::string::npos) << run.log;
  platform::fs::ReleaseAllDrivers();
  std::string dump;
  ASSERT_EQ(Shell("sfdisk -d " + pc_.Image(1), &dump), 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dump, m, std::regex("start=\\s*(\\d+), size=\\s*(\\d+), type=b, bootable"))) << dump;
  std::string volume = pc_.ExtractVolume(1, std::stoull(m[1]), std::stoull(m[2]), "stick.vol");
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n " + volume + " 2>&1", &out), 0) << out;
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + volume + " ::/README.TXT", &out), 0);
  EXPECT_EQ(out, "hello");
}

TEST_F(PagesTest, DestinationListFollowsPluggedSticks) {
  MakePc({Stick(1, 300ull << 20, "AA0100001"), Stick(2, 300ull << 20, "BB0200002")});
  platform::ui::Script script;
  script.expect_dialog(102)
      .click(1007)
      .choose("I:\\test.iso")
      .expect_dialog(140)
      .select(1029, 2)
      .expect_text(1390, "SanDisk Cruzer:   298 MB   (S/N: BB0200002)")
      .device(false, 1)
      .select(1029, 1)
      .expect_text(1390, "SanDisk Cruzer:   298 MB   (S/N: BB0200002)")
      .device(false, 2)
      .answer("ok");
  auto run = Run(script);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  EXPECT_NE(run.log.find("No USB drive was found."), std::string::npos) << run.log;
}

TEST_F(PagesTest, StickSmallerThanTheImageKeepsThePage) {
  MakePc({Stick(1, 300ull << 20, "AA0100001")});
  ASSERT_EQ(Shell("truncate -s 400M " + scratch_.file("big.bin")), 0);
  ASSERT_EQ(Shell("xorriso -outdev " + scratch_.file("isos/test.iso") + " -blank as_needed -rockridge off -map " +
                  scratch_.file("big.bin") + " /BIG.BIN -commit >/dev/null 2>&1"),
            0);
  ExpectRefusedAsTooSmall();
}

// A stick with room for the image but too small for the FAT32 volume the
// image needs (65,525 clusters): the destination page refuses it with the
// size message, before the confirmation, and the stick (a FAT16 volume of
// the user's) is left as it was: cmp, fsck.fat.
TEST_F(PagesTest, StickTooSmallForItsFileSystemIsRefusedOnThePage) {
  MakePc({Stick(1, 34ull << 20, "AA0100001")});
  pc_.WriteSuperfloppy(1, "fat16", "USERDATA", {{"/KEEP.TXT", "the user's file"}});
  pc_.Boot();
  platform::fs::ReleaseAllDrivers();
  ASSERT_EQ(Shell("cp " + pc_.Image(1) + " " + scratch_.file("before.img")), 0);
  ExpectRefusedAsTooSmall();
  platform::fs::ReleaseAllDrivers();
  std::string out;
  EXPECT_EQ(Shell("cmp " + scratch_.file("before.img") + " " + pc_.Image(1), &out), 0) << out;
  EXPECT_EQ(Shell("fsck.fat -n " + pc_.Image(1) + " 2>&1", &out), 0) << out;
}

// An image that cannot be read when the write starts (damaged after it was
// chosen): the user is told that the image cannot be read and that the
// stick was not made bootable, and nothing about a failed write; the stick
// keeps its bytes.
TEST_F(PagesTest, AnUnreadableImageIsNotReportedAsAWriteFailure) {
  MakePc({Stick(1, 300ull << 20, "AA0100001")});
  platform::fs::ReleaseAllDrivers();
  ASSERT_EQ(Shell("cp " + pc_.Image(1) + " " + scratch_.file("before.img")), 0);
  platform::ui::Script script = ToFirstStickNext();
  script.expect_dialog(175)
      .device(false, 9)  // the test's hook damages the image here
      .click(4)
      .answer("yes")
      .answer("ok")   // the image cannot be read
      .answer("ok");  // the stick could not be made bootable
  const std::string iso = scratch_.file("isos/test.iso");
  auto run = disk_fixture::RunHeadless(
      script,
      [] {
        CPellimorApp app;
        app.SetProgramPath(u"P:\\Pellimor.exe");
        app.InitInstance();
      },
      [iso](platform::ui::DriverOptions& options) {
        options.device_hook = [iso](bool, int, std::string*) {
          std::ofstream(iso, std::ios::binary | std::ios::trunc) << std::string(40000, 'x');
          return true;
        };
      });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  EXPECT_NE(run.log.find("The ISO image cannot be read."), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("The USB stick could not be made bootable."), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("A write to the USB stick failed."), std::string::npos) << run.log;
  platform::fs::ReleaseAllDrivers();
  std::string out;
  EXPECT_EQ(Shell("cmp " + scratch_.file("before.img") + " " + pc_.Image(1), &out), 0) << out;
}

TEST_F(PagesTest, EveryPageInBothLanguages) {
  for (const std::string language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    if (language == "Japanese") FreshPc();
    MakePc({Stick(1, 300ull << 20, "AA0100001")}, language);
    platform::ui::Script script;
    script.expect_dialog(102)
        .expect_text(1003, language == "English" ? "Welcome to Pellimor" : "Pellimor へようこそ")
        .click(1007)
        .choose("I:\\test.iso")
        .expect_dialog(140)
        .select(1029, 1)
        .click(1)
        .expect_dialog(175)
        .click(2)
        .answer("no")
        .click(1004)
        .expect_dialog(140)
        .click(2);
    auto run = Run(script);
    ASSERT_EQ(run.failure, "") << run.log;
    bool japanese = run.log.find("Pellimor - 起動可能な USB メモリの作成") != std::string::npos;
    EXPECT_EQ(japanese, language == "Japanese") << run.log;
  }
}

// Every page pictured through the Qt view in English and Japanese (into
// DRUM_SCREENSHOT_DIR when set), each caption from its language file: the
// wizard's pages and About box, the source page, and the format dialog on
// the stick the wizard wrote. No path of the program opens the source page
// or the format dialog, so their texts are measured here, not by the tour.
TEST_F(PagesTest, EveryPagePictured) {
  platform::ui::RunOptions view;
  view.mode = platform::ui::UiMode::Headless;
  platform::ui::qt::InstallQtView(view);
  const char* dir = std::getenv("DRUM_SCREENSHOT_DIR");
  for (const std::string language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    if (language == "Japanese") FreshPc();
    MakePc({Stick(1, 300ull << 20, "AA0100001")}, language);
    const std::string tag = language == "English" ? "-en.png" : "-ja.png";
    const std::string shots = dir ? dir : scratch_.file("shots");
    std::filesystem::create_directories(shots);
    auto pictures = [&](platform::ui::DriverOptions& o) { o.screenshots_dir = shots; };
    const std::string caption = language == "English" ? "Pellimor - Bootable USB Creator"
                                                       : "Pellimor - 起動可能な USB メモリの作成";
    platform::ui::Script wizard;
    wizard.expect_dialog(102)
        .screenshot("pellimor-welcome" + tag)
        .menu(CPellimorDlg::kAboutCommand)
        .expect_dialog(100)
        .screenshot("pellimor-about" + tag)
        .click(1)
        .expect_dialog(102)
        .click(1007)
        .choose("I:\\test.iso")
        .expect_dialog(140)
        .select(1029, 1)
        .screenshot("pellimor-destination" + tag)
        .click(1)
        .expect_dialog(175)
        .screenshot("pellimor-confirm" + tag)
        .click(4)
        .answer("yes")
        .answer("ok");
    auto run = Run(wizard, shots);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_NE(run.log.find("dialog 140 \"" + caption + "\" opened"), std::string::npos) << run.log;

    platform::ui::Script source;
    source.expect_dialog(177)
        .click(1030)
        .choose("I:\\test.iso")
        .click(1022)
        .type(1392, "secret")
        .screenshot("pellimor-source" + tag)
        .fits()
        .click(2);
    run = disk_fixture::RunHeadless(
        source,
        [] {
          CSrc page;
          page.DoModal();
        },
        pictures);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_NE(run.log.find("dialog 177 \"" + caption + "\" opened"), std::string::npos) << run.log;

    int letter = FindLetterForPartition(252, 1);
    ASSERT_NE(letter, -1);
    platform::ui::Script format;
    format.expect_dialog(997).screenshot("pellimor-format" + tag).fits();
    bool formatted = false;
    run = disk_fixture::RunHeadless(
        format, [&] { formatted = pellimor::FormatDriveFat32(static_cast<WCHAR>(letter)); }, pictures);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(formatted) << run.log;
    for (const char* page : {"welcome", "about", "destination", "confirm", "source", "format"}) {
      EXPECT_TRUE(std::filesystem::exists(shots + "/pellimor-" + page + tag)) << page;
    }
  }
}

}  // namespace
