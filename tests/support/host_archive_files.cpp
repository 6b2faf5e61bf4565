#include "tests/support/host_archive_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/text.h"

namespace test_support {

namespace {

class HostFile : public restore::ArchiveFile {
 public:
  HostFile(int fd, int64_t size) : fd_(fd), size_(size) {}
  ~HostFile() override { ::close(fd_); }
  int64_t read_at(int64_t offset, uint8_t* buffer, size_t n) override {
    if (offset < 0) return -1;
    int64_t total = 0;
    while (n > 0) {
      const ssize_t got = ::pread(fd_, buffer + total, n, offset + total);
      if (got < 0) return total ? total : -1;
      if (got == 0) break;
      total += got;
      n -= static_cast<size_t>(got);
    }
    return total;
  }
  int64_t size() const override { return size_; }

 private:
  int fd_;
  int64_t size_;
};

}  // namespace

std::unique_ptr<restore::ArchiveFile> HostArchiveFiles::open(const std::u16string& path) {
  std::string host = platform::to_utf8(path);
  for (char& c : host)
    if (c == '\\') c = '/';
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<HostFile>(fd, st.st_size);
}

}  // namespace test_support
