#include "tests/pebuilder/udf_stamp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "platform/core/little_endian.h"

namespace {

// CRC-ITU-T (polynomial 0x1021, start 0), as descriptor tags carry it.
uint16_t TagCrc(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

void ResealTag(uint8_t* tag) {
  uint16_t crcLength = std::min<uint16_t>(platform::ReadLe16(tag + 10), 2048 - 16);
  uint16_t crc = TagCrc(tag + 16, crcLength);
  tag[8] = static_cast<uint8_t>(crc);
  tag[9] = static_cast<uint8_t>(crc >> 8);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<uint8_t>(sum + tag[i]);
  tag[4] = sum;
}

bool ReadBlock(std::fstream& f, uint64_t block, uint8_t* out) {
  f.seekg(static_cast<std::streamoff>(block * 2048));
  f.read(reinterpret_cast<char*>(out), 2048);
  return f.gcount() == 2048;
}

}  // namespace

bool StampUdfImplementation(const std::string& image, const std::string& identifier, std::string* error) {
  // Only the descriptor blocks are read and written: the image may be large.
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  uint8_t anchor[2048], block[2048];
  if (!f || !ReadBlock(f, 256, anchor) || platform::ReadLe16(anchor) != 2) {
    *error = image + ": no anchor volume descriptor at block 256";
    return false;
  }
  int stamped = 0;
  for (size_t seq : {size_t{16}, size_t{24}}) {
    uint32_t length = platform::ReadLe32(anchor + seq), first = platform::ReadLe32(anchor + seq + 4);
    for (uint32_t i = 0; i < length / 2048 && i < 64; ++i) {
      if (!ReadBlock(f, static_cast<uint64_t>(first) + i, block) || platform::ReadLe16(block) != 1) continue;
      std::memset(block + 388, 0, 32);
      std::memcpy(block + 389, identifier.data(), std::min<size_t>(identifier.size(), 23));
      ResealTag(block);
      f.clear();
      f.seekp(static_cast<std::streamoff>((static_cast<uint64_t>(first) + i) * 2048));
      f.write(reinterpret_cast<const char*>(block), 2048);
      ++stamped;
    }
  }
  if (!stamped) *error = image + ": no primary volume descriptor";
  return stamped > 0 && f.good();
}
