#include "platform/gfx/gl/state_cache.h"

namespace gx {

void GlStateCache::Invalidate() {
  GlCallCounts keep = calls;
  *this = GlStateCache{};
  calls = keep;
  for (auto& unit : textures_) unit = {kUnknown, kUnknown};
  samplers_.fill(kUnknown);
}

void GlStateCache::UseProgram(GLuint p) {
  if (program_ == p) return;
  program_ = p, ++calls.state;
  glUseProgram(p);
}

void GlStateCache::BindVertexArray(GLuint v) {
  if (vao_ == v) return;
  vao_ = v, ++calls.state;
  glBindVertexArray(v);
  elementBuffer_ = kUnknown;  // element binding belongs to the vertex array
  attributesKnown_ = false;
}

void GlStateCache::BindArrayBuffer(GLuint b) {
  if (arrayBuffer_ == b) return;
  arrayBuffer_ = b, ++calls.state;
  glBindBuffer(GL_ARRAY_BUFFER, b);
}

void GlStateCache::BindElementBuffer(GLuint b) {
  if (elementBuffer_ == b) return;
  elementBuffer_ = b, ++calls.state;
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b);
}

void GlStateCache::BindDrawFramebuffer(GLuint f) {
  if (drawFbo_ == f) return;
  drawFbo_ = f, ++calls.state;
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, f);
}

void GlStateCache::BindReadFramebuffer(GLuint f) {
  if (readFbo_ == f) return;
  readFbo_ = f, ++calls.state;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, f);
}

void GlStateCache::ActiveUnit(int unit) {
  if (activeUnit_ == unit) return;
  activeUnit_ = unit, ++calls.state;
  glActiveTexture(GL_TEXTURE0 + unit);
}

static int TargetSlot(GLenum target) { return target == GL_TEXTURE_CUBE_MAP ? 1 : 0; }

void GlStateCache::BindTexture(int unit, GLenum target, GLuint t) {
  GLuint& bound = textures_[unit][TargetSlot(target)];
  if (bound == t) return;
  ActiveUnit(unit);
  bound = t, ++calls.state;
  glBindTexture(target, t);
}

void GlStateCache::BindTextureForUpload(GLenum target, GLuint t) {
  // The upload that follows acts on the active unit, so make sure it is this one
  // even when the texture is already bound there.
  ActiveUnit(kGlUnits);
  BindTexture(kGlUnits, target, t);
}

void GlStateCache::BindSampler(int unit, GLuint s) {
  if (samplers_[unit] == s) return;
  samplers_[unit] = s, ++calls.state;
  glBindSampler(unit, s);
}

void GlStateCache::ForgetTexture(GLuint t) {
  for (auto& unit : textures_)
    for (auto& bound : unit)
      if (bound == t) bound = kUnknown;
}

void GlStateCache::ForgetBuffer(GLuint b) {
  if (arrayBuffer_ == b) arrayBuffer_ = kUnknown;
  if (elementBuffer_ == b) elementBuffer_ = kUnknown;
  for (auto& a : attributes_)
    if (a.buffer == b) attributesKnown_ = false;
}

void GlStateCache::ForgetFramebuffer(GLuint f) {
  if (drawFbo_ == f) drawFbo_ = kUnknown;
  if (readFbo_ == f) readFbo_ = kUnknown;
}

void GlStateCache::ForgetProgram(GLuint p) {
  if (program_ == p) program_ = kUnknown;
}

void GlStateCache::Viewport(GLint x, GLint y, GLsizei w, GLsizei h) {
  std::array<GLint, 4> v{x, y, w, h};
  if (viewport_ == v) return;
  viewport_ = v, ++calls.state;
  glViewport(x, y, w, h);
}

void GlStateCache::DepthRange(float zn, float zf) {
  if (depthNear_ == zn && depthFar_ == zf) return;
  depthNear_ = zn, depthFar_ = zf, ++calls.state;
  glDepthRange(zn, zf);
}

static void Toggle(int& cached, bool on, GLenum cap, std::uint64_t& calls) {
  if (cached == int(on)) return;
  cached = on, ++calls;
  if (on)
    glEnable(cap);
  else
    glDisable(cap);
}

void GlStateCache::Scissor(bool enable, GLint x, GLint y, GLsizei w, GLsizei h) {
  Toggle(scissor_, enable, GL_SCISSOR_TEST, calls.state);
  if (!enable) return;
  std::array<GLint, 4> r{x, y, w, h};
  if (scissorRect_ == r) return;
  scissorRect_ = r, ++calls.state;
  glScissor(x, y, w, h);
}

void GlStateCache::Blend(bool enable) { Toggle(blend_, enable, GL_BLEND, calls.state); }

void GlStateCache::BlendFunc(GLenum sr, GLenum dr, GLenum sa, GLenum da) {
  std::array<GLenum, 4> f{sr, dr, sa, da};
  if (blendFunc_ == f) return;
  blendFunc_ = f, ++calls.state;
  glBlendFuncSeparate(sr, dr, sa, da);
}

void GlStateCache::BlendEquation(GLenum rgb, GLenum alpha) {
  std::array<GLenum, 2> e{rgb, alpha};
  if (blendEquation_ == e) return;
  blendEquation_ = e, ++calls.state;
  glBlendEquationSeparate(rgb, alpha);
}

void GlStateCache::ColorMask(unsigned m) {
  if (colorMask_ == m) return;
  colorMask_ = m, ++calls.state;
  glColorMask(m & 1 ? GL_TRUE : GL_FALSE, m & 2 ? GL_TRUE : GL_FALSE, m & 4 ? GL_TRUE : GL_FALSE,
              m & 8 ? GL_TRUE : GL_FALSE);
}

void GlStateCache::DepthTest(bool enable) { Toggle(depthTest_, enable, GL_DEPTH_TEST, calls.state); }

void GlStateCache::DepthFunc(GLenum f) {
  if (depthFunc_ == f) return;
  depthFunc_ = f, ++calls.state;
  glDepthFunc(f);
}

void GlStateCache::DepthMask(bool write) {
  if (depthMask_ == int(write)) return;
  depthMask_ = write, ++calls.state;
  glDepthMask(write ? GL_TRUE : GL_FALSE);
}

void GlStateCache::Cull(bool enable, GLenum face) {
  Toggle(cull_, enable, GL_CULL_FACE, calls.state);
  if (!enable || cullFace_ == face) return;
  cullFace_ = face, ++calls.state;
  glCullFace(face);
}

void GlStateCache::PolygonMode(GLenum mode) {
  if (polygonMode_ == mode) return;
  polygonMode_ = mode, ++calls.state;
#if !GX_GLES
  glPolygonMode(GL_FRONT_AND_BACK, mode);  // WebGL 2 fills always; the show draws no wireframe
#endif
}

void GlStateCache::StencilTest(bool enable) { Toggle(stencilTest_, enable, GL_STENCIL_TEST, calls.state); }

void GlStateCache::Stencil(const GlStencilFace& front, const GlStencilFace& back) {
  if (stencilKnown_ && stencilFront_ == front && stencilBack_ == back) return;
  calls.state += 4;
  glStencilFuncSeparate(GL_FRONT, front.func, front.ref, front.mask);
  glStencilOpSeparate(GL_FRONT, front.fail, front.zfail, front.zpass);
  glStencilFuncSeparate(GL_BACK, back.func, back.ref, back.mask);
  glStencilOpSeparate(GL_BACK, back.fail, back.zfail, back.zpass);
  stencilFront_ = front, stencilBack_ = back, stencilKnown_ = true;
}

void GlStateCache::StencilWriteMask(GLuint mask) {
  if (stencilMaskKnown_ && stencilWriteMask_ == mask) return;
  stencilWriteMask_ = mask, stencilMaskKnown_ = true, ++calls.state;
  glStencilMask(mask);
}

void GlStateCache::Attribute(int location, const GlAttribute& a) {
  GlAttribute& c = attributes_[location];
  if (!attributesKnown_) {
    attributeEnabled_.fill(-1);
    attributes_.fill(GlAttribute{});
    attributesKnown_ = true;
  }
  if (attributeEnabled_[location] != 1) {
    attributeEnabled_[location] = 1, ++calls.state;
    glEnableVertexAttribArray(location);
  }
  if (c.buffer == a.buffer && c.size == a.size && c.type == a.type && c.normalized == a.normalized &&
      c.stride == a.stride && c.offset == a.offset)
    return;
  BindArrayBuffer(a.buffer);
  c = a, ++calls.state;
  glVertexAttribPointer(location, a.size, a.type, a.normalized, a.stride, reinterpret_cast<const void*>(a.offset));
}

void GlStateCache::DisableAttribute(int location) {
  if (!attributesKnown_) {
    attributeEnabled_.fill(-1);
    attributes_.fill(GlAttribute{});
    attributesKnown_ = true;
  }
  if (attributeEnabled_[location] == 0) return;
  attributeEnabled_[location] = 0, ++calls.state;
  glDisableVertexAttribArray(location);
}

}  // namespace gx
