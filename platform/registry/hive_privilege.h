// Loading and unloading hives needs the backup and restore privileges. The
// process layer installs the check; until it does, every caller holds them.
#pragma once

#include <functional>

namespace platform::registry {

// `holds_privileges` answers whether the calling process has the backup and
// restore privileges enabled. An empty function restores "always".
void SetHivePrivilegeCheck(std::function<bool()> holds_privileges);
bool HoldsHivePrivileges();

}  // namespace platform::registry
