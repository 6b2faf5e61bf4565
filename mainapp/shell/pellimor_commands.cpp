#include "mainapp/shell/pellimor_commands.h"

#include "mainapp/shell/main_commands.h"
#include "platform/core/clock.h"
#include "platform/process/process.h"
#include "program_support/path_helpers.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

namespace {

void RunPellimorFromResources(CDrummetDlg&) {
  // The path ends with a blank, as the command line is built from it.
  RunProcessAndWait(ShellState.programFolder + u"\\Resources\\Pellimor.exe ", CString());
}

void OpenPellimorFromTools(CDrummetDlg&) {
  CString path = ShellState.programFolder + u"\\Tools\\Pellimor.exe";
  ShellExecuteW(nullptr, u"open", path, nullptr, nullptr, SW_SHOWNORMAL);
  Sleep(5000);
}

}  // namespace

void RegisterPellimorCommands(const std::filesystem::path& executable) {
  platform::process::RegisterHostProgram(u"Pellimor.exe", executable);
  shell::RegisterMainCommand({shell::kCmdPellimorResources, "start Pellimor and wait", &RunPellimorFromResources});
  shell::RegisterMainCommand({shell::kCmdPellimorTools, "open Pellimor", &OpenPellimorFromTools});
}
