// The one table of the main dialog's commands: menu commands, and the
// pictures' double-clicks where they differ from the menu. The shell's own
// commands are built in; the tools (clone, wipe, partition manager,
// migration, the starts of the other programs) live in libraries above the
// shell and add their entries from the program's main() through
// RegisterMainCommand, before the main dialog runs. A command without an
// entry does nothing.
#pragma once

#include <span>

#include "platform/core/types.h"
#include "resources/menu_commands.h"

class CDrummetDlg;

namespace shell {

// The menu commands are resources/menu_commands.h's kCmd names.
// Double-clicks on pictures that do more than their menu command; above the
// range of command ids so they never collide with one.
constexpr UINT kCmdDuplicatePicture = 0x10002;
constexpr UINT kCmdDeletePicture = 0x10003;
// Not a command: run once as the main dialog starts, for a tool that keeps a
// choice between its runs (the viewer's ticked row) to forget it.
constexpr UINT kCmdMainDialogStart = 0x10004;

struct MainCommand {
  UINT command;
  const char* what;
  void (*run)(CDrummetDlg& dialog);
};

// Adds `entry` to the table, replacing an entry of the same command.
void RegisterMainCommand(const MainCommand& entry);
// Every entry of the table: the shell's own, then the registered ones.
std::span<const MainCommand> MainCommands();
// The entry of `command`, or null.
const MainCommand* FindMainCommand(UINT command);
// Runs the entry of `command`; false (and nothing done) when it has none.
bool RunMainCommand(CDrummetDlg& dialog, UINT command);

// Opens the help pages beside the program: under WinPE in the WinPE
// browser, under Windows in the default browser. A failed start is not
// reported. The Help command and the application's help (F1) both open them.
void OpenHelpPages();

}  // namespace shell
