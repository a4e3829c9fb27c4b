#pragma once
// Reads a PNG file the program wrote (screenshots) as RGBA8, top row first.

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vktest {

inline bool ReadPngFile(const std::string& file, unsigned& width, unsigned& height, std::vector<uint8_t>& rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return false;
  image.format = PNG_FORMAT_RGBA;
  rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return false;
  width = image.width;
  height = image.height;
  return true;
}

}  // namespace vktest
