// The readable description of a simulated PC that `simpc show` prints.
#pragma once

#include <string>

#include "platform/machine/machine.h"

namespace simpc {

// Disks, partitions, volumes (with letters and file systems) and host drives
// of `machine`, as aligned text tables. Scans the machine's disks first.
std::string DescribeMachine(const std::shared_ptr<platform::machine::Machine>& machine);

// "8.0 GiB", "512 B", "1.5 MiB".
std::string FormatBytes(uint64_t bytes);

}  // namespace simpc
