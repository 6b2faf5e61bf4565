#include "mainapp/shell/restart_prompt.h"

#include <string>

#include "platform/core/text.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

uint8_t restartPromptFixedTexts = 1;
CString restartPromptText;
CString restartOkText;
CString restartCancelText;
uint8_t restartAccepted = 0;

namespace {

// Every "%TIME%" of the text replaced by the number.
std::u16string ReplaceTime(const CString& text, int seconds) {
  static const std::u16string placeholder = u"%TIME%";
  std::u16string out = text.GetString();
  const std::u16string number = platform::to_utf16(std::to_string(seconds));
  for (size_t at = out.find(placeholder); at != std::u16string::npos; at = out.find(placeholder, at + number.size()))
    out.replace(at, placeholder.size(), number);
  return out;
}

}  // namespace

BEGIN_MESSAGE_MAP(CRestart, CDialog)
  ON_WM_TIMER()
END_MESSAGE_MAP()

CRestart::CRestart(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CRestart::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(ShellState.messageCaption);
  if (restartPromptFixedTexts) {
    SetDlgItemText(kMessageText, LookupString(u"IDS_Restart"));
    SetDlgItemText(IDOK, LookupString(u"IDS_RestartNow"));
    SetDlgItemText(IDCANCEL, LookupString(u"IDS_RestartLater"));
    return TRUE;
  }
  SetDlgItemText(kMessageText, restartPromptText);
  SetDlgItemText(IDOK, restartOkText);
  SetDlgItemText(IDCANCEL, restartCancelText);
  if (restartPromptText.Find(u"%TIME") >= 0) {
    ShellState.OneShotTickCount = 0;
    ShowRemaining();
    ShellState.OneShotTimerId = SetTimer(kCountdownTimer, 1000, nullptr);
  }
  return TRUE;
}

void CRestart::ShowRemaining() {
  SetDlgItemText(kMessageText, ReplaceTime(restartPromptText, kCountdownSeconds - ShellState.OneShotTickCount).c_str());
  UpdateWindow();
}

void CRestart::OnTimer(UINT_PTR id) {
  CDialog::OnTimer(id);
  if (id != ShellState.OneShotTimerId) return;
  ++ShellState.OneShotTickCount;
  if (ShellState.OneShotTickCount <= kCountdownSeconds) {
    ShowRemaining();
  } else if (ShellState.OneShotTickCount == kCountdownSeconds + 1) {
    KillTimer(ShellState.OneShotTimerId);
    OnOK();
  }
}

void CRestart::OnOK() {
  restartAccepted = 1;
  EndDialog(IDOK);
}

void CRestart::OnCancel() {
  restartAccepted = 0;
  EndDialog(IDCANCEL);
}
