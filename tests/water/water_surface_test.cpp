// The water surface without a device: simulation, mesh, refraction, caustics.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <vector>

#include "engine/vokWater.h"

namespace {

class WaterSurface : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(w.Init(100.0f), S_OK); }
  std::vector<TWaterVertex> Surface(D3DXVECTOR3 eye = {1, 5, 1}) {
    std::vector<TWaterVertex> v(WaterVertexCount);
    w.BuildSurface(v.data(), eye);
    return v;
  }
  float& V(int x, int y) { return w.Cells[WaterCellIndex(x, y)].Velocity; }
  float& H(int x, int y) { return w.Cells[WaterCellIndex(x, y)].Height; }
  TWater w{nullptr};
};

}  // namespace

TEST(WaterTables, StripWrapAndRefraction) {
  std::vector<uint16_t> idx(WaterIndexCount + 4, 0xBEEF);
  FillWaterIndices(idx.data());
  EXPECT_EQ(idx[WaterIndexCount], 0xBEEF);  // exactly 8192 written
  const uint16_t first[] = {0, 64, 1, 65, 2, 66};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(idx[i], first[i]);
  std::set<int> used(idx.begin(), idx.begin() + WaterIndexCount);
  EXPECT_EQ(used.size(), size_t(WaterVertexCount));
  EXPECT_EQ(*used.rbegin(), 4095);

  EXPECT_EQ(WaterCellIndex(95, 95), 31 * 64 + 31);
  EXPECT_EQ(WaterCellIndex(-1, -1), 63 * 64 + 63);
  EXPECT_EQ(WaterCellIndex(-65, 130), 2 * 64 + 63);

  FillRefractTable();
  EXPECT_EQ(RefractTable[0].Diffuse, 0xFD000000u);
  EXPECT_EQ(RefractTable[255].Diffuse, 0u);
  for (int i : {0, 100, 255}) {
    const double cos0 = i / 256.0, sin0 = std::sin(std::acos(cos0)), sin1 = sin0 / 1.333;
    EXPECT_NEAR(RefractTable[i].Refract, sin0 / sin1 * std::cos(std::asin(sin1)) - cos0, 1e-5) << i;
    EXPECT_NEAR(RefractTable[i].Scale, -sin1 / sin0, 1e-5) << i;
  }
}

TEST_F(WaterSurface, FlatWaterStaysFlat) {
  for (int step = 0; step < 3; ++step) {
    w.Simulate();
    EXPECT_EQ(w.AverageHeight, 0.0f);
    for (const auto& p : Surface()) ASSERT_TRUE(p.y == 0 && p.nx == 0 && p.ny == 1 && p.nz == 0);
  }
  // Seen from straight above the floor shows through unmoved.
  auto v = Surface({0, 1000, 0});
  EXPECT_NEAR(v[0].u, 0.0f, 1e-6);
  EXPECT_NEAR(v[4095].v, 1.0f, 1e-4);
  // From the low viewer of the show, far vertices reflect more than near ones.
  v = Surface();
  EXPECT_GT(v[0].Diffuse >> 24, v[WaterCellIndex(32, 32)].Diffuse >> 24);
}

TEST_F(WaterSurface, DropWrapsAroundTheGrid) {
  w.Drop(95, 95);
  EXPECT_EQ(V(31, 31), -0.25f);
  EXPECT_EQ(V(30, 31), -0.125f);
  EXPECT_EQ(V(31, 32), -0.125f);
  EXPECT_EQ(V(32, 30), -0.0625f);
  EXPECT_EQ(V(33, 31), 0.0f);
  V(31, 31) = V(30, 31) = V(32, 31) = V(31, 30) = V(31, 32) = 0;
  V(30, 30) = V(32, 32) = V(32, 30) = V(30, 32) = 0;
  w.Drop(0, 0);
  EXPECT_EQ(V(0, 0), -0.25f);
  EXPECT_EQ(V(63, 0), -0.125f);
  EXPECT_EQ(V(0, 63), -0.125f);
  EXPECT_EQ(V(63, 63), -0.0625f);
  EXPECT_EQ(V(1, 63), -0.0625f);
  float total = 0;
  for (int i = 0; i < WaterVertexCount; ++i) total += w.Cells[i].Velocity;
  EXPECT_FLOAT_EQ(total, -1.0f);  // nothing else was touched
}

TEST_F(WaterSurface, DampingAndSpring) {
  // Far apart, so that their spring terms do not meet in one step.
  V(5, 5) = 0.01f;
  V(20, 5) = -0.01f;
  V(40, 5) = 0.0101f;
  H(10, 30) = 1.2f;
  w.Simulate();
  EXPECT_EQ(V(5, 5), 0.01f);  // small velocities are not damped
  EXPECT_EQ(V(20, 5), -0.01f);
  EXPECT_EQ(V(40, 5), 0.0101f * 0.99f);
  EXPECT_FLOAT_EQ(V(10, 30), -0.3f);               // pulled towards its flat neighbours
  EXPECT_FLOAT_EQ(V(11, 30), 1.2f / 6 * 0.25f);    // a side neighbour sees it with 1/6
  EXPECT_FLOAT_EQ(V(11, 31), 1.2f / 12 * 0.25f);   // a diagonal one with 1/12
}

TEST_F(WaterSurface, MeanHeightStaysNearZeroAndMeshSpansThePool) {
  std::vector<TWaterVertex> v(WaterVertexCount);
  for (int step = 0; step < 300; ++step) {
    if (step % 20 == 0) w.Drop(95 + step, 95 - step / 3);
    w.Simulate();
    w.BuildSurface(v.data(), {1, 5, 1});
    float sum = 0;
    for (int i = 0; i < WaterVertexCount; ++i) sum += w.Cells[i].Height;
    ASSERT_NEAR(sum / WaterVertexCount, 0.0f, 1e-5) << "step " << step;
  }
  float maxAbs = 0;
  for (auto& p : v) {
    maxAbs = std::max(maxAbs, std::fabs(p.y));
    ASSERT_NEAR(std::sqrt(p.nx * p.nx + p.ny * p.ny + p.nz * p.nz), 1.0f, 1e-5);
  }
  EXPECT_GT(maxAbs, 0.01f);  // and the waves are there
  EXPECT_EQ(v[0].x, -50.0f);
  EXPECT_EQ(v[0].z, -50.0f);
  EXPECT_EQ(v[0].y, w.Cells[0].Height);
  EXPECT_NEAR(v[4095].x, 50.0f, 1e-3);
  EXPECT_NEAR(v[4095].z, 50.0f, 1e-3);
}

TEST_F(WaterSurface, NormalsTakeNeighboursInWalkOrder) {
  H(10, 10) = 1.0f;
  auto v = Surface();
  auto expectNormal = [&](int x, int y, float nx, float nz) {
    const TWaterVertex& p = v[WaterCellIndex(x, y)];
    const float len = std::sqrt(nx * nx + 1 + nz * nz);
    EXPECT_NEAR(p.nx, nx / len, 1e-6) << x << "," << y;
    EXPECT_NEAR(p.nz, nz / len, 1e-6) << x << "," << y;
  };
  expectNormal(11, 10, 1, 0);  // leaning away from the bump
  expectNormal(9, 10, -1, 0);
  expectNormal(10, 11, 0, 1);
  expectNormal(10, 9, 0, -1);
  expectNormal(11, 11, 1, 1);
  expectNormal(9, 11, -1, 1);
  expectNormal(10, 10, 0, 0);

  // Heights move in place: cells walked before (5, 5) rose see it flat, those after see it.
  H(10, 10) = 0;
  V(5, 5) = 0.5f;
  w.AverageHeight = 0.0f;
  v = Surface();
  EXPECT_EQ(v[WaterCellIndex(5, 5)].y, 0.5f);
  EXPECT_EQ(v[WaterCellIndex(4, 5)].nx, 0.0f);
  EXPECT_EQ(v[WaterCellIndex(5, 4)].nz, 0.0f);
  EXPECT_GT(v[WaterCellIndex(6, 5)].nx, 0.0f);
  EXPECT_GT(v[WaterCellIndex(5, 6)].nz, 0.0f);
}

TEST_F(WaterSurface, CausticsShadeSmallCellsAndCopyTheEdges) {
  std::vector<TWaterVertex> s = Surface();
  std::vector<TCausticVertex> c(WaterVertexCount);
  w.BuildCaustics(s.data(), c.data(), {0, 1, 0});
  for (int k = 0; k < WaterVertexCount; ++k) {
    // Calm water: light falls straight down and every cell keeps an area too large to shine.
    ASSERT_NEAR(c[k].x, s[k].x, 1e-3);
    ASSERT_EQ(c[k].Diffuse, 0u);
  }
  for (int step = 0; step < 60; ++step) {
    if (step % 15 == 0) w.Drop(31 + step, 40);
    w.Simulate();
    w.BuildSurface(s.data(), {1, 5, 1});
  }
  w.BuildCaustics(s.data(), c.data(), {0, 1, 0});
  const uint32_t shades[8] = {64, 32, 21, 16, 12, 10, 9, 8};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(CausticShades[i], shades[i] * 0x010101u);
  for (int j = 0; j < 64; ++j) EXPECT_EQ(c[j * 64].Diffuse, c[j * 64 + 63].Diffuse) << "row " << j;
  for (int i = 0; i < 64; ++i) EXPECT_EQ(c[i].Diffuse, c[63 * 64 + i].Diffuse) << "column " << i;
  int lit = 0;
  for (const auto& q : c) lit += q.Diffuse != 0;
  EXPECT_GT(lit, 0);  // the waves focus light somewhere
}
