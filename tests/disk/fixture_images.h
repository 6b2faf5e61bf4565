// Disk images on a throw-away simulated PC for the disk tests: a temp machine
// folder with machine.ini, sparse disk images of 512- or 4096-byte sectors,
// partition tables written byte by byte here (MBR with an EBR chain, GPT with
// its backup, or none: a superfloppy), and file systems made by mkfs.fat and
// mkntfs with files put in by mtools and ntfscp. Independent readers
// (sfdisk, sgdisk, fdisk -b 4096) check what the tests build.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/ui/headless_driver.h"
#include "tests/support/bmp.h"
#include "tests/support/byte_patterns.h"
#include "tests/support/headless_run.h"
#include "tests/support/shell.h"

namespace disk_fixture {

using test_support::Bmp24;
using test_support::HeadlessRun;
using test_support::RunHeadless;
using test_support::Shell;

// `size` pseudo-random bytes from `seed`, the same on every run.
inline std::string Pattern(size_t size, uint32_t seed) { return test_support::LcgBytes(size, seed); }

// Makes the program folder `folder` (on the host) with the language files
// Resources/001.dll and 081.dll, built from resources/lang the way the build
// makes them, and mounts it on the simulated PC as P:. False when a file
// could not be made.
class SimulatedPc;
bool MountProgramFolder(SimulatedPc& pc, const std::string& folder);

// The partition rows of `fdisk -b SECTOR -l -o COLUMNS image` (the lines
// after the header that names Start and Sectors), each split into its fields.
std::vector<std::vector<std::string>> FdiskRows(const std::string& image, uint32_t sector_size,
                                                const std::string& columns);


std::string Pattern(size_t size, uint32_t seed);

// GPT partition types as text.
inline constexpr const char* kGptBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
inline constexpr const char* kGptEsp = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
inline constexpr const char* kGptMsr = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";
inline constexpr const char* kGptLinux = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
inline constexpr const char16_t* kMsrName = u"Microsoft reserved partition";

// A file to put into a new file system: path inside the volume ("/BOOT/BCD";
// NTFS: the root folder only) and its bytes.
struct VolumeFile {
  std::string path;
  std::string content;
};

// One partition. Positions are native sectors of the disk.
struct Part {
  uint64_t start = 0;
  uint64_t count = 0;
  uint8_t mbrType = 0x07;   // MBR: the type byte (5 or 15 = the extended container)
  bool logical = false;     // MBR: a logical partition inside the extended container
  bool active = false;      // MBR: boot indicator 0x80
  std::string gptType = kGptBasicData;
  std::u16string name{};    // GPT name
  std::string fs{};         // "", "fat16", "fat32", "ntfs"
  std::string label = "TEST";
  std::vector<VolumeFile> files{};
};

struct DiskSpec {
  int number = 0;
  uint64_t sizeBytes = 256ull << 20;
  uint32_t sectorSize = 512;
  platform::machine::BusType bus = platform::machine::BusType::Sata;
  std::string vendor = "ACME";
  std::string product = "Test Disk";
  std::string serial = "SN0001";
  bool removable = false;
  uint64_t cylinders = 0;  // 0 = from the size
  uint32_t tracksPerCylinder = 255;
  uint32_t sectorsPerTrack = 63;
};

// A simulated PC in a temp folder. The test adds disks, writes their tables and
// file systems, then calls Boot() to make it the current machine (the mount
// manager scans it and gives the volumes letters from C:). The clock is virtual.
class SimulatedPc {
 public:
  SimulatedPc();
  ~SimulatedPc();
  SimulatedPc(const SimulatedPc&) = delete;
  SimulatedPc& operator=(const SimulatedPc&) = delete;

  const std::string& folder() const { return folder_; }
  std::string Image(int n) const;
  uint32_t SectorSize(int n) const;

  void AddDisk(const DiskSpec& spec);
  // Protective-free MBR: primaries in the four slots in order, then the logical
  // partitions chained by EBRs inside the first extended container (the first
  // EBR at the container's start, later ones one gap before their partition,
  // the gap being that of the first logical). File systems are made for every
  // part with `fs`.
  void WriteMbr(int n, const std::vector<Part>& parts, uint32_t signature = 0x1234ABCD);
  // Protective MBR, primary header and 128-entry array, backup array and header.
  void WriteGpt(int n, const std::vector<Part>& parts);
  // A file system written straight to sector 0 over the whole disk.
  void WriteSuperfloppy(int n, const std::string& fs, const std::string& label = "FLOPPY",
                        const std::vector<VolumeFile>& files = {});
  // Makes a file system in a scratch file and copies it into the image at
  // `start`. FAT volumes get the OEM name "MSDOS5.0", as the platform's own
  // formatter writes it.
  void MakeFileSystem(int n, uint64_t start, uint64_t count, const std::string& fs, const std::string& label,
                      const std::vector<VolumeFile>& files);

  void WriteBytes(int n, uint64_t byteOffset, const std::vector<uint8_t>& bytes);
  void WriteBytes(int n, uint64_t byteOffset, const std::string& bytes);
  std::vector<uint8_t> ReadBytes(int n, uint64_t byteOffset, size_t length);
  // Sets `key = value` in a section of machine.ini ("disk 0", "os").
  void SetIni(const std::string& section, const std::string& key, const std::string& value);

  // Appends lines (a new section such as "[mount cd]") to machine.ini.
  void AppendIni(const std::string& text);
  // Opens the folder as the current machine; the mount manager scans it.
  void Boot();

  // A host copy of a partition's bytes for ntfs-3g tools and mtools.
  std::string ExtractVolume(int n, uint64_t start, uint64_t count, const std::string& name);

 private:
  std::string folder_;
  std::vector<DiskSpec> disks_;
};

// Reparse data of a link as the system stores it: a junction
// (IO_REPARSE_TAG_MOUNT_POINT) or a symbolic link (IO_REPARSE_TAG_SYMLINK,
// with `flags`: 1 = relative) to `substitute`, shown as `print`; the names in
// the path buffer, each followed by a zero character. `print_offset`, when
// not 0, replaces the print name's offset (damaged data).
inline std::vector<uint8_t> LinkData(uint32_t tag, const std::u16string& substitute, const std::u16string& print,
                                     uint32_t flags = 0, uint16_t print_offset = 0) {
  const size_t path_buffer = tag == 0xA000000C ? 20 : 16;
  std::vector<uint8_t> b(path_buffer, 0);
  for (const auto* name : {&substitute, &print}) {
    for (char16_t c : *name) b.insert(b.end(), {uint8_t(c & 0xFF), uint8_t(c >> 8)});
    b.insert(b.end(), {0, 0});
  }
  auto put = [&](size_t at, size_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, tag, 4);
  put(4, b.size() - 8, 2);
  put(10, substitute.size() * 2, 2);
  put(12, print_offset ? print_offset : (substitute.size() + 1) * 2, 2);
  put(14, print.size() * 2, 2);
  if (path_buffer == 20) put(16, flags, 4);
  return b;
}

// The CRC-32 of GPT headers and entry arrays.
uint32_t Crc32(const uint8_t* data, size_t length);

}  // namespace disk_fixture
