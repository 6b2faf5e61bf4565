// CDrummetApp: the start of Drummetworks. InitInstance reads the settings
// record and the language texts, refuses a second instance, prepares the
// screen (WinPE) or starts the shadow-copy companion (Windows), shows the
// splash for four seconds and runs the main dialog; it always returns false,
// so no message loop of its own follows.
#pragma once

#include "platform/core/cstring.h"
#include "platform/ui/cwnd.h"

class CDrummetApp : public CWinApp {
 public:
  CDrummetApp();
  // Reads its arguments ("/B ONECLICK") from m_lpCmdLine.
  BOOL InitInstance() override;
  // The program's help is a set of pages beside it, opened as its Help
  // command opens them.
  void WinHelp(DWORD_PTR data, UINT command) override;

 protected:
  // Routes the help command (F1 in a dialog) to the framework's help handler.
  DECLARE_MESSAGE_MAP()
};

// Reads "\Resources\inf.dll" of the program folder into ShellState (texts 1
// to 3) and `language` (field 4). Returns the number of field 5, which no
// caller uses. A missing record ends the process with code 0, silently.
int LoadSettingsRecord(CString* language);
