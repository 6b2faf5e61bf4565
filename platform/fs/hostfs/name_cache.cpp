#include "platform/fs/hostfs/name_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/core/text.h"
#include "platform/fs/path_name.h"

namespace platform::fs::hostfs {

namespace {

constexpr size_t kMaxEntries = 1000000;
// Folders held at once; one more and the cache starts over (each holds a
// kernel watch, and the watches are shared by every program of the user).
constexpr size_t kMaxFolders = 4096;
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

std::u16string Folded(std::u16string_view name) {
  std::u16string out(name);
  for (auto& c : out) c = FoldCase(c);
  return out;
}

// A listing without the cache: every entry compared in turn.
NameMatch ListMatch(const std::string& folder, const std::u16string& name, std::string* actual) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return NameMatch::kNoFolder;
  NameMatch result = NameMatch::kMissing;
  size_t seen = 0;
  while (dirent* d = readdir(dir)) {
    if (++seen > kMaxEntries) break;
    if (EqualNoCase(to_utf16(d->d_name), name)) {
      *actual = d->d_name;
      result = NameMatch::kFound;
      break;
    }
  }
  closedir(dir);
  return result;
}

struct Folder {
  dev_t device = 0;
  ino_t inode = 0;
  // Folded name to the host names that fold to it, in listing order.
  std::unordered_map<std::u16string, std::vector<std::string>> names;

  void add(const std::string& host) {
    auto& spellings = names[Folded(to_utf16(host))];
    for (auto& s : spellings)
      if (s == host) return;
    spellings.push_back(host);
  }
  void remove(const std::string& host) {
    auto it = names.find(Folded(to_utf16(host)));
    if (it == names.end()) return;
    std::erase(it->second, host);
    if (it->second.empty()) names.erase(it);
  }
};

class NameCache {
 public:
  NameMatch match(const std::string& folder, const std::u16string& name, std::string* actual) {
    std::lock_guard g(mutex_);
    if (!ready()) return ListMatch(folder, name, actual);
    take_reports();
    if (overflowed_) {
      reset();
      if (!ready()) return ListMatch(folder, name, actual);
    }
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return NameMatch::kNoFolder;
    Folder* f = nullptr;
    if (auto w = watch_of_.find(folder); w != watch_of_.end()) {
      auto it = folders_.find(w->second);
      // The same path may now name another folder (moved away, made anew).
      if (it != folders_.end() && it->second.device == st.st_dev && it->second.inode == st.st_ino) f = &it->second;
    }
    if (!f) f = load(folder);
    if (!f) return ListMatch(folder, name, actual);
    auto it = f->names.find(Folded(name));
    if (it == f->names.end()) return NameMatch::kMissing;
    *actual = it->second.front();
    return NameMatch::kFound;
  }

  size_t size() {
    std::lock_guard g(mutex_);
    return folders_.size();
  }

 private:
  // The reports' descriptor, made anew in a child that inherited its
  // parent's (the two would take each other's reports).
  bool ready() {
    pid_t pid = getpid();
    if (pid != pid_) {
      reset();
      pid_ = pid;
      failed_ = false;
    }
    if (fd_ >= 0) return true;
    if (failed_) return false;
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    failed_ = fd_ < 0;
    return fd_ >= 0;
  }

  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    folders_.clear();
    watch_of_.clear();
    overflowed_ = false;
  }

  void take_reports() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        apply(*event);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  void apply(const inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
      overflowed_ = true;
      return;
    }
    auto it = folders_.find(event.wd);
    if (it == folders_.end()) return;
    if (event.mask & IN_IGNORED) {  // the folder was removed, or its file system unmounted
      folders_.erase(it);
      return;
    }
    if (event.len == 0) return;
    std::string host(event.name, strnlen(event.name, event.len));
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) it->second.add(host);
    if (event.mask & (IN_DELETE | IN_MOVED_FROM)) it->second.remove(host);
  }

  // Watches the folder first, then lists it: a change made while it is
  // listed is reported too, and a report replayed over a listing that
  // already shows its change leaves the same names.
  Folder* load(const std::string& folder) {
    if (folders_.size() >= kMaxFolders || watch_of_.size() >= kMaxFolders) {
      reset();
      if (!ready()) return nullptr;
    }
    int dir_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) return nullptr;
    struct stat st{};
    // Through the open descriptor, so the watch is on the folder listed here
    // even when the path is changed meanwhile.
    std::string self = "/proc/self/fd/" + std::to_string(dir_fd);
    int wd = fstat(dir_fd, &st) == 0 ? inotify_add_watch(fd_, self.c_str(), kWatchMask) : -1;
    if (wd < 0) {
      ::close(dir_fd);
      return nullptr;
    }
    watch_of_[folder] = wd;
    if (auto it = folders_.find(wd); it != folders_.end()) {  // reached before by another path
      ::close(dir_fd);
      return &it->second;
    }
    DIR* dir = fdopendir(dir_fd);
    if (!dir) {
      ::close(dir_fd);
      inotify_rm_watch(fd_, wd);
      watch_of_.erase(folder);
      return nullptr;
    }
    Folder f;
    f.device = st.st_dev;
    f.inode = st.st_ino;
    size_t seen = 0;
    bool whole = true;
    while (dirent* d = readdir(dir)) {
      if (++seen > kMaxEntries) {
        whole = false;
        break;
      }
      if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) f.add(d->d_name);
    }
    closedir(dir);
    if (!whole) {
      inotify_rm_watch(fd_, wd);
      watch_of_.erase(folder);
      return nullptr;
    }
    return &(folders_[wd] = std::move(f));
  }

  std::mutex mutex_;
  int fd_ = -1;
  pid_t pid_ = 0;
  bool failed_ = false;
  bool overflowed_ = false;
  std::unordered_map<int, Folder> folders_;        // by watch
  std::unordered_map<std::string, int> watch_of_;  // host path to watch
};

NameCache& cache() {
  static auto* c = new NameCache;
  return *c;
}

}  // namespace

NameMatch MatchName(const std::string& folder, const std::u16string& name, std::string* actual) {
  return cache().match(folder, name, actual);
}

size_t CachedFolderCount() { return cache().size(); }

}  // namespace platform::fs::hostfs
