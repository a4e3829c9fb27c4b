#pragma once
// The engine's shadow-volume object. It draws nothing in this show; the engine keeps it so the scene
// prologue knows whether the depth buffer has a stencil part to clear along with it.

#include "engine/vokObject.h"

class TvokD3D;

class TShadowVolume : public TvokObject {
 public:
  TvokD3D* D3D = nullptr;     // not owned
  bool ClearStencil = false;  // the device wrapper's StencilBuffer, set by the engine after creation

  explicit TShadowVolume(TvokD3D* D3D);
  ~TShadowVolume();
  TShadowVolume(const TShadowVolume&) = delete;
  TShadowVolume& operator=(const TShadowVolume&) = delete;
};
