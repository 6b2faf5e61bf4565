// drummetworks: the disk-cloning program on a simulated PC.
//   drummetworks [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//                [--screenshots DIR] [-- ARGS]
// Without --machine the demo PC is used (made when missing). ARGS are the
// program's own command line, such as "/B ONECLICK". The program's install
// folder on the simulated PC is the staged folder of the build, shown at
// "C:\Program Files\Drummetworks" (at "X:\Drummetworks" when the machine
// runs WinPE) through a host mount that is added to the machine when it has
// none.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "mainapp/clone/clone_commands.h"
#include "mainapp/partition/partition_manager_dialog.h"
#include "mainapp/scan/scan_pages.h"
#include "mainapp/shell/drummet_app.h"
#include "mainapp/wipe/wipe_commands.h"
#include "mainapp/migrate/migrate_commands.h"
#include "platform/core/text.h"
#include "platform/machine/demo.h"
#include "platform/startup/startup.h"
#include "platform/ui/app_runner.h"
#include "platform/ui/qt/qt_view.h"
#include "usbwriter/pellimor_commands.h"
#include "pebuilder/fennick_commands.h"

#ifndef PELLIMOR_EXECUTABLE
#error "PELLIMOR_EXECUTABLE must name the program that plays Pellimor.exe"
#endif

#ifndef DRUM_STAGE_DIR
#error "DRUM_STAGE_DIR must name the staged install folder"
#endif

namespace {

CDrummetApp theApp;

constexpr char kUsage[] =
    "usage: drummetworks [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE] [--screenshots DIR] "
    "[-- ARGS]\n"
    "  --machine DIR          the simulated PC (default: the demo PC, made when missing)\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "drummetworks: %s\n%s%s", why.c_str(), kUsage, platform::ui::kRunOptionsUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterPartitionCommands();
  std::string machine_dir;
  std::vector<const char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {  // the rest is the program's: ParseRunOptions keeps it as it stands
      for (; i < argc; ++i) rest.push_back(argv[i]);
      break;
    }
    if (a == "--machine") {
      if (i + 1 >= argc) return Usage("--machine needs a folder");
      machine_dir = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }
  auto parsed = platform::ui::ParseRunOptions(static_cast<int>(rest.size()), rest.data());
  if (!parsed.ok) return Usage(parsed.error);
  if (parsed.help) {
    std::printf("%s%s", kUsage, platform::ui::kRunOptionsUsage);
    return 0;
  }

  std::string error;
  if (machine_dir.empty()) {
    machine_dir = platform::machine::DefaultMachineFolder();
    std::ifstream probe(machine_dir + "/machine.ini");
    if (!probe && !platform::machine::CreateDemoMachine(machine_dir, &error)) {
      std::fprintf(stderr, "drummetworks: the demo PC could not be made: %s\n", error.c_str());
      return 1;
    }
  }
  std::string folder;
  if (!platform::machine::MountProgramFolder(machine_dir, "Drummetworks", DRUM_STAGE_DIR, &folder, &error)) {
    std::fprintf(stderr, "drummetworks: %s\n", error.c_str());
    return 1;
  }
  const std::u16string program_image = platform::to_utf16(folder) + u"\\Drummetworks.exe";

  std::u16string command_line;
  for (const std::string& arg : parsed.options.program_args) {
    if (!command_line.empty()) command_line += u' ';
    command_line += platform::to_utf16(arg);
  }
  platform::startup::StartOptions start;
  start.machine_dir = machine_dir;
  start.program_image = program_image;
  start.command_line = u"\"" + program_image + u"\"" + (command_line.empty() ? u"" : u" " + command_line);
  start.real_time = parsed.options.effective_mode() == platform::ui::UiMode::View;
  if (!platform::startup::Start(start, &error)) {
    std::fprintf(stderr, "drummetworks: %s\n", error.c_str());
    return 1;
  }
  RegisterCloneCommands();
  RegisterPellimorCommands(PELLIMOR_EXECUTABLE);
  RegisterFennickCommands();
  theApp.SetProgramPath(program_image);
  // What the program sees in m_lpCmdLine: its arguments after its own name.
  theApp.SetCommandLine(start.command_line);
  RegisterCloneCommands();
  platform::ui::qt::InstallQtView(parsed.options);
  RegisterWipeCommands();
  RegisterScanCommands();
  RegisterMigrateCommands();
  return platform::ui::RunWithOptions(theApp, parsed.options);
}
