#include "platform/gfx/resources.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/gfx/backend.h"
#include "platform/gfx/device.h"
#include "platform/gfx/formats.h"

namespace gx {

std::uint64_t NextSerial() {
  static std::atomic<std::uint64_t> next{1};
  return next++;
}

static bool FailLock() { return FaultFires(&Faults::failLock); }

template <class T>
static HRESULT DeviceOf(const std::weak_ptr<Device>& weak, std::shared_ptr<IDirect3DDevice9>& out) {
  out = weak.lock();
  return out ? D3D_OK : D3DERR_INVALIDCALL;
}

// ---------------------------------------------------------------------------
// Textures

void TextureStore::Allocate() {
  images.assign(size_t(faces) * levels, Image{});
  UINT bpp = BytesPerPixel(format);
  for (UINT f = 0; f < faces; ++f) {
    for (UINT l = 0; l < levels; ++l) {
      Image& img = At(f, l);
      img.width = std::max(1u, width >> l);
      img.height = std::max(1u, height >> l);
      img.pitch = INT(img.width * bpp);
      // Render targets live on the GPU only; everything else keeps a system copy
      // that Lock hands out and Unlock sends on.
      if (!IsRenderTarget()) img.pixels.assign(size_t(img.pitch) * img.height, 0);
    }
  }
}

TextureCore::TextureCore(std::weak_ptr<Device> device, TextureStore s)
    : store(std::move(s)), device(std::move(device)) {
  surfaces.resize(store.images.size());
}

DWORD TextureCore::SetLod(DWORD lod) {
  // Direct3D 9 keeps level-of-detail control for managed textures; the others stay at 0.
  if (store.pool != D3DPOOL_MANAGED) return 0;
  DWORD old = store.lod;
  store.lod = std::min(lod, store.levels - 1);
  return old;
}

HRESULT TextureCore::Desc(UINT level, D3DSURFACE_DESC* desc) {
  if (!desc || level >= store.levels) return D3DERR_INVALIDCALL;
  const Image& img = store.At(0, level);
  *desc = D3DSURFACE_DESC{};
  desc->Format = store.format;
  desc->Type = D3DRTYPE_SURFACE;
  desc->Usage = store.usage;
  desc->Pool = store.pool;
  desc->Width = img.width;
  desc->Height = img.height;
  return D3D_OK;
}

HRESULT TextureCore::Lock(UINT face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  if (!locked || face >= store.faces || level >= store.levels) return D3DERR_INVALIDCALL;
  Image& img = store.At(face, level);
  if (store.IsRenderTarget() || img.locked) return D3DERR_INVALIDCALL;
  UINT x = 0, y = 0;
  if (rect) {
    if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
        UINT(rect->right) > img.width || UINT(rect->bottom) > img.height)
      return D3DERR_INVALIDCALL;
    x = UINT(rect->left), y = UINT(rect->top);
  }
  if (FailLock()) return D3DERR_INVALIDCALL;
  img.locked = true;
  locked->Pitch = img.pitch;
  locked->pBits = img.pixels.data() + size_t(y) * img.pitch + size_t(x) * BytesPerPixel(store.format);
  (void)flags;
  return D3D_OK;
}

HRESULT TextureCore::Unlock(UINT face, UINT level) {
  if (face >= store.faces || level >= store.levels) return D3DERR_INVALIDCALL;
  Image& img = store.At(face, level);
  if (!img.locked) return D3DERR_INVALIDCALL;
  img.locked = false;
  if (auto dev = device.lock()) dev->backend().UploadTexture(store, face, level);
  return D3D_OK;
}

HRESULT TextureCore::SurfaceOf(const std::shared_ptr<IDirect3DBaseTexture9>& self, UINT face, UINT level,
                               std::shared_ptr<IDirect3DSurface9>& out) {
  out.reset();
  if (face >= store.faces || level >= store.levels) return D3DERR_INVALIDCALL;
  auto& weak = surfaces[face * store.levels + level];
  auto surface = weak.lock();
  if (!surface) {
    D3DSURFACE_DESC desc;
    Desc(level, &desc);
    surface = std::make_shared<Surface>(Surface::Kind::TextureLevel, device, desc);
    surface->container = self;
    surface->texture = this;
    surface->face = face;
    surface->level = level;
    weak = surface;
  }
  out = surface;
  return D3D_OK;
}

template <class Interface, D3DRESOURCETYPE Type>
HRESULT TextureObject<Interface, Type>::GetDevice(std::shared_ptr<IDirect3DDevice9>& out) {
  return DeviceOf<TextureObject>(core.device, out);
}
template class TextureObject<IDirect3DTexture9, D3DRTYPE_TEXTURE>;
template class TextureObject<IDirect3DCubeTexture9, D3DRTYPE_CUBETEXTURE>;

HRESULT Texture::GetSurfaceLevel(UINT level, std::shared_ptr<IDirect3DSurface9>& surface) {
  return core.SurfaceOf(shared_from_this(), 0, level, surface);
}

HRESULT CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level,
                                       std::shared_ptr<IDirect3DSurface9>& surface) {
  return core.SurfaceOf(shared_from_this(), face, level, surface);
}

HRESULT CubeTexture::LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                              DWORD flags) {
  return core.Lock(face, level, locked, rect, flags);
}

HRESULT CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, UINT level) { return core.Unlock(face, level); }

TextureCore* CoreOf(IDirect3DBaseTexture9* texture) {
  if (!texture) return nullptr;
  if (auto* t = dynamic_cast<Texture*>(texture)) return &t->core;
  if (auto* c = dynamic_cast<CubeTexture*>(texture)) return &c->core;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Surfaces

HRESULT Surface::GetDevice(std::shared_ptr<IDirect3DDevice9>& out) { return DeviceOf<Surface>(device, out); }

HRESULT Surface::GetDesc(D3DSURFACE_DESC* out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = desc;
  return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  // Only texture levels with a system copy can be locked; the back buffer and
  // depth buffers were created without D3DPRESENTFLAG_LOCKABLE_BACKBUFFER.
  if (kind != Kind::TextureLevel || !texture) return D3DERR_INVALIDCALL;
  return texture->Lock(face, level, locked, rect, flags);
}

HRESULT Surface::UnlockRect() {
  if (kind != Kind::TextureLevel || !texture) return D3DERR_INVALIDCALL;
  return texture->Unlock(face, level);
}

// ---------------------------------------------------------------------------
// Buffers

HRESULT BufferStore::Lock(UINT offset, UINT size, void** out, DWORD flags) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (locked) return D3DERR_INVALIDCALL;
  UINT total = UINT(data.size());
  if (size == 0 && offset == 0) size = total;
  if (offset > total || size > total - offset) return D3DERR_INVALIDCALL;
  if (FailLock()) return D3DERR_INVALIDCALL;
  locked = true;
  if (!(flags & D3DLOCK_READONLY)) ++version;
  if (flags & D3DLOCK_READONLY) {
    // Nothing changes: keep the GPU copy as it is.
  } else if (flags & D3DLOCK_DISCARD) {
    discarded = true;
    dirtyBegin = 0, dirtyEnd = total;
  } else if (Dirty()) {
    dirtyBegin = std::min(dirtyBegin, offset), dirtyEnd = std::max(dirtyEnd, offset + size);
  } else {
    dirtyBegin = offset, dirtyEnd = offset + size;
  }
  *out = data.data() + offset;
  return D3D_OK;
}

HRESULT BufferStore::Unlock() {
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  ++version;  // what was written while locked counts from here
  return D3D_OK;
}

static void Describe(const BufferStore& s, D3DVERTEXBUFFER_DESC* desc) {
  *desc = {D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, s.usage, s.pool, UINT(s.data.size()), s.fvf};
}
static void Describe(const BufferStore& s, D3DINDEXBUFFER_DESC* desc) {
  *desc = {s.format, D3DRTYPE_INDEXBUFFER, s.usage, s.pool, UINT(s.data.size())};
}

template <class Interface, D3DRESOURCETYPE Type, class Desc>
HRESULT BufferObject<Interface, Type, Desc>::GetDevice(std::shared_ptr<IDirect3DDevice9>& out) {
  return DeviceOf<BufferObject>(device, out);
}

template <class Interface, D3DRESOURCETYPE Type, class Desc>
HRESULT BufferObject<Interface, Type, Desc>::GetDesc(Desc* desc) {
  if (!desc) return D3DERR_INVALIDCALL;
  Describe(store, desc);
  return D3D_OK;
}
template class BufferObject<IDirect3DVertexBuffer9, D3DRTYPE_VERTEXBUFFER, D3DVERTEXBUFFER_DESC>;
template class BufferObject<IDirect3DIndexBuffer9, D3DRTYPE_INDEXBUFFER, D3DINDEXBUFFER_DESC>;

HRESULT VertexDeclaration::GetDevice(std::shared_ptr<IDirect3DDevice9>& out) {
  return DeviceOf<VertexDeclaration>(device, out);
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* out, UINT* count) {
  if (!count) return D3DERR_INVALIDCALL;
  if (out) std::copy(elements.begin(), elements.end(), out);
  *count = UINT(elements.size());
  return D3D_OK;
}

template <class Interface>
HRESULT ShaderObject<Interface>::GetDevice(std::shared_ptr<IDirect3DDevice9>& out) {
  return DeviceOf<ShaderObject>(device, out);
}
template class ShaderObject<IDirect3DPixelShader9>;
template class ShaderObject<IDirect3DVertexShader9>;

}  // namespace gx
