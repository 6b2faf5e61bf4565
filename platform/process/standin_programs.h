// Entry points of the larger stand-in programs (registered in standins.cpp).
#pragma once

#include "platform/process/process.h"

namespace platform::process {

// bcdedit.exe and Vastrel.exe (bcd_store.cpp).
DWORD RunBcdEditor(const ProgramStart& start);
// cmd.exe (command_script.cpp).
DWORD RunCommandInterpreter(const ProgramStart& start);
// The deployment kit's image tool and its installer (deployment_kit.cpp).
DWORD RunOscdimg(const ProgramStart& start);
DWORD InstallDeploymentKit(const std::u16string& package_path);

}  // namespace platform::process
