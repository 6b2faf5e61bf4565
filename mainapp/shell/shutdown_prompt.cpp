#include "mainapp/shell/shutdown_prompt.h"

#include "mainapp/shell/system_exit.h"
#include "platform/ui/message_map.h"
#include "program_support/shell_state.h"

CString shutdownPromptText;
CString shutdownNowText;
CString shutdownLaterText;

BEGIN_MESSAGE_MAP(CShutDown, CDialog)
  ON_BN_CLICKED(kNowButton, &CShutDown::OnShutDownNow)
  ON_BN_CLICKED(kLaterButton, &CShutDown::OnLater)
END_MESSAGE_MAP()

CShutDown::CShutDown(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CShutDown::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(ShellState.messageCaption);
  SetDlgItemText(kMessageText, shutdownPromptText);
  SetDlgItemText(kNowButton, shutdownNowText);
  SetDlgItemText(kLaterButton, shutdownLaterText);
  return TRUE;
}

void CShutDown::OnShutDownNow() { RestartOrShutdown(kExitShutDown); }

void CShutDown::OnLater() { EndDialog(IDCANCEL); }
