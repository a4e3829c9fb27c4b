// The gl backend's uniforms: each group of device state (transforms, viewport, material,
// lights, fog...) is sent when its version moved since the program in use last saw it.

#include "platform/gfx/gl/gl_backend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gfx/matrix_math.h"

namespace gx {

void GlBackend::UploadUniforms(GlProgram& p, const DeviceState& s) {
  for (int g = 0; g < kGroupCount; ++g) {
    if (p.stamps[g] == versions_[g]) continue;
    p.stamps[g] = versions_[g];
    UploadGroup(g, p.loc, s);
  }
}

void GlBackend::UploadGroup(int group, const DeviceUniforms& l, const DeviceState& s) {
  switch (group) {
    case kGroupTransform: UploadTransforms(l, s); break;
    case kGroupProjection: UniformMatrices(l.projection, &s.projection); break;
    case kGroupViewport: UploadViewport(l, s.viewport); break;
    case kGroupMaterial: UploadMaterial(l, s.material); break;
    case kGroupAmbient: UniformColour(l.globalAmbient, s.render[D3DRS_AMBIENT]); break;
    case kGroupLights:
      if (l.pLightPos >= 0) UploadPositionalLights(l, s);
      UploadDirectionalLights(l, s);
      break;
    case kGroupFog: UploadFog(l, s); break;
    case kGroupTFactor: UniformColour(l.tfactor, s.render[D3DRS_TEXTUREFACTOR]); break;
    case kGroupAlphaRef:
      if (l.alphaRef >= 0) {
        glUniform1i(l.alphaRef, GLint(s.render[D3DRS_ALPHAREF] & 0xFF));
        ++gl_->cache.calls.uniform;
      }
      break;
    case kGroupTexMatrix:
      for (DWORD i = 0; i < kMaxStages; ++i) UniformMatrices(l.texMatrix[i], &s.textureTransform[i]);
      break;
  }
}

void GlBackend::UniformMatrices(GLint location, const D3DMATRIX* m, GLsizei count) {
  if (location < 0) return;
  glUniformMatrix4fv(location, count, GL_FALSE, &m->_11);
  ++gl_->cache.calls.uniform;
}

void GlBackend::UniformVec4(GLint location, const float* values, GLsizei count) {
  if (location < 0) return;
  glUniform4fv(location, count, values);
  ++gl_->cache.calls.uniform;
}

void GlBackend::UniformColour(GLint location, D3DCOLOR colour) {
  float rgba[4];
  ColorOf(colour, rgba);
  UniformVec4(location, rgba);
}

// World and view as set, and world-view with its inverse transpose (for normals), derived once
// for each change of either.
void GlBackend::UploadTransforms(const DeviceUniforms& l, const DeviceState& s) {
  if (derivedTransform_ != versions_[kGroupTransform]) {
    derivedTransform_ = versions_[kGroupTransform];
    worldViewNormal_[0] = Multiply(s.world, s.view);
    D3DMATRIX inverse;
    worldViewNormal_[1] = Invert(worldViewNormal_[0], inverse) ? Transpose(inverse) : worldViewNormal_[0];
  }
  UniformMatrices(l.worldViewNormal, worldViewNormal_, 2);
  UniformMatrices(l.world, &s.world);
  UniformMatrices(l.view, &s.view);
}

void GlBackend::UploadViewport(const DeviceUniforms& l, const D3DVIEWPORT9& vp) {
  const float viewport[4] = {float(vp.X), float(vp.Y), float(vp.Width), float(vp.Height)};
  UniformVec4(l.viewport, viewport);
  const float adjust[4] = {(63.0f / 64.0f) / float(vp.Width), (63.0f / 64.0f) / float(vp.Height), 0, 0};
  UniformVec4(l.pixelAdjust, adjust);
}

void GlBackend::UploadMaterial(const DeviceUniforms& l, const D3DMATERIAL9& m) {
  UniformVec4(l.matDiffuse, &m.Diffuse.r);
  UniformVec4(l.matAmbient, &m.Ambient.r);
  UniformVec4(l.matSpecular, &m.Specular.r);
  UniformVec4(l.matEmissive, &m.Emissive.r);
  if (l.matPower >= 0) {
    glUniform1f(l.matPower, m.Power);
    ++gl_->cache.calls.uniform;
  }
}

void GlBackend::UploadFog(const DeviceUniforms& l, const DeviceState& s) {
  if (l.fogParams >= 0) {
    float start = DwordAsFloat(s.render[D3DRS_FOGSTART]), end = DwordAsFloat(s.render[D3DRS_FOGEND]);
    // Start == end fogs everything: a start far beyond the end makes the linear factor
    // (end - d) / (end - start) vanish at every depth instead of dividing by zero.
    if (start == end) start = end + 1e30f;
    glUniform4f(l.fogParams, start, end, DwordAsFloat(s.render[D3DRS_FOGDENSITY]), 0.0f);
    ++gl_->cache.calls.uniform;
  }
  if (l.fogColor >= 0) {
    float f[4];
    ColorOf(s.render[D3DRS_FOGCOLOR], f);
    glUniform3fv(l.fogColor, 1, f);
    ++gl_->cache.calls.uniform;
  }
}

namespace {

// A light's direction in camera space, of unit length.
D3DVECTOR CameraDirection(const D3DLIGHT9& light, const D3DMATRIX& view) {
  D3DVECTOR d = TransformNormal(light.Direction, view);
  float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  if (len > 0) d.x /= len, d.y /= len, d.z /= len;
  return d;
}

}  // namespace

// Directional lights in the order BuildKey counted them, toward the light in camera space.
void GlBackend::UploadDirectionalLights(const DeviceUniforms& l, const DeviceState& s) {
  if (l.lightDir < 0 && l.lightDiffuse < 0 && l.lightAmbient < 0) return;
  float dir[kMaxLights][3], dif[kMaxLights][4], spe[kMaxLights][4], amb[kMaxLights][4];
  int n = 0;
  for (DWORD i = 0; i < kMaxLights; ++i) {
    const D3DLIGHT9& light = s.lights[i];
    if (!s.lightEnabled[i] || light.Type != D3DLIGHT_DIRECTIONAL) continue;
    D3DVECTOR d = CameraDirection(light, s.view);
    dir[n][0] = -d.x, dir[n][1] = -d.y, dir[n][2] = -d.z;
    std::memcpy(dif[n], &light.Diffuse, 16);
    std::memcpy(spe[n], &light.Specular, 16);
    std::memcpy(amb[n], &light.Ambient, 16);
    ++n;
  }
  if (n == 0) return;
  if (l.lightDir >= 0) {
    glUniform3fv(l.lightDir, n, dir[0]);
    ++gl_->cache.calls.uniform;
  }
  UniformVec4(l.lightDiffuse, dif[0], n);
  UniformVec4(l.lightSpecular, spe[0], n);
  UniformVec4(l.lightAmbient, amb[0], n);
}

// Point and spot lights in the order BuildKey counted them, in camera space.
void GlBackend::UploadPositionalLights(const DeviceUniforms& l, const DeviceState& s) {
  float pos[kMaxLights][4], att[kMaxLights][4], spot[kMaxLights][4], cone[kMaxLights][4];
  float dif[kMaxLights][4], spe[kMaxLights][4], amb[kMaxLights][4];
  int n = 0;
  for (DWORD i = 0; i < kMaxLights; ++i) {
    const D3DLIGHT9& light = s.lights[i];
    if (!s.lightEnabled[i] || (light.Type != D3DLIGHT_POINT && light.Type != D3DLIGHT_SPOT)) continue;
    D3DVECTOR p = TransformPoint(light.Position, s.view);
    pos[n][0] = p.x, pos[n][1] = p.y, pos[n][2] = p.z, pos[n][3] = light.Range;
    att[n][0] = light.Attenuation0, att[n][1] = light.Attenuation1, att[n][2] = light.Attenuation2;
    att[n][3] = light.Falloff;
    D3DVECTOR d = CameraDirection(light, s.view);
    bool isSpot = light.Type == D3DLIGHT_SPOT;
    spot[n][0] = d.x, spot[n][1] = d.y, spot[n][2] = d.z, spot[n][3] = isSpot ? 1.0f : 0.0f;
    cone[n][0] = std::cos(light.Theta * 0.5f), cone[n][1] = std::cos(light.Phi * 0.5f), cone[n][2] = cone[n][3] = 0;
    std::memcpy(dif[n], &light.Diffuse, 16);
    std::memcpy(spe[n], &light.Specular, 16);
    std::memcpy(amb[n], &light.Ambient, 16);
    ++n;
  }
  if (n == 0) return;
  for (auto [location, values] : {std::pair{l.pLightPos, pos[0]}, {l.pLightAtt, att[0]}, {l.pLightSpot, spot[0]},
                                  {l.pLightCone, cone[0]}, {l.pLightDiffuse, dif[0]}, {l.pLightSpecular, spe[0]},
                                  {l.pLightAmbient, amb[0]}})
    UniformVec4(location, values, n);
}

// The device's constants of the stages that run custom shaders, as far as the program declares them.
void GlBackend::UploadShaderConstants(GlProgram& p, const DeviceState& s, bool pixel, bool vertex) {
  auto& c = gl_->cache;
  const ShaderConstants& pc = s.constants[kPixelStage];
  const ShaderConstants& vc = s.constants[kVertexStage];
  std::uint64_t pl = pixel ? pc.layoutVersion : 0, vl = vertex ? vc.layoutVersion : 0;
  if (p.pixelLayout != pl || p.vertexLayout != vl) {
    p.bound.clear();
    for (int stage : {kVertexStage, kPixelStage}) {
      if (!(stage == kPixelStage ? pixel : vertex)) continue;
      const auto& values = s.constants[stage].values;
      for (size_t i = 0; i < values.size(); ++i) {
        auto it = p.active.find(values[i].name);
        if (it != p.active.end()) p.bound.push_back({stage, i, it->second, 0});
      }
    }
    p.pixelLayout = pl, p.vertexLayout = vl;
  }
  for (auto& b : p.bound) {
    const ShaderConstant& u = s.constants[b.stage].values[b.index];
    if (u.version == b.version) continue;
    b.version = u.version;
    SetUniform(b.uniform, u);
    ++c.calls.uniform;
  }
}

void GlBackend::SetUniform(const ActiveUniform& a, const ShaderConstant& u) {
  std::vector<float> f = u.isInt ? std::vector<float>(u.ints.begin(), u.ints.end()) : u.floats;
  std::vector<int> n = u.isInt ? u.ints : std::vector<int>(u.floats.begin(), u.floats.end());
  auto count = [&](size_t per, size_t have) { return GLsizei(std::min<size_t>(size_t(a.size), have / per)); };
  switch (a.type) {
    case GL_FLOAT: glUniform1fv(a.location, count(1, f.size()), f.data()); break;
    case GL_FLOAT_VEC2: glUniform2fv(a.location, count(2, f.size()), f.data()); break;
    case GL_FLOAT_VEC3: glUniform3fv(a.location, count(3, f.size()), f.data()); break;
    case GL_FLOAT_VEC4: glUniform4fv(a.location, count(4, f.size()), f.data()); break;
    case GL_FLOAT_MAT4: glUniformMatrix4fv(a.location, count(16, f.size()), GL_FALSE, f.data()); break;
    case GL_INT:
    case GL_BOOL:
    case GL_SAMPLER_2D:
    case GL_SAMPLER_CUBE: glUniform1iv(a.location, count(1, n.size()), n.data()); break;
    case GL_INT_VEC2: glUniform2iv(a.location, count(2, n.size()), n.data()); break;
    case GL_INT_VEC3: glUniform3iv(a.location, count(3, n.size()), n.data()); break;
    case GL_INT_VEC4: glUniform4iv(a.location, count(4, n.size()), n.data()); break;
    default: break;  // types the program never declares
  }
}

}  // namespace gx
