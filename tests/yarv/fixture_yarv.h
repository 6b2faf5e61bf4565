// A simulated PC for Yarv: disk 0 holds the system volume C: (NTFS), disk 1
// a FAT32 volume D:, more disks as a test adds them; the program folder P:
// is a copy of the staged install folder (its language library English or
// Japanese) whose Yarv.exe carries the test's archive. Runs the program
// headless with a command tail.
#pragma once

#include <string>
#include <vector>

#include "disk/fixture_images.h"
#include "tests/support/temp_folder.h"
#include "tools/archive_writer/archive_writer.h"

namespace yarv_fixture {

inline const std::string kStage = std::string(DRUM_BUILD_DIR) + "/stage/Yarv";

class YarvPc {
 public:
  // The disks of the PC; disk 0 and 1 as above unless `disks` says more.
  explicit YarvPc(uint32_t sector_size = 512);
  disk_fixture::SimulatedPc& pc() { return pc_; }
  test_support::TempFolder& scratch() { return scratch_; }
  // The program folder with the archive appended to Yarv.exe (none: the
  // stand-in as staged). Volume and member files land beside it.
  void Install(const archive_writer::Options& options, const std::vector<archive_writer::FileEntry>& files,
               const std::vector<archive_writer::FolderEntry>& folders,
               const std::vector<archive_writer::DiskEntry>& disks, bool japanese = false);
  void InstallWithoutArchive(bool japanese = false);
  // Makes the PC the current machine (once; Run does it when not yet done).
  void Boot();
  // Boots the PC and runs the program with `tail`.
  test_support::HeadlessRun Run(const platform::ui::Script& script, const std::string& tail = "",
                                const std::string& screenshots = "");
  // D:'s volume bytes as a host file (for mtools).
  std::string VolumeD(const std::string& name = "d.img");
  // Native sectors of D: on disk 1.
  static constexpr uint64_t kDStart = 2048;
  static constexpr uint64_t kDCount = 100000;

 private:
  void CopyStage(bool japanese);
  uint32_t sector_size_;
  disk_fixture::SimulatedPc pc_;
  test_support::TempFolder scratch_;
  bool booted_ = false;
};

// Bytes of a string.
std::vector<uint8_t> Bytes(const std::string& s);

// The selection page at the original place, Start, then Restore Now on the
// progress page: the opening of every restore to where the items came from.
platform::ui::Script RestoreNowAtOriginalPlace();
// The same to a new folder typed on the selection page ("D:\Restored").
platform::ui::Script RestoreNowToFolder(const std::string& folder);

// The machine's log (shut-downs and restarts with their reasons).
std::string MachineLog(YarvPc& y);

// The bytes of `image` as a partition item of the archive (D: of disk 1,
// `start` and `count` in 512-byte sectors).
archive_writer::DiskEntry PartitionOfD(const std::string& image, uint64_t start, uint64_t count, int8_t kind = 5);

}  // namespace yarv_fixture
