#include "platform/core/host_temp_file.h"

#include <stdlib.h>

#include <vector>

namespace platform {

std::string HostTempFolder() {
  const char* base = getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

int CreateHostTempFile(const std::string& prefix, std::string* path, const std::string& folder) {
  const std::string pattern = (folder.empty() ? HostTempFolder() : folder) + "/" + prefix + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd >= 0) *path = name.data();
  return fd;
}

}  // namespace platform
