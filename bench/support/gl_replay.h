#pragma once
// A captured frame drawn on plain OpenGL with small hand-written programs, one per kind of draw
// the show makes (lit and fogged textured geometry, screen quads with or without a pixel shader):
// what the graphics layer is measured against. It stops the program on a draw it has no program
// for.

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/support/frame_replay.h"

namespace replay {

class GlReplay {
 public:
  explicit GlReplay(const CapturedFrame& frame);
  ~GlReplay();
  void Frame();
  std::vector<std::uint8_t> Picture();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace replay
