#include "platform/gfx/draw_reach.h"

#include <cmath>
#include <cstring>

#include "platform/gfx/formats.h"
#include "platform/gfx/resources.h"

namespace gx {

namespace {

struct Vec4 {
  double x, y, z, w;
};

Vec4 Transform(const Vec4& p, const D3DMATRIX& m) {
  return {p.x * m._11 + p.y * m._21 + p.z * m._31 + p.w * m._41, p.x * m._12 + p.y * m._22 + p.z * m._32 + p.w * m._42,
          p.x * m._13 + p.y * m._23 + p.z * m._33 + p.w * m._43, p.x * m._14 + p.y * m._24 + p.z * m._34 + p.w * m._44};
}

// The first four floats of vertex i (x, y, z and, pre-transformed, rhw).
Vec4 PositionOf(const VertexSpan& v, UINT i, bool rhw) {
  float f[4] = {0, 0, 0, 1};
  std::memcpy(f, v.data + size_t(i) * v.stride, (rhw ? 4 : 3) * sizeof(float));
  return {f[0], f[1], f[2], f[3]};
}

bool Usable(const VertexSpan& v) { return v.data && v.count > 0 && v.stride >= 12; }

// Relative slack for the GPU's single-precision transform against ours in double.
constexpr double kSlack = 1e-4;

}  // namespace

bool OutsideViewVolume(const DeviceState& s, const VertexSpan& v) {
  if (s.vertexShader || !Usable(v)) return false;
  const DWORD position = s.fvf & D3DFVF_POSITION_MASK;
  const D3DVIEWPORT9& vp = s.viewport;
  if (vp.Width == 0 || vp.Height == 0) return false;

  if (position == D3DFVF_XYZRHW) {
    if (v.stride < 16) return false;
    // Screen pixels: nothing is drawn where every vertex lies more than a pixel beyond one edge.
    const double left = double(vp.X) - 1, top = double(vp.Y) - 1;
    const double right = double(vp.X) + vp.Width + 1, bottom = double(vp.Y) + vp.Height + 1;
    bool l = true, r = true, t = true, b = true;
    for (UINT i = 0; i < v.count && (l || r || t || b); ++i) {
      const Vec4 p = PositionOf(v, i, true);
      if (!(p.w > 0)) return false;  // the layer's 1/rhw would not be a plain perspective
      l = l && p.x < left, r = r && p.x > right, t = t && p.y < top, b = b && p.y > bottom;
    }
    return l || r || t || b;
  }
  if (position != D3DFVF_XYZ) return false;

  // Clip space (Direct3D: -w <= x, y <= w, 0 <= z <= w). The sides are widened by two pixels,
  // more than the half-pixel shift the layer applies to Direct3D's pixel centres.
  const double padX = 4.0 / vp.Width, padY = 4.0 / vp.Height;
  bool outside[6] = {true, true, true, true, true, true};
  for (UINT i = 0; i < v.count; ++i) {
    const Vec4 c = Transform(Transform(Transform(PositionOf(v, i, false), s.world), s.view), s.projection);
    const double aw = std::fabs(c.w), ex = kSlack * (std::fabs(c.x) + aw), ey = kSlack * (std::fabs(c.y) + aw),
                 ez = kSlack * (std::fabs(c.z) + aw);
    if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z) || !std::isfinite(c.w)) return false;
    outside[0] = outside[0] && c.x < -c.w - padX * aw - ex;
    outside[1] = outside[1] && c.x > c.w + padX * aw + ex;
    outside[2] = outside[2] && c.y < -c.w - padY * aw - ey;
    outside[3] = outside[3] && c.y > c.w + padY * aw + ey;
    outside[4] = outside[4] && c.z < -ez;
    outside[5] = outside[5] && c.z > c.w + ez;
    if (!(outside[0] || outside[1] || outside[2] || outside[3] || outside[4] || outside[5])) return false;
  }
  return true;
}

namespace {

// Linear vertex fog towards black scales the colour by its factor; a factor of 0 at every vertex
// is 0 at every pixel.
bool FoggedToBlack(const DeviceState& s, const VertexSpan& v) {
  const auto& r = s.render;
  if ((s.fvf & D3DFVF_POSITION_MASK) != D3DFVF_XYZ) return false;
  if (!r[D3DRS_FOGENABLE] || (r[D3DRS_FOGCOLOR] & 0xFFFFFF) != 0) return false;
  if (r[D3DRS_FOGTABLEMODE] != D3DFOG_NONE || r[D3DRS_FOGVERTEXMODE] != D3DFOG_LINEAR) return false;
  const double start = DwordAsFloat(r[D3DRS_FOGSTART]), end = DwordAsFloat(r[D3DRS_FOGEND]);
  if (!(end > start) || !std::isfinite(end)) return false;
  const bool range = r[D3DRS_RANGEFOGENABLE] != 0;
  for (UINT i = 0; i < v.count; ++i) {
    const Vec4 e = Transform(Transform(PositionOf(v, i, false), s.world), s.view);
    const double d = range ? std::sqrt(e.x * e.x + e.y * e.y + e.z * e.z) : e.z;
    if (!std::isfinite(d)) return false;
    if (!(d > end + kSlack * (std::fabs(d) + std::fabs(end)) + kSlack)) return false;
  }
  return true;
}

// The colour's alpha byte is 0 in every vertex (a D3DCOLOR at offset: B, G, R, A in memory).
bool VertexAlphaZero(const VertexSpan& v, int offset) {
  if (offset < 0 || UINT(offset) + 4 > v.stride) return false;
  for (UINT i = 0; i < v.count; ++i)
    if (v.data[size_t(i) * v.stride + UINT(offset) + 3] != 0) return false;
  return true;
}

// The diffuse colour's alpha is 0 at every vertex: the material's, or the vertices' own, as
// lighting and the material sources pick it.
bool DiffuseAlphaZero(const DeviceState& s, const VertexSpan& v) {
  const auto& r = s.render;
  const FvfLayout layout = LayoutOf(s.fvf);
  if (!r[D3DRS_LIGHTING] || layout.rhw) return VertexAlphaZero(v, layout.diffuse);
  const DWORD source = r[D3DRS_COLORVERTEX] ? r[D3DRS_DIFFUSEMATERIALSOURCE] : DWORD(D3DMCS_MATERIAL);
  if (source == D3DMCS_COLOR1 && layout.diffuse >= 0) return VertexAlphaZero(v, layout.diffuse);
  if (source == D3DMCS_COLOR2 && layout.specular >= 0) return VertexAlphaZero(v, layout.specular);
  return s.material.Diffuse.a == 0.0f;
}

// Source-alpha blending with an alpha of 0 at every pixel: stage 0, the only one, takes its alpha
// from the diffuse colour (alone or times another argument), which is 0 at every vertex.
bool BlendedAway(const DeviceState& s, const VertexSpan& v) {
  const auto& r = s.render;
  if (r[D3DRS_SRCBLEND] != D3DBLEND_SRCALPHA || r[D3DRS_SEPARATEALPHABLENDENABLE]) return false;
  if (s.stage[1][D3DTSS_COLOROP] != D3DTOP_DISABLE) return false;
  const auto& st = s.stage[0];
  const DWORD op = st[D3DTSS_ALPHAOP], a1 = st[D3DTSS_ALPHAARG1], a2 = st[D3DTSS_ALPHAARG2];
  const bool fromDiffuse = (op == D3DTOP_SELECTARG1 && a1 == D3DTA_DIFFUSE) ||
                           (op == D3DTOP_SELECTARG2 && a2 == D3DTA_DIFFUSE) ||
                           (op == D3DTOP_MODULATE && (a1 == D3DTA_DIFFUSE || a2 == D3DTA_DIFFUSE));
  return fromDiffuse && DiffuseAlphaZero(s, v);
}

}  // namespace

bool AddsNothing(const DeviceState& s, const VertexSpan& v, D3DFORMAT targetFormat) {
  const auto& r = s.render;
  if (s.vertexShader || s.pixelShader || !Usable(v)) return false;
  // Blended so that the target keeps what it had when the source adds nothing.
  if (!r[D3DRS_ALPHABLENDENABLE] || r[D3DRS_BLENDOP] != D3DBLENDOP_ADD) return false;
  if (r[D3DRS_ZENABLE] && r[D3DRS_ZWRITEENABLE]) return false;
  if (r[D3DRS_STENCILENABLE]) return false;
  // Source alpha 0: the source counts zero times, the target (alpha included) once.
  if ((r[D3DRS_DESTBLEND] == D3DBLEND_ONE || r[D3DRS_DESTBLEND] == D3DBLEND_INVSRCALPHA) && BlendedAway(s, v))
    return true;
  // Black source colour added once: fog leaves the alpha alone, so a target that keeps alpha
  // would still gain some.
  if (r[D3DRS_DESTBLEND] != D3DBLEND_ONE) return false;
  const bool keepsAlpha = targetFormat != D3DFMT_X8R8G8B8 && targetFormat != D3DFMT_R5G6B5 &&
                          targetFormat != D3DFMT_X1R5G5B5;
  if (keepsAlpha && (r[D3DRS_COLORWRITEENABLE] & D3DCOLORWRITEENABLE_ALPHA)) return false;
  return FoggedToBlack(s, v);
}

bool DrawLeavesTargetUnchanged(const DeviceState& s, D3DPRIMITIVETYPE type, const VertexSpan& v,
                               D3DFORMAT targetFormat) {
  if (type == D3DPT_POINTLIST) return false;  // points have a size of their own
  return OutsideViewVolume(s, v) || AddsNothing(s, v, targetFormat);
}

}  // namespace gx
