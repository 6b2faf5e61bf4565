// A host copy of part of a sparse file that reads only its data extents, so
// a range of a terabyte image that is mostly holes costs what it holds.
#pragma once

#include <cstdint>
#include <string>

namespace test_support {

// Copies `count` bytes of `from`, starting at byte `offset`, into a new file
// `to` (replaced) of exactly `count` bytes; holes stay holes. False when a
// file cannot be opened or a transfer fails.
bool CopyRangeSparse(const std::string& from, uint64_t offset, uint64_t count, const std::string& to);

// Writes the data extents of the whole of `from` into the existing file `to`
// at byte `offset` on, leaving the rest of `to` as it was (its holes too).
bool PlaceSparse(const std::string& from, const std::string& to, uint64_t offset);

}  // namespace test_support
