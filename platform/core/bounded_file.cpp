#include "platform/core/bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool ReadBoundedFile(const std::string& path, size_t limit, std::string* text, std::string* error) {
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = "cannot read " + path + " (" + std::strerror(errno) + ")";
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    *error = "cannot read " + path + " (" + std::strerror(errno) + ")";
  } else if (!S_ISREG(st.st_mode)) {
    *error = path + " is not a regular file";
    ok = false;
  } else if (static_cast<uint64_t>(st.st_size) > limit) {
    *error = path + " is " + std::to_string(st.st_size) + " bytes, more than the " + std::to_string(limit) +
             " such a file may hold";
    ok = false;
  }
  text->clear();
  char buffer[65536];
  while (ok) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read " + path + " (" + std::strerror(errno) + ")";
      ok = false;
    } else if (n == 0) {
      break;
    } else if (text->size() + static_cast<size_t>(n) > limit) {
      *error = path + " holds more than the " + std::to_string(limit) + " bytes such a file may hold";
      ok = false;
    } else {
      text->append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (!ok) text->clear();
  return ok;
}

}  // namespace platform
