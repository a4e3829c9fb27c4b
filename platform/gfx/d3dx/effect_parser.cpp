// Reader of the effect text format. A small tokenizer feeds a recursive
// descent parser; shader bodies are taken verbatim between their braces.

#include "platform/gfx/d3dx/effect_parser.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/gfx/device_state.h"

namespace d3dx {

std::string ParamDesc::GlslType() const {
  switch (type) {
    case ParamType::Float: return "float";
    case ParamType::Int: return "int";
    case ParamType::Bool: return "bool";
    case ParamType::Vector: return "vec" + std::to_string(components);
    case ParamType::Matrix: return "mat4";
    default: return "";
  }
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---------------------------------------------------------------------------
// Values of the states, by kind

enum class ValueKind { Bool, Dword, Float, Color, Cull, Fill, Shade, Blend, BlendOp, Cmp, TexOp, TexArg, TexCoordIndex,
                       TransformFlags, Address, Filter, MaterialSource, FogMode, ZBuffer };

using NameTable = std::map<std::string, DWORD>;

const NameTable& Names(ValueKind kind) {
  static const NameTable kBool = {{"true", 1}, {"false", 0}};
  static const NameTable kEmpty = {};
  static const NameTable kCull = {{"none", D3DCULL_NONE}, {"cw", D3DCULL_CW}, {"ccw", D3DCULL_CCW}};
  static const NameTable kFill = {{"point", D3DFILL_POINT}, {"wireframe", D3DFILL_WIREFRAME}, {"solid", D3DFILL_SOLID}};
  static const NameTable kShade = {{"flat", D3DSHADE_FLAT}, {"gouraud", D3DSHADE_GOURAUD}, {"phong", D3DSHADE_PHONG}};
  static const NameTable kBlend = {
      {"zero", D3DBLEND_ZERO},           {"one", D3DBLEND_ONE},
      {"srccolor", D3DBLEND_SRCCOLOR},   {"invsrccolor", D3DBLEND_INVSRCCOLOR},
      {"srcalpha", D3DBLEND_SRCALPHA},   {"invsrcalpha", D3DBLEND_INVSRCALPHA},
      {"destalpha", D3DBLEND_DESTALPHA}, {"invdestalpha", D3DBLEND_INVDESTALPHA},
      {"destcolor", D3DBLEND_DESTCOLOR}, {"invdestcolor", D3DBLEND_INVDESTCOLOR},
      {"srcalphasat", D3DBLEND_SRCALPHASAT}};
  static const NameTable kBlendOp = {{"add", D3DBLENDOP_ADD}, {"subtract", D3DBLENDOP_SUBTRACT},
                                     {"revsubtract", D3DBLENDOP_REVSUBTRACT}, {"min", D3DBLENDOP_MIN},
                                     {"max", D3DBLENDOP_MAX}};
  static const NameTable kCmp = {{"never", D3DCMP_NEVER},     {"less", D3DCMP_LESS},
                                 {"equal", D3DCMP_EQUAL},     {"lessequal", D3DCMP_LESSEQUAL},
                                 {"greater", D3DCMP_GREATER}, {"notequal", D3DCMP_NOTEQUAL},
                                 {"greaterequal", D3DCMP_GREATEREQUAL}, {"always", D3DCMP_ALWAYS}};
  static const NameTable kTexOp = {
      {"disable", D3DTOP_DISABLE},       {"selectarg1", D3DTOP_SELECTARG1}, {"selectarg2", D3DTOP_SELECTARG2},
      {"modulate", D3DTOP_MODULATE},     {"modulate2x", D3DTOP_MODULATE2X}, {"modulate4x", D3DTOP_MODULATE4X},
      {"add", D3DTOP_ADD},               {"addsigned", D3DTOP_ADDSIGNED},   {"addsigned2x", D3DTOP_ADDSIGNED2X},
      {"subtract", D3DTOP_SUBTRACT},     {"addsmooth", D3DTOP_ADDSMOOTH},
      {"blenddiffusealpha", D3DTOP_BLENDDIFFUSEALPHA}, {"blendtexturealpha", D3DTOP_BLENDTEXTUREALPHA},
      {"blendfactoralpha", D3DTOP_BLENDFACTORALPHA},   {"blendcurrentalpha", D3DTOP_BLENDCURRENTALPHA},
      {"dotproduct3", D3DTOP_DOTPRODUCT3}, {"multiplyadd", D3DTOP_MULTIPLYADD}, {"lerp", D3DTOP_LERP}};
  static const NameTable kTexArg = {{"diffuse", D3DTA_DIFFUSE},       {"current", D3DTA_CURRENT},
                                    {"texture", D3DTA_TEXTURE},       {"tfactor", D3DTA_TFACTOR},
                                    {"specular", D3DTA_SPECULAR},     {"temp", D3DTA_TEMP},
                                    {"complement", D3DTA_COMPLEMENT}, {"alphareplicate", D3DTA_ALPHAREPLICATE}};
  static const NameTable kTci = {{"passthru", D3DTSS_TCI_PASSTHRU},
                                 {"cameraspacenormal", D3DTSS_TCI_CAMERASPACENORMAL},
                                 {"cameraspaceposition", D3DTSS_TCI_CAMERASPACEPOSITION},
                                 {"cameraspacereflectionvector", D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR},
                                 {"spheremap", D3DTSS_TCI_SPHEREMAP}};
  static const NameTable kTtff = {{"disable", D3DTTFF_DISABLE}, {"count1", D3DTTFF_COUNT1},
                                  {"count2", D3DTTFF_COUNT2},   {"count3", D3DTTFF_COUNT3},
                                  {"count4", D3DTTFF_COUNT4},   {"projected", D3DTTFF_PROJECTED}};
  static const NameTable kAddress = {{"wrap", D3DTADDRESS_WRAP},     {"mirror", D3DTADDRESS_MIRROR},
                                     {"clamp", D3DTADDRESS_CLAMP},   {"border", D3DTADDRESS_BORDER},
                                     {"mirroronce", D3DTADDRESS_MIRRORONCE}};
  static const NameTable kFilter = {{"none", D3DTEXF_NONE}, {"point", D3DTEXF_POINT}, {"linear", D3DTEXF_LINEAR},
                                    {"anisotropic", D3DTEXF_ANISOTROPIC}};
  static const NameTable kMcs = {{"material", D3DMCS_MATERIAL}, {"color1", D3DMCS_COLOR1}, {"color2", D3DMCS_COLOR2}};
  static const NameTable kFog = {{"none", D3DFOG_NONE}, {"exp", D3DFOG_EXP}, {"exp2", D3DFOG_EXP2},
                                 {"linear", D3DFOG_LINEAR}};
  static const NameTable kZ = {{"true", D3DZB_TRUE}, {"false", D3DZB_FALSE}, {"usew", D3DZB_USEW}};
  switch (kind) {
    case ValueKind::Bool: return kBool;
    case ValueKind::Cull: return kCull;
    case ValueKind::Fill: return kFill;
    case ValueKind::Shade: return kShade;
    case ValueKind::Blend: return kBlend;
    case ValueKind::BlendOp: return kBlendOp;
    case ValueKind::Cmp: return kCmp;
    case ValueKind::TexOp: return kTexOp;
    case ValueKind::TexArg: return kTexArg;
    case ValueKind::TexCoordIndex: return kTci;
    case ValueKind::TransformFlags: return kTtff;
    case ValueKind::Address: return kAddress;
    case ValueKind::Filter: return kFilter;
    case ValueKind::MaterialSource: return kMcs;
    case ValueKind::FogMode: return kFog;
    case ValueKind::ZBuffer: return kZ;
    default: return kEmpty;
  }
}

struct StateInfo {
  StateKind kind;
  DWORD id;
  ValueKind value;
};

const std::map<std::string, StateInfo>& StateTable() {
  using K = StateKind;
  using V = ValueKind;
  static const std::map<std::string, StateInfo> table = {
      {"zenable", {K::Render, D3DRS_ZENABLE, V::ZBuffer}},
      {"zwriteenable", {K::Render, D3DRS_ZWRITEENABLE, V::Bool}},
      {"zfunc", {K::Render, D3DRS_ZFUNC, V::Cmp}},
      {"cullmode", {K::Render, D3DRS_CULLMODE, V::Cull}},
      {"fillmode", {K::Render, D3DRS_FILLMODE, V::Fill}},
      {"shademode", {K::Render, D3DRS_SHADEMODE, V::Shade}},
      {"alphablendenable", {K::Render, D3DRS_ALPHABLENDENABLE, V::Bool}},
      {"srcblend", {K::Render, D3DRS_SRCBLEND, V::Blend}},
      {"destblend", {K::Render, D3DRS_DESTBLEND, V::Blend}},
      {"blendop", {K::Render, D3DRS_BLENDOP, V::BlendOp}},
      {"alphatestenable", {K::Render, D3DRS_ALPHATESTENABLE, V::Bool}},
      {"alpharef", {K::Render, D3DRS_ALPHAREF, V::Dword}},
      {"alphafunc", {K::Render, D3DRS_ALPHAFUNC, V::Cmp}},
      {"ditherenable", {K::Render, D3DRS_DITHERENABLE, V::Bool}},
      {"lighting", {K::Render, D3DRS_LIGHTING, V::Bool}},
      {"ambient", {K::Render, D3DRS_AMBIENT, V::Color}},
      {"specularenable", {K::Render, D3DRS_SPECULARENABLE, V::Bool}},
      {"normalizenormals", {K::Render, D3DRS_NORMALIZENORMALS, V::Bool}},
      {"colorvertex", {K::Render, D3DRS_COLORVERTEX, V::Bool}},
      {"localviewer", {K::Render, D3DRS_LOCALVIEWER, V::Bool}},
      {"diffusematerialsource", {K::Render, D3DRS_DIFFUSEMATERIALSOURCE, V::MaterialSource}},
      {"ambientmaterialsource", {K::Render, D3DRS_AMBIENTMATERIALSOURCE, V::MaterialSource}},
      {"specularmaterialsource", {K::Render, D3DRS_SPECULARMATERIALSOURCE, V::MaterialSource}},
      {"emissivematerialsource", {K::Render, D3DRS_EMISSIVEMATERIALSOURCE, V::MaterialSource}},
      {"fogenable", {K::Render, D3DRS_FOGENABLE, V::Bool}},
      {"fogcolor", {K::Render, D3DRS_FOGCOLOR, V::Color}},
      {"fogtablemode", {K::Render, D3DRS_FOGTABLEMODE, V::FogMode}},
      {"fogvertexmode", {K::Render, D3DRS_FOGVERTEXMODE, V::FogMode}},
      {"fogstart", {K::Render, D3DRS_FOGSTART, V::Float}},
      {"fogend", {K::Render, D3DRS_FOGEND, V::Float}},
      {"fogdensity", {K::Render, D3DRS_FOGDENSITY, V::Float}},
      {"rangefogenable", {K::Render, D3DRS_RANGEFOGENABLE, V::Bool}},
      {"texturefactor", {K::Render, D3DRS_TEXTUREFACTOR, V::Color}},
      {"colorwriteenable", {K::Render, D3DRS_COLORWRITEENABLE, V::Dword}},
      {"stencilenable", {K::Render, D3DRS_STENCILENABLE, V::Bool}},
      {"colorop", {K::Stage, D3DTSS_COLOROP, V::TexOp}},
      {"colorarg1", {K::Stage, D3DTSS_COLORARG1, V::TexArg}},
      {"colorarg2", {K::Stage, D3DTSS_COLORARG2, V::TexArg}},
      {"alphaop", {K::Stage, D3DTSS_ALPHAOP, V::TexOp}},
      {"alphaarg1", {K::Stage, D3DTSS_ALPHAARG1, V::TexArg}},
      {"alphaarg2", {K::Stage, D3DTSS_ALPHAARG2, V::TexArg}},
      {"texcoordindex", {K::Stage, D3DTSS_TEXCOORDINDEX, V::TexCoordIndex}},
      {"texturetransformflags", {K::Stage, D3DTSS_TEXTURETRANSFORMFLAGS, V::TransformFlags}},
      {"addressu", {K::Sampler, D3DSAMP_ADDRESSU, V::Address}},
      {"addressv", {K::Sampler, D3DSAMP_ADDRESSV, V::Address}},
      {"addressw", {K::Sampler, D3DSAMP_ADDRESSW, V::Address}},
      {"bordercolor", {K::Sampler, D3DSAMP_BORDERCOLOR, V::Color}},
      {"magfilter", {K::Sampler, D3DSAMP_MAGFILTER, V::Filter}},
      {"minfilter", {K::Sampler, D3DSAMP_MINFILTER, V::Filter}},
      {"mipfilter", {K::Sampler, D3DSAMP_MIPFILTER, V::Filter}},
      {"mipmaplodbias", {K::Sampler, D3DSAMP_MIPMAPLODBIAS, V::Float}},
      {"maxmiplevel", {K::Sampler, D3DSAMP_MAXMIPLEVEL, V::Dword}},
      {"maxanisotropy", {K::Sampler, D3DSAMP_MAXANISOTROPY, V::Dword}},
      {"texture", {K::Texture, 0, V::Dword}},
      {"texturetransform", {K::TextureTransform, 0, V::Dword}},
      {"vertexshader", {K::VertexShader, 0, V::Dword}},
      {"pixelshader", {K::PixelShader, 0, V::Dword}},
  };
  return table;
}

// ---------------------------------------------------------------------------
// Tokens

enum class Tok { Ident, Number, Punct, End };

struct Token {
  Tok type = Tok::End;
  std::string text;
  int line = 1;
  std::size_t end = 0;  // offset just past the token
};

class Parser {
 public:
  Parser(const std::string& text, EffectDesc& out) : s_(text), out_(out) {}

  bool Run(std::string& error) {
    Advance();
    while (tok_.type != Tok::End && error_.empty()) TopLevel();
    if (error_.empty() && out_.techniques.empty()) Fail("the effect has no technique");
    error = error_;
    return error_.empty();
  }

 private:
  // ---- tokenizer
  void SkipSpace() {
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '*') {
        pos_ += 2;
        while (pos_ + 1 < s_.size() && !(s_[pos_] == '*' && s_[pos_ + 1] == '/')) {
          if (s_[pos_] == '\n') ++line_;
          ++pos_;
        }
        if (pos_ + 1 >= s_.size()) {
          Fail("unterminated comment");
          pos_ = s_.size();
          return;
        }
        pos_ += 2;
      } else {
        return;
      }
    }
  }

  void Advance() {
    SkipSpace();
    tok_ = Token();
    tok_.line = line_;
    if (pos_ >= s_.size()) {
      tok_.end = pos_;
      return;
    }
    const char c = s_[pos_];
    const std::size_t start = pos_;
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
      tok_.type = Tok::Ident;
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' ||
               ((c == '-' || c == '+') && pos_ + 1 < s_.size() &&
                (std::isdigit(static_cast<unsigned char>(s_[pos_ + 1])) || s_[pos_ + 1] == '.'))) {
      ++pos_;
      while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.' ||
                                  ((s_[pos_] == '-' || s_[pos_] == '+') &&
                                   (s_[pos_ - 1] == 'e' || s_[pos_ - 1] == 'E'))))
        ++pos_;
      tok_.type = Tok::Number;
    } else {
      ++pos_;
      tok_.type = Tok::Punct;
    }
    tok_.text = s_.substr(start, pos_ - start);
    tok_.end = pos_;
  }

  void Fail(const std::string& message) {
    if (error_.empty()) error_ = "line " + std::to_string(tok_.line) + ": " + message;
  }
  bool IsPunct(char c) const { return tok_.type == Tok::Punct && tok_.text[0] == c; }
  bool Expect(char c) {
    if (!IsPunct(c)) {
      Fail(std::string("expected '") + c + "'" + (tok_.type == Tok::End ? " before the end" : " near '" + tok_.text + "'"));
      return false;
    }
    Advance();
    return true;
  }
  bool ExpectIdent(std::string& name, const char* what) {
    if (tok_.type != Tok::Ident) {
      Fail(std::string("expected ") + what);
      return false;
    }
    name = tok_.text;
    Advance();
    return true;
  }

  // The raw text of a block whose '{' is the current token, up to its matching '}'.
  bool RawBlock(std::string& body, int& line) {
    if (!IsPunct('{')) {
      Fail("expected '{'");
      return false;
    }
    line = line_;
    std::size_t i = tok_.end;
    const std::size_t start = i;
    int depth = 1;
    while (i < s_.size()) {
      const char c = s_[i];
      if (c == '/' && i + 1 < s_.size() && s_[i + 1] == '/') {
        while (i < s_.size() && s_[i] != '\n') ++i;
        continue;
      }
      if (c == '/' && i + 1 < s_.size() && s_[i + 1] == '*') {
        i += 2;
        while (i + 1 < s_.size() && !(s_[i] == '*' && s_[i + 1] == '/')) {
          if (s_[i] == '\n') ++line_;
          ++i;
        }
        i += 2;
        continue;
      }
      if (c == '\n') ++line_;
      if (c == '{') ++depth;
      if (c == '}' && --depth == 0) break;
      ++i;
    }
    if (depth != 0 || i >= s_.size()) {
      Fail("unclosed '{' of a code block");
      pos_ = s_.size();
      return false;
    }
    body = s_.substr(start, i - start);
    pos_ = i + 1;
    Advance();
    return true;
  }

  // ---- grammar
  void TopLevel() {
    if (tok_.type != Tok::Ident) {
      Fail("expected a parameter, shader, common block or technique near '" + tok_.text + "'");
      return;
    }
    const std::string word = Lower(tok_.text);
    if (word == "technique") {
      Advance();
      Technique();
    } else if (word == "common") {
      Advance();
      if (!out_.common.empty()) return Fail("a second common block");
      std::string body;
      int line;
      if (RawBlock(body, line)) {
        out_.common = body;
        out_.commonLine = line;
      }
    } else if (word == "vertexshader" || word == "pixelshader") {
      Advance();
      ShaderBlock b;
      b.stage = word == "vertexshader" ? ShaderStage::Vertex : ShaderStage::Pixel;
      if (!ExpectIdent(b.name, "a shader name")) return;
      if (FindShader(b.name) >= 0 || FindParam(b.name) >= 0) return Fail("the name '" + b.name + "' is used twice");
      if (RawBlock(b.source, b.line)) out_.shaders.push_back(std::move(b));
    } else {
      Parameter();
    }
  }

  void Parameter() {
    ParamDesc p;
    p.line = tok_.line;
    const std::string type = Lower(tok_.text);
    if (type == "float") { p.type = ParamType::Float; p.components = 1; }
    else if (type == "int") { p.type = ParamType::Int; p.components = 1; }
    else if (type == "bool") { p.type = ParamType::Bool; p.components = 1; }
    else if (type == "float2" || type == "float3" || type == "float4") { p.type = ParamType::Vector; p.components = unsigned(type[5] - '0'); }
    else if (type == "vector") { p.type = ParamType::Vector; p.components = 4; }
    else if (type == "matrix" || type == "float4x4") { p.type = ParamType::Matrix; p.components = 16; }
    else if (type == "texture" || type == "texture2d") { p.type = ParamType::Texture2D; p.components = 0; }
    else if (type == "texturecube") { p.type = ParamType::TextureCube; p.components = 0; }
    else return Fail("unknown parameter type or keyword '" + tok_.text + "'");
    Advance();
    if (!ExpectIdent(p.name, "a parameter name")) return;
    if (FindParam(p.name) >= 0 || FindShader(p.name) >= 0) return Fail("the name '" + p.name + "' is used twice");
    if (p.type == ParamType::Matrix) {
      p.defaults = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    } else {
      p.defaults.assign(p.components, 0.0f);
    }
    if (IsPunct('=')) {
      if (p.IsTexture()) return Fail("a texture parameter takes no default");
      Advance();
      std::vector<float> values;
      if (IsPunct('{')) {
        Advance();
        while (!IsPunct('}')) {
          float v;
          if (!Number(v)) return;
          values.push_back(v);
          if (IsPunct(',')) Advance();
          else if (!IsPunct('}')) return Fail("expected ',' or '}' in a default value");
        }
        Advance();
      } else {
        float v;
        if (!Number(v)) return;
        values.push_back(v);
      }
      if (values.size() != p.components)
        return Fail("'" + p.name + "' needs " + std::to_string(p.components) + " default value(s)");
      p.defaults = values;
    }
    if (!Expect(';')) return;
    out_.params.push_back(std::move(p));
  }

  bool Number(float& v) {
    if (tok_.type == Tok::Ident && (Lower(tok_.text) == "true" || Lower(tok_.text) == "false")) {
      v = Lower(tok_.text) == "true" ? 1.0f : 0.0f;
      Advance();
      return true;
    }
    if (tok_.type != Tok::Number) {
      Fail("expected a number near '" + tok_.text + "'");
      return false;
    }
    std::string t = tok_.text;
    const bool hex = IsHex(t);
    if (!hex && !t.empty() && (t.back() == 'f' || t.back() == 'F')) t.pop_back();
    char* end = nullptr;
    if (hex) v = float(std::strtoll(t.c_str(), &end, 16));
    else v = std::strtof(t.c_str(), &end);
    if (!end || *end || !std::isfinite(v)) {
      Fail("bad number '" + tok_.text + "'");
      return false;
    }
    Advance();
    return true;
  }

  void Technique() {
    TechniqueDesc t;
    if (tok_.type == Tok::Ident) {
      t.name = tok_.text;
      Advance();
    }
    for (const TechniqueDesc& other : out_.techniques)
      if (!t.name.empty() && other.name == t.name) return Fail("technique '" + t.name + "' is defined twice");
    if (!Expect('{')) return;
    while (!IsPunct('}') && error_.empty()) {
      if (tok_.type == Tok::End) return Fail("technique '" + t.name + "' is not closed");
      const std::string word = Lower(tok_.text);
      if (word == "requires") {
        Advance();
        Requires(t.needs);
      } else if (word == "pass") {
        Advance();
        PassDesc p;
        if (tok_.type == Tok::Ident) {
          p.name = tok_.text;
          Advance();
        }
        Pass(p);
        t.passes.push_back(std::move(p));
      } else {
        return Fail("expected 'pass' or 'requires' near '" + tok_.text + "'");
      }
    }
    if (!error_.empty()) return;
    Advance();
    if (t.passes.empty()) return Fail("technique '" + t.name + "' has no pass");
    out_.techniques.push_back(std::move(t));
  }

  void Requires(Requirements& r) {
    for (;;) {
      std::string what;
      if (!ExpectIdent(what, "a requirement")) return;
      what = Lower(what);
      if (what == "cubemap") r.cubemap = true;
      else if (what == "ps_2_0") r.pixelShader = std::max(r.pixelShader, D3DPS_VERSION(2, 0));
      else if (what == "ps_3_0") r.pixelShader = std::max(r.pixelShader, D3DPS_VERSION(3, 0));
      else if (what == "vs_2_0") r.vertexShader = std::max(r.vertexShader, D3DVS_VERSION(2, 0));
      else if (what == "vs_3_0") r.vertexShader = std::max(r.vertexShader, D3DVS_VERSION(3, 0));
      else return Fail("unknown requirement '" + what + "'");
      if (IsPunct(',')) {
        Advance();
        continue;
      }
      Expect(';');
      return;
    }
  }

  void Pass(PassDesc& p) {
    if (!Expect('{')) return;
    while (!IsPunct('}') && error_.empty()) {
      if (tok_.type == Tok::End) return Fail("pass '" + p.name + "' is not closed");
      StateAssign a;
      a.line = tok_.line;
      std::string name;
      if (!ExpectIdent(name, "a state name")) return;
      const auto& table = StateTable();
      const auto it = table.find(Lower(name));
      if (it == table.end()) return Fail("unknown state '" + name + "'");
      const StateInfo& info = it->second;
      a.kind = info.kind;
      a.id = info.id;
      const bool indexed = info.kind == StateKind::Stage || info.kind == StateKind::Sampler ||
                           info.kind == StateKind::Texture || info.kind == StateKind::TextureTransform;
      if (IsPunct('[')) {
        if (!indexed) return Fail("'" + name + "' takes no index");
        Advance();
        float index;
        if (!Number(index)) return;
        if (index < 0 || index > 7 || index != std::floor(index)) return Fail("stage index must be 0 to 7");
        a.index = DWORD(index);
        if (!Expect(']')) return;
      }
      if (!Expect('=')) return;
      if (!Value(a, info, name)) return;
      if (!Expect(';')) return;
      p.states.push_back(a);
    }
    if (error_.empty()) Advance();
  }

  bool Value(StateAssign& a, const StateInfo& info, const std::string& name) {
    if (a.kind == StateKind::VertexShader || a.kind == StateKind::PixelShader) {
      std::string shader;
      if (!ExpectIdent(shader, "a shader name or null")) return false;
      if (Lower(shader) == "null") return true;
      a.shader = FindShader(shader);
      const ShaderStage want = a.kind == StateKind::VertexShader ? ShaderStage::Vertex : ShaderStage::Pixel;
      if (a.shader < 0) return Fail("unknown shader '" + shader + "'"), false;
      if (out_.shaders[a.shader].stage != want) return Fail("'" + shader + "' is not a " + Lower(name)), false;
      return true;
    }
    if (a.kind == StateKind::Texture || a.kind == StateKind::TextureTransform) {
      std::string param;
      if (!ExpectIdent(param, "a parameter name")) return false;
      if (a.kind == StateKind::Texture && Lower(param) == "null") return true;
      a.param = FindParam(param);
      if (a.param < 0) return Fail("unknown parameter '" + param + "'"), false;
      const ParamDesc& p = out_.params[a.param];
      if (a.kind == StateKind::Texture && !p.IsTexture()) return Fail("'" + param + "' is not a texture"), false;
      if (a.kind == StateKind::TextureTransform && p.type != ParamType::Matrix)
        return Fail("'" + param + "' is not a matrix"), false;
      return true;
    }
    a.floatState = info.value == ValueKind::Float;
    // A parameter (scalar) gives the value at draw time.
    if (tok_.type == Tok::Ident) {
      const int param = FindParam(tok_.text);
      if (param >= 0) {
        const ParamDesc& p = out_.params[param];
        if (p.components != 1) return Fail("'" + tok_.text + "' is not a scalar"), false;
        a.param = param;
        Advance();
        return true;
      }
    }
    // Otherwise literal terms joined by '|'.
    DWORD value = 0;
    for (;;) {
      if (tok_.type == Tok::Number && !a.floatState && IsHex(tok_.text)) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(tok_.text.c_str(), &end, 16);
        if (!end || *end || v > 0xFFFFFFFFull) return Fail("bad number '" + tok_.text + "'"), false;
        value |= DWORD(v);
        Advance();
      } else if (tok_.type == Tok::Number) {
        float v;
        const std::string text = tok_.text;
        if (!Number(v)) return false;
        if (a.floatState) {
          value |= gx::FloatAsDword(v);
        } else {
          if (v != std::floor(v) || v < -2147483648.0f || v >= 4294967296.0f)
            return Fail("'" + name + "' takes a whole number, not " + text), false;
          value |= v < 0 ? DWORD(std::int32_t(v)) : DWORD(std::llround(double(v)));
        }
      } else if (tok_.type == Tok::Ident) {
        const NameTable& names = Names(info.value);
        const auto it = names.find(Lower(tok_.text));
        if (it == names.end()) return Fail("'" + tok_.text + "' is not a value of " + name), false;
        value |= it->second;
        Advance();
      } else {
        return Fail("expected a value for " + name), false;
      }
      if (!IsPunct('|')) break;
      Advance();
    }
    a.value = value;
    return true;
  }

  static bool IsHex(const std::string& t) {
    const std::size_t start = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    return t.size() > start + 2 && t[start] == '0' && (t[start + 1] == 'x' || t[start + 1] == 'X');
  }

  int FindParam(const std::string& name) const {
    for (std::size_t i = 0; i < out_.params.size(); ++i)
      if (out_.params[i].name == name) return int(i);
    return -1;
  }
  int FindShader(const std::string& name) const {
    for (std::size_t i = 0; i < out_.shaders.size(); ++i)
      if (out_.shaders[i].name == name) return int(i);
    return -1;
  }

  const std::string& s_;
  EffectDesc& out_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Token tok_;
  std::string error_;
};

}  // namespace

bool ParseEffect(const std::string& text, EffectDesc& out, std::string& error) {
  out = EffectDesc();
  if (text.find('\0') != std::string::npos) {
    error = "line 1: the effect text holds a NUL byte";
    return false;
  }
  Parser parser(text, out);
  return parser.Run(error);
}

}  // namespace d3dx
