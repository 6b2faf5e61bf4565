#include "tests/support/sparse_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace test_support {

namespace {

// Copies the data extents of [offset, offset + count) of `in` to `out`, each
// byte `shift` further on (negative: nearer the start); holes are skipped.
bool CopyExtents(int in, uint64_t offset, uint64_t count, int out, int64_t shift) {
  std::vector<char> buffer(4 << 20);
  off_t at = static_cast<off_t>(offset);
  const off_t end = static_cast<off_t>(offset + count);
  while (at < end) {
    const off_t data = ::lseek(in, at, SEEK_DATA);
    if (data < 0 || data >= end) break;  // no data left in the range
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    for (off_t p = data; p < hole;) {
      const size_t n = static_cast<size_t>(std::min<off_t>(hole - p, static_cast<off_t>(buffer.size())));
      if (::pread(in, buffer.data(), n, p) != static_cast<ssize_t>(n) ||
          ::pwrite(out, buffer.data(), n, p + shift) != static_cast<ssize_t>(n))
        return false;
      p += static_cast<off_t>(n);
    }
    at = hole;
  }
  return true;
}

}  // namespace

bool CopyRangeSparse(const std::string& from, uint64_t offset, uint64_t count, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const bool ok = in >= 0 && out >= 0 && ::ftruncate(out, static_cast<off_t>(count)) == 0 &&
                  CopyExtents(in, offset, count, out, -static_cast<int64_t>(offset));
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

bool PlaceSparse(const std::string& from, const std::string& to, uint64_t offset) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CLOEXEC);
  const off_t size = in >= 0 ? ::lseek(in, 0, SEEK_END) : -1;
  const bool ok = size >= 0 && out >= 0 && CopyExtents(in, 0, static_cast<uint64_t>(size), out, static_cast<int64_t>(offset));
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

}  // namespace test_support
