#include "platform/gfx/device_state.h"

#include <atomic>
#include <cstring>

namespace gx {

D3DMATRIX IdentityMatrix() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

void DeviceState::SetDefaults(bool autoDepthStencil, UINT width, UINT height) {
  *this = DeviceState{};
  auto& r = render;
  r[D3DRS_ZENABLE] = autoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
  r[D3DRS_FILLMODE] = D3DFILL_SOLID;
  r[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  r[D3DRS_ZWRITEENABLE] = TRUE;
  r[D3DRS_ALPHATESTENABLE] = FALSE;
  r[D3DRS_LASTPIXEL] = TRUE;
  r[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  r[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  r[D3DRS_CULLMODE] = D3DCULL_CCW;
  r[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  r[D3DRS_ALPHAREF] = 0;
  r[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  r[D3DRS_DITHERENABLE] = FALSE;
  r[D3DRS_ALPHABLENDENABLE] = FALSE;
  r[D3DRS_FOGENABLE] = FALSE;
  r[D3DRS_SPECULARENABLE] = FALSE;
  r[D3DRS_FOGCOLOR] = 0;
  r[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
  r[D3DRS_FOGSTART] = FloatAsDword(0.0f);
  r[D3DRS_FOGEND] = FloatAsDword(1.0f);
  r[D3DRS_FOGDENSITY] = FloatAsDword(1.0f);
  r[D3DRS_RANGEFOGENABLE] = FALSE;
  r[D3DRS_STENCILENABLE] = FALSE;
  r[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
  r[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
  r[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
  r[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
  r[D3DRS_STENCILREF] = 0;
  r[D3DRS_STENCILMASK] = 0xFFFFFFFF;
  r[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
  r[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  r[D3DRS_CLIPPING] = TRUE;
  r[D3DRS_LIGHTING] = TRUE;
  r[D3DRS_AMBIENT] = 0;
  r[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
  r[D3DRS_COLORVERTEX] = TRUE;
  r[D3DRS_LOCALVIEWER] = TRUE;
  r[D3DRS_NORMALIZENORMALS] = FALSE;
  r[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  r[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  r[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  r[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  r[D3DRS_POINTSIZE] = FloatAsDword(1.0f);
  r[D3DRS_POINTSIZE_MIN] = FloatAsDword(1.0f);
  r[D3DRS_POINTSCALE_A] = FloatAsDword(1.0f);
  r[D3DRS_POINTSCALE_B] = FloatAsDword(0.0f);
  r[D3DRS_POINTSCALE_C] = FloatAsDword(0.0f);
  r[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
  r[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
  r[D3DRS_POINTSIZE_MAX] = FloatAsDword(64.0f);
  r[D3DRS_COLORWRITEENABLE] = 0xF;
  r[D3DRS_TWEENFACTOR] = FloatAsDword(0.0f);
  r[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  r[D3DRS_POSITIONDEGREE] = 3;  // cubic
  r[D3DRS_NORMALDEGREE] = 1;    // linear
  r[D3DRS_MINTESSELLATIONLEVEL] = FloatAsDword(1.0f);
  r[D3DRS_MAXTESSELLATIONLEVEL] = FloatAsDword(1.0f);
  r[D3DRS_ADAPTIVETESS_W] = FloatAsDword(1.0f);
  r[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
  r[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
  r[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
  r[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
  r[D3DRS_COLORWRITEENABLE1] = 0xF;
  r[D3DRS_COLORWRITEENABLE2] = 0xF;
  r[D3DRS_COLORWRITEENABLE3] = 0xF;
  r[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
  r[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
  r[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
  r[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

  for (DWORD i = 0; i < kMaxStages; ++i) {
    auto& s = stage[i];
    s[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    s[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    s[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    s[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    s[D3DTSS_TEXCOORDINDEX] = i;
    s[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    s[D3DTSS_COLORARG0] = D3DTA_CURRENT;
    s[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
    s[D3DTSS_RESULTARG] = D3DTA_CURRENT;

    auto& p = sampler[i];
    p[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
    p[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
    p[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    p[D3DSAMP_BORDERCOLOR] = 0;
    p[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
    p[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    p[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    p[D3DSAMP_MAXANISOTROPY] = 1;

    textureTransform[i] = IdentityMatrix();
  }
  world = view = projection = IdentityMatrix();
  viewport = {0, 0, width, height, 0.0f, 1.0f};
  scissor = {0, 0, LONG(width), LONG(height)};
}

// Layouts and values are numbered across every device and reset, so a program that
// remembers a number can never mistake another table for the one it bound.
static std::uint64_t NextConstantVersion() {
  static std::atomic<std::uint64_t> next{1};
  return next++;
}

ShaderConstant& ShaderConstants::Slot(const char* name) {
  for (auto& c : values)
    if (c.name == name) return c;
  values.push_back(ShaderConstant{});
  values.back().name = name;
  layoutVersion = NextConstantVersion();
  return values.back();
}

bool ShaderConstants::SetFloats(const char* name, const float* v, UINT count) {
  ShaderConstant& c = Slot(name);
  if (!c.isInt && c.floats.size() == count && std::memcmp(c.floats.data(), v, count * sizeof(float)) == 0) return false;
  c.isInt = false;
  c.floats.assign(v, v + count);
  c.ints.clear();
  c.version = NextConstantVersion();
  return true;
}

bool ShaderConstants::SetInts(const char* name, const int* v, UINT count) {
  ShaderConstant& c = Slot(name);
  if (c.isInt && c.ints.size() == count && std::memcmp(c.ints.data(), v, count * sizeof(int)) == 0) return false;
  c.isInt = true;
  c.ints.assign(v, v + count);
  c.floats.clear();
  c.version = NextConstantVersion();
  return true;
}

}  // namespace gx
