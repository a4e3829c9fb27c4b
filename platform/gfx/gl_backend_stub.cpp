#include "platform/gfx/backend_impl.h"
namespace vkgfx {
std::unique_ptr<Backend> MakeGlBackend() { return MakeRecordingBackend(); }
}
