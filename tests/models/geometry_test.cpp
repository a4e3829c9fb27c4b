// Generated shapes and world matrices, checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "engine/vokModells.h"

namespace {

constexpr float Pi = 3.14159274f;

void ExpectVertex(const TModelVertex& v, std::initializer_list<float> want, const char* what) {
  const float* got = &v.x;
  int i = 0;
  for (float w : want) EXPECT_NEAR(got[i++], w, 1e-5) << what << ", component " << i - 1;
}

struct Box {
  float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
};
Box BoxOf(const TShapeGeometry& g) {
  Box b;
  for (const auto& v : g.Vertices) {
    b.minX = std::min(b.minX, v.x), b.maxX = std::max(b.maxX, v.x);
    b.minY = std::min(b.minY, v.y), b.maxY = std::max(b.maxY, v.y);
  }
  return b;
}

// Param1..Param6 in order; the rest stay 0.
std::unique_ptr<TzanObject> Shape(std::initializer_list<float> params, uint8_t anchor = 0) {
  auto o = std::make_unique<TzanObject>(nullptr);
  float* p = &o->Param1;
  for (float v : params) *p++ = v;
  o->Anchor = anchor;
  return o;
}

bool SameVertices(const TShapeGeometry& a, const TShapeGeometry& b) {
  return a.Vertices.size() == b.Vertices.size() &&
         std::memcmp(a.Vertices.data(), b.Vertices.data(), a.Vertices.size() * sizeof(TModelVertex)) == 0;
}

}  // namespace

TEST(ModelPlane, EightByEightGrid) {
  auto o = Shape({8, 8, 8, 8});
  TShapeGeometry g = o->PlaneGeometry();
  ASSERT_EQ(g.Vertices.size(), 384u);
  EXPECT_EQ(g.PrimitiveCount, 128);
  Box b = BoxOf(g);
  EXPECT_EQ(b.minX, -32);
  EXPECT_EQ(b.maxY, 32);
  // First cell's template in order (x, y, z, normal, u, v), then the next cell and row.
  ExpectVertex(g.Vertices[0], {-32, -24, 0, 0, 0, -1, 0, 0}, "upper left");
  ExpectVertex(g.Vertices[1], {-24, -24, 0, 0, 0, -1, 1, 0}, "upper right");
  ExpectVertex(g.Vertices[3], {-32, -32, 0, 0, 0, -1, 0, 1}, "lower left");
  ExpectVertex(g.Vertices[5], {-24, -32, 0, 0, 0, -1, 1, 1}, "lower right");
  ExpectVertex(g.Vertices[6], {-24, -24}, "second cell");
  ExpectVertex(g.Vertices[48], {-32, -16}, "second row");
  o->Anchor = 7;
  b = BoxOf(o->PlaneGeometry());
  EXPECT_EQ(b.minX, 0);
  EXPECT_EQ(b.maxX, 64);
  EXPECT_EQ(b.minY, 0);
  EXPECT_EQ(b.maxY, 64);
}

TEST(ModelPlane, AnchorsPlaceTheNamedPointAtTheOrigin) {
  // 3 x 2 cells of 2 x 1: the grid is 6 wide and 2 high. Anchors above 8 act as 0.
  const float box[9][4] = {{-3, 3, -1, 1}, {0, 6, -1, 1}, {-3, 3, -2, 0}, {-6, 0, -1, 1}, {-3, 3, 0, 2},
                           {0, 6, -2, 0},  {-6, 0, -2, 0}, {0, 6, 0, 2},  {-6, 0, 0, 2}};
  for (int a : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 255}) {
    Box b = BoxOf(Shape({2, 1, 3, 2}, uint8_t(a))->PlaneGeometry());
    const float* want = box[a > 8 ? 0 : a];
    EXPECT_EQ(b.minX, want[0]) << a;
    EXPECT_EQ(b.maxX, want[1]) << a;
    EXPECT_EQ(b.minY, want[2]) << a;
    EXPECT_EQ(b.maxY, want[3]) << a;
  }
  EXPECT_TRUE(SameVertices(Shape({8, 1, 2, 2, 3}, 12)->CylinderGeometry(), Shape({8, 1, 2, 2, 3})->CylinderGeometry()));
  EXPECT_TRUE(SameVertices(Shape({8, 2, 1}, 200)->DiscGeometry(), Shape({8, 2, 1})->DiscGeometry()));
}

TEST(ModelPlane, StretchedTextureAndWave) {
  auto o = Shape({8, 8, 8, 8});
  o->StretchTexture = true;
  TShapeGeometry g = o->PlaneGeometry();
  ExpectVertex(g.Vertices[2], {-32, -32, 0, 0, 0, -1, 0, 1}, "lower-left grid corner");
  ExpectVertex(g.Vertices[379], {32, 32, 0, 0, 0, -1, 1, 0}, "upper-right grid corner");

  auto flat = Shape({1, 1, 2, 2, 0, 5});  // an amplitude without an angle does nothing
  for (const auto& v : flat->PlaneGeometry().Vertices) ASSERT_TRUE(v.z == 0 && v.ny == 0 && v.nz == -1);
  auto wave = Shape({1, 1, 1, 2, Pi / 2, 3});
  g = wave->PlaneGeometry();
  const float s = std::sin(Pi / 4), c = std::cos(Pi / 4);
  ExpectVertex(g.Vertices[0], {-0.5f, 0, 3 * s, 0, c, -1 + s}, "row 1 upper: theta pi/4");
  ExpectVertex(g.Vertices[2], {-0.5f, -1, 0, 0, 1, -1}, "row 1 lower: theta 0");
  ExpectVertex(g.Vertices[6], {-0.5f, 1, 3, 0, 0, 0}, "row 2 upper: theta pi/2");
}

TEST(ModelCylinder, CountsRingsAndWall) {
  auto o = Shape({60, 0.5f, 15, 15, 1});
  EXPECT_EQ(o->CylinderGeometry().Vertices.size(), 122u);
  EXPECT_EQ(o->CylinderGeometry().PrimitiveCount, 120);
  o->Capped = true;
  EXPECT_EQ(o->CylinderGeometry().Vertices.size(), 366u);
  EXPECT_EQ(o->CylinderGeometry().PrimitiveCount, 364);
  o->Capped = false;
  o->Param5 = 0;  // no ring count: one ring
  EXPECT_EQ(o->CylinderGeometry().Vertices.size(), 122u);

  auto w = Shape({4, 2, 3, 1, 1}, 4);  // bottom centre at the origin
  TShapeGeometry g = w->CylinderGeometry();
  ExpectVertex(g.Vertices[0], {3, 0, 0, 1, 0, 0, 0, 1}, "lower, angle 0");
  ExpectVertex(g.Vertices[1], {3, 2, 0, 1, 0, 0, 0, 0}, "upper, angle 0");
  ExpectVertex(g.Vertices[2], {0, 0, 1, 0, 0, 1, 0.25f, 1}, "lower, quarter turn");
  ExpectVertex(g.Vertices[8], {3, 0, 0, 1, 0, 0, 1, 1}, "the last repeats the first");
  w->Anchor = 5;  // top-left: the axis at +rx, the top at 0
  ExpectVertex(w->CylinderGeometry().Vertices[0], {6, -2}, "top-left anchor");
  w->Anchor = 4;
  w->Param7 = 1;  // a cone: narrower top, normals tilted up, top Z radius follows
  ExpectVertex(w->CylinderGeometry().Vertices[3], {0, 2, 1, 0, 0.5f, 1, 0.25f, 0}, "cone top");
  w->Param7 = 4;
  EXPECT_EQ(w->CylinderGeometry().Vertices[0].ny, -0.5f);

  auto bent = Shape({4, 1, 1, 1, 2, Pi}, 4);  // bend(k) = sin(pi / 2 * k)
  g = bent->CylinderGeometry();
  EXPECT_NEAR(g.Vertices[1].x, 2.0f, 1e-6);   // ring 0 upper
  EXPECT_NEAR(g.Vertices[10].x, 2.0f, 1e-6);  // ring 1 lower
  EXPECT_NEAR(g.Vertices[11].x, 1.0f, 1e-5);  // ring 1 upper: sin(pi)
}

TEST(ModelCylinder, CapsFaceOutwards) {
  auto o = Shape({4, 2, 3, 3, 1}, 4);
  o->Capped = true;
  TShapeGeometry g = o->CylinderGeometry();
  ASSERT_EQ(g.Vertices.size(), 30u);
  ExpectVertex(g.Vertices[0], {0, 0, 0, 0, -1, 0, 0.5f, 0.5f}, "bottom: centre first");
  ExpectVertex(g.Vertices[1], {3, 0, 0, 0, -1, 0, 1, 0.5f}, "then rim");
  ExpectVertex(g.Vertices[10], {3, 0, 0, 1, 0, 0, 0, 1}, "wall after the bottom cap");
  ExpectVertex(g.Vertices[20], {3, 2, 0, 0, 1, 0, 0.5f, 1.0f}, "top: rim first, texture turned");
  ExpectVertex(g.Vertices[21], {0, 2, 0, 0, 1, 0, 0.5f, 0.5f}, "then centre");
}

TEST(ModelDisc, FullAndHalfTurns) {
  auto o = Shape({6, 2, 1});
  TShapeGeometry g = o->DiscGeometry();
  EXPECT_EQ(g.Vertices.size(), 14u);
  EXPECT_EQ(g.PrimitiveCount, 12);
  ExpectVertex(g.Vertices[0], {2, 0, 0, 0, 0, -1, 1, 0.5f}, "rim at angle 0");
  ExpectVertex(g.Vertices[1], {0, 0, 0, 0, 0, -1, 0.5f, 0.5f}, "centre");
  o->HalfRound = true;
  o->Anchor = 2;  // middle of the top side: centre at (0, -ry)
  g = o->DiscGeometry();
  for (size_t i = 0; i < g.Vertices.size(); i += 2) EXPECT_LE(g.Vertices[i].y, -1.0f + 1e-6f) << i;
  EXPECT_NEAR(g.Vertices[0].x, -2.0f, 1e-5);
  EXPECT_NEAR(g.Vertices[6].y, -2.0f, 1e-5);
  EXPECT_NEAR(g.Vertices[12].x, 2.0f, 1e-5);
}

TEST(ModelShapes, CountsRoundHalvesToEvenAndBadCountsAreRefused) {
  EXPECT_EQ(Shape({2.5f, 1, 1})->DiscGeometry().Vertices.size(), 6u);
  EXPECT_EQ(Shape({3.5f, 1, 1})->DiscGeometry().Vertices.size(), 10u);
  EXPECT_FALSE(Shape({1, 1, 0, 4})->PlaneGeometry().Valid);
  EXPECT_FALSE(Shape({1, 1, 4, -2})->PlaneGeometry().Valid);
  EXPECT_FALSE(Shape({1, 1, 0.5f, 1})->PlaneGeometry().Valid);  // rounds to 0
  EXPECT_FALSE(Shape({1, 1, NAN, 1})->PlaneGeometry().Valid);
  EXPECT_FALSE(Shape({1, 1, 1e9f, 1e9f})->PlaneGeometry().Valid);  // no buffer holds that
  EXPECT_FALSE(Shape({0, 1, 1, 1, 1})->CylinderGeometry().Valid);
  EXPECT_FALSE(Shape({8, 1, 1, 1, -1})->CylinderGeometry().Valid);
  EXPECT_TRUE(Shape({8, 1, 1, 1, -0.4f})->CylinderGeometry().Valid);  // rounds to 0: one ring
  EXPECT_FALSE(Shape({-3, 1, 1})->DiscGeometry().Valid);
  EXPECT_FALSE(Shape({INFINITY, 1, 1})->DiscGeometry().Valid);
}

TEST(ModelWorld, OrbitOffsetAndNegativeZero) {
  TvokV3D o(nullptr);
  o.Position = {1, 2, 3};
  o.Orbit = {0, Pi / 2, 0};  // the orbit yaw turns the placed object about the Y axis
  D3DXMATRIX w = o.WorldMatrix();
  EXPECT_NEAR(w._41, 3.0f, 1e-5);
  EXPECT_NEAR(w._42, 2.0f, 1e-5);
  EXPECT_NEAR(w._43, -1.0f, 1e-5);
  o.Position = {1, 0, 0};
  o.Offset = {10, 0, 0};  // last, untouched by the orbit
  w = o.WorldMatrix();
  EXPECT_NEAR(w._41, 10.0f, 1e-5);
  EXPECT_NEAR(w._43, -1.0f, 1e-5);

  TvokV3D a(nullptr);
  a.Rotation = {0.3f, 0.2f, 0.1f};
  a.Position = {1, 2, 3};
  a.Orbit = {-0.0f, -0.0f, -0.0f};
  a.Offset = {-0.0f, 0.0f, -0.0f};
  EXPECT_TRUE(IsZero(a.Orbit));
  D3DXMATRIX r, t, rt;
  D3DXMatrixRotationYawPitchRoll(&r, 0.2f, 0.3f, 0.1f);
  D3DXMatrixTranslation(&t, 1, 2, 3);
  D3DXMatrixMultiply(&rt, &r, &t);
  w = a.WorldMatrix();
  EXPECT_EQ(std::memcmp(&w, &rt, sizeof(D3DMATRIX)), 0);

  // Sphere map: u = 0.5x + 0.5, v = -0.5y - 0.5.
  D3DXVECTOR3 n(0.2f, -0.6f, 0.7f), uv;
  D3DXVec3TransformCoord(&uv, &n, static_cast<const D3DXMATRIX*>(&SphereMapMatrix));
  EXPECT_NEAR(uv.x, 0.6f, 1e-6);
  EXPECT_NEAR(uv.y, -0.2f, 1e-6);
}
