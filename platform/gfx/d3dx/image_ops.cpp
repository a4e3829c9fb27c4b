// Mip levels, resizing and the texel formats the texture loaders write.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gfx/d3dx/image.h"
#include "platform/gfx/formats.h"

namespace d3dx {

std::uint32_t FullMipCount(std::uint32_t width, std::uint32_t height) { return gx::FullMipCount(width, height); }

Image Downsample(const Image& src) {
  Image dst;
  dst.Allocate(std::max<std::uint32_t>(1, src.width / 2), std::max<std::uint32_t>(1, src.height / 2));
  dst.hasAlpha = src.hasAlpha;
  for (std::uint32_t y = 0; y < dst.height; ++y) {
    const std::uint32_t y0 = std::min(2 * y, src.height - 1), y1 = std::min(2 * y + 1, src.height - 1);
    for (std::uint32_t x = 0; x < dst.width; ++x) {
      const std::uint32_t x0 = std::min(2 * x, src.width - 1), x1 = std::min(2 * x + 1, src.width - 1);
      const std::uint8_t* a = src.Texel(x0, y0);
      const std::uint8_t* b = src.Texel(x1, y0);
      const std::uint8_t* c = src.Texel(x0, y1);
      const std::uint8_t* d = src.Texel(x1, y1);
      std::uint8_t* o = dst.Texel(x, y);
      for (int k = 0; k < 4; ++k) o[k] = std::uint8_t((a[k] + b[k] + c[k] + d[k] + 2) / 4);
    }
  }
  return dst;
}

Image Resize(const Image& src, std::uint32_t width, std::uint32_t height) {
  if (width == src.width && height == src.height) return src;
  // Halve while the source is at least twice the target, then sample bilinearly,
  // so large reductions still average every texel.
  Image cur = src;
  while (cur.width >= 2 * width && cur.height >= 2 * height && (cur.width > 1 || cur.height > 1))
    cur = Downsample(cur);
  Image dst;
  dst.Allocate(width, height);
  dst.hasAlpha = src.hasAlpha;
  const float sx = float(cur.width) / width, sy = float(cur.height) / height;
  for (std::uint32_t y = 0; y < height; ++y) {
    float fy = (y + 0.5f) * sy - 0.5f;
    fy = std::clamp(fy, 0.0f, float(cur.height - 1));
    const std::uint32_t y0 = std::uint32_t(fy), y1 = std::min(y0 + 1, cur.height - 1);
    const float ty = fy - y0;
    for (std::uint32_t x = 0; x < width; ++x) {
      float fx = (x + 0.5f) * sx - 0.5f;
      fx = std::clamp(fx, 0.0f, float(cur.width - 1));
      const std::uint32_t x0 = std::uint32_t(fx), x1 = std::min(x0 + 1, cur.width - 1);
      const float tx = fx - x0;
      std::uint8_t* o = dst.Texel(x, y);
      for (int k = 0; k < 4; ++k) {
        const float top = cur.Texel(x0, y0)[k] * (1 - tx) + cur.Texel(x1, y0)[k] * tx;
        const float bottom = cur.Texel(x0, y1)[k] * (1 - tx) + cur.Texel(x1, y1)[k] * tx;
        o[k] = std::uint8_t(std::lround(top * (1 - ty) + bottom * ty));
      }
    }
  }
  return dst;
}

bool IsWritableFormat(D3DFORMAT format) { return BytesPerPixel(format) != 0; }

// The layer's own table: what the device can store, D3DX can write.
std::uint32_t BytesPerPixel(D3DFORMAT format) { return gx::BytesPerPixel(format); }

namespace {
inline unsigned Bits(std::uint8_t v, unsigned bits) { return (v * ((1u << bits) - 1) + 127) / 255; }
inline void Put16(std::uint8_t* d, unsigned v) {
  d[0] = std::uint8_t(v);
  d[1] = std::uint8_t(v >> 8);
}
}  // namespace

void PackTexel(D3DFORMAT format, const std::uint8_t* s, std::uint8_t* d) {
  const std::uint8_t b = s[0], g = s[1], r = s[2], a = s[3];
  switch (format) {
    case D3DFMT_A8R8G8B8: d[0] = b; d[1] = g; d[2] = r; d[3] = a; break;
    case D3DFMT_X8R8G8B8: d[0] = b; d[1] = g; d[2] = r; d[3] = 0xFF; break;
    case D3DFMT_A8B8G8R8: d[0] = r; d[1] = g; d[2] = b; d[3] = a; break;
    case D3DFMT_X8B8G8R8: d[0] = r; d[1] = g; d[2] = b; d[3] = 0xFF; break;
    case D3DFMT_R8G8B8: d[0] = b; d[1] = g; d[2] = r; break;
    case D3DFMT_R5G6B5: Put16(d, (Bits(r, 5) << 11) | (Bits(g, 6) << 5) | Bits(b, 5)); break;
    case D3DFMT_X1R5G5B5: Put16(d, 0x8000 | (Bits(r, 5) << 10) | (Bits(g, 5) << 5) | Bits(b, 5)); break;
    case D3DFMT_A1R5G5B5:
      Put16(d, (a >= 128 ? 0x8000 : 0) | (Bits(r, 5) << 10) | (Bits(g, 5) << 5) | Bits(b, 5));
      break;
    case D3DFMT_A4R4G4B4: Put16(d, (Bits(a, 4) << 12) | (Bits(r, 4) << 8) | (Bits(g, 4) << 4) | Bits(b, 4)); break;
    case D3DFMT_A8: d[0] = a; break;
    case D3DFMT_L8: d[0] = std::uint8_t((r * 77 + g * 150 + b * 29 + 128) >> 8); break;
    default: break;
  }
}

void WriteImage(const Image& image, D3DFORMAT format, std::uint8_t* bits, std::int64_t pitch) {
  const std::uint32_t bpp = BytesPerPixel(format);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::uint8_t* row = bits + pitch * y;
    const std::uint8_t* src = image.Texel(0, y);
    if (format == D3DFMT_A8R8G8B8) {
      std::memcpy(row, src, std::size_t(image.width) * 4);
      continue;
    }
    for (std::uint32_t x = 0; x < image.width; ++x) PackTexel(format, src + 4 * x, row + bpp * x);
  }
}

}  // namespace d3dx
