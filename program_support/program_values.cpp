#include "program_support/program_values.h"

#include "program_support/shell_state.h"

CString& ProgramFolder = ShellState.programFolder;
bool WinPeMode = false;
