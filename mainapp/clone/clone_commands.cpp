#include "mainapp/clone/clone_commands.h"

#include "mainapp/clone/source_page.h"
#include "mainapp/shell/main_commands.h"

namespace {

// Duplicate: the clone wizard from its source page, rows reset, basic
// duplication chosen.
void Duplicate(CDrummetDlg&) { RunCloneWizard(nullptr); }

}  // namespace

void RegisterCloneCommands() {
  shell::RegisterMainCommand({shell::kCmdDuplicate, "Duplicate: the clone wizard", &Duplicate});
}
