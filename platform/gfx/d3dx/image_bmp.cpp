// Windows bitmaps: core and info headers (V1 to V5), 1/4/8-bit palettised,
// 16-bit (555 or bit fields), 24-bit and 32-bit (plain or bit fields),
// bottom-up or top-down. Run-length compression is not supported.

#include <cstring>
#include <string>

#include "platform/gfx/d3dx/image.h"

namespace d3dx {
namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
}  // namespace

bool DecodeBmp(const std::uint8_t* data, std::size_t size, Image& out, std::string& error) {
  if (size < 14 + 12 || data[0] != 'B' || data[1] != 'M') {
    error = "not a bitmap";
    return false;
  }
  const std::uint32_t pixelOffset = Read32(data + 10);
  const std::uint32_t headerSize = Read32(data + 14);
  if (headerSize != 12 && headerSize < 40) {
    error = "unknown bitmap header";
    return false;
  }
  if (std::uint64_t(14) + headerSize > size) {
    error = "truncated bitmap header";
    return false;
  }
  const std::uint8_t* h = data + 14;
  std::int64_t width, height;
  std::uint32_t bits, compression = kBiRgb, colorsUsed = 0;
  std::uint32_t masks[4] = {0, 0, 0, 0};
  std::size_t paletteOffset = 14 + headerSize;
  std::size_t paletteEntrySize = 4;
  if (headerSize == 12) {
    width = Read16(h + 4);
    height = std::int16_t(Read16(h + 6));
    bits = Read16(h + 10);
    paletteEntrySize = 3;
  } else {
    width = std::int32_t(Read32(h + 4));
    height = std::int32_t(Read32(h + 8));
    bits = Read16(h + 14);
    compression = Read32(h + 16);
    colorsUsed = Read32(h + 32);
    if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
      const int count = compression == kBiAlphaBitfields ? 4 : 3;
      if (headerSize >= 40u + 4u * count) {
        for (int i = 0; i < count; ++i) masks[i] = Read32(h + 40 + 4 * i);
      } else {
        // The masks follow a plain 40-byte header.
        if (paletteOffset + 4u * count > size) {
          error = "truncated bitmap masks";
          return false;
        }
        for (int i = 0; i < count; ++i) masks[i] = Read32(data + paletteOffset + 4 * i);
        paletteOffset += 4u * count;
      }
    }
    if (headerSize >= 56 && compression == kBiBitfields) masks[3] = Read32(h + 52);
  }

  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
      std::uint64_t(width) * std::uint64_t(height) > kMaxImagePixels) {
    error = "bad bitmap size";
    return false;
  }

  const bool paletted = bits == 1 || bits == 4 || bits == 8;
  if (!(paletted || bits == 16 || bits == 24 || bits == 32)) {
    error = "unsupported bit depth";
    return false;
  }
  const bool fields = compression == kBiBitfields || compression == kBiAlphaBitfields;
  if (!(compression == kBiRgb || (fields && (bits == 16 || bits == 32)))) {
    error = "unsupported bitmap compression";
    return false;
  }

  // The pixels follow the headers (and the palette); an offset into them would draw the headers.
  if (pixelOffset < paletteOffset) {
    error = "the pixel data offset " + std::to_string(pixelOffset) + " lies inside the bitmap's headers";
    return false;
  }

  // Palette.
  std::uint8_t palette[256][4] = {};
  if (paletted) {
    if (colorsUsed > (1u << bits)) {
      error = "the bitmap claims " + std::to_string(colorsUsed) + " palette colours; " + std::to_string(bits) +
              " bits per pixel have " + std::to_string(1u << bits);
      return false;
    }
    std::uint32_t count = colorsUsed ? colorsUsed : (1u << bits);
    if (paletteOffset + std::uint64_t(count) * paletteEntrySize > size) {
      error = "truncated palette";
      return false;
    }
    // The palette ends where the pixels begin: entries it would take from the pixels are not
    // there (they read black, as on Windows), and a palette with no entry at all is no bitmap.
    const std::uint64_t room = (pixelOffset - paletteOffset) / paletteEntrySize;
    if (room == 0) {
      error = "a " + std::to_string(bits) + "-bit bitmap without a palette";
      return false;
    }
    if (count > room) count = std::uint32_t(room);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* e = data + paletteOffset + i * paletteEntrySize;
      palette[i][0] = e[0];
      palette[i][1] = e[1];
      palette[i][2] = e[2];
      palette[i][3] = 255;
    }
    // Indexes past the stored entries read black, as on Windows.
    for (std::uint32_t i = count; i < 256; ++i) palette[i][3] = 255;
  }

  // Channel masks for 16 and 32 bits.
  if (!fields) {
    if (bits == 16) {
      masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F; masks[3] = 0;
    } else if (bits == 32) {
      masks[0] = 0x00FF0000; masks[1] = 0x0000FF00; masks[2] = 0x000000FF; masks[3] = 0;
    }
  }
  const MaskChannel r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);
  if (!r.Valid() || !g.Valid() || !b.Valid() || !a.Valid()) {
    error = "bad bit masks";
    return false;
  }

  const std::uint64_t rowBytes = (std::uint64_t(width) * bits + 7) / 8;
  const std::uint64_t stride = ((std::uint64_t(width) * bits + 31) / 32) * 4;
  // The last row's padding may be missing from the file.
  if (pixelOffset > size || std::uint64_t(pixelOffset) + stride * (height - 1) + rowBytes > size) {
    error = "truncated pixel data";
    return false;
  }

  out.Allocate(std::uint32_t(width), std::uint32_t(height));
  out.hasAlpha = bits == 32 && a.mask != 0;
  for (std::int64_t y = 0; y < height; ++y) {
    const std::int64_t fileRow = topDown ? y : height - 1 - y;
    const std::uint8_t* row = data + pixelOffset + stride * fileRow;
    std::uint8_t* dst = out.Texel(0, std::uint32_t(y));
    for (std::int64_t x = 0; x < width; ++x, dst += 4) {
      if (paletted) {
        const std::uint64_t bit = std::uint64_t(x) * bits;
        const std::uint8_t byte = row[bit / 8];
        const unsigned index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        std::memcpy(dst, palette[index], 4);
      } else if (bits == 24) {
        const std::uint8_t* p = row + x * 3;
        dst[0] = p[0];
        dst[1] = p[1];
        dst[2] = p[2];
        dst[3] = 255;
      } else {
        const std::uint32_t v = bits == 16 ? Read16(row + x * 2) : Read32(row + x * 4);
        dst[0] = b.Extract(v);
        dst[1] = g.Extract(v);
        dst[2] = r.Extract(v);
        dst[3] = a.mask ? a.Extract(v) : 255;
      }
    }
  }
  return true;
}

}  // namespace d3dx
