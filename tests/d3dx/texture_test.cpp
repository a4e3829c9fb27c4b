// Texture creation on the recording backend: formats, mip chains, cube maps,
// filling, and bad input.

#include <gtest/gtest.h>

#include "platform/gfx/d3dx/image.h"
#include "tests/support/d3dx_device.h"
#include "tests/support/test_images.h"

namespace {

using d3dxtest::Bytes;

std::uint32_t Quadrants(std::uint32_t x, std::uint32_t y) {
  return x < 4 ? (y < 4 ? 0xFFFF0000u : 0xFF00FF00u) : (y < 4 ? 0xFF0000FFu : 0xFFFFFFFFu);
}

class D3dxTexture : public testing::Test {
 protected:
  void SetUp() override {
    device = d3dxtest::MakeDevice(gx::BackendKind::Recording);
    ASSERT_TRUE(device);
  }
  LPDIRECT3DDEVICE9 device;
};

TEST_F(D3dxTexture, FromFileInMemoryBuildsAFullManagedMipChain) {
  const Bytes bmp = d3dxtest::MakeBmp(8, 8, 24, false, Quadrants);
  LPDIRECT3DTEXTURE9 tex;
  ASSERT_EQ(S_OK, D3DXCreateTextureFromFileInMemory(device, bmp.data(), UINT(bmp.size()), tex));
  ASSERT_TRUE(tex);
  EXPECT_EQ(tex->GetLevelCount(), 4u);
  D3DSURFACE_DESC desc{};
  ASSERT_EQ(S_OK, tex->GetLevelDesc(0, &desc));
  EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
  EXPECT_EQ(desc.Width, 8u);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 0, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 0, 7, 7), 0xFFFFFFFFu);
  // Level 2 (2 x 2) is one texel per quadrant, level 3 their average.
  EXPECT_EQ(d3dxtest::TexelOf(tex, 2, 1, 0), 0xFF0000FFu);
  const std::uint32_t last = d3dxtest::TexelOf(tex, 3, 0, 0);
  EXPECT_NEAR(int((last >> 16) & 0xFF), (255 + 0 + 0 + 255) / 4, 1);
  EXPECT_NEAR(int((last >> 8) & 0xFF), (0 + 255 + 0 + 255) / 4, 1);
}

TEST_F(D3dxTexture, AlphaInTheFileGivesA8R8G8B8) {
  const Bytes png = d3dxtest::EncodePng(4, 4, true, [](std::uint32_t x, std::uint32_t) { return (x * 60) << 24 | 0x123456; });
  LPDIRECT3DTEXTURE9 tex;
  ASSERT_EQ(S_OK, D3DXCreateTextureFromFileInMemory(device, png.data(), UINT(png.size()), tex));
  D3DSURFACE_DESC desc{};
  tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 0, 2, 1), (120u << 24) | 0x123456u);

  const Bytes jpg = d3dxtest::EncodeJpeg(16, 16, 90, Quadrants);
  ASSERT_EQ(S_OK, D3DXCreateTextureFromFileInMemory(device, jpg.data(), UINT(jpg.size()), tex));
  tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(tex->GetLevelCount(), 5u);
}

TEST_F(D3dxTexture, ExOptionsSizeFormatLevelsAndColorKey) {
  const Bytes bmp = d3dxtest::MakeBmp(8, 8, 24, true, Quadrants);
  LPDIRECT3DTEXTURE9 tex;
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(S_OK, D3DXCreateTextureFromFileInMemoryEx(device, bmp.data(), UINT(bmp.size()), 4, 4, 1, 0, D3DFMT_R5G6B5,
                                                      D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, &info, nullptr,
                                                      tex));
  EXPECT_EQ(info.Width, 8u);
  EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
  EXPECT_EQ(tex->GetLevelCount(), 1u);
  D3DSURFACE_DESC desc{};
  tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Width, 4u);
  EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);

  // Red made transparent by the colour key.
  ASSERT_EQ(S_OK, D3DXCreateTextureFromFileInMemoryEx(device, bmp.data(), UINT(bmp.size()), D3DX_DEFAULT, D3DX_DEFAULT,
                                                      1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT,
                                                      0xFFFF0000, nullptr, nullptr, tex));
  tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 0, 0, 0), 0u);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 0, 7, 0), 0xFF0000FFu);
}

TEST_F(D3dxTexture, MalformedFilesFailWithoutATexture) {
  LPDIRECT3DTEXTURE9 tex;
  const std::uint8_t junk[] = {'B', 'M', 1, 2, 3};
  EXPECT_EQ(D3DXERR_INVALIDDATA, D3DXCreateTextureFromFileInMemory(device, junk, sizeof junk, tex));
  EXPECT_FALSE(tex);
  EXPECT_EQ(D3DERR_INVALIDCALL, D3DXCreateTextureFromFileInMemory(device, nullptr, 10, tex));
  const Bytes cube = d3dxtest::MakeDds(4, 6, 1, 32, false, Quadrants);
  EXPECT_EQ(D3DXERR_INVALIDDATA, D3DXCreateTextureFromFileInMemory(device, cube.data(), UINT(cube.size()), tex));
  // Every truncation of a valid PNG through the whole texture path.
  const Bytes png = d3dxtest::EncodePng(5, 3, false, Quadrants);
  for (std::size_t len = 0; len + 12 < png.size(); ++len) {
    const Bytes cut(png.begin(), png.begin() + len);
    EXPECT_FAILED(D3DXCreateTextureFromFileInMemory(device, cut.data(), UINT(cut.size()), tex)) << len;
  }
}

TEST_F(D3dxTexture, CubeMapFromDdsWithGeneratedLevels) {
  const Bytes dds = d3dxtest::MakeDds(8, 6, 2, 32, false, Quadrants);
  LPDIRECT3DCUBETEXTURE9 cube;
  ASSERT_EQ(S_OK, D3DXCreateCubeTextureFromFileInMemory(device, dds.data(), UINT(dds.size()), cube));
  ASSERT_TRUE(cube);
  EXPECT_EQ(cube->GetLevelCount(), 4u);
  D3DSURFACE_DESC desc{};
  cube->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
  for (UINT f = 0; f < 6; ++f) {
    // Stored levels keep their tag in blue; generated ones average the level above.
    EXPECT_EQ(d3dxtest::CubeTexelOf(cube, f, 0, 0, 0), 0xFFFF0000u | d3dxtest::BlueTag(f, 0)) << f;
    EXPECT_EQ(d3dxtest::CubeTexelOf(cube, f, 1, 0, 0), 0xFFFF0000u | d3dxtest::BlueTag(f, 1)) << f;
    EXPECT_EQ(d3dxtest::CubeTexelOf(cube, f, 2, 0, 0), 0xFFFF0000u | d3dxtest::BlueTag(f, 1)) << f;
  }
  const Bytes flat = d3dxtest::MakeDds(8, 1, 1, 32, false, Quadrants);
  EXPECT_EQ(D3DXERR_INVALIDDATA, D3DXCreateCubeTextureFromFileInMemory(device, flat.data(), UINT(flat.size()), cube));
  EXPECT_FALSE(cube);
  for (std::size_t len = 0; len < dds.size(); len += 7) {
    const Bytes cut(dds.begin(), dds.begin() + len);
    EXPECT_FAILED(D3DXCreateCubeTextureFromFileInMemory(device, cut.data(), UINT(cut.size()), cube)) << len;
  }
}

TEST_F(D3dxTexture, CubeMapFromAPictureSixFacesTall) {
  const Bytes png = d3dxtest::EncodePng(8, 48, false, [](std::uint32_t x, std::uint32_t y) {
    return Quadrants(x, y % 8) | (y / 8);  // the face's number in blue
  });
  LPDIRECT3DCUBETEXTURE9 cube;
  ASSERT_EQ(S_OK, D3DXCreateCubeTextureFromFileInMemory(device, png.data(), UINT(png.size()), cube));
  ASSERT_TRUE(cube);
  EXPECT_EQ(cube->GetLevelCount(), 4u);
  for (UINT f = 0; f < 6; ++f) {
    EXPECT_EQ(d3dxtest::CubeTexelOf(cube, f, 0, 0, 0), 0xFFFF0000u | f) << f;
    EXPECT_EQ(d3dxtest::CubeTexelOf(cube, f, 0, 7, 7), 0xFFFFFFFFu) << f;
  }
  // A plain picture is no cube map.
  const Bytes square = d3dxtest::EncodePng(8, 8, false, Quadrants);
  EXPECT_EQ(D3DXERR_INVALIDDATA, D3DXCreateCubeTextureFromFileInMemory(device, square.data(), UINT(square.size()), cube));
  EXPECT_FALSE(cube);
}

TEST_F(D3dxTexture, CreateTextureDefaultsToAFullChain) {
  LPDIRECT3DTEXTURE9 tex;
  ASSERT_EQ(S_OK, D3DXCreateTexture(device, 40, 30, D3DX_DEFAULT, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, tex));
  D3DSURFACE_DESC desc{};
  tex->GetLevelDesc(0, &desc);
  const D3DCAPS9 caps = [&] { D3DCAPS9 c{}; device->GetDeviceCaps(&c); return c; }();
  if (caps.TextureCaps & D3DPTEXTURECAPS_POW2 && !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL)) {
    EXPECT_EQ(desc.Width, 64u);
  } else {
    EXPECT_EQ(desc.Width, 40u);
    EXPECT_EQ(tex->GetLevelCount(), 6u);
  }
  ASSERT_EQ(S_OK, D3DXCreateTexture(device, 16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, tex));
  EXPECT_EQ(tex->GetLevelCount(), 1u);
}

struct FillLog {
  int calls = 0;
  D3DXVECTOR2 firstCoord, firstSize;
};

void FillRed(D3DXVECTOR4* out, const D3DXVECTOR2* coord, const D3DXVECTOR2* size, void* data) {
  auto* log = static_cast<FillLog*>(data);
  if (log->calls++ == 0) {
    log->firstCoord = *coord;
    log->firstSize = *size;
  }
  // Unscaled byte values as the sprite fill passes them: clamped to 1.
  *out = D3DXVECTOR4(255.0f, 0.0f, -3.0f, coord->x < 0.5f ? 0.5f : 255.0f);
}

TEST_F(D3dxTexture, FillTextureVisitsEveryTexelOfEveryLevelAndClamps) {
  LPDIRECT3DTEXTURE9 tex;
  ASSERT_EQ(S_OK, D3DXCreateTexture(device, 8, 4, D3DX_DEFAULT, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex));
  FillLog log;
  ASSERT_EQ(S_OK, D3DXFillTexture(tex, FillRed, &log));
  EXPECT_EQ(log.calls, 8 * 4 + 4 * 2 + 2 * 1 + 1 * 1);
  EXPECT_FLOAT_EQ(log.firstCoord.x, 1.0f / 16);
  EXPECT_FLOAT_EQ(log.firstCoord.y, 1.0f / 8);
  EXPECT_FLOAT_EQ(log.firstSize.x, 1.0f / 8);
  EXPECT_FLOAT_EQ(log.firstSize.y, 1.0f / 4);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 0, 0, 0), 0x80FF0000u);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 0, 7, 3), 0xFFFF0000u);
  EXPECT_EQ(d3dxtest::TexelOf(tex, 3, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(D3DERR_INVALIDCALL, D3DXFillTexture(nullptr, FillRed, &log));
}

TEST_F(D3dxTexture, LockFailureIsReported) {
  LPDIRECT3DTEXTURE9 tex;
  ASSERT_EQ(S_OK, D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex));
  FillLog log;
  gx::InjectedFaults().failLock = 1;
  EXPECT_FAILED(D3DXFillTexture(tex, FillRed, &log));
  EXPECT_EQ(log.calls, 0);
  gx::ClearFaults();
}

}  // namespace
