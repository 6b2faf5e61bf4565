#include "mainapp/shell/fennick_commands.h"

#include "mainapp/shell/main_commands.h"
#include "platform/core/show_window.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

namespace {

void InstallFennick(CDrummetDlg&) {
  // The package path is quoted: the program folder may hold blanks.
  RunAndWait(u"msiexec.exe", u" /I \"" + ShellState.programFolder + u"\\FqkInstaller.msi\"", SW_SHOWNORMAL);
}

}  // namespace

void RegisterFennickCommands() {
  shell::RegisterMainCommand({shell::kCmdUsbToolInstaller, "install Fennick", &InstallFennick});
}
