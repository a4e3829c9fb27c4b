// Texture loading cost: decoding a 512 x 512 JPEG, building its mip chain,
// and the whole D3DXCreateTextureFromFileInMemory on the recording device.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "platform/gfx/backend.h"
#include "platform/gfx/d3dx/d3dx9.h"
#include "platform/gfx/d3dx/image.h"
#include "platform/os/window.h"

namespace {

// A smooth picture with some detail, so the encoder does realistic work.
const std::vector<std::uint8_t>& Jpeg512() {
  static const std::vector<std::uint8_t> file = [] {
    const int w = 512, h = 512;
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &mem, &size);
    info.image_width = w;
    info.image_height = h;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(w * 3);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        row[x * 3 + 0] = static_cast<unsigned char>((x * 255) / w);
        row[x * 3 + 1] = static_cast<unsigned char>((y * 255) / h);
        row[x * 3 + 2] = static_cast<unsigned char>(((x ^ y) & 16) ? 200 : 40);
      }
      JSAMPROW r = row.data();
      jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<std::uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&info);
    std::free(mem);
    return out;
  }();
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
  os::SetHeadless(true);
  gx::SetBackendKind(gx::BackendKind::Recording);
  auto d3d = Direct3DCreate9(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS pp{};
  pp.Windowed = TRUE;
  pp.BackBufferWidth = 64;
  pp.BackBufferHeight = 64;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  LPDIRECT3DDEVICE9 device;
  if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, device))) {
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
