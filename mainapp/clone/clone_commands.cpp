#include "mainapp/clone/clone_commands.h"

#include "mainapp/clone/clone_page.h"
#include "mainapp/shell/clone_page_hook.h"
#include "mainapp/shell/duplicate_destination_page.h"
#include "mainapp/shell/duplicate_page.h"
#include "mainapp/shell/duplicate_source_page.h"
#include "mainapp/shell/main_commands.h"

namespace {

// Source, destination, then the confirmation that opens the clone page.
void RunQuickDuplicate(CDrummetDlg&) {
  CDuplicateSrc source;
  if (source.DoModal() != IDOK) return;
  CDuplicateDest destination;
  if (destination.DoModal() != IDOK) return;
  CDuplicate duplicate;
  duplicate.DoModal();
}

}  // namespace

void RegisterCloneCommands() {
  RunClonePage = &RunClonePageModal;
  if (!shell::FindMainCommand(shell::kCmdDuplicate))
    shell::RegisterMainCommand({shell::kCmdDuplicate, "Duplicate: the quick duplicate pages", &RunQuickDuplicate});
}
