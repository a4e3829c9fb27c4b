// Texture creation: empty textures with device-legal sizes, textures and cube
// maps from image files in memory (with box-filtered mip chains), and filling
// every texel of every level through a callback.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gfx/d3dx/common.h"
#include "platform/gfx/d3dx/image.h"

using d3dx::Image;

namespace {

std::uint32_t NextPow2(std::uint32_t v) {
  std::uint32_t p = 1;
  while (p < v && p < 0x80000000u) p <<= 1;
  return p;
}

// The size, level count and format D3DX would settle on for this device.
struct TextureShape {
  UINT width, height, levels;
  D3DFORMAT format;
};

TextureShape LegalShape(const D3DCAPS9& caps, UINT width, UINT height, UINT levels, D3DFORMAT format) {
  TextureShape s{width, height, levels, format};
  // As D3DX: an unspecified size is 256, a zero size 1.
  if (s.width == D3DX_DEFAULT || s.width == D3DX_DEFAULT_NONPOW2) s.width = 256;
  if (s.height == D3DX_DEFAULT || s.height == D3DX_DEFAULT_NONPOW2) s.height = 256;
  if (s.width == 0) s.width = 1;
  if (s.height == 0) s.height = 1;
  if (s.format == D3DFMT_UNKNOWN || s.format == D3DFMT_FROM_FILE) s.format = D3DFMT_A8R8G8B8;
  const bool pow2 = (caps.TextureCaps & D3DPTEXTURECAPS_POW2) != 0;
  const bool conditional = (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) != 0;
  if (pow2 && (!conditional || s.levels != 1)) {
    s.width = NextPow2(s.width);
    s.height = NextPow2(s.height);
  }
  if (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) s.width = s.height = std::max(s.width, s.height);
  if (caps.MaxTextureWidth && s.width > caps.MaxTextureWidth) s.width = caps.MaxTextureWidth;
  if (caps.MaxTextureHeight && s.height > caps.MaxTextureHeight) s.height = caps.MaxTextureHeight;
  const UINT full = d3dx::FullMipCount(s.width, s.height);
  if (s.levels == 0 || s.levels == D3DX_DEFAULT || s.levels > full) s.levels = full;
  if (caps.TextureCaps && !(caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP)) s.levels = 1;
  return s;
}

// Locks one level and writes the picture in the texture's format.
template <typename Lock, typename Unlock>
HRESULT UploadLevel(const Image& image, D3DFORMAT format, Lock lock, Unlock unlock) {
  D3DLOCKED_RECT locked{};
  HRESULT hr = lock(&locked);
  if (FAILED(hr)) return hr;
  if (!locked.pBits) {
    unlock();
    return D3DERR_INVALIDCALL;
  }
  d3dx::WriteImage(image, format, static_cast<std::uint8_t*>(locked.pBits), locked.Pitch);
  return unlock();
}

void ApplyColorKey(Image& image, D3DCOLOR key) {
  if (!key) return;
  const std::uint8_t k[4] = {std::uint8_t(key), std::uint8_t(key >> 8), std::uint8_t(key >> 16),
                             std::uint8_t(key >> 24)};
  for (std::size_t i = 0; i < image.bgra.size(); i += 4) {
    std::uint8_t* t = &image.bgra[i];
    if (t[0] == k[0] && t[1] == k[1] && t[2] == k[2] && t[3] == k[3]) std::memset(t, 0, 4);
  }
  image.hasAlpha = true;
}

D3DXIMAGE_FILEFORMAT FileFormatOf(d3dx::FileKind kind) {
  switch (kind) {
    case d3dx::FileKind::Jpeg: return D3DXIFF_JPG;
    case d3dx::FileKind::Png: return D3DXIFF_PNG;
    case d3dx::FileKind::Dds: return D3DXIFF_DDS;
    default: return D3DXIFF_BMP;
  }
}

}  // namespace

HRESULT D3DXGetImageInfoFromFileInMemory(LPCVOID data, UINT size, D3DXIMAGE_INFO* info) {
  if (!data || !size || !info) return D3DERR_INVALIDCALL;
  d3dx::FileKind kind;
  std::uint32_t w, h;
  bool alpha;
  std::string error;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (!d3dx::PeekImage(bytes, size, kind, w, h, alpha, error)) return D3DXERR_INVALIDDATA;
  info->Width = w;
  info->Height = h;
  info->Depth = 1;
  info->MipLevels = 1;
  info->Format = alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
  info->ResourceType = D3DRTYPE_TEXTURE;
  info->ImageFileFormat = FileFormatOf(kind);
  if (kind == d3dx::FileKind::Dds) {
    d3dx::DdsFile dds;
    if (d3dx::DecodeDds(bytes, size, dds, error)) {
      info->MipLevels = UINT(dds.faces[0].size());
      if (dds.cube) info->ResourceType = D3DRTYPE_CUBETEXTURE;
    }
  }
  return S_OK;
}

HRESULT D3DXCreateTexture(const LPDIRECT3DDEVICE9& device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, LPDIRECT3DTEXTURE9& texture) {
  texture.reset();
  if (!device) return D3DERR_INVALIDCALL;
  const TextureShape s = LegalShape(d3dx::DeviceCaps(device.get()), width, height, mipLevels, format);
  return device->CreateTexture(s.width, s.height, s.levels, usage, s.format, pool, texture, nullptr);
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, void* palette, LPDIRECT3DTEXTURE9& texture) {
  texture.reset();
  if (!device || !data || size == 0) return D3DERR_INVALIDCALL;
  const auto* bytes = static_cast<const std::uint8_t*>(data);

  Image image;
  d3dx::FileKind kind;
  std::string error;
  std::vector<Image> fileLevels;  // levels stored in a DDS file
  if (d3dx::DetectFileKind(bytes, size) == d3dx::FileKind::Dds) {
    kind = d3dx::FileKind::Dds;
    d3dx::DdsFile dds;
    if (!d3dx::DecodeDds(bytes, size, dds, error) || dds.cube) {
      d3dx::DebugLog("texture: " + (error.empty() ? std::string("cube map given for a 2D texture") : error));
      return D3DXERR_INVALIDDATA;
    }
    fileLevels = std::move(dds.faces[0]);
    image = fileLevels[0];
  } else if (!d3dx::DecodeImage(bytes, size, image, kind, error)) {
    d3dx::DebugLog("texture: " + error);
    return D3DXERR_INVALIDDATA;
  }
  if (srcInfo) {
    srcInfo->Width = image.width;
    srcInfo->Height = image.height;
    srcInfo->Depth = 1;
    srcInfo->MipLevels = fileLevels.empty() ? 1 : UINT(fileLevels.size());
    srcInfo->Format = image.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    srcInfo->ResourceType = D3DRTYPE_TEXTURE;
    srcInfo->ImageFileFormat = FileFormatOf(kind);
  }
  ApplyColorKey(image, colorKey);

  if (format == D3DFMT_UNKNOWN || format == D3DFMT_FROM_FILE)
    format = image.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
  if (!d3dx::IsWritableFormat(format)) return D3DERR_INVALIDCALL;
  if (width == D3DX_FROM_FILE || width == D3DX_DEFAULT || width == D3DX_DEFAULT_NONPOW2 || width == 0)
    width = image.width;
  if (height == D3DX_FROM_FILE || height == D3DX_DEFAULT || height == D3DX_DEFAULT_NONPOW2 || height == 0)
    height = image.height;
  if (mipLevels == D3DX_FROM_FILE) mipLevels = fileLevels.empty() ? 1 : UINT(fileLevels.size());
  const TextureShape s = LegalShape(d3dx::DeviceCaps(device.get()), width, height, mipLevels, format);

  LPDIRECT3DTEXTURE9 created;
  HRESULT hr = device->CreateTexture(s.width, s.height, s.levels, usage, s.format, pool, created, nullptr);
  if (FAILED(hr)) return hr;
  const UINT levels = created->GetLevelCount();
  Image level = d3dx::Resize(image, s.width, s.height);
  for (UINT l = 0; l < levels; ++l) {
    if (l > 0) {
      // Stored levels are used as they are when their size matches.
      const bool stored = l < fileLevels.size() && s.width == image.width && s.height == image.height &&
                          colorKey == 0;
      level = stored ? fileLevels[l] : d3dx::Downsample(level);
    }
    hr = UploadLevel(
        level, s.format, [&](D3DLOCKED_RECT* r) { return created->LockRect(l, r, nullptr, 0); },
        [&] { return created->UnlockRect(l); });
    if (FAILED(hr)) return hr;
  }
  texture = std::move(created);
  return S_OK;
}

HRESULT D3DXCreateTextureFromFileInMemory(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size,
                                          LPDIRECT3DTEXTURE9& texture) {
  return D3DXCreateTextureFromFileInMemoryEx(device, data, size, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                             D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                             nullptr, nullptr, texture);
}

HRESULT D3DXCreateCubeTextureFromFileInMemory(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size,
                                              LPDIRECT3DCUBETEXTURE9& texture) {
  texture.reset();
  if (!device || !data || size == 0) return D3DERR_INVALIDCALL;
  d3dx::DdsFile dds;
  std::string error;
  if (!d3dx::DecodeCube(static_cast<const std::uint8_t*>(data), size, dds, error)) {
    d3dx::DebugLog("cube texture: " + error);
    return D3DXERR_INVALIDDATA;
  }
  const D3DCAPS9 caps = d3dx::DeviceCaps(device.get());
  if (caps.TextureCaps && !(caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP)) return D3DERR_NOTAVAILABLE;
  UINT edge = dds.width;
  if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) && NextPow2(edge) != edge) edge = NextPow2(edge);
  if (caps.MaxTextureWidth && edge > caps.MaxTextureWidth) edge = caps.MaxTextureWidth;
  UINT levels = d3dx::FullMipCount(edge, edge);
  if (caps.TextureCaps && !(caps.TextureCaps & D3DPTEXTURECAPS_MIPCUBEMAP)) levels = 1;
  const D3DFORMAT format = dds.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;

  LPDIRECT3DCUBETEXTURE9 created;
  HRESULT hr = device->CreateCubeTexture(edge, levels, 0, format, D3DPOOL_MANAGED, created, nullptr);
  if (FAILED(hr)) return hr;
  levels = created->GetLevelCount();
  for (UINT f = 0; f < 6; ++f) {
    const auto face = static_cast<D3DCUBEMAP_FACES>(f);
    const std::vector<Image>& stored = dds.faces[f];
    Image level = d3dx::Resize(stored[0], edge, edge);
    for (UINT l = 0; l < levels; ++l) {
      if (l > 0) level = (l < stored.size() && edge == dds.width) ? stored[l] : d3dx::Downsample(level);
      hr = UploadLevel(
          level, format, [&](D3DLOCKED_RECT* r) { return created->LockRect(face, l, r, nullptr, 0); },
          [&] { return created->UnlockRect(face, l); });
      if (FAILED(hr)) return hr;
    }
  }
  texture = std::move(created);
  return S_OK;
}

HRESULT D3DXFillTexture(const LPDIRECT3DTEXTURE9& texture, LPD3DXFILL2D function, LPVOID data) {
  if (!texture || !function) return D3DERR_INVALIDCALL;
  const UINT levels = texture->GetLevelCount();
  for (UINT l = 0; l < levels; ++l) {
    D3DSURFACE_DESC desc{};
    HRESULT hr = texture->GetLevelDesc(l, &desc);
    if (FAILED(hr)) return hr;
    if (!d3dx::IsWritableFormat(desc.Format)) return D3DERR_INVALIDCALL;
    D3DLOCKED_RECT locked{};
    hr = texture->LockRect(l, &locked, nullptr, 0);
    if (FAILED(hr)) return hr;
    if (!locked.pBits) {
      texture->UnlockRect(l);
      return D3DERR_INVALIDCALL;
    }
    const std::uint32_t bpp = d3dx::BytesPerPixel(desc.Format);
    const D3DXVECTOR2 texel(1.0f / desc.Width, 1.0f / desc.Height);
    auto channel = [](float v) -> std::uint8_t {
      if (!(v > 0.0f)) return 0;  // negative or NaN
      if (v >= 1.0f) return 255;
      return std::uint8_t(v * 255.0f + 0.5f);
    };
    for (UINT y = 0; y < desc.Height; ++y) {
      auto* row = static_cast<std::uint8_t*>(locked.pBits) + std::int64_t(locked.Pitch) * y;
      for (UINT x = 0; x < desc.Width; ++x) {
        const D3DXVECTOR2 coord((x + 0.5f) * texel.x, (y + 0.5f) * texel.y);
        D3DXVECTOR4 value;
        function(&value, &coord, &texel, data);
        const std::uint8_t bgra[4] = {channel(value.z), channel(value.y), channel(value.x), channel(value.w)};
        d3dx::PackTexel(desc.Format, bgra, row + x * bpp);
      }
    }
    hr = texture->UnlockRect(l);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}
