// Test helper: a pipe server in another host process of the same simulated
// PC. Serves "\\.\pipe\<name>" (message pipe, one instance) for one client:
// reads one request and answers it repeated `count` times, then prints
// "served" and ends. Prints "ready" once the pipe exists.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/core/text.h"
#include "platform/process/machine_link.h"
#include "platform/process/named_pipe.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::filesystem::path folder = argv[1];
  platform::process::MachineLink link;
  link.folder = [folder] { return folder; };
  link.log = [](const std::string&) {};
  platform::process::SetMachineLink(link);
  std::u16string name = u"\\\\.\\pipe\\" + platform::to_utf16(argv[2]);
  int count = std::atoi(argv[3]);
  HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, 0,
                                 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return 3;
  std::puts("ready");
  std::fflush(stdout);
  if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 4;
  char request[4096];
  DWORD got = 0;
  if (!ReadFile(pipe, request, sizeof(request), &got, nullptr)) return 5;
  std::string reply;
  for (int i = 0; i < count; ++i) reply.append(request, got);
  DWORD written = 0;
  WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
  char byte;
  while (ReadFile(pipe, &byte, 1, &got, nullptr) || GetLastError() == ERROR_MORE_DATA) {
  }
  DisconnectNamedPipe(pipe);
  CloseHandle(pipe);
  std::puts("served");
  std::fflush(stdout);
  return 0;
}
