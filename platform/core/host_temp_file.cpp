#include "platform/core/host_temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace platform {

namespace {

constexpr char kNamedMark[] = "-p";  // prefix-p<pid>-XXXXXX
constexpr char kSweptPrefix[] = "drum-";

std::string DescriptorFolder() { return "/proc/" + std::to_string(getpid()) + "/fd/"; }

// True when a path into this process's descriptors opens the file behind one.
bool HasDescriptorPaths() {
  static const bool has = [] {
    struct stat st {};
    return stat(("/proc/" + std::to_string(getpid()) + "/fd").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }();
  return has;
}

// A new file without a name in `folder`: O_TMPFILE where the file system
// offers it, else a name that is removed at once.
int CreateUnnamed(const std::string& folder, const std::string& prefix) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  const std::string pattern = folder + "/" + prefix + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.data());
  return fd;
}

// A named file prefix-p<pid>-XXXXXX, for hosts without descriptor paths.
int CreateNamed(const std::string& folder, const std::string& prefix, std::string* path) {
  const std::string pattern = folder + "/" + prefix + kNamedMark + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) *path = name.data();
  return fd;
}

// The descriptor that a descriptor path of this process names, or -1.
int DescriptorOf(const std::string& path) {
  const std::string folder = DescriptorFolder();
  if (path.compare(0, folder.size(), folder) != 0 || path.size() == folder.size()) return -1;
  int fd = 0;
  for (size_t i = folder.size(); i < path.size(); ++i) {
    if (path[i] < '0' || path[i] > '9' || fd > 100000000) return -1;
    fd = fd * 10 + (path[i] - '0');
  }
  return fd;
}

// The process id of a named scratch file "drum-...-p<pid>-XXXXXX[...]", or 0.
pid_t OwnerOf(const std::string& name) {
  if (name.compare(0, sizeof kSweptPrefix - 1, kSweptPrefix) != 0) return 0;
  for (size_t mark = name.find(kNamedMark); mark != std::string::npos; mark = name.find(kNamedMark, mark + 1)) {
    size_t end = mark + 2;
    pid_t pid = 0;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9' && pid < 100000000)
      pid = pid * 10 + (name[end++] - '0');
    // Digits, then "-" and the six characters of the unique part.
    if (end > mark + 2 && end + 7 <= name.size() && name[end] == '-') return pid;
  }
  return 0;
}

}  // namespace

std::string HostTempFolder() {
  const char* base = getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

int CreateHostTempFile(const std::string& prefix, std::string* path, const std::string& folder) {
  const std::string where = folder.empty() ? HostTempFolder() : folder;
  if (!HasDescriptorPaths()) return CreateNamed(where, prefix, path);
  const int fd = CreateUnnamed(where, prefix);
  if (fd >= 0) *path = DescriptorFolder() + std::to_string(fd);
  return fd;
}

int CreateNamedHostTempFile(const std::string& prefix, std::string* path, const std::string& folder) {
  return CreateNamed(folder.empty() ? HostTempFolder() : folder, prefix, path);
}

bool CreateNamedHostTempFolder(const std::string& prefix, std::string* path, const std::string& folder) {
  const std::string pattern = (folder.empty() ? HostTempFolder() : folder) + "/" + prefix + kNamedMark +
                              std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) return false;
  *path = name.data();
  return true;
}

void ReleaseHostTempFile(const std::string& path, int fd) {
  const int named_by_path = DescriptorOf(path);
  if (named_by_path >= 0) {
    ::close(named_by_path);
    if (fd >= 0 && fd != named_by_path) ::close(fd);
    return;
  }
  if (!path.empty()) ::unlink(path.c_str());
  if (fd >= 0) ::close(fd);
}

void SweepHostTempFiles(const std::string& folder) {
  const std::string where = folder.empty() ? HostTempFolder() : folder;
  DIR* dir = ::opendir(where.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t pid = OwnerOf(entry->d_name);
    if (pid <= 0 || pid == getpid()) continue;
    // Signal 0 only asks whether the process exists.
    if (::kill(pid, 0) != 0 && errno == ESRCH) {
      std::error_code ignored;
      std::filesystem::remove_all(where + "/" + entry->d_name, ignored);
    }
  }
  ::closedir(dir);
}

}  // namespace platform
