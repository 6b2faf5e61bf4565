#include "program_support/program_values.h"

CString ProgramFolder;
bool WinPeMode = false;
