// DirectDraw Surface files, uncompressed only: RGB with bit masks (16, 24 and
// 32 bits, optional alpha) and 8-bit luminance; 2D pictures and full cube maps,
// with or without stored mip levels. The whole payload size is checked against
// the buffer before anything is allocated.

#include <algorithm>
#include <cstring>

#include "platform/gfx/d3dx/image.h"

namespace d3dx {
namespace {

constexpr std::uint32_t kHeaderSize = 124;
constexpr std::uint32_t kDataOffset = 4 + kHeaderSize;

constexpr std::uint32_t kFlagMipCount = 0x20000;
constexpr std::uint32_t kPfAlphaPixels = 0x1;
constexpr std::uint32_t kPfFourCC = 0x4;
constexpr std::uint32_t kPfRgb = 0x40;
constexpr std::uint32_t kPfLuminance = 0x20000;
constexpr std::uint32_t kCaps2Cube = 0x200;
constexpr std::uint32_t kCaps2AllFaces = 0xFC00;
constexpr std::uint32_t kCaps2Volume = 0x200000;
}  // namespace

bool DecodeDds(const std::uint8_t* data, std::size_t size, DdsFile& out, std::string& error) {
  if (!data || size < kDataOffset || std::memcmp(data, "DDS ", 4) != 0) {
    error = "not a DDS file";
    return false;
  }
  const std::uint8_t* h = data + 4;
  if (Read32(h) != kHeaderSize || Read32(h + 72) != 32) {
    error = "bad DDS header";
    return false;
  }
  const std::uint32_t flags = Read32(h + 4);
  const std::uint32_t height = Read32(h + 8);
  const std::uint32_t width = Read32(h + 12);
  const std::uint32_t mipCount = Read32(h + 24);
  const std::uint32_t pfFlags = Read32(h + 76);
  const std::uint32_t bits = Read32(h + 84);
  const std::uint32_t masks[4] = {Read32(h + 88), Read32(h + 92), Read32(h + 96), Read32(h + 100)};
  const std::uint32_t caps2 = Read32(h + 108);

  if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide ||
      std::uint64_t(width) * height > kMaxImagePixels) {
    error = "bad DDS size";
    return false;
  }
  if (pfFlags & kPfFourCC) {
    error = "compressed DDS formats are not supported";
    return false;
  }
  if (caps2 & kCaps2Volume) {
    error = "volume textures are not supported";
    return false;
  }
  const bool luminance = (pfFlags & kPfLuminance) != 0;
  if (!(pfFlags & kPfRgb) && !luminance) {
    error = "unsupported DDS pixel format";
    return false;
  }
  if (!(bits == 8 || bits == 16 || bits == 24 || bits == 32) || (bits == 8 && !luminance)) {
    error = "unsupported DDS bit count";
    return false;
  }
  const bool alpha = (pfFlags & kPfAlphaPixels) != 0 && masks[3] != 0;
  const MaskChannel r(masks[0]), g(luminance ? masks[0] : masks[1]), b(luminance ? masks[0] : masks[2]),
      a(alpha ? masks[3] : 0);
  if (!r.Valid() || !g.Valid() || !b.Valid() || !a.Valid() || masks[0] == 0) {
    error = "bad DDS bit masks";
    return false;
  }

  const bool cube = (caps2 & kCaps2Cube) != 0;
  if (cube && ((caps2 & kCaps2AllFaces) != kCaps2AllFaces || width != height)) {
    error = "cube map without all six square faces";
    return false;
  }
  std::uint32_t levels = 1;
  if ((flags & kFlagMipCount) && mipCount > 1) levels = mipCount;
  if (levels > FullMipCount(width, height)) {
    error = "more DDS levels than the size allows";
    return false;
  }
  const std::uint32_t faceCount = cube ? 6 : 1;
  const std::uint32_t bytes = bits / 8;

  std::uint64_t need = 0;
  for (std::uint32_t l = 0; l < levels; ++l) {
    const std::uint64_t w = std::max<std::uint32_t>(1, width >> l), hh = std::max<std::uint32_t>(1, height >> l);
    need += w * hh * bytes;
  }
  need *= faceCount;
  if (need > size - kDataOffset) {
    error = "truncated DDS data";
    return false;
  }

  out = DdsFile();
  out.cube = cube;
  out.hasAlpha = alpha;
  out.width = width;
  out.height = height;
  out.faces.resize(faceCount);
  const std::uint8_t* p = data + kDataOffset;
  for (std::uint32_t f = 0; f < faceCount; ++f) {
    for (std::uint32_t l = 0; l < levels; ++l) {
      Image img;
      img.Allocate(std::max<std::uint32_t>(1, width >> l), std::max<std::uint32_t>(1, height >> l));
      img.hasAlpha = alpha;
      std::uint8_t* dst = img.bgra.data();
      const std::size_t count = std::size_t(img.width) * img.height;
      for (std::size_t i = 0; i < count; ++i, p += bytes, dst += 4) {
        std::uint32_t v = 0;
        for (std::uint32_t k = 0; k < bytes; ++k) v |= std::uint32_t(p[k]) << (8 * k);
        dst[0] = b.Extract(v);
        dst[1] = g.Extract(v);
        dst[2] = r.Extract(v);
        dst[3] = alpha ? a.Extract(v) : 255;
      }
      out.faces[f].push_back(std::move(img));
    }
  }
  return true;
}

}  // namespace d3dx
