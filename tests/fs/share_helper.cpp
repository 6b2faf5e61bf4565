// A second program on the same machine folder, for the shared-volume tests:
//   fs_share_helper MACHINE DISK PREFIX COUNT GO
// waits (up to 20 s) for the file GO to exist, so that two of them start
// writing together, then writes COUNT files PREFIX-n.txt (a few clusters
// each) to the root of the volume on disk DISK and reads each back. Exits 0
// only when every call succeeded and every file read back whole; otherwise
// prints what failed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/startup/startup.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"

namespace {

std::string body_of(const std::string& name) {
  std::string body;
  while (body.size() < 3000) body += name + " ";
  return body;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: fs_share_helper MACHINE DISK PREFIX COUNT GO\n");
    return 2;
  }
  platform::startup::StartOptions options;
  options.machine_dir = argv[1];
  std::string error;
  if (!platform::startup::Start(options, &error)) {
    std::fprintf(stderr, "start: %s\n", error.c_str());
    return 2;
  }
  int disk = std::atoi(argv[2]);
  std::string prefix = argv[3];
  int count = std::atoi(argv[4]);
  platform::storage::EnsureMounted();
  char16_t letter = 0;
  for (auto& v : platform::storage::MountedVolumes())
    if (v.disk_number == disk && v.letter) letter = v.letter;
  if (!letter) {
    std::fprintf(stderr, "disk %d has no lettered volume\n", disk);
    return 2;
  }
  struct stat st {};
  for (int waited = 0; ::stat(argv[5], &st) != 0; ++waited) {
    if (waited == 20000) {
      std::fprintf(stderr, "%s never appeared\n", argv[5]);
      return 2;
    }
    usleep(1000);
  }
  int failures = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < count; ++i) {
      std::string name = prefix + "-" + std::to_string(i) + ".txt";
      std::u16string path = std::u16string(1, letter) + u":\\" + platform::to_utf16(name);
      std::string body = body_of(name);
      HANDLE h = CreateFileW(path.c_str(), pass ? GENERIC_READ : GENERIC_WRITE, 0, nullptr,
                             pass ? OPEN_EXISTING : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "open %s (pass %d): error %u\n", name.c_str(), pass, GetLastError());
        ++failures;
        continue;
      }
      DWORD done = 0;
      if (pass == 0) {
        if (!WriteFile(h, body.data(), static_cast<DWORD>(body.size()), &done, nullptr) || done != body.size()) {
          std::fprintf(stderr, "write %s: error %u\n", name.c_str(), GetLastError());
          ++failures;
        }
      } else {
        std::vector<char> back(body.size() + 16);
        if (!ReadFile(h, back.data(), static_cast<DWORD>(back.size()), &done, nullptr) ||
            std::string(back.data(), done) != body) {
          std::fprintf(stderr, "read back %s: %u bytes, error %u\n", name.c_str(), done, GetLastError());
          ++failures;
        }
      }
      if (!CloseHandle(h)) {
        std::fprintf(stderr, "close %s: error %u\n", name.c_str(), GetLastError());
        ++failures;
      }
    }
  }
  return failures ? 1 : 0;
}
