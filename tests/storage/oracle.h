// Helpers for storage tests: scratch image files and running Debian tools on them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/core/block_device.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace storage_test {

struct CommandOutput {
  int exit_code = -1;
  std::string text;  // stdout and stderr together
};

inline CommandOutput RunTool(const std::string& command) {
  test_support::CommandResult result = test_support::RunCommand(command);
  return {result.status, std::move(result.output)};
}

inline bool HaveTool(const std::string& name) {
  return RunTool("command -v " + name + " >/dev/null").exit_code == 0;
}

// A sparse image file in a private scratch folder, removed with the object.
class ScratchImage {
 public:
  explicit ScratchImage(uint64_t size, const std::string& name = "disk.img") {
    folder_ = test_support::MakeTempFolder("storage-test");
    path_ = folder_ + "/" + name;
    FILE* f = fopen(path_.c_str(), "wb");
    if (f) {
      fclose(f);
      std::filesystem::resize_file(path_, size);
    }
  }
  ~ScratchImage() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }
  std::shared_ptr<platform::FileBlockDevice> open(uint32_t sector_size) const {
    return std::shared_ptr<platform::FileBlockDevice>(platform::FileBlockDevice::open(path_, sector_size));
  }

 private:
  std::string folder_;
  std::string path_;
};

}  // namespace storage_test
