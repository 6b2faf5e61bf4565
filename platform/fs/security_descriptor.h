// Security descriptors as bytes: taking one apart and putting a
// self-relative one together, so GetFileSecurityW can hand out only the parts
// asked for and SetFileSecurityW can replace only the parts given.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/core/types.h"

namespace platform::fs {

constexpr WORD SE_DACL_PRESENT = 0x0004;
constexpr WORD SE_SACL_PRESENT = 0x0010;
constexpr WORD SE_SELF_RELATIVE = 0x8000;
// The control bits that belong to one part: set with it, kept without it.
constexpr WORD SE_OWNER_DEFAULTED = 0x0001;
constexpr WORD SE_GROUP_DEFAULTED = 0x0002;
constexpr WORD SE_DACL_DEFAULTED = 0x0008;
constexpr WORD SE_SACL_DEFAULTED = 0x0020;
constexpr WORD SE_DACL_AUTO_INHERITED = 0x0400;
constexpr WORD SE_SACL_AUTO_INHERITED = 0x0800;
constexpr WORD SE_DACL_PROTECTED = 0x1000;
constexpr WORD SE_SACL_PROTECTED = 0x2000;

struct SecurityParts {
  WORD control = 0;  // without the present and self-relative bits
  std::optional<std::vector<uint8_t>> owner, group, sacl, dacl;  // SIDs and ACLs as bytes
};

// Reads a self-relative descriptor of `size` bytes. ERROR_INVALID_SECURITY_DESCR
// (as ERROR_INVALID_DATA) when an offset or length leaves the buffer.
DWORD ParseSelfRelative(const uint8_t* bytes, size_t size, SecurityParts* out);
// Reads a descriptor a program built in memory: self-relative (sizes taken
// from its own fields) or absolute (pointers to its parts).
DWORD ParseProgramDescriptor(const void* descriptor, SecurityParts* out);
std::vector<uint8_t> BuildSelfRelative(const SecurityParts& parts);

}  // namespace platform::fs
