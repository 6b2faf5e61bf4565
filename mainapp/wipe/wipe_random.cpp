#include "mainapp/wipe/wipe_random.h"

void WipeRandom::seed(uint32_t seed) {
  // The library's initialisation: a Lehmer sequence (multiplier 16807,
  // modulus 2^31 - 1, in Schrage's form) fills the table, then 310 results
  // are thrown away.
  int32_t word = static_cast<int32_t>(seed == 0 ? 1 : seed);
  state_[0] = static_cast<uint32_t>(word);
  for (int i = 1; i < kDegree; ++i) {
    const int32_t hi = word / 127773, lo = word % 127773;
    word = 16807 * lo - 2836 * hi;
    if (word < 0) word += 2147483647;
    state_[i] = static_cast<uint32_t>(word);
  }
  front_ = kSeparation;
  rear_ = 0;
  for (int i = 0; i < 10 * kDegree; ++i) next();
}

void WipeRandom::fill_words(uint8_t* out, uint32_t words) {
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t r = next() & 0x7FFF;
    out[2 * i] = static_cast<uint8_t>(r);
    out[2 * i + 1] = static_cast<uint8_t>(r >> 8);
  }
}

WipeRandom& ThreadWipeRandom() {
  thread_local WipeRandom generator = [] {
    WipeRandom g;
    g.seed(1);
    return g;
  }();
  return generator;
}
