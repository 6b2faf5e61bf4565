// The random overwrite data's generator: the C library's additive feedback
// generator (the one rand() and srand() drive), kept per thread and without
// the library's lock, so that a random pass costs what its writes cost. For a
// given seed it yields exactly the numbers rand() yields after srand(seed).
#pragma once

#include <cstdint>

class WipeRandom {
 public:
  // As srand(seed): seed 0 counts as 1.
  void seed(uint32_t seed);
  // As rand(): 0 .. 0x7FFFFFFF.
  uint32_t next() {
    const uint32_t value = state_[front_] += state_[rear_];
    if (++front_ == kDegree) front_ = 0;
    if (++rear_ == kDegree) rear_ = 0;
    return value >> 1;
  }
  // Fills `words` 16-bit little-endian words, each the low 15 bits of one next().
  void fill_words(uint8_t* out, uint32_t words);

 private:
  static constexpr int kDegree = 31;
  static constexpr int kSeparation = 3;
  uint32_t state_[kDegree] = {};
  int front_ = kSeparation;
  int rear_ = 0;
};

// The calling thread's generator, seeded with 1 until seeded otherwise.
WipeRandom& ThreadWipeRandom();
