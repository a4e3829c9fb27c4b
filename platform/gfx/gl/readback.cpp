#include "platform/gfx/gl/readback.h"

#include <cstring>

namespace gx {

GlPixelReader::~GlPixelReader() {
  gl_.Current();
  for (auto& s : slots_) {
    if (s.fence) glDeleteSync(s.fence);
    if (s.pbo) glDeleteBuffers(1, &s.pbo);
  }
}

bool GlPixelReader::Queue(GLuint fbo, unsigned width, unsigned height, unsigned slot) {
  // WebGL 2 cannot map a buffer: the browser build reads frames directly (it writes no video).
  if (kGlEs || slot >= kSlots || !fbo) return false;
  gl_.Current();
  Slot& s = slots_[slot];
  const GLsizeiptr bytes = GLsizeiptr(width) * GLsizeiptr(height) * 4;
  if (!s.pbo) glGenBuffers(1, &s.pbo), ++gl_.cache.calls.object;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, s.pbo);
  if (s.capacity != bytes) {
    glBufferData(GL_PIXEL_PACK_BUFFER, bytes, nullptr, GL_STREAM_READ);
    s.capacity = bytes;
    ++gl_.cache.calls.object;
  }
  gl_.cache.BindReadFramebuffer(fbo);
  // Our framebuffers keep Direct3D's orientation: row 0 is the top row, as a video wants it.
  glReadPixels(0, 0, GLsizei(width), GLsizei(height), GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  // The rest of the backend reads into client memory: leave no pack buffer bound.
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  if (s.fence) glDeleteSync(s.fence), ++gl_.cache.calls.frame;
  s.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  s.bytes = bytes;
  gl_.cache.calls.frame += 5;  // the binds, the read, the fence and the flush below
  // Start the copy now rather than at the next flush.
  glFlush();
  return true;
}

bool GlPixelReader::Take(unsigned slot, std::uint8_t* rgba, std::size_t size) {
  if (slot >= kSlots) return false;
  Slot& s = slots_[slot];
  if (!s.pbo || !s.fence || size < std::size_t(s.bytes)) return false;
  gl_.Current();
  glClientWaitSync(s.fence, GL_SYNC_FLUSH_COMMANDS_BIT, GLuint64(10) * 1000 * 1000 * 1000);
  glDeleteSync(s.fence);
  s.fence = nullptr;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, s.pbo);
#if GX_GLES
  const void* data = nullptr;  // never queued
#else
  const void* data = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, s.bytes, GL_MAP_READ_BIT);
#endif
  bool ok = data != nullptr;
  if (ok) std::memcpy(rgba, data, std::size_t(s.bytes));
#if !GX_GLES
  glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
#endif
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  gl_.cache.calls.frame += 6;  // wait, delete, bind, map, unmap, unbind
  return ok;
}

}  // namespace gx
