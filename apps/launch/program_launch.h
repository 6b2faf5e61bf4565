// The start of every program of the suite on a simulated PC:
//   NAME [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//        [--screenshots DIR] [-- ARGS]
// Without --machine the demo PC is used (made when missing). The install
// folder is the staged folder of the build, shown on the simulated PC through
// a host mount added to the machine when it has none; ARGS become the
// program's command tail.
#pragma once

#include <string>

#include "platform/ui/cwnd.h"
#include "platform/ui/run_options.h"

namespace program_launch {

struct Program {
  const char* name;        // "yarv": in messages
  const char* folder;      // "Yarv": the install folder and its "Yarv.exe"
  const char* stage_dir;   // the staged install folder on the host
  const char* usage;       // the usage text printed with an error or --help
  // Started by another program of the suite, the program runs from the file
  // named by DRUM_IMAGE_PATH instead of its install folder.
  bool image_from_environment = false;
};

struct Launch {
  platform::ui::RunOptions options;
  std::u16string program_image;  // the program's file on the simulated PC
  std::u16string command_line;   // quoted image, then the command tail
};

// Parses the command line, makes the demo PC when needed, mounts the install
// folder and starts the machine. Returns -1 when the program is to run (with
// `launch` filled), else the exit status (0 after --help, 1 or 2 on errors).
int Prepare(int argc, char** argv, const Program& program, Launch* launch);

// Gives `app` its path and command line, installs the Qt view and runs it.
int Run(CWinApp& app, const Launch& launch);

}  // namespace program_launch
