// Helpers for file-system tests: scratch folders, sparse images made by
// Debian's tools, and running those tools as oracles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/byte_patterns.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace fstest {

// A fresh folder under $TMPDIR, removed with everything in it at destruction.
class ScratchDir : public test_support::TempFolder {
 public:
  ScratchDir() : TempFolder("drum-fs") {}
};

using test_support::CommandResult;
using test_support::Quote;
// Runs a shell command line, its standard error with its output.
inline CommandResult Run(const std::string& command) { return test_support::RunCommand(command); }

// Makes a sparse file of `size` bytes.
void MakeSparseFile(const std::string& path, uint64_t size);
// mkntfs on a sparse image of `size` bytes with the given sector size; false on failure.
bool MakeNtfsImage(const std::string& path, uint64_t size, uint32_t sector_size, const std::string& label = "");

std::vector<uint8_t> ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Deterministic bytes for round trips.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) { return test_support::XorshiftBytes(size, seed); }

}  // namespace fstest
