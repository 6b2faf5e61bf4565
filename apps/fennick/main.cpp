// fennick: the WinPE media builder on a simulated PC.
//   fennick [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//           [--screenshots DIR] [-- ARGS]
// Without --machine the demo PC is used (made when missing). ARGS are the
// program's own command line ("/B ONECLICK" lets a second instance run). Its
// install folder on the simulated PC is the staged folder of the build,
// shown at "C:\Program Files\Fennick" (at "X:\Fennick" when the machine runs
// WinPE) through a host mount that is added to the machine when it has none.
// The last page starts Pellimor from the folder's Tools as a child process.
#include "apps/launch/program_launch.h"
#include "pebuilder/fennick_pages.h"
#include "platform/process/process.h"

#ifndef FENNICK_STAGE_DIR
#error "FENNICK_STAGE_DIR must name the staged install folder"
#endif

namespace {

CFennickApp theApp;

constexpr char kUsage[] =
    "usage: fennick [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE] [--screenshots DIR] [-- ARGS]\n";

}  // namespace

int main(int argc, char** argv) {
  program_launch::Launch launch;
  program_launch::Program program{"fennick", "Fennick", FENNICK_STAGE_DIR, kUsage};
  program.image_from_environment = false;
  const int status = program_launch::Prepare(argc, argv, program, &launch);
  if (status >= 0) return status;
  // The last page's hand-off: Pellimor runs as a child on the same PC.
  platform::process::RegisterHostProgram(u"Pellimor.exe", PELLIMOR_EXECUTABLE);
  return program_launch::Run(theApp, launch);
}
