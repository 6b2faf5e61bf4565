#include "mainapp/shell/otb_service_check.h"

#include "mainapp/shell/command_runner.h"
#include "platform/core/clock.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/ui/message_box.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/registry_readers.h"

namespace {

const WCHAR* const kWaitCursor = reinterpret_cast<const WCHAR*>(static_cast<uintptr_t>(32514));  // IDC_WAIT

void ShowFailure() { AfxMessageBox(LookupString(u"IDS_OTB_FAIL"), MB_OK); }

CString StartCommand() { return ReadRegistryString(HKEY_LOCAL_MACHINE, kOtbRunOnceKey, kOtbStartValue); }
CString ServiceId() { return ReadRegistryString(HKEY_LOCAL_MACHINE, kOtbServiceKey, kOtbServiceValue); }

// Runs the pending start command, then starts the service and checks that
// its registered process exists; every failure after the first start is shown.
void StartService(const CString& command) {
  if (!RunCommandAndWait(command, CString())) return;
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, kWaitCursor));
  bool pending = false;
  for (int round = 0; round < 5 && !pending; ++round) {
    Sleep(1000);
    pending = !StartCommand().IsEmpty();
  }
  SetCursor(previous);
  if (!pending) {
    ShowFailure();
    return;
  }
  HINSTANCE started = ShellExecuteW(nullptr, u"open", command, u"", nullptr, SW_HIDE);
  if (reinterpret_cast<INT_PTR>(started) < 32) {
    ShowFailure();
    return;
  }
  for (int i = 0; i < 5; ++i) Sleep(1000);
  const int32_t id = TextToInt(ServiceId());
  HANDLE process = id > 0 ? OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(id)) : nullptr;
  if (!process) {
    ShowFailure();
    return;
  }
  CloseHandle(process);
}

}  // namespace

void CheckOneTouchBootService() {
  const CString serviceId = ServiceId();
  const CString command = StartCommand();
  if (!command.IsEmpty() && serviceId.IsEmpty()) StartService(command);
  Sleep(500);
}
