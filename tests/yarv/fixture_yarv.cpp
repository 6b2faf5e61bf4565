#include "fixture_yarv.h"

#include <filesystem>
#include <fstream>

#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "restore/yarv_app.h"
#include "restore/yarv_pages.h"

namespace yarv_fixture {

namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

platform::ui::Script RestoreNowAtOriginalPlace() {
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .click(CRestore1::kOriginal)
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .click(CRestoreProgress::kRestoreNow);
  return s;
}

platform::ui::Script RestoreNowToFolder(const std::string& folder) {
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .type(CRestore1::kDestination, folder)
      .click(CRestore1::kStart)
      .expect_dialog(CRestoreProgress::IDD)
      .click(CRestoreProgress::kRestoreNow);
  return s;
}

std::string MachineLog(YarvPc& y) {
  std::ifstream in(y.pc().folder() + "/machine.log");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

archive_writer::DiskEntry PartitionOfD(const std::string& image, uint64_t start, uint64_t count, int8_t kind) {
  archive_writer::DiskEntry d;
  d.record.kind = kind;
  d.record.disk_number = 1;
  d.record.drive_text = u"D:";
  d.record.partition_type = 0x0C;
  d.record.first_sector = static_cast<int32_t>(start);
  d.record.sectors_per_unit = 16065;
  d.record.full_units = static_cast<int32_t>(count / 16065);
  d.record.last_unit_sectors = static_cast<int32_t>(count % 16065);
  d.source_path = image;
  return d;
}

YarvPc::YarvPc(uint32_t sector_size) : sector_size_(sector_size), scratch_("yarv-test") {
  const uint64_t m = sector_size / 512;
  pc_.AddDisk({.number = 0, .sizeBytes = 64ull << 20, .sectorSize = sector_size});
  pc_.AddDisk({.number = 1, .sizeBytes = 96ull << 20, .sectorSize = sector_size});
  pc_.WriteMbr(0, {disk_fixture::Part{.start = 2048 / m, .count = 120000 / m, .mbrType = 0x07, .active = true,
                                      .fs = "ntfs", .label = "SYSTEM"}});
  pc_.WriteMbr(1, {disk_fixture::Part{.start = kDStart / m, .count = kDCount / m, .mbrType = 0x0C, .fs = "fat32",
                                      .label = "DATA"}});
}

void YarvPc::CopyStage(bool japanese) {
  const std::string program = scratch_.file("program");
  fs::remove_all(program);
  fs::copy(kStage, program, fs::copy_options::recursive);
  if (japanese)
    fs::copy_file(std::string(DRUM_BUILD_DIR) + "/Resources-yarv/081/YarvLang.dll", program + "/YarvLang.dll",
                  fs::copy_options::overwrite_existing);
  pc_.AppendIni("\n[mount program]\npath = P:\nhost = " + program + "\ndrive_type = fixed\n");
}

void YarvPc::InstallWithoutArchive(bool japanese) { CopyStage(japanese); }

void YarvPc::Install(const archive_writer::Options& options, const std::vector<archive_writer::FileEntry>& files,
                     const std::vector<archive_writer::FolderEntry>& folders,
                     const std::vector<archive_writer::DiskEntry>& disks, bool japanese) {
  CopyStage(japanese);
  archive_writer::Options o = options;
  std::ifstream in(kStage + "/Yarv.exe", std::ios::binary);
  o.prefix.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  ASSERT_TRUE(archive_writer::PatchMarker(o.prefix));
  o.first_file_name = "Yarv.exe";
  archive_writer::Written written;
  std::string error;
  ASSERT_TRUE(archive_writer::Write(o, files, folders, disks, scratch_.file("program"), written, error)) << error;
}

test_support::HeadlessRun YarvPc::Run(const platform::ui::Script& script, const std::string& tail,
                                      const std::string& screenshots) {
  Boot();
  const std::u16string command = u"\"P:\\Yarv.exe\"" + (tail.empty() ? u"" : u" " + platform::to_utf16(tail));
  return disk_fixture::RunHeadless(
      script,
      [command] {
        CYarvApp app;
        app.SetProgramPath(u"P:\\Yarv.exe");
        app.SetCommandLine(command);
        app.InitInstance();
      },
      [&](platform::ui::DriverOptions& o) {
        if (!screenshots.empty()) o.screenshots_dir = screenshots;
      });
}

void YarvPc::Boot() {
  if (booted_) return;
  pc_.Boot();
  booted_ = true;
}

std::string YarvPc::VolumeD(const std::string& name) {
  platform::fs::ReleaseAllDrivers();
  const uint64_t m = sector_size_ / 512;
  return pc_.ExtractVolume(1, kDStart / m, kDCount / m, name);
}

}  // namespace yarv_fixture
