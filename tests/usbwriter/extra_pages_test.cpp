// The two pages Pellimor carries beside its wizard, run headless on a
// simulated PC: its format dialog formats a stick's volume as NTFS or FAT32
// on the shared worker (ntfsfix and fsck.fat agree), named "Formatting X:";
// the source page lists the optical and floppy drives, says when a drive
// holds no readable image, takes an ISO file instead, keeps at most 16
// characters of the pass key and goes on to the destination page.
#include "usbwriter/pellimor_extra_pages.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "platform/fs/volume_set.h"
#include "program_support/language_table.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/usb_disk_table.h"
#include "usbwriter/usb_write.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

DiskSpec Stick() {
  DiskSpec stick{1, 256ull << 20};
  stick.bus = platform::machine::BusType::Usb;
  stick.vendor = "SanDisk";
  stick.product = "Cruzer";
  stick.removable = true;
  return stick;
}

TEST(PellimorFormatDialog, FormatsTheVolumeAsAsked) {
  struct Case {
    bool ntfs;
    const char* oracle;
  } cases[] = {{true, "ntfsfix -n "}, {false, "fsck.fat -n "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.oracle);
    disk_fixture::SimulatedPc pc;
    pc.AddDisk(DiskSpec{0, 64ull << 20});
    pc.AddDisk(Stick());
    // The system volume takes C:, which is formatted only under WinPE.
    pc.WriteMbr(0, {Part{2048, 100000, 0x0C, false, false, {}, {}, "fat32", "SYS"}});
    pc.WriteMbr(1, {Part{2048, 400000, 0x0C, false, false, {}, {}, "fat32", "STICK"}});
    pc.Boot();
    LanguageTable.strings = {u"IDS_FORMATTING", u"Formatting "};
    LanguageTable.languageLineCount = 1;
    int letter = FindLetterForPartition(2048, 1);
    ASSERT_NE(letter, -1);
    platform::ui::Script script;
    script.expect_dialog(997);
    bool formatted = false;
    auto run = disk_fixture::RunHeadless(script, [&] {
      formatted = c.ntfs ? pellimor::FormatDriveNtfs(static_cast<WCHAR>(letter))
                         : pellimor::FormatDriveFat32(static_cast<WCHAR>(letter));
    });
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(formatted) << run.log;
    std::string caption = std::string("dialog 997 \"Formatting ") + static_cast<char>(letter) + ":\" opened";
    EXPECT_NE(run.log.find(caption), std::string::npos) << run.log;
    EXPECT_EQ(FormatRequest.fileSystemCode, c.ntfs ? 7 : 12);
    platform::fs::ReleaseAllDrivers();
    std::string volume = pc.ExtractVolume(1, 2048, 400000, "stick.vol");
    std::string out;
    EXPECT_EQ(Shell(c.oracle + volume + " 2>&1", &out), 0) << out;
    if (!c.ntfs) {
      std::string boot;
      Shell("head -c 90 " + volume + " | tail -c 8", &boot);
      EXPECT_EQ(boot, "FAT32   ");
    }
  }
  LanguageTable = LanguageTableRecord{};
}

TEST(PellimorSourcePage, ListsDrivesTakesAnImageAndItsPassKey) {
  disk_fixture::SimulatedPc pc;
  iso_fixture::TempFolder scratch;
  pc.AddDisk(DiskSpec{0, 64ull << 20});
  pc.AddDisk(Stick());
  for (const char* folder : {"cd", "floppy", "isos"}) std::filesystem::create_directories(scratch.file(folder));
  pc.AppendIni("\n[mount cd]\npath = D:\nhost = " + scratch.file("cd") + "\ndrive_type = cdrom\n");
  pc.AppendIni("\n[mount floppy]\npath = A:\nhost = " + scratch.file("floppy") + "\ndrive_type = removable\n");
  pc.AppendIni("\n[mount iso]\npath = I:\nhost = " + scratch.file("isos") + "\ndrive_type = fixed\n");
  iso_fixture::IsoSpec spec;
  spec.files = {{"/README.TXT", "source"}};
  spec.volumeId = "SOURCE_CD";
  iso_fixture::MakeIso(spec, scratch.file("isos/test.iso"));
  pc.Boot();
  WriteBootLoader = true;
  PassKey = u"left over";
  platform::ui::Script script;
  script.expect_dialog(177)
      .expect_disabled(1)
      .expect_disabled(1392)
      .select_text(1029, "Floppy Drive: A:")
      .answer("ok")
      .select_text(1029, "CD Drive: D:")
      .answer("ok")
      .expect_disabled(1)
      .click(1030)
      .choose("I:\\test.iso")
      .expect_enabled(1)
      .click(1022)
      .expect_enabled(1392)
      .type(1392, "0123456789abcdefXYZ")
      .click(1)
      .expect_dialog(140)
      .click(2);
  auto run = disk_fixture::RunHeadless(script, [] {
    CSrc page;
    page.DoModal();
  });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  size_t first = run.log.find("No CD or DVD is found. Please insert the disc and try it again");
  ASSERT_NE(first, std::string::npos) << run.log;
  EXPECT_NE(run.log.find("No CD or DVD is found", first + 1), std::string::npos) << "once per drive";
  EXPECT_EQ(SourceIsoPath, u"I:\\test.iso");
  EXPECT_EQ(PassKey, u"0123456789abcdef");
  PassKey = u"";
}

}  // namespace
