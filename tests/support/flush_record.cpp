#include "tests/support/flush_record.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <mutex>

namespace flush_record {

std::atomic<bool> on{false};
int writes = 0;
int flushes = 0;
int writes_since_flush = 0;

namespace {

std::mutex lock;
std::string watched;  // the watched file's real path
int fail_from = -1;

bool is_watched(int fd) {
  char link[PATH_MAX];
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1);
  return n > 0 && std::string(link, static_cast<size_t>(n)) == watched;
}

int flushed(int fd, long call) {
  if (on && is_watched(fd)) {
    std::lock_guard g(lock);
    ++flushes;
    if (fail_from >= 0 && writes_since_flush >= fail_from) {
      errno = EIO;
      return -1;
    }
    writes_since_flush = 0;
  }
  return static_cast<int>(syscall(call, fd));
}

}  // namespace

void start(const std::string& path, int fail) {
  std::lock_guard g(lock);
  watched = std::filesystem::canonical(path).string();
  writes = flushes = writes_since_flush = 0;
  fail_from = fail;
  on = true;
}

}  // namespace flush_record

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t length, off_t offset) noexcept {
  ssize_t n = syscall(SYS_pwrite64, fd, buffer, length, offset);
  if (flush_record::on && n > 0 && flush_record::is_watched(fd)) {
    std::lock_guard g(flush_record::lock);
    ++flush_record::writes;
    ++flush_record::writes_since_flush;
  }
  return n;
}
extern "C" ssize_t pwrite64(int fd, const void* buffer, size_t length, off_t offset) noexcept {
  return pwrite(fd, buffer, length, offset);
}
extern "C" int fdatasync(int fd) noexcept { return flush_record::flushed(fd, SYS_fdatasync); }
extern "C" int fsync(int fd) noexcept { return flush_record::flushed(fd, SYS_fsync); }
