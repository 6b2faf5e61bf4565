// drummetworks: the disk-cloning program on a simulated PC.
//   drummetworks [--machine DIR] [--ui qt|headless] [--script FILE] [--log FILE]
//                [--screenshots DIR] [-- ARGS]
// Without --machine the demo PC is used (made when missing). ARGS are the
// program's own command line, such as "/B ONECLICK". The program's install
// folder on the simulated PC is the staged folder of the build, shown at
// "C:\Program Files\Drummetworks" (at "X:\Drummetworks" when the machine
// runs WinPE) through a host mount that is added to the machine when it has
// none.
#include "apps/launch/program_launch.h"
#include "mainapp/clone/clone_commands.h"
#include "mainapp/migrate/migrate_commands.h"
#include "mainapp/partition/partition_manager_dialog.h"
#include "mainapp/scan/scan_pages.h"
#include "mainapp/shell/drummet_app.h"
#include "mainapp/shell/fennick_commands.h"
#include "mainapp/shell/pellimor_commands.h"
#include "mainapp/wipe/wipe_commands.h"

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
    "[-- ARGS]\n";

}  // namespace

int main(int argc, char** argv) {
  program_launch::Launch launch;
  const int status =
      program_launch::Prepare(argc, argv, {"drummetworks", "Drummetworks", DRUM_STAGE_DIR, kUsage}, &launch);
  if (status >= 0) return status;
  RegisterPartitionCommands();
  RegisterCloneCommands();
  RegisterPellimorCommands(PELLIMOR_EXECUTABLE);
  RegisterFennickCommands();
  RegisterWipeCommands();
  RegisterScanCommands();
  RegisterMigrateCommands();
  return program_launch::Run(theApp, launch);
}
