// pellimor: the USB boot-media writer on a simulated PC.
//   pellimor [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//            [--screenshots DIR]
// Without --machine the demo PC is used (made when missing). The program
// reads no command line of its own. Its install folder on the simulated PC
// is the staged folder of the build, shown at "C:\Program Files\Pellimor"
// (at "X:\Pellimor" when the machine runs WinPE) through a host mount that
// is added to the machine when it has none.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/text.h"
#include "platform/machine/demo.h"
#include "platform/startup/startup.h"
#include "platform/ui/app_runner.h"
#include "platform/ui/qt/qt_view.h"
#include "usbwriter/pellimor_pages.h"

#ifndef PELLIMOR_STAGE_DIR
#error "PELLIMOR_STAGE_DIR must name the staged install folder"
#endif

namespace {

CPellimorApp theApp;

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "pellimor: %s\nusage: pellimor [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE] "
               "[--screenshots DIR]\n",
               why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string machine_dir;
  std::vector<const char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--machine") {
      if (i + 1 >= argc) return Usage("--machine needs a folder");
      machine_dir = argv[++i];
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
      std::fprintf(stderr, "pellimor: the demo PC could not be made: %s\n", error.c_str());
      return 1;
    }
  }
  // Started by another program of the suite, Pellimor runs from the file that
  // program started (its own folder, on the simulated PC); otherwise from the
  // staged install folder.
  std::u16string program_image;
  if (const char* image = std::getenv("DRUM_IMAGE_PATH"); image && *image) {
    program_image = platform::to_utf16(image);
  } else {
    std::string folder;
    if (!platform::machine::MountProgramFolder(machine_dir, "Pellimor", PELLIMOR_STAGE_DIR, &folder, &error)) {
      std::fprintf(stderr, "pellimor: %s\n", error.c_str());
      return 1;
    }
    program_image = platform::to_utf16(folder) + u"\\Pellimor.exe";
  }
  platform::startup::StartOptions start;
  start.machine_dir = machine_dir;
  start.program_image = program_image;
  start.command_line = u"\"" + program_image + u"\"";
  start.real_time = parsed.options.effective_mode() == platform::ui::UiMode::View;
  if (!platform::startup::Start(start, &error)) {
    std::fprintf(stderr, "pellimor: %s\n", error.c_str());
    return 1;
  }
  theApp.SetProgramPath(program_image);
  theApp.SetCommandLine(start.command_line);
  platform::ui::qt::InstallQtView(parsed.options);
  return platform::ui::RunWithOptions(theApp, parsed.options);
}
