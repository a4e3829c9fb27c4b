#pragma once
// Puts the show's loaders, scenes and releases into the start-up sequence's table.
void InstallShowHooks();

// Builds every program the show draws with before the clock starts (run at the end of loading).
void WarmUpShow();
