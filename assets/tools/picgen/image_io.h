#pragma once
// Writers for the picture formats the archive carries. Every writer is deterministic: no
// timestamps, fixed header fields, so the same pixels always give the same bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace picgen {

// Pixels as 32-bit 0xAARRGGBB words, rows top to bottom, alpha straight (not premultiplied).
struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  Image() = default;
  Image(int w, int h) : width(w), height(h), pixels(size_t(w) * h, 0xff000000u) {}
  uint32_t& at(int x, int y) { return pixels[size_t(y) * width + x]; }
  uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// 24-bit bottom-up Windows bitmap (alpha dropped).
std::vector<uint8_t> EncodeBmp(const Image& img);
// Baseline JFIF, 4:2:0, the given quality (alpha dropped).
std::vector<uint8_t> EncodeJpeg(const Image& img, int quality);
// How the PNG predicts each row's bytes: by libpng's choice per row, or always from the pixel to
// the left (best for a pattern that repeats along the rows, such as an ordered dither).
enum class PngRows { Adaptive, FromTheLeft };
// 8-bit PNG: RGB when every pixel is opaque, else RGBA.
std::vector<uint8_t> EncodePng(const Image& img, PngRows rows = PngRows::Adaptive);

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace picgen
