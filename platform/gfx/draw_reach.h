#pragma once
// Draws that cannot change a pixel of their target, decided from their vertices and the state in
// force before anything is shaded. On a rasteriser that pays for every covered pixel (llvmpipe,
// weak GPUs) such draws cost their whole area for nothing. Both tests are conservative: a draw
// they pass over is one Direct3D 9 itself would leave without effect, with margins wide enough
// for the rounding of the GPU's own transform.

#include <cstdint>

#include "platform/gfx/device_state.h"

namespace gx {

// The vertices a draw can read: count records of stride bytes from data (for an indexed draw,
// the whole range its indexes may reach).
struct VertexSpan {
  const std::uint8_t* data = nullptr;
  UINT stride = 0;
  UINT count = 0;
};

// Every vertex lies outside one and the same plane of the view volume (the near or far plane,
// or a side of the viewport widened by two pixels): clipping leaves nothing to rasterise.
bool OutsideViewVolume(const DeviceState& s, const VertexSpan& v);

// A fixed-function draw blended so that it adds exactly nothing, with no depth or stencil writes:
// - its colour is black at every pixel (linear vertex fog towards black with a factor of 0 at
//   every vertex), added with a destination factor of one to a target that keeps no alpha; or
// - its alpha is 0 at every pixel (stage 0 alone, its alpha from a diffuse colour whose alpha is
//   0 at every vertex), blended by source alpha with a destination factor of one or 1 - alpha.
bool AddsNothing(const DeviceState& s, const VertexSpan& v, D3DFORMAT targetFormat);

// Either of the two.
bool DrawLeavesTargetUnchanged(const DeviceState& s, D3DPRIMITIVETYPE type, const VertexSpan& v,
                               D3DFORMAT targetFormat);

}  // namespace gx
