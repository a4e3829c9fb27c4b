#pragma once
// Asynchronous read-back for capture: a copy of a framebuffer goes into a pixel-buffer object
// and is fenced, so the caller goes on drawing the next frames while the copy completes; it is
// mapped and handed over only when the caller takes it, a few frames later.

#include "platform/gfx/gl/flavour.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/gfx/gl/objects.h"

namespace gx {

class GlPixelReader {
 public:
  static constexpr unsigned kSlots = 8;

  explicit GlPixelReader(GlShared& gl) : gl_(gl) {}
  ~GlPixelReader();
  GlPixelReader(const GlPixelReader&) = delete;
  GlPixelReader& operator=(const GlPixelReader&) = delete;

  // Starts copying the colour of `fbo` (width x height, RGBA8) into slot `slot`.
  bool Queue(GLuint fbo, unsigned width, unsigned height, unsigned slot);
  // Waits for the slot's copy and writes its rows (top row first) to `rgba`.
  bool Take(unsigned slot, std::uint8_t* rgba, std::size_t size);

 private:
  struct Slot {
    GLuint pbo = 0;
    GLsizeiptr capacity = 0;
    GLsizeiptr bytes = 0;
    GLsync fence = nullptr;
  };
  GlShared& gl_;
  std::array<Slot, kSlots> slots_{};
};

}  // namespace gx
