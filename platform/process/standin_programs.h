// Entry points of the larger stand-in programs (registered in standins.cpp).
#pragma once

#include "platform/process/process.h"

namespace platform::process {

// bcdedit.exe and Vastrel.exe (bcd_store.cpp).
DWORD RunBcdEditor(const ProgramStart& start);
// cmd.exe (command_script.cpp).
DWORD RunCommandInterpreter(const ProgramStart& start);

}  // namespace platform::process
