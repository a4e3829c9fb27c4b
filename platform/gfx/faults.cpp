// Faults injected for tests; the device front end checks them (backend.h).

#include "platform/gfx/backend.h"

namespace gx {

namespace {
Faults g_faults;
}  // namespace

Faults& InjectedFaults() { return g_faults; }
void ClearFaults() { g_faults = Faults{}; }

bool FaultFires(int Faults::*counter) {
  int& left = g_faults.*counter;
  if (left <= 0) return false;
  --left;
  return true;
}

}  // namespace gx
