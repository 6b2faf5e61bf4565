#include "tests/support/temp_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace test_support {

namespace fs = std::filesystem;

std::string MakeTempFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("cannot make a temporary folder " + pattern);
  return buffer.data();
}

TempFolder::TempFolder(const std::string& prefix) : path_(MakeTempFolder(prefix)) {}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Tests make entries read-only on purpose; the owner gets every right back first.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

}  // namespace test_support
