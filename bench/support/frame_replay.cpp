#include "bench/support/frame_replay.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/vokEngine.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/resources.h"
#include "show/Globals.h"
#include "tests/support/gfx_device.h"
#include "tests/support/show_harness.h"

namespace replay {

void Fail(const std::string& why) {
  std::fprintf(stderr, "benchmark: %s\n", why.c_str());
  std::exit(1);
}

namespace {

template <class T>
bool Differs(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof a) != 0;
}

bool IsDraw(const std::string& call) { return call.rfind("Draw", 0) == 0; }

void TakeFrame(CapturedFrame& f) {
  IDirect3DDevice9* d = Engine->D3D->Device.get();
  const auto& draws = gx::GxRecordedDraws(d);
  const auto& calls = gx::GxRecordedCalls(d);
  f.draws = draws;
  d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, f.keepBackBuffer);
  d->GetDepthStencilSurface(f.keepDepth);
  f.backBuffer = f.keepBackBuffer.get(), f.depth = f.keepDepth.get();

  // Clears carry no target in the log: a clear goes to the target of the next draw unless the
  // target changes first, then to that of the draw before (the back buffer at the start).
  int next = 0;
  bool targetChanged = false;
  std::vector<size_t> pending;
  for (const std::string& call : calls) {
    if (call == "SetRenderTarget") targetChanged = true;
    unsigned flags = 0, color = 0;
    int read = 0;
    if (std::sscanf(call.c_str(), "Clear %u %x%n", &flags, &color, &read) == 2) {
      Op op;
      op.clear = true, op.flags = flags, op.color = color;
      long l = 0, t = 0, r = 0, b = 0;
      for (int n = 0; std::sscanf(call.c_str() + read, " %ld %ld %ld %ld%n", &l, &t, &r, &b, &n) == 4; read += n)
        op.rects.push_back(RECT{LONG(l), LONG(t), LONG(r), LONG(b)});
      op.target = next > 0 ? f.draws[next - 1].state.renderTarget.get() : f.backBuffer;
      f.ops.push_back(op);
      pending.push_back(f.ops.size() - 1);
      targetChanged = false;
    } else if (IsDraw(call)) {
      if (next >= int(f.draws.size())) Fail("the call log has more draws than the draw log");
      if (!targetChanged)
        for (size_t p : pending) f.ops[p].target = f.draws[next].state.renderTarget.get();
      pending.clear();
      Op op;
      op.draw = next++;
      f.ops.push_back(op);
    }
  }

  auto addTexture = [&](IDirect3DBaseTexture9* t) {
    if (!t || f.textures.count(t)) return;
    if (t->GetType() != D3DRTYPE_TEXTURE) Fail("cube textures are not replayed");
    auto* tex = static_cast<IDirect3DTexture9*>(t);
    TextureData data;
    D3DSURFACE_DESC desc{};
    tex->GetLevelDesc(0, &desc);
    data.width = desc.Width, data.height = desc.Height, data.format = desc.Format;
    data.renderTarget = (desc.Usage & D3DUSAGE_RENDERTARGET) != 0;
    if (!data.renderTarget) {
      for (UINT level = 0; level < tex->GetLevelCount(); ++level) {
        D3DSURFACE_DESC ld{};
        tex->GetLevelDesc(level, &ld);
        D3DLOCKED_RECT lr{};
        if (FAILED(tex->LockRect(level, &lr, nullptr, D3DLOCK_READONLY))) Fail("a texture cannot be read");
        std::vector<std::uint8_t> rgba(size_t(ld.Width) * ld.Height * 4);
        UINT bpp = gx::BytesPerPixel(ld.Format);
        for (UINT y = 0; y < ld.Height; ++y)
          for (UINT x = 0; x < ld.Width; ++x)
            gx::PixelToRgba8(ld.Format, static_cast<const std::uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch + x * bpp,
                             &rgba[(size_t(y) * ld.Width + x) * 4]);
        tex->UnlockRect(level);
        data.levels.push_back(std::move(rgba));
      }
    } else {
      std::shared_ptr<IDirect3DSurface9> s;
      tex->GetSurfaceLevel(0, s);
      f.targets[s.get()] = t;
    }
    f.textures[t] = std::move(data);
  };
  for (const auto& r : f.draws) {
    for (const auto& t : r.state.textures) addTexture(t.get());
    if (r.state.pixelShader) f.shaderSources[r.state.pixelShader.get()] = r.state.pixelShader->GxSource();
    if (r.state.vertexShader) Fail("vertex shaders are not replayed");
    auto* rt = r.state.renderTarget.get();
    if (rt && rt != f.backBuffer) {
      auto* surface = static_cast<gx::Surface*>(rt);
      if (surface->kind != gx::Surface::Kind::TextureLevel || surface->level != 0) Fail("unexpected render target");
      addTexture(surface->container.get());
    }
    if (r.state.depthStencil && r.state.depthStencil.get() != f.depth) Fail("unexpected depth surface");
  }
}

struct Wanted {
  const std::vector<std::uint32_t>* moments = nullptr;
  std::vector<CapturedFrame>* frames = nullptr;
};
Wanted g_wanted;

void OnFrame() {
  auto& frames = *g_wanted.frames;
  const auto& moments = *g_wanted.moments;
  if (frames.size() < moments.size() && Engine->Time >= moments[frames.size()]) {
    frames.emplace_back();
    CapturedFrame& f = frames.back();
    f.time = Engine->Time, f.scene = CurrentScene;
    TakeFrame(f);
  }
  gx::GxClearRecording(Engine->D3D->Device.get());
  if (frames.size() == moments.size()) Engine->StopRequested = true;
}

}  // namespace

std::vector<CapturedFrame> CaptureFrames(UINT width, UINT height, const std::vector<std::uint32_t>& moments) {
  std::vector<CapturedFrame> frames;
  frames.reserve(moments.size());
  vktest::WholeShow show(gx::BackendKind::Recording);
  show.Width = width, show.Height = height, show.Seed = 7;
  show.Load();
  if (!show.Error.empty()) Fail(show.Error);
  g_wanted = {&moments, &frames};
  Engine->OnFramePresented = OnFrame;
  Engine->Run();
  Engine->OnFramePresented = nullptr;
  if (frames.size() != moments.size()) Fail("the show ended before the chosen moments");
  for (CapturedFrame& f : frames) f.width = width, f.height = height;
  // The recording objects stay alive in the frames; the show's own state is not needed again.
  show.Release();
  return frames;
}

std::shared_ptr<IDirect3DDevice9> MakeGlDevice(UINT width, UINT height) {
  auto device = gfxtest::MakeDevice(gx::BackendKind::Gl, width, height);
  if (!device) Fail("no GL device");
  return device;
}

// Where an indexed draw's copied vertices start, in index terms: the show passes a minimum
// index of 0 where its indexes reach that far.
UINT IndexBase(const gx::DrawRecord& r) {
  UINT lo = 0xFFFF, hi = 0;
  for (auto i : r.indexes) lo = std::min<UINT>(lo, i), hi = std::max<UINT>(hi, i);
  return hi < r.vertexCount ? 0 : lo;
}

void LayerReplay::Init(const CapturedFrame& frame) {
  f = &frame;
  d = MakeGlDevice(frame.width, frame.height);
  std::shared_ptr<IDirect3DSurface9> bb, depth;
  d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, bb);
  d->GetDepthStencilSurface(depth);
  surfaces[f->backBuffer] = bb;
  surfaces[f->depth] = depth;
  for (const auto& [key, t] : f->textures) {
    std::shared_ptr<IDirect3DTexture9> tex;
    if (t.renderTarget) {
      if (FAILED(d->CreateTexture(t.width, t.height, 1, D3DUSAGE_RENDERTARGET, t.format, D3DPOOL_DEFAULT, tex, nullptr)))
        Fail("render-target texture");
    } else {
      if (FAILED(d->CreateTexture(t.width, t.height, UINT(t.levels.size()), 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex,
                                  nullptr)))
        Fail("texture");
      for (UINT level = 0; level < t.levels.size(); ++level) {
        D3DLOCKED_RECT lr{};
        tex->LockRect(level, &lr, nullptr, 0);
        UINT w = std::max(1u, t.width >> level), h = std::max(1u, t.height >> level);
        for (UINT y = 0; y < h; ++y)
          for (UINT x = 0; x < w; ++x) {
            const std::uint8_t* s = &t.levels[level][(size_t(y) * w + x) * 4];
            std::uint8_t* p = static_cast<std::uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch + x * 4;
            p[0] = s[2], p[1] = s[1], p[2] = s[0], p[3] = s[3];  // B, G, R, A in memory
          }
        tex->UnlockRect(level);
      }
    }
    textures[key] = tex;
  }
  for (const auto& [surface, texture] : f->targets) {
    std::shared_ptr<IDirect3DSurface9> s;
    textures[texture]->GetSurfaceLevel(0, s);
    surfaces[surface] = s;
  }
  for (const auto& [key, source] : f->shaderSources) {
    std::shared_ptr<IDirect3DPixelShader9> ps;
    if (FAILED(d->CreatePixelShader(reinterpret_cast<const DWORD*>(source.c_str()), ps))) Fail("pixel shader");
    shaders[key] = ps;
  }
  for (const auto& r : f->draws) {
    std::shared_ptr<IDirect3DVertexBuffer9> vb;
    d->CreateVertexBuffer(UINT(r.vertices.size()), D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, vb, nullptr);
    void* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, r.vertices.data(), r.vertices.size());
    vb->Unlock();
    vbs.push_back(vb);
    std::shared_ptr<IDirect3DIndexBuffer9> ib;
    if (!r.indexes.empty()) {
      UINT base = IndexBase(r);
      d->CreateIndexBuffer(UINT(r.indexes.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib,
                           nullptr);
      ib->Lock(0, 0, &p, 0);
      for (size_t i = 0; i < r.indexes.size(); ++i) static_cast<std::uint16_t*>(p)[i] = std::uint16_t(r.indexes[i] - base);
      ib->Unlock();
    }
    ibs.push_back(ib);
  }
}

void LayerReplay::Apply(const gx::DeviceState& s, bool targetDirty) {
  const gx::DeviceState* p = last;
  for (DWORD i = 0; i < s.render.size(); ++i)
    if (!p || p->render[i] != s.render[i]) d->SetRenderState(D3DRENDERSTATETYPE(i), s.render[i]);
  for (DWORD t = 0; t < gx::kMaxStages; ++t) {
    for (DWORD i = 0; i < s.stage[t].size(); ++i)
      if (!p || p->stage[t][i] != s.stage[t][i]) d->SetTextureStageState(t, D3DTEXTURESTAGESTATETYPE(i), s.stage[t][i]);
    for (DWORD i = 0; i < s.sampler[t].size(); ++i)
      if (!p || p->sampler[t][i] != s.sampler[t][i]) d->SetSamplerState(t, D3DSAMPLERSTATETYPE(i), s.sampler[t][i]);
    if (!p || p->textures[t] != s.textures[t])
      d->SetTexture(t, s.textures[t] ? textures.at(s.textures[t].get()) : nullptr);
    if (!p || Differs(p->textureTransform[t], s.textureTransform[t]))
      d->SetTransform(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + t), &s.textureTransform[t]);
  }
  if (!p || Differs(p->world, s.world)) d->SetTransform(D3DTS_WORLD, &s.world);
  if (!p || Differs(p->view, s.view)) d->SetTransform(D3DTS_VIEW, &s.view);
  if (!p || Differs(p->projection, s.projection)) d->SetTransform(D3DTS_PROJECTION, &s.projection);
  if (!p || Differs(p->material, s.material)) d->SetMaterial(&s.material);
  for (DWORD i = 0; i < gx::kMaxLights; ++i) {
    if (s.lightSet[i] && (!p || Differs(p->lights[i], s.lights[i]))) d->SetLight(i, &s.lights[i]);
    if (!p || p->lightEnabled[i] != s.lightEnabled[i]) d->LightEnable(i, s.lightEnabled[i]);
  }
  if (!p || p->fvf != s.fvf) d->SetFVF(s.fvf);
  if (!p || p->pixelShader != s.pixelShader)
    d->SetPixelShader(s.pixelShader ? shaders.at(s.pixelShader.get()) : nullptr);
  for (const auto& c : s.constants[gx::kPixelStage].values) {
    if (c.isInt)
      d->GxSetPixelShaderConstantI(c.name.c_str(), c.ints.data(), UINT(c.ints.size()));
    else
      d->GxSetPixelShaderConstantF(c.name.c_str(), c.floats.data(), UINT(c.floats.size()));
  }
  if (targetDirty || !p || p->renderTarget != s.renderTarget) {
    d->SetRenderTarget(0, surfaces.at(s.renderTarget ? s.renderTarget.get() : f->backBuffer));
    d->SetViewport(&s.viewport);
  } else if (Differs(p->viewport, s.viewport)) {
    d->SetViewport(&s.viewport);
  }
  // After the target, which puts the rectangle back to its whole size.
  if (s.render[D3DRS_SCISSORTESTENABLE]) d->SetScissorRect(&s.scissor);
  last = &s;
}

void LayerReplay::Draw(int i) {
  const gx::DrawRecord& r = f->draws[i];
  d->SetStreamSource(0, vbs[i], 0, r.stride);
  if (r.indexes.empty()) {
    d->DrawPrimitive(r.type, 0, r.primitiveCount);
  } else {
    d->SetIndices(ibs[i]);
    d->DrawIndexedPrimitive(r.type, 0, 0, r.vertexCount, 0, r.primitiveCount);
  }
}

void LayerReplay::Clear(const Op& op) {
  d->SetRenderTarget(0, surfaces.at(op.target));
  d->Clear(DWORD(op.rects.size()), op.rects.empty() ? nullptr : op.rects.data(), op.flags, op.color, 1.0f, 0);
}

void LayerReplay::Frame() {
  FrameWith([](size_t, int) {});
}

std::vector<std::uint8_t> LayerReplay::Picture() {
  std::vector<std::uint8_t> rgba;
  UINT w = 0, h = 0;
  gx::GxReadBackBuffer(d.get(), rgba, w, h);
  return rgba;
}

}  // namespace replay
