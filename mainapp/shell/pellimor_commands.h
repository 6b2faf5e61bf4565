// Drummetworks' two starts of Pellimor, registered in its main dialog's
// command table: kCmdPellimorResources runs Resources\Pellimor.exe of the
// program folder and waits for it; kCmdPellimorTools opens Tools\Pellimor.exe
// through the shell and goes on after five seconds. Pellimor runs as a real
// child process on the same simulated PC: `executable` is the host program
// that plays Pellimor.exe.
#pragma once

#include <filesystem>

void RegisterPellimorCommands(const std::filesystem::path& executable);
