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
  // Caustics only in the first, the cube in the first two, the heights, the viewer and the
  // reflection matrix wherever a shader works per pixel, the floor everywhere.
  const bool expected[4][6] = {{1, 1, 1, 1, 1, 1}, {1, 0, 1, 1, 1, 1}, {1, 0, 0, 1, 1, 1}, {1, 0, 0, 0, 0, 0}};
  const char* names[6] = {"tFLR", "tCAU", "tENV", "mENV", "tHGT", "vEYE"};
  for (UINT t = 0; t < 4; ++t)
    for (int p = 0; p < 6; ++p) EXPECT_EQ(uses(t, names[p]), expected[t][p]) << t << " " << names[p];

  // In the show: caustics off, so the first technique that does without them.
  TWaterEffect water(d3d.get(), 100.0f, src.data(), int(src.size()), nullptr, 0, nullptr);
  ASSERT_TRUE(water.Effect);
  water.CausticsEnabled = false;
  EXPECT_EQ(water.SelectTechnique(0, false), S_OK);
  EXPECT_EQ(water.Technique, d3d->Caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP ? 1 : 2);
  // Without the height texture only the fixed-function technique is left.
  water.Water->HeightTexture.reset();
  water.Technique = 0;
  EXPECT_EQ(water.SelectTechnique(0, false), S_OK);
  EXPECT_EQ(water.Technique, 3);

  // The per-pixel techniques know the pool and follow the viewer the mesh is refracted for.
  float size = 0, limit = 0;
  EXPECT_EQ(water.Effect->GetFloat("fSIZE", &size), S_OK);
  EXPECT_EQ(size, 100.0f);
  EXPECT_EQ(water.Effect->GetFloat("fHMAX", &limit), S_OK);
  EXPECT_EQ(limit, WaterHeightLimit);
  LPDIRECT3DBASETEXTURE9 heights;
  EXPECT_EQ(water.Effect->GetTexture("tHGT", heights), S_OK);
  EXPECT_TRUE(heights);
  d3d->FrameTime = 1000;
  water.Update({0, 0, 0}, {0, 0, 0});
  for (uint32_t t = 1020; t < 1200; t += 20) {
    d3d->FrameTime = t;
    water.Update({0.02f, 0, -0.01f}, {0, 0, 0});
  }
  D3DXVECTOR4 eye;
  EXPECT_EQ(water.Effect->GetVector("vEYE", &eye), S_OK);
  EXPECT_GT(water.Camera._41, 1.5f);
  EXPECT_EQ(eye.x, water.Camera._41);
  EXPECT_EQ(eye.y, water.Camera._42);
  EXPECT_EQ(eye.z, water.Camera._43);
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

// The pool seen straight down through an orthographic camera that just holds it: pixel
// column i and row j show pool point x = -50 + i * 100 / side, z = 50 - j * 100 / side
// (Direct3D's pixel centres lie on whole coordinates).
void LookStraightDown(IDirect3DDevice9* dev) {
  D3DXMATRIX view, projection;
  const D3DXVECTOR3 eye(0, 100, 0), at(0, 0, 0), up(0, 0, 1);
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  D3DXMatrixOrthoLH(&projection, 100, 100, 1, 200);
  dev->SetTransform(D3DTS_VIEW, &view);
  dev->SetTransform(D3DTS_PROJECTION, &projection);
}

std::vector<uint8_t> DrawWith(TvokD3D& d3d, TWaterEffect& water, const char* technique) {
  IDirect3DDevice9* dev = d3d.Device.get();
  EXPECT_EQ(water.Effect->SetTechnique(water.Effect->GetTechniqueByName(technique)), S_OK) << technique;
  dev->BeginScene();
  dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
  water.SetWorld();
  LookStraightDown(dev);
  EXPECT_EQ(water.Render(true), S_OK);
  dev->EndScene();
  std::vector<uint8_t> rgba;
  UINT w = 0, h = 0;
  EXPECT_EQ(gx::GxReadBackBuffer(dev, rgba, w, h), S_OK);
  return rgba;
}

// The surface normal the pixel stage works out, drawn as a colour, for heights whose slopes
// are known: a bowl-and-saddle h = a (x - x0)^2 + b (y - y0)^2 over the cells. The normal is
// the one the mesh has always had, (-6 dh/dx, 1, -6 dh/dy) normalised, now at every pixel.
TEST(WaterPictureConformance, PerPixelNormalOfAKnownSurface) {
  constexpr int kSide = 128;
  auto d3d = vktest::MakeD3D(gx::BackendKind::Gl, kSide, kSide);
  if (!d3d->Ok) GTEST_SKIP() << "no GL device: " << d3d->ErrorText;
  const std::string src = EffectSource() + R"(
pixelshader NormalPS
{
    void main()
    {
        float height;
        vec3 n = SurfaceNormal(tHGT, vPool, fSIZE, fHMAX, height);
        gx_FragColor = vec4(n * 0.5 + 0.5, 1.0);
    }
}
technique Normals
{
    pass P0 { vertexshader = SurfaceVS; pixelshader = NormalPS; texture[0] = tHGT; cullmode = none; }
}
)";
  TWaterEffect water(d3d.get(), 100.0f, src.data(), int(src.size()), nullptr, 0, nullptr);
  ASSERT_TRUE(water.Effect) << water.EffectError;
  EXPECT_EQ(water.EffectError, "");
  d3d->FrameTime = 1000;
  water.Update({0, 0, 0}, {0, 0, 0});
  d3d->FrameTime = 1020;
  water.Update({0, 0, 0}, {0, 0, 0});  // a flat mesh to draw over

  const double a = 0.008, b = -0.006, x0 = 30.3, y0 = 33.6;  // heights within the texture's range
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) water.Water->Cells[WaterCellIndex(x, y)].Height = float(a * (x - x0) * (x - x0) + b * (y - y0) * (y - y0));
  water.Water->HeightTexture.reset();
  ASSERT_EQ(water.Water->CreateHeightTexture(), S_OK);
  water.Effect->SetTexture("tHGT", water.Water->HeightTexture);
  const std::vector<uint8_t> rgba = DrawWith(*d3d, water, "Normals");
  ASSERT_EQ(rgba.size(), size_t(kSide * kSide * 4));

  int checked = 0;
  double worst = 0, bias[3] = {0, 0, 0};
  for (int j = 1; j < kSide; j += 3)
    for (int i = 2; i < kSide; i += 3) {
      const double x = -50 + i * 100.0 / kSide, z = 50 - j * 100.0 / kSide;
      const double cx = (x / 100 + 0.5) * 63, cy = (z / 100 + 0.5) * 63;
      if (cx < 2 || cx > 60 || cy < 2 || cy > 60) continue;  // the quadratic does not wrap round
      double n[3] = {-6 * 2 * a * (cx - x0), 1, -6 * 2 * b * (cy - y0)};
      const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      const uint8_t* p = &rgba[size_t(j * kSide + i) * 4];
      for (int c = 0; c < 3; ++c) {
        const double e = p[c] - (n[c] / len * 0.5 + 0.5) * 255;
        worst = std::max(worst, std::fabs(e));
        bias[c] += e;
      }
      ++checked;
    }
  EXPECT_GT(checked, 1000);
  EXPECT_LT(worst, 2.5) << bias[0] / checked << " " << bias[1] / checked << " " << bias[2] / checked;
}

// Mean size of the second differences of brightness across the grid's lines and across the
// middles of its cells, along x (vertical lines) or y (horizontal ones), over the middle of the
// pool. A surface shaded per vertex bends at every line of the mesh; a smooth one does not.
struct GridCrease {
  double onLines = 0, inCells = 0;
  double Ratio() const { return onLines / inCells; }
};

GridCrease MeasureCreases(const std::vector<uint8_t>& rgba, int side, bool alongX) {
  // Ten pixels a cell: the mesh's lines run through pixels 10 k, the middles of its cells
  // through pixels 10 k + 5.
  auto bright = [&](int i, int j) {
    const uint8_t* p = alongX ? &rgba[size_t(j * side + i) * 4] : &rgba[size_t(i * side + j) * 4];
    return double(p[0]) + p[1] + p[2];
  };
  GridCrease g;
  for (int j = 150; j < side - 150; ++j)
    for (int k = 16; k < 48; ++k) {
      auto bend = [&](int i) { return std::fabs(bright(i + 1, j) - 2 * bright(i, j) + bright(i - 1, j)); };
      g.onLines += bend(10 * k);
      g.inCells += bend(10 * k + 5);
    }
  return g;
}

// Ripples over a smooth striped floor, seen close enough that a cell covers ten pixels (more
// than at 1920 x 1080 in the show): shaded per pixel, the grid leaves no trace; shaded per vertex
// (the fixed-function technique, from the mesh's own floor coordinates) every line of the mesh shows.
TEST(WaterPictureConformance, SmoothWaterShowsNoGridLines) {
  constexpr int kSide = 630;
  auto d3d = vktest::MakeD3D(gx::BackendKind::Gl, kSide, kSide);
  if (!d3d->Ok) GTEST_SKIP() << "no GL device: " << d3d->ErrorText;
  LPDIRECT3DTEXTURE9 floor;
  ASSERT_EQ(D3DXCreateTexture(d3d->Device, 256, 256, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, floor), S_OK);
  ASSERT_EQ(D3DXFillTexture(
                floor,
                [](D3DXVECTOR4* out, const D3DXVECTOR2* uv, const D3DXVECTOR2*, LPVOID) {
                  const float k = 2 * SinglePi * 3;
                  *out = D3DXVECTOR4(0.5f + 0.45f * std::sin(k * uv->x), 0.5f + 0.45f * std::sin(k * uv->y), 0.5f, 1);
                },
                nullptr),
            S_OK);
  const std::string src = EffectSource();
  TWaterEffect water(d3d.get(), 100.0f, src.data(), int(src.size()), nullptr, 0, floor);
  ASSERT_TRUE(water.Effect) << water.EffectError;
  water.CausticsEnabled = false;
  water.Water->Drop(31, 31);
  water.Water->Drop(24, 40);
  water.Water->Drop(40, 26);
  for (int i = 0; i <= 40; ++i) {
    d3d->FrameTime = 1000 + 20 * i;
    water.Update({0, 0, 0}, {0, 0, 0});
  }

  const std::vector<uint8_t> smooth = DrawWith(*d3d, water, "Refract");
  const std::vector<uint8_t> faceted = DrawWith(*d3d, water, "Fixed");
  ASSERT_EQ(smooth.size(), size_t(kSide * kSide * 4));
  ASSERT_EQ(faceted.size(), smooth.size());
  std::string error;
  WritePng(PictureFile("water_smooth_top.png"), smooth, kSide, kSide, error);
  WritePng(PictureFile("water_faceted_top.png"), faceted, kSide, kSide, error);
  for (bool alongX : {true, false}) {
    const GridCrease s = MeasureCreases(smooth, kSide, alongX), f = MeasureCreases(faceted, kSide, alongX);
    SCOPED_TRACE(alongX ? "vertical lines" : "horizontal lines");
    EXPECT_GT(s.inCells, 1000);  // the ripples do bend the picture
    EXPECT_LT(s.Ratio(), 1.2) << s.onLines << " " << s.inCells;
    EXPECT_GT(f.Ratio(), 1.5) << f.onLines << " " << f.inCells;
  }
}

}  // namespace
