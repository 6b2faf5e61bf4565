// Per-process state of a simulated program. The host process's own program and
// every stand-in program started in-process each have one; threads carry the
// context of the program that created them.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/core/types.h"

namespace platform::process {

struct ProcessContext {
  DWORD pid = 0;
  std::u16string image_path;    // "C:\Program Files\...\Drummetworks.exe"
  std::u16string command_line;  // as GetCommandLineW returns it
  std::u16string current_folder;  // empty: the machine's current folder (the host program)
  bool com_initialized = false;
  // Privileges of the process token: LUID low part -> attributes (SE_PRIVILEGE_*).
  std::mutex token_lock;
  std::map<DWORD, DWORD> privileges;
};

// The calling thread's program (the host program's context when none was set).
std::shared_ptr<ProcessContext> CurrentProcessContext();
void SetCurrentProcessContext(std::shared_ptr<ProcessContext> context);

// The host program's own context (pid, image path, command line).
std::shared_ptr<ProcessContext> HostProcessContext();

// A fresh context with an administrator's token and a new process id.
std::shared_ptr<ProcessContext> NewProcessContext(std::u16string image_path, std::u16string command_line);

// Sets the host program's image path on the simulated PC and its command line
// (the program's main() does this from its arguments).
void SetProgramImage(std::u16string image_path, std::u16string command_line);

}  // namespace platform::process
