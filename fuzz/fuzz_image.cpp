// Feeds arbitrary bytes to the picture decoders the texture loaders use: BMP, JPEG, PNG and DDS
// (2D and cube maps), cube maps from pictures six faces tall, the header peek, and the mip and
// resize steps that follow a good decode.
// Every outcome but a crash, a read past the data or an oversized allocation is fine.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gfx/d3dx/image.h"

namespace {

// The steps every decoded picture goes through on its way to a texture, on a bounded picture.
void Shrink(const d3dx::Image& image) {
  if (image.width == 0 || image.height == 0) return;
  if (uint64_t(image.width) * image.height > 512 * 512) return;
  d3dx::Image level = d3dx::Resize(image, 17, 9);
  while (level.width > 1 || level.height > 1) level = d3dx::Downsample(level);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  d3dx::FileKind kind;
  uint32_t width = 0, height = 0;
  bool alpha = false;
  d3dx::PeekImage(data, size, kind, width, height, alpha, error);

  d3dx::Image image;
  if (d3dx::DecodeImage(data, size, image, kind, error)) Shrink(image);

  d3dx::DdsFile dds;
  if (d3dx::DecodeDds(data, size, dds, error))
    for (const auto& face : dds.faces)
      for (const auto& level : face) Shrink(level);
  // A cube map from a picture six faces tall (the DDS path above is the same as here).
  d3dx::DdsFile cube;
  if (d3dx::DetectFileKind(data, size) != d3dx::FileKind::Dds && d3dx::DecodeCube(data, size, cube, error))
    for (const auto& face : cube.faces) Shrink(face[0]);
  return 0;
}
