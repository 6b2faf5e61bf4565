// The layers meet through seams filled at start-up; these tests go through the
// public calls of the upper layer and check the effect with outside tools.
#include <gtest/gtest.h>

#include "platform/fs/shell_namespace.h"

#include <fstream>

#include "disk/fixture_images.h"
#include "platform/core/error.h"
#include "platform/fs/file_api.h"
#include "platform/process/privilege.h"
#include "platform/process/process.h"
#include "platform/process/system_info.h"
#include "platform/process/thread.h"
#include "platform/registry/empty_hive.h"
#include "platform/registry/registry.h"
#include "platform/startup/startup.h"
#include "platform/storage/ioctl.h"
#include "platform/ui/message_box.h"

namespace {

using disk_fixture::Part;
using disk_fixture::SimulatedPc;

void SetBackupRestore(bool enable) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  for (const WCHAR* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid));
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  }
  CloseHandle(token);
}

bool WriteSimulatedFile(const std::u16string& path, const std::vector<BYTE>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  return CloseHandle(file) && ok;
}

class StartupTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    uint32_t sector = GetParam();
    pc_.AddDisk({.number = 0, .sizeBytes = 96ull << 20, .sectorSize = sector});
    uint64_t start = (1u << 20) / sector;
    count_ = (94ull << 20) / sector;
    start_ = start;
    pc_.WriteMbr(0, {Part{.start = start, .count = count_, .mbrType = 0x07, .active = true, .fs = "ntfs"}});
    pc_.Boot();
    platform::startup::ConnectLayers();
  }
  SimulatedPc pc_;
  uint64_t start_ = 0;
  uint64_t count_ = 0;
};

// An offline hive on the simulated C: is loaded only with the backup and
// restore privileges, edited through the registry calls, and written back into
// the NTFS volume on unload, where ntfscat and hivexget find the new value.
TEST_P(StartupTest, OfflineHiveOnASimulatedVolumeRoundTrips) {
  ASSERT_TRUE(WriteSimulatedFile(u"C:\\HIVE.DAT", platform::registry::BuildEmptyHive({.root_name = "SYSTEM"})));

  SetBackupRestore(false);
  EXPECT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, u"OFFLINE", u"C:\\HIVE.DAT"), static_cast<LONG>(ERROR_PRIVILEGE_NOT_HELD));

  SetBackupRestore(true);
  ASSERT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, u"OFFLINE", u"C:\\HIVE.DAT"), ERROR_SUCCESS);
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"OFFLINE\\Setup", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  const char16_t answer[] = u"forty-two";
  ASSERT_EQ(RegSetValueExW(key, u"Answer", 0, REG_SZ, reinterpret_cast<const BYTE*>(answer), sizeof(answer)),
            ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ASSERT_EQ(RegUnLoadKeyW(HKEY_LOCAL_MACHINE, u"OFFLINE"), ERROR_SUCCESS);
  SetBackupRestore(false);

  std::string volume = pc_.ExtractVolume(0, start_, count_, "c.img");
  std::string hive = pc_.folder() + "/hive-out.dat";
  ASSERT_EQ(disk_fixture::Shell("ntfscat " + volume + " HIVE.DAT > " + hive), 0);
  std::string value;
  ASSERT_EQ(disk_fixture::Shell("hivexget " + hive + " '\\Setup' Answer", &value), 0);
  EXPECT_EQ(value, "forty-two\n");
}

// The file and folder choosers of the window layer see the simulated files.
TEST_P(StartupTest, ChoosersSeeSimulatedFiles) {
  ASSERT_TRUE(WriteSimulatedFile(u"C:\\seen.txt", {'x'}));
  const auto& seam = platform::ui::shell_seam();
  ASSERT_TRUE(seam.exists);
  EXPECT_TRUE(seam.exists(u"C:\\seen.txt"));
  EXPECT_FALSE(seam.exists(u"C:\\missing.txt"));
  auto* list = seam.make_item_list(u"C:\\seen.txt");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(seam.path_of_item_list(list), u"C:\\seen.txt");
  CoTaskMemFree(list);  // item lists live in the task allocator, as the shell's do
}

INSTANTIATE_TEST_SUITE_P(Sectors, StartupTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "S" + std::to_string(info.param); });

}  // namespace
