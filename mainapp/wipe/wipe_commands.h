// The main dialog's entries into the secure deletion: kCmdDelete and the
// double-click on the Delete picture open the target page, kCmdViewer the
// disk and partition viewer, kCmdDiagnose the disk health page.
#pragma once

// Adds the wipe's commands to the shell's command table; main() calls it
// before the main dialog runs.
void RegisterWipeCommands();
