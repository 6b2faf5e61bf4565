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
#include "apps/launch/program_launch.h"
#include "restore/yarv_app.h"

#ifndef YARV_STAGE_DIR
#error "YARV_STAGE_DIR must name the staged install folder"
#endif

namespace {

CYarvApp theApp;

constexpr char kUsage[] =
    "usage: yarv [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE] [--screenshots DIR] [-- ARGS]\n";

}  // namespace

int main(int argc, char** argv) {
  program_launch::Launch launch;
  program_launch::Program program{"yarv", "Yarv", YARV_STAGE_DIR, kUsage};
  program.image_from_environment = true;
  const int status = program_launch::Prepare(argc, argv, program, &launch);
  if (status >= 0) return status;
  return program_launch::Run(theApp, launch);
}
