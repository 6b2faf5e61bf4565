// Another program of the simulated PC, for the snapshot tests:
//   fs_snapshot_helper MACHINE write LETTER NAME TEXT   rewrites file NAME in
//       the root of volume LETTER: with TEXT, repeated to 40,000 bytes
//   fs_snapshot_helper MACHINE raw DISK OFFSET LENGTH BYTE   writes LENGTH
//       bytes of value BYTE at OFFSET of disk DISK through its device
//   fs_snapshot_helper MACHINE hold LETTER READY   takes a shadow copy of
//       volume LETTER:, creates the file READY and waits to be killed
// Exits 0 when every call succeeded, else prints what failed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shadow_copy.h"
#include "platform/machine/machine.h"
#include "platform/startup/startup.h"
#include "platform/storage/mount_manager.h"

namespace {

int fail(const std::string& what) {
  std::fprintf(stderr, "%s: error %u\n", what.c_str(), GetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: fs_snapshot_helper MACHINE write|raw|hold ...\n");
    return 2;
  }
  platform::startup::StartOptions options;
  options.machine_dir = argv[1];
  std::string error;
  if (!platform::startup::Start(options, &error)) {
    std::fprintf(stderr, "start: %s\n", error.c_str());
    return 2;
  }
  platform::storage::EnsureMounted();
  std::string mode = argv[2];
  if (mode == "write" && argc == 6) {
    std::u16string path = platform::to_utf16(std::string(argv[3]) + ":\\" + argv[4]);
    std::string body;
    while (body.size() < 40000) body += argv[5];
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail("open " + std::string(argv[4]));
    DWORD done = 0;
    if (!WriteFile(h, body.data(), static_cast<DWORD>(body.size()), &done, nullptr) || done != body.size())
      return fail("write");
    if (!CloseHandle(h)) return fail("close");
    return 0;
  }
  if (mode == "raw" && argc == 7) {
    auto machine = platform::machine::CurrentIfOpen();
    auto disk = machine ? machine->disk(std::atoi(argv[3])) : nullptr;
    if (!disk) return fail("disk");
    std::vector<uint8_t> bytes(std::strtoull(argv[5], nullptr, 0), static_cast<uint8_t>(std::atoi(argv[6])));
    if (!disk->device()->write_at(std::strtoull(argv[4], nullptr, 0), bytes.data(), bytes.size())) return fail("raw write");
    return disk->device()->flush() ? 0 : fail("flush");
  }
  if (mode == "hold" && argc == 5) {
    DWORD e = 0;
    int n = platform::fs::CreateShadowCopy(platform::to_utf16(std::string(argv[3]) + ":"), &e);
    if (n < 0) {
      SetLastError(e);
      return fail("shadow copy");
    }
    std::ofstream(argv[4]) << n;
    for (;;) pause();
  }
  std::fprintf(stderr, "bad arguments\n");
  return 2;
}
