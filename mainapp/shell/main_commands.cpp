#include "mainapp/shell/main_commands.h"

#include <iterator>
#include <vector>

#include "mainapp/shell/about_dialog.h"
#include "mainapp/shell/boot_fix.h"
#include "mainapp/shell/install_driver_page.h"
#include "mainapp/shell/main_dialog.h"
#include "platform/process/process.h"
#include "program_support/shell_state.h"

namespace shell {
namespace {

void Exit(CDrummetDlg& dialog) { dialog.ExitProgram(); }

void Help(CDrummetDlg&) { OpenHelpPages(); }

void About(CDrummetDlg&) {
  CAboutDlg about;
  about.DoModal();
}

void DriverInstallation(CDrummetDlg&) {
  CInstallDriver page(nullptr);
  page.DoModal();
}

// The Duplicate picture first repoints a marked boot store (which ends the
// program when a marker exists), then goes on as the Duplicate command.
void DuplicatePicture(CDrummetDlg& dialog) {
  if (ApplyBootFix()) return;
  RunMainCommand(dialog, kCmdDuplicate);
}

constexpr MainCommand kShellCommands[] = {
    {kCmdExit, "Exit", &Exit},
    {kCmdHelp, "Help", &Help},
    {kCmdAbout, "About", &About},
    {kCmdDriverInstallation, "Driver Installation", &DriverInstallation},
    {kCmdDuplicatePicture, "Duplicate picture: boot fix, then Duplicate", &DuplicatePicture},
};

// Filled once at start-up, before any window runs a command.
std::vector<MainCommand>& Table() {
  static std::vector<MainCommand> table(std::begin(kShellCommands), std::end(kShellCommands));
  return table;
}

}  // namespace

void RegisterMainCommand(const MainCommand& entry) {
  for (MainCommand& existing : Table())
    if (existing.command == entry.command) {
      existing = entry;
      return;
    }
  Table().push_back(entry);
}

std::span<const MainCommand> MainCommands() { return Table(); }

void OpenHelpPages() {
  CString path = ShellState.programFolder;
  path += u"\\Help\\index.htm";
  if (ShellState.winPEMode)
    ShellExecuteW(nullptr, u"open", u"opera.exe", path, nullptr, SW_HIDE);
  else
    ShellExecuteW(nullptr, u"open", path, nullptr, nullptr, SW_HIDE);
}

const MainCommand* FindMainCommand(UINT command) {
  for (const MainCommand& entry : Table())
    if (entry.command == command) return &entry;
  return nullptr;
}

bool RunMainCommand(CDrummetDlg& dialog, UINT command) {
  const MainCommand* entry = FindMainCommand(command);
  if (!entry) return false;
  entry->run(dialog);
  return true;
}

}  // namespace shell
