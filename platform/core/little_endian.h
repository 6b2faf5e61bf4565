// Numbers stored least significant byte first, as every on-disk and in-file
// structure the suite reads keeps them (boot sectors, partition tables,
// NTFS and UDF records, archives, resources), whatever the host's own order.
// Each reader or writer takes a pointer to the field's first byte; the caller
// has checked that the whole field lies inside its buffer.
#pragma once

#include <cstdint>

namespace platform {

constexpr uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
constexpr uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}
constexpr uint64_t ReadLe64(const uint8_t* p) { return ReadLe32(p) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32; }

// A field of `count` bytes (0 to 8), as the odd-sized ones of boot sectors
// and NTFS run lists are.
constexpr uint64_t ReadLe(const uint8_t* p, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// The low `count` bytes (0 to 8) of `value`.
constexpr void WriteLe(uint8_t* p, uint64_t value, int count) {
  for (int i = 0; i < count; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
constexpr void WriteLe16(uint8_t* p, uint16_t value) { WriteLe(p, value, 2); }
constexpr void WriteLe32(uint8_t* p, uint32_t value) { WriteLe(p, value, 4); }
constexpr void WriteLe64(uint8_t* p, uint64_t value) { WriteLe(p, value, 8); }

}  // namespace platform
