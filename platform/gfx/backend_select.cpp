// The backend the next Direct3DCreate9 makes its devices with.

#include "platform/gfx/backend.h"

namespace gx {

namespace {
BackendKind g_kind = BackendKind::Gl;
}  // namespace

void SetBackendKind(BackendKind kind) { g_kind = kind; }
BackendKind GetBackendKind() { return g_kind; }

}  // namespace gx
