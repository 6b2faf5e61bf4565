// The one-touch-boot service check on a simulated PC: the registry values it
// reads, a stand-in service program that registers its process id, the runs
// it makes and the failure message, timed on the virtual clock.
#include "mainapp/shell/otb_service_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/process/process.h"
#include "platform/process/standins.h"
#include "platform/registry/registry.h"
#include "platform/ui/headless_driver.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using platform::process::ProgramStart;

constexpr const char16_t* kServicePath = u"C:\\Program Files\\Corvelware\\ZvqServ.exe";

void SetValue(const char16_t* key, const char16_t* name, const std::u16string& text) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))),
            ERROR_SUCCESS);
  RegCloseKey(handle);
}

void DeleteValue(const char16_t* key, const char16_t* name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
  RegDeleteValueW(handle, name);
  RegCloseKey(handle);
}

// How the stand-in service behaves.
enum class Service {
  Registers,        // the pending run keeps the start pending; the real start registers its id
  NeverRegisters,   // the real start runs but registers no id
  RegistersNoProcess,  // the real start registers an id no process has
  ClearsPending,    // the pending run removes the start command
};

class OtbServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = pc_.folder();
    fs::create_directories(dir + "/driveC/Program Files/Corvelware");
    std::ofstream(dir + "/driveC/Program Files/Corvelware/ZvqServ.exe") << "MZ";
    pc_.AppendIni("\n[mount C]\npath = C:\nhost = " + dir + "/driveC\ndrive_type = fixed\n");
    pc_.Boot();
    platform::process::RegisterProgram(u"ZvqServ.exe", [this](const ProgramStart& start) -> DWORD {
      const bool pendingRun = (start.creation_flags & CREATE_NO_WINDOW) != 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        runs_.push_back(pendingRun ? "pending" : "service show=" + std::to_string(start.show));
      }
      if (pendingRun) {
        if (behaviour_ == Service::ClearsPending) DeleteValue(kOtbRunOnceKey, kOtbStartValue);
        return 0;
      }
      // The service registers the id of a process that stays alive: this
      // test program's own.
      if (behaviour_ == Service::Registers)
        SetValue(kOtbServiceKey, kOtbServiceValue, platform::to_utf16(std::to_string(hostPid_)));
      if (behaviour_ == Service::RegistersNoProcess) SetValue(kOtbServiceKey, kOtbServiceValue, u"64999");
      return 0;
    });
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"IDS_OTB_FAIL", u"The service could not be started."};
    LanguageTable.languageLineCount = 1;
  }
  void TearDown() override {
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }

  // Runs the check; `boxes` message boxes are answered.
  std::string Run(int boxes, std::string* log_text, uint64_t* elapsed) {
    platform::ui::Script script;
    for (int i = 0; i < boxes; ++i) script.answer("ok");
    const uint64_t start = platform::Clock::instance().now_ms();
    auto run = disk_fixture::RunHeadless(script, [] { CheckOneTouchBootService(); });
    *elapsed = platform::Clock::instance().now_ms() - start;
    *log_text = run.log;
    return run.failure;
  }
  std::vector<std::string> Runs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return runs_;
  }

  disk_fixture::SimulatedPc pc_;
  std::mutex mutex_;
  std::vector<std::string> runs_;
  std::atomic<Service> behaviour_{Service::Registers};
  DWORD hostPid_ = GetCurrentProcessId();
};

TEST_F(OtbServiceTest, NothingPendingOrAServiceRegisteredRunsNothing) {
  struct Case {
    const char* what;
    const char16_t* serviceId;  // null: value absent
    const char16_t* command;
  } cases[] = {
      {"both values missing", nullptr, nullptr},
      {"both values empty", u"", u""},
      {"a service registered, nothing pending", u"4242", u""},
      {"a start pending while a service is registered", u"4242", kServicePath},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteValue(kOtbServiceKey, kOtbServiceValue);
    DeleteValue(kOtbRunOnceKey, kOtbStartValue);
    if (c.serviceId) SetValue(kOtbServiceKey, kOtbServiceValue, c.serviceId);
    if (c.command) SetValue(kOtbRunOnceKey, kOtbStartValue, c.command);
    std::string log;
    uint64_t elapsed = 0;
    ASSERT_EQ(Run(0, &log, &elapsed), "");
    EXPECT_EQ(elapsed, 500u);
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(log.find("message box"), std::string::npos) << log;
  }
}

TEST_F(OtbServiceTest, PendingStartIsRunAndTheServiceIsFound) {
  SetValue(kOtbRunOnceKey, kOtbStartValue, kServicePath);
  std::string log;
  uint64_t elapsed = 0;
  ASSERT_EQ(Run(0, &log, &elapsed), "");
  const std::vector<std::string> expected = {"pending", "service show=0"};
  EXPECT_EQ(Runs(), expected);
  EXPECT_EQ(log.find("message box"), std::string::npos) << log;
  // A poll, a second of the pending rounds, five seconds, half a second.
  EXPECT_GE(elapsed, 6600u);
  EXPECT_LT(elapsed, 12000u);
}

TEST_F(OtbServiceTest, FailuresShowTheMessage) {
  struct Case {
    const char* what;
    Service behaviour;
    std::vector<std::string> runs;
  } cases[] = {
      {"the service registers no process", Service::NeverRegisters, {"pending", "service show=0"}},
      {"the registered process does not exist", Service::RegistersNoProcess, {"pending", "service show=0"}},
      {"the start command vanishes", Service::ClearsPending, {"pending"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      runs_.clear();
    }
    behaviour_ = c.behaviour;
    DeleteValue(kOtbServiceKey, kOtbServiceValue);
    SetValue(kOtbRunOnceKey, kOtbStartValue, kServicePath);
    std::string log;
    uint64_t elapsed = 0;
    ASSERT_EQ(Run(1, &log, &elapsed), "");
    EXPECT_EQ(Runs(), c.runs);
    EXPECT_NE(log.find("\"The service could not be started.\""), std::string::npos) << log;
  }
}

TEST_F(OtbServiceTest, AStartCommandThatCannotBeCreatedShowsNothing) {
  SetValue(kOtbRunOnceKey, kOtbStartValue, u"C:\\Program Files\\Corvelware\\Missing.exe");
  std::string log;
  uint64_t elapsed = 0;
  ASSERT_EQ(Run(0, &log, &elapsed), "");
  EXPECT_TRUE(Runs().empty());
  EXPECT_EQ(log.find("message box"), std::string::npos) << log;
  EXPECT_EQ(elapsed, 500u);
}

}  // namespace
