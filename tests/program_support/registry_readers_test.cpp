// Registry readers on a simulated PC's live registry: the byte reader's mask,
// strings without a terminator, oversized values, keys created on the way,
// and the fatal message when a key can be neither opened nor created.
#include "program_support/registry_readers.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/core/process_exit.h"
#include "platform/registry/registry.h"
#include "platform/ui/headless_driver.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

constexpr const char16_t* kKey = u"SOFTWARE\\Drumtest\\Readers";

void SetValue(const char16_t* name, DWORD type, const std::vector<BYTE>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  RegCloseKey(key);
}

std::vector<BYTE> Dword(uint32_t v) { return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }
std::vector<BYTE> Wide(const std::u16string& text, bool terminated) {
  std::vector<BYTE> bytes;
  for (char16_t c : text) bytes.insert(bytes.end(), {BYTE(c & 0xFF), BYTE(c >> 8)});
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

class RegistryReadersTest : public ::testing::Test {
 protected:
  void SetUp() override { pc_.Boot(); }
  disk_fixture::SimulatedPc pc_;
};

TEST_F(RegistryReadersTest, ByteValuesKeepTheirLowSevenBits) {
  SetValue(u"Count130", REG_DWORD, Dword(130));
  SetValue(u"Count5", REG_DWORD, Dword(5));
  SetValue(u"AllOnes", REG_BINARY, {0xFF, 0x01});
  SetValue(u"Big", REG_DWORD, Dword(0x12345600));
  SetValue(u"Empty", REG_BINARY, {});
  struct Case {
    const char16_t* value;
    int32_t expected;
  } cases[] = {{u"Count130", 2}, {u"Count5", 5}, {u"AllOnes", 127}, {u"Big", 0}, {u"Empty", 0}, {u"Missing", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(ReadRegistryByte(HKEY_LOCAL_MACHINE, kKey, c.value), c.expected) << static_cast<int>(c.value[0]);
}

TEST_F(RegistryReadersTest, StringValues) {
  SetValue(u"Terminated", REG_SZ, Wide(u"C:\\Program Files\\Yarv", true));
  SetValue(u"Bare", REG_SZ, Wide(u"no terminator", false));
  SetValue(u"Huge", REG_SZ, Wide(std::u16string(300, u'x'), true));  // more than the 512-byte buffer
  SetValue(u"Odd", REG_BINARY, {'A', 0, 'B'});
  struct Case {
    const char16_t* value;
    const char16_t* expected;
  } cases[] = {{u"Terminated", u"C:\\Program Files\\Yarv"},
               {u"Bare", u"no terminator"},
               {u"Huge", u""},
               {u"Odd", u"A"},
               {u"Missing", u""}};
  for (const auto& c : cases) EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, c.value), c.expected);
}

TEST_F(RegistryReadersTest, MissingKeysAreCreated) {
  const char16_t* fresh = u"SOFTWARE\\Drumtest\\Created\\Deep";
  HKEY key = nullptr;
  ASSERT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, fresh, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, fresh, u"Anything"), u"");
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, fresh, 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryReadersTest, AKeyThatCannotBeCreatedEndsTheProgramAfterTheMessage) {
  ShellState.messageCaption = u"Drummetworks";
  std::ostringstream log;
  platform::ui::Script script;
  script.answer("ok");
  int exit_code = -1;
  {
    platform::ui::DriverOptions options;
    options.log = &log;
    options.real_grace_ms = 0;
    platform::ui::HeadlessSession session(script, options);
    platform::ScopedExitTrap trap;
    try {
      // A path that starts with a backslash can be neither opened nor created.
      ReadRegistryByte(HKEY_LOCAL_MACHINE, u"\\Bad\\Path", u"Count");
      ADD_FAILURE() << "the reader returned";
    } catch (const platform::ProcessExit& exit) {
      exit_code = exit.code;
    }
    EXPECT_TRUE(session.driver().finished()) << "the message box was never shown";
  }
  EXPECT_EQ(exit_code, 0);
  EXPECT_NE(log.str().find("IDS_regerror"), std::string::npos) << log.str();  // no language file: the key shows
  EXPECT_NE(log.str().find("Drummetworks"), std::string::npos) << log.str();
  ShellState = ShellStateRecord{};
}

}  // namespace
