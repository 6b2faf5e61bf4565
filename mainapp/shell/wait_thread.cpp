#include "mainapp/shell/wait_thread.h"

#include "platform/core/error.h"
#include "platform/ui/message_map.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/winuser.h"

BEGIN_MESSAGE_MAP(CWaitThread, CWinThread)
  ON_THREAD_MESSAGE(kAdvance, &CWaitThread::OnAdvance)
  ON_THREAD_MESSAGE(kClose, &CWaitThread::OnClose)
END_MESSAGE_MAP()

CWaitThread::CWaitThread(int unused, int kept, BOOL showMessage, int cancelFlag, CWnd* owner)
    : dialog_(unused, kept, showMessage, cancelFlag, owner) {}

CWaitThread::~CWaitThread() {
  if (IsRunning()) {
    // Close the dialog; the quit ends any loop nested inside it as well.
    PostThreadMessageW(m_nThreadID, kClose, 0, 0);
    PostThreadMessageW(m_nThreadID, WM_QUIT, 0, 0);
  }
  Join();
}

BOOL CWaitThread::StartWaitThread() { return CreateThread(); }

BOOL CWaitThread::SetWaitText(LPCWSTR text) {
  {
    std::lock_guard lock(text_mutex_);
    text_ = text ? text : u"";
  }
  if (!IsRunning()) return platform::fail(ERROR_INVALID_THREAD_ID);
  return PostThreadMessageW(m_nThreadID, kAdvance, 0, 0);
}

BOOL CWaitThread::CloseWaitDialog() {
  if (!IsRunning()) return platform::fail(ERROR_INVALID_THREAD_ID);
  return PostThreadMessageW(m_nThreadID, kClose, 0, 0);
}

CString CWaitThread::wait_text() const {
  std::lock_guard lock(text_mutex_);
  return text_;
}

BOOL CWaitThread::InitInstance() {
  m_pMainWnd = &dialog_;
  result_ = dialog_.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

void CWaitThread::OnAdvance(WPARAM, LPARAM) {
  if (!dialog_.GetSafeHwnd() || !::IsWindow(dialog_.GetSafeHwnd())) return;
  dialog_.StepProgress();
  CString text = wait_text();
  if (!text.IsEmpty()) dialog_.SetDlgItemText(CWaitDialog::kMessageLine, text.GetString());
  dialog_.Invalidate();
  dialog_.UpdateWindow();
}

void CWaitThread::OnClose(WPARAM, LPARAM) {
  // Thread messages are served only by loops of this thread, the first of
  // which is the dialog's own: the dialog exists whenever this runs.
  dialog_.EndDialog(1);
}
