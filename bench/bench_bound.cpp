// Each scene's frame against its fill bound, at 1280 x 720 through the graphics layer.
//
// Where nothing but the rasteriser's shading counts (llvmpipe, weak GPUs), no frame can take less
// than the pixels it must shade: the bound of a frame is the number of screenfuls of pixels drawn
// by the draws that change their target, times the time of one full-screen blended textured quad
// measured on this machine, in this run. The screenfuls are counted once, before timing, with an
// occlusion query around every draw of the frame; a draw counts when reading its target back
// before and after it shows some pixel changed. Clears are not counted (filling memory is cheaper
// than any draw). shaded_screenfuls counts every draw's pixels: what the frame shades in all.
//
// The frames are the show's own (seed 7), two in each of scenes two to five, replayed through the
// layer as the show drew them. Every iteration times the frame and then one quad, one after the
// other, so both meet the same load; frame_per_bound is the ratio of their sums. Run with
// --benchmark_repetitions=9 --benchmark_report_aggregates_only=true and read the medians.

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/support/frame_replay.h"
#include "platform/gfx/backend.h"
#include "show/SceneTable.h"

namespace {

using namespace replay;

constexpr UINT kWidth = 1280, kHeight = 720;
// Show times (seed 7, the recording backend's fixed step): a quarter and three quarters into every
// scene after the first, from the scene table.
std::vector<std::uint32_t> SceneMoments() {
  std::vector<std::uint32_t> moments;
  const auto rows = Scenes();
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::uint32_t start = SceneStartTime(int(i) + 1), length = SceneLength(*rows[i]);
    moments.push_back(start + length / 4);
    moments.push_back(start + length * 3 / 4);
  }
  return moments;
}
const std::vector<std::uint32_t> kMoments = SceneMoments();

std::vector<CapturedFrame> g_frames;

void Capture() {
  if (g_frames.empty()) g_frames = CaptureFrames(kWidth, kHeight, kMoments);
}

struct Fill {
  double screenfuls = 0;      // samples of the draws that change their target / screen size
  double shaded = 0;          // samples of all draws / screen size
  int changing = 0;           // draws that change their target
  int covering = 0;           // draws that pass samples but change nothing
  int empty = 0;              // draws that pass no sample at all
};

std::vector<std::uint8_t> ReadTarget(LayerReplay& layer, const gx::DrawRecord& r) {
  IDirect3DSurface9* key = r.state.renderTarget ? r.state.renderTarget.get() : layer.f->backBuffer;
  std::vector<std::uint8_t> rgba;
  UINT w = 0, h = 0;
  gx::GxReadSurface(layer.surfaces.at(key).get(), rgba, w, h);
  return rgba;
}

// Counts, draw by draw, what the frame shades and what of it changes the picture. The frame is
// drawn twice first: the second samples what the first left in the post target, as the show does.
Fill CountFill(const CapturedFrame& frame) {
  LayerReplay layer;
  layer.Init(frame);
  layer.Frame();
  layer.Frame();
  // The back buffer still holds the same picture from the frame before, which would hide what the
  // post pass draws: start from a colour the frame does not leave.
  layer.d->BeginScene();
  layer.d->SetRenderTarget(0, layer.surfaces.at(frame.backBuffer));
  layer.d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456, 1.0f, 0);
  layer.d->EndScene();
  layer.last = nullptr;
  GLuint query = 0;
  Fill fill;
  std::vector<std::uint8_t> before;
  double samples = 0;
  layer.FrameWith([&](size_t i, int step) {
    const Op& op = frame.ops[i];
    if (op.clear) return;
    const gx::DrawRecord& r = frame.draws[op.draw];
    if (step == 0) {
      before = ReadTarget(layer, r);
      if (!query) glGenQueries(1, &query);
      glBeginQuery(GL_SAMPLES_PASSED, query);
      return;
    }
    glEndQuery(GL_SAMPLES_PASSED);
    GLuint passed = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &passed);
    const bool changed = ReadTarget(layer, r) != before;
    fill.shaded += passed;
    if (changed) {
      ++fill.changing;
      samples += passed;
    } else if (passed) {
      ++fill.covering;
    } else {
      ++fill.empty;
    }
  });
  if (query) glDeleteQueries(1, &query);
  fill.screenfuls = samples / (double(frame.width) * frame.height);
  fill.shaded /= double(frame.width) * frame.height;
  return fill;
}

// One full-screen textured quad blended over the back buffer, through the layer: the unit of the
// bound.
struct BlendedQuad {
  std::shared_ptr<IDirect3DDevice9> d;
  std::shared_ptr<IDirect3DTexture9> texture;

  BlendedQuad() {
    d = MakeGlDevice(kWidth, kHeight);
    if (FAILED(d->CreateTexture(kWidth, kHeight, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture, nullptr)))
      Fail("quad texture");
    D3DLOCKED_RECT lr{};
    texture->LockRect(0, &lr, nullptr, 0);
    std::uint32_t seed = 1;
    for (UINT y = 0; y < kHeight; ++y)
      for (UINT x = 0; x < kWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;
        std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch + x * 4, &seed, 4);
      }
    texture->UnlockRect(0);
    d->SetTexture(0, texture);
    d->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    Frame();
  }

  void Frame() {
    struct Vertex {
      float x, y, z, rhw, u, v;
    };
    const float w = float(kWidth), h = float(kHeight);
    const Vertex quad[4] = {{0, 0, 0, 1, 0, 0}, {w, 0, 0, 1, 1, 0}, {0, h, 0, 1, 0, 1}, {w, h, 0, 1, 1, 1}};
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
    d->EndScene();
    d->Present(nullptr, nullptr, nullptr, nullptr);
  }
};

// The frame's post pass alone (the last draw through a pixel shader), or an empty frame when it
// has none: the blur reads 13 times per pixel, so its own time says how much of a frame is the
// post effect the show asks for rather than the draws before it.
CapturedFrame PostPassOf(const CapturedFrame& frame) {
  CapturedFrame post = frame;
  post.ops.clear();
  for (const Op& op : frame.ops)
    if (!op.clear && frame.draws[op.draw].state.pixelShader) post.ops = {op};
  return post;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_FrameAgainstBound(benchmark::State& state) {
  Capture();
  const CapturedFrame& frame = g_frames[size_t(state.range(0))];
  const Fill fill = CountFill(frame);
  LayerReplay layer;
  layer.Init(frame);
  layer.Frame();
  layer.Frame();
  const CapturedFrame postFrame = PostPassOf(frame);
  LayerReplay post;
  post.Init(postFrame);
  post.Frame();
  BlendedQuad quad;
  double frameTime = 0, quadTime = 0, postTime = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    layer.Frame();
    const double f = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    quad.Frame();
    const double q = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    post.Frame();
    const double p = Seconds(t0);
    state.SetIterationTime(f);
    frameTime += f, quadTime += q, postTime += p;
  }
  const double n = double(state.iterations());
  state.SetLabel("scene " + std::to_string(frame.scene) + " at " + std::to_string(frame.time) + " ms");
  state.counters["quad_ms"] = quadTime / n * 1e3;
  state.counters["screenfuls"] = fill.screenfuls;
  state.counters["shaded_screenfuls"] = fill.shaded;
  state.counters["bound_ms"] = fill.screenfuls * quadTime / n * 1e3;
  state.counters["frame_per_bound"] = frameTime / (fill.screenfuls * quadTime);
  // With the post pass at its own cost instead of one screenful.
  const double postScreenfuls = postFrame.ops.empty() ? 0.0 : 1.0;
  if (!postFrame.ops.empty()) {
    const double boundPostAsIs = (fill.screenfuls - postScreenfuls) * quadTime + postTime;
    state.counters["post_ms"] = postTime / n * 1e3;
    state.counters["post_quads"] = postTime / quadTime;  // what the post pass costs, in screenfuls
    state.counters["bound_post_as_is_ms"] = boundPostAsIs / n * 1e3;
    state.counters["frame_per_bound_post_as_is"] = frameTime / boundPostAsIs;
  }
  state.counters["draws"] = double(frame.draws.size());
  state.counters["draws_unchanging"] = double(fill.covering + fill.empty);
  state.counters["draws_empty"] = double(fill.empty);
}
BENCHMARK(BM_FrameAgainstBound)
    ->DenseRange(0, int(kMoments.size()) - 1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->UseManualTime();

// What the end picture's frame (the last scene: the picture, opaque, and one layer blended over it)
// is made of, each part timed alone against the quad in the same iteration: the picture as drawn
// (a 1920 x 1080 texture shown at 1280 x 720), the same from a texture of the screen's size, the
// layer as drawn (its sampler filters between mip levels, though it is drawn at one texel per
// pixel), and the layer without that.
enum EndPart { kPicture, kPictureScreenSized, kLayer, kLayerWithoutMips, kEndPartCount };
const char* const kEndPartNames[] = {"picture_quads", "picture_screen_sized_quads", "layer_quads",
                                     "layer_without_mips_quads"};

CapturedFrame EndPartOf(const CapturedFrame& frame, EndPart part) {
  CapturedFrame one = frame;
  one.ops.clear();
  for (const Op& op : frame.ops) {
    if (op.clear) continue;
    gx::DrawRecord& r = one.draws[op.draw];
    const bool picture = !(r.state.fvf & D3DFVF_DIFFUSE);
    if (picture != (part == kPicture || part == kPictureScreenSized)) continue;
    if (part == kLayerWithoutMips) r.state.sampler[0][D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    if (part == kPictureScreenSized) {  // every 1.5th texel: the same work as a picture made for the screen
      TextureData& t = one.textures.at(r.state.textures[0].get());
      std::vector<std::uint8_t> small(size_t(kWidth) * kHeight * 4);
      for (UINT y = 0; y < kHeight; ++y)
        for (UINT x = 0; x < kWidth; ++x)
          std::memcpy(&small[(size_t(y) * kWidth + x) * 4],
                      &t.levels[0][(size_t(y * t.height / kHeight) * t.width + x * t.width / kWidth) * 4], 4);
      t.width = kWidth, t.height = kHeight, t.levels = {small};
    }
    one.ops.push_back(op);
  }
  return one;
}

void BM_EndPictureParts(benchmark::State& state) {
  Capture();
  const CapturedFrame& frame = g_frames[size_t(state.range(0))];
  if (frame.scene != Scenes().back()->Number) Fail("not a frame of the end picture");
  std::vector<CapturedFrame> parts;
  for (int p = 0; p < kEndPartCount; ++p) parts.push_back(EndPartOf(frame, EndPart(p)));
  std::vector<std::unique_ptr<LayerReplay>> replays;
  for (const CapturedFrame& part : parts) {
    replays.push_back(std::make_unique<LayerReplay>());
    replays.back()->Init(part);
    replays.back()->Frame();
  }
  BlendedQuad quad;
  std::vector<double> partTime(kEndPartCount, 0.0);
  double quadTime = 0;
  for (auto _ : state) {
    for (int p = 0; p < kEndPartCount; ++p) {
      const auto t0 = std::chrono::steady_clock::now();
      replays[size_t(p)]->Frame();
      partTime[size_t(p)] += Seconds(t0);
    }
    const auto t0 = std::chrono::steady_clock::now();
    quad.Frame();
    const double q = Seconds(t0);
    quadTime += q;
    state.SetIterationTime(q);
  }
  state.SetLabel("scene " + std::to_string(frame.scene) + " at " + std::to_string(frame.time) + " ms, in quads");
  for (int p = 0; p < kEndPartCount; ++p) state.counters[kEndPartNames[p]] = partTime[size_t(p)] / quadTime;
}
// The first moment of the last scene, once the end picture shows.
BENCHMARK(BM_EndPictureParts)->Arg(int(SceneMoments().size()) - 2)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseManualTime();

}  // namespace
