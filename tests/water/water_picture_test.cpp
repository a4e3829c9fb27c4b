// The water effect source of the show, on both backends: it parses, its techniques
// read what they should, and on GL the pool looks like water (written next to the
// test program as water_pool.png to be looked at).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/OutputFile.h"
#include "engine/vokResource.h"
#include "engine/vokWater.h"
#include "tests/support/device_fixture.h"

namespace {

// Pictures to be looked at go next to the test program, never into the temporary folder.
std::string PictureFile(const std::string& name) { return std::string(VK_BINARY_DIR) + "/tests/" + name; }

std::string EffectSource() {
  std::ifstream in(VK_SOURCE_DIR "/assets/effects/WaterFX.fx", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An archive entry's bytes, or nothing when the archive or the entry is missing.
std::vector<uint8_t> ArchiveEntry(const char* name) {
  std::vector<uint8_t> bytes;
  try {
    TvokResource archive;
    if (!archive.Open(VK_RUN_DIR "/Quorvanteplidusk.vkr")) return bytes;
    TResourceEntry entry{};
    if (archive.ReadByName(name, entry) && entry.Data) {
      const auto* p = static_cast<const uint8_t*>(entry.Data);
      bytes.assign(p, p + entry.Size);
    }
    archive.FreeEntry(entry);
  } catch (const EResourceError&) {
  }
  return bytes;
}

TEST(WaterEffectSource, TechniquesGoFromRichToPlain) {
  auto d3d = vktest::MakeD3D(gx::BackendKind::Recording);
  ASSERT_TRUE(d3d->Ok);
  const std::string src = EffectSource();
  ASSERT_FALSE(src.empty());
  LPD3DXEFFECT fx;
  LPD3DXBUFFER errors;
  ASSERT_EQ(D3DXCreateEffect(d3d->Device, src.data(), UINT(src.size()), nullptr, nullptr, 0, nullptr, fx, &errors),
            S_OK)
      << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
  D3DXEFFECT_DESC desc{};
  fx->GetDesc(&desc);
  ASSERT_EQ(desc.Techniques, 4u);
  auto uses = [&](UINT t, const char* p) { return fx->IsParameterUsed(p, fx->GetTechnique(t)) != FALSE; };
  // Caustics only in the first, the cube in the first two, the reflection matrix wherever a
  // shader reflects, the floor everywhere.
  const bool expected[4][4] = {{1, 1, 1, 1}, {1, 0, 1, 1}, {1, 0, 0, 1}, {1, 0, 0, 0}};
  const char* names[4] = {"tFLR", "tCAU", "tENV", "mENV"};
  for (UINT t = 0; t < 4; ++t)
    for (int p = 0; p < 4; ++p) EXPECT_EQ(uses(t, names[p]), expected[t][p]) << t << " " << names[p];

  // In the show: caustics off, so the first technique that does without them.
  TWaterEffect water(d3d.get(), 100.0f, src.data(), int(src.size()), nullptr, 0, nullptr);
  ASSERT_TRUE(water.Effect);
  water.CausticsEnabled = false;
  EXPECT_EQ(water.SelectTechnique(0, false), S_OK);
  EXPECT_EQ(water.Technique, d3d->Caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP ? 1 : 2);
}

TEST(WaterPictureConformance, PoolLooksLikeWater) {
  auto d3d = vktest::MakeD3D(gx::BackendKind::Gl, 200, 150);
  if (!d3d->Ok) GTEST_SKIP() << "no GL device: " << d3d->ErrorText;
  IDirect3DDevice9* dev = d3d->Device.get();
  const std::string src = EffectSource();
  const std::vector<uint8_t> floorImage = ArchiveEntry("texWater");
  const std::vector<uint8_t> cube = ArchiveEntry("WaterCube");
  LPDIRECT3DTEXTURE9 floor;  // the show's floor picture, when the archive has been built
  if (!floorImage.empty())
    D3DXCreateTextureFromFileInMemory(d3d->Device, floorImage.data(), UINT(floorImage.size()), floor);
  if (!floor) GTEST_SKIP() << "no archive with the floor picture";

  TWaterEffect water(d3d.get(), 100.0f, src.data(), int(src.size()), cube.empty() ? nullptr : cube.data(),
                     int(cube.size()), floor);
  ASSERT_TRUE(water.Effect);
  water.Position = {0, -1, 0};
  if (water.CausticsSurface) {  // no light on the floor before the first caustics pass
    std::vector<uint8_t> rgba;
    UINT w = 0, h = 0;
    ASSERT_EQ(gx::GxReadSurface(water.CausticsSurface.get(), rgba, w, h), S_OK);
    for (size_t i = 0; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i] | rgba[i + 1] | rgba[i + 2], 0) << i;
  }

  // Scene one's view of the pool, a little after the fly-in.
  d3d->SetProjection(d3d->Aspect, 0.1f, 1000.0f, SinglePi / 4);
  d3d->SetCamera(true, 1.5f, 3.0f, -45.0f);
  d3d->CameraRotation.x = DegToRad(335);
  d3d->UpdateView();

  // One frame of the pool with the effect's current technique, kept as a picture for people.
  auto drawPool = [&](const std::string& file) {
    dev->BeginScene();
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    water.SetWorld();
    EXPECT_EQ(water.Render(true), S_OK);
    dev->EndScene();
    std::vector<uint8_t> rgba;
    UINT w = 0, h = 0;
    EXPECT_EQ(gx::GxReadBackBuffer(dev, rgba, w, h), S_OK);
    std::string error;
    WritePng(PictureFile(file), rgba, w, h, error);
    return rgba;
  };
  auto frame = [&](const char* file, bool caustics) {
    water.CausticsEnabled = caustics;
    water.Technique = 0;  // the search starts from the current technique
    water.SelectTechnique(0, false);
    water.Water->Drop(95, 95);
    for (int i = 0; i < 60; ++i) {
      d3d->FrameTime = 1000 + 20 * (i + 1) + (caustics ? 5000 : 0);
      if (i == 30) water.Water->Drop(40, 20);
      water.Update({0, 0, 0}, {0, 0, 0});
    }
    d3d->SetProjection(d3d->Aspect, 0.1f, 1000.0f, SinglePi / 4);
    d3d->UpdateView();
    return drawPool(file);
  };

  const std::vector<uint8_t> plain = frame("water_pool.png", false);
  ASSERT_EQ(plain.size(), 200u * 150 * 4);
  // The pool fills the lower part of the picture; the sky above it stays clear.
  auto pixel = [&](const std::vector<uint8_t>& p, int x, int y) { return &p[(y * 200 + x) * 4]; };
  const uint8_t* near = pixel(plain, 100, 140);
  EXPECT_GT(near[0] + near[1] + near[2], 60);
  const uint8_t* top = pixel(plain, 100, 2);
  EXPECT_EQ(top[0] + top[1] + top[2], 0);
  // Ripples: the lower half is not one flat colour.
  int minSum = 765, maxSum = 0;
  for (int y = 90; y < 150; ++y)
    for (int x = 20; x < 180; ++x) {
      const uint8_t* q = pixel(plain, x, y);
      minSum = std::min(minSum, q[0] + q[1] + q[2]);
      maxSum = std::max(maxSum, q[0] + q[1] + q[2]);
    }
  EXPECT_GT(maxSum - minSum, 40);

  // Every technique compiles on GL and draws the pool; the plainer ones too.
  D3DXEFFECT_DESC desc{};
  water.Effect->GetDesc(&desc);
  for (UINT t = 0; t < desc.Techniques; ++t) {
    ASSERT_EQ(water.Effect->SetTechnique(water.Effect->GetTechnique(t)), S_OK);
    EXPECT_EQ(water.Effect->ValidateTechnique(nullptr), S_OK) << "technique " << t;
    const std::vector<uint8_t> rgba = drawPool("water_technique" + std::to_string(t) + ".png");
    ASSERT_FALSE(rgba.empty()) << "technique " << t;
    const uint8_t* q = pixel(rgba, 100, 140);
    EXPECT_GT(q[0] + q[1] + q[2], 60) << "technique " << t;
    EXPECT_GT(q[2], q[0]) << "technique " << t;  // water is bluish
  }
  water.Effect->SetTechnique(water.Effect->GetTechnique(UINT(water.Technique)));

  if (water.RenderToSurface) {
    frame("water_pool_caustics.png", true);
    EXPECT_TRUE(water.CausticsEnabled);
    EXPECT_EQ(water.Technique, 0);
    // The waves focus light into bright patches on the floor texture.
    std::vector<uint8_t> rgba;
    UINT w = 0, h = 0;
    ASSERT_EQ(gx::GxReadSurface(water.CausticsSurface.get(), rgba, w, h), S_OK);
    std::string error;
    WritePng(PictureFile("water_caustics.png"), rgba, w, h, error);
    EXPECT_EQ(w, 128u);
    int lit = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) lit += rgba[i] > 20;
    EXPECT_GT(lit, 50);
  }
}

}  // namespace
