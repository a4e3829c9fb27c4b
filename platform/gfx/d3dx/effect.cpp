// ID3DXEffect on the parsed effect description.
//
// Each pass's shaders are assembled and created on the device when the effect
// is created; a pass whose shaders the device refuses, or whose needs exceed
// the device's capabilities, makes its technique invalid without failing the
// effect. Parameter values live in the effect and reach the device at
// BeginPass and CommitChanges, as in D3DX.

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>

#include "platform/gfx/d3dx/common.h"
#include "platform/gfx/d3dx/effect_parser.h"
#include "platform/gfx/d3dx/shader_link.h"

namespace d3dx {
namespace {

struct Param {
  ParamDesc desc;
  std::vector<float> values;  // numeric parameters (ints and bools stored as floats)
  LPDIRECT3DBASETEXTURE9 texture;
};

struct PassRuntime {
  PassDesc desc;
  std::string handle;                  // stable storage for the pass handle
  std::vector<SamplerBinding> samplers;  // every stage the pass binds a texture parameter to
  std::vector<int> samplerParams;        // parameter of each entry in samplers
  LPDIRECT3DVERTEXSHADER9 vertexShader;
  LPDIRECT3DPIXELSHADER9 pixelShader;
  std::string vertexGlsl, pixelGlsl;
  std::vector<int> vertexUniforms, pixelUniforms;  // numeric parameters each shader reads
  std::set<int> usedParams;
  bool needsCube = false;
  bool valid = true;
};

struct TechniqueRuntime {
  TechniqueDesc desc;
  std::string handle;
  std::deque<PassRuntime> passes;
  bool valid = true;
};

// What Begin saved, to be put back by End.
struct SavedState {
  std::vector<std::pair<DWORD, DWORD>> render;
  std::vector<std::tuple<DWORD, DWORD, DWORD>> stage, sampler;
  std::vector<std::pair<DWORD, LPDIRECT3DBASETEXTURE9>> textures;
  std::vector<std::pair<DWORD, D3DMATRIX>> transforms;
  bool shaders = false;
  LPDIRECT3DVERTEXSHADER9 vertexShader;
  LPDIRECT3DPIXELSHADER9 pixelShader;
};

class Effect final : public ID3DXEffect {
 public:
  Effect(LPDIRECT3DDEVICE9 device, EffectDesc desc, std::vector<std::string> defines)
      : device_(std::move(device)), defines_(std::move(defines)) {
    for (ParamDesc& p : desc.params) {
      Param param;
      param.values = p.defaults;
      param.desc = std::move(p);
      params_.push_back(std::move(param));
    }
    common_ = desc.common;
    commonLine_ = desc.commonLine;
    shaders_ = std::move(desc.shaders);
    for (TechniqueDesc& t : desc.techniques) {
      TechniqueRuntime tr;
      tr.handle = t.name;
      for (PassDesc& p : t.passes) {
        PassRuntime pr;
        pr.handle = p.name;
        pr.desc = std::move(p);
        tr.passes.push_back(std::move(pr));
      }
      tr.desc = std::move(t);
      techniques_.push_back(std::move(tr));
    }
  }

  // Resolves texture stages and uniforms, creates the shaders, decides validity.
  void Prepare() {
    const D3DCAPS9 caps = DeviceCaps(device_.get());
    for (TechniqueRuntime& t : techniques_) {
      for (PassRuntime& p : t.passes) PreparePass(p, caps);
      const Requirements& r = t.desc.needs;
      t.valid = std::all_of(t.passes.begin(), t.passes.end(), [](const PassRuntime& p) { return p.valid; });
      if (r.cubemap && !(caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP)) t.valid = false;
      if (r.pixelShader && caps.PixelShaderVersion < r.pixelShader) t.valid = false;
      if (r.vertexShader && caps.VertexShaderVersion < r.vertexShader) t.valid = false;
    }
  }

  // ---- descriptions and handles
  HRESULT GetDevice(LPDIRECT3DDEVICE9& device) override {
    device = device_;
    return device ? S_OK : D3DERR_INVALIDCALL;
  }
  HRESULT GetDesc(D3DXEFFECT_DESC* desc) override {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Creator = "Quorvanteplidusk effect compiler";
    desc->Parameters = UINT(params_.size());
    desc->Techniques = UINT(techniques_.size());
    desc->Functions = UINT(shaders_.size());
    return S_OK;
  }
  HRESULT GetTechniqueDesc(D3DXHANDLE h, D3DXTECHNIQUE_DESC* desc) override {
    TechniqueRuntime* t = FindTechnique(h);
    if (!t || !desc) return D3DERR_INVALIDCALL;
    desc->Name = t->handle.c_str();
    desc->Passes = UINT(t->passes.size());
    desc->Annotations = 0;
    return S_OK;
  }
  HRESULT GetPassDesc(D3DXHANDLE h, D3DXPASS_DESC* desc) override {
    PassRuntime* p = FindPass(h);
    if (!p || !desc) return D3DERR_INVALIDCALL;
    desc->Name = p->handle.c_str();
    desc->Annotations = 0;
    desc->pVertexShaderFunction =
        p->vertexGlsl.empty() ? nullptr : reinterpret_cast<const DWORD*>(p->vertexGlsl.c_str());
    desc->pPixelShaderFunction = p->pixelGlsl.empty() ? nullptr : reinterpret_cast<const DWORD*>(p->pixelGlsl.c_str());
    return S_OK;
  }
  HRESULT GetParameterDesc(D3DXHANDLE h, D3DXPARAMETER_DESC* desc) override {
    Param* p = FindParam(h);
    if (!p || !desc) return D3DERR_INVALIDCALL;
    std::memset(desc, 0, sizeof *desc);
    desc->Name = p->desc.name.c_str();
    switch (p->desc.type) {
      case ParamType::Float: desc->Class = D3DXPC_SCALAR; desc->Type = D3DXPT_FLOAT; break;
      case ParamType::Int: desc->Class = D3DXPC_SCALAR; desc->Type = D3DXPT_INT; break;
      case ParamType::Bool: desc->Class = D3DXPC_SCALAR; desc->Type = D3DXPT_BOOL; break;
      case ParamType::Vector: desc->Class = D3DXPC_VECTOR; desc->Type = D3DXPT_FLOAT; break;
      case ParamType::Matrix: desc->Class = D3DXPC_MATRIX_ROWS; desc->Type = D3DXPT_FLOAT; break;
      case ParamType::Texture2D: desc->Class = D3DXPC_OBJECT; desc->Type = D3DXPT_TEXTURE2D; break;
      case ParamType::TextureCube: desc->Class = D3DXPC_OBJECT; desc->Type = D3DXPT_TEXTURECUBE; break;
    }
    desc->Rows = p->desc.type == ParamType::Matrix ? 4 : 1;
    desc->Columns = p->desc.type == ParamType::Matrix ? 4 : std::max(1u, p->desc.components);
    desc->Bytes = p->desc.components * 4;
    return S_OK;
  }

  D3DXHANDLE GetParameter(D3DXHANDLE parent, UINT index) override {
    if (parent || index >= params_.size()) return nullptr;
    return params_[index].desc.name.c_str();
  }
  D3DXHANDLE GetParameterByName(D3DXHANDLE parent, LPCSTR name) override {
    if (parent || !name) return nullptr;
    for (Param& p : params_)
      if (p.desc.name == name) return p.desc.name.c_str();
    return nullptr;
  }
  D3DXHANDLE GetTechnique(UINT index) override {
    return index < techniques_.size() ? techniques_[index].handle.c_str() : nullptr;
  }
  D3DXHANDLE GetTechniqueByName(LPCSTR name) override {
    if (!name) return nullptr;
    for (TechniqueRuntime& t : techniques_)
      if (t.handle == name) return t.handle.c_str();
    return nullptr;
  }
  D3DXHANDLE GetPass(D3DXHANDLE technique, UINT index) override {
    TechniqueRuntime* t = FindTechnique(technique);
    if (!t || index >= t->passes.size()) return nullptr;
    return t->passes[index].handle.c_str();
  }

  // ---- techniques
  HRESULT SetTechnique(D3DXHANDLE h) override {
    const int i = TechniqueIndex(h);
    if (i < 0 || begun_) return D3DERR_INVALIDCALL;
    current_ = std::size_t(i);
    return S_OK;
  }
  D3DXHANDLE GetCurrentTechnique() override { return techniques_[current_].handle.c_str(); }
  HRESULT ValidateTechnique(D3DXHANDLE h) override {
    TechniqueRuntime* t = h ? FindTechnique(h) : &techniques_[current_];
    if (!t) return D3DERR_INVALIDCALL;
    return t->valid ? S_OK : E_FAIL;
  }
  HRESULT FindNextValidTechnique(D3DXHANDLE h, D3DXHANDLE* next) override {
    if (!next) return D3DERR_INVALIDCALL;
    *next = nullptr;
    std::size_t start = 0;
    if (h) {
      const int i = TechniqueIndex(h);
      if (i < 0) return D3DERR_INVALIDCALL;
      start = std::size_t(i) + 1;
    }
    for (std::size_t i = start; i < techniques_.size(); ++i)
      if (techniques_[i].valid) {
        *next = techniques_[i].handle.c_str();
        return S_OK;
      }
    return S_FALSE;
  }
  BOOL IsParameterUsed(D3DXHANDLE param, D3DXHANDLE technique) override {
    const int index = ParamIndex(param);
    TechniqueRuntime* t = technique ? FindTechnique(technique) : &techniques_[current_];
    if (index < 0 || !t) return FALSE;
    for (const PassRuntime& pass : t->passes)
      if (pass.usedParams.count(index)) return TRUE;
    return FALSE;
  }

  // ---- parameters
  HRESULT SetFloat(D3DXHANDLE h, float v) override { return SetFloatArray(h, &v, 1); }
  HRESULT GetFloat(D3DXHANDLE h, float* v) override {
    Param* p = FindParam(h);
    if (!p || !v || !p->desc.IsNumeric()) return D3DERR_INVALIDCALL;
    *v = p->values[0];
    return S_OK;
  }
  HRESULT SetFloatArray(D3DXHANDLE h, const float* v, UINT count) override {
    Param* p = FindParam(h);
    if (!p || !p->desc.IsNumeric() || (!v && count)) return D3DERR_INVALIDCALL;
    const UINT n = std::min<UINT>(count, UINT(p->values.size()));
    for (UINT i = 0; i < n; ++i) p->values[i] = Normalise(*p, v[i]);
    return S_OK;
  }
  HRESULT SetInt(D3DXHANDLE h, INT v) override {
    const float f = float(v);
    return SetFloatArray(h, &f, 1);
  }
  HRESULT GetInt(D3DXHANDLE h, INT* v) override {
    float f;
    HRESULT hr = GetFloat(h, &f);
    if (SUCCEEDED(hr)) *v = INT(f);
    return hr;
  }
  HRESULT SetBool(D3DXHANDLE h, BOOL v) override { return SetFloat(h, v ? 1.0f : 0.0f); }
  HRESULT SetVector(D3DXHANDLE h, const D3DXVECTOR4* v) override {
    if (!v) return D3DERR_INVALIDCALL;
    const float f[4] = {v->x, v->y, v->z, v->w};
    Param* p = FindParam(h);
    if (!p || p->desc.type == ParamType::Matrix) return D3DERR_INVALIDCALL;
    return SetFloatArray(h, f, 4);
  }
  HRESULT GetVector(D3DXHANDLE h, D3DXVECTOR4* v) override {
    Param* p = FindParam(h);
    if (!p || !v || !p->desc.IsNumeric() || p->desc.type == ParamType::Matrix) return D3DERR_INVALIDCALL;
    float f[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < p->values.size() && i < 4; ++i) f[i] = p->values[i];
    *v = D3DXVECTOR4(f[0], f[1], f[2], f[3]);
    return S_OK;
  }
  HRESULT SetMatrix(D3DXHANDLE h, const D3DMATRIX* m) override {
    Param* p = FindParam(h);
    if (!p || !m || p->desc.type != ParamType::Matrix) return D3DERR_INVALIDCALL;
    std::memcpy(p->values.data(), &m->_11, 16 * sizeof(float));
    return S_OK;
  }
  HRESULT GetMatrix(D3DXHANDLE h, D3DMATRIX* m) override {
    Param* p = FindParam(h);
    if (!p || !m || p->desc.type != ParamType::Matrix) return D3DERR_INVALIDCALL;
    std::memcpy(&m->_11, p->values.data(), 16 * sizeof(float));
    return S_OK;
  }
  HRESULT SetTexture(D3DXHANDLE h, const LPDIRECT3DBASETEXTURE9& texture) override {
    Param* p = FindParam(h);
    if (!p || !p->desc.IsTexture()) return D3DERR_INVALIDCALL;
    if (texture) {
      const D3DRESOURCETYPE want = p->desc.type == ParamType::TextureCube ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE;
      if (texture->GetType() != want) return D3DERR_INVALIDCALL;
    }
    p->texture = texture;
    return S_OK;
  }
  HRESULT GetTexture(D3DXHANDLE h, LPDIRECT3DBASETEXTURE9& texture) override {
    Param* p = FindParam(h);
    if (!p || !p->desc.IsTexture()) return D3DERR_INVALIDCALL;
    texture = p->texture;
    return S_OK;
  }

  // ---- drawing
  HRESULT Begin(UINT* passes, DWORD flags) override {
    if (begun_ || !device_) return D3DERR_INVALIDCALL;
    begun_ = true;
    activePass_ = -1;
    saved_ = SavedState();
    if (!(flags & D3DXFX_DONOTSAVESTATE)) Save(flags);
    if (passes) *passes = UINT(techniques_[current_].passes.size());
    return S_OK;
  }
  HRESULT BeginPass(UINT index) override {
    TechniqueRuntime& t = techniques_[current_];
    if (!begun_ || activePass_ >= 0 || index >= t.passes.size()) return D3DERR_INVALIDCALL;
    PassRuntime& p = t.passes[index];
    activePass_ = int(index);
    for (const StateAssign& a : p.desc.states) {
      if (a.kind == StateKind::Render && a.param < 0)
        device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(a.id), a.value);
      else if (a.kind == StateKind::Stage && a.param < 0)
        device_->SetTextureStageState(a.index, static_cast<D3DTEXTURESTAGESTATETYPE>(a.id), a.value);
      else if (a.kind == StateKind::Sampler && a.param < 0)
        device_->SetSamplerState(a.index, static_cast<D3DSAMPLERSTATETYPE>(a.id), a.value);
    }
    device_->SetVertexShader(p.vertexShader);
    device_->SetPixelShader(p.pixelShader);
    ApplyParameters(p);
    return S_OK;
  }
  HRESULT CommitChanges() override {
    if (!begun_ || activePass_ < 0) return D3DERR_INVALIDCALL;
    ApplyParameters(techniques_[current_].passes[std::size_t(activePass_)]);
    return S_OK;
  }
  HRESULT EndPass() override {
    if (activePass_ < 0) return D3DERR_INVALIDCALL;
    activePass_ = -1;
    return S_OK;
  }
  HRESULT End() override {
    if (!begun_) return D3DERR_INVALIDCALL;
    begun_ = false;
    activePass_ = -1;
    Restore();
    return S_OK;
  }

  HRESULT OnLostDevice() override { return S_OK; }
  HRESULT OnResetDevice() override { return S_OK; }

 private:
  static float Normalise(const Param& p, float v) {
    if (p.desc.type == ParamType::Int) return float(int(v));
    if (p.desc.type == ParamType::Bool) return v != 0.0f ? 1.0f : 0.0f;
    return v;
  }

  // Index of a technique handle (pointer first, then name); -1 when unknown.
  int TechniqueIndex(D3DXHANDLE h) const {
    if (!h) return -1;
    for (std::size_t i = 0; i < techniques_.size(); ++i)
      if (techniques_[i].handle.c_str() == h) return int(i);
    for (std::size_t i = 0; i < techniques_.size(); ++i)
      if (!techniques_[i].handle.empty() && techniques_[i].handle == h) return int(i);
    return -1;
  }
  TechniqueRuntime* FindTechnique(D3DXHANDLE h) {
    const int i = TechniqueIndex(h);
    return i < 0 ? nullptr : &techniques_[std::size_t(i)];
  }
  PassRuntime* FindPass(D3DXHANDLE h) {
    if (!h) return nullptr;
    for (TechniqueRuntime& t : techniques_)
      for (PassRuntime& p : t.passes)
        if (p.handle.c_str() == h) return &p;
    return nullptr;
  }
  int ParamIndex(D3DXHANDLE h) const {
    if (!h) return -1;
    for (std::size_t i = 0; i < params_.size(); ++i)
      if (params_[i].desc.name.c_str() == h) return int(i);
    for (std::size_t i = 0; i < params_.size(); ++i)
      if (params_[i].desc.name == h) return int(i);
    return -1;
  }
  Param* FindParam(D3DXHANDLE h) {
    const int i = ParamIndex(h);
    return i < 0 ? nullptr : &params_[std::size_t(i)];
  }

  void PreparePass(PassRuntime& p, const D3DCAPS9& caps) {
    const int vsIndex = ShaderOf(p, StateKind::VertexShader), psIndex = ShaderOf(p, StateKind::PixelShader);
    const std::string commonCode = StripComments(common_);
    const std::string vsCode = vsIndex >= 0 ? commonCode + StripComments(shaders_[vsIndex].source) : "";
    const std::string psCode = psIndex >= 0 ? commonCode + StripComments(shaders_[psIndex].source) : "";

    // Stages named by the pass, then the texture parameters the shaders read on the next free stages.
    std::vector<bool> taken(8, false);
    for (const StateAssign& a : p.desc.states) {
      if (a.param >= 0) p.usedParams.insert(a.param);
      if (a.kind == StateKind::Texture) {
        taken[a.index] = true;
        if (a.param >= 0) AddSampler(p, int(a.index), a.param);
      }
    }
    for (std::size_t i = 0; i < params_.size(); ++i) {
      const ParamDesc& d = params_[i].desc;
      const bool inVs = MentionsIdentifier(vsCode, d.name), inPs = MentionsIdentifier(psCode, d.name);
      if (!inVs && !inPs) continue;
      p.usedParams.insert(int(i));
      if (d.IsNumeric()) {
        if (inVs) p.vertexUniforms.push_back(int(i));
        if (inPs) p.pixelUniforms.push_back(int(i));
      } else if (std::find(p.samplerParams.begin(), p.samplerParams.end(), int(i)) == p.samplerParams.end()) {
        const auto free = std::find(taken.begin(), taken.end(), false);
        if (free == taken.end()) {
          DebugLog("effect: pass '" + p.desc.name + "' reads more than 8 textures");
          p.valid = false;
          continue;
        }
        *free = true;
        AddSampler(p, int(free - taken.begin()), int(i));
      }
    }
    for (int param : p.samplerParams)
      if (params_[param].desc.type == ParamType::TextureCube) p.needsCube = true;

    if (p.needsCube && !(caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP)) p.valid = false;
    if (psIndex >= 0 && caps.PixelShaderVersion < D3DPS_VERSION(2, 0)) p.valid = false;
    if (vsIndex >= 0 && caps.VertexShaderVersion < D3DVS_VERSION(2, 0)) p.valid = false;
    if (!p.valid) return;
    if (vsIndex >= 0 && !CreateShader(p, shaders_[vsIndex], p.vertexUniforms, p.vertexGlsl)) p.valid = false;
    if (psIndex >= 0 && !CreateShader(p, shaders_[psIndex], p.pixelUniforms, p.pixelGlsl)) p.valid = false;
  }

  static int ShaderOf(const PassRuntime& p, StateKind kind) {
    int shader = -1;
    for (const StateAssign& a : p.desc.states)
      if (a.kind == kind) shader = a.shader;
    return shader;
  }

  void AddSampler(PassRuntime& p, int stage, int param) {
    SamplerBinding b;
    b.stage = stage;
    b.cube = params_[param].desc.type == ParamType::TextureCube;
    // One name stands for one stage: the first binding of a parameter gives its alias.
    const bool aliased = std::find(p.samplerParams.begin(), p.samplerParams.end(), param) != p.samplerParams.end();
    if (!aliased) b.alias = params_[param].desc.name;
    // A stage bound twice in one pass keeps its last parameter, as the states apply in order.
    for (std::size_t i = 0; i < p.samplers.size(); ++i)
      if (p.samplers[i].stage == stage) {
        p.samplers.erase(p.samplers.begin() + long(i));
        p.samplerParams.erase(p.samplerParams.begin() + long(i));
        break;
      }
    p.samplers.push_back(b);
    p.samplerParams.push_back(param);
  }

  bool CreateShader(PassRuntime& p, const ShaderBlock& block, const std::vector<int>& uniforms, std::string& glsl) {
    GlslRequest r;
    r.stage = block.stage;
    // Line directives make the driver's messages point at lines of the effect file.
    r.source = "#line " + std::to_string(block.line) + "\n" + block.source;
    if (!common_.empty()) r.source = "#line " + std::to_string(commonLine_) + "\n" + common_ + "\n" + r.source;
    r.entry = "main";
    r.defines = defines_;
    for (int i : uniforms) r.uniforms.push_back({params_[i].desc.GlslType(), params_[i].desc.name, 0});
    r.samplers = p.samplers;
    std::string error;
    if (!CheckSource(r, error)) {
      DebugLog("effect shader '" + block.name + "': " + error);
      return false;
    }
    glsl = BuildGlsl(r);
    const DWORD* code = reinterpret_cast<const DWORD*>(glsl.c_str());
    HRESULT hr;
    if (block.stage == ShaderStage::Vertex) {
      hr = device_->CreateVertexShader(code, p.vertexShader);
    } else {
      hr = device_->CreatePixelShader(code, p.pixelShader);
    }
    if (FAILED(hr)) DebugLog("effect shader '" + block.name + "' was not accepted by the device");
    return SUCCEEDED(hr);
  }

  // Textures, parameter-valued states, texture transforms and shader uniforms.
  void ApplyParameters(PassRuntime& p) {
    for (const StateAssign& a : p.desc.states) {
      if (a.param < 0) continue;
      const Param& param = params_[a.param];
      if (a.kind == StateKind::TextureTransform) {
        D3DMATRIX m;
        std::memcpy(&m._11, param.values.data(), sizeof m);
        device_->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + a.index), &m);
        continue;
      }
      if (a.kind == StateKind::Texture) continue;  // with the samplers below
      const float v = param.values[0];
      DWORD value;
      if (a.floatState) std::memcpy(&value, &v, sizeof value);
      else value = v < 0 ? DWORD(std::int32_t(v)) : DWORD(v);
      if (a.kind == StateKind::Render) device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(a.id), value);
      else if (a.kind == StateKind::Stage)
        device_->SetTextureStageState(a.index, static_cast<D3DTEXTURESTAGESTATETYPE>(a.id), value);
      else if (a.kind == StateKind::Sampler)
        device_->SetSamplerState(a.index, static_cast<D3DSAMPLERSTATETYPE>(a.id), value);
    }
    for (const StateAssign& a : p.desc.states)
      if (a.kind == StateKind::Texture && a.param < 0) device_->SetTexture(a.index, nullptr);
    for (std::size_t i = 0; i < p.samplers.size(); ++i)
      device_->SetTexture(DWORD(p.samplers[i].stage), params_[p.samplerParams[i]].texture);
    if (p.vertexShader) SetShaderConstants(ShaderStage::Vertex, p.vertexUniforms);
    if (p.pixelShader) SetShaderConstants(ShaderStage::Pixel, p.pixelUniforms);
  }

  // Uniform parameters become the device's shader constants, as a constant table sets them.
  void SetShaderConstants(ShaderStage stage, const std::vector<int>& uniforms) {
    const bool pixel = stage == ShaderStage::Pixel;
    for (int i : uniforms) {
      const Param& p = params_[i];
      const char* name = p.desc.name.c_str();
      if (p.desc.type == ParamType::Int || p.desc.type == ParamType::Bool) {
        const int v = int(p.values[0]);
        pixel ? device_->GxSetPixelShaderConstantI(name, &v, 1) : device_->GxSetVertexShaderConstantI(name, &v, 1);
      } else {
        // Matrices are 16 floats as stored, like every other float parameter.
        const UINT n = UINT(p.values.size());
        pixel ? device_->GxSetPixelShaderConstantF(name, p.values.data(), n)
              : device_->GxSetVertexShaderConstantF(name, p.values.data(), n);
      }
    }
  }

  void Save(DWORD flags) {
    const TechniqueRuntime& t = techniques_[current_];
    std::set<DWORD> render;
    std::set<std::pair<DWORD, DWORD>> stage, sampler;
    std::set<DWORD> textures, transforms;
    for (const PassRuntime& p : t.passes) {
      for (const StateAssign& a : p.desc.states) {
        switch (a.kind) {
          case StateKind::Render: render.insert(a.id); break;
          case StateKind::Stage: stage.insert({a.index, a.id}); break;
          case StateKind::Sampler:
            if (!(flags & D3DXFX_DONOTSAVESAMPLERSTATE)) sampler.insert({a.index, a.id});
            break;
          case StateKind::Texture: textures.insert(a.index); break;
          case StateKind::TextureTransform: transforms.insert(D3DTS_TEXTURE0 + a.index); break;
          default: break;
        }
      }
      for (const SamplerBinding& b : p.samplers) textures.insert(DWORD(b.stage));
    }
    for (DWORD id : render) {
      DWORD v = 0;
      if (SUCCEEDED(device_->GetRenderState(static_cast<D3DRENDERSTATETYPE>(id), &v))) saved_.render.push_back({id, v});
    }
    for (auto [index, id] : stage) {
      DWORD v = 0;
      if (SUCCEEDED(device_->GetTextureStageState(index, static_cast<D3DTEXTURESTAGESTATETYPE>(id), &v)))
        saved_.stage.emplace_back(index, id, v);
    }
    for (auto [index, id] : sampler) {
      DWORD v = 0;
      if (SUCCEEDED(device_->GetSamplerState(index, static_cast<D3DSAMPLERSTATETYPE>(id), &v)))
        saved_.sampler.emplace_back(index, id, v);
    }
    for (DWORD s : textures) {
      LPDIRECT3DBASETEXTURE9 tex;
      if (SUCCEEDED(device_->GetTexture(s, tex))) saved_.textures.push_back({s, tex});
    }
    for (DWORD ts : transforms) {
      D3DMATRIX m;
      if (SUCCEEDED(device_->GetTransform(static_cast<D3DTRANSFORMSTATETYPE>(ts), &m))) saved_.transforms.push_back({ts, m});
    }
    if (!(flags & D3DXFX_DONOTSAVESHADERSTATE)) {
      saved_.shaders = true;
      device_->GetVertexShader(saved_.vertexShader);
      device_->GetPixelShader(saved_.pixelShader);
    }
  }

  void Restore() {
    for (auto& [id, v] : saved_.render) device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(id), v);
    for (auto& [index, id, v] : saved_.stage)
      device_->SetTextureStageState(index, static_cast<D3DTEXTURESTAGESTATETYPE>(id), v);
    for (auto& [index, id, v] : saved_.sampler)
      device_->SetSamplerState(index, static_cast<D3DSAMPLERSTATETYPE>(id), v);
    for (auto& [s, tex] : saved_.textures) device_->SetTexture(s, tex);
    for (auto& [ts, m] : saved_.transforms) device_->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(ts), &m);
    if (saved_.shaders) {
      device_->SetVertexShader(saved_.vertexShader);
      device_->SetPixelShader(saved_.pixelShader);
    }
    saved_ = SavedState();
  }

  LPDIRECT3DDEVICE9 device_;
  std::vector<std::string> defines_;
  std::deque<Param> params_;
  std::string common_;
  int commonLine_ = 0;
  std::vector<ShaderBlock> shaders_;
  std::deque<TechniqueRuntime> techniques_;
  std::size_t current_ = 0;
  bool begun_ = false;
  int activePass_ = -1;
  SavedState saved_;
};

}  // namespace
}  // namespace d3dx

HRESULT D3DXCreateEffect(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT dataLength, const D3DXMACRO* defines,
                         LPD3DXINCLUDE include, DWORD flags, LPD3DXEFFECTPOOL pool, LPD3DXEFFECT* effect,
                         LPD3DXBUFFER* errors) {
  using namespace d3dx;
  if (effect) effect->reset();
  if (errors) errors->reset();
  if (!device || !data || !effect) return D3DERR_INVALIDCALL;
  const char* text = static_cast<const char*>(data);
  // A terminating NUL inside the length is allowed, as for files read whole with one appended.
  std::string source(text, dataLength);
  while (!source.empty() && source.back() == '\0') source.pop_back();
  // A text saved with a UTF-8 byte-order mark is the same text.
  if (source.rfind("\xEF\xBB\xBF", 0) == 0) source.erase(0, 3);
  EffectDesc desc;
  std::string error;
  if (!ParseEffect(source, desc, error)) {
    DebugLog("effect: " + error);
    if (errors) *errors = MakeTextBuffer("effect: " + error + "\n");
    return D3DXERR_INVALIDDATA;
  }
  auto created = std::make_shared<Effect>(device, std::move(desc), MacroLines(defines));
  created->Prepare();
  *effect = std::move(created);
  return S_OK;
}
