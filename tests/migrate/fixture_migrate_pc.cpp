#include "fixture_migrate_pc.h"

#include <gtest/gtest.h>

#include "disk/disk_context.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace migrate_fixture {

using disk_fixture::DiskSpec;

MigratePc::MigratePc(const MigratePcOptions& o) {
  ShellState = ShellStateRecord{};
  DiskContext = DiskContextRecord{};
  ShellState.titleFontHeight = 15;
  ShellState.textFontHeight = 15;
  ShellState.messageCaption = u"Drummetworks";
  const uint32_t ss = o.sectorSize;
  start_ = kMiB / ss;
  const uint64_t sizes[3] = {o.sourceBytes, o.destinationBytes, o.destinationBytes};
  const char* fs[3] = {"ntfs", "ntfs", "fat32"};
  const uint8_t types[3] = {0x07, 0x07, 0x0C};
  const char* labels[3] = {"SOURCE", "NTFSDEST", "FATDEST"};
  for (int n = 0; n < 3; ++n) {
    pc.AddDisk(DiskSpec{.number = n, .sizeBytes = sizes[n] + 2 * kMiB, .sectorSize = ss,
                        .serial = "SN" + std::to_string(n)});
    counts_[n] = sizes[n] / ss;
    pc.WriteMbr(n, {{.start = start_, .count = counts_[n], .mbrType = types[n], .fs = fs[n], .label = labels[n]}});
  }
  disk_fixture::MountProgramFolder(pc, pc.folder() + "/program");
  pc.Boot();
  platform::fs::ReleaseAllDrivers();
  ShellState.programFolder = u"P:";
  UseLanguage("English");
}

MigratePc::~MigratePc() {
  platform::fs::ReleaseAllDrivers();
  ShellState = ShellStateRecord{};
  LanguageTable = LanguageTableRecord{};
  DiskContext = DiskContextRecord{};
}

void MigratePc::UseLanguage(const char* name) {
  ShellState.languageName = platform::to_utf16(name);
  LoadLanguageStrings();
}

std::string MigratePc::Volume(int n, const std::string& name) {
  platform::fs::ReleaseAllDrivers();
  return pc.ExtractVolume(n, start_, counts_[n], name);
}

void MigratePc::PutVolume(int n, const std::string& image) {
  platform::fs::ReleaseAllDrivers();
  const uint32_t ss = pc.SectorSize(n);
  EXPECT_EQ(disk_fixture::Shell("dd if='" + image + "' of='" + pc.Image(n) + "' bs=" + std::to_string(ss) +
                                " seek=" + std::to_string(start_) + " conv=notrunc,sparse"),
            0);
}

}  // namespace migrate_fixture
