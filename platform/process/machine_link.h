// What this library needs from the simulated PC, behind one replaceable seam.
//
// The defaults read the machine that platform/machine has open (folder, OS
// facts, folders, log); with none open, the folder comes from DRUM_MACHINE or
// DRUM_MACHINE_DIR (else a per-user folder under /tmp). Paths on the simulated
// PC and the current folder come from the file API. Tests fill every member
// with fixtures.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/core/types.h"

namespace platform::process {

struct OsFacts {
  DWORD major = 6;
  DWORD minor = 1;
  DWORD build = 7601;
  DWORD platform_id = 2;  // NT family
  std::u16string service_pack = u"Service Pack 1";
  WORD service_pack_major = 1;
  WORD service_pack_minor = 0;
  WORD suite_mask = 0x0100;  // single-user terminal services
  BYTE product_type = 1;     // workstation
  bool wow64 = false;        // the programs run as 32-bit code on a 64-bit system
  bool winpe = false;
};

struct MachineLink {
  // Host folder of the simulated PC (lock files, pipe sockets, log).
  std::function<std::filesystem::path()> folder;
  // Appends one line to the machine's log of what it did.
  std::function<void(const std::string& line)> log;
  // Attributes of a path on the simulated PC, INVALID_FILE_ATTRIBUTES (0xFFFFFFFF) when absent.
  std::function<DWORD(const std::u16string& path)> file_attributes;
  // The system folder ("C:\Windows\System32" or "X:\Windows\System32" under WinPE).
  std::function<std::u16string()> system_folder;
  // The Windows folder.
  std::function<std::u16string()> windows_folder;
  // The current folder of the calling program, with no trailing backslash.
  std::function<std::u16string()> current_folder;
  // The simulated PC's PATH variable (folders separated by ';').
  std::function<std::u16string()> path_variable;
  std::function<OsFacts()> os;
};

// The link in use; every member is always callable.
const MachineLink& Machine();
// Replaces members that are set in `link`; unset members keep their current value.
void SetMachineLink(const MachineLink& link);
// Puts the defaults back (tests).
void ResetMachineLink();

// Writes one line to the machine log ("process: ..." style lines).
void MachineLog(const std::string& line);

}  // namespace platform::process
