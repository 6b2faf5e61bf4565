// pellimor: the USB boot-media writer on a simulated PC.
//   pellimor [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//            [--screenshots DIR]
// Without --machine the demo PC is used (made when missing). The program
// reads no command line of its own. Its install folder on the simulated PC
// is the staged folder of the build, shown at "C:\Program Files\Pellimor"
// (at "X:\Pellimor" when the machine runs WinPE) through a host mount that
// is added to the machine when it has none.
#include "apps/launch/program_launch.h"
#include "usbwriter/pellimor_pages.h"

#ifndef PELLIMOR_STAGE_DIR
#error "PELLIMOR_STAGE_DIR must name the staged install folder"
#endif

namespace {

CPellimorApp theApp;

constexpr char kUsage[] =
    "usage: pellimor [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE] [--screenshots DIR]\n";

}  // namespace

int main(int argc, char** argv) {
  program_launch::Launch launch;
  program_launch::Program program{"pellimor", "Pellimor", PELLIMOR_STAGE_DIR, kUsage};
  program.image_from_environment = true;
  const int status = program_launch::Prepare(argc, argv, program, &launch);
  if (status >= 0) return status;
  return program_launch::Run(theApp, launch);
}
