#include "platform/gfx/gl_objects.h"

namespace vkgfx {

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

GlShared::~GlShared() {
  if (!context) return;
  context->MakeCurrent();
  for (auto& p : programs)
    if (p.second->id) glDeleteProgram(p.second->id);
  shaders.Clear();
}

GlTexture::~GlTexture() {
  if (!gl) return;
  gl->Current();
  for (auto& t : targets)
    if (t.fbo) {
      gl->cache.ForgetFramebuffer(t.fbo);
      glDeleteFramebuffers(1, &t.fbo);
    }
  gl->cache.ForgetTexture(name);
  glDeleteTextures(1, &name);
}

GlSurface::~GlSurface() {
  if (!gl) return;
  gl->Current();
  if (target.fbo) {
    gl->cache.ForgetFramebuffer(target.fbo);
    glDeleteFramebuffers(1, &target.fbo);
  }
  if (texture) {
    gl->cache.ForgetTexture(texture);
    glDeleteTextures(1, &texture);
  }
  if (renderbuffer) glDeleteRenderbuffers(1, &renderbuffer);
}

GlBuffer::~GlBuffer() {
  if (!gl) return;
  gl->Current();
  gl->cache.ForgetBuffer(name);
  glDeleteBuffers(1, &name);
}

GlShaderTag::~GlShaderTag() {
  if (!gl) return;
  gl->Current();
  gl->DropProgramsOf(serial);
}

}  // namespace vkgfx
