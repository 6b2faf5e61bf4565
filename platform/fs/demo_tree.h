// A small Windows-like tree on a simulated PC's system volume, for the demo
// PC: the Windows and System32 folders with Kernel32.dll, a real SYSTEM hive
// (MountedDevices, Select, ControlSet001), bootmgr and a BCD-shaped boot
// store hive, a hidden pagefile.sys, and the user's Desktop and Documents
// holding a few files. Written through the file API, so it works on any
// volume the file API can write.
#pragma once

#include <string>

#include "platform/core/types.h"

namespace platform::fs {

// Fills the volume with drive letter `letter`. Returns a Win32 error;
// *error names what could not be made.
DWORD PopulateDemoSystemVolume(WCHAR letter, std::string* error);

}  // namespace platform::fs
