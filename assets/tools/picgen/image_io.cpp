#include "assets/tools/picgen/image_io.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

namespace picgen {
namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(x & 0xff);
  v.push_back((x >> 8) & 0xff);
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xffff);
  Put16(v, x >> 16);
}

}  // namespace

std::vector<uint8_t> EncodeBmp(const Image& img) {
  const uint32_t rowBytes = (uint32_t(img.width) * 3 + 3) & ~3u;
  const uint32_t dataSize = rowBytes * uint32_t(img.height);
  std::vector<uint8_t> v;
  v.reserve(54 + dataSize);
  // BITMAPFILEHEADER
  v.push_back('B');
  v.push_back('M');
  Put32(v, 54 + dataSize);
  Put32(v, 0);
  Put32(v, 54);
  // BITMAPINFOHEADER: positive height = bottom-up rows, BI_RGB, 72 dpi
  Put32(v, 40);
  Put32(v, uint32_t(img.width));
  Put32(v, uint32_t(img.height));
  Put16(v, 1);
  Put16(v, 24);
  Put32(v, 0);
  Put32(v, dataSize);
  Put32(v, 2835);
  Put32(v, 2835);
  Put32(v, 0);
  Put32(v, 0);
  for (int y = img.height - 1; y >= 0; --y) {
    for (int x = 0; x < img.width; ++x) {
      const uint32_t p = img.at(x, y);
      v.push_back(p & 0xff);
      v.push_back((p >> 8) & 0xff);
      v.push_back((p >> 16) & 0xff);
    }
    for (uint32_t pad = uint32_t(img.width) * 3; pad < rowBytes; ++pad) v.push_back(0);
  }
  return v;
}

std::vector<uint8_t> EncodeJpeg(const Image& img, int quality) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* mem = nullptr;
  unsigned long memSize = 0;
  jpeg_mem_dest(&cinfo, &mem, &memSize);
  cinfo.image_width = JDIMENSION(img.width);
  cinfo.image_height = JDIMENSION(img.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.optimize_coding = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(size_t(img.width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = int(cinfo.next_scanline);
    for (int x = 0; x < img.width; ++x) {
      const uint32_t p = img.at(x, y);
      row[size_t(x) * 3 + 0] = (p >> 16) & 0xff;
      row[size_t(x) * 3 + 1] = (p >> 8) & 0xff;
      row[size_t(x) * 3 + 2] = p & 0xff;
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> out(mem, mem + memSize);
  jpeg_destroy_compress(&cinfo);
  std::free(mem);
  return out;
}

namespace {
void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void PngFlush(png_structp) {}
}  // namespace

std::vector<uint8_t> EncodePng(const Image& img, PngRows rows) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("PNG encoding failed");
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  // An opaque picture leaves its alpha out: a quarter less to compress.
  const bool opaque = std::all_of(img.pixels.begin(), img.pixels.end(), [](uint32_t p) { return (p >> 24) == 0xff; });
  const size_t channels = opaque ? 3 : 4;
  png_set_IHDR(png, info, png_uint_32(img.width), png_uint_32(img.height), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  if (rows == PngRows::FromTheLeft) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  std::vector<uint8_t> row(size_t(img.width) * channels);
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      const uint32_t p = img.at(x, y);
      uint8_t* px = &row[size_t(x) * channels];
      px[0] = (p >> 16) & 0xff;
      px[1] = (p >> 8) & 0xff;
      px[2] = p & 0xff;
      if (!opaque) px[3] = (p >> 24) & 0xff;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream o(path, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!o) throw std::runtime_error("cannot write " + path);
}

}  // namespace picgen
