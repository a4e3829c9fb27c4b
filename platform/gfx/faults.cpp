// Faults injected for tests; the device front end checks them (backend.h).

#include "platform/gfx/backend.h"

namespace gx {

namespace {
Faults g_faults;
}  // namespace

Faults& InjectedFaults() { return g_faults; }
void ClearFaults() { g_faults = Faults{}; }

}  // namespace gx
