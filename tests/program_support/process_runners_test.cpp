// Process runners on a simulated PC: stand-in programs on host-folder drives,
// exit codes carried in the runner results, the poll rhythm on the virtual
// clock, the fixed working folder, and the wait cursor. (The traced tool,
// which shows a message box, is tested with the message pump.)
#include "program_support/process_runners.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/process/process.h"
#include "platform/process/sync.h"
#include "tests/disk/fixture_images.h"

// The window and process headers both define the show values; the cursor
// calls this test reads are declared here.
HCURSOR GetCursor();
HCURSOR SetCursor(HCURSOR cursor);

namespace {

namespace fs = std::filesystem;
using platform::process::ProgramStart;
using platform::process::RegisterProgram;
using platform::process::UnregisterProgram;

HCURSOR ArrowCursor() { return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(32512)); }
HCURSOR WaitCursor() { return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(32514)); }
uint64_t Now() { return platform::Clock::instance().now_ms(); }

class ProcessRunnersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = pc_.folder();
    for (const char* folder : {"/driveX/Windows/System32", "/driveX/Tools", "/driveC/Windows/System32"})
      fs::create_directories(dir + folder);
    for (const char* file : {"exit0.exe", "exit1.exe", "exit4095.exe", "capture.exe", "sleeper.exe"})
      std::ofstream(dir + "/driveX/Tools/" + file) << "MZ";
    std::ofstream ini(dir + "/machine.ini", std::ios::app);
    for (const char* letter : {"X", "C"})
      ini << "\n[mount " << letter << "]\npath = " << letter << ":\nhost = " << dir << "/drive" << letter
          << "\ndrive_type = fixed\n";
    ini.close();
    RegisterProgram(u"exit0.exe", [](const ProgramStart&) -> DWORD { return 0; });
    RegisterProgram(u"exit1.exe", [](const ProgramStart&) -> DWORD { return 1; });
    RegisterProgram(u"exit4095.exe", [](const ProgramStart&) -> DWORD { return 4095; });
    RegisterProgram(u"capture.exe", [this](const ProgramStart& start) -> DWORD {
      seen_line_ = start.command_line;
      seen_folder_ = start.current_folder;
      seen_cursor_ = GetCursor();
      return 9;
    });
    RegisterProgram(u"sleeper.exe", [](const ProgramStart&) -> DWORD {
      Sleep(9000);
      return 5;
    });
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
  }
  void TearDown() override {
    for (auto name : {u"exit0.exe", u"exit1.exe", u"exit4095.exe", u"capture.exe", u"sleeper.exe"})
      UnregisterProgram(name);
  }

  disk_fixture::SimulatedPc pc_;
  std::u16string seen_line_ = u"(not started)";
  std::u16string seen_folder_;
  HCURSOR seen_cursor_ = nullptr;
};

TEST_F(ProcessRunnersTest, ShellRunnersCarryTheExitCodeAboveAFailedStart) {
  struct Case {
    const char16_t* file;
    DWORD result;
  } cases[] = {
      {u"X:\\Tools\\exit0.exe", 0xF000},
      {u"X:\\Tools\\exit1.exe", 0xF001},
      {u"X:\\Tools\\exit4095.exe", 0xFFFF},
      {u"X:\\Tools\\sleeper.exe", 0xF005},
      {u"X:\\Tools\\missing.exe", 2},  // the start's own error (file not found), nothing waited for
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.file));
    EXPECT_EQ(RunAndWait(CString(c.file), CString(), SW_HIDE), c.result);
    EXPECT_EQ(RunAndWaitWithCom(CString(c.file), CString(u"/q"), SW_SHOW), c.result);
    EXPECT_EQ(RunAndWait(CString(c.file), CString(), SW_HIDE) & 0xFFF, c.result & 0xFFF);
  }
  const uint64_t before = Now();
  EXPECT_EQ(RunAndWait(CString(u"X:\\Tools\\sleeper.exe"), CString(), SW_HIDE), 0xF005u);
  EXPECT_EQ(Now() - before, 9000u) << "the shell runner waits exactly until the program ends";
}

TEST_F(ProcessRunnersTest, RunProcessAndWaitPollsInTheFixedFolder) {
  SetCursor(ArrowCursor());
  uint64_t before = Now();
  EXPECT_TRUE(RunProcessAndWait(CString(u"X:\\Tools\\capture.exe"), CString(u"h1024 v768 b32")));
  EXPECT_EQ(Now() - before, 100u) << "a program that ends at once costs one poll";
  EXPECT_EQ(seen_line_, u" h1024 v768 b32");
  EXPECT_EQ(seen_folder_, u"X:\\Windows\\System32");
  EXPECT_EQ(seen_cursor_, WaitCursor()) << "the wait cursor shows while the program runs";
  EXPECT_EQ(GetCursor(), ArrowCursor()) << "and the previous cursor is back afterwards";

  // Polls at 0 and 4100 ms see it running; at 8200 the 4 s wait ends at its
  // end (9000 ms); the next poll sees the exit code after one more 100 ms.
  before = Now();
  EXPECT_TRUE(RunProcessAndWait(CString(u"X:\\Tools\\sleeper.exe"), CString()));
  EXPECT_EQ(Now() - before, 9100u);

  before = Now();
  EXPECT_FALSE(RunProcessAndWait(CString(u"X:\\Tools\\missing.exe"), CString()));
  EXPECT_EQ(Now() - before, 0u) << "a failed start waits for nothing";
  EXPECT_EQ(GetCursor(), ArrowCursor());
}

TEST_F(ProcessRunnersTest, APollLimitBoundsTheWaitForAProgramThatNeverEnds) {
  std::ofstream(pc_.folder() + "/driveX/Tools/forever.exe") << "MZ";
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  RegisterProgram(u"forever.exe", [never](const ProgramStart&) -> DWORD {
    WaitForSingleObject(never, INFINITE);
    return 0;
  });
  const uint64_t before = Now();
  EXPECT_TRUE(RunProcessAndWait(CString(u"X:\\Tools\\forever.exe"), CString()));
  // 30001 polls of 100 ms, with a 4 s wait between each two.
  EXPECT_EQ(Now() - before, 30001u * 100 + 30000u * 4000);
  SetEvent(never);
  UnregisterProgram(u"forever.exe");
  CloseHandle(never);
}

TEST_F(ProcessRunnersTest, WithoutTheFixedFolderNothingStarts) {
  // A PC whose X: has no Windows\System32 folder.
  fs::remove_all(pc_.folder() + "/driveX/Windows");
  platform::fs::ReleaseAllDrivers();
  SetCursor(ArrowCursor());
  EXPECT_FALSE(RunProcessAndWait(CString(u"X:\\Tools\\capture.exe"), CString(u"x")));
  EXPECT_EQ(seen_line_, u"(not started)");
  EXPECT_EQ(GetCursor(), ArrowCursor());
}

}  // namespace
