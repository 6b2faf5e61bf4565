// FormatEx and SHFormatDrive on simulated disks, checked by blkid, fsck.fat and ntfsfix.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "fs/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/fs/file_api.h"
#include "platform/fs/boot/volume_boot_code.h"
#include "platform/fs/formatter.h"
#include "platform/machine/machine.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"

using fstest::PartitionSpec;
using fstest::SimulatedDisk;

namespace {

struct Report {
  std::vector<DWORD> percents;
  int done_calls = 0;
  bool success = false;
  bool cancel_at_first_progress = false;
};
Report* g_report = nullptr;

BOOLEAN Callback(DWORD command, DWORD, PVOID info) {
  if (command == FMIFS_PROGRESS) {
    g_report->percents.push_back(*static_cast<DWORD*>(info));
    if (g_report->cancel_at_first_progress) return 0;
  } else if (command == FMIFS_DONE) {
    g_report->done_calls++;
    g_report->success = *static_cast<BOOLEAN*>(info) != 0;
  }
  return 1;
}

Report Format(const std::u16string& root, const std::u16string& fs, bool quick, DWORD cluster = 0,
              bool cancel = false) {
  Report r;
  r.cancel_at_first_progress = cancel;
  g_report = &r;
  std::u16string root_copy = root, fs_copy = fs, label = u"";
  FormatEx(root_copy.data(), FMIFS_FIXED_MEDIA, fs_copy.data(), label.data(), quick ? TRUE : FALSE, cluster,
           Callback);
  g_report = nullptr;
  return r;
}

// Fills a partition with a pattern so a format that leaves old bytes behind shows.
void Dirty(SimulatedDisk& disk, size_t index) {
  auto& v = disk.volume(index);
  std::vector<uint8_t> junk(1 << 20, 0xA5);
  for (uint64_t off = 0; off < v.length; off += junk.size()) ASSERT_TRUE(v.device->write_at(off, junk.data(), junk.size()));
}

std::string Blkid(const std::string& image) {
  auto r = fstest::Run("blkid -p -o value -s TYPE " + fstest::Quote(image));
  std::string out = r.output;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

struct FormatCase {
  uint32_t sector;
  const char16_t* fs;
  uint64_t size;
  bool quick;
  DWORD cluster;
  const char* blkid_type;
  const char* checker;  // command prefix that must exit 0
};

class FormatBySector : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatBySector, FormattedVolumeIsRecognisedAndChecksClean) {
  const auto& c = GetParam();
  SimulatedDisk disk({{u'E', c.size, "RAW", ""}}, c.sector);
  if (c.size <= (80ull << 20)) Dirty(disk, 0);
  Report r = Format(u"E:\\", c.fs, c.quick, c.cluster);
  ASSERT_EQ(r.done_calls, 1);
  ASSERT_TRUE(r.success);
  ASSERT_FALSE(r.percents.empty());
  EXPECT_EQ(r.percents.back(), 100u);
  for (size_t i = 1; i < r.percents.size(); ++i) EXPECT_GE(r.percents[i], r.percents[i - 1]) << "percent goes up";
  std::string image = disk.extract(0, "e.img");
  EXPECT_EQ(Blkid(image), c.blkid_type);
  auto check = fstest::Run(std::string(c.checker) + " " + fstest::Quote(image));
  EXPECT_EQ(check.status, 0) << check.output;
  if (std::u16string(c.fs) == u"NTFS") {
    // The published table now says NTFS, and files can be written at once.
    HANDLE h = CreateFileW(u"E:\\after-format.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(h);
    DWORD spc = 0, bps = 0, fc = 0, tc = 0;
    ASSERT_TRUE(GetDiskFreeSpaceW(u"E:\\", &spc, &bps, &fc, &tc));
    EXPECT_EQ(bps, c.sector);
    if (c.cluster) {
      EXPECT_EQ(spc * bps, c.cluster);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FormatBySector,
    ::testing::Values(FormatCase{512, u"NTFS", 64ull << 20, true, 0, "ntfs", "ntfsfix -n"},
                      FormatCase{4096, u"NTFS", 64ull << 20, true, 8192, "ntfs", "ntfsfix -n"},
                      FormatCase{512, u"NTFS", 32ull << 20, false, 4096, "ntfs", "ntfsfix -n"},
                      FormatCase{512, u"FAT32", 64ull << 20, true, 0, "vfat", "fsck.fat -n"},
                      FormatCase{4096, u"FAT32", 300ull << 20, true, 0, "vfat", "fsck.fat -n"},
                      FormatCase{512, u"FAT32", 80ull << 20, false, 1024, "vfat", "fsck.fat -n"},
                      FormatCase{512, u"FAT", 12ull << 20, true, 0, "vfat", "fsck.fat -n"},
                      FormatCase{4096, u"FAT", 64ull << 20, true, 0, "vfat", "fsck.fat -n"}));

// The boot code the system's own format gives a volume since Windows Vista,
// which starts BOOTMGR: NTFS bytes 80-4,607 (and the backup boot sector's
// share of them), FAT32 its sector 0 around the tool's parameter block, the
// continuation in sector 12 and the backup boot sector the same, FAT16 its
// sector 0 around the tool's parameter block; the tools' checks stay clean. Volumes of 4096-byte sectors and a PC running Windows XP
// keep the tool's own stub. (Started in QEMU by the clone's boot test.)
TEST(Formatter, BootCodeStartsTheBootManager) {
  struct Case {
    uint32_t sector;
    const char16_t* fs;
    const char* os_major;  // null: no machine open
    bool boot_code;
    const char* checker;
  } cases[] = {{512, u"NTFS", nullptr, true, "ntfsfix -n"},     {512, u"FAT32", "6", true, "fsck.fat -n"},
               {4096, u"NTFS", nullptr, false, "ntfsfix -n"},   {4096, u"FAT32", nullptr, false, "fsck.fat -n"},
               {512, u"NTFS", "5", false, "ntfsfix -n"},        {512, u"FAT32", "5", false, "fsck.fat -n"},
               {512, u"FAT", "6", true, "fsck.fat -n"},         {512, u"FAT", nullptr, true, "fsck.fat -n"},
               {512, u"FAT", "5", false, "fsck.fat -n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sector) + " " + platform::to_utf8(c.fs) + " " + (c.os_major ? c.os_major : "-"));
    fstest::ScratchDir machine;
    if (c.os_major) {
      std::ofstream(machine.file("machine.ini")) << "[os]\nmajor = " << c.os_major << "\nminor = 1\n";
      std::string error;
      ASSERT_TRUE(platform::machine::OpenMachine(machine.path(), &error)) << error;
    }
    SimulatedDisk disk({{u'E', 300ull << 20, "RAW", ""}}, c.sector);
    Report r = Format(u"E:\\", c.fs, true);
    platform::machine::SetCurrent(nullptr);
    ASSERT_TRUE(r.success);
    const std::string image = disk.extract(0, "e.img");
    auto check = fstest::Run(std::string(c.checker) + " " + fstest::Quote(image));
    EXPECT_EQ(check.status, 0) << check.output;
    std::ifstream in(image, std::ios::binary);
    std::string bytes(16 * c.sector, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    auto has = [&](size_t at, const uint8_t* code, size_t n) {
      return bytes.compare(at, n, std::string(reinterpret_cast<const char*>(code), n)) == 0;
    };
    if (std::u16string(c.fs) == u"NTFS") {
      EXPECT_EQ(has(kNtfsBootCodeOffset, NtfsBootCodeTemplate, sizeof NtfsBootCodeTemplate), c.boot_code);
      // The backup boot sector, after the last counted sector, agrees with the first.
      uint64_t total = 0;
      for (int i = 0; i < 8; ++i) total |= uint64_t{static_cast<uint8_t>(bytes[0x28 + i])} << (8 * i);
      std::string backup(c.sector, '\0');
      in.seekg(static_cast<std::streamoff>(total * c.sector));
      in.read(backup.data(), static_cast<std::streamsize>(backup.size()));
      EXPECT_EQ(backup.substr(0, 512), bytes.substr(0, 512));
    } else if (std::u16string(c.fs) == u"FAT") {
      ASSERT_EQ(bytes.substr(54, 8), "FAT16   ") << "the tool made FAT16";
      EXPECT_EQ(has(kFat16ParameterBlockEnd, Fat16BootmgrTemplate + kFat16ParameterBlockEnd,
                    512 - kFat16ParameterBlockEnd),
                c.boot_code);
      if (c.boot_code) EXPECT_TRUE(has(0, Fat16BootmgrTemplate, 3)) << "the jump into the code";
      EXPECT_EQ(bytes.substr(0, 512).find("BOOTMGR    ") != std::string::npos, c.boot_code) << "the loader it seeks";
    } else {
      EXPECT_EQ(has(kFat32ParameterBlockEnd, Fat32BootTemplate + kFat32ParameterBlockEnd, 512 - kFat32ParameterBlockEnd),
                c.boot_code);
      EXPECT_EQ(has(kFat32ContinuationSector * c.sector, Fat32BootContinuation, sizeof Fat32BootContinuation),
                c.boot_code);
      EXPECT_EQ(bytes.substr(6 * c.sector, c.sector), bytes.substr(0, c.sector)) << "the backup boot sector";
    }
  }
}

TEST(Formatter, FailuresAreReportedInTheDoneReport) {
  SimulatedDisk disk({{u'E', 16ull << 20, "RAW", ""}, {u'F', 48ull << 20, "RAW", ""}});
  struct Case {
    const char* what;
    const char16_t* root;
    const char16_t* fs;
    DWORD cluster;
    bool cancel;
  } cases[] = {
      {"no such drive", u"Q:\\", u"NTFS", 0, false},
      {"not a root", u"E:\\folder", u"NTFS", 0, false},
      {"unknown file system", u"E:\\", u"EXT4", 0, false},
      {"cluster size not a power of two", u"E:\\", u"NTFS", 3000, false},
      {"cluster smaller than a sector", u"E:\\", u"NTFS", 256, false},
      {"volume too small for FAT32", u"E:\\", u"FAT32", 0, false},
      {"too few clusters for FAT32", u"F:\\", u"FAT32", 32768, false},
      {"cancelled by the callback", u"F:\\", u"NTFS", 0, true},
  };
  for (auto& c : cases) {
    Report r = Format(c.root, c.fs, true, c.cluster, c.cancel);
    EXPECT_EQ(r.done_calls, 1) << c.what;
    EXPECT_FALSE(r.success) << c.what;
  }
  // A locked volume is not touched.
  platform::fs::SetVolumeLockQuery([&](const std::u16string& guid) { return guid == disk.volume(1).guid_path; });
  Report r = Format(u"F:\\", u"NTFS", true);
  platform::fs::SetVolumeLockQuery(nullptr);
  EXPECT_FALSE(r.success);
  uint8_t boot[512];
  ASSERT_TRUE(disk.volume(1).device->read_at(0, boot, sizeof boot));
  EXPECT_NE(std::memcmp(boot + 3, "NTFS", 4), 0) << "a locked volume keeps its bytes";
}

// A device whose writes fail past a point, as a disk with bad sectors does.
class FailingDevice : public fstest::PassThroughDevice {
 public:
  using PassThroughDevice::PassThroughDevice;
  bool write_at(uint64_t o, const void* b, size_t n) override {
    if (o + n > 4 << 20) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    return PassThroughDevice::write_at(o, b, n);
  }
};

TEST(Formatter, WriteFaultFailsTheFormat) {
  SimulatedDisk disk({{u'G', 48ull << 20, "RAW", ""}});
  disk.edit(0).device = std::make_shared<FailingDevice>(disk.volume(0).device);
  disk.publish();
  Report r = Format(u"G:\\", u"NTFS", true);
  EXPECT_EQ(r.done_calls, 1);
  EXPECT_FALSE(r.success);
}

TEST(Formatter, ShellFormatDriveMakesNtfs) {
  SimulatedDisk disk({{u'H', 32ull << 20, "RAW", ""}});
  Dirty(disk, 0);
  EXPECT_EQ(SHFormatDrive(nullptr, 'H' - 'A', SHFMT_ID_DEFAULT, SHFMT_OPT_FULL), SHFMT_ID_DEFAULT);
  std::string image = disk.extract(0, "h.img");
  EXPECT_EQ(Blkid(image), "ntfs");
  EXPECT_EQ(fstest::Run("ntfsfix -n " + fstest::Quote(image)).status, 0);
  EXPECT_EQ(SHFormatDrive(nullptr, 'Z' - 'A', SHFMT_ID_DEFAULT, 0), SHFMT_ERROR);
}

}  // namespace
