#pragma once
// Puts the show's loaders, scenes and releases into the start-up sequence's table.
void InstallShowHooks();
