#include "tests/support/sparse_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace test_support {

bool CopyRangeSparse(const std::string& from, uint64_t offset, uint64_t count, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = in >= 0 && out >= 0 && ::ftruncate(out, static_cast<off_t>(count)) == 0;
  std::vector<char> buffer(4 << 20);
  off_t at = static_cast<off_t>(offset);
  const off_t end = static_cast<off_t>(offset + count);
  while (ok && at < end) {
    const off_t data = ::lseek(in, at, SEEK_DATA);
    if (data < 0 || data >= end) break;  // no data left in the range
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    for (off_t p = data; ok && p < hole;) {
      const size_t n = static_cast<size_t>(std::min<off_t>(hole - p, static_cast<off_t>(buffer.size())));
      ok = ::pread(in, buffer.data(), n, p) == static_cast<ssize_t>(n) &&
           ::pwrite(out, buffer.data(), n, p - static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
      p += static_cast<off_t>(n);
    }
    at = hole;
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

}  // namespace test_support
