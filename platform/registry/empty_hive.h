// Builds a new, empty hive file: the base block and one bin holding the root
// key and its security record. hivex cannot make a hive from nothing but opens
// and extends this one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/types.h"

namespace platform::registry {

struct EmptyHiveOptions {
  // Name of the root key, stored as 8-bit text ("ROOT" for a system hive;
  // callers choose what the hive's users expect). 1 to 255 printable ASCII characters.
  std::string root_name = "ROOT";
  // Last-written time of the header, the bin and the root key, in 100 ns units
  // since 1601. Fixed by default so that the same options give the same bytes.
  uint64_t timestamp = 0;
};

// The whole file, 8192 bytes; empty when the root name is not acceptable.
std::vector<BYTE> BuildEmptyHive(const EmptyHiveOptions& options);

// Writes BuildEmptyHive to `host_path`, replacing a file of that name.
// ERROR_INVALID_PARAMETER for a bad root name, ERROR_CANTWRITE when the file
// cannot be written.
LONG CreateEmptyHive(const std::string& host_path, const EmptyHiveOptions& options = {});

// The header checksum: XOR of the first 127 little-endian 32-bit words, with
// 0 and 0xFFFFFFFF (values the format reserves) replaced by 1 and 0xFFFFFFFE.
uint32_t HiveHeaderChecksum(const BYTE* header);

}  // namespace platform::registry
