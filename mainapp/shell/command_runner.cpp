#include "mainapp/shell/command_runner.h"

#include <vector>

#include "platform/core/clock.h"
#include "platform/process/process.h"
#include "platform/ui/winuser.h"

namespace {

constexpr DWORD kPollSleepMs = 100;
constexpr DWORD kPollWaitMs = 4000;
constexpr int kPollLimit = 30000;
const WCHAR* const kWaitCursor = reinterpret_cast<const WCHAR*>(static_cast<uintptr_t>(32514));  // IDC_WAIT

}  // namespace

bool RunCommandAndWait(const CString& program, const CString& arguments) {
  std::vector<WCHAR> application(program.GetString(), program.GetString() + program.GetLength() + 1);
  const CString line = u" " + arguments;
  std::vector<WCHAR> command(line.GetString(), line.GetString() + line.GetLength() + 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, kWaitCursor));
  const bool created = CreateProcessW(application.data(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &startup, &process);
  if (created) {
    for (int polls = 0;;) {
      DWORD exit_code = 0;
      if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 0;
      Sleep(kPollSleepMs);
      ++polls;
      if (exit_code != STILL_ACTIVE || polls > kPollLimit) break;
      WaitForSingleObject(process.hProcess, kPollWaitMs);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetCursor(previous);
  return created;
}
