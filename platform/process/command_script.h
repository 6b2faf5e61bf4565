// cmd.exe: a small command interpreter for the scripts the suite generates.
//
// "cmd.exe /C line" runs one command line; a line naming a .cmd or .bat file
// runs that script, one command per line, with the script's standard input
// and output redirected as the line says. Supported:
//   @ prefix, "@echo off"/"echo on", "echo text", "rem", "::" comments,
//   "cd [/d] folder", "X:" (change drive), "md"/"mkdir", "del", "exit [/b] [n]",
//   "call script [args]", %1..%9 and %% in scripts,
//   "format X: [/FS:NTFS|FAT32|FAT] [/q] [/V:label] [/Y]" (the platform
//   formatter; without /Y the first input line must answer y),
//   "mklink /D link target" (a folder symbolic link through the file API's
//   reparse points), and any other program by the search rules;
//   set, if, copy, xcopy, rd and %NAME% variables (command_builtins.h);
//   redirections "< file", "> file", ">> file" ("2>" and "2>&1" accepted and
//   ignored). The exit code is that of the last command (format: 0 done,
//   4 failed, 5 declined; a missing program: 9009).
#pragma once

#include <string>

#include "platform/process/process.h"

namespace platform::process {

// One command line in a fresh interpreter; returns its exit code.
DWORD RunCommandLine(const std::u16string& line, const std::u16string& folder, HANDLE std_input, HANDLE std_output);

}  // namespace platform::process
