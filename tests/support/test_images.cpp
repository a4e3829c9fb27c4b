#include "tests/support/test_images.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

namespace d3dxtest {

Bytes MakeBmp(std::uint32_t w, std::uint32_t h, int bits, bool topDown, const Pattern& pattern) {
  std::vector<std::uint32_t> palette;
  std::map<std::uint32_t, std::uint8_t> index;
  if (bits == 8) {
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) {
        const std::uint32_t c = pattern(x, y) & 0xFFFFFF;
        if (!index.count(c)) {
          index[c] = std::uint8_t(palette.size());
          palette.push_back(c);
        }
      }
  }
  const std::uint32_t stride = ((w * bits + 31) / 32) * 4;
  const std::uint32_t paletteBytes = std::uint32_t(palette.size()) * 4;
  const std::uint32_t offset = 14 + 40 + paletteBytes;
  Bytes b;
  b.push_back('B');
  b.push_back('M');
  Put32(b, offset + stride * h);
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, w);
  Put32(b, topDown ? std::uint32_t(-std::int32_t(h)) : h);
  Put16(b, 1);
  Put16(b, bits);
  Put32(b, 0);  // BI_RGB
  Put32(b, stride * h);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, std::uint32_t(palette.size()));
  Put32(b, 0);
  for (std::uint32_t c : palette) Put32(b, c);
  for (std::uint32_t row = 0; row < h; ++row) {
    const std::uint32_t y = topDown ? row : h - 1 - row;
    const std::size_t start = b.size();
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t c = pattern(x, y);
      if (bits == 8) {
        b.push_back(index[c & 0xFFFFFF]);
      } else {
        b.push_back(std::uint8_t(c));
        b.push_back(std::uint8_t(c >> 8));
        b.push_back(std::uint8_t(c >> 16));
        if (bits == 32) b.push_back(0);  // unused byte of BI_RGB
      }
    }
    while (b.size() - start < stride) b.push_back(0);
  }
  return b;
}

Bytes MakeBmpWithAlpha(std::uint32_t w, std::uint32_t h, const Pattern& pattern) {
  const std::uint32_t header = 56, offset = 14 + header;
  Bytes b;
  b.push_back('B');
  b.push_back('M');
  Put32(b, offset + w * h * 4);
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, header);
  Put32(b, w);
  Put32(b, h);
  Put16(b, 1);
  Put16(b, 32);
  Put32(b, 3);  // BI_BITFIELDS
  Put32(b, w * h * 4);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0x00FF0000);
  Put32(b, 0x0000FF00);
  Put32(b, 0x000000FF);
  Put32(b, 0xFF000000);
  for (std::uint32_t row = 0; row < h; ++row)
    for (std::uint32_t x = 0; x < w; ++x) Put32(b, pattern(x, h - 1 - row));
  return b;
}

Bytes EncodePng(std::uint32_t w, std::uint32_t h, bool alpha, const Pattern& pattern) {
  const int channels = alpha ? 4 : 3;
  std::vector<std::uint8_t> pixels(std::size_t(w) * h * channels);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t c = pattern(x, y);
      std::uint8_t* p = &pixels[(std::size_t(y) * w + x) * channels];
      p[0] = std::uint8_t(c >> 16);
      p[1] = std::uint8_t(c >> 8);
      p[2] = std::uint8_t(c);
      if (alpha) p[3] = std::uint8_t(c >> 24);
    }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error("png size");
  Bytes out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error("png write");
  out.resize(size);
  return out;
}

Bytes EncodePng16(std::uint32_t w, std::uint32_t h, const std::function<std::uint16_t(std::uint32_t, std::uint32_t)>& level,
                  const std::string& space) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Bytes out;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("png16 write");
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (space == "gAMA") {
    png_set_gAMA_fixed(png, info, 45455);
    png_set_cHRM_fixed(png, info, 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000);
  } else if (space == "sRGB") {
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  }
  png_write_info(png, info);
  std::vector<std::uint8_t> row(std::size_t(w) * 6);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        row[x * 6 + c * 2] = std::uint8_t(level(x, y) >> 8);  // PNG's samples are big-endian
        row[x * 6 + c * 2 + 1] = std::uint8_t(level(x, y));
      }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes EncodeJpeg(std::uint32_t w, std::uint32_t h, int quality, const Pattern& pattern) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* mem = nullptr;
  unsigned long memSize = 0;
  jpeg_mem_dest(&info, &mem, &memSize);
  info.image_width = w;
  info.image_height = h;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(std::size_t(w) * 3);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t c = pattern(x, y);
      row[x * 3 + 0] = std::uint8_t(c >> 16);
      row[x * 3 + 1] = std::uint8_t(c >> 8);
      row[x * 3 + 2] = std::uint8_t(c);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&info, &r, 1);
  }
  jpeg_finish_compress(&info);
  Bytes out(mem, mem + memSize);
  jpeg_destroy_compress(&info);
  std::free(mem);
  return out;
}

Bytes MakeDds(std::uint32_t size, int faces, std::uint32_t levels, int bits, bool alpha, const Pattern& pattern) {
  Bytes b;
  b.insert(b.end(), {'D', 'D', 'S', ' '});
  Put32(b, 124);
  Put32(b, 0x1 | 0x2 | 0x4 | 0x1000 | (levels > 1 ? 0x20000 : 0) | 0x8);  // caps, height, width, pf, mips, pitch
  Put32(b, size);
  Put32(b, size);
  Put32(b, size * bits / 8);
  Put32(b, 0);
  Put32(b, levels);
  for (int i = 0; i < 11; ++i) Put32(b, 0);
  Put32(b, 32);
  Put32(b, 0x40 | (alpha ? 0x1 : 0));
  Put32(b, 0);
  Put32(b, bits);
  Put32(b, 0x00FF0000);
  Put32(b, 0x0000FF00);
  Put32(b, 0x000000FF);
  Put32(b, alpha ? 0xFF000000 : 0);
  Put32(b, 0x1000 | (levels > 1 ? 0x400008 : 0) | (faces == 6 ? 0x8 : 0));
  Put32(b, faces == 6 ? 0x200 | 0xFC00 : 0);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  for (int f = 0; f < faces; ++f)
    for (std::uint32_t l = 0; l < levels; ++l) {
      const std::uint32_t s = std::max<std::uint32_t>(1, size >> l);
      for (std::uint32_t y = 0; y < s; ++y)
        for (std::uint32_t x = 0; x < s; ++x) {
          const std::uint32_t c = (pattern(x, y) & 0xFFFFFF00) | BlueTag(f, l);
          b.push_back(std::uint8_t(c));
          b.push_back(std::uint8_t(c >> 8));
          b.push_back(std::uint8_t(c >> 16));
          if (bits == 32) b.push_back(std::uint8_t(c >> 24));
        }
    }
  return b;
}

}  // namespace d3dxtest
