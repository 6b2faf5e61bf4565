#include "platform/registry/empty_hive.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/core/error.h"

namespace platform::registry {
namespace {

constexpr uint32_t kPageSize = 0x1000;
constexpr uint32_t kNoCell = 0xFFFFFFFF;

#pragma pack(push, 1)
// The base block at file offset 0 (the rest up to 0x1000 is reserved).
struct BaseBlock {
  char signature[4];          // +0x000 "regf"
  uint32_t primary_seq;       // +0x004 equal sequence numbers: the hive is consistent
  uint32_t secondary_seq;     // +0x008
  uint64_t last_written;      // +0x00c FILETIME
  uint32_t major_version;     // +0x014 1
  uint32_t minor_version;     // +0x018 5: subkey lists may be "lh" (hivex writes those)
  uint32_t file_type;         // +0x01c 0 = primary file
  uint32_t file_format;       // +0x020 1 = memory image
  uint32_t root_cell;         // +0x024 offset of the root key cell from the first bin
  uint32_t bins_size;         // +0x028 bytes of all bins
  uint32_t clustering;        // +0x02c 1
  uint8_t file_name[64];      // +0x030 tail of the file name, UTF-16LE, may be empty
  uint8_t reserved[396];      // +0x070
  uint32_t checksum;          // +0x1fc XOR of the 127 words before it
};
static_assert(sizeof(BaseBlock) == 0x200);
static_assert(offsetof(BaseBlock, root_cell) == 0x24);
static_assert(offsetof(BaseBlock, checksum) == 0x1fc);

// The header of each bin.
struct BinHeader {
  char signature[4];          // +0x00 "hbin"
  uint32_t offset;            // +0x04 this bin's offset from the first bin
  uint32_t size;              // +0x08 multiple of 0x1000
  uint8_t reserved[8];        // +0x0c
  uint64_t timestamp;         // +0x14 FILETIME, meaningful in the first bin only
  uint32_t spare;             // +0x1c
};
static_assert(sizeof(BinHeader) == 0x20);

// A key record, after its cell's 4-byte size (negative: cell in use).
struct KeyRecord {
  char signature[2];          // +0x00 "nk"
  uint16_t flags;             // +0x02
  uint64_t last_written;      // +0x04 FILETIME
  uint32_t access_bits;       // +0x0c
  uint32_t parent;            // +0x10 parent key cell; unused for the root
  uint32_t subkey_count;      // +0x14
  uint32_t volatile_count;    // +0x18
  uint32_t subkey_list;       // +0x1c kNoCell when there are none
  uint32_t volatile_list;     // +0x20
  uint32_t value_count;       // +0x24
  uint32_t value_list;        // +0x28
  uint32_t security;          // +0x2c the "sk" cell
  uint32_t class_name;        // +0x30
  uint32_t max_subkey_name;   // +0x34
  uint32_t max_subkey_class;  // +0x38
  uint32_t max_value_name;    // +0x3c
  uint32_t max_value_data;    // +0x40
  uint32_t work_var;          // +0x44
  uint16_t name_length;       // +0x48 bytes of the name
  uint16_t class_length;      // +0x4a
  // +0x4c the name, 8-bit when flags has kKeyCompressedName
};
static_assert(sizeof(KeyRecord) == 0x4c);
static_assert(offsetof(KeyRecord, security) == 0x2c);
static_assert(offsetof(KeyRecord, name_length) == 0x48);

// A security record, after its cell size.
struct SecurityRecord {
  char signature[2];          // +0x00 "sk"
  uint16_t reserved;          // +0x02
  uint32_t flink;             // +0x04 next security record in the ring (itself when alone)
  uint32_t blink;             // +0x08 previous one
  uint32_t references;        // +0x0c keys that use it
  uint32_t descriptor_size;   // +0x10
  // +0x14 self-relative security descriptor
};
static_assert(sizeof(SecurityRecord) == 0x14);
#pragma pack(pop)

constexpr uint16_t kKeyHiveEntry = 0x0004;
constexpr uint16_t kKeyNoDelete = 0x0008;
constexpr uint16_t kKeyCompressedName = 0x0020;

// The root key's security descriptor, self-relative: owner Administrators,
// group SYSTEM, a DACL granting full access to Administrators and SYSTEM and
// read access to Everyone, each inherited by subkeys.
std::vector<BYTE> root_security_descriptor() {
  auto sid = [](std::vector<BYTE>& out, std::initializer_list<uint32_t> sub) {
    out.push_back(1);                                    // revision
    out.push_back(static_cast<BYTE>(sub.size()));        // subauthority count
    const BYTE authority = sub.size() == 1 && *sub.begin() == 0 ? 1 : 5;  // S-1-1 (world) or S-1-5 (NT)
    for (int i = 0; i < 5; ++i) out.push_back(0);
    out.push_back(authority);
    for (uint32_t s : sub)
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(s >> (8 * i)));
  };
  auto put16 = [](std::vector<BYTE>& out, size_t at, uint32_t v) {
    out[at] = static_cast<BYTE>(v);
    out[at + 1] = static_cast<BYTE>(v >> 8);
  };
  auto put32 = [](std::vector<BYTE>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(v >> (8 * i));
  };
  constexpr uint32_t kFullAccess = 0xF003F, kReadAccess = 0x20019;
  constexpr BYTE kAccessAllowed = 0, kContainerInherit = 0x02;

  std::vector<BYTE> sd(20, 0);
  sd[0] = 1;                        // revision
  put16(sd, 2, 0x8000 | 0x0004);    // self-relative, DACL present
  const size_t owner = sd.size();
  sid(sd, {32, 544});
  const size_t group = sd.size();
  sid(sd, {18});
  const size_t dacl = sd.size();
  sd.resize(sd.size() + 8, 0);      // ACL header, filled below
  struct Ace {
    uint32_t mask;
    std::initializer_list<uint32_t> sid;
  };
  const Ace aces[] = {{kFullAccess, {32, 544}}, {kFullAccess, {18}}, {kReadAccess, {0}}};
  for (const Ace& ace : aces) {
    const size_t start = sd.size();
    sd.resize(start + 8, 0);
    sd[start] = kAccessAllowed;
    sd[start + 1] = kContainerInherit;
    put32(sd, start + 4, ace.mask);
    sid(sd, ace.sid);
    put16(sd, start + 2, static_cast<uint32_t>(sd.size() - start));
  }
  sd[dacl] = 2;                                              // ACL revision
  put16(sd, dacl + 2, static_cast<uint32_t>(sd.size() - dacl));  // ACL size
  put16(sd, dacl + 4, 3);                                    // ACE count
  put32(sd, 4, static_cast<uint32_t>(owner));
  put32(sd, 8, static_cast<uint32_t>(group));
  put32(sd, 12, 0);                                          // no SACL
  put32(sd, 16, static_cast<uint32_t>(dacl));
  return sd;
}

uint32_t cell_size_for(size_t payload) { return static_cast<uint32_t>((payload + 4 + 7) & ~size_t{7}); }

void put_cell_size(BYTE* at, int32_t size) { std::memcpy(at, &size, 4); }

}  // namespace

uint32_t HiveHeaderChecksum(const BYTE* header) {
  uint32_t sum = 0;
  for (int i = 0; i < 127; ++i) {
    uint32_t word;
    std::memcpy(&word, header + 4 * i, 4);
    sum ^= word;
  }
  if (sum == 0) return 1;
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  return sum;
}

std::vector<BYTE> BuildEmptyHive(const EmptyHiveOptions& options) {
  const std::string& name = options.root_name;
  if (name.empty() || name.size() > 255) return {};
  for (char c : name)
    if (c < 0x20 || c > 0x7E || c == '\\') return {};

  std::vector<BYTE> file(2 * kPageSize, 0);

  BaseBlock base{};
  std::memcpy(base.signature, "regf", 4);
  base.primary_seq = 1;
  base.secondary_seq = 1;
  base.last_written = options.timestamp;
  base.major_version = 1;
  base.minor_version = 5;
  base.file_type = 0;
  base.file_format = 1;
  base.root_cell = sizeof(BinHeader);
  base.bins_size = kPageSize;
  base.clustering = 1;
  std::memcpy(file.data(), &base, sizeof base);
  const uint32_t checksum = HiveHeaderChecksum(file.data());
  std::memcpy(file.data() + offsetof(BaseBlock, checksum), &checksum, 4);

  BYTE* bin = file.data() + kPageSize;
  BinHeader header{};
  std::memcpy(header.signature, "hbin", 4);
  header.offset = 0;
  header.size = kPageSize;
  header.timestamp = options.timestamp;
  std::memcpy(bin, &header, sizeof header);

  // Cells: the root key, then its security record, then one free cell to the end of the bin.
  const uint32_t key_cell = sizeof(BinHeader);
  const uint32_t key_size = cell_size_for(sizeof(KeyRecord) + name.size());
  const uint32_t sk_cell = key_cell + key_size;
  const std::vector<BYTE> sd = root_security_descriptor();
  const uint32_t sk_size = cell_size_for(sizeof(SecurityRecord) + sd.size());
  const uint32_t free_cell = sk_cell + sk_size;

  KeyRecord key{};
  std::memcpy(key.signature, "nk", 2);
  key.flags = kKeyHiveEntry | kKeyNoDelete | kKeyCompressedName;
  key.last_written = options.timestamp;
  key.parent = 0;
  key.subkey_list = kNoCell;
  key.volatile_list = kNoCell;
  key.value_list = kNoCell;
  key.security = sk_cell;
  key.class_name = kNoCell;
  key.name_length = static_cast<uint16_t>(name.size());
  put_cell_size(bin + key_cell, -static_cast<int32_t>(key_size));
  std::memcpy(bin + key_cell + 4, &key, sizeof key);
  std::memcpy(bin + key_cell + 4 + sizeof key, name.data(), name.size());

  SecurityRecord sk{};
  std::memcpy(sk.signature, "sk", 2);
  sk.flink = sk_cell;
  sk.blink = sk_cell;
  sk.references = 1;
  sk.descriptor_size = static_cast<uint32_t>(sd.size());
  put_cell_size(bin + sk_cell, -static_cast<int32_t>(sk_size));
  std::memcpy(bin + sk_cell + 4, &sk, sizeof sk);
  std::memcpy(bin + sk_cell + 4 + sizeof sk, sd.data(), sd.size());

  put_cell_size(bin + free_cell, static_cast<int32_t>(kPageSize - free_cell));
  return file;
}

LONG CreateEmptyHive(const std::string& host_path, const EmptyHiveOptions& options) {
  const std::vector<BYTE> bytes = BuildEmptyHive(options);
  if (bytes.empty()) return ERROR_INVALID_PARAMETER;
  const int fd = ::open(host_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return ERROR_CANTWRITE;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      return ERROR_CANTWRITE;
    }
    done += static_cast<size_t>(n);
  }
  const bool ok = ::fsync(fd) == 0;
  return (::close(fd) == 0 && ok) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

}  // namespace platform::registry
