// The clone subsystem's entry into the program: the program's main() calls
// RegisterCloneCommands before it runs. It sets the shell's clone-page hook
// (the quick duplicate and the wizard reach the clone page through it), the
// wizard's page hooks (destination page; the source page's View and
// Diagnostic buttons open the sector viewer and the S.M.A.R.T. page) and
// lets Duplicate (and the Duplicate picture) run the clone wizard.
#pragma once

void RegisterCloneCommands();

// The quick duplicate: its source and destination pages, then the
// confirmation that opens the clone page through the clone-page hook. No
// menu entry leads here; the wizard is what Duplicate runs.
void RunQuickDuplicate();
