// CDrummetApp: the start of Drummetworks. InitInstance reads the settings
// record and the language texts, refuses a second instance, prepares the
// screen (WinPE) or starts the shadow-copy companion (Windows), shows the
// splash for four seconds and runs the main dialog; it always returns false,
// so no message loop of its own follows.
#pragma once

#include <string>

#include "platform/core/cstring.h"
#include "platform/ui/cwnd.h"

class CDrummetApp : public CWinApp {
 public:
  CDrummetApp();
  BOOL InitInstance() override;

  // The command line after the program name, as the program's starter hands
  // it over ("/B ONECLICK").
  void set_command_line(const std::u16string& text) { command_line_ = text; }

 private:
  std::u16string command_line_;
};

// Reads "\Resources\inf.dll" of the program folder into ShellState (texts 1
// to 3) and `language` (field 4). Returns the number of field 5, which no
// caller uses. A missing record ends the process with code 0, silently.
int LoadSettingsRecord(CString* language);
