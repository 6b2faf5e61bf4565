#include "apps/launch/program_launch.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/text.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/startup/startup.h"
#include "platform/ui/app_runner.h"
#include "platform/ui/qt/qt_view.h"

namespace program_launch {
namespace {

const char kMachineUsage[] =
    "  --machine DIR          the simulated PC to run on; without it the folder named by $DRUM_MACHINE, else\n"
    "                         $DRUM_MACHINE_DIR, else $DRUM_DEMO_DIR, else ~/.local/share/drumsuite/demo-pc,\n"
    "                         where the demo PC is made when the folder holds no machine\n";

int Usage(const Program& program, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n%s%s%s", program.name, why.c_str(), program.usage, kMachineUsage,
               platform::ui::kRunOptionsUsage);
  return 2;
}

int Fail(const Program& program, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program.name, what.c_str());
  return 1;
}

}  // namespace

// Qt wants a private runtime folder and warns on every start without one
// (headless runs have no session): one of the program's own, made once.
static void EnsureRuntimeFolder() {
  const char* set = std::getenv("XDG_RUNTIME_DIR");
  if (set && *set) return;
  const std::string folder = "/tmp/drumsuite-runtime-" + std::to_string(getuid());
  struct stat st {};
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
  // Only a folder of this user that nobody else may enter is used.
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077)) return;
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

int Prepare(int argc, char** argv, const Program& program, Launch* launch) {
  EnsureRuntimeFolder();
  std::string machine_dir;
  std::vector<const char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {  // the rest is the program's: ParseRunOptions keeps it as it stands
      for (; i < argc; ++i) rest.push_back(argv[i]);
      break;
    }
    if (a == "--machine") {
      if (i + 1 >= argc) return Usage(program, "--machine needs a folder");
      machine_dir = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }
  auto parsed = platform::ui::ParseRunOptions(static_cast<int>(rest.size()), rest.data());
  if (!parsed.ok) return Usage(program, parsed.error);
  if (parsed.help) {
    std::printf("%s%s%s", program.usage, kMachineUsage, platform::ui::kRunOptionsUsage);
    return 0;
  }

  std::string error;
  if (machine_dir.empty()) {
    machine_dir = platform::machine::DefaultMachineFolder();
    std::ifstream probe(machine_dir + "/machine.ini");
    if (!probe && !platform::machine::CreateDemoMachine(machine_dir, &error))
      return Fail(program, "the demo PC could not be made: " + error);
  }
  std::u16string program_image;
  if (const char* image = std::getenv("DRUM_IMAGE_PATH"); program.image_from_environment && image && *image) {
    program_image = platform::to_utf16(image);
  } else {
    std::string folder;
    if (!platform::machine::MountProgramFolder(machine_dir, program.folder, program.stage_dir, &folder, &error))
      return Fail(program, error);
    program_image = platform::to_utf16(folder) + u"\\" + platform::to_utf16(program.folder) + u".exe";
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
  if (!platform::startup::Start(start, &error)) return Fail(program, error);
  // The machine starts without a disk it cannot open, as a PC without a
  // drive would; the user is told which and why.
  if (auto machine = platform::machine::CurrentIfOpen())
    for (const platform::machine::MissingDisk& missing : machine->missing_disks())
      std::fprintf(stderr, "%s: disk %d of %s is missing: %s\n", program.name, missing.number, machine_dir.c_str(),
                   missing.reason.c_str());
  launch->options = parsed.options;
  launch->program_image = program_image;
  launch->command_line = start.command_line;
  return -1;
}

int Run(CWinApp& app, const Launch& launch) {
  app.SetProgramPath(launch.program_image);
  // What the program sees in m_lpCmdLine: its arguments after its own name.
  app.SetCommandLine(launch.command_line);
  platform::ui::qt::InstallQtView(launch.options);
  return platform::ui::RunWithOptions(app, launch.options);
}

}  // namespace program_launch
