// Fill cost of the graphics layer: one frame of scene two (tickets streaming through 95 fog
// planes, blurred) and one of scene three (the ticket slide show over the floor) at 1280 x 720,
// drawn (a) through the layer and (b) as the same draws on plain GL with small hand-written
// programs, one per kind of draw. On llvmpipe every fragment-shader instruction is paid per
// pixel, so the ratio of the two shows what the generated shaders cost beyond need.
//
// The frames are the show's own: its code runs to the chosen moment on the recording backend,
// which keeps each draw's vertices and the state in force; both sides then replay that one
// frame with the same geometry, textures, blending and depth. The set-up compares the two
// pictures and stops the program when they differ, so the ratio compares like with like.
// The machine is shared and llvmpipe's threads feel every other job on it: run with
// --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true, so that both sides of a
// scene meet the same load, and compare the medians.

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/gl/translate.h"
#include "platform/gfx/matrix_math.h"
#include "platform/gfx/resources.h"
#include "platform/os/window.h"
#include "show/Globals.h"
#include "show/Parts.h"
#include "show/Textures.h"
#include "tests/support/gfx_device.h"
#include "tests/support/show_harness.h"

namespace {

constexpr UINT kWidth = 1280, kHeight = 720;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "bench_fill: %s\n", why.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------
// The captured frame

struct TextureData {
  UINT width = 0, height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  bool renderTarget = false;
  std::vector<std::vector<std::uint8_t>> levels;  // RGBA8 rows, top first (not for render targets)
};

struct Op {
  bool clear = false;
  int draw = -1;  // index into Frame::draws
  DWORD flags = 0;
  D3DCOLOR color = 0;
  IDirect3DSurface9* target = nullptr;  // of a clear
};

struct CapturedFrame {
  std::vector<gx::DrawRecord> draws;  // keep the recording objects alive: pointers are their identities
  std::vector<Op> ops;
  std::map<IDirect3DBaseTexture9*, TextureData> textures;
  std::map<IDirect3DSurface9*, IDirect3DBaseTexture9*> targets;  // render-target surface -> its texture
  IDirect3DSurface9* backBuffer = nullptr;
  IDirect3DSurface9* depth = nullptr;
  std::shared_ptr<IDirect3DSurface9> keepBackBuffer, keepDepth;
  std::map<const void*, std::string> shaderSources;
};

CapturedFrame g_frames[2];  // scene two, scene three
bool g_captured = false;
constexpr uint32_t kMoment[2] = {30000, 52000};  // show times: scene two's second step, scene three's second

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
    if (std::sscanf(call.c_str(), "Clear %u %x", &flags, &color) == 2) {
      Op op;
      op.clear = true, op.flags = flags, op.color = color;
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

void OnFrame() {
  const int scene = CurrentScene == 2 ? 0 : CurrentScene == 3 ? 1 : -1;
  if (scene >= 0 && g_frames[scene].draws.empty() && Engine->Time >= kMoment[scene]) TakeFrame(g_frames[scene]);
  gx::GxClearRecording(Engine->D3D->Device.get());
  if (!g_frames[1].draws.empty()) Engine->StopRequested = true;
}

// Runs the show on the recording backend at the benchmark's size up to the two moments.
void Capture() {
  if (g_captured) return;
  g_captured = true;
  vktest::WholeShow show(gx::BackendKind::Recording);
  show.Width = kWidth, show.Height = kHeight, show.Seed = 7;
  show.Load();
  if (!show.Error.empty()) Fail(show.Error);
  Engine->OnFramePresented = OnFrame;
  Engine->Run();
  for (const CapturedFrame& f : g_frames)
    if (f.draws.empty()) Fail("the show ended before the chosen moments");
  // The recording objects stay alive in the frames; the show's own state is not needed again.
  show.Release();
}

std::shared_ptr<IDirect3DDevice9> MakeGlDevice() {
  auto device = gfxtest::MakeDevice(gx::BackendKind::Gl, kWidth, kHeight);
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

// ---------------------------------------------------------------------------
// (a) Through the layer

struct LayerReplay {
  std::shared_ptr<IDirect3DDevice9> d;
  const CapturedFrame* f = nullptr;
  std::map<IDirect3DBaseTexture9*, std::shared_ptr<IDirect3DTexture9>> textures;
  std::map<IDirect3DSurface9*, std::shared_ptr<IDirect3DSurface9>> surfaces;
  std::map<const void*, std::shared_ptr<IDirect3DPixelShader9>> shaders;
  std::vector<std::shared_ptr<IDirect3DVertexBuffer9>> vbs;
  std::vector<std::shared_ptr<IDirect3DIndexBuffer9>> ibs;
  const gx::DeviceState* last = nullptr;

  void Init(const CapturedFrame& frame) {
    f = &frame;
    d = MakeGlDevice();
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

  template <class T>
  static bool Differs(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) != 0;
  }

  // Sends what differs from the state last sent (everything the first time).
  void Apply(const gx::DeviceState& s, bool targetDirty) {
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
    last = &s;
  }

  void Draw(int i) {
    const gx::DrawRecord& r = f->draws[i];
    d->SetStreamSource(0, vbs[i], 0, r.stride);
    if (r.indexes.empty()) {
      d->DrawPrimitive(r.type, 0, r.primitiveCount);
    } else {
      d->SetIndices(ibs[i]);
      d->DrawIndexedPrimitive(r.type, 0, 0, r.vertexCount, 0, r.primitiveCount);
    }
  }

  void Frame() {
    d->BeginScene();
    bool targetDirty = false;
    for (const Op& op : f->ops) {
      if (op.clear) {
        d->SetRenderTarget(0, surfaces.at(op.target));
        d->Clear(0, nullptr, op.flags, op.color, 1.0f, 0);
        targetDirty = true;
      } else {
        Apply(f->draws[op.draw].state, targetDirty);
        targetDirty = false;
        Draw(op.draw);
      }
    }
    d->EndScene();
    d->Present(nullptr, nullptr, nullptr, nullptr);
  }

  std::vector<std::uint8_t> Picture() {
    std::vector<std::uint8_t> rgba;
    UINT w = 0, h = 0;
    gx::GxReadBackBuffer(d.get(), rgba, w, h);
    return rgba;
  }
};

// ---------------------------------------------------------------------------
// (b) Plain GL with hand-written programs

// Lit by one directional light (material colours, normals normalised), one texture modulating
// the light's colour, alpha from the texture or the material, linear fog on the distance to the
// eye towards black (the show's fog colour in every scene).
// With SPHERE_MAP the texture coordinates are the sphere map of the reflected view, through the
// texture matrix (the floor's environment pass).
const char* kLitVs = R"(
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 3) in vec2 uv;
uniform mat4 worldView[2];  // and its inverse transpose
uniform mat4 projection;
uniform vec3 toLight;
uniform vec3 ambient;       // material ambient * (global + light ambient) + emissive
uniform vec3 diffuse;       // material diffuse * light diffuse
uniform vec2 fog;           // end, 1 / (end - start)
uniform vec2 pixelAdjust;   // Direct3D's pixel centres
uniform mat4 texMatrix;
out vec3 light;
out vec2 tc;
out float fogFactor;
void main() {
  vec4 eye = worldView[0] * vec4(position, 1.0);
  vec4 c = projection * eye;
  gl_Position = vec4(c.x + c.w * pixelAdjust.x, -c.y + c.w * pixelAdjust.y, 2.0 * c.z - c.w, c.w);
  vec3 n = normalize(mat3(worldView[1]) * normal);
  light = clamp(ambient + diffuse * max(dot(n, toLight), 0.0), 0.0, 1.0);
#ifdef SPHERE_MAP
  vec3 e = normalize(-eye.xyz);
  vec3 r = 2.0 * dot(e, n) * n - e;
  float m = max(2.0 * sqrt(r.x * r.x + r.y * r.y + (r.z - 1.0) * (r.z - 1.0)), 1e-6);
  tc = (texMatrix * vec4(r.x / m + 0.5, -r.y / m + 0.5, 1.0, 0.0)).xy;
#else
  tc = uv;
#endif
  fogFactor = clamp((fog.x - length(eye.xyz)) * fog.y, 0.0, 1.0);
}
)";

const char* kLitTextureAlphaFs = R"(#version 330 core
in vec3 light;
in vec2 tc;
in float fogFactor;
uniform sampler2D tex;
out vec4 color;
void main() {
  vec4 t = texture(tex, tc);
  color = vec4(t.rgb * light * fogFactor, t.a);
}
)";

const char* kLitMaterialAlphaFs = R"(#version 330 core
in vec3 light;
in vec2 tc;
in float fogFactor;
uniform sampler2D tex;
uniform float alpha;
out vec4 color;
void main() {
  color = vec4(texture(tex, tc).rgb * light * fogFactor, alpha);
}
)";

// Pre-transformed screen quad for the post effect: the show's own pixel shader does the rest.
const char* kScreenVs = R"(#version 330 core
layout(location = 0) in vec4 position;
layout(location = 3) in vec2 uv;
uniform vec4 toNdc;  // scale and offset from pixels
out vec4 gx_Tex0;
void main() {
  float w = 1.0 / position.w;
  gl_Position = vec4((position.xy * toNdc.xy + toNdc.zw) * w, (2.0 * position.z - 1.0) * w, w);
  gx_Tex0 = vec4(uv, 1.0, 0.0);
}
)";

GLuint Link(const char* vs, const char* fs) {
  auto compile = [](GLenum type, const char* src) {
    GLuint s = glCreateShader(type);
    glShaderSource(s, 1, &src, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
      char log[2048];
      glGetShaderInfoLog(s, sizeof log, nullptr, log);
      Fail(std::string("direct shader: ") + log);
    }
    return s;
  };
  GLuint p = glCreateProgram(), v = compile(GL_VERTEX_SHADER, vs), f = compile(GL_FRAGMENT_SHADER, fs);
  glAttachShader(p, v);
  glAttachShader(p, f);
  glLinkProgram(p);
  glDeleteShader(v);
  glDeleteShader(f);
  GLint ok = 0;
  glGetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok) Fail("direct program does not link");
  return p;
}

void Colour(D3DCOLOR c, float out[4]) {
  out[0] = float((c >> 16) & 255) / 255.0f, out[1] = float((c >> 8) & 255) / 255.0f;
  out[2] = float(c & 255) / 255.0f, out[3] = float(c >> 24) / 255.0f;
}

enum class Kind { LitTextureAlpha, LitMaterialAlpha, Screen };

// What one draw needs on plain GL, worked out once from its state.
struct DirectDraw {
  Kind kind;
  GLuint program = 0;
  GLuint vao = 0;
  GLint first = 0;           // first vertex in the VAO's buffer
  GLsizei count = 0;
  GLenum mode = 0;
  bool indexed = false;
  const void* indexOffset = nullptr;
  GLuint fbo = 0;
  GLint viewport[4]{};
  float depthRange[2]{};
  GLuint texture = 0, sampler = 0;
  bool blend = false;
  GLenum src = GL_ONE, dst = GL_ZERO, srcAlpha = GL_ONE, dstAlpha = GL_ZERO, blendOp = GL_FUNC_ADD;
  bool depthTest = false, depthWrite = false;
  GLenum depthFunc = GL_LESS;
  bool cull = false;
  GLenum cullFace = GL_BACK;
  GLboolean colorMask[4]{};
  // uniforms
  float worldView[2][16]{}, projection[16]{};
  float toLight[3]{}, ambient[3]{}, diffuse[3]{}, fog[2]{}, alpha = 1;
  float toNdc[4]{}, pixelAdjust[2]{}, texMatrix[16]{};
  bool sphere = false;
  std::vector<std::pair<GLint, std::vector<float>>> floats;  // the post shader's constants
};

struct Locations {
  GLint worldView, projection, toLight, ambient, diffuse, fog, alpha, pixelAdjust, toNdc, texMatrix;
};

struct DirectReplay {
  std::shared_ptr<IDirect3DDevice9> device;  // only for its context
  const CapturedFrame* f = nullptr;
  GLuint lit[2][2] = {}, backFbo = 0, backColor = 0, depth = 0, vbo = 0, ebo = 0;
  std::map<std::string, GLuint> screenPrograms;
  std::map<IDirect3DBaseTexture9*, GLuint> textures;
  std::map<IDirect3DSurface9*, GLuint> fbos;
  std::map<std::uint64_t, GLuint> samplers;
  std::map<std::pair<DWORD, size_t>, GLuint> vaos;
  std::vector<DirectDraw> draws;
  std::map<GLuint, Locations> locations;

  void Locate(GLuint p) {
    auto loc = [&](const char* name) { return glGetUniformLocation(p, name); };
    locations[p] = {loc("worldView"), loc("projection"), loc("toLight"), loc("ambient"), loc("diffuse"),
                    loc("fog"),       loc("alpha"),   loc("pixelAdjust"), loc("toNdc"),
                    loc("texMatrix")};
  }

  GLuint Sampler(const std::array<DWORD, GX_SAMPLERSTATE_COUNT>& st) {
    std::uint64_t key = st[D3DSAMP_ADDRESSU] | st[D3DSAMP_ADDRESSV] << 4 | st[D3DSAMP_MAGFILTER] << 8 |
                        st[D3DSAMP_MINFILTER] << 12 | std::uint64_t(st[D3DSAMP_MIPFILTER]) << 16;
    auto it = samplers.find(key);
    if (it != samplers.end()) return it->second;
    if (st[D3DSAMP_MAXMIPLEVEL] || st[D3DSAMP_MIPMAPLODBIAS]) Fail("sampler state the replay does not set");
    GLuint s = 0;
    glGenSamplers(1, &s);
    glSamplerParameteri(s, GL_TEXTURE_WRAP_S, gx::GlAddress(st[D3DSAMP_ADDRESSU]));
    glSamplerParameteri(s, GL_TEXTURE_WRAP_T, gx::GlAddress(st[D3DSAMP_ADDRESSV]));
    glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, gx::GlMagFilter(st[D3DSAMP_MAGFILTER]));
    glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, gx::GlMinFilter(st[D3DSAMP_MINFILTER], st[D3DSAMP_MIPFILTER]));
    return samplers[key] = s;
  }

  GLuint Fbo(IDirect3DSurface9* target) {
    auto it = fbos.find(target);
    if (it != fbos.end()) return it->second;
    GLuint color = backColor;
    if (target != f->backBuffer) color = textures.at(f->targets.at(target));
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) Fail("incomplete framebuffer");
    return fbos[target] = fbo;
  }

  void Init(const CapturedFrame& frame) {
    f = &frame;
    device = MakeGlDevice();
    // The device's context may have left anything bound.
    glBindVertexArray(0);
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_SCISSOR_TEST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);

    for (int sphere = 0; sphere < 2; ++sphere) {
      std::string vs = std::string("#version 330 core\n") + (sphere ? "#define SPHERE_MAP\n" : "") + kLitVs;
      lit[0][sphere] = Link(vs.c_str(), kLitTextureAlphaFs);
      lit[1][sphere] = Link(vs.c_str(), kLitMaterialAlphaFs);
    }
    for (const auto& [key, source] : f->shaderSources) screenPrograms[source] = Link(kScreenVs, source.c_str());
    for (auto& pair : lit)
      for (GLuint p : pair) Locate(p);
    for (const auto& [source, p] : screenPrograms) Locate(p);

    glGenTextures(1, &backColor);
    glBindTexture(GL_TEXTURE_2D, backColor);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kWidth, kHeight);
    for (const auto& [key, t] : f->textures) {
      GLuint name = 0;
      glGenTextures(1, &name);
      glBindTexture(GL_TEXTURE_2D, name);
      if (t.renderTarget) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, t.width, t.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
      } else {
        for (GLint level = 0; level < GLint(t.levels.size()); ++level)
          glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, std::max(1u, t.width >> level), std::max(1u, t.height >> level), 0,
                       GL_RGBA, GL_UNSIGNED_BYTE, t.levels[level].data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(t.levels.size()) - 1);
      }
      textures[key] = name;
    }

    // Every draw's vertices in one buffer, every indexed draw's indexes in another.
    std::vector<std::uint8_t> vertices;
    std::vector<std::uint16_t> indexes;
    for (const auto& r : f->draws) {
      DirectDraw dd;
      const gx::DeviceState& s = r.state;
      auto layout = gx::LayoutOf(s.fvf);
      // Vertices of one format share a VAO; a draw starts at a whole vertex of that stride.
      size_t pad = (r.stride - vertices.size() % r.stride) % r.stride;
      vertices.resize(vertices.size() + pad);
      size_t at = vertices.size();
      vertices.insert(vertices.end(), r.vertices.begin(), r.vertices.end());
      dd.first = GLint(at / r.stride);
      dd.vao = Vao(s.fvf, r.stride, layout);
      dd.mode = gx::GlPrimitive(r.type);
      dd.count = GLsizei(gx::VertexCountOf(r.type, r.primitiveCount));
      if (!r.indexes.empty()) {
        dd.indexed = true;
        dd.indexOffset = reinterpret_cast<const void*>(indexes.size() * 2);
        UINT base = IndexBase(r);
        for (auto i : r.indexes) indexes.push_back(std::uint16_t(i - base));
      }
      Describe(r, layout, dd);
      draws.push_back(std::move(dd));
    }
    glBindVertexArray(0);
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size()), vertices.data(), GL_STATIC_DRAW);
    glGenBuffers(1, &ebo);
    for (auto& [key, vao] : vaos) {
      glBindVertexArray(vao);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ebo);
      auto layout = gx::LayoutOf(key.first);
      GLsizei stride = GLsizei(key.second);
      auto attrib = [&](GLuint location, int offset, GLint size, GLenum type, bool normalised) {
        if (offset < 0) return;
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, size, type, normalised, stride, reinterpret_cast<const void*>(size_t(offset)));
      };
      attrib(0, layout.position, GLint(layout.positionFloats), GL_FLOAT, false);
      attrib(1, layout.normal, 3, GL_FLOAT, false);
      attrib(3, layout.tex[0], GLint(layout.texSize[0]), GL_FLOAT, false);
    }
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indexes.size() * 2), indexes.data(), GL_STATIC_DRAW);
    glBindVertexArray(0);
  }

  GLuint Vao(DWORD fvf, UINT stride, const gx::FvfLayout&) {
    auto key = std::make_pair(fvf, size_t(stride));
    auto it = vaos.find(key);
    if (it != vaos.end()) return it->second;
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    return vaos[key] = vao;
  }

  void Describe(const gx::DrawRecord& r, const gx::FvfLayout& layout, DirectDraw& dd) {
    const gx::DeviceState& s = r.state;
    const auto& rs = s.render;
    const auto& st0 = s.stage[0];
    IDirect3DSurface9* target = s.renderTarget ? s.renderTarget.get() : f->backBuffer;
    dd.fbo = Fbo(target);
    dd.viewport[0] = GLint(s.viewport.X), dd.viewport[1] = GLint(s.viewport.Y);
    dd.viewport[2] = GLsizei(s.viewport.Width), dd.viewport[3] = GLsizei(s.viewport.Height);
    dd.depthRange[0] = s.viewport.MinZ, dd.depthRange[1] = s.viewport.MaxZ;
    if (!s.textures[0]) Fail("a draw without a texture");
    dd.texture = textures.at(s.textures[0].get());
    dd.sampler = Sampler(s.sampler[0]);
    dd.blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
    if (dd.blend) {
      dd.src = gx::GlBlend(rs[D3DRS_SRCBLEND], false), dd.dst = gx::GlBlend(rs[D3DRS_DESTBLEND], false);
      dd.srcAlpha = gx::GlBlend(rs[D3DRS_SRCBLEND], true), dd.dstAlpha = gx::GlBlend(rs[D3DRS_DESTBLEND], true);
      dd.blendOp = gx::GlBlendOp(rs[D3DRS_BLENDOP]);
    }
    dd.depthTest = rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    dd.depthWrite = rs[D3DRS_ZWRITEENABLE] != 0;
    dd.depthFunc = gx::GlCompare(rs[D3DRS_ZFUNC]);
    dd.cull = rs[D3DRS_CULLMODE] != D3DCULL_NONE;
    dd.cullFace = rs[D3DRS_CULLMODE] == D3DCULL_CW ? GL_FRONT : GL_BACK;
    DWORD mask = rs[D3DRS_COLORWRITEENABLE];
    for (int i = 0; i < 4; ++i) dd.colorMask[i] = (mask >> i) & 1;
    if (rs[D3DRS_ALPHATESTENABLE] && rs[D3DRS_ALPHAFUNC] != D3DCMP_ALWAYS &&
        !(rs[D3DRS_ALPHAFUNC] == D3DCMP_GREATEREQUAL && (rs[D3DRS_ALPHAREF] & 0xFF) == 0))
      Fail("alpha test the replay does not do");
    // A second stage only passes the colour on: it selects the current value, or its
    // operation reads a texture while none is bound there.
    const auto& st1 = s.stage[1];
    auto passes = [&](DWORD op, DWORD arg1, DWORD arg2) {
      return op == D3DTOP_DISABLE || (op == D3DTOP_SELECTARG1 && arg1 == D3DTA_CURRENT) ||
             (!s.textures[1] && (arg1 == D3DTA_TEXTURE || arg2 == D3DTA_TEXTURE));
    };
    if (!passes(st1[D3DTSS_COLOROP], st1[D3DTSS_COLORARG1], st1[D3DTSS_COLORARG2]) ||
        (st1[D3DTSS_COLOROP] != D3DTOP_DISABLE &&
         !passes(st1[D3DTSS_ALPHAOP], st1[D3DTSS_ALPHAARG1], st1[D3DTSS_ALPHAARG2])))
      Fail("a second texture stage that does something: ops " + std::to_string(s.stage[1][D3DTSS_COLOROP]) + "/" +
           std::to_string(s.stage[1][D3DTSS_ALPHAOP]) + " args " + std::to_string(s.stage[1][D3DTSS_COLORARG1]) + "/" +
           std::to_string(s.stage[1][D3DTSS_ALPHAARG1]));

    if (s.pixelShader) {
      if (!layout.rhw) Fail("a pixel shader on transformed vertices");
      dd.kind = Kind::Screen;
      dd.program = screenPrograms.at(f->shaderSources.at(s.pixelShader.get()));
      // Direct3D's pixel centres on integer coordinates, as the layer places them.
      const auto& vp = s.viewport;
      dd.toNdc[0] = 2.0f / float(vp.Width), dd.toNdc[1] = 2.0f / float(vp.Height);
      dd.toNdc[2] = (63.0f / 128.0f - float(vp.X)) * dd.toNdc[0] - 1.0f;
      dd.toNdc[3] = (63.0f / 128.0f - float(vp.Y)) * dd.toNdc[1] - 1.0f;
      for (const auto& c : s.constants[gx::kPixelStage].values) {
        GLint at = glGetUniformLocation(dd.program, c.name.c_str());
        if (at < 0) continue;
        if (c.isInt) Fail("integer shader constants are not replayed");
        dd.floats.emplace_back(at, c.floats);
      }
      return;
    }

    // The lit, textured, fogged draws of the ticket scenes.
    if (layout.rhw || layout.normal < 0 || layout.diffuse >= 0 || layout.texCount != 1 || !rs[D3DRS_LIGHTING] ||
        s.vertexShader)
      Fail("a draw of a kind the replay has no program for (fvf " + std::to_string(s.fvf) + ")");
    bool modulate = st0[D3DTSS_COLOROP] == D3DTOP_MODULATE &&
                    ((st0[D3DTSS_COLORARG1] == D3DTA_TEXTURE &&
                      (st0[D3DTSS_COLORARG2] == D3DTA_CURRENT || st0[D3DTSS_COLORARG2] == D3DTA_DIFFUSE)) ||
                     (st0[D3DTSS_COLORARG2] == D3DTA_TEXTURE &&
                      (st0[D3DTSS_COLORARG1] == D3DTA_CURRENT || st0[D3DTSS_COLORARG1] == D3DTA_DIFFUSE)));
    if (!modulate) Fail("a texture stage the replay has no program for");
    if (st0[D3DTSS_ALPHAOP] == D3DTOP_SELECTARG1 && st0[D3DTSS_ALPHAARG1] == D3DTA_TEXTURE)
      dd.kind = Kind::LitTextureAlpha;
    else if (st0[D3DTSS_ALPHAOP] == D3DTOP_SELECTARG1 &&
             (st0[D3DTSS_ALPHAARG1] == D3DTA_DIFFUSE || st0[D3DTSS_ALPHAARG1] == D3DTA_CURRENT))
      dd.kind = Kind::LitMaterialAlpha;
    else
      Fail("an alpha operation the replay has no program for");
    DWORD tci = st0[D3DTSS_TEXCOORDINDEX];
    bool sphere = tci == D3DTSS_TCI_SPHEREMAP;
    if (sphere && (!rs[D3DRS_LOCALVIEWER] || st0[D3DTSS_TEXTURETRANSFORMFLAGS] != D3DTTFF_COUNT2))
      Fail("a sphere map the replay does not do");
    if (!sphere && (tci != 0 || st0[D3DTSS_TEXTURETRANSFORMFLAGS] != D3DTTFF_DISABLE))
      Fail("texture coordinates the replay does not do");
    dd.sphere = sphere;
    std::memcpy(dd.texMatrix, &s.textureTransform[0]._11, 64);
    dd.program = lit[dd.kind == Kind::LitTextureAlpha ? 0 : 1][sphere];
    if (!rs[D3DRS_FOGENABLE] || rs[D3DRS_FOGTABLEMODE] != D3DFOG_NONE || rs[D3DRS_FOGVERTEXMODE] != D3DFOG_LINEAR ||
        !rs[D3DRS_RANGEFOGENABLE])
      Fail("fog the replay does not do");
    if (rs[D3DRS_SPECULARENABLE] || !rs[D3DRS_NORMALIZENORMALS]) Fail("lighting the replay does not do");

    D3DMATRIX wv = gx::Multiply(s.world, s.view), inverse;
    D3DMATRIX normal = gx::Invert(wv, inverse) ? gx::Transpose(inverse) : wv;
    std::memcpy(dd.worldView[0], &wv._11, 64);
    std::memcpy(dd.worldView[1], &normal._11, 64);
    std::memcpy(dd.projection, &s.projection._11, 64);
    int lights = 0;
    float globalAmbient[4], lightAmbient[3] = {0, 0, 0}, lightDiffuse[3] = {0, 0, 0};
    Colour(rs[D3DRS_AMBIENT], globalAmbient);
    for (DWORD i = 0; i < gx::kMaxLights; ++i) {
      const D3DLIGHT9& l = s.lights[i];
      if (!s.lightEnabled[i] || l.Type != D3DLIGHT_DIRECTIONAL) continue;
      ++lights;
      D3DVECTOR d = gx::TransformNormal(l.Direction, s.view);
      float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
      dd.toLight[0] = -d.x / len, dd.toLight[1] = -d.y / len, dd.toLight[2] = -d.z / len;
      lightAmbient[0] = l.Ambient.r, lightAmbient[1] = l.Ambient.g, lightAmbient[2] = l.Ambient.b;
      lightDiffuse[0] = l.Diffuse.r, lightDiffuse[1] = l.Diffuse.g, lightDiffuse[2] = l.Diffuse.b;
    }
    if (lights != 1) Fail("the replay lights with exactly one light");
    const D3DMATERIAL9& m = s.material;
    const float ma[3] = {m.Ambient.r, m.Ambient.g, m.Ambient.b}, md[3] = {m.Diffuse.r, m.Diffuse.g, m.Diffuse.b};
    const float me[3] = {m.Emissive.r, m.Emissive.g, m.Emissive.b};
    for (int c = 0; c < 3; ++c) {
      dd.ambient[c] = ma[c] * (globalAmbient[c] + lightAmbient[c]) + me[c];
      dd.diffuse[c] = md[c] * lightDiffuse[c];
    }
    dd.alpha = m.Diffuse.a;
    dd.pixelAdjust[0] = (63.0f / 64.0f) / float(s.viewport.Width);
    dd.pixelAdjust[1] = (63.0f / 64.0f) / float(s.viewport.Height);
    float start = gx::DwordAsFloat(rs[D3DRS_FOGSTART]), end = gx::DwordAsFloat(rs[D3DRS_FOGEND]);
    dd.fog[0] = end, dd.fog[1] = 1.0f / (end - start);
    if (rs[D3DRS_FOGCOLOR] & 0xFFFFFF) Fail("fog of a colour: the replay fogs towards black");
  }

  void Frame() {
    GLuint program = 0;
    for (const Op& op : f->ops) {
      if (op.clear) {
        glBindFramebuffer(GL_FRAMEBUFFER, Fbo(op.target));
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
        float c[4];
        Colour(op.color, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        glClearDepth(1.0);
        glClearStencil(0);
        glClear(((op.flags & D3DCLEAR_TARGET) ? GL_COLOR_BUFFER_BIT : 0) |
                ((op.flags & D3DCLEAR_ZBUFFER) ? GL_DEPTH_BUFFER_BIT : 0) |
                ((op.flags & D3DCLEAR_STENCIL) ? GL_STENCIL_BUFFER_BIT : 0));
        continue;
      }
      const DirectDraw& dd = draws[op.draw];
      glBindFramebuffer(GL_FRAMEBUFFER, dd.fbo);
      glViewport(dd.viewport[0], dd.viewport[1], dd.viewport[2], dd.viewport[3]);
      glDepthRange(dd.depthRange[0], dd.depthRange[1]);
      if (dd.program != program) glUseProgram(program = dd.program);
      glBindTexture(GL_TEXTURE_2D, dd.texture);
      glBindSampler(0, dd.sampler);
      if (dd.blend) {
        glEnable(GL_BLEND);
        glBlendFuncSeparate(dd.src, dd.dst, dd.srcAlpha, dd.dstAlpha);
        glBlendEquation(dd.blendOp);
      } else {
        glDisable(GL_BLEND);
      }
      if (dd.depthTest) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(dd.depthFunc);
      } else {
        glDisable(GL_DEPTH_TEST);
      }
      glDepthMask(dd.depthWrite);
      if (dd.cull) {
        glEnable(GL_CULL_FACE);
        glCullFace(dd.cullFace);
      } else {
        glDisable(GL_CULL_FACE);
      }
      glColorMask(dd.colorMask[0], dd.colorMask[1], dd.colorMask[2], dd.colorMask[3]);
      const Locations& l = locations.at(program);
      if (dd.kind == Kind::Screen) {
        glUniform4fv(l.toNdc, 1, dd.toNdc);
        for (const auto& [at, values] : dd.floats) {
          if (values.size() == 1) glUniform1f(at, values[0]);
          else if (values.size() == 2) glUniform2fv(at, 1, values.data());
          else if (values.size() == 16) glUniformMatrix4fv(at, 1, GL_FALSE, values.data());
          else glUniform4fv(at, GLsizei(values.size() / 4), values.data());
        }
      } else {
        glUniformMatrix4fv(l.worldView, 2, GL_FALSE, dd.worldView[0]);
        glUniformMatrix4fv(l.projection, 1, GL_FALSE, dd.projection);
        glUniform3fv(l.toLight, 1, dd.toLight);
        glUniform3fv(l.ambient, 1, dd.ambient);
        glUniform3fv(l.diffuse, 1, dd.diffuse);
        glUniform2fv(l.fog, 1, dd.fog);
        glUniform2fv(l.pixelAdjust, 1, dd.pixelAdjust);
        if (dd.sphere) glUniformMatrix4fv(l.texMatrix, 1, GL_FALSE, dd.texMatrix);
        if (dd.kind == Kind::LitMaterialAlpha) glUniform1f(l.alpha, dd.alpha);
      }
      glBindVertexArray(dd.vao);
      if (dd.indexed)
        glDrawElementsBaseVertex(dd.mode, dd.count, GL_UNSIGNED_SHORT, dd.indexOffset, dd.first);
      else
        glDrawArrays(dd.mode, dd.first, dd.count);
    }
    glFinish();
  }

  std::vector<std::uint8_t> Picture() {
    std::vector<std::uint8_t> rgba(size_t(kWidth) * kHeight * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, Fbo(f->backBuffer));
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
  }
};

// ---------------------------------------------------------------------------
// The pictures must agree before anything is timed

std::vector<std::uint8_t> g_layerPicture[2];

const std::vector<std::uint8_t>& LayerPicture(int scene) {
  if (g_layerPicture[scene].empty()) {
    LayerReplay layer;
    layer.Init(g_frames[scene]);
    layer.Frame();
    layer.Frame();  // the second frame samples what the first left in the post target, as the show does
    g_layerPicture[scene] = layer.Picture();
  }
  return g_layerPicture[scene];
}

// Both pictures as PPM files, to look at when they differ.
void Keep(const std::vector<std::uint8_t>& rgba, const std::string& path) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return;
  std::fprintf(out, "P6 %u %u 255\n", kWidth, kHeight);
  for (size_t i = 0; i < rgba.size(); i += 4) std::fwrite(&rgba[i], 1, 3, out);
  std::fclose(out);
  std::fprintf(stderr, "bench_fill: wrote %s\n", path.c_str());
}

// The largest difference of a channel, after failing where the pictures differ.
int Compare(int scene, const std::vector<std::uint8_t>& direct) {
  const auto& layer = LayerPicture(scene);
  if (layer.size() != direct.size()) Fail("pictures of different sizes");
  // A few steps of rounding are expected (the two sides do the same arithmetic in another order);
  // a wrong texture, blend or fog moves whole areas far more than that.
  size_t far = 0;
  int worst = 0;
  double sum[2] = {0, 0};
  for (size_t i = 0; i < layer.size(); ++i) {
    if (i % 4 == 3) continue;  // the back buffer has no alpha
    int diff = std::abs(int(layer[i]) - int(direct[i]));
    worst = std::max(worst, diff);
    if (diff > 8) ++far;
    sum[0] += layer[i], sum[1] += direct[i];
  }
  if (far > layer.size() / 4 / 1000 || std::abs(sum[0] - sum[1]) > 0.002 * (sum[0] + 1.0) || sum[0] == 0) {
    char why[256];
    std::snprintf(why, sizeof why,
                  "scene %d: the layer's and the direct picture differ (%zu channels off by more than 8, worst %d, "
                  "sums %.0f and %.0f)",
                  scene + 2, far, worst, sum[0], sum[1]);
    std::string stem = "/tmp/bench_fill_scene" + std::to_string(scene + 2);
    Keep(layer, stem + "_layer.ppm");
    Keep(direct, stem + "_direct.ppm");
    Fail(why);
  }
  return worst;
}

void BM_FillLayer(benchmark::State& state) {
  Capture();
  const int scene = int(state.range(0)) - 2;
  LayerReplay layer;
  layer.Init(g_frames[scene]);
  layer.Frame();
  layer.Frame();
  if (g_layerPicture[scene].empty()) g_layerPicture[scene] = layer.Picture();
  gx::GxResetStats(layer.d.get());
  for (auto _ : state) layer.Frame();
  auto stats = gx::GxGetStats(layer.d.get());
  state.counters["draws"] = double(g_frames[scene].draws.size());
  state.counters["programs_after_warm_up"] = double(stats.programsCompiled);
}
BENCHMARK(BM_FillLayer)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

void BM_FillDirect(benchmark::State& state) {
  Capture();
  const int scene = int(state.range(0)) - 2;
  LayerPicture(scene);
  DirectReplay direct;
  direct.Init(g_frames[scene]);
  direct.Frame();
  direct.Frame();
  int worst = Compare(scene, direct.Picture());
  for (auto _ : state) direct.Frame();
  state.counters["draws"] = double(g_frames[scene].draws.size());
  state.counters["largest_channel_difference"] = worst;
}
BENCHMARK(BM_FillDirect)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace
