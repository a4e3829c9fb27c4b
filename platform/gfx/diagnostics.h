#pragma once
// What the layer says when something fails: rejected calls, unhandled fixed-function
// settings, GL errors and the GL driver's own debug messages. Printed to standard
// error as "graphics: ..." while debug output is on; every message is also kept, so
// tests can see what was said.

#include <string>

#include "platform/gfx/d3d9types.h"

namespace gx {

// Reports a message each time (failures that are already rare: compile errors...).
void Report(const std::string& message);
// Reports a message the first time it is given; repeats are dropped (a rejected
// draw in a frame loop says why once, not sixty times a second).
void ReportOnce(const std::string& message);

// Says once why a device call was refused and returns its error:
// "IDirect3DDevice9::DrawPrimitive refused (D3DERR_INVALIDCALL): outside BeginScene/EndScene".
HRESULT Refused(HRESULT error, const char* call, const std::string& why);
// printf-style text for a message.
std::string Why(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Debug output (also in backend.h): set by SetDebugOutput, --gfx-debug or GX_GFX_DEBUG=1.
bool DebugOutput();

}  // namespace gx
