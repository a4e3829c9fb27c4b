#pragma once
// Image files made by the tests themselves: bitmaps written byte by byte,
// PNG and JPEG through libpng and libjpeg, DDS files by hand.

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace d3dxtest {

using Bytes = std::vector<std::uint8_t>;
// Colour of texel (x, y) as 0xAARRGGBB.
using Pattern = std::function<std::uint32_t(std::uint32_t x, std::uint32_t y)>;

inline void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(std::uint8_t(v));
  b.push_back(std::uint8_t(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// bits 8: palette = the pattern's distinct colours in order of first use (up to 256).
// bits 24 / 32: plain BI_RGB. topDown: negative height.
Bytes MakeBmp(std::uint32_t w, std::uint32_t h, int bits, bool topDown, const Pattern& pattern);
// A 32-bit bitmap with a V3 header and an alpha mask.
Bytes MakeBmpWithAlpha(std::uint32_t w, std::uint32_t h, const Pattern& pattern);
Bytes EncodePng(std::uint32_t w, std::uint32_t h, bool alpha, const Pattern& pattern);
// A 16-bit grey RGB PNG: every sample of texel (x, y) is level(x, y). Space: "" says nothing of
// the colour space, "gAMA" writes gamma 1/2.2 with sRGB's chromaticities, "sRGB" an sRGB chunk.
Bytes EncodePng16(std::uint32_t w, std::uint32_t h, const std::function<std::uint16_t(std::uint32_t, std::uint32_t)>& level,
                  const std::string& space);
Bytes EncodeJpeg(std::uint32_t w, std::uint32_t h, int quality, const Pattern& pattern);

// A DDS file; faces 1 (2D) or 6 (cube); bits 32 with or without an alpha mask, or 24.
// Texel (x, y) of face f, level l has the pattern's colour of (x, y) plus f * 0x10 + l in blue.
Bytes MakeDds(std::uint32_t size, int faces, std::uint32_t levels, int bits, bool alpha, const Pattern& pattern);

inline std::uint32_t BlueTag(std::uint32_t face, std::uint32_t level) { return face * 0x10 + level; }

}  // namespace d3dxtest
