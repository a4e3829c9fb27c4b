#pragma once
// What the programs around the show (app/) see of it.

#include <cstdint>

#include "show/Timeline.h"  // ShowEndTime

// The pixel-shader post effects may run (pixel shader 2.0 present); set at start-up.
extern bool PostEffectsAvailable;

// Puts the show's loaders, scenes and releases into the start-up sequence's table.
void InstallShowHooks();

// Builds every program the show draws with before the clock starts (run at the end of loading).
void WarmUpShow();

// Back to the values of a new process: the shared scene state and the random generator. Seeking
// starts the show over in the same process.
void ResetShow(uint32_t Seed);
