// Building the show's shapes, and one frame of object-set submissions.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "engine/vokModells.h"
#include "tests/support/device_fixture.h"

namespace {

struct ShapeSpec {
  int kind;  // 0 plane, 2 cylinder, 5 disc
  float p[6];
  uint8_t anchor;
  bool stretch;
};

// Every shape the scenes build: pool wall and disc, ticket plane, fog plane, floor.
const ShapeSpec ShowShapes[] = {
    {2, {60, 0.5f, 15, 15, 1, 0}, 4, false},
    {5, {60, 15, 15, 0, 0, 0}, 0, false},
    {0, {6, 9, 1, 1, 0, 0}, 0, true},
    {0, {30, 30, 1, 1, 0, 0}, 0, false},
    {0, {8, 8, 8, 8, 0, 0}, 0, false},
};

void Configure(TzanObject& o, const ShapeSpec& s) {
  o.Param1 = s.p[0];
  o.Param2 = s.p[1];
  o.Param3 = s.p[2];
  o.Param4 = s.p[3];
  o.Param5 = s.p[4];
  o.Param6 = s.p[5];
  o.Anchor = s.anchor;
  o.StretchTexture = s.stretch;
}

void Build(TzanObject& o, const ShapeSpec& s) {
  if (s.kind == 0) o.BuildPlane();
  if (s.kind == 2) o.BuildCylinder();
  if (s.kind == 5) o.BuildDisc();
}

void BM_BuildShowShapes(benchmark::State& state) {
  auto d3d = vktest::MakeD3D(gx::BackendKind::Recording);
  std::vector<std::unique_ptr<TzanObject>> objects;
  for (const auto& s : ShowShapes) {
    objects.push_back(std::make_unique<TzanObject>(d3d.get()));
    Configure(*objects.back(), s);
  }
  for (auto _ : state) {
    for (size_t i = 0; i < objects.size(); ++i) Build(*objects[i], ShowShapes[i]);
    benchmark::DoNotOptimize(objects.back()->VertexBuffer.get());
  }
}
BENCHMARK(BM_BuildShowShapes)->Unit(benchmark::kMicrosecond);

// Scene two's busiest frame: about 18 live tickets drawn three times each (one
// plain, two nested), then 95 nested fog planes.
void BM_TicketFrameSubmissions(benchmark::State& state) {
  auto d3d = vktest::MakeD3D(gx::BackendKind::Recording);
  IDirect3DDevice9* dev = d3d->Device.get();
  TzanObjectSet tickets;
  auto* ticket = new TzanObject(d3d.get());
  Configure(*ticket, ShowShapes[2]);
  ticket->BuildPlane();
  ticket->CullMode = D3DCULL_CCW;
  ticket->Textured = true;
  tickets.Add(ticket);
  tickets.Rotation = {1.57f, 1.57f, 0};
  TzanObject fog(d3d.get());
  Configure(fog, ShowShapes[3]);
  fog.BuildPlane();
  fog.AlphaBlend = true;
  fog.Textured = true;
  for (auto _ : state) {
    for (int i = 0; i < 18; ++i) {
      tickets.Position = {0, -4.0f, 70.0f - 7 * i};
      tickets.DrawAll(false);
      tickets.Position.x = -9.5f;
      tickets.DrawAll(true);
      tickets.Position.x = 9.5f;
      tickets.DrawAll(true);
    }
    for (int n = 95; n >= 1; --n) {
      fog.Position.z = 95.0f - 3 * n;
      fog.Rotation.z = 0.01745f * n;
      fog.UpdateWorld();
      fog.DrawObject(true);
    }
    state.PauseTiming();
    gx::GxClearRecording(dev);
    state.ResumeTiming();
  }
  state.counters["draws/frame"] = 18 * 3 + 95;
  tickets.Clear();
}
BENCHMARK(BM_TicketFrameSubmissions)->Unit(benchmark::kMicrosecond);

void BM_ShapeGeometryOnly(benchmark::State& state) {
  std::vector<std::unique_ptr<TzanObject>> objects;
  for (const auto& s : ShowShapes) {
    objects.push_back(std::make_unique<TzanObject>(nullptr));
    Configure(*objects.back(), s);
  }
  for (auto _ : state) {
    for (size_t i = 0; i < objects.size(); ++i) {
      const ShapeSpec& s = ShowShapes[i];
      TShapeGeometry g = s.kind == 0   ? objects[i]->PlaneGeometry()
                         : s.kind == 2 ? objects[i]->CylinderGeometry()
                                       : objects[i]->DiscGeometry();
      benchmark::DoNotOptimize(g.Vertices.data());
    }
  }
}
BENCHMARK(BM_ShapeGeometryOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
