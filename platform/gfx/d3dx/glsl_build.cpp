// Source scanning and program assembly for the shader dialect.

#include "platform/gfx/d3dx/glsl_build.h"

#include <algorithm>
#include <cctype>

#include "platform/gfx/shader_interface.h"

namespace d3dx {
namespace {

bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The vertex attributes shader writers may read: position, normal, diffuse, first coordinate set.
std::string VertexAttributes() {
  std::string s;
  for (int slot : {gx::kAttrPosition, gx::kAttrNormal, gx::kAttrDiffuse, gx::kAttrTexCoord0})
    s += gx::AttributeDeclaration(slot);
  return s;
}

const char* kVertexPrelude =
    "uniform mat4 gx_World;\n"
    "uniform mat4 gx_View;\n"
    "uniform mat4 gx_Projection;\n"
    "out vec4 gx_Color0;\n"
    "out vec4 gx_Color1;\n"
    "out float gx_Fog;\n"
    "out vec4 gx_Tex0;\n"
    "out vec4 gx_Tex1;\n"
    "out vec4 gx_Tex2;\n"
    "out vec4 gx_Tex3;\n";

// gx_Fog is declared by the device where it applies fog after the shader.
const char* kPixelPrelude =
    "in vec4 gx_Color0;\n"
    "in vec4 gx_Color1;\n"
    "in vec4 gx_Tex0;\n"
    "in vec4 gx_Tex1;\n"
    "in vec4 gx_Tex2;\n"
    "in vec4 gx_Tex3;\n"
    "out vec4 gx_FragColor;\n";

std::string Declaration(const UniformDecl& u) {
  std::string s = "uniform " + u.glslType + " " + u.name;
  if (u.elements) s += "[" + std::to_string(u.elements) + "]";
  return s + ";\n";
}

// The word `varying` declares a value passed from the vertex to the pixel shader.
std::string ReplaceVarying(const std::string& code, ShaderStage stage) {
  static const std::string kWord = "varying";
  const std::string with = stage == ShaderStage::Vertex ? "out" : "in";
  std::string out;
  out.reserve(code.size());
  std::size_t i = 0;
  while (i < code.size()) {
    if (IsIdentChar(code[i])) {
      std::size_t j = i;
      while (j < code.size() && IsIdentChar(code[j])) ++j;
      const bool word = j - i == kWord.size() && code.compare(i, j - i, kWord) == 0;
      out += word ? with : code.substr(i, j - i);
      i = j;
    } else {
      out += code[i++];
    }
  }
  return out;
}

// A function definition "type name(params) {" of the given name, found by a
// plain scan (no regular expression, so any length of text is safe).
bool FindDefinition(const std::string& code, const std::string& name, std::string& returnType, std::string& params) {
  for (std::size_t pos = code.find(name); pos != std::string::npos; pos = code.find(name, pos + 1)) {
    const std::size_t end = pos + name.size();
    if ((pos > 0 && IsIdentChar(code[pos - 1])) || (end < code.size() && IsIdentChar(code[end]))) continue;
    // The return type: the identifier before, separated by white space.
    std::size_t b = pos;
    if (b == 0 || !std::isspace(static_cast<unsigned char>(code[b - 1]))) continue;
    while (b > 0 && std::isspace(static_cast<unsigned char>(code[b - 1]))) --b;
    std::size_t a = b;
    while (a > 0 && IsIdentChar(code[a - 1])) --a;
    if (a == b) continue;
    // "(params)" then "{".
    std::size_t i = end;
    while (i < code.size() && std::isspace(static_cast<unsigned char>(code[i]))) ++i;
    if (i >= code.size() || code[i] != '(') continue;
    const std::size_t close = code.find(')', i);
    if (close == std::string::npos) continue;
    std::size_t j = close + 1;
    while (j < code.size() && std::isspace(static_cast<unsigned char>(code[j]))) ++j;
    if (j >= code.size() || code[j] != '{') continue;
    returnType = code.substr(a, b - a);
    params = code.substr(i + 1, close - i - 1);
    return true;
  }
  return false;
}

}  // namespace

std::string StripComments(const std::string& s) {
  std::string out = s;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '/' && i + 1 < out.size() && out[i + 1] == '/') {
      while (i < out.size() && out[i] != '\n') out[i++] = ' ';
    } else if (out[i] == '/' && i + 1 < out.size() && out[i + 1] == '*') {
      out[i] = out[i + 1] = ' ';
      i += 2;
      while (i < out.size() && !(out[i] == '*' && i + 1 < out.size() && out[i + 1] == '/')) {
        if (out[i] != '\n') out[i] = ' ';
        ++i;
      }
      if (i < out.size()) out[i] = ' ';
      if (i + 1 < out.size()) out[i + 1] = ' ';
      ++i;
    }
  }
  return out;
}

bool MentionsIdentifier(const std::string& code, const std::string& word) {
  if (word.empty()) return false;
  for (std::size_t pos = code.find(word); pos != std::string::npos; pos = code.find(word, pos + 1)) {
    const bool startOk = pos == 0 || !IsIdentChar(code[pos - 1]);
    const std::size_t end = pos + word.size();
    const bool endOk = end >= code.size() || !IsIdentChar(code[end]);
    if (startOk && endOk) return true;
  }
  return false;
}

namespace {

// Identifiers, numbers and single punctuation characters of comment-free code.
std::vector<std::string> Tokens(const std::string& code) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < code.size()) {
    const char c = code[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (IsIdentChar(c)) {
      std::size_t j = i;
      while (j < code.size() && IsIdentChar(code[j])) ++j;
      out.push_back(code.substr(i, j - i));
      i = j;
    } else {
      out.push_back(std::string(1, c));
      ++i;
    }
  }
  return out;
}

bool IsIdentifier(const std::string& t) { return !t.empty() && IsIdentChar(t[0]) && !std::isdigit((unsigned char)t[0]); }

// The stage of a "gx_Sampler<N>" token, or -1.
int SamplerStage(const std::string& t) {
  if (t.size() != 11 || t.compare(0, 10, "gx_Sampler") != 0 || t[10] < '0' || t[10] > '7') return -1;
  return t[10] - '0';
}

}  // namespace

std::vector<UniformDecl> ScanUniforms(const std::string& code) {
  const std::vector<std::string> t = Tokens(code);
  std::vector<UniformDecl> out;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] != "uniform") continue;
    std::size_t k = i + 1;
    if (k < t.size() && (t[k] == "lowp" || t[k] == "mediump" || t[k] == "highp")) ++k;
    if (k + 1 >= t.size() || !IsIdentifier(t[k]) || !IsIdentifier(t[k + 1])) continue;
    UniformDecl u;
    u.glslType = t[k];
    u.name = t[k + 1];
    if (k + 4 < t.size() && t[k + 2] == "[" && t[k + 4] == "]" && !t[k + 3].empty() &&
        std::all_of(t[k + 3].begin(), t[k + 3].end(), [](char c) { return std::isdigit((unsigned char)c); }) &&
        t[k + 3].size() < 6)
      u.elements = unsigned(std::stoul(t[k + 3]));
    out.push_back(u);
  }
  return out;
}

void ScanSamplers(const std::string& code, std::vector<int>& used, std::vector<int>& declared) {
  const std::vector<std::string> t = Tokens(code);
  for (std::size_t i = 0; i < t.size(); ++i) {
    const int n = SamplerStage(t[i]);
    if (n < 0) continue;
    if (std::find(used.begin(), used.end(), n) == used.end()) used.push_back(n);
    if (i >= 2 && t[i - 2] == "uniform" && (t[i - 1] == "sampler2D" || t[i - 1] == "samplerCube")) declared.push_back(n);
  }
}

bool CheckSource(const GlslRequest& r, std::string& error) {
  const std::string code = StripComments(r.source);
  int braces = 0, parens = 0;
  int line = 1;
  for (char c : code) {
    if (c == '\n') ++line;
    braces += (c == '{') - (c == '}');
    parens += (c == '(') - (c == ')');
    if (braces < 0 || parens < 0) {
      error = "(" + std::to_string(line) + "): error: unbalanced closing bracket";
      return false;
    }
  }
  if (braces || parens) {
    error = "(" + std::to_string(line) + "): error: unexpected end of source (unclosed bracket)";
    return false;
  }
  if (code.find("#version") != std::string::npos) {
    error = "error: the source must not hold a #version line; the compiler adds it";
    return false;
  }
  const std::string& e = r.entry;
  if (e.empty() || !std::all_of(e.begin(), e.end(), IsIdentChar)) {
    error = "error: bad entry point name";
    return false;
  }
  std::string returnType, params;
  if (!FindDefinition(code, e, returnType, params)) {
    error = "error: entry point '" + e + "' not found";
    return false;
  }
  params.erase(std::remove_if(params.begin(), params.end(), [](char c) { return std::isspace((unsigned char)c); }),
               params.end());
  const std::string wantReturn = (e == "main" || r.stage == ShaderStage::Vertex) ? "void" : "vec4";
  if (returnType != wantReturn || !(params.empty() || params == "void")) {
    error = "error: entry point must be declared '" + wantReturn + " " + e + "()'";
    return false;
  }
  return true;
}

std::string BuildGlsl(const GlslRequest& r) {
  const std::string code = StripComments(r.source);
  std::string s = "#version 330 core\n";
  if (!r.marker.empty()) s += "// " + r.marker + "\n";
  for (const std::string& d : r.defines) s += "#define " + d + "\n";
  s += r.stage == ShaderStage::Vertex ? VertexAttributes() + kVertexPrelude : std::string(kPixelPrelude);

  // Samplers: the bindings asked for, then any gx_Sampler<N> the code uses undeclared.
  std::vector<int> used, declared;
  ScanSamplers(code, used, declared);
  std::vector<int> done = declared;
  for (const SamplerBinding& b : r.samplers) {
    if (std::find(done.begin(), done.end(), b.stage) == done.end()) {
      s += std::string("uniform ") + (b.cube ? "samplerCube" : "sampler2D") + " gx_Sampler" +
           std::to_string(b.stage) + ";\n";
      done.push_back(b.stage);
    }
    if (!b.alias.empty()) s += "#define " + b.alias + " gx_Sampler" + std::to_string(b.stage) + "\n";
  }
  for (int n : used)
    if (std::find(done.begin(), done.end(), n) == done.end())
      s += "uniform sampler2D gx_Sampler" + std::to_string(n) + ";\n";
  for (const UniformDecl& u : r.uniforms) s += Declaration(u);

  s += "#line 1\n";
  s += ReplaceVarying(r.source, r.stage);
  s += "\n";
  if (r.entry != "main") {
    if (r.stage == ShaderStage::Pixel) {
      s += "void main() {\n  gx_FragColor = " + r.entry + "();\n}\n";
    } else {
      s += "void main() {\n  gx_Color0 = vec4(1.0);\n  gx_Color1 = vec4(0.0);\n  gx_Fog = 1.0;\n"
           "  gx_Tex0 = vec4(0.0, 0.0, 0.0, 1.0);\n  gx_Tex1 = gx_Tex0;\n  gx_Tex2 = gx_Tex0;\n  gx_Tex3 = gx_Tex0;\n"
           "  " + r.entry + "();\n}\n";
    }
  }
  return s;
}

}  // namespace d3dx
