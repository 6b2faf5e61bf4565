// The clone's entries in the main dialog's command table. The program's
// main() calls RegisterCloneCommands() once, before the main dialog runs;
// tests that run the main dialog call it themselves.
#pragma once

void RegisterCloneCommands();
