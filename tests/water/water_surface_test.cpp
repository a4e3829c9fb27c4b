// The water surface without a device: simulation, mesh, refraction, caustics.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <set>
#include <vector>

#include "tests/water/water_fixture.h"

namespace {

std::vector<TWaterVertex> Surface(TWater& w, D3DXVECTOR3 eye = {1, 5, 1}) {
  std::vector<TWaterVertex> v(WaterVertexCount);
  w.BuildSurface(v.data(), eye);
  return v;
}

float SumHeights(const TWater& w) {
  float s = 0;
  for (int i = 0; i < WaterVertexCount; ++i) s += w.Cells[i].Height;
  return s;
}

}  // namespace

TEST(WaterIndexStrip, WalksTheGridFromTheOutsideIn) {
  std::vector<uint16_t> idx(WaterIndexCount + 16, 0xBEEF);
  FillWaterIndices(idx.data());
  // Nothing past the 8192 indices is written.
  for (int i = WaterIndexCount; i < WaterIndexCount + 16; ++i) EXPECT_EQ(idx[i], 0xBEEF);
  const uint16_t first[] = {0, 64, 1, 65, 2, 66};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(idx[i], first[i]);
  std::set<int> used;
  for (int i = 0; i < WaterIndexCount; ++i) {
    ASSERT_LT(idx[i], WaterVertexCount) << "index " << i;
    used.insert(idx[i]);
  }
  EXPECT_EQ(used.size(), size_t(WaterVertexCount));
  // The first ring's top edge pairs row 0 with row 1, column by column.
  EXPECT_EQ(idx[126], 63);
  EXPECT_EQ(idx[127], 127);
}

TEST(WaterCells, IndexWrapsBothWays) {
  EXPECT_EQ(WaterCellIndex(95, 95), 31 * 64 + 31);
  EXPECT_EQ(WaterCellIndex(-1, -1), 63 * 64 + 63);
  EXPECT_EQ(WaterCellIndex(64, 0), 0);
  EXPECT_EQ(WaterCellIndex(-65, 130), 2 * 64 + 63);
}

TEST(WaterRefraction, TableHoldsSnellAndFresnel) {
  FillRefractTable();
  EXPECT_EQ(RefractTable[0].Diffuse, 0xFD000000u);
  EXPECT_EQ(RefractTable[255].Diffuse, 0u);
  EXPECT_EQ(RefractTable[128].Diffuse, uint32_t((127 * 127 * 127) / 65536) << 24);
  for (int i : {0, 1, 100, 200, 255}) {
    const double cos0 = i / 256.0, sin0 = std::sin(std::acos(cos0)), sin1 = sin0 / 1.333;
    const double cos1 = std::cos(std::asin(sin1));
    EXPECT_NEAR(RefractTable[i].Refract, sin0 / sin1 * cos1 - cos0, 1e-5) << i;
    EXPECT_NEAR(RefractTable[i].Scale, -sin1 / sin0, 1e-5) << i;
    EXPECT_EQ(RefractTable[i].Diffuse & 0x00FFFFFFu, 0u);
  }
}

TEST_F(WaterFixture, FlatSurfaceStaysFlat) {
  TWater& w = MakeWater();
  for (int step = 0; step < 3; ++step) {
    w.Simulate();
    EXPECT_EQ(w.AverageHeight, 0.0f);
    auto v = Surface(w);
    for (const auto& p : v) {
      ASSERT_EQ(p.y, 0.0f);
      ASSERT_EQ(p.nx, 0.0f);
      ASSERT_EQ(p.ny, 1.0f);
      ASSERT_EQ(p.nz, 0.0f);
    }
  }
  for (int i = 0; i < WaterVertexCount; ++i) ASSERT_EQ(w.Cells[i].Velocity, 0.0f);
}

TEST_F(WaterFixture, DropHitsTheWrappedCellAndItsNeighbours) {
  TWater& w = MakeWater();
  EXPECT_EQ(w.Drop(95, 95), S_OK);
  auto V = [&](int x, int y) { return w.Cells[y * 64 + x].Velocity; };
  EXPECT_EQ(V(31, 31), -0.25f);
  EXPECT_EQ(V(30, 31), -0.125f);
  EXPECT_EQ(V(32, 31), -0.125f);
  EXPECT_EQ(V(31, 30), -0.125f);
  EXPECT_EQ(V(31, 32), -0.125f);
  EXPECT_EQ(V(30, 30), -0.0625f);
  EXPECT_EQ(V(32, 32), -0.0625f);
  EXPECT_EQ(V(32, 30), -0.0625f);
  EXPECT_EQ(V(30, 32), -0.0625f);
  float total = 0;
  for (int i = 0; i < WaterVertexCount; ++i) total += w.Cells[i].Velocity;
  EXPECT_FLOAT_EQ(total, -1.0f);

  TWater& z = MakeWater();
  z.Drop(0, 0);
  auto Z = [&](int x, int y) { return z.Cells[y * 64 + x].Velocity; };
  EXPECT_EQ(Z(0, 0), -0.25f);
  EXPECT_EQ(Z(63, 0), -0.125f);
  EXPECT_EQ(Z(0, 63), -0.125f);
  EXPECT_EQ(Z(1, 0), -0.125f);
  EXPECT_EQ(Z(63, 63), -0.0625f);
  EXPECT_EQ(Z(1, 63), -0.0625f);
  EXPECT_EQ(Z(63, 1), -0.0625f);
  // Drops add up.
  z.Drop(64, 64);
  EXPECT_EQ(Z(0, 0), -0.5f);
}

TEST_F(WaterFixture, SmallVelocitiesAreNotDamped) {
  TWater& w = MakeWater();
  // Far apart, so that their spring terms do not meet in one step.
  w.Cells[WaterCellIndex(5, 5)].Velocity = 0.01f;
  w.Cells[WaterCellIndex(20, 5)].Velocity = -0.01f;
  w.Cells[WaterCellIndex(40, 5)].Velocity = 0.0101f;
  w.Cells[WaterCellIndex(5, 40)].Velocity = -0.0101f;
  w.Simulate();
  // Heights are all zero, so the spring adds nothing and only damping shows.
  EXPECT_EQ(w.Cells[WaterCellIndex(5, 5)].Velocity, 0.01f);
  EXPECT_EQ(w.Cells[WaterCellIndex(20, 5)].Velocity, -0.01f);
  EXPECT_EQ(w.Cells[WaterCellIndex(40, 5)].Velocity, 0.0101f * 0.99f);
  EXPECT_EQ(w.Cells[WaterCellIndex(5, 40)].Velocity, -0.0101f * 0.99f);
}

TEST_F(WaterFixture, SpringPullsTowardsTheNeighbours) {
  TWater& w = MakeWater();
  w.Cells[WaterCellIndex(10, 10)].Height = 1.2f;
  w.Simulate();
  // The raised cell itself: target 0, pulled down by a quarter of its height.
  EXPECT_FLOAT_EQ(w.Cells[WaterCellIndex(10, 10)].Velocity, -0.3f);
  // A side neighbour sees it with weight 1/6, a diagonal one with 1/12.
  EXPECT_FLOAT_EQ(w.Cells[WaterCellIndex(11, 10)].Velocity, 1.2f / 6 * 0.25f);
  EXPECT_FLOAT_EQ(w.Cells[WaterCellIndex(11, 11)].Velocity, 1.2f / 12 * 0.25f);
  EXPECT_EQ(w.Cells[WaterCellIndex(12, 10)].Velocity, 0.0f);
  // Mean of H + V over the grid: (1.2 - 0.3 + 4 * 0.05 + 4 * 0.025) / 4096.
  EXPECT_NEAR(w.AverageHeight, 1.2f / 4096, 1e-7);
}

TEST_F(WaterFixture, MeanHeightStaysNearZero) {
  TWater& w = MakeWater();
  std::vector<TWaterVertex> v(WaterVertexCount);
  for (int step = 0; step < 300; ++step) {
    if (step % 20 == 0) w.Drop(95 + step, 95 - step / 3);
    w.Simulate();
    w.BuildSurface(v.data(), {1, 5, 1});
    ASSERT_NEAR(SumHeights(w) / WaterVertexCount, 0.0f, 1e-5) << "step " << step;
  }
  // And the waves are really there.
  float maxAbs = 0;
  for (auto& p : v) maxAbs = std::max(maxAbs, std::fabs(p.y));
  EXPECT_GT(maxAbs, 0.01f);
}

TEST_F(WaterFixture, MeshSpansThePoolCornerToCorner) {
  TWater& w = MakeWater();
  w.Drop(0, 0);
  w.Drop(63, 63);
  w.Simulate();
  auto v = Surface(w);
  EXPECT_EQ(v[0].x, -50.0f);
  EXPECT_EQ(v[0].z, -50.0f);
  EXPECT_EQ(v[0].y, w.Cells[0].Height);
  EXPECT_NEAR(v[4095].x, 50.0f, 1e-3);
  EXPECT_NEAR(v[4095].z, 50.0f, 1e-3);
  EXPECT_EQ(v[4095].y, w.Cells[4095].Height);
  EXPECT_NEAR(v[64].z - v[0].z, 100.0f / 63, 1e-5);
  EXPECT_EQ(v[64].x, -50.0f);
  for (const auto& p : v) ASSERT_NEAR(std::sqrt(p.nx * p.nx + p.ny * p.ny + p.nz * p.nz), 1.0f, 1e-5);
}

TEST_F(WaterFixture, FlatWaterSeenFromAboveShowsTheFloorUnmoved) {
  TWater& w = MakeWater();
  // Straight above the centre vertex the ray enters vertically: no displacement.
  auto v = Surface(w, {0, 1000, 0});
  EXPECT_NEAR(v[0].u, 0.0f, 1e-6);
  EXPECT_NEAR(v[0].v, 0.0f, 1e-6);
  EXPECT_NEAR(v[4095].u, 1.0f, 1e-4);
  EXPECT_NEAR(v[4095].v, 1.0f, 1e-4);
  // Looking straight down nearly all light is transmitted: small reflection alpha.
  EXPECT_LT(v[32 * 64 + 32].Diffuse >> 24, 2u);
  // From the low viewer of the show, far vertices reflect more than near ones.
  auto low = Surface(w, {1, 5, 1});
  const uint32_t nearAlpha = low[WaterCellIndex(32, 32)].Diffuse >> 24;
  const uint32_t farAlpha = low[0].Diffuse >> 24;
  EXPECT_GT(farAlpha, nearAlpha);
}

TEST_F(WaterFixture, ObliqueViewInsideTheBowlIsRefracted) {
  TWater& w = MakeWater();
  // A vertex inside the bowl, viewed from the side: the refracted ray bends
  // towards the vertical, so the floor point lies beyond the vertex, away from the eye.
  const float pz = Surface(w)[WaterCellIndex(32, 32)].z;
  auto v = Surface(w, {-100, 20, pz});
  const TWaterVertex& p = v[WaterCellIndex(32, 32)];
  ASSERT_LT(p.x * p.x + 400 + p.z * p.z, 2500.0f);
  const float floorX = (p.u - 0.5f) * 100.0f;
  EXPECT_GT(floorX, p.x);
  EXPECT_NEAR((p.v - 0.5f) * 100.0f, p.z, 1e-4);
}

TEST_F(WaterFixture, CausticsCopyTheLastRowAndColumn) {
  TWater& w = MakeWater();
  std::vector<TWaterVertex> s(WaterVertexCount);
  std::vector<TCausticVertex> c(WaterVertexCount);
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
  for (const auto& q : c) {
    ASSERT_EQ(q.y, 0.0f);
    ASSERT_EQ(q.Diffuse >> 24, 0u);
    if (q.Diffuse) ++lit;
  }
  EXPECT_GT(lit, 0);  // the waves focus light somewhere
}

TEST_F(WaterFixture, CalmWaterCastsNoCaustics) {
  TWater& w = MakeWater();
  auto s = Surface(w);
  std::vector<TCausticVertex> c(WaterVertexCount);
  w.BuildCaustics(s.data(), c.data(), {0, 1, 0});
  for (int k = 0; k < WaterVertexCount; ++k) {
    // Light falls straight down: the floor point lies under its vertex, and every
    // cell keeps its full area, too large to shine.
    ASSERT_NEAR(c[k].x, s[k].x, 1e-3);
    ASSERT_NEAR(c[k].z, s[k].z, 1e-3);
    ASSERT_EQ(c[k].Diffuse, 0u);
  }
}

TEST_F(WaterFixture, InitKeepsCellsAndTakesTheNewSize) {
  TWater& w = MakeWater();
  w.Drop(3, 4);
  EXPECT_EQ(w.Init(10.0f), S_OK);
  EXPECT_EQ(w.Size, 10.0f);
  EXPECT_EQ(w.InvSize, 0.1f);
  EXPECT_EQ(w.Cells[WaterCellIndex(3, 4)].Velocity, -0.25f);
  EXPECT_EQ(w.VertexCount, 4096);
  EXPECT_EQ(w.IndexCount, 8192);
}

TEST_F(WaterFixture, NormalsLeanAwayFromABump) {
  TWater& w = MakeWater();
  w.Cells[WaterCellIndex(10, 10)].Height = 1.0f;
  auto v = Surface(w);
  auto expectNormal = [&](int x, int y, float nx, float nz) {
    const TWaterVertex& p = v[WaterCellIndex(x, y)];
    const float len = std::sqrt(nx * nx + 1 + nz * nz);
    EXPECT_NEAR(p.nx, nx / len, 1e-6) << x << "," << y;
    EXPECT_NEAR(p.ny, 1 / len, 1e-6) << x << "," << y;
    EXPECT_NEAR(p.nz, nz / len, 1e-6) << x << "," << y;
  };
  expectNormal(11, 10, 1, 0);    // right of the bump
  expectNormal(9, 10, -1, 0);    // left of it
  expectNormal(10, 11, 0, 1);    // below it (next row)
  expectNormal(10, 9, 0, -1);    // above it
  expectNormal(11, 11, 1, 1);    // diagonals
  expectNormal(9, 11, -1, 1);
  expectNormal(9, 9, -1, -1);
  expectNormal(11, 9, 1, -1);
  expectNormal(10, 10, 0, 0);
  expectNormal(12, 10, 0, 0);
}

TEST_F(WaterFixture, HeightsAreUpdatedInPlaceAlongTheWalk) {
  TWater& w = MakeWater();
  w.Cells[WaterCellIndex(5, 5)].Velocity = 0.5f;
  w.AverageHeight = 0.0f;
  auto v = Surface(w);
  EXPECT_EQ(v[WaterCellIndex(5, 5)].y, 0.5f);
  // Visited before the cell rose: sees it flat.
  EXPECT_EQ(v[WaterCellIndex(4, 5)].nx, 0.0f);
  EXPECT_EQ(v[WaterCellIndex(5, 4)].nz, 0.0f);
  // Visited after: sees the new height.
  EXPECT_GT(v[WaterCellIndex(6, 5)].nx, 0.0f);
  EXPECT_GT(v[WaterCellIndex(5, 6)].nz, 0.0f);
  // The mean is taken off every height on the way.
  w.AverageHeight = 0.25f;
  w.Cells[WaterCellIndex(5, 5)].Velocity = 0.0f;
  v = Surface(w);
  EXPECT_EQ(v[WaterCellIndex(5, 5)].y, 0.25f);
  EXPECT_EQ(v[WaterCellIndex(0, 0)].y, -0.25f);
}
