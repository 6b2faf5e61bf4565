// Reproducible pseudo-random contents for test files and sectors: the same
// bytes on every run for the same seed. The two generators differ and stay
// apart, because golden results were taken with each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// Xorshift32 started from seed * 2654435761 + 1; the low byte of each step.
std::vector<uint8_t> XorshiftBytes(size_t size, uint32_t seed);
// The C library's linear congruential step (x * 1103515245 + 12345) from
// `seed`; the top byte of each step.
std::string LcgBytes(size_t size, uint32_t seed);

}  // namespace test_support
