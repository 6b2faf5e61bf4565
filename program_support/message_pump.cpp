#include "program_support/message_pump.h"

#include "platform/process/system_info.h"
#include "platform/ui/winuser.h"
#include "program_support/shell_state.h"

namespace {

// A bound on one call, so that a message source that never runs dry (a timer
// due again while its handler runs) cannot hold the work up.
constexpr int kMostMessagesPerCall = 256;

}  // namespace

void PumpMessages(HWND dialog) {
  SetThreadExecutionState(ES_SYSTEM_REQUIRED);
  // Every message waiting is served, as a dialog's own loop does: one click is
  // a button press, a release and the notification they make, and a pump that
  // served one of them per call would answer it only calls later.
  MSG msg{};
  for (int served = 0; served < kMostMessagesPerCall && PeekMessageW(&msg, dialog, 0, 0, PM_REMOVE); ++served) {
    if (dialog && IsDialogMessageW(dialog, &msg)) continue;
    if (ShellState.MainDialogHandle && IsDialogMessageW(ShellState.MainDialogHandle, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}
