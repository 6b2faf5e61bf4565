#include "fixture_wipe_pc.h"

#include <filesystem>
#include <sstream>

#include "disk/disk_context.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/ui/dialog.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace wipe_fixture {

namespace fs = std::filesystem;
using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

WipePc::WipePc() {
  ShellState = ShellStateRecord{};
  DiskContext = DiskContextRecord{};
  DiskListRows = DiskListRowsRecord{};
  CloneSettings = CloneSettingsRecord{};
  ShellState.titleFontHeight = 15;
  ShellState.textFontHeight = 15;
  ShellState.messageCaption = u"Drummetworks";

  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64 * kMiB, .product = "System Disk", .serial = "SN0"});
  pc.WriteMbr(0, {{.start = 2048, .count = 40 * 2048, .mbrType = 0x06, .active = true, .fs = "fat16", .label = "SYS",
                   .files = {{"/WINDOWS/SYSTEM32/KERNEL32.DLL", "x"}}}});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 96 * kMiB, .sectorSize = 4096, .product = "Big Sector Disk",
                      .serial = "SN1"});
  pc.WriteBytes(1, 0, disk_fixture::Pattern(96 * kMiB, 1));
  pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 64 * kMiB, .product = "Small Disk", .serial = "SN2"});
  pc.WriteBytes(2, 0, disk_fixture::Pattern(64 * kMiB, 2));
  const uint64_t s4 = kMiB / 4096;
  pc.WriteMbr(1, {{.start = 1 * s4, .count = 20 * s4, .mbrType = 0x07, .fs = "ntfs", .label = "ONE"},
                  {.start = 21 * s4, .count = 20 * s4, .mbrType = 0x07, .fs = "ntfs", .label = "TWO"},
                  {.start = 41 * s4, .count = 20 * s4, .mbrType = 0x07, .fs = "ntfs", .label = "THREE"}});
  pc.WriteMbr(2, {{.start = 2048, .count = 20 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "FOUR"},
                  {.start = 21 * 2048, .count = 20 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "FIVE"}});

  const std::string program = ProgramFolder();
  fs::create_directories(program + "/Resources");
  const std::string lang = std::string(std::getenv("DRUM_SOURCE_DIR")) + "/resources/lang/";
  for (std::string c : {"001", "081"})
    Shell("cat " + lang + c + ".txt $(ls " + lang + "*." + c + ".txt | sort) | sed 's/\\r$//; s/$/\\r/' | iconv -f UTF-8 -t UTF-16LE > " +
          program + "/Resources/" + c + ".dll");
  pc.AppendIni("\n[mount P]\npath = P:\nhost = " + program + "\ndrive_type = remote\n");
  pc.Boot();
  platform::fs::ReleaseAllDrivers();
  ShellState.programFolder = u"P:";
  UseLanguage("English");
}

WipePc::~WipePc() {
  ShellState = ShellStateRecord{};
  LanguageTable = LanguageTableRecord{};
  DiskContext = DiskContextRecord{};
  DiskListRows = DiskListRowsRecord{};
  CloneSettings = CloneSettingsRecord{};
}

void WipePc::UseLanguage(const char* name) {
  ShellState.languageName = platform::to_utf16(name);
  LoadLanguageStrings();
}

std::string WipePc::Hash(int disk, uint64_t offset, uint64_t bytes) {
  std::string out;
  Shell("tail -c +" + std::to_string(offset + 1) + " '" + pc.Image(disk) + "' | head -c " + std::to_string(bytes) +
            " | sha256sum",
        &out);
  return out;
}

bool WipePc::IsZero(int disk, uint64_t offset, uint64_t bytes) {
  return Shell("cmp -i " + std::to_string(offset) + ":0 -n " + std::to_string(bytes) + " '" + pc.Image(disk) +
               "' /dev/zero") == 0;
}

std::string RunPage(CDialog& page, const platform::ui::Script& script, const std::string& screenshots) {
  const platform::ui::DriverOptions defaults;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); }, [&](platform::ui::DriverOptions& options) {
    options.screenshots_dir = screenshots;
    options.real_grace_ms = defaults.real_grace_ms;
  });
  return test_support::FailureReport(run);
}

}  // namespace wipe_fixture
