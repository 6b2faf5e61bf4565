// Brings the stand-in platform up for one program run: opens the simulated PC
// and connects the layers that cannot call each other directly (a lower layer
// offers a seam, the layer above fills it here).
#pragma once

#include <string>

namespace platform::startup {

struct StartOptions {
  // Machine folder; empty means $DRUM_MACHINE_DIR, else the demo PC.
  std::string machine_dir;
  // The running program's path and command line on the simulated PC
  // ("C:\Program Files\...\Drummetworks.exe" and its arguments).
  std::u16string program_image;
  std::u16string command_line;
  // Interactive runs use real time; tests and scripted runs virtual time.
  bool real_time = false;
};

// Fills every cross-layer seam. Safe to call more than once.
void ConnectLayers();

// ConnectLayers, then opens the machine and sets the program's image.
// False with *error naming what failed.
bool Start(const StartOptions& options, std::string* error);

}  // namespace platform::startup
