// Surfaces that are no texture of the program's own: render targets and offscreen plain
// surfaces, and the copies between surfaces (StretchRect, ColorFill, GetRenderTargetData).
// Both kinds are one-level textures underneath, so binding, reading and locking work as for
// texture levels.

#include <cstring>

#include "platform/gfx/device.h"
#include "platform/gfx/diagnostics.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/resources.h"

namespace gx {

namespace {

// The surface a one-level texture hands out (it keeps the texture alive).
HRESULT LevelZero(const std::shared_ptr<IDirect3DTexture9>& texture, std::shared_ptr<IDirect3DSurface9>& surface) {
  return texture->GetSurfaceLevel(0, surface);
}

bool IsRenderTargetSurface(const Surface& s) {
  return s.kind == Surface::Kind::BackBuffer ||
         (s.kind == Surface::Kind::TextureLevel && s.texture && s.texture->store.IsRenderTarget());
}

// A rectangle inside a w x h surface, or the whole surface for nullptr; false when it leaves it
// or is empty.
bool RectInside(const RECT* r, UINT w, UINT h, RECT& out) {
  if (!r) {
    out = {0, 0, LONG(w), LONG(h)};
    return true;
  }
  out = *r;
  return out.left >= 0 && out.top >= 0 && out.left < out.right && out.top < out.bottom && out.right <= LONG(w) &&
         out.bottom <= LONG(h);
}

// Formats whose stored bytes are B, G, R, A (or X): what the copies below write directly.
bool IsBgra8(D3DFORMAT f) { return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8; }

}  // namespace

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                   DWORD, BOOL, std::shared_ptr<IDirect3DSurface9>& surface, void*) {
  surface.reset();
  // Every target draws with the device's own sampling (docs/gfx.md), so only "none" is asked for.
  if (multiSample != D3DMULTISAMPLE_NONE)
    return Refused(D3DERR_INVALIDCALL, __func__, "render targets take the device's multisampling; ask for none");
  std::shared_ptr<IDirect3DTexture9> texture;
  HRESULT hr = CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, texture, nullptr);
  if (FAILED(hr)) return hr;
  return LevelZero(texture, surface);
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            std::shared_ptr<IDirect3DSurface9>& surface, void*) {
  surface.reset();
  if (pool == D3DPOOL_MANAGED) return Refused(D3DERR_INVALIDCALL, __func__, "offscreen plain surfaces cannot be managed");
  std::shared_ptr<IDirect3DTexture9> texture;
  HRESULT hr = CreateTexture(width, height, 1, 0, format, pool, texture, nullptr);
  if (FAILED(hr)) return hr;
  return LevelZero(texture, surface);
}

HRESULT Device::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                            const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
  auto* src = dynamic_cast<Surface*>(source);
  auto* dst = dynamic_cast<Surface*>(dest);
  if (!src || !dst) return Refused(D3DERR_INVALIDCALL, __func__, "a surface is null");
  if (!IsRenderTargetSurface(*src) || !IsRenderTargetSurface(*dst))
    return Refused(D3DERR_INVALIDCALL, __func__, "copies only between render targets and the back buffer");
  if (filter != D3DTEXF_NONE && filter != D3DTEXF_POINT && filter != D3DTEXF_LINEAR)
    return Refused(D3DERR_INVALIDCALL, __func__, Why("filter %u; NONE, POINT and LINEAR are offered", unsigned(filter)));
  RECT from, to;
  if (!RectInside(sourceRect, src->desc.Width, src->desc.Height, from) ||
      !RectInside(destRect, dst->desc.Width, dst->desc.Height, to))
    return Refused(D3DERR_INVALIDCALL, __func__, "a rectangle is empty or leaves its surface");
  if (src == dst && from.left < to.right && to.left < from.right && from.top < to.bottom && to.top < from.bottom)
    return Refused(D3DERR_INVALIDCALL, __func__, "source and destination rectangles overlap");
  return backend_->Blit(*src, from, *dst, to, filter == D3DTEXF_LINEAR);
}

HRESULT Device::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) {
  auto* s = dynamic_cast<Surface*>(surface);
  if (!s) return Refused(D3DERR_INVALIDCALL, __func__, "the surface is null");
  RECT r;
  if (!RectInside(rect, s->desc.Width, s->desc.Height, r))
    return Refused(D3DERR_INVALIDCALL, __func__, "the rectangle is empty or leaves the surface");
  if (IsRenderTargetSurface(*s)) return backend_->Fill(*s, r, color);
  // Offscreen plain surfaces of the default pool: their system copy, then the GPU's.
  if (s->kind != Surface::Kind::TextureLevel || !s->texture || s->texture->store.pool != D3DPOOL_DEFAULT)
    return Refused(D3DERR_INVALIDCALL, __func__, "only render targets and D3DPOOL_DEFAULT surfaces can be filled");
  TextureStore& t = s->texture->store;
  if (!IsBgra8(t.format))
    return Refused(D3DERR_INVALIDCALL, __func__, Why("filling format %u is not offered", unsigned(t.format)));
  Image& img = t.At(s->face, s->level);
  for (LONG y = r.top; y < r.bottom; ++y)
    for (LONG x = r.left; x < r.right; ++x) std::memcpy(&img.pixels[size_t(y) * img.pitch + size_t(x) * 4], &color, 4);
  backend_->UploadTexture(t, s->face, s->level);
  return D3D_OK;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) {
  auto* src = dynamic_cast<Surface*>(renderTarget);
  auto* dst = dynamic_cast<Surface*>(dest);
  if (!src || !dst) return Refused(D3DERR_INVALIDCALL, __func__, "a surface is null");
  if (!IsRenderTargetSurface(*src)) return Refused(D3DERR_INVALIDCALL, __func__, "the source is no render target");
  if (dst->kind != Surface::Kind::TextureLevel || !dst->texture || dst->texture->store.pool != D3DPOOL_SYSTEMMEM)
    return Refused(D3DERR_INVALIDCALL, __func__, "the destination is no D3DPOOL_SYSTEMMEM surface");
  if (src->desc.Width != dst->desc.Width || src->desc.Height != dst->desc.Height ||
      src->desc.Format != dst->desc.Format)
    return Refused(D3DERR_INVALIDCALL, __func__, "the surfaces differ in size or format");
  TextureStore& t = dst->texture->store;
  if (!IsBgra8(t.format))
    return Refused(D3DERR_INVALIDCALL, __func__, Why("reading format %u is not offered", unsigned(t.format)));
  std::vector<std::uint8_t> rgba;
  HRESULT hr = backend_->ReadSurface(*src, rgba);
  if (FAILED(hr)) return hr;
  Image& img = t.At(dst->face, dst->level);
  for (UINT y = 0; y < img.height; ++y)
    for (UINT x = 0; x < img.width; ++x) {
      const std::uint8_t* p = &rgba[(size_t(y) * img.width + x) * 4];
      std::uint8_t* q = &img.pixels[size_t(y) * img.pitch + size_t(x) * 4];
      q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = p[3];
    }
  backend_->UploadTexture(t, dst->face, dst->level);
  return D3D_OK;
}

}  // namespace gx
