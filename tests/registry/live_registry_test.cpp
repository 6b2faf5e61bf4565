// The live registry file: what it holds (checked with iconv), reloads that
// keep every byte, writers in two processes, and damaged or unwritable files.
#include "platform/registry/live_registry.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "registry_test_support.h"

namespace {

using namespace platform::registry;
using regtest::RegistryTest;

using LiveRegistryTest = RegistryTest;

HKEY create(HKEY root, const char16_t* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  return key;
}

void set_sz(HKEY key, const char16_t* name, std::u16string_view text) {
  const auto data = regtest::utf16_bytes(text, false);
  EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
}

// The current control set is a link, so the file holds ControlSet001.
TEST_F(LiveRegistryTest, FileHoldsTheChangesInRegistryEditorText) {
  regtest::TempDir dir;
  const std::string path = dir.file("registry.reg");
  ASSERT_EQ(OpenLiveRegistry(path), ERROR_SUCCESS);
  HKEY key = create(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\MountMgr");
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(key, u"NoAutoMount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  RegCloseKey(key);
  key = create(HKEY_CURRENT_USER, u"software\\WndPos");
  const auto record = regtest::le_bytes(0x0000003200000064ull, 8);
  ASSERT_EQ(RegSetValueExW(key, u"MainWindowPositions", 0, REG_BINARY, record.data(), 8), ERROR_SUCCESS);
  set_sz(key, u"Say \"hi\"", u"C:\\");
  RegCloseKey(key);

  const std::string bytes = regtest::read_bytes(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  // iconv decodes the file on its own; the text must be exactly this.
  const auto decoded = regtest::run("iconv -f UTF-16 -t UTF-8 " + regtest::quote(path));
  ASSERT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.output,
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n[HKEY_CURRENT_USER]\r\n"
            "\r\n[HKEY_CURRENT_USER\\software]\r\n"
            "\r\n[HKEY_CURRENT_USER\\software\\WndPos]\r\n"
            "\"MainWindowPositions\"=hex:64,00,00,00,32,00,00,00\r\n"
            "\"Say \\\"hi\\\"\"=hex(1):43,00,3a,00,5c,00\r\n"
            "\r\n[HKEY_LOCAL_MACHINE]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\MountMgr]\r\n"
            "\"NoAutoMount\"=dword:00000001\r\n"
            "\r\n[HKEY_USERS]\r\n");
  // Written through a temporary file that does not stay behind.
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(LiveRegistryTest, ReloadGivesEveryValueBackAndKeepsTheFileByteForByte) {
  regtest::TempDir dir;
  const std::string path = dir.file("registry.reg");
  ASSERT_EQ(OpenLiveRegistry(path), ERROR_SUCCESS);
  HKEY key = create(HKEY_CURRENT_USER, u"Software\\Reload");
  for (const auto& c : regtest::value_cases())
    ASSERT_EQ(RegSetValueExW(key, c.name.c_str(), 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string written = regtest::read_bytes(path);

  CloseLiveRegistry();
  ASSERT_EQ(OpenLiveRegistry(path), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Reload", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  for (const auto& c : regtest::value_cases()) {
    SCOPED_TRACE(c.label);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(regtest::query(key, c.name, &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.data);
    // Setting what is already there leaves the file alone.
    RegSetValueExW(key, c.name.c_str(), 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
  }
  RegFlushKey(key);
  RegCloseKey(key);
  CloseLiveRegistry();
  EXPECT_EQ(regtest::read_bytes(path), written);
}

TEST_F(LiveRegistryTest, TwoInstancesOnOneFileKeepEachOthersWrites) {
  regtest::TempDir dir;
  const std::string path = dir.file("registry.reg");
  LONG code;
  std::string message;
  auto first = LiveRegistry::open(path, code, message);
  ASSERT_TRUE(first) << message;
  auto second = LiveRegistry::open(path, code, message);
  ASSERT_TRUE(second) << message;
  const KeyPath key = {u"HKEY_LOCAL_MACHINE", u"SOFTWARE", u"Shared"};
  ASSERT_EQ(first->create_key(key, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(first->set_value(key, RegValue{u"FromFirst", REG_DWORD, regtest::le_bytes(1, 4)}), ERROR_SUCCESS);
  // The second instance loaded before those writes; it re-reads before its own.
  ASSERT_EQ(second->set_value(key, RegValue{u"FromSecond", REG_DWORD, regtest::le_bytes(2, 4)}), ERROR_SUCCESS);
  RegValue v;
  EXPECT_EQ(first->get_value(key, u"FromSecond", &v), ERROR_SUCCESS);
  EXPECT_EQ(second->get_value(key, u"FromFirst", &v), ERROR_SUCCESS);
  ASSERT_EQ(first->delete_value(key, u"FromSecond"), ERROR_SUCCESS);
  EXPECT_EQ(second->get_value(key, u"FromSecond", &v), ERROR_FILE_NOT_FOUND);

  auto third = LiveRegistry::open(path, code, message);
  ASSERT_TRUE(third) << message;
  EXPECT_EQ(third->get_value(key, u"FromFirst", &v), ERROR_SUCCESS);
  EXPECT_EQ(v.data, regtest::le_bytes(1, 4));
  EXPECT_EQ(third->get_value(key, u"FromSecond", &v), ERROR_FILE_NOT_FOUND);
}

TEST_F(LiveRegistryTest, ProcessesWritingAtOnceLoseNothing) {
  regtest::TempDir dir;
  const std::string path = dir.file("registry.reg");
  ASSERT_EQ(OpenLiveRegistry(path), ERROR_SUCCESS);
  CloseLiveRegistry();
  constexpr int kWriters = 3, kValues = 30;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = OpenLiveRegistry(path) == ERROR_SUCCESS ? 0 : 100;
      for (int i = 0; i < kValues; ++i) {
        HKEY key = nullptr;
        const std::u16string sub = u"SOFTWARE\\Writers\\W" + platform::to_utf16(std::to_string(w));
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) {
          ++failures;
          continue;
        }
        const std::u16string name = platform::to_utf16("v" + std::to_string(i));
        const DWORD data = static_cast<DWORD>(w * 1000 + i);
        if (RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4)) ++failures;
        RegCloseKey(key);
      }
      ::_exit(failures > 0 ? 1 : 0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ASSERT_EQ(OpenLiveRegistry(path), ERROR_SUCCESS);
  for (int w = 0; w < kWriters; ++w) {
    HKEY key = nullptr;
    const std::u16string sub = u"SOFTWARE\\Writers\\W" + platform::to_utf16(std::to_string(w));
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    for (int i = 0; i < kValues; ++i) {
      const std::u16string name = platform::to_utf16("v" + std::to_string(i));
      DWORD data = 0, size = 4;
      ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size),
                ERROR_SUCCESS)
          << "writer " << w << " value " << i;
      EXPECT_EQ(data, static_cast<DWORD>(w * 1000 + i));
    }
    RegCloseKey(key);
  }
}

TEST_F(LiveRegistryTest, DamagedFileIsRefusedNamedAndNeverOverwritten) {
  regtest::TempDir dir;
  const std::string path = dir.file("registry.reg");
  std::string damaged = "\xFF\xFE";
  for (char c : std::string("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER]\r\n\"a\"=dword:zz\r\n")) {
    damaged.push_back(c);
    damaged.push_back('\0');
  }
  regtest::write_bytes(path, damaged);
  // The registry in use stays as it was.
  HKEY key = create(HKEY_CURRENT_USER, u"Software\\Before");
  RegCloseKey(key);
  std::string message;
  EXPECT_EQ(OpenLiveRegistry(path, &message), ERROR_BADDB);
  EXPECT_EQ(message, path + ": line 3: dword needs 1 to 8 hexadecimal digits");
  EXPECT_EQ(LastRegistryFault(), message);
  EXPECT_EQ(regtest::read_bytes(path), damaged);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Before", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);

  // A file damaged behind an open registry: changes are refused, the file stays.
  const std::string good = dir.file("good.reg");
  ASSERT_EQ(OpenLiveRegistry(good), ERROR_SUCCESS);
  key = create(HKEY_CURRENT_USER, u"Software\\Kept");
  regtest::write_bytes(good, damaged);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_BADDB);
  EXPECT_EQ(LastRegistryFault(), good + ": line 3: dword needs 1 to 8 hexadecimal digits");
  EXPECT_EQ(regtest::read_bytes(good), damaged);
  RegCloseKey(key);
}

TEST_F(LiveRegistryTest, FailedWriteLeavesRegistryAndFileAsTheyWere) {
  regtest::TempDir dir;
  const std::string path = dir.file("registry.reg");
  ASSERT_EQ(OpenLiveRegistry(path), ERROR_SUCCESS);
  HKEY key = create(HKEY_CURRENT_USER, u"Software\\Blocked");
  const std::string before = regtest::read_bytes(path);
  // A folder where the temporary file must go makes the write fail.
  std::filesystem::create_directory(path + ".new");
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_CANTWRITE);
  EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(regtest::read_bytes(path), before);
  std::filesystem::remove(path + ".new");
  EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace
