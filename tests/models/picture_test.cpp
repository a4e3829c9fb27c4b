// Shapes drawn headless with the gl backend: where they should be there is lit
// colour, elsewhere the clear colour. The pictures are also written next to the
// test program (models_shapes.png) to be looked at.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/OutputFile.h"
#include "engine/vokModells.h"
#include "tests/support/device_fixture.h"

namespace {

// Pictures to be looked at go next to the test program, never into the temporary folder.
std::string PictureFile(const std::string& name) { return std::string(VK_BINARY_DIR) + "/tests/" + name; }

struct Picture {
  std::vector<uint8_t> rgba;
  UINT width = 0, height = 0;
  const uint8_t* At(UINT x, UINT y) const { return &rgba[(y * width + x) * 4]; }
  int Brightness(UINT x, UINT y) const { return At(x, y)[0] + At(x, y)[1] + At(x, y)[2]; }
};

void SetLight(IDirect3DDevice9* dev) {
  D3DLIGHT9 light{};
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {1, 1, 1, 1};
  D3DXVECTOR3 dir(0.3f, -0.5f, 1.0f);
  D3DXVec3Normalize(&dir, &dir);
  light.Direction = dir;
  dev->SetLight(0, &light);
  dev->LightEnable(0, TRUE);
  dev->SetRenderState(D3DRS_LIGHTING, TRUE);
  dev->SetRenderState(D3DRS_AMBIENT, 0xFF202020);
}

TEST(ModelPictureConformance, ShapesLandWhereTheyArePlaced) {
  auto d3d = vktest::MakeD3D(gx::BackendKind::Gl, 192, 128);
  if (!d3d->Ok) GTEST_SKIP() << "no GL device: " << d3d->ErrorText;
  IDirect3DDevice9* dev = d3d->Device.get();
  d3d->SetProjection(d3d->Aspect, 0.1f, 1000.0f, SinglePi / 4);
  d3d->SetCamera(true, 0, 0, -40);
  d3d->UpdateView();
  SetLight(dev);

  // Left: a capped cone, tilted towards the viewer. Middle: a red disc. Right: a waving plane.
  TzanObject cone(d3d.get()), disc(d3d.get()), wave(d3d.get());
  cone.Param1 = 24, cone.Param2 = 4, cone.Param3 = cone.Param4 = 5, cone.Param5 = 3, cone.Param7 = 2;
  cone.Capped = true;
  cone.BuildCylinder();
  cone.Position = {-14, 0, 0};
  cone.Rotation = {DegToRad(-25), 0, 0};
  cone.Material.Diffuse = {0.3f, 0.6f, 1.0f, 1.0f};
  disc.Param1 = 32, disc.Param2 = disc.Param3 = 5;
  disc.BuildDisc();
  disc.Material.Diffuse = {1.0f, 0.2f, 0.1f, 1.0f};
  disc.Material.Emissive = {0.4f, 0, 0, 0};
  wave.Param1 = wave.Param2 = 1, wave.Param3 = 8, wave.Param4 = 10, wave.Param5 = SinglePi * 2, wave.Param6 = 1.5f;
  wave.BuildPlane();
  wave.Position = {14, 0, 0};
  wave.Material.Diffuse = {0.9f, 0.9f, 0.3f, 1.0f};
  wave.Material.Emissive = {0.2f, 0.2f, 0, 0};

  dev->BeginScene();
  dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
  for (TzanObject* o : {&cone, &disc, &wave}) {
    o->UpdateWorld();
    o->DrawObject(false);
  }
  dev->EndScene();
  Picture p;
  ASSERT_EQ(gx::GxReadBackBuffer(dev, p.rgba, p.width, p.height), S_OK);
  std::string error;
  WritePng(PictureFile("models_shapes.png"), p.rgba, p.width, p.height, error);

  ASSERT_EQ(p.width, 192u);
  // The disc in the middle is red.
  const uint8_t* centre = p.At(96, 64);
  EXPECT_GT(centre[0], 150);
  EXPECT_LT(centre[1], 100);
  // Corners stay clear.
  EXPECT_EQ(p.Brightness(2, 2), 0);
  EXPECT_EQ(p.Brightness(189, 125), 0);
  // Something lit on the left (cone) and on the right (plane), nothing between them.
  auto litInColumn = [&](UINT x) {
    int lit = 0;
    for (UINT y = 0; y < p.height; ++y) lit += p.Brightness(x, y) > 30;
    return lit;
  };
  EXPECT_GT(litInColumn(40), 5);
  EXPECT_GT(litInColumn(152), 5);
  EXPECT_EQ(litInColumn(70), 0);
}

}  // namespace
