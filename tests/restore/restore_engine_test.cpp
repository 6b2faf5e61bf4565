// The restore passes on simulated PCs of 512- and 4096-byte sectors: a
// partition written back from an archive compared by cmp with the source
// and read by mtools and sfdisk; the destination size check; files and
// folders written through the file API and read back by mtools, with
// stored paths that would leave the destination refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disk/fixture_images.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "restore/restore_engine.h"
#include "tools/archive_writer/archive_writer.h"
#include "tests/support/host_archive_files.h"

namespace {

using disk_fixture::Part;
using disk_fixture::Shell;
using restore::ArchiveResult;

std::u16string u16(const std::string& s) { return platform::to_utf16(s); }

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Flushes what the file API wrote into the volume's image.
void Dismount(char16_t letter) {
  std::u16string path = u"\\\\.\\X:";
  path[4] = letter;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  DeviceIoControl(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseHandle(h);
}

class PartitionRestore : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PartitionRestore, WritesTheExtentAndRepairsTheTable) {
  const uint32_t ss = GetParam();
  const uint64_t m = ss / 512;
  disk_fixture::SimulatedPc pc;
  pc.AddDisk({.number = 0, .sizeBytes = 64ull << 20, .sectorSize = ss});
  pc.AddDisk({.number = 1, .sizeBytes = 64ull << 20, .sectorSize = ss});
  const uint64_t start = 2048 / m, count = 60000 / m;  // native sectors
  pc.WriteMbr(0, {Part{.start = start, .count = count, .mbrType = 0x07, .fs = "ntfs", .label = "SOURCE",
                       .files = {{"/HELLO.TXT", "restored from the archive"}, {"/DATA.BIN", disk_fixture::Pattern(200000, 4)}}}});
  // The destination holds other bytes in the same place, type 0x06.
  pc.WriteMbr(1, {Part{.start = start, .count = count, .mbrType = 0x06}});
  pc.WriteBytes(1, start * ss, disk_fixture::Pattern(64 * 1024, 8));
  const std::string source = pc.ExtractVolume(0, start, count, "source.img");
  const auto old_boot = pc.ReadBytes(1, start * ss, 512);

  archive_writer::DiskEntry d;
  d.record.kind = 6;
  d.record.disk_number = 0;
  d.record.drive_text = u"C:";
  d.record.partition_type = 0x07;
  d.record.first_sector = static_cast<int32_t>(start * m);
  d.record.sectors_per_unit = 16065;
  d.record.full_units = static_cast<int32_t>(count * m / 16065);
  d.record.last_unit_sectors = static_cast<int32_t>(count * m % 16065);
  d.source_path = source;
  archive_writer::Options o;
  o.name = "Sys";
  o.compression = restore::Compression::Zlib;
  archive_writer::Written w;
  std::string error;
  ASSERT_TRUE(archive_writer::Write(o, {}, {}, {d}, pc.folder() + "/archive", w, error)) << error;
  pc.Boot();

  test_support::HostArchiveFiles io;
  restore::ArchiveSession s(io);
  ASSERT_EQ(s.ReadCatalog(u16(w.files[0]), 0), ArchiveResult::Ok) << s.error_detail();
  ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok);
  s.set_member_count(1);

  // Too small a destination: refused, nothing written.
  const auto before = file_bytes(pc.Image(1));
  restore::DiskTarget small{.disk = 1, .start_sector = static_cast<int64_t>(start * m),
                            .size_sectors = static_cast<int64_t>(count * m) - 1, .table_sector = 0, .slot = 0};
  restore::RestoreReport refused;
  EXPECT_FALSE(restore::RestoreDiskItem(s, 1, small, {}, refused));
  ASSERT_EQ(refused.errors.size(), 1u);
  EXPECT_NE(refused.errors[0].find("nothing was written"), std::string::npos) << refused.errors[0];
  EXPECT_TRUE(file_bytes(pc.Image(1)) == before);

  restore::DiskTarget target{.disk = 1, .start_sector = static_cast<int64_t>(start * m),
                             .size_sectors = static_cast<int64_t>(count * m), .table_sector = 0, .slot = 0};
  std::vector<std::pair<int, int>> boot_fixes;
  restore::RestoreHooks hooks;
  hooks.register_boot_fix = [&](int32_t disk, int32_t slot) { boot_fixes.emplace_back(disk, slot); };
  restore::RestoreReport report;
  ASSERT_TRUE(restore::RestoreDiskItem(s, 1, target, hooks, report)) << (report.errors.empty() ? "" : report.errors[0]);
  EXPECT_TRUE(report.succeeded());
  EXPECT_EQ(report.done_sectors, static_cast<int64_t>(count * m));
  EXPECT_EQ(boot_fixes, (std::vector<std::pair<int, int>>{{1, 1}}));

  const std::string copy = pc.ExtractVolume(1, start, count, "copy.img");
  std::string out;
  // Every byte but the boot sector's geometry fields (+24..+31), which keep
  // the destination's values.
  EXPECT_EQ(Shell("cmp -n 24 " + source + " " + copy, &out), 0) << out;
  EXPECT_EQ(Shell("cmp -i 32 " + source + " " + copy, &out), 0) << out;
  const auto new_boot = pc.ReadBytes(1, start * ss, 512);
  EXPECT_TRUE(std::equal(old_boot.begin() + 24, old_boot.begin() + 32, new_boot.begin() + 24));
  Shell("ntfscat " + copy + " HELLO.TXT", &out);
  EXPECT_EQ(out, "restored from the archive");
  Shell("ntfscat " + copy + " DATA.BIN", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(200000, 4)) << "DATA.BIN differs";
  // The entry takes the stored type and size, and is the active one.
  Shell("sfdisk -d " + pc.Image(1) + " | grep '^/'", &out);
  EXPECT_NE(out.find("type=7, bootable"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, PartitionRestore, ::testing::Values(512u, 4096u));

TEST(FileRestore, FilesAndFoldersOntoAFatVolume) {
  disk_fixture::SimulatedPc pc;
  pc.AddDisk({.number = 0, .sizeBytes = 64ull << 20, .sectorSize = 512});
  pc.WriteMbr(0, {Part{.start = 2048, .count = 120000, .mbrType = 0x0C, .fs = "fat32", .label = "DATA",
                       .files = {{"/OLD/KEEP.TXT", "already here"}}}});
  const std::string big = disk_fixture::Pattern(3 * 0x7E00 + 77, 5);
  std::vector<archive_writer::FileEntry> files(3);
  files[0].path = u"C:\\data\\note.txt";
  files[0].data.assign(big.begin(), big.begin() + 100);
  files[0].attributes = 0x21;  // read-only, archive
  files[1].path = u"C:\\data\\big.bin";
  files[1].data.assign(big.begin(), big.end());
  files[2].path = u"C:\\..\\escape.txt";
  files[2].data = {'x'};
  std::vector<archive_writer::FolderEntry> folders(4);
  folders[0].components = {u"C:", u"docs"};
  folders[1].components = {u"C:", u"docs", u"sub", u"report.doc"};
  folders[1].is_folder = false;
  folders[1].data.assign(big.begin(), big.begin() + 40000);
  folders[2].components = {u"C:", u"docs", u"..", u"..", u"evil.doc"};
  folders[2].is_folder = false;
  folders[2].data = {'y'};
  folders[3].components = {u"C:", u"docs", u"empty.txt"};
  folders[3].is_folder = false;
  archive_writer::Options o;
  o.name = "Files";
  o.compression = restore::Compression::Rle;
  o.passkey = u"files";
  archive_writer::Written w;
  std::string error;
  ASSERT_TRUE(archive_writer::Write(o, files, folders, {}, pc.folder() + "/archive", w, error)) << error;
  pc.Boot();

  test_support::HostArchiveFiles io;
  restore::ArchiveSession s(io);
  ASSERT_EQ(s.ReadCatalog(u16(w.files[0]), 0), ArchiveResult::Ok) << s.error_detail();
  ASSERT_TRUE(s.VerifyPasskey(u"files"));
  ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok);

  // At the original location: the escaping path is refused, the others land.
  restore::RestoreReport report;
  restore::RestoreFileItems(s, u"", {}, report);
  EXPECT_EQ(report.items_restored, 2);
  EXPECT_EQ(report.items_failed, 1);
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_NE(report.errors[0].find("escape.txt"), std::string::npos);
  // Into a folder: only the leaf names; an existing file asks, No writes ".new".
  std::vector<std::u16string> asked;
  restore::RestoreHooks hooks;
  hooks.ask_overwrite = [&](const std::u16string& path) {
    asked.push_back(path);
    return 2;
  };
  restore::RestoreReport second;
  restore::RestoreFileItems(s, u"C:\\restored", {}, second);
  EXPECT_EQ(second.items_restored, 3);
  restore::RestoreReport third;
  restore::RestoreFileItems(s, u"C:\\restored", hooks, third);
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0], u"C:\\restored\\note.txt");
  EXPECT_EQ(third.items_restored, 3);
  // The folder pass under a new root; ".." in a stored path is refused.
  restore::RestoreReport folder_report;
  restore::RestoreFolderItems(s, u"C:\\tree\\", {}, folder_report);
  EXPECT_EQ(folder_report.items_restored, 2);
  EXPECT_EQ(folder_report.items_failed, 1);
  EXPECT_EQ(GetFileAttributesW(u"C:\\data\\note.txt") & 0x21u, 0x21u);
  Dismount(u'C');

  const std::string volume = pc.ExtractVolume(0, 2048, 120000, "data.img");
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n " + volume, &out), 0) << out;
  Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + volume + " ::/data/big.bin", &out);
  EXPECT_TRUE(out == big) << "big.bin differs: " << out.size() << " bytes";
  Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + volume + " ::/data/note.txt", &out);
  EXPECT_EQ(out, big.substr(0, 100));
  Shell("MTOOLS_SKIP_CHECK=1 mattrib -i " + volume + " ::/data/note.txt", &out);
  EXPECT_NE(out.find("R"), std::string::npos) << out;
  Shell("MTOOLS_SKIP_CHECK=1 mdir -b -i " + volume + " ::/restored", &out);
  EXPECT_NE(out.find("note.txt.new"), std::string::npos) << out;
  Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + volume + " ::/tree/docs/sub/report.doc", &out);
  EXPECT_TRUE(out == big.substr(0, 40000)) << "report.doc differs";
  Shell("MTOOLS_SKIP_CHECK=1 mdir -b -s -i " + volume + " ::/", &out);
  EXPECT_EQ(out.find("::/escape.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("::/restored/escape.txt"), std::string::npos) << out;
  EXPECT_EQ(out.find("evil"), std::string::npos) << out;
  EXPECT_NE(out.find("empty.txt"), std::string::npos) << out;
}

}  // namespace
