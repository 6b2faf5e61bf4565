// The main dialog's entries into the secure deletion: command 32772 and the
// double-click on the Delete picture open the target page, command 32773 the
// disk and partition viewer, command 32787 the disk health page.
#pragma once

// Adds the wipe's commands to the shell's command table; main() calls it
// before the main dialog runs.
void RegisterWipeCommands();
