#include "tests/support/shell.h"

#include <sys/wait.h>

#include <cstdio>

namespace test_support {

CommandResult RunCommand(const std::string& command, Stderr error_output) {
  CommandResult result;
  // Like the runners the tests had before: the redirection follows the
  // command, so it covers the last part of a list or pipeline only; callers
  // group a list with { ...; } to cover every part.
  std::string full = command;
  if (error_output == Stderr::Merge) full += " 2>&1";
  if (error_output == Stderr::Drop) full += " 2>/dev/null";
  FILE* pipe = popen(full.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

int Shell(const std::string& command, std::string* out) {
  CommandResult result = RunCommand(command, Stderr::Drop);
  if (out) *out = std::move(result.output);
  return result.status;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace test_support
