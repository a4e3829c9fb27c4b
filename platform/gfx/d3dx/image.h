#pragma once
// Image files in memory decoded into plain BGRA8 pictures (the byte order of
// D3DFMT_A8R8G8B8 in memory), plus the mip chains and pixel-format
// conversions the texture loaders need. Every decoder checks every read
// against the buffer and the picture size against fixed limits: malformed
// input gives an error, never a read past the data or a huge allocation.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/d3d9types.h"

namespace d3dx {

// Little-endian fields of the file headers.
inline std::uint16_t Read16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t Read32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

// One channel of a pixel format described by a bit mask, scaled to 0..255.
struct MaskChannel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  explicit MaskChannel(std::uint32_t m = 0) : mask(m) {
    if (!mask) return;
    while (!((mask >> shift) & 1)) ++shift;
    max = mask >> shift;
  }
  // Masks must be contiguous runs of bits for the scaling to mean anything.
  bool Valid() const { return mask == 0 || ((max & (max + 1)) == 0); }
  std::uint8_t Extract(std::uint32_t value) const {
    if (!mask) return 0;
    const std::uint32_t v = (value & mask) >> shift;
    return std::uint8_t((std::uint64_t(v) * 255 + max / 2) / max);
  }
};

// Largest picture side and area accepted from a file.
constexpr std::uint32_t kMaxImageSide = 8192;
constexpr std::uint64_t kMaxImagePixels = 4096ull * 4096ull;

struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool hasAlpha = false;            // the file carries meaningful alpha
  std::vector<std::uint8_t> bgra;   // width * height * 4 bytes, top row first

  std::uint8_t* Texel(std::uint32_t x, std::uint32_t y) { return &bgra[(std::size_t(y) * width + x) * 4]; }
  const std::uint8_t* Texel(std::uint32_t x, std::uint32_t y) const {
    return &bgra[(std::size_t(y) * width + x) * 4];
  }
  void Allocate(std::uint32_t w, std::uint32_t h) {
    width = w;
    height = h;
    bgra.assign(std::size_t(w) * h * 4, 0);
  }
};

enum class FileKind { Unknown, Bmp, Jpeg, Png, Dds };

FileKind DetectFileKind(const std::uint8_t* data, std::size_t size);

// Each returns false and a short reason on malformed or unsupported input.
bool DecodeBmp(const std::uint8_t* data, std::size_t size, Image& out, std::string& error);
bool DecodePng(const std::uint8_t* data, std::size_t size, Image& out, std::string& error);
bool DecodeJpeg(const std::uint8_t* data, std::size_t size, Image& out, std::string& error);

// Header only: size and alpha presence, without decoding the pixels.
bool PeekImage(const std::uint8_t* data, std::size_t size, FileKind& kind, std::uint32_t& width,
               std::uint32_t& height, bool& hasAlpha, std::string& error);

// A DDS file: one face (2D) or six (cube, +X -X +Y -Y +Z -Z), each with the
// levels stored in the file (at least one). DecodeCube fills one from a picture as well.
struct DdsFile {
  bool cube = false;
  bool hasAlpha = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::vector<Image>> faces;  // faces[face][level]
};
bool DecodeDds(const std::uint8_t* data, std::size_t size, DdsFile& out, std::string& error);

// Any of BMP, PNG, JPEG or a 2D DDS (its first level).
bool DecodeImage(const std::uint8_t* data, std::size_t size, Image& out, FileKind& kind, std::string& error);

// A cube map: a DDS cube map, or a BMP, PNG or JPEG picture six faces tall (square faces one
// below the other, +X -X +Y -Y +Z -Z from the top; one level each), which compresses as a
// picture where a DDS holds raw texels.
bool DecodeCube(const std::uint8_t* data, std::size_t size, DdsFile& out, std::string& error);

// Number of levels of a full chain down to 1 x 1.
std::uint32_t FullMipCount(std::uint32_t width, std::uint32_t height);
// Half-size level by a box filter (2 x 2 texels, or 2 x 1 once a side is 1).
Image Downsample(const Image& src);
// Resizes with a box/bilinear mix good enough for non-matching requested sizes.
Image Resize(const Image& src, std::uint32_t width, std::uint32_t height);

// Pixel formats the loaders can write, and their size in bytes.
bool IsWritableFormat(D3DFORMAT format);
std::uint32_t BytesPerPixel(D3DFORMAT format);
// Writes one BGRA8 texel in the given format (little-endian, as Direct3D lays it out).
void PackTexel(D3DFORMAT format, const std::uint8_t* bgra, std::uint8_t* dst);
// Writes a whole picture into locked rows of the given pitch.
void WriteImage(const Image& image, D3DFORMAT format, std::uint8_t* bits, std::int64_t pitch);

}  // namespace d3dx
