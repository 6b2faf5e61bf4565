// Ending the running system after a disk change, and enabling one privilege
// of the process token.
#pragma once

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "program_support/token_privileges.h"  // EnableTokenPrivilege

// Actions of RestartOrShutdown under Windows.
constexpr UINT kExitRestart = 0;
constexpr UINT kExitShutDown = 1;
constexpr UINT kExitPowerOff = 2;
constexpr UINT kExitLogOff = 3;

// Under WinPE (ShellState.winPEMode) the action is not consulted: the WinPE
// utility is asked to shut down. Under Windows the shut-down privilege is
// enabled and the system is ended, forced, with the action mapped to its
// exit flags; an action above 3 does nothing. Nothing is reported.
void RestartOrShutdown(UINT action);


// Starts "wpeutil.exe" through the shell (verb "open", hidden, no working
// folder) with the parameters, without waiting or checking the start.
void RunWpeutil(const CString& parameters);
