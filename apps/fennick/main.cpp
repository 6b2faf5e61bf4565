// fennick: the WinPE media builder on a simulated PC.
//   fennick [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//           [--screenshots DIR] [-- ARGS]
// Without --machine the demo PC is used (made when missing). ARGS are the
// program's own command line ("/B ONECLICK" lets a second instance run). Its
// install folder on the simulated PC is the staged folder of the build,
// shown at "C:\Program Files\Fennick" (at "X:\Fennick" when the machine runs
// WinPE) through a host mount that is added to the machine when it has none.
// The last page starts Pellimor from the folder's Tools as a child process.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pebuilder/fennick_pages.h"
#include "platform/core/text.h"
#include "platform/machine/demo.h"
#include "platform/process/process.h"
#include "platform/startup/startup.h"
#include "platform/ui/app_runner.h"
#include "platform/ui/qt/qt_view.h"

#ifndef FENNICK_STAGE_DIR
#error "FENNICK_STAGE_DIR must name the staged install folder"
#endif

namespace {

CFennickApp theApp;

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "fennick: %s\nusage: fennick [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE] "
               "[--screenshots DIR] [-- ARGS]\n",
               why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string machine_dir;
  std::u16string program_args;
  std::vector<const char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--machine") {
      if (i + 1 >= argc) return Usage("--machine needs a folder");
      machine_dir = argv[++i];
    } else if (a == "--") {
      for (++i; i < argc; ++i) {
        if (!program_args.empty()) program_args += u" ";
        program_args += platform::to_utf16(argv[i]);
      }
    } else {
      rest.push_back(argv[i]);
    }
  }
  auto parsed = platform::ui::ParseRunOptions(static_cast<int>(rest.size()), rest.data());
  if (!parsed.ok) return Usage(parsed.error);

  std::string error;
  if (machine_dir.empty()) {
    machine_dir = platform::machine::DefaultMachineFolder();
    std::ifstream probe(machine_dir + "/machine.ini");
    if (!probe && !platform::machine::CreateDemoMachine(machine_dir, &error)) {
      std::fprintf(stderr, "fennick: the demo PC could not be made: %s\n", error.c_str());
      return 1;
    }
  }
  std::string folder;
  if (!platform::machine::MountProgramFolder(machine_dir, "Fennick", FENNICK_STAGE_DIR, &folder, &error)) {
    std::fprintf(stderr, "fennick: %s\n", error.c_str());
    return 1;
  }
  const std::u16string program_image = platform::to_utf16(folder) + u"\\Fennick.exe";
  platform::startup::StartOptions start;
  start.machine_dir = machine_dir;
  start.program_image = program_image;
  start.command_line = u"\"" + program_image + u"\"" + (program_args.empty() ? u"" : u" " + program_args);
  start.real_time = parsed.options.effective_mode() == platform::ui::UiMode::View;
  if (!platform::startup::Start(start, &error)) {
    std::fprintf(stderr, "fennick: %s\n", error.c_str());
    return 1;
  }
  // The last page's hand-off: Pellimor runs as a child on the same PC.
  platform::process::RegisterHostProgram(u"Pellimor.exe", PELLIMOR_EXECUTABLE);
  theApp.SetProgramPath(program_image);
  theApp.SetCommandLine(start.command_line);
  platform::ui::qt::InstallQtView(parsed.options);
  return platform::ui::RunWithOptions(theApp, parsed.options);
}
