// Volumes of a machine folder's disks as several users see them. Two real
// processes writing the same volume at once must each see the other's
// changes, so the file system stays sound (fsck.fat, ntfsfix) and holds every
// file both wrote (mtools, ntfsls). A disk unplugged under an open file takes
// no more bytes from anyone (cmp against a copy taken at the unplugging).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/fs_fixture.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
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
    return fstest::Run(helper + " " + machine + " " + n + " a " + count + " " + go + " & a=$!; " + helper + " " +
                       machine + " " + n + " b " + count + " " + go + " & b=$!; sleep 0.2; touch " + go +
                       "; wait $a; ra=$?; wait $b; rb=$?; exit $((ra | rb))");
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

}  // namespace
