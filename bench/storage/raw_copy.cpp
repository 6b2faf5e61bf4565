// Our whole program for the raw-disk benchmark's process rows: what a user
// would time beside dd. It opens a machine folder, opens \\.\PhysicalDrive0
// and copies blocks the way the tools' copy loops do.
//
//   raw_copy MACHINE read  BLOCK COUNT [direct]
//       ReadFile COUNT blocks from the start of the disk; checks each block's
//       stamp (its byte offset / 4096 in the low 40 bits of its first 8
//       bytes), where dd of=/dev/null drops them;
//   raw_copy MACHINE write BLOCK COUNT [direct] SOURCE
//       read()s COUNT blocks from the host file SOURCE (as dd if=SOURCE does)
//       and WriteFiles them; the close syncs the disk.
//
// "direct" opens the disk with FILE_FLAG_NO_BUFFERING (direct I/O on the
// image), as dd iflag=direct / oflag=direct. Exit status 0 when every block
// moved (and, reading, carried its stamp), else 1.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/machine/machine.h"
#include "platform/storage/ioctl.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: raw_copy MACHINE read|write BLOCK COUNT [direct] [SOURCE]\n");
    return 2;
  }
  const std::string folder = argv[1], mode = argv[2];
  const size_t block = std::strtoull(argv[3], nullptr, 10);
  const uint64_t count = std::strtoull(argv[4], nullptr, 10);
  bool direct = false;
  std::string source;
  for (int i = 5; i < argc; ++i) {
    if (std::string(argv[i]) == "direct") direct = true;
    else source = argv[i];
  }
  const bool writing = mode == "write";
  if (block == 0 || block > (1u << 30) || (writing && source.empty())) return 2;
  std::string error;
  if (!platform::machine::OpenMachine(folder, &error)) {
    std::fprintf(stderr, "raw_copy: %s\n", error.c_str());
    return 1;
  }
  void* memory = nullptr;
  if (posix_memalign(&memory, 4096, block) != 0) return 1;
  auto* buffer = static_cast<uint8_t*>(memory);
  HANDLE h = CreateFileW(u"\\\\.\\PhysicalDrive0", writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         direct ? FILE_FLAG_NO_BUFFERING : 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "raw_copy: cannot open the disk (error %u)\n", GetLastError());
    return 1;
  }
  int in = writing ? ::open(source.c_str(), O_RDONLY) : -1;
  if (writing && in < 0) return 1;
  bool ok = true;
  for (uint64_t i = 0; ok && i < count; ++i) {
    DWORD done = 0;
    if (writing) {
      ok = ::read(in, buffer, block) == static_cast<ssize_t>(block) &&
           WriteFile(h, buffer, static_cast<DWORD>(block), &done, nullptr) && done == block;
    } else {
      uint64_t stamp = 0;
      ok = ReadFile(h, buffer, static_cast<DWORD>(block), &done, nullptr) && done == block;
      if (ok) std::memcpy(&stamp, buffer, 8);
      ok = ok && (stamp & ((uint64_t(1) << 40) - 1)) == i * block / 4096;
    }
    if (!ok) std::fprintf(stderr, "raw_copy: block %llu failed\n", static_cast<unsigned long long>(i));
  }
  if (in >= 0) ::close(in);
  // The close syncs what this handle wrote.
  if (!CloseHandle(h)) ok = false;
  std::free(memory);
  return ok ? 0 : 1;
}
