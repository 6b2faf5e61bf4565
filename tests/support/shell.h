// Shell commands for tests that check our output with outside tools (sfdisk,
// mtools, ntfs-3g's tools, hivexsh, ...): run one, collect what it printed.
#pragma once

#include <string>

namespace test_support {

struct CommandResult {
  int status = -1;     // the exit code, or -1 when the command did not start or did not exit normally
  std::string output;  // standard output (and standard error with Stderr::Merge)
};

// Where the command's standard error goes.
enum class Stderr { Merge, Drop, Keep };

// Runs `command` through /bin/sh and waits for it.
CommandResult RunCommand(const std::string& command, Stderr error_output = Stderr::Merge);

// The exit status of `command` with its standard error dropped; its standard
// output in *out when given.
int Shell(const std::string& command, std::string* out = nullptr);

// `text` as one single-quoted shell word, whatever it holds.
std::string Quote(const std::string& text);

}  // namespace test_support
