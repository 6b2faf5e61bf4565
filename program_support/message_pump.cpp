#include "program_support/message_pump.h"

#include "platform/process/system_info.h"
#include "platform/ui/winuser.h"
#include "program_support/shell_state.h"

void PumpMessages(HWND dialog) {
  SetThreadExecutionState(ES_SYSTEM_REQUIRED);
  MSG msg{};
  while (PeekMessageW(&msg, dialog, 0, 0, PM_REMOVE)) {
    if (dialog && IsDialogMessageW(dialog, &msg)) continue;
    if (ShellState.MainDialogHandle && IsDialogMessageW(ShellState.MainDialogHandle, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return;
  }
}
