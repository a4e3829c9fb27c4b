#pragma once
// The benchmarks' frames: the show runs on the recording backend, which keeps every draw with its
// vertices and the state in force, and chosen frames are kept; a LayerReplay draws such a frame
// again through the graphics layer on the gl backend, draw by draw, as the show drew it.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/backend.h"
#include "platform/gfx/d3d9.h"

namespace replay {

[[noreturn]] void Fail(const std::string& why);

struct TextureData {
  UINT width = 0, height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  bool renderTarget = false;
  std::vector<std::vector<std::uint8_t>> levels;  // RGBA8 rows, top first (not for render targets)
};

struct Op {
  bool clear = false;
  int draw = -1;  // index into CapturedFrame::draws
  DWORD flags = 0;
  D3DCOLOR color = 0;
  IDirect3DSurface9* target = nullptr;  // of a clear
  std::vector<RECT> rects;              // of a clear; none: the whole target
};

struct CapturedFrame {
  UINT width = 0, height = 0;  // of the back buffer
  std::uint32_t time = 0;      // show time of the frame
  int scene = 0;
  std::vector<gx::DrawRecord> draws;  // keep the recording objects alive: pointers are their identities
  std::vector<Op> ops;
  std::map<IDirect3DBaseTexture9*, TextureData> textures;
  std::map<IDirect3DSurface9*, IDirect3DBaseTexture9*> targets;  // render-target surface -> its texture
  IDirect3DSurface9* backBuffer = nullptr;
  IDirect3DSurface9* depth = nullptr;
  std::shared_ptr<IDirect3DSurface9> keepBackBuffer, keepDepth;
  std::map<const void*, std::string> shaderSources;
};

// Runs the show (seed 7) at width x height on the recording backend and keeps the first frame
// presented at or after each of the show times, given in increasing order.
std::vector<CapturedFrame> CaptureFrames(UINT width, UINT height, const std::vector<std::uint32_t>& moments);

std::shared_ptr<IDirect3DDevice9> MakeGlDevice(UINT width, UINT height);

// Where an indexed draw's copied vertices start, in index terms: the show passes a minimum
// index of 0 where its indexes reach that far.
UINT IndexBase(const gx::DrawRecord& r);

// A captured frame drawn through the layer.
struct LayerReplay {
  std::shared_ptr<IDirect3DDevice9> d;
  const CapturedFrame* f = nullptr;
  std::map<IDirect3DBaseTexture9*, std::shared_ptr<IDirect3DTexture9>> textures;
  std::map<IDirect3DSurface9*, std::shared_ptr<IDirect3DSurface9>> surfaces;
  std::map<const void*, std::shared_ptr<IDirect3DPixelShader9>> shaders;
  std::vector<std::shared_ptr<IDirect3DVertexBuffer9>> vbs;
  std::vector<std::shared_ptr<IDirect3DIndexBuffer9>> ibs;
  const gx::DeviceState* last = nullptr;

  void Init(const CapturedFrame& frame);
  // Sends what differs from the state last sent (everything the first time).
  void Apply(const gx::DeviceState& s, bool targetDirty);
  void Draw(int i);
  // One frame: BeginScene, the clears and draws in their order, EndScene, Present.
  void Frame();
  // The same, calling around(op index, step) where step 0 is before an operation, 1 after it.
  template <class F>
  void FrameWith(F&& around);
  std::vector<std::uint8_t> Picture();
  // Clear op's work (target set, cleared); true when the target changed.
  void Clear(const Op& op);
};

template <class F>
void LayerReplay::FrameWith(F&& around) {
  d->BeginScene();
  bool targetDirty = false;
  for (size_t i = 0; i < f->ops.size(); ++i) {
    const Op& op = f->ops[i];
    if (op.clear) {
      around(i, 0);
      Clear(op);
      around(i, 1);
      targetDirty = true;
    } else {
      Apply(f->draws[op.draw].state, targetDirty);
      targetDirty = false;
      around(i, 0);
      Draw(op.draw);
      around(i, 1);
    }
  }
  d->EndScene();
  d->Present(nullptr, nullptr, nullptr, nullptr);
}

}  // namespace replay
