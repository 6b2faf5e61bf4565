// Copy-on-write snapshots of a machine's volumes, with other real processes
// of the machine writing the volume: the snapshot must read, byte for byte,
// what the volume held when it was taken (cmp, then ntfscat or mtype on a
// dump of it), its side store must hold exactly the blocks changed since, and
// nothing may stay behind in the temporary folder, even when the process
// holding the snapshot is killed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/fs_fixture.h"
#include "platform/core/error.h"
#include "platform/core/snapshot_table.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shadow_copy.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"

using fstest::Quote;

namespace {

constexpr uint64_t kMiB = 1ull << 20;

struct Record {
  uint64_t owner, device, inode, offset, length;
  uint32_t store_fd, map_fd;
};

// The records of DIR/snapshots.table in use, as the file says.
std::vector<Record> TableRecords(const std::string& folder, uint64_t* in_use = nullptr) {
  auto bytes = fstest::ReadHostFile(folder + "/snapshots.table");
  std::vector<Record> out;
  if (bytes.size() < 4096) return out;
  if (in_use) std::memcpy(in_use, bytes.data() + 8, 8);
  for (size_t at = 64; at + 64 <= 4096; at += 64) {
    Record r {};
    std::memcpy(&r.owner, bytes.data() + at, 8);
    std::memcpy(&r.device, bytes.data() + at + 8, 8);
    std::memcpy(&r.inode, bytes.data() + at + 16, 8);
    std::memcpy(&r.offset, bytes.data() + at + 24, 8);
    std::memcpy(&r.length, bytes.data() + at + 32, 8);
    std::memcpy(&r.store_fd, bytes.data() + at + 40, 4);
    std::memcpy(&r.map_fd, bytes.data() + at + 44, 4);
    if (r.owner) out.push_back(r);
  }
  return out;
}

// Size of a snapshot's side store, through its owner's descriptor; -1 when gone.
int64_t SideStoreBytes(const Record& r) {
  struct stat st {};
  std::string path = "/proc/" + std::to_string(r.owner) + "/fd/" + std::to_string(r.store_fd);
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

// 4 KiB blocks (from the start of the files) in which two equal-sized files differ.
uint64_t DifferingBlocks(const std::string& a, const std::string& b) {
  auto x = fstest::ReadHostFile(a), y = fstest::ReadHostFile(b);
  EXPECT_EQ(x.size(), y.size());
  uint64_t n = 0;
  for (size_t at = 0; at < x.size() && at < y.size(); at += 4096) {
    size_t len = std::min<size_t>(4096, x.size() - at);
    if (std::memcmp(x.data() + at, y.data() + at, len) != 0) ++n;
  }
  return n;
}

// True once `pid` has ended (gone, or a zombie whose files are closed).
bool Dead(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return true;
  size_t close = stat.rfind(") ");
  return close == std::string::npos || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}

std::string Repeated(const std::string& text) {
  std::string body;
  while (body.size() < 40000) body += text;
  return body;
}

struct FileSystemCase {
  const char* name;
  const char* type;  // MBR partition type
  const char* cat;   // prints a file of the partition image $1, name $2
};

class Snapshot : public ::testing::TestWithParam<FileSystemCase> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(platform::machine::CreateMachineFolder(folder(), &error)) << error;
    platform::storage::ResetMountManager();
    ::mkdir(temp().c_str(), 0700);
  }

  void TearDown() override {
    platform::fs::ReleaseAllDrivers();
    platform::storage::ResetMountManager();
    platform::machine::SetCurrent(nullptr);
    platform::registry::CloseLiveRegistry();
  }

  // Disk 0 with one partition from 1 MiB on, formatted as the case says; opened here.
  void make_volume(const FileSystemCase& fs) {
    platform::machine::DiskConfig d;
    d.number = 0;
    d.size = 65 * kMiB;
    std::string error;
    ASSERT_TRUE(platform::machine::AddDiskToMachine(folder(), d, &error)) << error;
    auto r = fstest::Run("echo 'start=2048, type=" + std::string(fs.type) + "' | sfdisk -q " + Quote(image()));
    ASSERT_EQ(r.status, 0) << r.output;
    if (std::string(fs.name) == "NTFS") {
      std::string fresh = dir.file("ntfs.fresh");
      ASSERT_TRUE(fstest::MakeNtfsImage(fresh, 64 * kMiB, 512, "Snap"));
      r = fstest::Run("dd if=" + Quote(fresh) + " of=" + Quote(image()) +
                      " bs=1M seek=1 conv=notrunc,sparse status=none");
    } else {
      r = fstest::Run("mkfs.fat -F 32 -s 1 -n SNAP --offset=2048 " + Quote(image()) + " 65536 >/dev/null");
    }
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(platform::machine::OpenMachine(folder(), &error)) << error;
    platform::storage::EnsureMounted();
    for (auto& v : platform::storage::MountedVolumes())
      if (v.disk_number == 0) volume = v;
    ASSERT_TRUE(volume.device && volume.letter) << "disk 0 has no lettered volume";
    letter = std::string(1, static_cast<char>(volume.letter));
  }

  // Runs the helper as another process of the machine, with its own temporary folder.
  fstest::CommandResult helper(const std::string& args) {
    return fstest::Run("TMPDIR=" + Quote(temp()) + " " + Quote(FS_SNAPSHOT_HELPER) + " " + Quote(folder()) + " " + args);
  }

  std::string part(const std::string& name) {
    std::string out = dir.file(name);
    auto r = fstest::Run("dd if=" + Quote(image()) + " of=" + Quote(out) + " bs=1M skip=1 status=none");
    EXPECT_EQ(r.status, 0) << r.output;
    return out;
  }

  std::string dump(platform::BlockDevice& device, const std::string& name) {
    std::vector<uint8_t> bytes(device.size());
    EXPECT_TRUE(device.read_at(0, bytes.data(), bytes.size())) << GetLastError();
    std::string out = dir.file(name);
    fstest::WriteHostFile(out, bytes);
    return out;
  }

  std::string cat(const FileSystemCase& fs, const std::string& image_file, const std::string& name) {
    auto r = fstest::Run("set -- " + Quote(image_file) + " " + Quote(name) + "; " + fs.cat);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }

  bool temp_is_empty() const {
    return std::filesystem::is_empty(temp());
  }

  std::string folder() const { return dir.file("pc"); }
  std::string image() const { return folder() + "/disk0.img"; }
  std::string temp() const { return dir.file("tmp"); }

  fstest::ScratchDir dir;
  platform::storage::MountedVolume volume;
  std::string letter;
};

TEST_P(Snapshot, KeepsWhatAnotherProcessChangedAsItWas) {
  const auto& fs = GetParam();
  make_volume(fs);
  if (HasFatalFailure()) return;
  auto r = helper("write " + letter + " keep.txt old-");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string before = part("before.part");

  DWORD e = 0;
  int n = platform::fs::CreateShadowCopy(platform::to_utf16(letter + ":"), &e);
  ASSERT_GT(n, 0) << e;
  auto snap = platform::TakeSnapshot(volume.device, &e);
  ASSERT_TRUE(snap) << e;
  ASSERT_EQ(TableRecords(folder()).size(), 2u);
  for (auto& rec : TableRecords(folder())) EXPECT_EQ(SideStoreBytes(rec), 0) << "taking a snapshot copies nothing";

  r = helper("write " + letter + " keep.txt new-");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string after = part("after.part");
  ASSERT_NE(fstest::Run("cmp -s " + Quote(before) + " " + Quote(after)).status, 0) << "the helper changed nothing";

  // The snapshot is the volume as it was, byte for byte, and readable so by
  // tools that did not write it.
  std::string frozen = dump(*snap, "snap.part");
  r = fstest::Run("cmp " + Quote(before) + " " + Quote(frozen));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(cat(fs, frozen, "keep.txt"), Repeated("old-"));
  EXPECT_EQ(cat(fs, after, "keep.txt"), Repeated("new-"));
  // The shadow copy serves the old file through the file API.
  std::u16string old_path = platform::fs::ShadowCopyDeviceName(n) + u"\\keep.txt";
  HANDLE h = CreateFileW(old_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  std::string text(50000, '\0');
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, text.data(), static_cast<DWORD>(text.size()), &got, nullptr));
  CloseHandle(h);
  EXPECT_EQ(text.substr(0, got), Repeated("old-"));

  // Each side store holds the changed blocks and not much else: the blocks
  // that differ now, and the few the file system changed and then changed
  // back (the free count, the dirty flag, a freed and reallocated cluster's
  // table entries), which the snapshot had to keep all the same. The exact
  // count is the next test's.
  const int64_t changed = static_cast<int64_t>(DifferingBlocks(before, after) * 4096);
  for (auto& rec : TableRecords(folder())) {
    EXPECT_GE(SideStoreBytes(rec), changed);
    EXPECT_LE(SideStoreBytes(rec), changed + 4 * 4096);
    EXPECT_EQ(SideStoreBytes(rec) % 4096, 0);
  }

  EXPECT_TRUE(platform::fs::ReleaseShadowCopy(n));
  snap.reset();
  uint64_t in_use = 99;
  EXPECT_TRUE(TableRecords(folder(), &in_use).empty());
  EXPECT_EQ(in_use, 0u);
  EXPECT_TRUE(temp_is_empty());
}

TEST_P(Snapshot, SideStoreHoldsOnlyTheChangedBlocks) {
  const auto& fs = GetParam();
  make_volume(fs);
  if (HasFatalFailure()) return;
  std::string before = part("before.part");
  DWORD e = 0;
  auto snap = platform::TakeSnapshot(volume.device, &e);
  ASSERT_TRUE(snap) << e;
  ASSERT_EQ(TableRecords(folder()).size(), 1u);
  const Record rec = TableRecords(folder())[0];
  // Writes that start and end inside blocks, one across a block boundary, one
  // that rewrites bytes already saved, and one that writes what is there.
  const uint64_t at = volume.offset;
  for (std::string args : {std::to_string(at + 40000 * 512) + " 100 7", std::to_string(at + 30 * kMiB + 4000) + " 200 9",
                           std::to_string(at + 40000 * 512 + 50) + " 10 8", std::to_string(at + 50 * kMiB) + " 8192 0"}) {
    auto r = helper("raw 0 " + args);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::string after = part("after.part");
  EXPECT_EQ(DifferingBlocks(before, after), 3u);
  EXPECT_EQ(SideStoreBytes(rec), 3 * 4096);
  auto r = fstest::Run("cmp " + Quote(before) + " " + Quote(dump(*snap, "snap.part")));
  EXPECT_EQ(r.status, 0) << r.output;
  snap.reset();
  EXPECT_EQ(SideStoreBytes(rec), -1);
  EXPECT_TRUE(temp_is_empty());
}

TEST_P(Snapshot, GoesWithTheProcessThatHeldIt) {
  const auto& fs = GetParam();
  make_volume(fs);
  if (HasFatalFailure()) return;
  platform::fs::ReleaseAllDrivers();
  std::string ready = dir.file("ready");
  auto started = fstest::Run("TMPDIR=" + Quote(temp()) + " " + Quote(FS_SNAPSHOT_HELPER) + " " + Quote(folder()) +
                             " hold " + letter + " " + Quote(ready) + " >/dev/null 2>&1 & echo $!");
  pid_t holder = std::stoi(started.output);
  for (int waited = 0; !std::filesystem::exists(ready) && waited < 2000; ++waited) usleep(10000);
  ASSERT_TRUE(std::filesystem::exists(ready)) << "the holder never took its snapshot";
  ASSERT_EQ(TableRecords(folder()).size(), 1u);
  const Record rec = TableRecords(folder())[0];
  EXPECT_EQ(rec.owner, static_cast<uint64_t>(holder));

  auto r = helper("raw 0 " + std::to_string(volume.offset + 20 * kMiB) + " 4096 5");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(SideStoreBytes(rec), 4096);
  EXPECT_TRUE(temp_is_empty()) << "the side store has no name in the temporary folder";

  ::kill(holder, SIGKILL);
  for (int waited = 0; !Dead(holder) && waited < 500; ++waited) usleep(10000);
  ASSERT_TRUE(Dead(holder));
  EXPECT_TRUE(temp_is_empty());
  // Writers go on past the dead snapshot, and the next snapshot sweeps its record.
  r = helper("raw 0 " + std::to_string(volume.offset + 21 * kMiB) + " 4096 6");
  ASSERT_EQ(r.status, 0) << r.output;
  DWORD e = 0;
  int n = platform::fs::CreateShadowCopy(platform::to_utf16(letter + ":"), &e);
  ASSERT_GT(n, 0) << e;
  uint64_t in_use = 0;
  auto records = TableRecords(folder(), &in_use);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].owner, static_cast<uint64_t>(getpid()));
  EXPECT_EQ(in_use, 1u);
  EXPECT_TRUE(platform::fs::ReleaseShadowCopy(n));
  EXPECT_TRUE(temp_is_empty());
}

INSTANTIATE_TEST_SUITE_P(FileSystems, Snapshot,
                         ::testing::Values(FileSystemCase{"NTFS", "7", "ntfscat \"$1\" \"$2\""},
                                           FileSystemCase{"FAT32", "c", "mtype -i \"$1\" \"::/$2\""}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
