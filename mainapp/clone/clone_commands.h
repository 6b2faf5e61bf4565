// The clone subsystem's entry into the program: the program's main() calls
// RegisterCloneCommands before it runs. It sets the shell's clone-page hook
// (the quick duplicate and the wizard reach the clone page through it) and,
// while no other tool has taken the Duplicate command, lets Duplicate run
// the quick duplicate pages (source, destination, confirmation).
#pragma once

void RegisterCloneCommands();
