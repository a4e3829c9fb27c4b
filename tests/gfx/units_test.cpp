// Small units of the layer: vertex layouts, pixel formats, matrices, and every
// shape of generated program actually compiling.

#include <cmath>
#include <cstring>

#include "platform/gfx/ff_key.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/gl/glsl_gen.h"
#include "platform/gfx/matrix_math.h"
#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

TEST(GfxUnits, LayoutsOfTheProgramsVertexFormats) {
  auto screen = gx::LayoutOf(0x104);  // XYZRHW | TEX1
  EXPECT_EQ(24u, screen.stride);
  EXPECT_TRUE(screen.rhw);
  EXPECT_EQ(16, screen.tex[0]);
  auto lit = gx::LayoutOf(0x112);  // XYZ | NORMAL | TEX1
  EXPECT_EQ(32u, lit.stride);
  EXPECT_EQ(12, lit.normal);
  EXPECT_EQ(24, lit.tex[0]);
  auto full = gx::LayoutOf(0x152);  // XYZ | NORMAL | DIFFUSE | TEX1
  EXPECT_EQ(36u, full.stride);
  EXPECT_EQ(24, full.diffuse);
  EXPECT_EQ(28, full.tex[0]);
  auto colored = gx::LayoutOf(0x42);  // XYZ | DIFFUSE
  EXPECT_EQ(16u, colored.stride);
  EXPECT_EQ(-1, colored.normal);
  EXPECT_EQ(0u, colored.texCount);
  // Texture coordinate sizes come from the high bits: set 0 with three floats.
  auto three = gx::LayoutOf(D3DFVF_XYZ | D3DFVF_TEX1 | (1u << 16));
  EXPECT_EQ(3u, three.texSize[0]);
  EXPECT_EQ(24u, three.stride);
}

TEST(GfxUnits, VertexCountsAndMipChains) {
  EXPECT_EQ(6u, gx::VertexCountOf(D3DPT_TRIANGLELIST, 2));
  EXPECT_EQ(4u, gx::VertexCountOf(D3DPT_TRIANGLESTRIP, 2));
  EXPECT_EQ(0u, gx::VertexCountOf(D3DPT_TRIANGLESTRIP, 0));
  EXPECT_EQ(0u, gx::VertexCountOf(D3DPRIMITIVETYPE(9), 2));
  EXPECT_EQ(1u, gx::FullMipCount(1, 1));
  EXPECT_EQ(9u, gx::FullMipCount(256, 3));
}

TEST(GfxUnits, PixelFormatsDecodeToRgba) {
  std::uint8_t rgba[4];
  const std::uint8_t argb[4] = {0x30, 0x20, 0x10, 0x40};  // B, G, R, A in memory
  gx::PixelToRgba8(D3DFMT_A8R8G8B8, argb, rgba);
  EXPECT_EQ(0x10, rgba[0]);
  EXPECT_EQ(0x30, rgba[2]);
  EXPECT_EQ(0x40, rgba[3]);
  gx::PixelToRgba8(D3DFMT_X8R8G8B8, argb, rgba);
  EXPECT_EQ(255, rgba[3]);
  const std::uint8_t x1555[2] = {0x1F, 0x00};  // blue only, top bit clear
  gx::PixelToRgba8(D3DFMT_X1R5G5B5, x1555, rgba);
  EXPECT_EQ(255, rgba[2]);
  EXPECT_EQ(255, rgba[3]);
  gx::PixelToRgba8(D3DFMT_A1R5G5B5, x1555, rgba);
  EXPECT_EQ(0, rgba[3]);
  const std::uint8_t green565[2] = {0xE0, 0x07};
  gx::PixelToRgba8(D3DFMT_R5G6B5, green565, rgba);
  EXPECT_EQ(0, rgba[0]);
  EXPECT_EQ(255, rgba[1]);
  EXPECT_FALSE(gx::IsTextureFormat(D3DFMT_D24S8));
  EXPECT_TRUE(gx::IsDepthFormat(D3DFMT_D24S8));
}

TEST(GfxUnits, InverseUndoesAndSingularIsRefused) {
  D3DMATRIX m{};
  m._11 = 2, m._12 = 1, m._22 = 3, m._33 = 0.5f, m._41 = 4, m._42 = -2, m._43 = 1, m._44 = 1;
  D3DMATRIX inv{};
  ASSERT_TRUE(gx::Invert(m, inv));
  D3DMATRIX id = gx::Multiply(m, inv);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(i == j ? 1.0f : 0.0f, id.m[i][j], 1e-5f) << i << j;
  D3DMATRIX zero{};
  EXPECT_FALSE(gx::Invert(zero, inv));
  D3DVECTOR v = gx::TransformNormal({1, 0, 0}, m);  // the translation does not apply
  EXPECT_EQ(2.0f, v.x);
  EXPECT_EQ(1.0f, v.y);
}

// Every shape of key the generator can produce must compile and link: a typo in
// one branch of the generator would otherwise only show in the scene that uses it.
TEST(GfxUnits_conformance, EveryProgramShapeBuilds) {
  auto device = MakeDevice(gx::BackendKind::Gl, 16, 16);
  ASSERT_TRUE(device);
  IDirect3DDevice9* d = device.get();
  std::shared_ptr<IDirect3DTexture9> tex;
  std::shared_ptr<IDirect3DCubeTexture9> cube;
  d->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr);
  d->CreateCubeTexture(4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube, nullptr);
  D3DLIGHT9 light{};
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Direction = {0, 0, 1};
  const DWORD fvfs[] = {0x104, 0x112, 0x152, 0x42, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_SPECULAR | D3DFVF_TEX2};
  const DWORD ops[] = {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, D3DTOP_MODULATE, D3DTOP_MODULATE2X,
                       D3DTOP_ADD, D3DTOP_ADDSIGNED, D3DTOP_SUBTRACT, D3DTOP_ADDSMOOTH,
                       D3DTOP_BLENDDIFFUSEALPHA, D3DTOP_BLENDTEXTUREALPHA, D3DTOP_BLENDCURRENTALPHA,
                       D3DTOP_BLENDTEXTUREALPHAPM, D3DTOP_LERP};
  const DWORD args[] = {D3DTA_TEXTURE, D3DTA_DIFFUSE | D3DTA_COMPLEMENT, D3DTA_TFACTOR | D3DTA_ALPHAREPLICATE,
                        D3DTA_SPECULAR, D3DTA_CURRENT};
  const DWORD gens[] = {0, D3DTSS_TCI_CAMERASPACENORMAL, D3DTSS_TCI_CAMERASPACEPOSITION,
                        D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR, D3DTSS_TCI_SPHEREMAP, 1};
  int variant = 0;
  std::vector<std::uint8_t> vertices(64 * 3, 0);  // three vertices of the widest format
  d->BeginScene();
  for (DWORD fvf : fvfs) {
    for (int v = 0; v < 13; ++v, ++variant) {
      d->SetFVF(fvf);
      d->SetRenderState(D3DRS_LIGHTING, v % 2);
      d->SetRenderState(D3DRS_SPECULARENABLE, v % 3 == 0);
      d->SetRenderState(D3DRS_FOGENABLE, v % 4 != 0);
      d->SetRenderState(D3DRS_FOGVERTEXMODE, v % 4);
      d->SetRenderState(D3DRS_FOGTABLEMODE, v % 5 == 1 ? D3DFOG_EXP2 : D3DFOG_NONE);
      d->SetRenderState(D3DRS_RANGEFOGENABLE, v % 2);
      d->SetRenderState(D3DRS_NORMALIZENORMALS, v % 3 == 1);
      d->SetRenderState(D3DRS_SHADEMODE, v % 5 == 2 ? D3DSHADE_FLAT : D3DSHADE_GOURAUD);
      d->SetRenderState(D3DRS_ALPHATESTENABLE, v % 2);
      d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_NEVER + DWORD(v % 8));
      d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, v % 3);
      d->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, (v + 1) % 3);
      d->SetLight(v % 3, &light);
      d->LightEnable(v % 3, v % 4 != 3);
      for (DWORD stage = 0; stage < 3; ++stage) {
        d->SetTexture(stage, (v + stage) % 3 == 0 ? nullptr
                             : (v + stage) % 3 == 1 ? std::shared_ptr<IDirect3DBaseTexture9>(tex)
                                                    : std::shared_ptr<IDirect3DBaseTexture9>(cube));
        d->SetTextureStageState(stage, D3DTSS_COLOROP, ops[(v + stage * 5) % 13]);
        d->SetTextureStageState(stage, D3DTSS_ALPHAOP, ops[(v + stage * 3 + 1) % 13]);
        d->SetTextureStageState(stage, D3DTSS_COLORARG1, args[(v + stage) % 5]);
        d->SetTextureStageState(stage, D3DTSS_COLORARG2, args[(v + stage + 2) % 5]);
        d->SetTextureStageState(stage, D3DTSS_ALPHAARG1, args[(v + 3) % 5]);
        d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, gens[(v + stage) % 6]);
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS,
                                (v + stage) % 4 == 0 ? D3DTTFF_DISABLE
                                                     : DWORD((v + stage) % 4 + 1) |
                                                           ((v % 2) ? DWORD(D3DTTFF_PROJECTED) : DWORD(0)));
      }
      UINT stride = gx::LayoutOf(fvf).stride;
      ASSERT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices.data(), stride))
          << "variant " << variant << " fvf " << fvf;
    }
  }
  d->EndScene();
  EXPECT_GT(gx::GxGetStats(d).programsCompiled, 30u);
}

}  // namespace
