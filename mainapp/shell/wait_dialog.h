// The wait dialog (dialog 192): a message line and a progress bar shown over
// a parent window while work goes on; it can offer a Cancel button that asks
// the owner to stop (message 1036) and waits to be closed.
#pragma once

#include "platform/core/cstring.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class CWaitDialog : public CDialog {
 public:
  static constexpr UINT IDD = 192;
  static constexpr int kMessageLine = 1110;
  static constexpr int kCancellingLine = 1111;
  static constexpr int kProgress = 1025;
  static constexpr int kStepButton = 1000;
  // Sent (without waiting) to the owner when the user presses Cancel.
  static constexpr UINT kCancelRequest = 1036;

  // `unused` is ignored; `kept` is stored; with `showMessage` the message
  // line shows the text of "nMessageStringID"; a non-zero `cancelFlag`
  // offers the Cancel button.
  CWaitDialog(int unused, int kept, BOOL showMessage, int cancelFlag, CWnd* owner);

  // Creates the dialog modeless with this owner and keeps it.
  virtual BOOL CreateWithOwner(CWnd* owner);

  void DoDataExchange(CDataExchange* dx) override;
  void OnShowWindow(BOOL show, UINT status);
  void OnCancel() override;
  void OnStep();
  void OnTimer(UINT_PTR id);
  // Advances the progress bar one step (the work of command 1000 without its pause).
  void StepProgress();

  const CString& message() const { return message_; }
  const CString& caption() const { return caption_; }
  int kept() const { return kept_; }

 private:
  CString message_;
  CString caption_;
  CProgressCtrl progress_;
  CWnd* owner_ = nullptr;
  int cancelFlag_ = 0;
  int kept_ = 0;
  DECLARE_MESSAGE_MAP()
};
