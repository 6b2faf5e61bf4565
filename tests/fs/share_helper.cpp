// A second program on the same machine folder, for the shared-volume tests.
// Every mode works on the lettered volume of disk DISK; a file named GO, DONE,
// READY or RELEASE is a signal between the processes (waited for up to 30 s).
//
//   fs_share_helper files MACHINE DISK PREFIX COUNT GO
//     waits for GO, then writes COUNT files PREFIX-n.txt (a few clusters each)
//     to the root and reads each back.
//   fs_share_helper keep-writing MACHINE DISK PREFIX GO DONE AFTER
//     waits for GO, then writes files PREFIX-n.txt one by one (an open refused
//     because the volume is locked is tried again) until DONE exists, then
//     AFTER more; reads back each file it began after DONE appeared, and
//     prints the first such n.
//   fs_share_helper raw MACHINE DISK SOURCE GO DONE
//     waits for GO, locks the volume (trying again while it is in use),
//     writes the host file SOURCE over it through the volume handle, lets go
//     and creates DONE.
//   fs_share_helper hold MACHINE DISK NAME READY RELEASE
//     creates the file NAME and keeps it open from READY until RELEASE exists.
//   fs_share_helper read MACHINE DISK OUT GO NAME...
//     opens every NAME, creates GO, reads them in small pieces in turn into
//     OUT/NAME on the host.
//   fs_share_helper read-shadow MACHINE DISK ORIGINALS GO ROUNDS NAME...
//     creates GO, then ROUNDS times takes a shadow copy of the volume and
//     reads every NAME from it, comparing each with ORIGINALS/NAME on the host.
//   fs_share_helper folders MACHINE DISK PREFIX COUNT GO
//     waits for GO, then creates COUNT folders PREFIX-n, each with a file.
// Exits 0 only when every call succeeded and every read gave the bytes
// written; otherwise prints what failed.
#include <sys/stat.h>
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
#include "platform/startup/startup.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"

namespace {

char16_t letter = 0;

std::string body_of(const std::string& name) {
  std::string body;
  while (body.size() < 3000) body += name + " ";
  return body;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool wait_for(const std::string& path) {
  for (int waited = 0; !exists(path); ++waited) {
    if (waited == 30000) {
      std::fprintf(stderr, "%s never appeared\n", path.c_str());
      return false;
    }
    usleep(1000);
  }
  return true;
}

void touch(const std::string& path) { std::ofstream(path) << "x"; }

std::u16string on_volume(const std::string& name) { return std::u16string(1, letter) + u":\\" + platform::to_utf16(name); }

// Creates (or reads back) one file; an open refused while another process
// holds the volume locked is tried again for a while.
bool write_file(const std::string& name, const std::string& body) {
  std::u16string path = on_volume(name);
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 30000; ++tries) {
    h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
    usleep(1000);
  }
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "create %s: error %u\n", name.c_str(), GetLastError());
    return false;
  }
  DWORD done = 0;
  bool ok = WriteFile(h, body.data(), static_cast<DWORD>(body.size()), &done, nullptr) && done == body.size();
  if (!ok) std::fprintf(stderr, "write %s: error %u\n", name.c_str(), GetLastError());
  if (!CloseHandle(h)) {
    std::fprintf(stderr, "close %s: error %u\n", name.c_str(), GetLastError());
    ok = false;
  }
  return ok;
}

bool read_back(const std::string& name, const std::string& body) {
  HANDLE h = CreateFileW(on_volume(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "open %s: error %u\n", name.c_str(), GetLastError());
    return false;
  }
  std::vector<char> back(body.size() + 16);
  DWORD done = 0;
  bool ok = ReadFile(h, back.data(), static_cast<DWORD>(back.size()), &done, nullptr) &&
            std::string(back.data(), done) == body;
  if (!ok) std::fprintf(stderr, "read back %s: %u bytes, error %u\n", name.c_str(), done, GetLastError());
  CloseHandle(h);
  return ok;
}

int files(const std::string& prefix, int count, const std::string& go) {
  if (!wait_for(go)) return 2;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    std::string name = prefix + "-" + std::to_string(i) + ".txt";
    failures += !write_file(name, body_of(name));
  }
  for (int i = 0; i < count; ++i) {
    std::string name = prefix + "-" + std::to_string(i) + ".txt";
    failures += !read_back(name, body_of(name));
  }
  return failures ? 1 : 0;
}

int keep_writing(const std::string& prefix, const std::string& go, const std::string& done, int after) {
  if (!wait_for(go)) return 2;
  int failures = 0, first_after = -1;
  for (int i = 0; first_after < 0 || i < first_after + after; ++i) {
    if (first_after < 0 && exists(done)) first_after = i;
    if (i > 100000) return 2;
    std::string name = prefix + "-" + std::to_string(i) + ".txt";
    // Files begun before the other process replaced the volume may be gone
    // with it; only the later ones must hold.
    bool ok = write_file(name, body_of(name));
    if (first_after >= 0) failures += !ok;
  }
  for (int i = first_after; i < first_after + after; ++i) {
    std::string name = prefix + "-" + std::to_string(i) + ".txt";
    failures += !read_back(name, body_of(name));
  }
  std::printf("%d\n", first_after);
  return failures ? 1 : 0;
}

int raw(const std::string& source, const std::string& go, const std::string& done) {
  std::ifstream in(source, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  if (bytes.empty()) return 2;
  if (!wait_for(go)) return 2;
  usleep(30000);  // the other process is well into its work
  WCHAR path[] = u"\\\\.\\X:";
  path[4] = letter;
  HANDLE volume = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "open %c: error %u\n", static_cast<char>(letter), GetLastError());
    return 1;
  }
  DWORD returned = 0;
  bool locked = false;
  for (int tries = 0; !locked && tries < 30000; ++tries) {
    locked = DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
    if (!locked) usleep(1000);
  }
  if (!locked) {
    std::fprintf(stderr, "lock: error %u\n", GetLastError());
    return 1;
  }
  int failures = 0;
  for (size_t at = 0; at < bytes.size(); at += 65536) {
    DWORD n = static_cast<DWORD>(std::min<size_t>(65536, bytes.size() - at)), written = 0;
    if (!WriteFile(volume, bytes.data() + at, n, &written, nullptr) || written != n) {
      std::fprintf(stderr, "write at %zu: error %u\n", at, GetLastError());
      ++failures;
      break;
    }
  }
  DeviceIoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseHandle(volume);
  touch(done);
  return failures ? 1 : 0;
}

int hold(const std::string& name, const std::string& ready, const std::string& release) {
  HANDLE h = CreateFileW(on_volume(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "create %s: error %u\n", name.c_str(), GetLastError());
    return 1;
  }
  std::string body = body_of(name);
  DWORD done = 0;
  if (!WriteFile(h, body.data(), static_cast<DWORD>(body.size()), &done, nullptr)) return 1;
  touch(ready);
  bool released = wait_for(release);
  // The volume may have been replaced meanwhile: the close may find the file gone.
  CloseHandle(h);
  return released ? 0 : 2;
}

int read_all(const std::string& out, const std::string& go, const std::vector<std::string>& names) {
  std::vector<HANDLE> handles;
  std::vector<std::string> bytes(names.size());
  for (auto& name : names) {
    handles.push_back(CreateFileW(on_volume(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handles.back() == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "open %s: error %u\n", name.c_str(), GetLastError());
      return 1;
    }
  }
  touch(go);
  int failures = 0;
  std::vector<bool> ended(names.size());
  for (size_t open = names.size(); open > 0;) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (ended[i]) continue;
      char piece[4096];
      DWORD done = 0;
      if (!ReadFile(handles[i], piece, sizeof piece, &done, nullptr)) {
        std::fprintf(stderr, "read %s at %zu: error %u\n", names[i].c_str(), bytes[i].size(), GetLastError());
        ++failures;
        done = 0;
      }
      bytes[i].append(piece, done);
      if (done == 0) {
        ended[i] = true;
        --open;
        CloseHandle(handles[i]);
      }
    }
    usleep(200);
  }
  for (size_t i = 0; i < names.size(); ++i) std::ofstream(out + "/" + names[i], std::ios::binary) << bytes[i];
  return failures ? 1 : 0;
}

int read_shadow(const std::string& originals, const std::string& go, int rounds, const std::vector<std::string>& names) {
  touch(go);
  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    DWORD error = 0;
    int copy = platform::fs::CreateShadowCopy(std::u16string(1, letter) + u":", &error);
    if (copy < 0) {
      std::fprintf(stderr, "round %d: no shadow copy, error %u\n", round, error);
      ++failures;
      continue;
    }
    for (auto& name : names) {
      std::ifstream in(originals + "/" + name, std::ios::binary);
      std::string want((std::istreambuf_iterator<char>(in)), {});
      std::u16string path = platform::fs::ShadowCopyDeviceName(copy) + u"\\" + platform::to_utf16(name);
      HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      std::string got(want.size() + 16, '\0');
      DWORD done = 0;
      if (h == INVALID_HANDLE_VALUE || !ReadFile(h, got.data(), static_cast<DWORD>(got.size()), &done, nullptr) ||
          got.substr(0, done) != want) {
        std::fprintf(stderr, "round %d: %s cannot be read whole from the shadow copy (%u bytes, error %u)\n", round,
                     name.c_str(), done, GetLastError());
        ++failures;
      }
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    platform::fs::ReleaseShadowCopy(copy);
    usleep(20000);
  }
  return failures ? 1 : 0;
}

int folders(const std::string& prefix, int count, const std::string& go) {
  if (!wait_for(go)) return 2;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    std::string name = prefix + "-" + std::to_string(i);
    if (!CreateDirectoryW(on_volume(name).c_str(), nullptr)) {
      std::fprintf(stderr, "folder %s: error %u\n", name.c_str(), GetLastError());
      ++failures;
      continue;
    }
    failures += !write_file(name + "\\note.txt", body_of(name));
  }
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: fs_share_helper MODE MACHINE DISK ...\n");
    return 2;
  }
  platform::startup::StartOptions options;
  options.machine_dir = args[1];
  std::string error;
  if (!platform::startup::Start(options, &error)) {
    std::fprintf(stderr, "start: %s\n", error.c_str());
    return 2;
  }
  int disk = std::atoi(args[2].c_str());
  platform::storage::EnsureMounted();
  for (auto& v : platform::storage::MountedVolumes())
    if (v.disk_number == disk && v.letter) letter = v.letter;
  if (!letter) {
    std::fprintf(stderr, "disk %d has no lettered volume\n", disk);
    return 2;
  }
  const std::string& mode = args[0];
  if (mode == "files" && args.size() == 6) return files(args[3], std::atoi(args[4].c_str()), args[5]);
  if (mode == "keep-writing" && args.size() == 7) return keep_writing(args[3], args[4], args[5], std::atoi(args[6].c_str()));
  if (mode == "raw" && args.size() == 6) return raw(args[3], args[4], args[5]);
  if (mode == "hold" && args.size() == 6) return hold(args[3], args[4], args[5]);
  if (mode == "read" && args.size() >= 6) return read_all(args[3], args[4], {args.begin() + 5, args.end()});
  if (mode == "read-shadow" && args.size() >= 7)
    return read_shadow(args[3], args[4], std::atoi(args[5].c_str()), {args.begin() + 6, args.end()});
  if (mode == "folders" && args.size() == 6) return folders(args[3], std::atoi(args[4].c_str()), args[5]);
  std::fprintf(stderr, "unknown mode or arguments: %s\n", mode.c_str());
  return 2;
}
