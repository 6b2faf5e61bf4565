// Helpers for file-system tests: scratch folders, sparse images made by
// Debian's tools, and running those tools as oracles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fstest {

// A fresh folder under $TMPDIR, removed with everything in it at destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct CommandResult {
  int status = -1;  // exit code, or -1 when it did not exit normally
  std::string output;  // stdout and stderr together
};

// Runs a shell command line.
CommandResult Run(const std::string& command);
// Quotes a path for the shell.
std::string Quote(const std::string& text);

// Makes a sparse file of `size` bytes.
void MakeSparseFile(const std::string& path, uint64_t size);
// mkntfs on a sparse image of `size` bytes with the given sector size; false on failure.
bool MakeNtfsImage(const std::string& path, uint64_t size, uint32_t sector_size, const std::string& label = "");

std::vector<uint8_t> ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Deterministic bytes for round trips.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed);

}  // namespace fstest
