// The clone subsystem's entry into the program: the program's main() calls
// RegisterCloneCommands before it runs, so that the quick duplicate and the
// wizard reach the clone page.
#pragma once

void RegisterCloneCommands();
