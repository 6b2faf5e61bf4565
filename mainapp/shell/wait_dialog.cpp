#include "mainapp/shell/wait_dialog.h"

#include "platform/core/clock.h"
#include "platform/ui/message_map.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/one_shot_page.h"
#include "program_support/shell_state.h"

BEGIN_MESSAGE_MAP(CWaitDialog, CDialog)
  ON_WM_SHOWWINDOW()
  ON_WM_TIMER()
  ON_BN_CLICKED(kStepButton, &CWaitDialog::OnStep)
END_MESSAGE_MAP()

CWaitDialog::CWaitDialog(int unused, int kept, BOOL showMessage, int cancelFlag, CWnd* owner)
    : CDialog(IDD, owner), owner_(owner), cancelFlag_(cancelFlag), kept_(kept) {
  (void)unused;
  caption_ = LookupString(u"nCaptionResourseID");
  if (showMessage) message_ = LookupString(u"nMessageStringID");
}

BOOL CWaitDialog::CreateWithOwner(CWnd* owner) {
  owner_ = owner;
  return Create(IDD, owner);
}

void CWaitDialog::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kProgress, progress_);
}

void CWaitDialog::OnShowWindow(BOOL show, UINT status) {
  CWnd* parent = GetParent();
  if (show) {
    if (!parent) {
      EndDialog(1);
      return;
    }
    RECT outer{}, own{};
    parent->GetWindowRect(&outer);
    GetWindowRect(&own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    const int x = outer.left + ((outer.right - outer.left) - width) / 2;
    const int y = outer.top + ((outer.bottom - outer.top) - height) / 2;
    // Top of the z-order; the window is already on its way to being shown,
    // so asking for that again would only announce the showing once more.
    SetWindowPos(nullptr, x, y, width, height, SWP_NOSIZE);
    SetDlgItemText(kMessageLine, message_);
    // The cancelling line and the button speak the program's language.
    SetDlgItemText(kCancellingLine, LookupString(u"IDS_WaitCancelling"));
    SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
    if (CWnd* line = GetDlgItem(kCancellingLine)) line->ShowWindow(SW_HIDE);
    if (CWnd* cancel = GetDlgItem(IDCANCEL)) cancel->EnableWindow(TRUE);
    SetWindowText(u"Waiting for Format");
  }
  if (CWnd* cancel = GetDlgItem(IDCANCEL)) cancel->ShowWindow(cancelFlag_ ? SW_SHOW : SW_HIDE);
  CDialog::OnShowWindow(show, status);
}

// Cancel asks the owner to stop; the dialog stays until it is closed.
void CWaitDialog::OnCancel() {
  if (CWnd* line = GetDlgItem(kCancellingLine)) line->ShowWindow(SW_SHOW);
  if (CWnd* cancel = GetDlgItem(IDCANCEL)) cancel->EnableWindow(FALSE);
  if (owner_ && owner_->GetSafeHwnd()) owner_->PostMessage(kCancelRequest, 0, 0);
}

void CWaitDialog::StepProgress() {
  if (progress_.GetSafeHwnd()) progress_.StepIt();
}

void CWaitDialog::OnStep() {
  Sleep(100);
  StepProgress();
}

void CWaitDialog::OnTimer(UINT_PTR id) {
  CDialog::OnTimer(id);
  RunOnSecondTick(*this, id, [this] { OnStep(); });
}
