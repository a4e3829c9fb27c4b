// Generated shapes and world matrices, checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "engine/vokModells.h"

namespace {

constexpr float Pi = 3.14159274f;

void ExpectVertex(const TModelVertex& v, float x, float y, float z, float nx, float ny, float nz, float u, float t,
                  const char* what) {
  SCOPED_TRACE(what);
  EXPECT_NEAR(v.x, x, 1e-5);
  EXPECT_NEAR(v.y, y, 1e-5);
  EXPECT_NEAR(v.z, z, 1e-5);
  EXPECT_NEAR(v.nx, nx, 1e-5);
  EXPECT_NEAR(v.ny, ny, 1e-5);
  EXPECT_NEAR(v.nz, nz, 1e-5);
  EXPECT_NEAR(v.u, u, 1e-6);
  EXPECT_NEAR(v.v, t, 1e-6);
}

struct Bounds {
  float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
};

Bounds BoundsOf(const TShapeGeometry& g) {
  Bounds b;
  for (const auto& v : g.Vertices) {
    b.minX = std::min(b.minX, v.x);
    b.maxX = std::max(b.maxX, v.x);
    b.minY = std::min(b.minY, v.y);
    b.maxY = std::max(b.maxY, v.y);
  }
  return b;
}

std::unique_ptr<TzanObject> Plane(float w, float h, float nx, float ny) {
  auto o = std::make_unique<TzanObject>(nullptr);
  o->Param1 = w;
  o->Param2 = h;
  o->Param3 = nx;
  o->Param4 = ny;
  return o;
}

std::unique_ptr<TzanObject> Cylinder(float n, float h, float rx, float rz, float rings) {
  auto o = std::make_unique<TzanObject>(nullptr);
  o->Param1 = n;
  o->Param2 = h;
  o->Param3 = rx;
  o->Param4 = rz;
  o->Param5 = rings;
  return o;
}

std::unique_ptr<TzanObject> Disc(float n, float rx, float ry) {
  auto o = std::make_unique<TzanObject>(nullptr);
  o->Param1 = n;
  o->Param2 = rx;
  o->Param3 = ry;
  return o;
}

}  // namespace

TEST(ModelPlane, EightByEightCentredAndCornered) {
  auto o_ = Plane(8, 8, 8, 8);
  TzanObject& o = *o_;
  TShapeGeometry g = o.PlaneGeometry();
  ASSERT_TRUE(g.Valid);
  EXPECT_EQ(g.Vertices.size(), 384u);
  EXPECT_EQ(g.PrimitiveCount, 128);
  Bounds b = BoundsOf(g);
  EXPECT_EQ(b.minX, -32);
  EXPECT_EQ(b.maxX, 32);
  EXPECT_EQ(b.minY, -32);
  EXPECT_EQ(b.maxY, 32);
  // First cell, bottom-left: its six template vertices in order.
  ExpectVertex(g.Vertices[0], -32, -24, 0, 0, 0, -1, 0, 0, "upper left");
  ExpectVertex(g.Vertices[1], -24, -24, 0, 0, 0, -1, 1, 0, "upper right");
  ExpectVertex(g.Vertices[2], -32, -32, 0, 0, 0, -1, 0, 1, "lower left");
  ExpectVertex(g.Vertices[3], -32, -32, 0, 0, 0, -1, 0, 1, "lower left again");
  ExpectVertex(g.Vertices[4], -24, -24, 0, 0, 0, -1, 1, 0, "upper right again");
  ExpectVertex(g.Vertices[5], -24, -32, 0, 0, 0, -1, 1, 1, "lower right");
  // Cells run left to right, then rows bottom to top.
  ExpectVertex(g.Vertices[6], -24, -24, 0, 0, 0, -1, 0, 0, "second cell");
  ExpectVertex(g.Vertices[48], -32, -16, 0, 0, 0, -1, 0, 0, "second row");
  ExpectVertex(g.Vertices[379], 32, 32, 0, 0, 0, -1, 1, 0, "top right corner");

  o.Anchor = 7;
  b = BoundsOf(o.PlaneGeometry());
  EXPECT_EQ(b.minX, 0);
  EXPECT_EQ(b.maxX, 64);
  EXPECT_EQ(b.minY, 0);
  EXPECT_EQ(b.maxY, 64);
}

TEST(ModelPlane, AnchorsPlaceTheNamedPointAtTheOrigin) {
  // A 3 x 2 grid of 2 x 1 cells: 6 wide, 2 high.
  const float expected[9][4] = {
      {-3, 3, -1, 1}, {0, 6, -1, 1}, {-3, 3, -2, 0}, {-6, 0, -1, 1}, {-3, 3, 0, 2},
      {0, 6, -2, 0},  {-6, 0, -2, 0}, {0, 6, 0, 2},  {-6, 0, 0, 2},
  };
  for (int a = 0; a <= 8; ++a) {
    auto o_ = Plane(2, 1, 3, 2);
  TzanObject& o = *o_;
    o.Anchor = static_cast<uint8_t>(a);
    Bounds b = BoundsOf(o.PlaneGeometry());
    SCOPED_TRACE(a);
    EXPECT_EQ(b.minX, expected[a][0]);
    EXPECT_EQ(b.maxX, expected[a][1]);
    EXPECT_EQ(b.minY, expected[a][2]);
    EXPECT_EQ(b.maxY, expected[a][3]);
  }
}

TEST(ModelPlane, AnchorsAboveEightActAsCentre) {
  for (uint8_t a : {9, 17, 255}) {
    auto p_ = Plane(2, 1, 3, 2), q_ = Plane(2, 1, 3, 2);
    TzanObject &p = *p_, &q = *q_;
    p.Anchor = a;
    const auto gp = p.PlaneGeometry(), gq = q.PlaneGeometry();
    ASSERT_EQ(gp.Vertices.size(), gq.Vertices.size());
    EXPECT_EQ(std::memcmp(gp.Vertices.data(), gq.Vertices.data(), gp.Vertices.size() * sizeof(TModelVertex)), 0);

    auto c_ = Cylinder(8, 1, 2, 2, 3), c0_ = Cylinder(8, 1, 2, 2, 3);
    TzanObject &c = *c_, &c0 = *c0_;
    c.Anchor = a;
    EXPECT_EQ(std::memcmp(c.CylinderGeometry().Vertices.data(), c0.CylinderGeometry().Vertices.data(),
                          c0.CylinderGeometry().Vertices.size() * sizeof(TModelVertex)),
              0);
    auto d_ = Disc(8, 2, 1), d0_ = Disc(8, 2, 1);
    TzanObject &d = *d_, &d0 = *d0_;
    d.Anchor = a;
    EXPECT_EQ(std::memcmp(d.DiscGeometry().Vertices.data(), d0.DiscGeometry().Vertices.data(),
                          d0.DiscGeometry().Vertices.size() * sizeof(TModelVertex)),
              0);
  }
}

TEST(ModelPlane, StretchedTextureSpansTheGridOnce) {
  auto o_ = Plane(8, 8, 8, 8);
  TzanObject& o = *o_;
  o.StretchTexture = true;
  TShapeGeometry g = o.PlaneGeometry();
  // Lower-left grid corner: first cell's lower-left vertex.
  EXPECT_EQ(g.Vertices[2].u, 0.0f);
  EXPECT_EQ(g.Vertices[2].v, 1.0f);
  // Upper-right grid corner: last cell's upper-right vertex.
  EXPECT_EQ(g.Vertices[379].u, 1.0f);
  EXPECT_EQ(g.Vertices[379].v, 0.0f);
  // A cell in the middle shows its own part of the texture.
  const TModelVertex& mid = g.Vertices[((3 - 1) * 8 + (5 - 1)) * 6];  // row 3, column 5, upper left
  EXPECT_FLOAT_EQ(mid.u, 4.0f / 8);
  EXPECT_FLOAT_EQ(mid.v, 1.0f - 3.0f / 8);
}

TEST(ModelPlane, WaveBendsRowsAndFlatPlaneIgnoresAmplitude) {
  auto flat_ = Plane(1, 1, 2, 2);
  TzanObject& flat = *flat_;
  flat.Param6 = 5;  // amplitude without an angle does nothing
  for (const auto& v : flat.PlaneGeometry().Vertices) {
    ASSERT_EQ(v.z, 0.0f);
    ASSERT_EQ(v.nx, 0.0f);
    ASSERT_EQ(v.ny, 0.0f);
    ASSERT_EQ(v.nz, -1.0f);
  }
  auto wave_ = Plane(1, 1, 1, 2);
  TzanObject& wave = *wave_;
  wave.Param5 = Pi / 2;
  wave.Param6 = 3;
  TShapeGeometry g = wave.PlaneGeometry();
  const float s = std::sin(Pi / 4), c = std::cos(Pi / 4);
  ExpectVertex(g.Vertices[0], -0.5f, 0, 3 * s, 0, c, -1 + s, 0, 0, "row 1 upper");
  ExpectVertex(g.Vertices[2], -0.5f, -1, 0, 0, 1, -1, 0, 1, "row 1 lower");
  EXPECT_NEAR(g.Vertices[6].z, 3.0f, 1e-5);  // row 2 upper: theta = pi/2
  EXPECT_NEAR(g.Vertices[6].nz, 0.0f, 1e-5);
  EXPECT_NEAR(g.Vertices[8].z, 3 * s, 1e-5);  // row 2 lower meets row 1 upper
}

TEST(ModelCylinder, CountsWithAndWithoutCaps) {
  auto o_ = Cylinder(60, 0.5f, 15, 15, 1);
  TzanObject& o = *o_;
  TShapeGeometry g = o.CylinderGeometry();
  EXPECT_EQ(g.Vertices.size(), 122u);
  EXPECT_EQ(g.PrimitiveCount, 120);
  o.Capped = true;
  g = o.CylinderGeometry();
  EXPECT_EQ(g.Vertices.size(), 366u);
  EXPECT_EQ(g.PrimitiveCount, 364);
  o.Capped = false;
  o.Param5 = 0;  // no ring count means one ring
  EXPECT_EQ(o.CylinderGeometry().Vertices.size(), 122u);
  o.Param5 = 3;
  EXPECT_EQ(o.CylinderGeometry().Vertices.size(), 366u);
  EXPECT_EQ(o.CylinderGeometry().PrimitiveCount, 364);
}

TEST(ModelCylinder, WallRunsFromBottomToTopRadii) {
  auto o_ = Cylinder(4, 2, 3, 1, 1);
  TzanObject& o = *o_;
  o.Anchor = 4;  // bottom centre at the origin
  TShapeGeometry g = o.CylinderGeometry();
  ASSERT_EQ(g.Vertices.size(), 10u);
  ExpectVertex(g.Vertices[0], 3, 0, 0, 1, 0, 0, 0, 1, "lower, angle 0");
  ExpectVertex(g.Vertices[1], 3, 2, 0, 1, 0, 0, 0, 0, "upper, angle 0");
  ExpectVertex(g.Vertices[2], 0, 0, 1, 0, 0, 1, 0.25f, 1, "lower, quarter turn");
  ExpectVertex(g.Vertices[8], 3, 0, 0, 1, 0, 0, 1, 1, "last repeats the first");

  o.Anchor = 0;
  EXPECT_NEAR(o.CylinderGeometry().Vertices[0].y, -1.0f, 1e-6);
  o.Anchor = 5;  // top-left: axis at +rx, top at 0
  ExpectVertex(o.CylinderGeometry().Vertices[0], 6, -2, 0, 1, 0, 0, 0, 1, "top-left anchor");

  // A cone: narrower top, normals tilted up; top Z radius follows top X radius.
  o.Anchor = 4;
  o.Param7 = 1;
  g = o.CylinderGeometry();
  ExpectVertex(g.Vertices[1], 1, 2, 0, 1, 0.5f, 0, 0, 0, "cone top");
  ExpectVertex(g.Vertices[3], 0, 2, 1, 0, 0.5f, 1, 0.25f, 0, "cone top, quarter turn");
  o.Param7 = 4;  // wider top: tilted down
  EXPECT_EQ(o.CylinderGeometry().Vertices[0].ny, -0.5f);
}

TEST(ModelCylinder, BendShiftsRingsSideways) {
  auto o_ = Cylinder(4, 1, 1, 1, 2);
  TzanObject& o = *o_;
  o.Anchor = 4;
  o.Param6 = Pi;  // bend(k) = sin(pi / 2 * k)
  TShapeGeometry g = o.CylinderGeometry();
  EXPECT_NEAR(g.Vertices[0].x, 1.0f, 1e-6);        // ring 0 lower: bend 0
  EXPECT_NEAR(g.Vertices[1].x, 2.0f, 1e-6);        // ring 0 upper: bend 1
  EXPECT_NEAR(g.Vertices[10].x, 2.0f, 1e-6);       // ring 1 lower: bend 1
  EXPECT_NEAR(g.Vertices[11].x, 1.0f, 1e-5);       // ring 1 upper: bend sin(pi) = 0
  EXPECT_NEAR(g.Vertices[11].y, 2.0f, 1e-6);
}

TEST(ModelCylinder, CapsFaceOutwards) {
  auto o_ = Cylinder(4, 2, 3, 3, 1);
  TzanObject& o = *o_;
  o.Anchor = 4;
  o.Capped = true;
  TShapeGeometry g = o.CylinderGeometry();
  ASSERT_EQ(g.Vertices.size(), 30u);
  // Bottom cap: centre, then rim.
  ExpectVertex(g.Vertices[0], 0, 0, 0, 0, -1, 0, 0.5f, 0.5f, "bottom centre");
  ExpectVertex(g.Vertices[1], 3, 0, 0, 0, -1, 0, 1, 0.5f, "bottom rim");
  // Wall after it.
  ExpectVertex(g.Vertices[10], 3, 0, 0, 1, 0, 0, 0, 1, "wall start");
  // Top cap: rim, then centre; its texture turns the other way.
  ExpectVertex(g.Vertices[20], 3, 2, 0, 0, 1, 0, 0.5f, 1.0f, "top rim");
  ExpectVertex(g.Vertices[21], 0, 2, 0, 0, 1, 0, 0.5f, 0.5f, "top centre");
}

TEST(ModelDisc, FullAndHalfTurns) {
  auto o_ = Disc(6, 2, 1);
  TzanObject& o = *o_;
  TShapeGeometry g = o.DiscGeometry();
  EXPECT_EQ(g.Vertices.size(), 14u);
  EXPECT_EQ(g.PrimitiveCount, 12);
  ExpectVertex(g.Vertices[0], 2, 0, 0, 0, 0, -1, 1, 0.5f, "rim at angle 0");
  ExpectVertex(g.Vertices[1], 0, 0, 0, 0, 0, -1, 0.5f, 0.5f, "centre");
  EXPECT_NEAR(g.Vertices[4].y, std::sin(2 * Pi * 2 / 6), 1e-6);

  o.HalfRound = true;
  o.Anchor = 2;  // middle of the top side: centre at (0, -ry)
  g = o.DiscGeometry();
  EXPECT_EQ(g.Vertices.size(), 14u);
  for (size_t i = 0; i < g.Vertices.size(); i += 2) EXPECT_LE(g.Vertices[i].y, -1.0f + 1e-6f) << i;
  EXPECT_NEAR(g.Vertices[0].x, -2.0f, 1e-5);   // starts at the left
  EXPECT_NEAR(g.Vertices[6].y, -2.0f, 1e-5);   // lowest point halfway
  EXPECT_NEAR(g.Vertices[12].x, 2.0f, 1e-5);  // ends at the right
}

TEST(ModelShapes, CountsRoundHalvesToEvenAndBadCountsAreRefused) {
  EXPECT_EQ(Disc(2.5f, 1, 1)->DiscGeometry().Vertices.size(), 6u);
  EXPECT_EQ(Disc(3.5f, 1, 1)->DiscGeometry().Vertices.size(), 10u);
  EXPECT_EQ(Plane(1, 1, 1.5f, 0.6f)->PlaneGeometry().Vertices.size(), 12u);

  EXPECT_FALSE(Plane(1, 1, 0, 4)->PlaneGeometry().Valid);
  EXPECT_FALSE(Plane(1, 1, 4, -2)->PlaneGeometry().Valid);
  EXPECT_FALSE(Plane(1, 1, 0.5f, 1)->PlaneGeometry().Valid);  // rounds to 0
  EXPECT_FALSE(Plane(1, 1, NAN, 1)->PlaneGeometry().Valid);
  EXPECT_FALSE(Plane(1, 1, 1e9f, 1e9f)->PlaneGeometry().Valid);  // would not fit any buffer
  EXPECT_FALSE(Cylinder(0, 1, 1, 1, 1)->CylinderGeometry().Valid);
  EXPECT_FALSE(Cylinder(8, 1, 1, 1, -1)->CylinderGeometry().Valid);
  EXPECT_TRUE(Cylinder(8, 1, 1, 1, -0.4f)->CylinderGeometry().Valid);  // rounds to 0: one ring
  EXPECT_FALSE(Disc(0, 1, 1)->DiscGeometry().Valid);
  EXPECT_FALSE(Disc(-3, 1, 1)->DiscGeometry().Valid);
  EXPECT_FALSE(Disc(INFINITY, 1, 1)->DiscGeometry().Valid);
}

TEST(ModelWorld, OrbitTurnsTheTranslatedObjectAboutTheOrigin) {
  TvokV3D o(nullptr);
  o.Position = {1, 2, 3};
  o.Orbit = {0, Pi / 2, 0};
  D3DXMATRIX w = o.WorldMatrix();
  EXPECT_NEAR(w._41, 3.0f, 1e-5);
  EXPECT_NEAR(w._42, 2.0f, 1e-5);
  EXPECT_NEAR(w._43, -1.0f, 1e-5);

  // The offset comes last, untouched by the orbit.
  o.Position = {1, 0, 0};
  o.Offset = {10, 0, 0};
  w = o.WorldMatrix();
  EXPECT_NEAR(w._41, 10.0f, 1e-5);
  EXPECT_NEAR(w._43, -1.0f, 1e-5);

  // Rotation acts first, about the object's own origin: x axis pitched onto ... z stays put.
  TvokV3D r(nullptr);
  r.Rotation = {0, 0, Pi / 2};  // roll: x axis onto y
  r.Position = {5, 0, 0};
  w = r.WorldMatrix();
  D3DXVECTOR3 p(1, 0, 0), out;
  D3DXVec3TransformCoord(&out, &p, &w);
  EXPECT_NEAR(out.x, 5.0f, 1e-5);
  EXPECT_NEAR(out.y, 1.0f, 1e-5);
  EXPECT_NEAR(out.z, 0.0f, 1e-5);
}

TEST(ModelWorld, NegativeZeroCountsAsZero) {
  EXPECT_TRUE(IsZero(D3DXVECTOR3(-0.0f, -0.0f, -0.0f)));
  EXPECT_FALSE(IsZero(D3DXVECTOR3(0, 0, 1e-30f)));
  TvokV3D a(nullptr), b(nullptr);
  a.Rotation = b.Rotation = {0.3f, 0.2f, 0.1f};
  a.Position = b.Position = {1, 2, 3};
  b.Orbit = {-0.0f, -0.0f, -0.0f};
  b.Offset = {-0.0f, 0.0f, -0.0f};
  D3DXMATRIX r, t, rt;
  D3DXMatrixRotationYawPitchRoll(&r, 0.2f, 0.3f, 0.1f);
  D3DXMatrixTranslation(&t, 1, 2, 3);
  D3DXMatrixMultiply(&rt, &r, &t);
  const D3DXMATRIX wa = a.WorldMatrix(), wb = b.WorldMatrix();
  EXPECT_EQ(std::memcmp(&wa, &rt, sizeof(D3DMATRIX)), 0);
  EXPECT_EQ(std::memcmp(&wb, &rt, sizeof(D3DMATRIX)), 0);
}

TEST(ModelWorld, SphereMapMatrixMapsToTextureSpace) {
  // u = 0.5x + 0.5, v = -0.5y - 0.5 for generated (x, y, z).
  D3DXVECTOR3 n(0.2f, -0.6f, 0.7f), out;
  D3DXVec3TransformCoord(&out, &n, static_cast<const D3DXMATRIX*>(&SphereMapMatrix));
  EXPECT_NEAR(out.x, 0.6f, 1e-6);
  EXPECT_NEAR(out.y, -0.2f, 1e-6);
  TvokV3D o(nullptr);
  EXPECT_EQ(o.Material.Diffuse.a, 1.0f);
  EXPECT_EQ(o.Material.Ambient.r, 0.05f);
  o.SetGrey(0.25f);
  EXPECT_EQ(o.Material.Diffuse.g, 0.25f);
  EXPECT_EQ(o.Material.Specular.a, 0.0f);
}
