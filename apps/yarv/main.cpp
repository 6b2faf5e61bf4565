// yarv: the restore program on a simulated PC.
//   yarv [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//        [--screenshots DIR] [-- ARGS]
// Without --machine the demo PC is used (made when missing). ARGS are the
// program's command tail ("/r C: 0 1", "Uninstall"). Its install folder on
// the simulated PC is the staged folder of the build, shown at
// "C:\Program Files\Yarv" (at "X:\Yarv" when the machine runs WinPE) through
// a host mount added to the machine when it has none. The program restores
// the archive appended to its own file: started with DRUM_IMAGE_PATH naming
// a self-extracting archive on the simulated PC, it runs from that file.
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
#include "restore/yarv_app.h"

#ifndef YARV_STAGE_DIR
#error "YARV_STAGE_DIR must name the staged install folder"
#endif

namespace {

CYarvApp theApp;

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "yarv: %s\nusage: yarv [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE] "
               "[--screenshots DIR] [-- ARGS]\n",
               why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string machine_dir;
  std::vector<const char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {  // the rest is the program's command tail
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

  std::string error;
  if (machine_dir.empty()) {
    machine_dir = platform::machine::DefaultMachineFolder();
    std::ifstream probe(machine_dir + "/machine.ini");
    if (!probe && !platform::machine::CreateDemoMachine(machine_dir, &error)) {
      std::fprintf(stderr, "yarv: the demo PC could not be made: %s\n", error.c_str());
      return 1;
    }
  }
  std::u16string program_image;
  if (const char* image = std::getenv("DRUM_IMAGE_PATH"); image && *image) {
    program_image = platform::to_utf16(image);
  } else {
    std::string folder;
    if (!platform::machine::MountProgramFolder(machine_dir, "Yarv", YARV_STAGE_DIR, &folder, &error)) {
      std::fprintf(stderr, "yarv: %s\n", error.c_str());
      return 1;
    }
    program_image = platform::to_utf16(folder) + u"\\Yarv.exe";
  }
  std::u16string tail;
  for (const std::string& arg : parsed.options.program_args) {
    if (!tail.empty()) tail += u' ';
    tail += platform::to_utf16(arg);
  }
  platform::startup::StartOptions start;
  start.machine_dir = machine_dir;
  start.program_image = program_image;
  start.command_line = u"\"" + program_image + u"\"" + (tail.empty() ? u"" : u" " + tail);
  start.real_time = parsed.options.effective_mode() == platform::ui::UiMode::View;
  if (!platform::startup::Start(start, &error)) {
    std::fprintf(stderr, "yarv: %s\n", error.c_str());
    return 1;
  }
  theApp.SetProgramPath(program_image);
  theApp.SetCommandLine(start.command_line);
  platform::ui::qt::InstallQtView(parsed.options);
  return platform::ui::RunWithOptions(theApp, parsed.options);
}
