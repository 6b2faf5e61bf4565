#include "program_support/process_runners.h"

#include <vector>

#include "platform/core/clock.h"
#include "platform/fs/shell_folders.h"
#include "platform/process/process.h"
#include "platform/process/system_info.h"
#include "platform/process/thread.h"
#include "program_support/wait_cursor.h"

const WCHAR* const TracedToolPath = u"C:\\Windows\\System32\\bcdedit.exe";

// The window and process headers of the platform both define the SW_* show
// values, so this file (which needs the process ones) declares the one window
// call it makes itself.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

namespace {

constexpr UINT kPlainMessageBox = 0;  // MB_OK
constexpr const WCHAR* kRunFolder = u"X:\\Windows\\System32";
constexpr DWORD kPollSleepMs = 100;
constexpr DWORD kPollWaitMs = 4000;
constexpr int kPollLimit = 30000;

DWORD ShellRunAndWait(const CString& file, const CString& parameters, int show) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
  info.hwnd = nullptr;
  info.lpVerb = u"open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.lpDirectory = nullptr;
  info.nShow = show;
  if (!ShellExecuteExW(&info) || reinterpret_cast<INT_PTR>(info.hInstApp) <= 32) {
    const DWORD error = GetLastError();
    if (info.hProcess) CloseHandle(info.hProcess);
    return error;
  }
  DWORD exit_code = 0;
  if (info.hProcess) {
    WaitForSingleObject(info.hProcess, INFINITE);
    if (!GetExitCodeProcess(info.hProcess, &exit_code)) exit_code = 0;
    CloseHandle(info.hProcess);
  }
  return exit_code + kRunResultBase;
}

// Polls a started process: every poll reads the exit code and sleeps 100 ms;
// while it still runs (and fewer than 30000 polls were made) it waits up to
// 4 s on the process before the next poll.
void PollUntilEnded(HANDLE process) {
  for (int polls = 0;;) {
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process, &exit_code)) exit_code = 0;
    Sleep(kPollSleepMs);
    ++polls;
    if (exit_code != STILL_ACTIVE || polls > kPollLimit) break;
    WaitForSingleObject(process, kPollWaitMs);
  }
}

// Creates the process with writable copies of application and command line.
// *exit_code (when given) receives the program's exit code once it ended, or
// STILL_ACTIVE when the polls gave up first.
bool StartAndPoll(const CString& application, const CString& command_line, DWORD flags, LPCWSTR folder,
                  DWORD* exit_code = nullptr) {
  std::vector<WCHAR> app(application.GetString(), application.GetString() + application.GetLength() + 1);
  std::vector<WCHAR> cmd;
  if (!command_line.IsEmpty())
    cmd.assign(command_line.GetString(), command_line.GetString() + command_line.GetLength() + 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(app.data(), cmd.empty() ? nullptr : cmd.data(), nullptr, nullptr, FALSE, flags, nullptr, folder,
                      &startup, &process))
    return false;
  PollUntilEnded(process.hProcess);
  if (exit_code && !GetExitCodeProcess(process.hProcess, exit_code)) *exit_code = STILL_ACTIVE;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

DWORD RunAndWait(const CString& file, const CString& parameters, int show) {
  return ShellRunAndWait(file, parameters, show);
}

DWORD RunAndWaitWithCom(const CString& file, const CString& parameters, int show) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  return ShellRunAndWait(file, parameters, show);
}

bool RunProcessAndWait(const CString& executable, const CString& arguments) {
  return RunProcessForExitCode(executable, arguments, nullptr);
}

bool RunProcessForExitCode(const CString& executable, const CString& arguments, DWORD* exit_code) {
  SetWaitCursor();
  const bool started = StartAndPoll(executable, u" " + arguments, 0, kRunFolder, exit_code);
  RestoreCursor();
  return started;
}

void RunSystemToolTraced(const CString& tool, const CString& arguments) {
  WCHAR system_folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system_folder, MAX_PATH);
  CString shown(system_folder, length < MAX_PATH ? static_cast<int>(length) : 0);
  shown += u"\\" + tool + arguments;
  MessageBoxW(nullptr, shown, nullptr, kPlainMessageBox);
  // What it starts is the fixed tool, without the command it showed.
  StartAndPoll(TracedToolPath, CString(), CREATE_NO_WINDOW, nullptr);
}
