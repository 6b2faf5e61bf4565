#include "mainapp/clone/clone_page_items.h"

#include <algorithm>
#include <bit>

#include "mainapp/records/clone_run_state.h"
#include "platform/core/ctime.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/winuser.h"
#include "program_support/message_pump.h"
#include "program_support/shell_state.h"

namespace {

// Shift that brings `high` below 2^31.
int ProgressShift(uint64_t high) {
  const int bits = 64 - std::countl_zero(high);
  return bits > 31 ? bits - 31 : 0;
}

void SendProgress(CWnd* page, UINT message, WPARAM w, LPARAM l) {
  if (!page) return;
  if (CWnd* bar = page->GetDlgItem(clone_items::kProgress)) bar->SendMessage(message, w, l);
}

}  // namespace

void ShowElapsedTime(CWnd* page) {
  if (!page) return;
  const CTimeSpan span(CTime::GetCurrentTime().GetTime() - CloneRunState.operationStart);
  page->SetDlgItemText(clone_items::kElapsed, span.Format(u"%H:%M:%S"));
}

void PumpClonePage(CWnd* page) {
  PumpMessages(page ? page->GetSafeHwnd() : nullptr);
  if (ShellState.MainDialogHandle) PumpMessages(ShellState.MainDialogHandle);
}

void ShowCloneStatus(CWnd* page, const CString& text) {
  CloneRunState.statusText = text;
  if (page) page->SetDlgItemText(clone_items::kStatus, text);
}

void SetCloneProgressRange(CWnd* page, uint64_t high) {
  SendProgress(page, PBM_SETRANGE32, 0, static_cast<LPARAM>(high >> ProgressShift(high)));
}

void SetCloneProgressPos(CWnd* page, uint64_t position, uint64_t high) {
  if (position > high) position = high;
  SendProgress(page, PBM_SETPOS, static_cast<WPARAM>(position >> ProgressShift(high)), 0);
}

void SetCloneProgressRange32(CWnd* page, int32_t high) { SendProgress(page, PBM_SETRANGE32, 0, high); }

void SetCloneProgressPos32(CWnd* page, int32_t position) {
  SendProgress(page, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

bool DisplayPace::Due() {
  const auto now = std::chrono::steady_clock::now();
  if (started_ && now - last_ < kInterval) return false;
  started_ = true;
  last_ = now;
  return true;
}

void DisplayPace::Shown() {
  started_ = true;
  last_ = std::chrono::steady_clock::now();
}

bool PacedPosition::Take(uint64_t done) {
  last = done;
  const auto percent = [this](uint64_t at) { return total ? at / std::max<uint64_t>(total / 100, 1) : at; };
  if (done >= total || percent(done) != percent(shown)) {
    pace.Shown();
  } else if (!pace.Due()) {
    pending = true;
    return false;
  }
  shown = done;
  pending = false;
  return true;
}
