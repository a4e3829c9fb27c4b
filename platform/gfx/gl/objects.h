#pragma once
// What the gl backend hangs on the front end's resources, and the context-wide
// state those objects need when they are deleted (possibly after the device).

#include "platform/gfx/gl/flavour.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gfx/gl/context.h"
#include "platform/gfx/gl/program_cache.h"
#include "platform/gfx/gl/state_cache.h"
#include "platform/gfx/gl/translate.h"
#include "platform/gfx/resources.h"

namespace gx {

struct GlShared {
  std::unique_ptr<GlContext> context;
  GlStateCache cache;
  std::unordered_map<ProgramKey, std::unique_ptr<GlProgram>, ProgramKeyHash> programs;
  ShaderCache shaders;  // the stages the programs are linked from
  std::uint64_t programsCompiled = 0;
  struct GlTarget* drawing = nullptr;  // the target drawn into last (resolved when left)
  // Grows each time a lost context comes back: an object made in an earlier one holds names
  // that mean nothing now (or another object), and is neither used nor deleted.
  std::uint64_t generation = 1;

  void Current() { context->MakeCurrent(); }
  void DropProgramsOf(std::uint64_t shaderSerial);
  // The context came back: every name held so far is abandoned, none deleted.
  void AbandonNames();
  // Deletes the programs and the context (finishing its work first) while the device's window
  // is still there. The device's backend calls it as it goes: objects the program keeps longer
  // (a texture held to the process's end) must not keep the context, and with it work the driver
  // has not done, until the display closes. Their names went with the context; they delete
  // nothing afterwards.
  void Close();
  ~GlShared();
};

// Makes a context that was lost usable again. In the browser WebGL gives the same context back
// with nothing enabled: the extensions are asked for again. Natively nothing loses a context, so
// the test of the loss replaces it with a fresh one, in which every earlier name means nothing
// or something else, as after a real loss.
bool RenewContext(GlShared& gl, std::string& error);

// What every object the backend hangs on a resource shares: the context it was made in.
struct GlObject : GpuObject {
  std::shared_ptr<GlShared> gl;
  std::uint64_t generation = 0;
  explicit GlObject(std::shared_ptr<GlShared> shared) : gl(std::move(shared)), generation(gl->generation) {}
  // Made in the context in use, which is still open, so its names may be used and deleted.
  bool Live() const { return gl && gl->context && generation == gl->generation; }
};

// A framebuffer with one colour attachment and whichever depth buffer was last attached. With
// multisampling the drawing goes to a multisampled twin (msFbo, its colour in msColor, the depth
// buffer attached there) and is resolved into fbo before anything reads it.
struct GlTarget {
  GLuint fbo = 0;
  std::uint64_t depthSerial = ~0ull;
  // GL ES: WebGL 2 wants every attachment of one size, so a target smaller or larger than the
  // depth surface set with it gets a depth buffer of its own size instead (not shared).
  GLuint ownDepth = 0;
  GLuint msFbo = 0, msColor = 0;
  GLsizei width = 0, height = 0;
  bool unresolved = false;  // the twin holds drawing that fbo has not got yet
};
void DeleteTarget(GlShared& gl, GlTarget& t);

struct GlTexture final : GlObject {
  using GlObject::GlObject;
  GLuint name = 0;
  GLenum target = GL_TEXTURE_2D;
  GlTextureFormat format;
  std::vector<GlTarget> targets;  // per face and level, for render targets
  GLint baseLevel = 0;            // GL_TEXTURE_BASE_LEVEL, the texture's SetLOD
  ~GlTexture() override;
};

struct GlSurface final : GlObject {
  using GlObject::GlObject;
  GLuint texture = 0;       // the back buffer's colour
  GLuint renderbuffer = 0;  // a depth-stencil surface (multisampled when the device is)
  bool stencil = false;
  GLenum depthFormat = 0;   // a depth-stencil surface's internal format
  GlTarget target;          // the back buffer's framebuffer
  ~GlSurface() override;
};

struct GlBuffer final : GlObject {
  using GlObject::GlObject;
  GLuint name = 0;
  GLsizeiptr size = 0;
  ~GlBuffer() override;
};

struct GlShaderTag final : GlObject {
  using GlObject::GlObject;
  std::uint64_t serial = 0;
  ~GlShaderTag() override;
};

}  // namespace gx
