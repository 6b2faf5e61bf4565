#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/core/clock.h"
#include "platform/process/process.h"
#include "platform/process/sync.h"
#include "platform/process/system_info.h"
#include "process/fake_pc.h"

using namespace platform::process;
using process_test::FakePc;

namespace {

class Processes : public ::testing::Test {
 protected:
  void SetUp() override {
    pc.add_folder(u"C:\\Tools");
    pc.set_path(u"C:\\Windows\\System32;C:\\Windows;C:\\Tools");
    pc.add_folder(u"C:\\Users\\User");
    pc.add_file(u"C:\\Tools\\exit7.exe");
    pc.add_file(u"C:\\Tools\\echo.exe");
    pc.add_file(u"C:\\Tools\\forever.exe");
    pc.add_file(u"C:\\Tools\\unknown.exe");
    RegisterProgram(u"exit7.exe", [](const ProgramStart&) -> DWORD { return 7; });
    RegisterProgram(u"echo.exe", [this](const ProgramStart& start) -> DWORD {
      seen_line = GetCommandLineW();
      seen = start;
      return static_cast<DWORD>(start.argv.size());
    });
    // A program that never ends on its own: it waits for an event nobody sets.
    RegisterProgram(u"forever.exe", [](const ProgramStart&) -> DWORD {
      HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      WaitForSingleObject(never, INFINITE);
      return 0;
    });
    RegisterProgram(u"systool.exe", [](const ProgramStart&) -> DWORD { return 3; }, ProgramPlacement::SystemTool);
  }
  void TearDown() override {
    for (auto name : {u"exit7.exe", u"echo.exe", u"forever.exe", u"systool.exe"}) UnregisterProgram(name);
  }

  // Starts like the suite's runners do: application name, " " + arguments.
  BOOL Start(const char16_t* application, std::u16string line, PROCESS_INFORMATION* pi, const char16_t* folder = nullptr,
             DWORD flags = 0) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    return CreateProcessW(application, line.empty() ? nullptr : line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          folder, &si, pi);
  }

  FakePc pc;
  ProgramStart seen;
  std::u16string seen_line;
};

TEST_F(Processes, ExitCodeAfterTheProgramEnds) {
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(nullptr, u"exit7", &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(WaitForSingleObject(pi.hThread, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(pi.hThread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_NE(pi.dwProcessId, 0u);
  EXPECT_NE(pi.dwProcessId, GetCurrentProcessId());
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

TEST_F(Processes, StandInSeesItsOwnCommandLineAndFolder) {
  PROCESS_INFORMATION pi{};
  std::u16string line = u" h1024 v768 \"b 32\"";
  ASSERT_TRUE(Start(u"C:\\Tools\\echo.exe ", line, &pi, u"C:\\Tools", CREATE_NO_WINDOW));
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(seen_line, line);  // GetCommandLineW inside the program
  EXPECT_EQ(seen.arguments, u"h1024 v768 \"b 32\"");
  EXPECT_EQ(seen.argv, (std::vector<std::u16string>{u"h1024", u"v768", u"b 32"}));
  EXPECT_EQ(seen.current_folder, u"C:\\Tools");
  EXPECT_EQ(seen.image_path, u"C:\\Tools\\echo.exe");
  EXPECT_NE(GetCommandLineW(), seen_line);  // the caller keeps its own
  auto starts = pc.log_starting("process start");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_NE(starts[0].find("program=\"C:\\\\Tools\\\\echo.exe\""), std::string::npos) << starts[0];
  EXPECT_NE(starts[0].find("arguments=\"h1024 v768 \\\"b 32\\\"\""), std::string::npos) << starts[0];
  EXPECT_NE(starts[0].find("folder=\"C:\\\\Tools\""), std::string::npos) << starts[0];
  EXPECT_NE(starts[0].find("show=10"), std::string::npos) << starts[0];
  EXPECT_NE(starts[0].find("no-window"), std::string::npos) << starts[0];
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

TEST_F(Processes, FailedStartsReportThePlatformErrors) {
  struct Case {
    const char16_t* application;
    std::u16string line;
    const char16_t* folder;
    DWORD error;
  };
  const Case cases[] = {
      {nullptr, u"missing.exe", nullptr, ERROR_FILE_NOT_FOUND},
      {u"X:\\windows\\system32\\drvload.exe ", u" a.inf", nullptr, ERROR_FILE_NOT_FOUND},
      {u"C:\\Tools\\exit7.exe", u" x", u"X:\\Windows\\System32", ERROR_DIRECTORY},
      {nullptr, u"unknown.exe", nullptr, ERROR_BAD_EXE_FORMAT},  // a file, but no program behind it
      {nullptr, u"", nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    PROCESS_INFORMATION pi{};
    pi.hProcess = reinterpret_cast<HANDLE>(1);
    SetLastError(0);
    EXPECT_FALSE(Start(c.application, c.line, &pi, c.folder)) << platform::to_utf8(c.line);
    EXPECT_EQ(GetLastError(), c.error) << platform::to_utf8(c.line);
    EXPECT_EQ(pi.hProcess, nullptr);
  }
  auto failed = pc.log_starting("process start failed");
  EXPECT_EQ(failed.size(), 4u);  // every refused start with a program named is logged
}

TEST_F(Processes, SystemToolsLiveInTheSystemFolderWhileItExists) {
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(nullptr, u"systool /x", &pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 3u);
  EXPECT_FALSE(Start(u"X:\\Windows\\System32\\systool.exe", u"", &pi));  // no X: drive here
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// The poll loop of the suite's runners: read the exit code, sleep 100 ms,
// count, then wait up to 4 s; here the program never ends.
TEST_F(Processes, BoundedWaitsOnAProgramThatNeverEndsRunOnTheVirtualClock) {
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(nullptr, u"forever", &pi));
  auto& clock = platform::Clock::instance();
  const uint64_t start_ms = clock.now_ms();
  const auto real_start = std::chrono::steady_clock::now();
  int polls = 0;
  DWORD code = 0;
  for (;;) {
    ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    Sleep(100);
    if (code != STILL_ACTIVE || ++polls > 50) break;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 4000), WAIT_TIMEOUT);
  }
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(clock.now_ms() - start_ms, 51u * 100 + 50u * 4000);
  EXPECT_LT(std::chrono::steady_clock::now() - real_start, std::chrono::seconds(20));

  ASSERT_TRUE(TerminateProcess(pi.hProcess, 0x55));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0x55u);
  // The program's own wait unwound: its thread ends too.
  EXPECT_EQ(WaitForSingleObject(pi.hThread, INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(TerminateProcess(pi.hProcess, 1));
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

TEST_F(Processes, ProgramThatEndsAtOnceIsSeenAtTheNextPoll) {
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(u"C:\\Tools\\exit7.exe", u" ", &pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 7u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

TEST_F(Processes, ShellStartsGiveAProcessHandleAndExitCode) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
  info.lpVerb = u"open";
  info.lpFile = u"exit7.exe";
  info.lpParameters = u"/q";
  info.lpDirectory = u"C:\\Tools";
  info.nShow = SW_SHOW;
  ASSERT_TRUE(ShellExecuteExW(&info));
  EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
  ASSERT_NE(info.hProcess, nullptr);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  EXPECT_EQ(code + 0xF000, 0xF007u);
  CloseHandle(info.hProcess);

  // Without the mask no handle is given back.
  info.fMask = 0;
  info.hProcess = reinterpret_cast<HANDLE>(1);
  ASSERT_TRUE(ShellExecuteExW(&info));
  EXPECT_EQ(info.hProcess, nullptr);

  info.lpFile = u"nowhere.exe";
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_FNF);

  info.cbSize = 12;
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Processes, ShellOpensDocumentsWithTheirProgram) {
  pc.add_file(u"C:\\Tools\\Help\\index.htm");
  pc.add_file(u"C:\\Tools\\BCDMAKE.cmd");
  std::atomic<int> browser_runs{0};
  std::u16string browser_args, cmd_args;
  RegisterProgram(u"iexplore.exe", [&](const ProgramStart& s) -> DWORD {
    browser_args = s.arguments;
    ++browser_runs;
    return 0;
  }, ProgramPlacement::SystemTool);
  RegisterProgram(u"cmd.exe", [&](const ProgramStart& s) -> DWORD {
    cmd_args = s.arguments;
    return 0;
  }, ProgramPlacement::SystemTool);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = u"C:\\Tools\\Help\\index.htm";
  info.nShow = SW_HIDE;
  ASSERT_TRUE(ShellExecuteExW(&info));
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hProcess);
  EXPECT_EQ(browser_runs.load(), 1);
  EXPECT_EQ(browser_args, u"C:\\Tools\\Help\\index.htm");

  info.lpFile = u"BCDMAKE.cmd";
  info.lpDirectory = u"C:\\Tools";
  ASSERT_TRUE(ShellExecuteExW(&info));
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hProcess);
  EXPECT_EQ(cmd_args, u"/C C:\\Tools\\BCDMAKE.cmd");

  EXPECT_LE(reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, u"open", u"C:\\Tools\\Help\\missing.htm", nullptr,
                                                    nullptr, SW_HIDE)),
            32);
  EXPECT_EQ(reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, u"print", u"C:\\Tools\\Help\\index.htm", nullptr,
                                                    nullptr, SW_HIDE)),
            SE_ERR_NOASSOC);
  UnregisterProgram(u"iexplore.exe");
  UnregisterProgram(u"cmd.exe");
}

TEST_F(Processes, OpenProcessFindsRunningProgramsById) {
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(nullptr, u"forever", &pi));
  HANDLE again = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pi.dwProcessId);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetProcessId(again), pi.dwProcessId);
  EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, 0x7FFFFFF0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  TerminateProcess(again, 1);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
  for (HANDLE h : {again, pi.hProcess, pi.hThread}) CloseHandle(h);
}

TEST(SystemInfo, VersionRecordSizesAndFacts) {
  FakePc pc;
  OsFacts xp;
  xp.major = 5;
  xp.minor = 1;
  xp.build = 2600;
  xp.service_pack = u"Service Pack 3";
  xp.service_pack_major = 3;
  xp.wow64 = true;
  pc.set_os(xp);
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  ASSERT_TRUE(GetVersionExW(&v));
  EXPECT_EQ(v.dwMajorVersion + 1, 6u);
  EXPECT_EQ(v.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(std::u16string(v.szCSDVersion), u"Service Pack 3");
  OSVERSIONINFOEXW ex{};
  ex.dwOSVersionInfoSize = sizeof(ex);
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&ex)));
  EXPECT_EQ(ex.wServicePackMajor, 3);
  for (DWORD bad : {0u, 275u, 280u, 1000u}) {
    v.dwOSVersionInfoSize = bad;
    EXPECT_FALSE(GetVersionExW(&v));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  }
  BOOL wow = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow));
  EXPECT_TRUE(wow);
  EXPECT_FALSE(IsWow64Process(reinterpret_cast<HANDLE>(0x12345), &wow));
}

TEST(SystemInfo, ComStartUpAndExecutionState) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  }).join();
  uint64_t before = ExecutionStateRequests();
  EXPECT_NE(SetThreadExecutionState(ES_SYSTEM_REQUIRED), 0u);
  EXPECT_EQ(ExecutionStateRequests(), before + 1);
  EXPECT_EQ(SetThreadExecutionState(0x100), 0u);
}

}  // namespace
