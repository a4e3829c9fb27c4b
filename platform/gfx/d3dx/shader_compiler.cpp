// D3DXCompileShader and ID3DXConstantTable.
//
// The code buffer is the complete GLSL program. A constant table describes the
// source's uniforms and sets their values through the device it is given, as
// Direct3D 9's tables set constant registers: the values are device state and
// reach whichever shader of that stage declares the name, now or later.

#include <algorithm>
#include <cstring>

#include "platform/gfx/d3dx/common.h"
#include "platform/gfx/d3dx/glsl_build.h"
#include "platform/gfx/d3dx/shader_link.h"

namespace d3dx {
namespace {

struct Constant {
  UniformDecl decl;
  std::string handleName;  // stable storage: the handle given out
  UINT registerIndex = 0;
  UINT components = 1;     // per element
  bool isInt = false;      // int, ivecN, bool
  bool isMatrix = false;
  bool isSampler = false;
  std::vector<float> floats;  // the whole value, as last set (a partial set keeps the rest)
  std::vector<int> ints;

  UINT Count() const { return components * std::max(1u, decl.elements); }
};

void Describe(const std::string& type, Constant& c) {
  c.components = 1;
  if (type == "int" || type == "bool") c.isInt = true;
  else if (type == "vec2") c.components = 2;
  else if (type == "vec3") c.components = 3;
  else if (type == "vec4") c.components = 4;
  else if (type == "ivec2" || type == "ivec3" || type == "ivec4") { c.isInt = true; c.components = type[4] - '0'; }
  else if (type == "mat3") { c.isMatrix = true; c.components = 9; }
  else if (type == "mat4") { c.isMatrix = true; c.components = 16; }
  else if (type.rfind("sampler", 0) == 0) c.isSampler = true;
}

class ConstantTable final : public ID3DXConstantTable {
 public:
  ConstantTable(ShaderStage stage, const std::vector<UniformDecl>& uniforms) : stage_(stage) {
    UINT reg = 0;
    constants_.reserve(uniforms.size());
    for (const UniformDecl& u : uniforms) {
      if (std::any_of(constants_.begin(), constants_.end(), [&](const Constant& c) { return c.decl.name == u.name; }))
        continue;
      Constant c;
      c.decl = u;
      c.handleName = u.name;
      Describe(u.glslType, c);
      c.registerIndex = reg;
      reg += c.isMatrix ? 4 * std::max(1u, u.elements) : std::max(1u, u.elements);
      c.floats.assign(c.isInt ? 0 : c.Count(), 0.0f);
      c.ints.assign(c.isInt ? c.Count() : 0, 0);
      constants_.push_back(std::move(c));
    }
  }

  HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) override {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Creator = "Quorvanteplidusk GLSL shader compiler";
    desc->Version = 0;
    desc->Constants = UINT(constants_.size());
    return S_OK;
  }

  D3DXHANDLE GetConstant(D3DXHANDLE parent, UINT index) override {
    if (parent || index >= constants_.size()) return nullptr;
    return constants_[index].handleName.c_str();
  }

  D3DXHANDLE GetConstantByName(D3DXHANDLE parent, LPCSTR name) override {
    if (parent || !name) return nullptr;
    Constant* c = Find(name);
    return c ? c->handleName.c_str() : nullptr;
  }

  HRESULT GetConstantDesc(D3DXHANDLE handle, D3DXCONSTANT_DESC* desc, UINT* count) override {
    Constant* c = Find(handle);
    if (!c) return D3DERR_INVALIDCALL;
    if (count) *count = 1;
    if (desc) {
      desc->Name = c->handleName.c_str();
      desc->RegisterSet = c->isSampler ? D3DXRS_SAMPLER : c->isInt ? D3DXRS_INT4 : D3DXRS_FLOAT4;
      desc->RegisterIndex = c->registerIndex;
      desc->RegisterCount = c->isMatrix ? 4 : 1;
      desc->Class = c->isSampler ? D3DXPC_OBJECT
                    : c->isMatrix ? D3DXPC_MATRIX_COLUMNS
                    : c->components > 1 ? D3DXPC_VECTOR
                                        : D3DXPC_SCALAR;
      desc->Type = c->isSampler ? D3DXPT_SAMPLER2D
                   : c->decl.glslType == "bool" ? D3DXPT_BOOL
                   : c->isInt ? D3DXPT_INT
                              : D3DXPT_FLOAT;
      desc->Rows = c->isMatrix ? (c->components == 9 ? 3 : 4) : 1;
      desc->Columns = c->isMatrix ? desc->Rows : c->components;
      desc->Elements = std::max(1u, c->decl.elements);
      desc->StructMembers = 0;
      desc->Bytes = c->Count() * 4;
      desc->DefaultValue = nullptr;
    }
    return S_OK;
  }

  HRESULT SetDefaults(const LPDIRECT3DDEVICE9&) override { return S_OK; }

  HRESULT SetFloat(const LPDIRECT3DDEVICE9& d, D3DXHANDLE h, float v) override { return SetFloatArray(d, h, &v, 1); }
  HRESULT SetInt(const LPDIRECT3DDEVICE9& d, D3DXHANDLE h, INT v) override { return SetIntArray(d, h, &v, 1); }
  HRESULT SetBool(const LPDIRECT3DDEVICE9& d, D3DXHANDLE h, BOOL v) override {
    const INT i = v ? 1 : 0;
    return SetIntArray(d, h, &i, 1);
  }
  HRESULT SetVector(const LPDIRECT3DDEVICE9& d, D3DXHANDLE h, const D3DXVECTOR4* v) override {
    if (!v) return D3DERR_INVALIDCALL;
    const float f[4] = {v->x, v->y, v->z, v->w};
    return SetFloatArray(d, h, f, 4);
  }
  HRESULT SetMatrix(const LPDIRECT3DDEVICE9& d, D3DXHANDLE h, const D3DMATRIX* m) override {
    if (!m) return D3DERR_INVALIDCALL;
    Constant* c = Find(h);
    if (!c || !c->isMatrix) return D3DERR_INVALIDCALL;
    if (c->components == 16) return SetFloatArray(d, h, &m->_11, 16);
    const float m3[9] = {m->_11, m->_12, m->_13, m->_21, m->_22, m->_23, m->_31, m->_32, m->_33};
    return SetFloatArray(d, h, m3, 9);
  }

  HRESULT SetFloatArray(const LPDIRECT3DDEVICE9& device, D3DXHANDLE h, const float* v, UINT count) override {
    Constant* c = Find(h);
    if (!device || !c || c->isSampler || (!v && count)) return D3DERR_INVALIDCALL;
    const UINT n = std::min(count, c->Count());
    for (UINT i = 0; i < n; ++i) {
      if (c->isInt) c->ints[i] = int(v[i]);
      else c->floats[i] = v[i];
    }
    return Send(*device, *c);
  }

  HRESULT SetIntArray(const LPDIRECT3DDEVICE9& device, D3DXHANDLE h, const INT* v, UINT count) override {
    Constant* c = Find(h);
    if (!device || !c || c->isSampler || (!v && count)) return D3DERR_INVALIDCALL;
    const UINT n = std::min(count, c->Count());
    for (UINT i = 0; i < n; ++i) {
      if (c->isInt) c->ints[i] = v[i];
      else c->floats[i] = float(v[i]);
    }
    return Send(*device, *c);
  }

 private:
  Constant* Find(D3DXHANDLE h) {
    if (!h) return nullptr;
    for (Constant& c : constants_)
      if (c.handleName.c_str() == h) return &c;
    for (Constant& c : constants_)
      if (c.handleName == h) return &c;
    return nullptr;
  }

  HRESULT Send(IDirect3DDevice9& device, const Constant& c) const {
    const char* name = c.decl.name.c_str();
    HRESULT hr;
    if (stage_ == ShaderStage::Pixel)
      hr = c.isInt ? device.GxSetPixelShaderConstantI(name, c.ints.data(), UINT(c.ints.size()))
                   : device.GxSetPixelShaderConstantF(name, c.floats.data(), UINT(c.floats.size()));
    else
      hr = c.isInt ? device.GxSetVertexShaderConstantI(name, c.ints.data(), UINT(c.ints.size()))
                   : device.GxSetVertexShaderConstantF(name, c.floats.data(), UINT(c.floats.size()));
    return FAILED(hr) ? hr : S_OK;
  }

  ShaderStage stage_;
  std::vector<Constant> constants_;
};

}  // namespace

bool ProfileStage(const char* profile, ShaderStage& stage) {
  if (!profile) return false;
  const std::string p = profile;
  static const char* kPixel[] = {"ps_2_0", "ps_2_a", "ps_2_b", "ps_2_x", "ps_3_0"};
  static const char* kVertex[] = {"vs_2_0", "vs_2_a", "vs_2_x", "vs_3_0"};
  for (const char* k : kPixel)
    if (p == k) { stage = ShaderStage::Pixel; return true; }
  for (const char* k : kVertex)
    if (p == k) { stage = ShaderStage::Vertex; return true; }
  return false;
}

std::vector<std::string> MacroLines(const D3DXMACRO* defines) {
  std::vector<std::string> out;
  for (const D3DXMACRO* d = defines; d && d->Name; ++d)
    out.push_back(std::string(d->Name) + " " + (d->Definition ? d->Definition : ""));
  return out;
}

}  // namespace d3dx

HRESULT D3DXCompileShader(LPCSTR source, UINT sourceLength, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                          LPCSTR function, LPCSTR profile, DWORD flags, LPD3DXBUFFER* shader, LPD3DXBUFFER* errors,
                          LPD3DXCONSTANTTABLE* constantTable) {
  using namespace d3dx;
  if (shader) shader->reset();
  if (errors) errors->reset();
  if (constantTable) constantTable->reset();
  auto fail = [&](const std::string& message) {
    DebugLog(std::string("shader '") + (function ? function : "?") + "': " + message);
    if (errors) *errors = MakeTextBuffer(message + "\n");
    return D3DXERR_INVALIDDATA;
  };
  if (!source || !function) return D3DERR_INVALIDCALL;
  ShaderStage stage;
  if (!ProfileStage(profile, stage)) return fail(std::string("error: unsupported profile '") + (profile ? profile : "") + "'");

  GlslRequest request;
  request.stage = stage;
  // The text may or may not carry its own terminating NUL within the length.
  request.source.assign(source, strnlen(source, sourceLength));
  // A text saved with a UTF-8 byte-order mark is the same text.
  if (request.source.rfind("\xEF\xBB\xBF", 0) == 0) request.source.erase(0, 3);
  request.entry = function;
  request.defines = MacroLines(defines);
  request.marker = std::string("gx-shader ") + function;
  std::string error;
  if (!CheckSource(request, error)) return fail(error);

  const std::string glsl = BuildGlsl(request);
  LPD3DXBUFFER code = MakeTextBuffer(glsl);
  if (constantTable) {
    std::vector<UniformDecl> uniforms = ScanUniforms(StripComments(request.source));
    *constantTable = std::make_shared<ConstantTable>(stage, uniforms);
  }
  if (shader) *shader = code;
  return S_OK;
}
