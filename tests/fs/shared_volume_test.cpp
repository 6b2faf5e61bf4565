// Volumes of a machine folder's disks as several users see them. Two real
// processes writing the same volume at once must each see the other's
// changes, so the file system stays sound (fsck.fat, ntfsfix) and holds every
// file both wrote (mtools, ntfsls). A disk unplugged under an open file takes
// no more bytes from anyone (cmp against a copy taken at the unplugging).
// Threads of one process moving bytes on two volumes at once, while a third
// changes both volumes' folders and another process writes one of them, keep
// every byte and both file systems sound.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fs/fs_fixture.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "tests/support/byte_patterns.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"

using fstest::Quote;


namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr int kFilesEach = 300;

class SharedVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(platform::machine::CreateMachineFolder(dir.file("pc"), &error)) << error;
    platform::storage::ResetMountManager();
  }

  void TearDown() override {
    platform::fs::ReleaseAllDrivers();
    platform::storage::ResetMountManager();
    platform::machine::SetCurrent(nullptr);
    platform::registry::CloseLiveRegistry();
  }

  void make_fat32(int n, uint64_t size) {
    add_disk(n, size, "c");
    auto r = fstest::Run("mkfs.fat -F 32 -s 1 -n SHARED --offset=2048 " + Quote(image(n)) + " " +
                 std::to_string((size - kMiB) / 1024) + " >/dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
  }

  // Opens the machine in this process; the letter of disk `n`'s volume.
  char16_t open_here(int n) {
    std::string error;
    EXPECT_TRUE(platform::machine::OpenMachine(folder(), &error)) << error;
    platform::storage::EnsureMounted();
    for (auto& v : platform::storage::MountedVolumes())
      if (v.disk_number == n && v.letter) return v.letter;
    ADD_FAILURE() << "disk " << n << " has no lettered volume";
    return u'?';
  }

  std::string folder() const { return dir.file("pc"); }
  std::string image(int n) const { return folder() + "/disk" + std::to_string(n) + ".img"; }

  // Disk `n` with one MBR partition from 1 MiB on of the given type.
  void add_disk(int n, uint64_t size, const char* type) {
    platform::machine::DiskConfig d;
    d.number = n;
    d.size = size;
    std::string error;
    ASSERT_TRUE(platform::machine::AddDiskToMachine(folder(), d, &error)) << error;
    auto r = fstest::Run("echo 'start=2048, type=" + std::string(type) + "' | sfdisk -q " + Quote(image(n)));
    ASSERT_EQ(r.status, 0) << r.output;
  }

  // The partition's bytes in a file of their own, for tools without an offset option.
  std::string extract(int n, const std::string& name) {
    std::string out = dir.file(name);
    auto r = fstest::Run("dd if=" + Quote(image(n)) + " of=" + Quote(out) + " bs=1M skip=1 status=none");
    EXPECT_EQ(r.status, 0) << r.output;
    return out;
  }

  // Both helpers, let go together; the output of both, and whether both succeeded.
  fstest::CommandResult run_two_writers(int disk) {
    std::string helper = Quote(FS_SHARE_HELPER), machine = Quote(folder()), n = std::to_string(disk),
                count = std::to_string(kFilesEach);
    std::string go = Quote(dir.file("go"));
    return run_two(helper + " files " + machine + " " + n + " a " + count + " " + go,
                   helper + " files " + machine + " " + n + " b " + count + " " + go, go);
  }

  // Two helper command lines started together and let go by creating `go`
  // (unless one of them creates it itself: pass ""); their output, and
  // whether both succeeded.
  fstest::CommandResult run_two(const std::string& a, const std::string& b, const std::string& go) {
    std::string let_go = go.empty() ? "" : "sleep 0.2; touch " + go + "; ";
    return fstest::Run(a + " & a=$!; " + b + " & b=$!; " + let_go + "wait $a; ra=$?; wait $b; rb=$?; exit $((ra | rb))");
  }

  fstest::ScratchDir dir;
};

TEST_F(SharedVolume, TwoWritersKeepFat32Sound) {
  make_fat32(0, 72 * kMiB);

  auto r = run_two_writers(0);
  EXPECT_EQ(r.status, 0) << r.output;

  std::string part = extract(0, "fat.part");
  r = fstest::Run("fsck.fat -n " + Quote(part));
  EXPECT_EQ(r.status, 0) << r.output;
  r = fstest::Run("mdir -b -i " + Quote(part) + " ::/ | grep -c '\\.txt$'");
  EXPECT_EQ(std::stoi(r.output), 2 * kFilesEach) << r.output;
  r = fstest::Run("mtype -i " + Quote(part) + " ::/b-77.txt | head -c 9");
  EXPECT_EQ(r.output, "b-77.txt ");
}

TEST_F(SharedVolume, TwoWritersKeepNtfsSound) {
  add_disk(0, 41 * kMiB, "7");
  std::string fresh = dir.file("ntfs.fresh");
  ASSERT_TRUE(fstest::MakeNtfsImage(fresh, 40 * kMiB, 512, "Shared"));
  auto r = fstest::Run("dd if=" + Quote(fresh) + " of=" + Quote(image(0)) + " bs=1M seek=1 conv=notrunc,sparse status=none");
  ASSERT_EQ(r.status, 0) << r.output;

  r = run_two_writers(0);
  EXPECT_EQ(r.status, 0) << r.output;

  std::string part = extract(0, "ntfs.part");
  r = fstest::Run("ntfsfix -n " + Quote(part));
  EXPECT_EQ(r.status, 0) << r.output;
  r = fstest::Run("ntfsls " + Quote(part) + " | grep -c '\\.txt$'");
  EXPECT_EQ(std::stoi(r.output), 2 * kFilesEach) << r.output;
  r = fstest::Run("ntfscat " + Quote(part) + " a-101.txt | head -c 10");
  EXPECT_EQ(r.output, "a-101.txt ");
}

TEST_F(SharedVolume, UnpluggedDiskTakesNoMoreBytes) {
  make_fat32(0, 72 * kMiB);
  char16_t letter = open_here(0);
  std::u16string path = std::u16string(1, letter) + u":\\open.txt";
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  std::vector<char> bytes(5000, 'x');
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
  auto device = platform::machine::CurrentIfOpen()->disk(0)->device();

  std::string error;
  ASSERT_TRUE(platform::machine::SetDiskAttached(folder(), 0, false, &error)) << error;
  platform::storage::PollDeviceChanges();
  auto r = fstest::Run("cp " + Quote(image(0)) + " " + Quote(dir.file("at-unplug.img")));
  ASSERT_EQ(r.status, 0) << r.output;

  EXPECT_FALSE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
  CloseHandle(h);
  platform::fs::ReleaseAllDrivers();
  // Whoever still holds the disk's device is refused.
  EXPECT_FALSE(device->write_at(0, bytes.data(), 512));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_FALSE(device->read_at(0, bytes.data(), 512));
  EXPECT_FALSE(device->flush());

  r = fstest::Run("cmp " + Quote(image(0)) + " " + Quote(dir.file("at-unplug.img")));
  EXPECT_EQ(r.status, 0) << r.output;
}


// One process replaces the volume through a locked volume handle (as the stick
// writer formats) while another keeps creating files on it. The lock waits
// until the writer has no file open, the writer's opens are refused while the
// lock is held, and afterwards the writer works on the new file system instead
// of writing its old allocation table and folders back over it: fsck.fat finds
// nothing, the new volume's own file is whole (mtype, cmp) and so is every file
// the writer made afterwards.
TEST_F(SharedVolume, RawWriterAndFileWriterKeepFat32Sound) {
  make_fat32(0, 72 * kMiB);
  std::string fresh = dir.file("fresh.vol"), marker = dir.file("marker.bin");
  auto r = fstest::Run("truncate -s " + std::to_string(71 * kMiB) + " " + Quote(fresh) + " && mkfs.fat -F 32 -s 1 -n FRESH " +
                       Quote(fresh) + " >/dev/null && head -c 300000 /dev/urandom > " + Quote(marker) +
                       " && mcopy -i " + Quote(fresh) + " " + Quote(marker) + " ::/MARKER.BIN");
  ASSERT_EQ(r.status, 0) << r.output;

  std::string helper = Quote(FS_SHARE_HELPER), machine = Quote(folder()), go = Quote(dir.file("go")),
              done = Quote(dir.file("done"));
  r = run_two(helper + " keep-writing " + machine + " 0 b " + go + " " + done + " 60 > " + Quote(dir.file("first")),
              helper + " raw " + machine + " 0 " + Quote(fresh) + " " + go + " " + done, go);
  ASSERT_EQ(r.status, 0) << r.output;
  int first = std::stoi(fstest::Run("cat " + Quote(dir.file("first"))).output);

  std::string part = extract(0, "fat.part");
  r = fstest::Run("fsck.fat -n " + Quote(part));
  EXPECT_EQ(r.status, 0) << r.output;
  r = fstest::Run("mtype -i " + Quote(part) + " ::/MARKER.BIN | cmp - " + Quote(marker));
  EXPECT_EQ(r.status, 0) << r.output;
  for (int i : {first, first + 59}) {
    std::string name = "b-" + std::to_string(i) + ".txt";
    r = fstest::Run("mtype -i " + Quote(part) + " ::/" + name + " | head -c " + std::to_string(name.size() + 1));
    EXPECT_EQ(r.output, name + " ") << name;
  }
}

// A lock of a volume fails while another process has a file open on it, and
// succeeds once that file is closed.
TEST_F(SharedVolume, LockFailsWhileAnotherProcessHasAFileOpen) {
  make_fat32(0, 72 * kMiB);
  std::string ready = dir.file("ready"), release = dir.file("release");
  std::string command = Quote(FS_SHARE_HELPER) + " hold " + Quote(folder()) + " 0 open.txt " + Quote(ready) + " " +
                        Quote(release) + " > " + Quote(dir.file("hold.out")) + " 2>&1 & echo $!";
  int pid = std::stoi(fstest::Run(command).output);
  ASSERT_EQ(fstest::Run("for i in $(seq 300); do [ -e " + Quote(ready) + " ] && exit 0; sleep 0.1; done; exit 1").status, 0);

  char16_t letter = open_here(0);
  WCHAR path[] = u"\\\\.\\X:";
  path[4] = letter;
  HANDLE volume = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD returned = 0;
  EXPECT_FALSE(DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  fstest::Run("touch " + Quote(release) + "; while kill -0 " + std::to_string(pid) + " 2>/dev/null; do sleep 0.05; done");
  EXPECT_TRUE(DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr)) << GetLastError();
  // While it is held, the other process cannot open the volume for its files.
  auto r = fstest::Run(Quote(FS_SHARE_HELPER) + " hold " + Quote(folder()) + " 0 late.txt " + Quote(dir.file("r2")) + " " +
                       Quote(release));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("error 5"), std::string::npos) << r.output;
  EXPECT_TRUE(DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
  CloseHandle(volume);
  platform::fs::ReleaseAllDrivers();
  r = fstest::Run("fsck.fat -n " + Quote(extract(0, "fat.part")));
  EXPECT_EQ(r.status, 0) << r.output;
}

// One process reads files of an NTFS volume in small pieces while another
// creates folders and files on it: the reader's open files carry on over the
// fresh view each change gives (cmp against the files put in by ntfscp), and
// the volume stays sound (ntfsfix -n) with every folder (ntfsls).
TEST_F(SharedVolume, NtfsReaderCarriesOnWhileAnotherProcessWrites) {
  add_disk(0, 41 * kMiB, "7");
  std::string fresh = dir.file("ntfs.fresh");
  ASSERT_TRUE(fstest::MakeNtfsImage(fresh, 40 * kMiB, 512, "Shared"));
  std::vector<std::string> names;
  std::string puts;
  for (int i = 0; i < 6; ++i) {
    names.push_back("data" + std::to_string(i) + ".bin");
    puts += "head -c " + std::to_string(200000 + 37 * i) + " /dev/urandom > " + Quote(dir.file(names.back())) +
            " && ntfscp -q " + Quote(fresh) + " " + Quote(dir.file(names.back())) + " " + names.back() + " && ";
  }
  auto r = fstest::Run(puts + "dd if=" + Quote(fresh) + " of=" + Quote(image(0)) +
                       " bs=1M seek=1 conv=notrunc,sparse status=none");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string out = dir.file("out");
  ASSERT_EQ(fstest::Run("mkdir " + Quote(out)).status, 0);

  std::string helper = Quote(FS_SHARE_HELPER), machine = Quote(folder()), go = Quote(dir.file("go"));
  std::string listed;
  for (auto& n : names) listed += " " + n;
  r = run_two(helper + " read " + machine + " 0 " + Quote(out) + " " + go + listed,
              helper + " folders " + machine + " 0 new 40 " + go, "");
  EXPECT_EQ(r.status, 0) << r.output;
  for (auto& n : names) {
    r = fstest::Run("cmp " + Quote(dir.file(n)) + " " + Quote(out + "/" + n));
    EXPECT_EQ(r.status, 0) << n << ": " << r.output;
  }
  // A shadow copy (the migration reads through one) is taken whole, never
  // in the middle of the other process's change: every file reads back from
  // every copy (compared with the files put in by ntfscp).
  std::string go2 = Quote(dir.file("go2"));
  r = run_two(helper + " read-shadow " + machine + " 0 " + Quote(dir.path()) + " " + go2 + " 12" + listed,
              helper + " folders " + machine + " 0 more 60 " + go2, "");
  EXPECT_EQ(r.status, 0) << r.output;
  std::string part = extract(0, "ntfs.part");
  r = fstest::Run("ntfsfix -n " + Quote(part));
  EXPECT_EQ(r.status, 0) << r.output;
  r = fstest::Run("ntfsls " + Quote(part) + " | grep -c '^new-\\|^more-'");
  EXPECT_EQ(r.output, "100\n");
  r = fstest::Run("ntfscat " + Quote(part) + " data3.bin | cmp - " + Quote(dir.file("data3.bin")));
  EXPECT_EQ(r.status, 0) << r.output;
}

// Writes `name` in 64 KiB WriteFiles, then reads it back in 48 KiB ReadFiles
// (pieces that straddle the writes'); false at the first failure or difference.
bool WriteAndReadBack(const std::u16string& name, const std::string& content) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (size_t at = 0; ok && at < content.size(); at += 64 * 1024) {
    const DWORD n = static_cast<DWORD>(std::min<size_t>(64 * 1024, content.size() - at));
    DWORD put = 0;
    ok = WriteFile(h, content.data() + at, n, &put, nullptr) && put == n;
  }
  ok = ok && SetFilePointer(h, 0, nullptr, FILE_BEGIN) == 0;
  std::string back;
  std::vector<char> piece(48 * 1024);
  for (DWORD got = 1; ok && got > 0;) {
    ok = ReadFile(h, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr);
    back.append(piece.data(), got);
  }
  return CloseHandle(h) && ok && back == content;
}

TEST_F(SharedVolume, TransfersOnTwoVolumesAtOnceKeepEveryByte) {
  make_fat32(0, 72 * kMiB);
  add_disk(1, 41 * kMiB, "7");
  std::string fresh = dir.file("ntfs.fresh");
  ASSERT_TRUE(fstest::MakeNtfsImage(fresh, 40 * kMiB, 512, "Shared"));
  auto r = fstest::Run("dd if=" + Quote(fresh) + " of=" + Quote(image(1)) + " bs=1M seek=1 conv=notrunc,sparse status=none");
  ASSERT_EQ(r.status, 0) << r.output;
  const char16_t letters[2] = {open_here(0), open_here(1)};
  auto path = [&](int volume, const std::string& name) {
    std::u16string p{letters[volume], u':', u'\\'};
    for (char c : name) p += static_cast<char16_t>(c);
    return p;
  };
  auto content = [](int volume, int n) { return test_support::LcgBytes(300000 + 4099 * n, static_cast<uint32_t>(7 * volume + n)); };
  constexpr int kBigFiles = 6, kSmallFiles = 60;

  // Another process writes files on the NTFS volume all the while.
  std::string helper = Quote(FS_SHARE_HELPER), go = dir.file("go");
  ASSERT_EQ(fstest::Run("touch " + Quote(go)).status, 0);
  fstest::CommandResult other;
  std::thread process([&] {
    other = fstest::Run(helper + " files " + Quote(folder()) + " 1 p 40 " + Quote(go));
  });
  std::atomic<int> failures{0};
  std::vector<std::thread> movers;
  for (int volume : {0, 1})
    movers.emplace_back([&, volume] {
      for (int n = 0; n < kBigFiles; ++n)
        if (!WriteAndReadBack(path(volume, "BIG" + std::to_string(n) + ".BIN"), content(volume, n))) ++failures;
    });
  // A third thread makes small files and lists the roots on both, between the transfers.
  movers.emplace_back([&] {
    for (int n = 0; n < kSmallFiles; ++n) {
      const int volume = n % 2;
      const std::string text = "small " + std::to_string(n);
      HANDLE h = CreateFileW(path(volume, "S" + std::to_string(n) + ".TXT").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
      DWORD put = 0;
      if (h == INVALID_HANDLE_VALUE || !WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) ||
          !CloseHandle(h))
        ++failures;
      WIN32_FIND_DATAW found;
      HANDLE find = FindFirstFileW(path(volume, "*").c_str(), &found);
      if (find == INVALID_HANDLE_VALUE || !FindClose(find)) ++failures;
    }
  });
  for (auto& t : movers) t.join();
  process.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(other.status, 0) << other.output;
  platform::fs::ReleaseAllDrivers();

  std::string fat = extract(0, "fat.part"), ntfs = extract(1, "ntfs.part");
  r = fstest::Run("fsck.fat -n " + Quote(fat));
  EXPECT_EQ(r.status, 0) << r.output;
  r = fstest::Run("ntfsfix -n " + Quote(ntfs));
  EXPECT_EQ(r.status, 0) << r.output;
  for (int n = 0; n < kBigFiles; ++n) {
    const std::string name = "BIG" + std::to_string(n) + ".BIN";
    r = fstest::Run("mtype -i " + Quote(fat) + " ::/" + name);
    EXPECT_TRUE(r.output == content(0, n)) << name << " differs on FAT";
    r = fstest::Run("ntfscat " + Quote(ntfs) + " " + name);
    EXPECT_TRUE(r.output == content(1, n)) << name << " differs on NTFS";
  }
  r = fstest::Run("mtype -i " + Quote(fat) + " ::/S58.TXT");
  EXPECT_EQ(r.output, "small 58");
  r = fstest::Run("ntfscat " + Quote(ntfs) + " S59.TXT");
  EXPECT_EQ(r.output, "small 59");
  r = fstest::Run("ntfsls " + Quote(ntfs) + " | grep -c '^p-'");
  EXPECT_EQ(r.output, "40\n") << "the other process's files";
}

}  // namespace
