#pragma once
// What the GL context currently holds, so a call is only made when it changes
// something. Every GL call made through here is counted.

#include "platform/gfx/gl/flavour.h"

#include <array>
#include <cstdint>

namespace gx {

constexpr int kGlUnits = 8;
constexpr int kGlAttributes = 12;

struct GlAttribute {
  GLuint buffer = 0;
  GLint size = 0;
  GLenum type = 0;
  GLboolean normalized = GL_FALSE;
  GLsizei stride = 0;
  std::uintptr_t offset = 0;
};

struct GlStencilFace {
  GLenum func = GL_ALWAYS;
  GLint ref = 0;
  GLuint mask = ~0u;
  GLenum fail = GL_KEEP, zfail = GL_KEEP, zpass = GL_KEEP;
  bool operator==(const GlStencilFace&) const = default;
};

// GL calls issued, by what they do; each is counted where it is made.
struct GlCallCounts {
  std::uint64_t state = 0;    // state changes the cache lets through, clear values
  std::uint64_t uniform = 0;  // glUniform*
  std::uint64_t upload = 0;   // buffer and texture data
  std::uint64_t draw = 0;     // draws and clears
  std::uint64_t object = 0;   // creating and attaching textures, buffers, framebuffers, samplers
  std::uint64_t frame = 0;    // present (blit, finish) and read-back
  std::uint64_t Total() const { return state + uniform + upload + draw + object + frame; }
};

class GlStateCache {
 public:
  GlCallCounts calls;

  // Forget everything (after a context switch or outside GL code ran).
  void Invalidate();

  void UseProgram(GLuint program);
  void BindVertexArray(GLuint vao);
  void BindArrayBuffer(GLuint buffer);
  void BindElementBuffer(GLuint buffer);
  void BindDrawFramebuffer(GLuint fbo);
  void BindReadFramebuffer(GLuint fbo);
  void BindTexture(int unit, GLenum target, GLuint texture);
  void BindSampler(int unit, GLuint sampler);
  // For uploads: binds on a scratch unit without disturbing the cache's view of others.
  void BindTextureForUpload(GLenum target, GLuint texture);
  void ForgetTexture(GLuint texture);
  void ForgetBuffer(GLuint buffer);
  void ForgetFramebuffer(GLuint fbo);
  void ForgetProgram(GLuint program);
  // Someone else called glUseProgram (uniform set-up after a link).
  void ProgramChangedOutside() { program_ = kUnknown; }

  void Viewport(GLint x, GLint y, GLsizei w, GLsizei h);
  void DepthRange(float zn, float zf);
  void Scissor(bool enable, GLint x = 0, GLint y = 0, GLsizei w = 0, GLsizei h = 0);
  void Blend(bool enable);
  void BlendFunc(GLenum srcRgb, GLenum dstRgb, GLenum srcA, GLenum dstA);
  void BlendEquation(GLenum rgb, GLenum alpha);
  void ColorMask(unsigned mask);
  void DepthTest(bool enable);
  void DepthFunc(GLenum func);
  void DepthMask(bool write);
  void Cull(bool enable, GLenum face = GL_BACK);
  void PolygonMode(GLenum mode);
  void StencilTest(bool enable);
  void Stencil(const GlStencilFace& front, const GlStencilFace& back);
  void StencilWriteMask(GLuint mask);

  void Attribute(int location, const GlAttribute& a);
  void DisableAttribute(int location);

 private:
  static constexpr GLuint kUnknown = 0xFFFFFFFFu;
  GLuint program_ = kUnknown, vao_ = kUnknown, arrayBuffer_ = kUnknown, elementBuffer_ = kUnknown;
  GLuint drawFbo_ = kUnknown, readFbo_ = kUnknown;
  int activeUnit_ = -1;
  std::array<std::array<GLuint, 2>, kGlUnits + 1> textures_{};
  std::array<GLuint, kGlUnits> samplers_{};
  std::array<GLint, 4> viewport_{-1, -1, -1, -1};
  float depthNear_ = -1, depthFar_ = -1;
  int scissor_ = -1;
  std::array<GLint, 4> scissorRect_{-1, -1, -1, -1};
  int blend_ = -1;
  std::array<GLenum, 4> blendFunc_{};
  std::array<GLenum, 2> blendEquation_{};
  unsigned colorMask_ = 0xFFu;
  int depthTest_ = -1, depthMask_ = -1, cull_ = -1, stencilTest_ = -1;
  GLenum depthFunc_ = 0, cullFace_ = 0, polygonMode_ = 0;
  GlStencilFace stencilFront_{GL_NONE}, stencilBack_{GL_NONE};
  GLuint stencilWriteMask_ = 0;
  bool stencilKnown_ = false, stencilMaskKnown_ = false;
  std::array<GlAttribute, kGlAttributes> attributes_{};
  std::array<int, kGlAttributes> attributeEnabled_{};
  bool attributesKnown_ = false;

  void ActiveUnit(int unit);
};

}  // namespace gx
