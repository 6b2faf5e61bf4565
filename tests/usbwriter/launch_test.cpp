// Drummetworks' two starts of Pellimor: after RegisterPellimorCommands the
// main dialog's table runs Resources\Pellimor.exe of the program folder and
// waits, or opens Tools\Pellimor.exe and goes on; both starts reach the
// program on the simulated PC (a recording stand-in here) and the machine's
// log.
#include "mainapp/shell/pellimor_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disk/fixture_images.h"
#include "disk/fixture_programs.h"
#include "fixture_iso.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/shell/main_dialog.h"
#include "platform/core/clock.h"
#include "program_support/shell_state.h"

namespace {

TEST(PellimorCommands, BothStartsReachThePrograms) {
  iso_fixture::TempFolder folder;
  for (const char* sub : {"Resources", "Tools"}) {
    std::filesystem::create_directories(folder.file(sub));
    std::ofstream(folder.file(std::string(sub) + "/Pellimor.exe")) << "";
  }
  // The waited start runs in X:\Windows\System32, as on a WinPE medium.
  std::filesystem::create_directories(folder.file("x/Windows/System32"));
  disk_fixture::SimulatedPc pc;
  pc.AddDisk(disk_fixture::DiskSpec{});
  pc.AppendIni("\n[mount x]\npath = X:\nhost = " + folder.file("x") + "\ndrive_type = fixed\n");
  pc.AppendIni("\n[mount program]\npath = P:\nhost = " + folder.path + "\ndrive_type = fixed\n");
  pc.Boot();
  ShellState.programFolder = u"P:";
  RegisterPellimorCommands("/nonexistent/pellimor");
  // The host program is replaced by a stand-in that records its start.
  disk_fixture::ProgramRecord record;
  disk_fixture::RegisterRecordingProgram(u"Pellimor.exe", &record, 0, false);
  ASSERT_NE(shell::FindMainCommand(shell::kCmdPellimorResources), nullptr);
  ASSERT_NE(shell::FindMainCommand(shell::kCmdPellimorTools), nullptr);
  CDrummetDlg dialog(nullptr);
  ASSERT_TRUE(shell::RunMainCommand(dialog, shell::kCmdPellimorResources));
  EXPECT_EQ(record.starts, 1);
  ASSERT_TRUE(shell::RunMainCommand(dialog, shell::kCmdPellimorTools));
  for (int i = 0; i < 100 && record.starts < 2; ++i) Sleep(100);
  EXPECT_EQ(record.starts, 2);
  EXPECT_NE(record.command_line.find(u"Tools\\Pellimor.exe"), std::u16string::npos)
      << std::string(record.command_line.begin(), record.command_line.end());
  disk_fixture::UnregisterRecordingProgram(u"Pellimor.exe");
  std::ifstream log(pc.folder() + "/machine.log");
  std::string text((std::istreambuf_iterator<char>(log)), {});
  // The log writes backslashes doubled.
  EXPECT_NE(text.find("process: start program=\"P:\\\\Resources\\\\Pellimor.exe\""), std::string::npos) << text;
  EXPECT_NE(text.find("shell: open file=\"P:\\\\Tools\\\\Pellimor.exe\""), std::string::npos) << text;
}

}  // namespace
