// Test helper: a second program on the same simulated PC. Creates the
// single-instance mutex, prints "first" or "exists", and keeps the mutex until
// its standard input closes.
#include <cstdio>
#include <cstdlib>

#include "platform/process/machine_link.h"
#include "platform/process/sync.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::filesystem::path folder = argv[1];
  platform::process::MachineLink link;
  link.folder = [folder] { return folder; };
  link.log = [](const std::string&) {};
  platform::process::SetMachineLink(link);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"Local\\{371A4C21-B578-4180-8FF1-99EFB86CF281}");
  if (!mutex) return 3;
  std::puts(GetLastError() == ERROR_ALREADY_EXISTS ? "exists" : "first");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  CloseHandle(mutex);
  return 0;
}
