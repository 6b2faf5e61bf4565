// Scratch folders on the host for tests: made fresh below the temporary folder
// ($TMPDIR or /tmp) and, when owned by a TempFolder, removed with everything in
// it (read-only entries included) when the object goes.
#pragma once

#include <string>

namespace test_support {

// A new empty folder named `prefix` + "-XXXXXX"; throws std::runtime_error
// when none can be made.
std::string MakeTempFolder(const std::string& prefix);

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "drum-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace test_support
