// Whole-file reads and writes on the simulated PC through the file API, for
// the stand-in programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/types.h"

namespace platform::process {

// Reads at most `limit` bytes; false (with the last error set) when the file
// cannot be opened or is larger than `limit`.
bool ReadSimulatedFile(const std::u16string& path, std::vector<uint8_t>* bytes, size_t limit = 64u << 20);
// Creates or replaces the file with `bytes`.
bool WriteSimulatedFile(const std::u16string& path, const std::vector<uint8_t>& bytes);
bool WriteSimulatedFile(const std::u16string& path, std::string_view text);
// Creates every missing folder of an absolute path ("C:\A\B"); false when
// one cannot be made.
bool MakeSimulatedFolders(const std::u16string& path);
// A handle for appending or reading, for redirections; null with the last error set.
HANDLE OpenSimulatedFile(const std::u16string& path, bool for_writing, bool append);

}  // namespace platform::process
