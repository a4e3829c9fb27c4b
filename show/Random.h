#pragma once
#include <cstdint>

// The show's random generator: one 32-bit linear congruential sequence, seeded once at start-up
// (from the clock, or from --seed so that a run can be repeated exactly).
void Randomize(uint32_t seed);
// A uniformly distributed integer 0 .. n - 1 (0 when n <= 0).
int Random(int n);
