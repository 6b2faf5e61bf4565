#include "program_support/one_shot_page.h"

#include "platform/ui/dialog.h"
#include "program_support/shell_state.h"

void RunOnSecondTick(CDialog& page, UINT_PTR id, const std::function<void()>& work) {
  if (id != ShellState.OneShotTimerId) return;
  if (++ShellState.OneShotTickCount != 2) return;
  page.KillTimer(id);
  work();
  ShellState.OneShotTickCount = 3;
  page.EndDialog(IDCANCEL);
}
