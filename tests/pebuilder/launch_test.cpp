// Drummetworks' installer of Fennick: after RegisterFennickCommands the main
// dialog's command 32794 runs msiexec on the program folder's
// FqkInstaller.msi (a folder with a blank in its name) and waits; the
// simulated PC's installer puts Fennick's folder under Program Files.
#include "mainapp/shell/fennick_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disk/fixture_images.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/shell/main_dialog.h"
#include "program_support/shell_state.h"
#include "usbwriter/fixture_iso.h"

namespace {

TEST(FennickCommands, InstallerRunsTheFennickPackage) {
  iso_fixture::TempFolder folder;
  std::filesystem::create_directories(folder.file("c/Windows/System32"));
  std::filesystem::create_directories(folder.file("c/Program Files/Drum Works"));
  std::ofstream(folder.file("c/Program Files/Drum Works/FqkInstaller.msi")) << "package";
  disk_fixture::SimulatedPc pc;
  pc.AppendIni("\n[mount c]\npath = C:\nhost = " + folder.file("c") + "\ndrive_type = fixed\n");
  pc.Boot();
  ShellState.programFolder = u"C:\\Program Files\\Drum Works";
  RegisterFennickCommands();
  ASSERT_NE(shell::FindMainCommand(shell::kCmdUsbToolInstaller), nullptr);
  CDrummetDlg dialog(nullptr);
  ASSERT_TRUE(shell::RunMainCommand(dialog, shell::kCmdUsbToolInstaller));
  EXPECT_TRUE(std::filesystem::is_directory(folder.file("c/Program Files/Corvelware/Fennick")));
  std::ifstream log(pc.folder() + "/machine.log");
  std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_NE(text.find("installed \"C:\\Program Files\\Drum Works\\FqkInstaller.msi\" exit=0"), std::string::npos)
      << text;
}

}  // namespace
