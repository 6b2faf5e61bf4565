// The restart prompt (dialog 207): a yes/no question after a change that
// Windows only sees after a restart. It shows either its own three fixed texts
// or three texts the caller sets; a caller message holding "%TIME%" counts
// down from 20 seconds and then accepts the prompt by itself.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/ui/dialog.h"

// Process-wide prompt inputs and result. Callers set the texts (and the flag
// to 0) before DoModal, put the flag back to 1 afterwards and read
// restartAccepted.
extern uint8_t restartPromptFixedTexts;  // 1: fixed texts; 0: the caller's three texts
extern CString restartPromptText;        // message line; may hold "%TIME%"
extern CString restartOkText;            // accept button
extern CString restartCancelText;        // refuse button
extern uint8_t restartAccepted;          // 1 accepted (button or countdown), 0 refused or closed

class CRestart : public CDialog {
 public:
  static constexpr UINT IDD = 207;
  static constexpr int kMessageText = 1123;
  static constexpr UINT_PTR kCountdownTimer = 1225;
  static constexpr int kCountdownSeconds = 20;

  explicit CRestart(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnTimer(UINT_PTR id);

 private:
  // The caller's message with every "%TIME%" replaced by the seconds left.
  void ShowRemaining();
  DECLARE_MESSAGE_MAP()
};
