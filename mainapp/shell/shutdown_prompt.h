// The shut-down prompt (dialog 208): a caller-set message with a button that
// shuts the machine down at once and one that closes the prompt.
#pragma once

#include "platform/core/cstring.h"
#include "platform/ui/dialog.h"

// Set by the caller before DoModal.
extern CString shutdownPromptText;  // message (control 1121)
extern CString shutdownNowText;     // shut-down button (control 1129)
extern CString shutdownLaterText;   // close button (control 1128)

class CShutDown : public CDialog {
 public:
  static constexpr UINT IDD = 208;
  static constexpr int kMessageText = 1121;
  static constexpr int kLaterButton = 1128;
  static constexpr int kNowButton = 1129;

  explicit CShutDown(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  // Shuts the machine down; the prompt stays open while it goes down.
  void OnShutDownNow();
  void OnLater();

 private:
  DECLARE_MESSAGE_MAP()
};
