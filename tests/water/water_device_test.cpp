// The water surface's buffers and draws on the recording backend.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/vokWater.h"
#include "tests/support/device_fixture.h"

namespace {

class WaterDevice : public vktest::RecordingSceneTest {
 protected:
  const std::vector<gx::DrawRecord>& Draws() { return gx::GxRecordedDraws(dev); }

};

// The two heights a texel of the height texture holds, read back as the effect reads them:
// cell (x, y) in red (high byte) and green, cell (x + 1, y) in blue (high byte) and alpha,
// each 16 bits over -WaterHeightLimit .. +WaterHeightLimit.
float TexelHeight(DWORD texel, bool right) {
  const DWORD red = (texel >> 16) & 0xFF, green = (texel >> 8) & 0xFF, blue = texel & 0xFF, alpha = texel >> 24;
  const double q = right ? blue * 256.0 + alpha : red * 256.0 + green;
  return float(q * (2.0 * WaterHeightLimit / 65535.0) - WaterHeightLimit);
}

// Every texel of the height texture, row by row.
std::vector<DWORD> HeightTexels(TWater& w) {
  std::vector<DWORD> texels;
  D3DSURFACE_DESC desc{};
  EXPECT_EQ(w.HeightTexture->GetLevelDesc(0, &desc), S_OK);
  EXPECT_EQ(desc.Width, 64u);
  EXPECT_EQ(desc.Height, 64u);
  EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
  D3DLOCKED_RECT locked{};
  if (w.HeightTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != S_OK) return texels;
  for (int y = 0; y < 64; ++y) {
    const DWORD* row = reinterpret_cast<const DWORD*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch);
    texels.insert(texels.end(), row, row + 64);
  }
  w.HeightTexture->UnlockRect(0);
  return texels;
}

TEST_F(WaterDevice, UpdateFillsTheMeshesTheDrawsRead) {
  TWater w(d3d.get()), twin(nullptr);
  ASSERT_EQ(w.Init(100), S_OK);
  ASSERT_EQ(twin.Init(100), S_OK);
  ASSERT_EQ(w.CreateBuffers(), S_OK);
  ASSERT_TRUE(w.IndexBuffer && w.SurfaceBuffer && w.CausticsBuffer);
  const D3DXVECTOR3 eye(1, 5, 1), light(0, 1, 0);
  std::vector<TWaterVertex> surface(WaterVertexCount);
  std::vector<TCausticVertex> caustics(WaterVertexCount);
  for (int step = 0; step < 40; ++step) {
    if (step % 10 == 0) {
      w.Drop(95, 95);
      twin.Drop(95, 95);
    }
    ASSERT_EQ(w.Update(eye, light, true), S_OK);
    twin.Simulate();
    twin.BuildSurface(surface.data(), eye);
    twin.BuildCaustics(surface.data(), caustics.data(), light);
  }
  EXPECT_EQ(w.DrawSurface(), S_OK);
  EXPECT_EQ(w.DrawCaustics(), S_OK);
  ASSERT_EQ(Draws().size(), 2u);

  std::vector<uint16_t> strip(WaterIndexCount);
  FillWaterIndices(strip.data());
  for (const auto& d : Draws()) {
    EXPECT_EQ(d.kind, gx::DrawRecord::Kind::IndexedPrimitive);
    EXPECT_EQ(d.type, D3DPT_TRIANGLESTRIP);
    EXPECT_EQ(d.primitiveCount, 8190u);
    ASSERT_EQ(d.indexes.size(), strip.size());
    EXPECT_EQ(d.indexes, strip);
  }
  const auto& s = Draws()[0];
  EXPECT_EQ(s.state.fvf, 0x152u);
  EXPECT_EQ(s.stride, 36u);
  ASSERT_GE(s.vertices.size(), sizeof(TWaterVertex) * WaterVertexCount);
  EXPECT_EQ(std::memcmp(s.vertices.data(), surface.data(), sizeof(TWaterVertex) * WaterVertexCount), 0);
  const auto& c = Draws()[1];
  EXPECT_EQ(c.state.fvf, 0x42u);
  EXPECT_EQ(c.stride, 16u);
  ASSERT_GE(c.vertices.size(), sizeof(TCausticVertex) * WaterVertexCount);
  EXPECT_EQ(std::memcmp(c.vertices.data(), caustics.data(), sizeof(TCausticVertex) * WaterVertexCount), 0);
}

TEST_F(WaterDevice, HeightTextureHoldsTheCellsAfterEveryUpdate) {
  TWater w(d3d.get());
  ASSERT_EQ(w.Init(100), S_OK);
  ASSERT_EQ(w.CreateBuffers(), S_OK);
  ASSERT_TRUE(w.HeightTexture);
  // Calm water from the start: every texel is height 0, not the zeroed memory of a new texture.
  const float step = 2 * WaterHeightLimit / 65535.0f;
  for (DWORD t : HeightTexels(w)) {
    ASSERT_NEAR(TexelHeight(t, false), 0.0f, step);
    ASSERT_NEAR(TexelHeight(t, true), 0.0f, step);
  }

  for (int round = 0; round < 30; ++round) {
    if (round % 10 == 0) w.Drop(95 + round, 95 - 2 * round);
    ASSERT_EQ(w.Update({1, 5, 1}, {0, 1, 0}, false), S_OK);
    if (round % 6 != 5) continue;
    const std::vector<DWORD> texels = HeightTexels(w);
    ASSERT_EQ(texels.size(), size_t(WaterVertexCount));
    float largest = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const DWORD t = texels[y * 64 + x];
        ASSERT_NEAR(TexelHeight(t, false), w.Cells[WaterCellIndex(x, y)].Height, step) << "cell " << x << ", " << y;
        ASSERT_NEAR(TexelHeight(t, true), w.Cells[WaterCellIndex(x + 1, y)].Height, step) << "right of " << x << ", " << y;
        largest = std::max(largest, std::fabs(w.Cells[WaterCellIndex(x, y)].Height));
      }
    EXPECT_GT(largest, 0.01f);  // there were waves to compare
  }

  // Heights beyond the range are held at its ends, never wrapped round to the other one.
  TWater far(nullptr);
  ASSERT_EQ(far.Init(100), S_OK);
  far.Cells[0].Height = 1e6f;
  far.Cells[1].Height = -1e6f;
  far.Cells[2].Height = std::numeric_limits<float>::quiet_NaN();
  std::vector<DWORD> texels(64 * 70, 0xDEADBEEF);
  far.FillHeights(texels.data(), 70);
  EXPECT_EQ(TexelHeight(texels[0], false), WaterHeightLimit);
  EXPECT_EQ(TexelHeight(texels[0], true), -WaterHeightLimit);
  EXPECT_EQ(TexelHeight(texels[1], false), -WaterHeightLimit);
  EXPECT_EQ(texels[64], 0xDEADBEEF);  // the pitch is kept
  EXPECT_NEAR(TexelHeight(texels[70], false), 0.0f, step);
  EXPECT_NEAR(TexelHeight(texels[70 + 63], true), 0.0f, step);  // the right edge wraps to column 0
  far.Cells[64].Height = 3.0f;
  far.FillHeights(texels.data(), 70);
  EXPECT_NEAR(TexelHeight(texels[70 + 63], true), 3.0f, step);
}

TEST_F(WaterDevice, FailuresAreReportedAndNothingHalfMadeIsDrawn) {
  TWater w(d3d.get());
  EXPECT_EQ(w.Drop(1, 1), S_OK);  // before Init: nothing to push, no crash
  ASSERT_EQ(w.Init(100), S_OK);
  EXPECT_TRUE(FAILED(w.DrawSurface()));
  EXPECT_TRUE(FAILED(w.Update({1, 5, 1}, {0, 1, 0}, false)));

  gx::InjectedFaults().failCreateResource = 1;
  EXPECT_TRUE(FAILED(w.CreateBuffers()));
  EXPECT_FALSE(w.IndexBuffer);
  gx::InjectedFaults().failLock = 1;  // the strip cannot be written
  EXPECT_TRUE(FAILED(w.CreateBuffers()));
  EXPECT_FALSE(w.IndexBuffer);
  gx::InjectedFaults().failCreateResource = 1;
  EXPECT_TRUE(FAILED(w.CreateHeightTexture()));
  EXPECT_FALSE(w.HeightTexture);
  EXPECT_EQ(w.CreateBuffers(), S_OK);
  EXPECT_TRUE(w.HeightTexture);
  EXPECT_TRUE(Draws().empty());

  gx::InjectedFaults().failLock = 1;
  EXPECT_TRUE(FAILED(w.Update({1, 5, 1}, {0, 1, 0}, true)));
  // A failed update leaves nothing locked: the next one goes through.
  EXPECT_EQ(w.Update({1, 5, 1}, {0, 1, 0}, true), S_OK);
}

}  // namespace
