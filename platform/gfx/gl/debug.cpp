#include "platform/gfx/gl/debug.h"

#include "platform/gfx/gl/flavour.h"

#include <string>

#include "platform/gfx/diagnostics.h"

namespace gx {
namespace {

thread_local const char* t_call = nullptr;

const char* CallName() { return t_call ? t_call : "outside any device call"; }

const char* ErrorName(GLenum e) {
  switch (e) {
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    default: return "a GL error";
  }
}

#if !GX_GLES  // WebGL has no debug-message callback
const char* TypeName(GLenum type) {
  switch (type) {
    case GL_DEBUG_TYPE_ERROR: return "error";
    case GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR: return "deprecated behaviour";
    case GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR: return "undefined behaviour";
    case GL_DEBUG_TYPE_PORTABILITY: return "portability";
    case GL_DEBUG_TYPE_PERFORMANCE: return "performance";
    default: return "message";
  }
}

void GLAPIENTRY OnGlMessage(GLenum, GLenum type, GLuint id, GLenum severity, GLsizei, const GLchar* message,
                            const void*) {
  if (severity == GL_DEBUG_SEVERITY_NOTIFICATION) return;  // chatter, not a fault
  ReportOnce(std::string("GL ") + TypeName(type) + " " + std::to_string(id) + " in " + CallName() + ": " +
             (message ? message : ""));
}
#endif

}  // namespace

void InstallGlDebugOutput() {
  if (!DebugOutput()) return;
#if GX_GLES
  Report("GL debug output: WebGL has no debug messages; GL errors are still checked per call");
#else
  if (epoxy_gl_version() < 43 && !epoxy_has_gl_extension("GL_KHR_debug")) {
    Report("GL debug output: the context offers no KHR_debug; GL errors are still checked per call");
    return;
  }
  glEnable(GL_DEBUG_OUTPUT);
  glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
  glDebugMessageCallback(OnGlMessage, nullptr);
  glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DEBUG_SEVERITY_NOTIFICATION, 0, nullptr, GL_FALSE);
#endif
}

GlCallScope::GlCallScope(const char* call) : checking_(DebugOutput()) {
  if (!checking_) return;
  previous_ = t_call;
  t_call = call;
}

GlCallScope::~GlCallScope() {
  if (!checking_) return;
  for (GLenum e = glGetError(), n = 0; e != GL_NO_ERROR && n < 8; e = glGetError(), ++n)
    ReportOnce(std::string(ErrorName(e)) + " in " + CallName());
  t_call = previous_;
}

}  // namespace gx
