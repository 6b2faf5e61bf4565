#include "tests/support/byte_patterns.h"

namespace test_support {

std::vector<uint8_t> XorshiftBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return out;
}

std::string LcgBytes(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed;
  for (auto& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

}  // namespace test_support
