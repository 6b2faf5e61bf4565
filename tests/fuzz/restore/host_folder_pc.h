// A throw-away simulated PC for fuzz targets that read files the way Yarv
// does: its T: drive is a host folder the target writes its input into.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/machine/demo.h"
#include "platform/machine/machine.h"

namespace fuzz_support {

// Makes the PC under a new folder of /tmp named after `name` and opens it;
// `host_folder` is set to the folder behind T:. False when it cannot be made.
inline bool OpenHostFolderPc(const std::string& name, std::string& host_folder) {
  std::string pattern = "/tmp/" + name + "_XXXXXX";
  if (!mkdtemp(pattern.data())) return false;
  const std::string machine = pattern + "/pc";
  host_folder = pattern + "/t";
  std::string error;
  if (::mkdir(host_folder.c_str(), 0755) != 0 || !platform::machine::CreateMachineFolder(machine, &error)) return false;
  std::ofstream(machine + "/machine.ini", std::ios::app) << "\n[mount t]\npath = T:\nhost = " << host_folder << "\n";
  return platform::machine::OpenMachine(machine, &error);
}

}  // namespace fuzz_support
