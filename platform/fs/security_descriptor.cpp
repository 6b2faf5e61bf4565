#include "platform/fs/security_descriptor.h"

#include <cstring>

#include "platform/core/error.h"
#include "platform/core/little_endian.h"

namespace platform::fs {

namespace {

// Self-relative header: +0 revision, +1 padding, +2 control, +4 owner offset,
// +8 group offset, +12 SACL offset, +16 DACL offset; 20 bytes.
constexpr size_t kHeader = 20;
constexpr size_t kMaxPart = 65536;

// A SID: revision 1, sub-authority count (<= 15), 6-byte authority, count x 4 bytes.
size_t sid_size(const uint8_t* p, size_t avail) {
  if (avail < 8 || p[0] != 1 || p[1] > 15) return 0;
  size_t n = 8 + 4u * p[1];
  return n <= avail ? n : 0;
}
// An ACL: revision, padding, 2-byte total size, ...
size_t acl_size(const uint8_t* p, size_t avail) {
  if (avail < 8) return 0;
  size_t n = ReadLe16(p + 2);
  return n >= 8 && n <= avail ? n : 0;
}

}  // namespace

DWORD ParseSelfRelative(const uint8_t* b, size_t size, SecurityParts* out) {
  *out = SecurityParts{};
  if (size < kHeader || b[0] != 1) return ERROR_INVALID_DATA;
  WORD control = ReadLe16(b + 2);
  out->control = control & ~(SE_DACL_PRESENT | SE_SACL_PRESENT | SE_SELF_RELATIVE);
  struct {
    size_t field;
    std::optional<std::vector<uint8_t>>* part;
    bool is_sid;
    WORD present;
  } parts[] = {{4, &out->owner, true, 0},
               {8, &out->group, true, 0},
               {12, &out->sacl, false, SE_SACL_PRESENT},
               {16, &out->dacl, false, SE_DACL_PRESENT}};
  for (auto& p : parts) {
    uint32_t off = ReadLe32(b + p.field);
    if (p.present && !(control & p.present)) continue;
    if (!off) {
      if (p.present) *p.part = std::vector<uint8_t>{};  // present but null: everyone allowed
      continue;
    }
    if (off < kHeader || off >= size) return ERROR_INVALID_DATA;
    size_t n = p.is_sid ? sid_size(b + off, size - off) : acl_size(b + off, size - off);
    if (!n) return ERROR_INVALID_DATA;
    *p.part = std::vector<uint8_t>(b + off, b + off + n);
  }
  return ERROR_SUCCESS;
}

DWORD ParseProgramDescriptor(const void* descriptor, SecurityParts* out) {
  auto* b = static_cast<const uint8_t*>(descriptor);
  if (!b || b[0] != 1) return ERROR_INVALID_DATA;
  WORD control = ReadLe16(b + 2);
  if (control & SE_SELF_RELATIVE) {
    // The size is whatever its parts reach; each part is bounded by its own fields.
    size_t end = kHeader;
    for (size_t field : {4, 8, 12, 16}) {
      uint32_t off = ReadLe32(b + field);
      if (!off) continue;
      const uint8_t* p = b + off;
      size_t n = field < 12 ? sid_size(p, kMaxPart) : acl_size(p, kMaxPart);
      if (!n) return ERROR_INVALID_DATA;
      end = std::max<size_t>(end, off + n);
    }
    return ParseSelfRelative(b, end, out);
  }
  // Absolute: +0 revision, +2 control, +8 owner, +16 group, +24 SACL, +32 DACL pointers.
  *out = SecurityParts{};
  out->control = control & ~(SE_DACL_PRESENT | SE_SACL_PRESENT | SE_SELF_RELATIVE);
  const uint8_t* ptrs[4];
  std::memcpy(ptrs, b + 8, sizeof ptrs);
  if (ptrs[0]) {
    size_t n = sid_size(ptrs[0], kMaxPart);
    if (!n) return ERROR_INVALID_DATA;
    out->owner = std::vector<uint8_t>(ptrs[0], ptrs[0] + n);
  }
  if (ptrs[1]) {
    size_t n = sid_size(ptrs[1], kMaxPart);
    if (!n) return ERROR_INVALID_DATA;
    out->group = std::vector<uint8_t>(ptrs[1], ptrs[1] + n);
  }
  if (control & SE_SACL_PRESENT) {
    if (!ptrs[2]) {
      out->sacl = std::vector<uint8_t>{};
    } else {
      size_t n = acl_size(ptrs[2], kMaxPart);
      if (!n) return ERROR_INVALID_DATA;
      out->sacl = std::vector<uint8_t>(ptrs[2], ptrs[2] + n);
    }
  }
  if (control & SE_DACL_PRESENT) {
    if (!ptrs[3]) {
      out->dacl = std::vector<uint8_t>{};
    } else {
      size_t n = acl_size(ptrs[3], kMaxPart);
      if (!n) return ERROR_INVALID_DATA;
      out->dacl = std::vector<uint8_t>(ptrs[3], ptrs[3] + n);
    }
  }
  return ERROR_SUCCESS;
}

std::vector<uint8_t> BuildSelfRelative(const SecurityParts& parts) {
  std::vector<uint8_t> out(kHeader, 0);
  out[0] = 1;
  WORD control = parts.control | SE_SELF_RELATIVE;
  auto append = [&](const std::optional<std::vector<uint8_t>>& part, size_t field) {
    if (!part || part->empty()) return;
    WriteLe32(out.data() + field, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), part->begin(), part->end());
  };
  // Parts in the order the file system itself stores them: SACL, DACL, owner, group.
  if (parts.sacl) control |= SE_SACL_PRESENT;
  if (parts.dacl) control |= SE_DACL_PRESENT;
  append(parts.sacl, 12);
  append(parts.dacl, 16);
  append(parts.owner, 4);
  append(parts.group, 8);
  out[2] = static_cast<uint8_t>(control);
  out[3] = static_cast<uint8_t>(control >> 8);
  return out;
}

}  // namespace platform::fs
