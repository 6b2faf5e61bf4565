// Start-up values of the programs outside the disk-cloning shell (Pellimor,
// Yarv, Fennick), each program's own copy in its own process: defined once
// here, so that a build linking two of the programs' libraries still links.
// (The disk-cloning program keeps its start-up values in ShellState.)
#pragma once

#include "platform/core/cstring.h"

// Folder of the program file, no trailing backslash (Pellimor, Fennick).
extern CString ProgramFolder;
// True when the program runs from a WinPE medium (Yarv, Fennick).
extern bool WinPeMode;
