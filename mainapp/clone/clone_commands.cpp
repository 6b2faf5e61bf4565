#include "mainapp/clone/clone_commands.h"

#include "mainapp/clone/clone_page.h"
#include "mainapp/shell/clone_page_hook.h"

void RegisterCloneCommands() { RunClonePage = &RunClonePageModal; }
