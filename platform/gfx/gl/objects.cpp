#include "platform/gfx/gl/objects.h"

#if GX_GLES
#include <emscripten.h>
#endif

namespace gx {

void GlShared::DropProgramsOf(std::uint64_t serial) {
  for (auto it = programs.begin(); it != programs.end();) {
    if (it->first.pixelShader == serial || it->first.vertexShader == serial) {
      cache.ForgetProgram(it->second->id);
      if (it->second->id) glDeleteProgram(it->second->id);
      it = programs.erase(it);
    } else {
      ++it;
    }
  }
}

bool RenewContext(GlShared& gl, std::string& error) {
#if GX_GLES
  (void)error;
  gl.Current();
  // clang-format off
  EM_ASM({
    const c = GL.currentContext;
    if (c) {
      c.initExtensionsDone = false;
      GL.initExtensions(c);
    }
  });
  // clang-format on
  return true;
#else
  auto fresh = GlContext::Create(gl.context->window(), error);
  if (!fresh) return false;
  gl.context.reset();  // finished and gone with everything made in it
  gl.context = std::move(fresh);
  gl.Current();
  return true;
#endif
}

void GlShared::AbandonNames() {
  ++generation;
  programs.clear();
  shaders.Abandon();
  cache.Invalidate();
  drawing = nullptr;
}

void GlShared::Close() {
  if (!context) return;
  context->MakeCurrent();
  for (auto& p : programs)
    if (p.second->id) glDeleteProgram(p.second->id);
  programs.clear();
  shaders.Clear();
  drawing = nullptr;
  context.reset();
}

GlShared::~GlShared() { Close(); }

void DeleteTarget(GlShared& gl, GlTarget& t) {
  if (gl.drawing == &t) gl.drawing = nullptr;
  for (GLuint* fbo : {&t.fbo, &t.msFbo})
    if (*fbo) {
      gl.cache.ForgetFramebuffer(*fbo);
      glDeleteFramebuffers(1, fbo);
      *fbo = 0;
    }
  for (GLuint* buffer : {&t.msColor, &t.ownDepth})
    if (*buffer) {
      glDeleteRenderbuffers(1, buffer);
      *buffer = 0;
    }
}

GlTexture::~GlTexture() {
  if (!Live()) return;
  gl->Current();
  for (auto& t : targets) DeleteTarget(*gl, t);
  gl->cache.ForgetTexture(name);
  glDeleteTextures(1, &name);
}

GlSurface::~GlSurface() {
  if (!Live()) return;
  gl->Current();
  DeleteTarget(*gl, target);
  if (texture) {
    gl->cache.ForgetTexture(texture);
    glDeleteTextures(1, &texture);
  }
  if (renderbuffer) glDeleteRenderbuffers(1, &renderbuffer);
}

GlBuffer::~GlBuffer() {
  if (!Live()) return;
  gl->Current();
  gl->cache.ForgetBuffer(name);
  glDeleteBuffers(1, &name);
}

GlShaderTag::~GlShaderTag() {
  if (!gl || !gl->context) return;
  gl->Current();
  gl->DropProgramsOf(serial);
}

}  // namespace gx
