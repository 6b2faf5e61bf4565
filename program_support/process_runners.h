// Process runners and the message pump: outside programs started
// synchronously, and the pump that keeps dialogs alive inside long loops.
// None of them shows a message to the user.
#pragma once

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "program_support/message_pump.h"

// Whether this 32-bit process runs on 64-bit Windows (false also when the
// query fails); it decides which runner and which helper binaries to use.
bool IsWow64();

// Added to the exit code of a started program (computed in 32 bits), so the
// low 12 bits hold the exit code and a failed start (a plain error code) is
// told apart.
constexpr DWORD kRunResultBase = 0xF000;

// Shell start with the verb "open", waits without limit; exit code + 0xF000,
// or the last error of a failed start.
DWORD RunAndWait(const CString& file, const CString& parameters, int show);
// The same after initialising COM (apartment-threaded, OLE1 DDE disabled).
DWORD RunAndWaitWithCom(const CString& file, const CString& parameters, int show);
// Creates the process in "X:\Windows\System32" with " " + arguments as its
// command line, shows the wait cursor, polls its exit code (100 ms sleeps, 4 s
// waits, at most 30000 polls). True when the process was created.
bool RunProcessAndWait(const CString& executable, const CString& arguments);
// The same, also giving the program's exit code (STILL_ACTIVE when it had
// not ended when the polls stopped); untouched when it did not start.
bool RunProcessForExitCode(const CString& executable, const CString& arguments, DWORD* exit_code);
// Shows system folder + "\" + tool + arguments in a plain message box, then
// starts the program's bcdedit.exe with no command line and no window and
// polls it like RunProcessAndWait.
void RunSystemToolTraced(const CString& tool, const CString& arguments);
// The bcdedit.exe that RunSystemToolTraced starts.
extern const WCHAR* const TracedToolPath;
