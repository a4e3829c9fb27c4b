// The water surface's buffers and draws on the recording backend.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/vokWater.h"
#include "tests/support/device_fixture.h"

namespace {

class WaterDevice : public vktest::RecordingSceneTest {
 protected:
  const std::vector<gx::DrawRecord>& Draws() { return gx::GxRecordedDraws(dev); }

};

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
  EXPECT_EQ(w.CreateBuffers(), S_OK);
  EXPECT_TRUE(Draws().empty());

  gx::InjectedFaults().failLock = 1;
  EXPECT_TRUE(FAILED(w.Update({1, 5, 1}, {0, 1, 0}, true)));
  // A failed update leaves nothing locked: the next one goes through.
  EXPECT_EQ(w.Update({1, 5, 1}, {0, 1, 0}, true), S_OK);
}

}  // namespace
