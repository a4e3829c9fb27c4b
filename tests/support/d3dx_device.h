#pragma once
// A small device on either backend for the D3DX tests, and helpers to read
// texture levels back.

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gfx/backend.h"
#include "platform/gfx/d3dx/d3dx9.h"
#include "tests/support/gfx_device.h"

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr))

namespace d3dxtest {

// The graphics tests' device, with the faults of earlier tests cleared first.
inline LPDIRECT3DDEVICE9 MakeDevice(gx::BackendKind kind, UINT width = 64, UINT height = 64) {
  gx::ClearFaults();
  return gfxtest::MakeDevice(kind, width, height);
}

// Texel (x, y) of a locked 32-bit level as 0xAARRGGBB.
inline std::uint32_t TexelOf(const LPDIRECT3DTEXTURE9& texture, UINT level, UINT x, UINT y) {
  D3DLOCKED_RECT r{};
  if (FAILED(texture->LockRect(level, &r, nullptr, D3DLOCK_READONLY))) return 0xDEADBEEF;
  std::uint32_t v;
  std::memcpy(&v, static_cast<std::uint8_t*>(r.pBits) + std::int64_t(r.Pitch) * y + 4 * x, 4);
  texture->UnlockRect(level);
  return v;
}

inline std::uint32_t CubeTexelOf(const LPDIRECT3DCUBETEXTURE9& texture, UINT face, UINT level, UINT x, UINT y) {
  D3DLOCKED_RECT r{};
  const auto f = static_cast<D3DCUBEMAP_FACES>(face);
  if (FAILED(texture->LockRect(f, level, &r, nullptr, D3DLOCK_READONLY))) return 0xDEADBEEF;
  std::uint32_t v;
  std::memcpy(&v, static_cast<std::uint8_t*>(r.pBits) + std::int64_t(r.Pitch) * y + 4 * x, 4);
  texture->UnlockRect(f, level);
  return v;
}

// Every state a D3DX object might touch, read through the device, so a test can
// prove an object leaves the device as it found it.
struct DeviceSnapshot {
  std::vector<DWORD> render, stage, sampler;
  DWORD fvf = 0;
  std::vector<LPDIRECT3DBASETEXTURE9> textures;
  LPDIRECT3DVERTEXSHADER9 vs;
  LPDIRECT3DPIXELSHADER9 ps;
  LPDIRECT3DVERTEXBUFFER9 stream;
  UINT offset = 0, stride = 0;
  LPDIRECT3DINDEXBUFFER9 indices;
  LPDIRECT3DSURFACE9 target;
  D3DVIEWPORT9 viewport{};
  std::vector<float> transforms;

  static DeviceSnapshot Take(IDirect3DDevice9* d) {
    DeviceSnapshot s;
    for (DWORD i = 1; i < GX_RENDERSTATE_COUNT; ++i) {
      DWORD v = 0xFEEDu;
      d->GetRenderState(static_cast<D3DRENDERSTATETYPE>(i), &v);
      s.render.push_back(v);
    }
    for (DWORD st = 0; st < 8; ++st) {
      for (DWORD i = 1; i < GX_TEXTURESTAGESTATE_COUNT; ++i) {
        DWORD v = 0xFEEDu;
        d->GetTextureStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(i), &v);
        s.stage.push_back(v);
      }
      for (DWORD i = 1; i < GX_SAMPLERSTATE_COUNT; ++i) {
        DWORD v = 0xFEEDu;
        d->GetSamplerState(st, static_cast<D3DSAMPLERSTATETYPE>(i), &v);
        s.sampler.push_back(v);
      }
      LPDIRECT3DBASETEXTURE9 t;
      d->GetTexture(st, t);
      s.textures.push_back(t);
    }
    d->GetFVF(&s.fvf);
    d->GetVertexShader(s.vs);
    d->GetPixelShader(s.ps);
    d->GetStreamSource(0, s.stream, &s.offset, &s.stride);
    d->GetIndices(s.indices);
    d->GetRenderTarget(0, s.target);
    d->GetViewport(&s.viewport);
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0, D3DTS_TEXTURE1}) {
      D3DMATRIX m{};
      d->GetTransform(t, &m);
      s.transforms.insert(s.transforms.end(), &m._11, &m._11 + 16);
    }
    return s;
  }

  void ExpectSame(const DeviceSnapshot& o) const {
    for (std::size_t i = 0; i < render.size(); ++i) EXPECT_EQ(render[i], o.render[i]) << "render state " << i + 1;
    for (std::size_t i = 0; i < stage.size(); ++i)
      EXPECT_EQ(stage[i], o.stage[i]) << "stage " << i / (GX_TEXTURESTAGESTATE_COUNT - 1) << " state "
                                      << i % (GX_TEXTURESTAGESTATE_COUNT - 1) + 1;
    for (std::size_t i = 0; i < sampler.size(); ++i)
      EXPECT_EQ(sampler[i], o.sampler[i]) << "sampler " << i / (GX_SAMPLERSTATE_COUNT - 1) << " state "
                                          << i % (GX_SAMPLERSTATE_COUNT - 1) + 1;
    for (std::size_t i = 0; i < textures.size(); ++i) EXPECT_EQ(textures[i], o.textures[i]) << "texture " << i;
    EXPECT_EQ(fvf, o.fvf);
    EXPECT_EQ(vs, o.vs);
    EXPECT_EQ(ps, o.ps);
    EXPECT_EQ(stream, o.stream);
    EXPECT_EQ(offset, o.offset);
    EXPECT_EQ(stride, o.stride);
    EXPECT_EQ(indices, o.indices);
    EXPECT_EQ(target, o.target);
    EXPECT_EQ(viewport.Width, o.viewport.Width);
    EXPECT_EQ(viewport.Height, o.viewport.Height);
    EXPECT_EQ(transforms, o.transforms);
  }
};

// A 16x16 render-target texture, its surface and a render-to-surface object for it; false when
// any of them cannot be made.
struct RenderToSurfaceTarget {
  LPDIRECT3DTEXTURE9 texture;
  LPDIRECT3DSURFACE9 surface;
  LPD3DXRENDERTOSURFACE rts;
};
inline bool MakeRenderToSurface(const LPDIRECT3DDEVICE9& device, RenderToSurfaceTarget& t) {
  return D3DXCreateTexture(device, 16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, t.texture) == S_OK &&
         t.texture->GetSurfaceLevel(0, t.surface) == S_OK &&
         D3DXCreateRenderToSurface(device, 16, 16, D3DFMT_X8R8G8B8, FALSE, D3DFMT_UNKNOWN, t.rts) == S_OK;
}

}  // namespace d3dxtest
