#include "bench/support/gl_replay.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "platform/gfx/formats.h"
#include "platform/gfx/gl/translate.h"
#include "platform/gfx/matrix_math.h"
#include "platform/gfx/resources.h"

namespace replay {

namespace {

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
    device = MakeGlDevice(frame.width, frame.height);
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
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, f->width, f->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, f->width, f->height);
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
        const GLbitfield mask = ((op.flags & D3DCLEAR_TARGET) ? GL_COLOR_BUFFER_BIT : 0) |
                                ((op.flags & D3DCLEAR_ZBUFFER) ? GL_DEPTH_BUFFER_BIT : 0) |
                                ((op.flags & D3DCLEAR_STENCIL) ? GL_STENCIL_BUFFER_BIT : 0);
        if (op.rects.empty()) glClear(mask);
        for (const RECT& r : op.rects) {  // rows counted from the top, as the framebuffers keep them
          glEnable(GL_SCISSOR_TEST);
          glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
          glClear(mask);
          glDisable(GL_SCISSOR_TEST);
        }
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
    std::vector<std::uint8_t> rgba(size_t(f->width) * f->height * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, Fbo(f->backBuffer));
    glReadPixels(0, 0, f->width, f->height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
  }
};

}  // namespace

struct GlReplay::Impl {
  DirectReplay direct;
};

GlReplay::GlReplay(const CapturedFrame& frame) : impl_(std::make_unique<Impl>()) { impl_->direct.Init(frame); }
GlReplay::~GlReplay() = default;
void GlReplay::Frame() { impl_->direct.Frame(); }
std::vector<std::uint8_t> GlReplay::Picture() { return impl_->direct.Picture(); }

}  // namespace replay
