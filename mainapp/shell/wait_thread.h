// The wait thread: a user-interface thread of its own that runs one wait
// dialog (dialog 192) modally while the thread that started it is busy.
// The busy thread talks to it only through thread messages (advance 1037,
// close 1038); the dialog talks back only through the cancel request 1036
// to its owner.
//
// The owner handed to the constructor is the dialog's parent: without one
// the dialog ends at once (result 1) and the thread ends with it.
#pragma once

#include <atomic>
#include <mutex>

#include "mainapp/shell/wait_dialog.h"
#include "platform/core/cstring.h"
#include "platform/ui/cwnd.h"

class CWaitThread : public CWinThread {
 public:
  static constexpr UINT kAdvance = 1037;
  static constexpr UINT kClose = 1038;

  // The five arguments go to the embedded CWaitDialog unchanged.
  CWaitThread(int unused, int kept, BOOL showMessage, int cancelFlag, CWnd* owner);
  // Ends a thread that still runs (its dialog closes) and waits for it.
  ~CWaitThread() override;

  // Starts the thread (default flags and stack). Returns once its message
  // queue exists, so a SetWaitText or CloseWaitDialog right after it is
  // never lost, even before the dialog is on screen. FALSE when the thread
  // already runs.
  BOOL StartWaitThread();
  // Keeps `text` and posts the advance message; the dialog steps its bar,
  // shows the text on its message line (when not empty) and repaints.
  // FALSE (ERROR_INVALID_THREAD_ID) when the thread is not running.
  BOOL SetWaitText(LPCWSTR text);
  // Posts the close message: the dialog ends with result 1 and the thread
  // ends. FALSE (ERROR_INVALID_THREAD_ID) when the thread is not running.
  BOOL CloseWaitDialog();

  CWaitDialog& dialog() { return dialog_; }
  // The dialog's result once the thread has ended (0 before).
  INT_PTR result() const { return result_.load(); }
  // The text kept by the last SetWaitText.
  CString wait_text() const;

 protected:
  // Runs the dialog modally, then returns FALSE so that the thread ends.
  BOOL InitInstance() override;

 private:
  void OnAdvance(WPARAM, LPARAM);
  void OnClose(WPARAM, LPARAM);

  CWaitDialog dialog_;
  mutable std::mutex text_mutex_;  // SetWaitText runs on the busy thread
  CString text_;
  std::atomic<INT_PTR> result_{0};
  DECLARE_MESSAGE_MAP()
};
