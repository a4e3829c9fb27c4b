#include "show/Random.h"

namespace {
uint32_t RandSeed = 0;
}

void Randomize(uint32_t seed) { RandSeed = seed; }

int Random(int n) {
  RandSeed = RandSeed * 0x08088405u + 1u;
  if (n <= 0) return 0;
  // The high bits of the product scale the state onto 0 .. n - 1 without the bias of a modulo.
  return static_cast<int>((static_cast<uint64_t>(RandSeed) * static_cast<uint32_t>(n)) >> 32);
}
