// Texture loading cost: decoding a 512 x 512 JPEG, building its mip chain,
// and the whole D3DXCreateTextureFromFileInMemory on the recording device.

#include <benchmark/benchmark.h>

#include <vector>

#include "platform/gfx/d3dx/image.h"
#include "tests/support/d3dx_device.h"
#include "tests/support/test_images.h"

namespace {

// A smooth picture with some detail, so the encoder does realistic work.
const std::vector<std::uint8_t>& Jpeg512() {
  static const std::vector<std::uint8_t> file =
      d3dxtest::EncodeJpeg(512, 512, 85, [](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t r = x * 255 / 512, g = y * 255 / 512, b = ((x ^ y) & 16) ? 200 : 40;
        return (r << 16) | (g << 8) | b;
      });
  return file;
}

void BM_DecodeJpeg512(benchmark::State& state) {
  const auto& file = Jpeg512();
  for (auto _ : state) {
    d3dx::Image img;
    std::string error;
    if (!d3dx::DecodeJpeg(file.data(), file.size(), img, error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(img.bgra.data());
  }
}
BENCHMARK(BM_DecodeJpeg512)->Unit(benchmark::kMillisecond);

void BM_MipChain512(benchmark::State& state) {
  d3dx::Image img;
  std::string error;
  d3dx::DecodeJpeg(Jpeg512().data(), Jpeg512().size(), img, error);
  for (auto _ : state) {
    d3dx::Image level = img;
    while (level.width > 1 || level.height > 1) level = d3dx::Downsample(level);
    benchmark::DoNotOptimize(level.bgra.data());
  }
}
BENCHMARK(BM_MipChain512)->Unit(benchmark::kMillisecond);

void BM_CreateTextureFromJpeg512(benchmark::State& state) {
  LPDIRECT3DDEVICE9 device = d3dxtest::MakeDevice(gx::BackendKind::Recording);
  if (!device) {
    state.SkipWithError("no recording device");
    return;
  }
  const auto& file = Jpeg512();
  for (auto _ : state) {
    LPDIRECT3DTEXTURE9 tex;
    if (FAILED(D3DXCreateTextureFromFileInMemory(device, file.data(), UINT(file.size()), tex)))
      state.SkipWithError("texture creation failed");
    benchmark::DoNotOptimize(tex.get());
  }
}
BENCHMARK(BM_CreateTextureFromJpeg512)->Unit(benchmark::kMillisecond);

}  // namespace
