#pragma once
// The device's resources as the front end keeps them: pixels and vertices in
// system memory (what Lock hands out), plus an opaque object the backend hangs
// its GPU copy on. Both backends share this code, so locking behaves alike.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/d3d9.h"

namespace gx {

class Device;

// What a backend attaches to a resource (GL names...). Destroyed with it.
struct GpuObject {
  virtual ~GpuObject() = default;
};

std::uint64_t NextSerial();

struct Image {
  UINT width = 0;
  UINT height = 0;
  INT pitch = 0;
  std::vector<std::uint8_t> pixels;  // top row first, empty for render targets
  bool locked = false;
};

// Storage shared by 2D and cube textures. Images are face-major.
struct TextureStore {
  D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  DWORD usage = 0;
  D3DPOOL pool = D3DPOOL_MANAGED;
  UINT width = 0, height = 0, levels = 0, faces = 1;
  std::vector<Image> images;
  std::uint64_t serial = NextSerial();
  std::unique_ptr<GpuObject> gpu;
  DWORD lod = 0;  // SetLOD: the most detailed level sampled

  bool IsRenderTarget() const { return (usage & D3DUSAGE_RENDERTARGET) != 0; }
  Image& At(UINT face, UINT level) { return images[face * levels + level]; }
  void Allocate();
};

class Surface;

// Shared behaviour of the two texture kinds (locking, surfaces, descriptions).
class TextureCore {
 public:
  TextureCore(std::weak_ptr<Device> device, TextureStore store);
  TextureStore store;
  std::weak_ptr<Device> device;
  std::vector<std::weak_ptr<Surface>> surfaces;  // cached so one level is one surface object

  HRESULT Desc(UINT level, D3DSURFACE_DESC* desc);
  HRESULT Lock(UINT face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
  HRESULT Unlock(UINT face, UINT level);
  DWORD SetLod(DWORD lod);
  HRESULT SurfaceOf(const std::shared_ptr<IDirect3DBaseTexture9>& self, UINT face, UINT level,
                    std::shared_ptr<IDirect3DSurface9>& out);
};

// What the two texture kinds share: the core and the base-texture calls.
template <class Interface, D3DRESOURCETYPE Type>
class TextureObject : public Interface {
 public:
  TextureObject(std::weak_ptr<Device> device, TextureStore store) : core(std::move(device), std::move(store)) {}
  TextureCore core;

  D3DRESOURCETYPE GetType() override { return Type; }
  HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) override;
  DWORD GetLevelCount() override { return core.store.levels; }
  DWORD SetLOD(DWORD lod) override { return core.SetLod(lod); }
  DWORD GetLOD() override { return core.store.lod; }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override { return core.Desc(level, desc); }
};

class Texture final : public TextureObject<IDirect3DTexture9, D3DRTYPE_TEXTURE>,
                      public std::enable_shared_from_this<Texture> {
 public:
  using TextureObject::TextureObject;
  HRESULT GetSurfaceLevel(UINT level, std::shared_ptr<IDirect3DSurface9>& surface) override;
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
    return core.Lock(0, level, locked, rect, flags);
  }
  HRESULT UnlockRect(UINT level) override { return core.Unlock(0, level); }
};

class CubeTexture final : public TextureObject<IDirect3DCubeTexture9, D3DRTYPE_CUBETEXTURE>,
                          public std::enable_shared_from_this<CubeTexture> {
 public:
  using TextureObject::TextureObject;
  HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, std::shared_ptr<IDirect3DSurface9>& surface) override;
  HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                   DWORD flags) override;
  HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override;
};

// The texture core behind a base texture of either kind (nullptr for others).
TextureCore* CoreOf(IDirect3DBaseTexture9* texture);

class Surface final : public IDirect3DSurface9 {
 public:
  enum class Kind { TextureLevel, BackBuffer, DepthStencil };
  Surface(Kind kind, std::weak_ptr<Device> device, const D3DSURFACE_DESC& desc)
      : kind(kind), device(std::move(device)), desc(desc) {}

  Kind kind;
  std::weak_ptr<Device> device;
  D3DSURFACE_DESC desc;
  std::shared_ptr<IDirect3DBaseTexture9> container;  // keeps the texture alive
  TextureCore* texture = nullptr;
  UINT face = 0, level = 0;
  std::uint64_t serial = NextSerial();
  std::unique_ptr<GpuObject> gpu;  // backend render buffer or framebuffer

  D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
  HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) override;
  HRESULT GetDesc(D3DSURFACE_DESC* out) override;
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
  HRESULT UnlockRect() override;
};

struct BufferStore {
  D3DRESOURCETYPE type = D3DRTYPE_VERTEXBUFFER;
  DWORD usage = 0;
  D3DPOOL pool = D3DPOOL_DEFAULT;
  DWORD fvf = 0;
  D3DFORMAT format = D3DFMT_VERTEXDATA;
  std::vector<std::uint8_t> data;
  bool locked = false;
  // Bytes changed since the backend last copied them ([dirtyBegin, dirtyEnd)).
  UINT dirtyBegin = 0, dirtyEnd = 0;
  bool discarded = false;  // the whole buffer was replaced (DISCARD)
  std::uint64_t version = 0;  // grows with every lock that may write
  // Smallest and largest 16-bit index in the whole buffer, as of indexRangeVersion.
  std::uint16_t lowestIndex = 0, highestIndex = 0;
  std::uint64_t indexRangeVersion = ~0ull;
  std::uint64_t serial = NextSerial();
  std::unique_ptr<GpuObject> gpu;

  HRESULT Lock(UINT offset, UINT size, void** out, DWORD flags);
  HRESULT Unlock();
  bool Dirty() const { return dirtyEnd > dirtyBegin; }
  void MarkClean() { dirtyBegin = dirtyEnd = 0, discarded = false; }
};

// A buffer object of either kind: its store and its description.
template <class Interface, D3DRESOURCETYPE Type, class Desc>
class BufferObject final : public Interface {
 public:
  BufferObject(std::weak_ptr<Device> device, BufferStore store) : device(std::move(device)), store(std::move(store)) {}
  std::weak_ptr<Device> device;
  BufferStore store;
  D3DRESOURCETYPE GetType() override { return Type; }
  HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) override;
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
    return store.Lock(offset, size, data, flags);
  }
  HRESULT Unlock() override { return store.Unlock(); }
  HRESULT GetDesc(Desc* desc) override;
};

using VertexBuffer = BufferObject<IDirect3DVertexBuffer9, D3DRTYPE_VERTEXBUFFER, D3DVERTEXBUFFER_DESC>;
using IndexBuffer = BufferObject<IDirect3DIndexBuffer9, D3DRTYPE_INDEXBUFFER, D3DINDEXBUFFER_DESC>;

class VertexDeclaration final : public IDirect3DVertexDeclaration9 {
 public:
  VertexDeclaration(std::weak_ptr<Device> device, const D3DVERTEXELEMENT9* elements, UINT count, DWORD fvf)
      : device(std::move(device)), elements(elements, elements + count), fvf(fvf) {}
  std::weak_ptr<Device> device;
  std::vector<D3DVERTEXELEMENT9> elements;  // D3DDECL_END() included
  DWORD fvf;                                // the flexible vertex format it describes
  HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) override;
  HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;
};

struct ShaderStore {
  bool pixel = true;
  std::string source;
  std::uint64_t serial = NextSerial();
  std::unique_ptr<GpuObject> gpu;
};

// A shader object of either stage: its source and its backend object.
template <class Interface>
class ShaderObject final : public Interface {
 public:
  ShaderObject(std::weak_ptr<Device> device, ShaderStore store) : device(std::move(device)), store(std::move(store)) {}
  std::weak_ptr<Device> device;
  ShaderStore store;
  const char* GxSource() override { return store.source.c_str(); }
  HRESULT GetDevice(std::shared_ptr<IDirect3DDevice9>& device) override;
};

using PixelShader = ShaderObject<IDirect3DPixelShader9>;
using VertexShader = ShaderObject<IDirect3DVertexShader9>;

}  // namespace gx
