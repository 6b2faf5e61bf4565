// The boot.ini hand-off's RunOnce command on a simulated PC's registry: its
// text for the clone ("/b") and the restore ("/r") with the program quoted
// when its folder holds a blank, its REG_SZ length
// without a terminating zero, and nothing registered when the restore
// program's installation folder is unknown.
#include <gtest/gtest.h>

#include <string>

#include "platform/core/text.h"
#include "platform/registry/registry.h"
#include "program_support/boot_ini_fix.h"
#include "tests/disk/fixture_images.h"

namespace {

constexpr char16_t kRunOnce[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

struct Value {
  bool present = false;
  DWORD type = 0;
  std::u16string text;
  DWORD bytes = 0;
};

Value ReadRunOnce() {
  Value v;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  WCHAR text[300] = {};
  v.bytes = sizeof text;
  v.present = RegQueryValueExW(key, u"YarvBootIni", nullptr, &v.type, reinterpret_cast<LPBYTE>(text), &v.bytes) ==
              ERROR_SUCCESS;
  RegCloseKey(key);
  v.text.assign(text, v.bytes / 2);
  return v;
}

TEST(BootIniFix, RegistersTheCommandForTheNextLogon) {
  disk_fixture::SimulatedPc pc;
  pc.AddDisk(disk_fixture::DiskSpec{.number = 0});
  pc.Boot();
  BootIniFixRegistered = false;
  BootIniFixDriveText = u"D:";
  BootIniFixSlot = 2;
  RegisterBootIniFix(0, 1);
  EXPECT_FALSE(BootIniFixRegistered);
  EXPECT_FALSE(ReadRunOnce().present);

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Corvelware\\Yarv", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string folder = u"C:\\Program Files\\Backup";
  ASSERT_EQ(RegSetValueExW(key, u"InstallationDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                           static_cast<DWORD>((folder.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);

  struct Case {
    int32_t mode, disk;
    const char16_t* expected;
  } cases[] = {// The folder has a blank: the program is quoted, so its tail keeps its layout.
               {0, 1, u"\"C:\\Program Files\\Backup\\Yarv.exe\" /b D: 1 2"},
               {7, 0, u"\"C:\\Program Files\\Backup\\Yarv.exe\" /r D: 0 2"}};
  for (const Case& c : cases) {
    BootIniFixRegistered = false;
    RegisterBootIniFix(c.mode, c.disk);
    EXPECT_TRUE(BootIniFixRegistered);
    const Value v = ReadRunOnce();
    ASSERT_TRUE(v.present);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.text, std::u16string(c.expected));
    EXPECT_EQ(v.bytes, std::u16string(c.expected).size() * 2);  // no terminating zero
  }
}

}  // namespace
