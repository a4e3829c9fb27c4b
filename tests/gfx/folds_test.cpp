// What the generator leaves out of a program because it cannot change a pixel: stages that
// hand the colour on, alpha tests nothing fails, colours the vertex format lacks, coordinate
// components no lookup reads. The key and the text say it is gone; the pictures say nothing
// changed.

#include <cstring>
#include <string>

#include "platform/gfx/ff_key.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/gl/glsl_gen.h"
#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

struct TexVertex {  // D3DFVF_XYZRHW | D3DFVF_TEX1: no colour of its own
  float x, y, z, rhw, u, v;
};
constexpr DWORD kTexFvf = D3DFVF_XYZRHW | D3DFVF_TEX1;

void DrawTexRect(IDirect3DDevice9* d, float x0, float y0, float x1, float y1) {
  TexVertex v[4] = {{x0, y0, 0.5f, 1, 0, 0}, {x1, y0, 0.5f, 1, 1, 0}, {x0, y1, 0.5f, 1, 0, 1}, {x1, y1, 0.5f, 1, 1, 1}};
  d->SetFVF(kTexFvf);
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof v[0]));
}

std::shared_ptr<IDirect3DTexture9> Texture(IDirect3DDevice9* d, DWORD argb) { return gfxtest::SolidTexture(d, argb); }

class GfxFolds : public DeviceTest {
 protected:
  GfxFolds() : DeviceTest(gx::BackendKind::Recording) {}
  void SetUp() override {
    DeviceTest::SetUp();
    if (HasFatalFailure()) return;
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetTexture(0, Texture(d, 0xFF808080));
  }
  // The key of the state in force for a draw of format fvf.
  gx::FixedFunctionKey Key(DWORD fvf = kTexFvf) {
    std::vector<std::uint8_t> v(3 * 64, 0);
    d->SetFVF(fvf);
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v.data(), gx::LayoutOf(fvf).stride);
    d->EndScene();
    gx::FixedFunctionKey key;
    gx::BuildKey(gx::GxRecordedDraws(d).back().state, key);
    return key;
  }
  void Stage(DWORD stage, DWORD colorOp, DWORD colorArg, DWORD alphaOp, DWORD alphaArg) {
    d->SetTextureStageState(stage, D3DTSS_COLOROP, colorOp);
    d->SetTextureStageState(stage, colorOp == D3DTOP_SELECTARG2 ? D3DTSS_COLORARG2 : D3DTSS_COLORARG1, colorArg);
    d->SetTextureStageState(stage, D3DTSS_ALPHAOP, alphaOp);
    d->SetTextureStageState(stage, alphaOp == D3DTOP_SELECTARG2 ? D3DTSS_ALPHAARG2 : D3DTSS_ALPHAARG1, alphaArg);
  }
};

TEST_F(GfxFolds, StagesThatHandTheColourOnLeaveTheKey) {
  const gx::FixedFunctionKey one = Key();
  ASSERT_EQ(1, one.stageCount);
  // A second stage selecting the current value, by either argument, is no stage at all.
  Stage(1, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT);
  EXPECT_TRUE(one == Key());
  Stage(1, D3DTOP_SELECTARG2, D3DTA_CURRENT, D3DTOP_SELECTARG2, D3DTA_CURRENT);
  EXPECT_TRUE(one == Key());
  // Keeping the colour but changing the alpha is a stage.
  Stage(1, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TFACTOR);
  EXPECT_EQ(2, Key().stageCount);
  // A pass-through stage before a working one keeps its place but gets no code.
  Stage(1, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT);
  d->SetTexture(2, Texture(d, 0xFFFFFFFF));
  Stage(2, D3DTOP_ADD, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_CURRENT);
  gx::FixedFunctionKey three = Key();
  ASSERT_EQ(3, three.stageCount);
  std::string fs = gx::FixedFragmentShader(three);
  EXPECT_EQ(std::string::npos, fs.find("cur = cur")) << fs;
  EXPECT_EQ(std::string::npos, fs.find("tex1")) << fs;
  EXPECT_NE(std::string::npos, fs.find("tex2")) << fs;
  // Stage 0 handing the diffuse colour on: the program only copies it.
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  Stage(0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTOP_SELECTARG2, D3DTA_CURRENT);
  gx::FixedFunctionKey none = Key(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  EXPECT_EQ(0, none.stageCount);
  EXPECT_EQ(std::string::npos, gx::FixedFragmentShader(none).find("texture(")) << gx::FixedFragmentShader(none);
}

TEST_F(GfxFolds, AlphaTestsNothingFailsLeaveTheKey) {
  const gx::FixedFunctionKey off = Key();
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  d->SetRenderState(D3DRS_ALPHAREF, 0);
  EXPECT_TRUE(off == Key());
  d->SetRenderState(D3DRS_ALPHAREF, 0x100);  // only the low byte counts
  EXPECT_TRUE(off == Key());
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_LESSEQUAL);
  d->SetRenderState(D3DRS_ALPHAREF, 255);
  EXPECT_TRUE(off == Key());
  // One step in from the edge the test can fail.
  d->SetRenderState(D3DRS_ALPHAREF, 254);
  gx::FixedFunctionKey lessEqual = Key();
  EXPECT_EQ(D3DCMP_LESSEQUAL, lessEqual.alphaFunc);
  EXPECT_NE(std::string::npos, gx::FixedFragmentShader(lessEqual).find("discard"));
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  d->SetRenderState(D3DRS_ALPHAREF, 0);
  EXPECT_EQ(D3DCMP_GREATER, Key().alphaFunc);  // alpha 0 fails
  EXPECT_TRUE(gx::RenderStateShapesKey(D3DRS_ALPHAREF));
  EXPECT_EQ(std::string::npos, gx::FixedFragmentShader(off).find("discard"));
}

TEST_F(GfxFolds, ColoursTheVertexLacksAreConstantsAndCoordinatesAsWideAsRead) {
  gx::FixedFunctionKey k = Key();
  std::string vs = gx::FixedVertexShader(k), fs = gx::FixedFragmentShader(k);
  EXPECT_EQ(std::string::npos, fs.find("in vec4 gx_Color0")) << fs;
  EXPECT_EQ(std::string::npos, fs.find("in vec4 gx_Color1")) << fs;
  EXPECT_EQ(std::string::npos, vs.find("gx_Color0 =")) << vs;
  EXPECT_NE(std::string::npos, fs.find("in vec2 gx_Tex0")) << fs;
  EXPECT_NE(std::string::npos, vs.find("out vec2 gx_Tex0")) << vs;
  // A vertex colour, a pixel shader or lighting make them varyings again.
  EXPECT_NE(std::string::npos, gx::FixedFragmentShader(Key(kTexFvf | D3DFVF_DIFFUSE)).find("in vec4 gx_Color0"));
  d->SetRenderState(D3DRS_LIGHTING, TRUE);
  EXPECT_NE(std::string::npos,
            gx::FixedFragmentShader(Key(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1)).find("in vec4 gx_Color0"));
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  // A projected lookup keeps its divisor; a cube its third component.
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
  EXPECT_NE(std::string::npos, gx::FixedFragmentShader(Key(D3DFVF_XYZ | D3DFVF_TEX1)).find("in vec3 gx_Tex0"));
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4 | D3DTTFF_PROJECTED);
  EXPECT_NE(std::string::npos, gx::FixedFragmentShader(Key(D3DFVF_XYZ | D3DFVF_TEX1)).find("in vec4 gx_Tex0"));
}

TEST_F(GfxFolds, BlackFogScalesTheColourInsteadOfMixing) {
  d->SetRenderState(D3DRS_FOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
  gx::FixedFunctionKey black = Key();
  EXPECT_TRUE(black.fogBlack);
  std::string fs = gx::FixedFragmentShader(black);
  EXPECT_EQ(std::string::npos, fs.find("mix(gx_FogColor")) << fs;
  EXPECT_NE(std::string::npos, fs.find("cur.rgb *=")) << fs;
  d->SetRenderState(D3DRS_FOGCOLOR, 0x00000000);  // the fog colour's alpha plays no part
  EXPECT_TRUE(black == Key());
  d->SetRenderState(D3DRS_FOGCOLOR, 0xFF000001);
  gx::FixedFunctionKey blue = Key();
  EXPECT_FALSE(blue.fogBlack);
  EXPECT_NE(std::string::npos, gx::FixedFragmentShader(blue).find("mix(gx_FogColor"));
  // Without fog the colour is nobody's business.
  d->SetRenderState(D3DRS_FOGENABLE, FALSE);
  gx::FixedFunctionKey off = Key();
  d->SetRenderState(D3DRS_FOGCOLOR, 0);
  EXPECT_TRUE(off == Key());
  EXPECT_FALSE(off.fogBlack);
}

// ---------------------------------------------------------------------------
// The same pixels with and without what was folded away

class GfxGl_folds : public ScreenDrawingTest {
 protected:
  GfxGl_folds() : ScreenDrawingTest(32) {}
  // Three quarters (top left, top right, bottom left) drawn with render state `state` at
  // `first`, `second`, then `first` again: each change between draws must reach its draw.
  Picture DrawWithStateBetween(D3DRENDERSTATETYPE state, DWORD first, DWORD second) {
    d->BeginScene();
    const float corners[3][2] = {{0, 0}, {16, 0}, {0, 16}};
    const DWORD values[3] = {first, second, first};
    for (int i = 0; i < 3; ++i) {
      d->SetRenderState(state, values[i]);
      DrawTexRect(d, corners[i][0], corners[i][1], corners[i][0] + 16, corners[i][1] + 16);
    }
    d->EndScene();
    return Picture(d);
  }
};

TEST_F(GfxGl_folds, FoldedStagesAndWhiteDiffuseDrawTheTexelsAsStored) {
  // Texels whose 8-bit values a lost step of precision would move.
  const auto texel = Texture(d, 0xFF01807F);
  d->SetTexture(0, texel);
  d->SetTexture(1, Texture(d, 0xFF00FF00));
  d->BeginScene();
  // Stage 0 modulates by the diffuse the format lacks (white); stage 1 selects the current value.
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
  DrawTexRect(d, 0, 0, 16, 16);
  // The same stage selecting its texture is a real stage.
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  DrawTexRect(d, 16, 0, 32, 16);
  // With a vertex colour of white it must come out the same as without one.
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  Picture p = ShowTexture(d, texel, 0, 16, 16, 32);
  ExpectNear(p.At(8, 8), {0x01, 0x80, 0x7F, 255}, 0, "white diffuse, pass-through stage");
  ExpectNear(p.At(24, 8), {0, 255, 0, 255}, 0, "stage 1 reading its texture");
  ExpectNear(p.At(8, 24), {0x01, 0x80, 0x7F, 255}, 0, "white vertex colour");
}

TEST_F(GfxGl_folds, AlphaReferenceChangesBetweenDrawsReachTheProgram) {
  // Alpha 0 texels: kept while the test cannot fail, rejected as soon as the reference says so,
  // though the two draws differ in nothing else.
  d->SetTexture(0, Texture(d, 0x00FFFFFF));
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  Picture p = DrawWithStateBetween(D3DRS_ALPHAREF, 0, 1);
  EXPECT_EQ(255, p.At(8, 8).r);
  EXPECT_EQ(0, p.At(24, 8).r);
  EXPECT_EQ(255, p.At(8, 24).r);
}

TEST_F(GfxGl_folds, FogColourChangesBetweenDrawsReachTheProgram) {
  // Table fog halfway (pre-transformed z = 0.5 between 0 and 1) over white texels: black fog halves the colour,
  // red fog leaves red whole, whichever program the previous draw used.
  d->SetTexture(0, Texture(d, 0xFFFFFFFF));
  d->SetRenderState(D3DRS_FOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_FOGSTART, gx::FloatAsDword(0.0f));
  d->SetRenderState(D3DRS_FOGEND, gx::FloatAsDword(1.0f));
  Picture p = DrawWithStateBetween(D3DRS_FOGCOLOR, 0xFF000000, 0xFFFF0000);
  ExpectNear(p.At(8, 8), {128, 128, 128, 255}, 1, "black fog");
  ExpectNear(p.At(24, 8), {255, 128, 128, 255}, 1, "red fog");
  ExpectNear(p.At(8, 24), {128, 128, 128, 255}, 1, "black fog again");
}

}  // namespace
