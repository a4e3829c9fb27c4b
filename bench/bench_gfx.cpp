// Cost of the graphics layer: per draw call on each backend, and a frame of a
// few hundred small lit, fogged, textured, blended quads (texture and blend
// change every few quads, as the show draws) through the layer against the
// same frame drawn by a minimal direct-GL path with a pre-built program.
// Headless at 1280 x 720; the quads are small so the layer, not fill rate,
// is what differs.

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/gfx/backend.h"
#include "platform/gfx/d3d9.h"
#include "platform/os/window.h"
#include "tests/support/gfx_device.h"

namespace {

constexpr UINT kWidth = 1280, kHeight = 720;
constexpr int kQuads = 300;
constexpr int kChangeEvery = 4;
constexpr int kTextures = 4;

struct Vertex {  // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1
  float x, y, z, nx, ny, nz, u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// A quad of 64 x 64 pixels at the origin; the world matrix places it.
const Vertex kQuad[4] = {{0, 0, 0, 0, 0, -1, 0, 0},
                         {64, 0, 0, 0, 0, -1, 1, 0},
                         {0, 64, 0, 0, 0, -1, 0, 1},
                         {64, 64, 0, 0, 0, -1, 1, 1}};

D3DMATRIX Translation(float x, float y, float z) {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  m._41 = x, m._42 = y, m._43 = z;
  return m;
}

// Screen pixels to clip space, y down, depth 0..100 to 0..1 (left-handed).
D3DMATRIX PixelProjection() {
  D3DMATRIX m{};
  m._11 = 2.0f / kWidth, m._41 = -1.0f;
  m._22 = -2.0f / kHeight, m._42 = 1.0f;
  m._33 = 1.0f / 100.0f;
  m._44 = 1.0f;
  return m;
}

void QuadPlace(int i, float& x, float& y, float& z) {
  x = float((i * 97) % (kWidth - 64));
  y = float((i * 53) % (kHeight - 64));
  z = 10.0f + float(i % 20);
}

DWORD F2D(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

std::vector<DWORD> Checker(DWORD a, DWORD b) {
  std::vector<DWORD> p(64 * 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) p[y * 64 + x] = ((x / 8 + y / 8) & 1) ? a : b;
  return p;
}

struct LayerScene {
  std::shared_ptr<IDirect3DDevice9> d;
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  std::shared_ptr<IDirect3DTexture9> textures[kTextures];

  bool Init(gx::BackendKind kind) {
    d = gfxtest::MakeDevice(kind, kWidth, kHeight);
    if (!d) return false;
    d->CreateVertexBuffer(sizeof kQuad, D3DUSAGE_WRITEONLY, kFvf, D3DPOOL_MANAGED, vb, nullptr);
    void* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, kQuad, sizeof kQuad);
    vb->Unlock();
    for (int t = 0; t < kTextures; ++t) {
      d->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, textures[t], nullptr);
      D3DLOCKED_RECT lr{};
      textures[t]->LockRect(0, &lr, nullptr, 0);
      auto pixels = Checker(0xC0FFFFFF, 0x80000000u | DWORD(0x40 * t) << 8);
      std::memcpy(lr.pBits, pixels.data(), pixels.size() * 4);
      textures[t]->UnlockRect(0);
    }
    D3DMATRIX identity = Translation(0, 0, 0), proj = PixelProjection();
    d->SetTransform(D3DTS_VIEW, &identity);
    d->SetTransform(D3DTS_PROJECTION, &proj);
    gfxtest::LightWithOneDirectional(d.get(), {1, 1, 1, 1}, {0.3f, 0.3f, 0.3f, 1}, {}, {1, 1, 1, 1}, {},
                                     {0.3f, -0.2f, 1.0f});
    d->SetRenderState(D3DRS_AMBIENT, 0xFF404040);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    d->SetRenderState(D3DRS_FOGCOLOR, 0xFF203040);
    d->SetRenderState(D3DRS_FOGSTART, F2D(5.0f));
    d->SetRenderState(D3DRS_FOGEND, F2D(40.0f));
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetFVF(kFvf);
    d->SetStreamSource(0, vb, 0, sizeof(Vertex));
    return true;
  }

  void Quad(int i) {
    if (i % kChangeEvery == 0) {
      int group = i / kChangeEvery;
      d->SetTexture(0, textures[group % kTextures]);
      bool additive = group & 1;
      d->SetRenderState(D3DRS_SRCBLEND, additive ? D3DBLEND_ONE : D3DBLEND_SRCALPHA);
      d->SetRenderState(D3DRS_DESTBLEND, additive ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
    }
    float x, y, z;
    QuadPlace(i, x, y, z);
    D3DMATRIX world = Translation(x, y, z);
    d->SetTransform(D3DTS_WORLD, &world);
    d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
  }

  void Frame() {
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    d->BeginScene();
    for (int i = 0; i < kQuads; ++i) Quad(i);
    d->EndScene();
    d->Present(nullptr, nullptr, nullptr, nullptr);
  }
};

// ---------------------------------------------------------------------------
// Per draw call

void BM_SubmitPerDraw(benchmark::State& state, gx::BackendKind kind) {
  LayerScene s;
  if (!s.Init(kind)) {
    state.SkipWithError("no device");
    return;
  }
  s.d->BeginScene();
  int i = 0;
  for (auto _ : state) {
    s.Quad(i++);
    if ((i & 1023) == 0) {
      state.PauseTiming();
      s.d->EndScene();
      s.d->Present(nullptr, nullptr, nullptr, nullptr);
      gx::GxClearRecording(s.d.get());
      s.d->BeginScene();
      state.ResumeTiming();
    }
  }
  s.d->EndScene();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_SubmitPerDraw, recording, gx::BackendKind::Recording);
BENCHMARK_CAPTURE(BM_SubmitPerDraw, gl, gx::BackendKind::Gl);

// ---------------------------------------------------------------------------
// A frame through the layer

void BM_FrameLayer(benchmark::State& state) {
  LayerScene s;
  if (!s.Init(gx::BackendKind::Gl)) {
    state.SkipWithError("no device");
    return;
  }
  s.Frame();  // the first frame builds the programs
  gx::GxResetStats(s.d.get());
  for (auto _ : state) s.Frame();
  auto stats = gx::GxGetStats(s.d.get());
  state.counters["programs_after_first_frame"] = double(stats.programsCompiled);
  state.counters["gl_calls_per_frame"] = double(stats.glCalls) / double(state.iterations());
}
BENCHMARK(BM_FrameLayer)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// ---------------------------------------------------------------------------
// The same frame, direct GL

const char* kDirectVs = R"(#version 330 core
layout(location = 0) in vec3 pos;
layout(location = 1) in vec3 normal;
layout(location = 3) in vec2 uv;
uniform mat4 world;
uniform mat4 viewProj;
uniform vec3 lightDir;
uniform vec4 fog;  // start, end
out vec4 color;
out vec2 tc;
out float fogFactor;
void main() {
  vec4 p = world * vec4(pos, 1.0);
  vec4 c = viewProj * p;
  gl_Position = vec4(c.x, -c.y, 2.0 * c.z - c.w, c.w);
  float nl = max(dot(normal, lightDir), 0.0);
  color = vec4(clamp(vec3(0.3 * 0.25) + vec3(nl), 0.0, 1.0), 1.0);
  tc = uv;
  fogFactor = clamp((fog.y - p.z) / (fog.y - fog.x), 0.0, 1.0);
}
)";

const char* kDirectFs = R"(#version 330 core
in vec4 color;
in vec2 tc;
in float fogFactor;
uniform sampler2D tex;
uniform vec3 fogColor;
out vec4 outColor;
void main() {
  vec4 c = color * texture(tex, tc);
  outColor = vec4(mix(fogColor, c.rgb, fogFactor), c.a);
}
)";

GLuint Compile(GLenum type, const char* src) {
  GLuint s = glCreateShader(type);
  glShaderSource(s, 1, &src, nullptr);
  glCompileShader(s);
  return s;
}

void BM_FrameDirect(benchmark::State& state) {
  // The device only provides the context; everything after is plain GL.
  auto device = gfxtest::MakeDevice(gx::BackendKind::Gl, kWidth, kHeight);
  if (!device) {
    state.SkipWithError("no device");
    return;
  }
  GLuint program = glCreateProgram();
  GLuint vs = Compile(GL_VERTEX_SHADER, kDirectVs), fs = Compile(GL_FRAGMENT_SHADER, kDirectFs);
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glLinkProgram(program);
  GLint linked = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (!linked) {
    state.SkipWithError("direct program does not link");
    return;
  }
  glUseProgram(program);
  GLint worldLoc = glGetUniformLocation(program, "world");
  D3DMATRIX proj = PixelProjection();
  glUniformMatrix4fv(glGetUniformLocation(program, "viewProj"), 1, GL_FALSE, &proj._11);
  float l[3] = {-0.3f, 0.2f, -1.0f};
  float len = std::sqrt(l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
  glUniform3f(glGetUniformLocation(program, "lightDir"), l[0] / len, l[1] / len, l[2] / len);
  glUniform4f(glGetUniformLocation(program, "fog"), 5.0f, 40.0f, 0, 0);
  glUniform3f(glGetUniformLocation(program, "fogColor"), 0x20 / 255.f, 0x30 / 255.f, 0x40 / 255.f);
  glUniform1i(glGetUniformLocation(program, "tex"), 0);

  GLuint fbo, color, depth;
  glGenTextures(1, &color);
  glBindTexture(GL_TEXTURE_2D, color);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kWidth, kHeight);
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color, 0);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
  glViewport(0, 0, kWidth, kHeight);

  GLuint vao, vbo;
  glGenVertexArrays(1, &vao);
  glBindVertexArray(vao);
  glGenBuffers(1, &vbo);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glBufferData(GL_ARRAY_BUFFER, sizeof kQuad, kQuad, GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), nullptr);
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(12));
  glEnableVertexAttribArray(3);
  glVertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(24));

  // The device's context may have left another unit active or GL objects bound.
  glActiveTexture(GL_TEXTURE0);
  glBindSampler(0, 0);
  GLuint textures[kTextures];
  glGenTextures(kTextures, textures);
  for (int t = 0; t < kTextures; ++t) {
    glBindTexture(GL_TEXTURE_2D, textures[t]);
    auto pixels = Checker(0xC0FFFFFF, 0x80000000u | DWORD(0x40 * t) << 8);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 64, 64, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  }
  glEnable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);

  auto frame = [&] {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int i = 0; i < kQuads; ++i) {
      if (i % kChangeEvery == 0) {
        int group = i / kChangeEvery;
        glBindTexture(GL_TEXTURE_2D, textures[group % kTextures]);
        if (group & 1)
          glBlendFunc(GL_ONE, GL_ONE);
        else
          glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      }
      float x, y, z;
      QuadPlace(i, x, y, z);
      D3DMATRIX world = Translation(x, y, z);
      glUniformMatrix4fv(worldLoc, 1, GL_FALSE, &world._11);
      glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    glFinish();
  };
  frame();
  // Same picture as the layer's (checked while writing this: equal coverage and colour sums).
  for (auto _ : state) frame();
  glDeleteProgram(program);
  glDeleteShader(vs);
  glDeleteShader(fs);
  glDeleteFramebuffers(1, &fbo);
  glDeleteTextures(1, &color);
  glDeleteTextures(kTextures, textures);
  glDeleteRenderbuffers(1, &depth);
  glDeleteBuffers(1, &vbo);
  glDeleteVertexArrays(1, &vao);
}
BENCHMARK(BM_FrameDirect)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
