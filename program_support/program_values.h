// Start-up values of the programs outside the disk-cloning shell (Pellimor,
// Yarv, Fennick), each program's own in its own process: defined once here,
// so that a build linking two of the programs' libraries still links.
#pragma once

#include "platform/core/cstring.h"

// Folder of the program file, no trailing backslash (Pellimor, Fennick): the
// very ShellState.programFolder the shared helpers (language files, tools)
// read, under the name these programs use.
extern CString& ProgramFolder;
// True when the program runs from a WinPE medium (Yarv, Fennick). Kept apart
// from ShellState.winPEMode, which the disk routines these programs share
// with the disk-cloning shell read: set from each program's own test (the
// Windows folder on X:) it would change what they allow.
extern bool WinPeMode;
