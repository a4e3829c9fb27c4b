#pragma once
// What the gl backend hangs on the front end's resources, and the context-wide
// state those objects need when they are deleted (possibly after the device).

#include <epoxy/gl.h>

#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/gfx/gl_context.h"
#include "platform/gfx/gl_state_cache.h"
#include "platform/gfx/gl_translate.h"
#include "platform/gfx/program_cache.h"
#include "platform/gfx/resources.h"

namespace vkgfx {

struct GlShared {
  std::unique_ptr<GlContext> context;
  GlStateCache cache;
  std::unordered_map<ProgramKey, std::unique_ptr<GlProgram>, ProgramKeyHash> programs;
  ShaderCache shaders;  // the stages the programs are linked from
  std::uint64_t programsCompiled = 0;

  void Current() { context->MakeCurrent(); }
  void DropProgramsOf(std::uint64_t shaderSerial);
  ~GlShared();
};

// A framebuffer with one colour attachment and whichever depth buffer was last attached.
struct GlTarget {
  GLuint fbo = 0;
  std::uint64_t depthSerial = ~0ull;
};

struct GlTexture final : GpuObject {
  std::shared_ptr<GlShared> gl;
  GLuint name = 0;
  GLenum target = GL_TEXTURE_2D;
  GlTextureFormat format;
  std::vector<GlTarget> targets;  // per face and level, for render targets
  ~GlTexture() override;
};

struct GlSurface final : GpuObject {
  std::shared_ptr<GlShared> gl;
  GLuint texture = 0;       // the back buffer's colour
  GLuint renderbuffer = 0;  // a depth-stencil surface
  bool stencil = false;
  GlTarget target;          // the back buffer's framebuffer
  ~GlSurface() override;
};

struct GlBuffer final : GpuObject {
  std::shared_ptr<GlShared> gl;
  GLuint name = 0;
  GLsizeiptr size = 0;
  ~GlBuffer() override;
};

struct GlShaderTag final : GpuObject {
  std::shared_ptr<GlShared> gl;
  std::uint64_t serial = 0;
  ~GlShaderTag() override;
};

}  // namespace vkgfx
