// Draws that cannot change a pixel are not sent to GL: everything outside one plane of the view
// volume, and additive draws fogged to black at every vertex. The decision must never drop a draw
// that touches a pixel: the edge cases sit just inside the margins, and the pictures on the gl
// backend are compared with the draw skipped and drawn.

#include <cmath>
#include <vector>

#include "platform/gfx/draw_reach.h"
#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

struct Vertex {  // D3DFVF_XYZ
  float x, y, z;
};

D3DMATRIX Perspective(float fovY, float aspect, float zn, float zf) {
  D3DMATRIX m{};
  const float ys = 1.0f / std::tan(fovY / 2), xs = ys / aspect;
  m._11 = xs, m._22 = ys, m._33 = zf / (zf - zn), m._34 = 1.0f, m._43 = -zn * zf / (zf - zn);
  return m;
}

gx::VertexSpan Span(const std::vector<Vertex>& v) {
  return {reinterpret_cast<const std::uint8_t*>(v.data()), sizeof(Vertex), UINT(v.size())};
}

// A square of side 2 * half facing the camera at depth z, centred on (x, y).
std::vector<Vertex> Square(float x, float y, float z, float half = 1.0f) {
  return {{x - half, y - half, z}, {x + half, y - half, z}, {x - half, y + half, z}, {x + half, y + half, z}};
}

class DrawReach : public ::testing::Test {
 protected:
  void SetUp() override {
    s.SetDefaults(true, 640, 360);
    s.projection = Perspective(0.8f, 640.0f / 360.0f, 1.0f, 200.0f);
    s.fvf = D3DFVF_XYZ;
  }
  // The show's fog planes: added over the target, fogged towards black between 40 and 60.
  void Additive() {
    auto& r = s.render;
    r[D3DRS_ALPHABLENDENABLE] = TRUE, r[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA, r[D3DRS_DESTBLEND] = D3DBLEND_ONE;
    r[D3DRS_ZWRITEENABLE] = FALSE;
    r[D3DRS_FOGENABLE] = TRUE, r[D3DRS_FOGCOLOR] = 0xFF000000, r[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
    r[D3DRS_FOGSTART] = gx::FloatAsDword(40.0f), r[D3DRS_FOGEND] = gx::FloatAsDword(60.0f);
    r[D3DRS_RANGEFOGENABLE] = TRUE;
  }
  gx::DeviceState s;
};

TEST_F(DrawReach, GeometryBehindBesideOrBeyondTheViewVolumeIsOutside) {
  EXPECT_FALSE(gx::OutsideViewVolume(s, Span(Square(0, 0, 10))));
  EXPECT_TRUE(gx::OutsideViewVolume(s, Span(Square(0, 0, -5))));    // behind the camera
  EXPECT_TRUE(gx::OutsideViewVolume(s, Span(Square(0, 0, 0.5f, 0.1f))));  // before the near plane
  EXPECT_TRUE(gx::OutsideViewVolume(s, Span(Square(0, 0, 300))));    // beyond the far plane
  EXPECT_TRUE(gx::OutsideViewVolume(s, Span(Square(40, 0, 10))));    // right of the view
  EXPECT_TRUE(gx::OutsideViewVolume(s, Span(Square(0, -40, 10))));   // below it
  // Across the camera plane, partly in view: drawn.
  EXPECT_FALSE(gx::OutsideViewVolume(s, Span({{-1, 0, -5}, {1, 0, -5}, {0, 0, 20}})));
  // Outside two different planes but no single one: the triangle crosses the view, drawn.
  EXPECT_FALSE(gx::OutsideViewVolume(s, Span({{-60, 0, 10}, {60, 0, 10}, {0, 60, 10}})));
  // The world and view transforms count: moved in front of the camera it is drawn.
  s.world._43 = 20.0f;
  EXPECT_FALSE(gx::OutsideViewVolume(s, Span(Square(0, 0, -5))));
}

TEST_F(DrawReach, EdgesWithinTwoPixelsOfTheViewportAreKept) {
  // At depth 10 the right edge of the view lies at x = 10 * tan(0.4) * aspect.
  const float edge = 10.0f * std::tan(0.4f) * 640.0f / 360.0f, pixel = 2 * edge / 640.0f;
  EXPECT_FALSE(gx::OutsideViewVolume(s, Span(Square(edge + 1.5f * pixel + 1, 0, 10))));
  EXPECT_TRUE(gx::OutsideViewVolume(s, Span(Square(edge + 3.0f * pixel + 1, 0, 10))));

  s.fvf = D3DFVF_XYZRHW;
  struct Screen {
    float x, y, z, rhw;
  };
  auto rect = [](float x0, float x1) { return std::vector<Screen>{{x0, 0, 0, 1}, {x1, 0, 0, 1}, {x0, 9, 0, 1}, {x1, 9, 0, 1}}; };
  auto span = [](const std::vector<Screen>& v) {
    return gx::VertexSpan{reinterpret_cast<const std::uint8_t*>(v.data()), sizeof(Screen), UINT(v.size())};
  };
  EXPECT_FALSE(gx::OutsideViewVolume(s, span(rect(-20, -0.5f))));  // pixel 0's centre is half a pixel on
  EXPECT_TRUE(gx::OutsideViewVolume(s, span(rect(-20, -1.5f))));
  EXPECT_TRUE(gx::OutsideViewVolume(s, span(rect(642, 700))));
  EXPECT_FALSE(gx::OutsideViewVolume(s, span(rect(640.5f, 700))));
}

TEST_F(DrawReach, OnlyAdditiveDrawsFoggedToBlackEverywhereAddNothing) {
  Additive();
  const auto far = Square(0, 0, 80, 5), near = Square(0, 0, 50, 5);
  EXPECT_TRUE(gx::AddsNothing(s, Span(far), D3DFMT_X8R8G8B8));
  EXPECT_FALSE(gx::AddsNothing(s, Span(near), D3DFMT_X8R8G8B8));
  // Vertex fog is interpolated: corners beyond the end in range leave nothing anywhere, though the
  // square's middle is nearer; measured in depth instead, the same square is inside.
  const auto wide = Square(0, 0, 59.0f, 12);
  EXPECT_TRUE(gx::AddsNothing(s, Span(wide), D3DFMT_X8R8G8B8));
  s.render[D3DRS_RANGEFOGENABLE] = FALSE;
  EXPECT_FALSE(gx::AddsNothing(s, Span(wide), D3DFMT_X8R8G8B8));
  s.render[D3DRS_RANGEFOGENABLE] = TRUE;

  auto with = [&](D3DRENDERSTATETYPE state, DWORD value, D3DFORMAT format = D3DFMT_X8R8G8B8) {
    const DWORD saved = s.render[state];
    s.render[state] = value;
    const bool nothing = gx::AddsNothing(s, Span(far), format);
    s.render[state] = saved;
    return nothing;
  };
  EXPECT_FALSE(with(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA));  // the target is scaled
  EXPECT_FALSE(with(D3DRS_ALPHABLENDENABLE, FALSE));          // black is written
  EXPECT_FALSE(with(D3DRS_BLENDOP, D3DBLENDOP_MAX));
  EXPECT_FALSE(with(D3DRS_ZWRITEENABLE, TRUE));               // depth is written
  EXPECT_FALSE(with(D3DRS_STENCILENABLE, TRUE));
  EXPECT_FALSE(with(D3DRS_FOGCOLOR, 0xFF000001));             // fogged to a colour
  EXPECT_FALSE(with(D3DRS_FOGVERTEXMODE, D3DFOG_EXP));
  EXPECT_FALSE(with(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR));
  EXPECT_FALSE(with(D3DRS_FOGENABLE, FALSE));
  EXPECT_FALSE(with(D3DRS_FOGEND, gx::FloatAsDword(40.0f)));  // no range to fog over
  // Fog leaves alpha alone: a target that keeps alpha gains some, unless alpha is not written.
  EXPECT_FALSE(with(D3DRS_COLORWRITEENABLE, 0xF, D3DFMT_A8R8G8B8));
  EXPECT_TRUE(with(D3DRS_COLORWRITEENABLE, 0x7, D3DFMT_A8R8G8B8));
}

TEST_F(DrawReach, DrawsBlendedByAnAlphaOfZeroEverywhereAddNothing) {
  auto& r = s.render;
  r[D3DRS_ALPHABLENDENABLE] = TRUE, r[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA, r[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
  r[D3DRS_ZWRITEENABLE] = FALSE;
  r[D3DRS_LIGHTING] = TRUE, r[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_MATERIAL;
  s.stage[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1, s.stage[0][D3DTSS_ALPHAARG1] = D3DTA_DIFFUSE;
  s.material.Diffuse = {1, 1, 1, 0};
  const auto v = Square(0, 0, 10);
  // Whatever the target keeps, alpha included: it is scaled by 1 - 0 and gains 0.
  EXPECT_TRUE(gx::AddsNothing(s, Span(v), D3DFMT_A8R8G8B8));
  s.stage[0][D3DTSS_ALPHAOP] = D3DTOP_MODULATE, s.stage[0][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
  s.stage[0][D3DTSS_ALPHAARG2] = D3DTA_DIFFUSE;
  EXPECT_TRUE(gx::AddsNothing(s, Span(v), D3DFMT_A8R8G8B8));
  s.stage[1][D3DTSS_COLOROP] = D3DTOP_MODULATE;  // a second stage could bring alpha of its own
  EXPECT_FALSE(gx::AddsNothing(s, Span(v), D3DFMT_A8R8G8B8));
  s.stage[1][D3DTSS_COLOROP] = D3DTOP_DISABLE;
  s.material.Diffuse.a = 1.0f / 255;
  EXPECT_FALSE(gx::AddsNothing(s, Span(v), D3DFMT_A8R8G8B8));
  s.material.Diffuse.a = 0;
  r[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  EXPECT_FALSE(gx::AddsNothing(s, Span(v), D3DFMT_A8R8G8B8));
  r[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
  r[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  EXPECT_FALSE(gx::AddsNothing(s, Span(v), D3DFMT_A8R8G8B8));
  r[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;

  // Unlit, the vertices' own alpha decides, every one of them.
  struct Coloured {
    float x, y, z;
    D3DCOLOR color;
  };
  s.fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
  r[D3DRS_LIGHTING] = FALSE;
  std::vector<Coloured> c = {{-1, -1, 10, 0x00FFFFFF}, {1, -1, 10, 0x00FFFFFF}, {0, 1, 10, 0x00FFFFFF}};
  const gx::VertexSpan span{reinterpret_cast<const std::uint8_t*>(c.data()), sizeof(Coloured), 3};
  EXPECT_TRUE(gx::AddsNothing(s, span, D3DFMT_A8R8G8B8));
  c[2].color = 0x01FFFFFF;
  EXPECT_FALSE(gx::AddsNothing(s, span, D3DFMT_A8R8G8B8));
  // Lit with the vertex colour as the source: the vertices again, not the material.
  r[D3DRS_LIGHTING] = TRUE, r[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  EXPECT_FALSE(gx::AddsNothing(s, span, D3DFMT_A8R8G8B8));
  r[D3DRS_COLORVERTEX] = FALSE;  // the material after all
  EXPECT_TRUE(gx::AddsNothing(s, span, D3DFMT_A8R8G8B8));
}

// On the gl backend: a skipped draw sends nothing and the picture is the one drawing gives; a
// draw at the edge of the rules is drawn.
TEST(DrawReachGl, SkippedDrawsSendNothingAndChangeNoPixel) {
  auto device = MakeDevice(gx::BackendKind::Gl, 64, 64);
  if (!device) GTEST_SKIP() << "no GL device";
  IDirect3DDevice9* d = device.get();
  D3DMATRIX projection = Perspective(0.8f, 1.0f, 1.0f, 200.0f);
  d->SetTransform(D3DTS_PROJECTION, &projection);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  d->SetRenderState(D3DRS_FOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGCOLOR, 0);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  d->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGSTART, gx::FloatAsDword(10.0f));
  d->SetRenderState(D3DRS_FOGEND, gx::FloatAsDword(20.0f));
  d->SetFVF(D3DFVF_XYZ);

  auto draws = [&](const std::vector<Vertex>& v) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF204060, 1.0f, 0);
    gx::GxResetStats(d);
    d->BeginScene();
    EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof(Vertex)));
    d->EndScene();
    return gx::GxGetStats(d).glDrawCalls;
  };
  // White added beyond the fog's end, behind the camera, beside the view: no GL draw, no change.
  for (const auto& v : {Square(0, 0, 25, 4), Square(0, 0, -5, 4), Square(30, 0, 10, 4)}) {
    EXPECT_EQ(0u, draws(v));
    Rgba p = Picture(d).At(32, 32);
    EXPECT_EQ(0x20, p.r);
    EXPECT_EQ(0x40, p.g);
    EXPECT_EQ(0x60, p.b);
  }
  // Just before the fog's end the white still adds a little; at the view's edge a column is lit.
  EXPECT_EQ(1u, draws(Square(0, 0, 19.0f, 2)));
  EXPECT_GT(Picture(d).At(32, 32).r, 0x20);
  const float edge = 10.0f * std::tan(0.4f);  // x of the right edge at depth 10
  d->SetRenderState(D3DRS_FOGENABLE, FALSE);
  EXPECT_EQ(1u, draws(Square(edge + 4.0f - 1.25f * edge / 32, 0, 10, 4)));
  EXPECT_EQ(0xFF, Picture(d).At(63, 32).r);
}

}  // namespace
