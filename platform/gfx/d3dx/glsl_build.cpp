// Source scanning and program assembly for the shader dialect.

#include "platform/gfx/d3dx/glsl_build.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace vkd3dx {
namespace {

bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

const char* kVertexPrelude =
    "layout(location = 0) in vec4 vk_Position;\n"
    "layout(location = 1) in vec3 vk_Normal;\n"
    "layout(location = 2) in vec4 vk_Diffuse;\n"
    "layout(location = 3) in vec4 vk_TexCoord0;\n"
    "uniform mat4 vk_World;\n"
    "uniform mat4 vk_View;\n"
    "uniform mat4 vk_Projection;\n"
    "out vec4 vk_Color0;\n"
    "out vec4 vk_Color1;\n"
    "out float vk_Fog;\n"
    "out vec4 vk_Tex0;\n"
    "out vec4 vk_Tex1;\n"
    "out vec4 vk_Tex2;\n"
    "out vec4 vk_Tex3;\n";

// vk_Fog is declared by the device where it applies fog after the shader.
const char* kPixelPrelude =
    "in vec4 vk_Color0;\n"
    "in vec4 vk_Color1;\n"
    "in vec4 vk_Tex0;\n"
    "in vec4 vk_Tex1;\n"
    "in vec4 vk_Tex2;\n"
    "in vec4 vk_Tex3;\n"
    "out vec4 vk_FragColor;\n";

std::string Declaration(const UniformDecl& u) {
  std::string s = "uniform " + u.glslType + " " + u.name;
  if (u.elements) s += "[" + std::to_string(u.elements) + "]";
  return s + ";\n";
}

// The word `varying` declares a value passed from the vertex to the pixel shader.
std::string ReplaceVarying(const std::string& code, ShaderStage stage) {
  static const std::regex kVarying("\\bvarying\\b");
  return std::regex_replace(code, kVarying, stage == ShaderStage::Vertex ? "out" : "in");
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

std::vector<UniformDecl> ScanUniforms(const std::string& code) {
  static const std::regex kUniform(
      "\\buniform\\s+(?:(?:lowp|mediump|highp)\\s+)?([A-Za-z_][A-Za-z0-9_]*)\\s+([A-Za-z_][A-Za-z0-9_]*)"
      "\\s*(?:\\[\\s*([0-9]+)\\s*\\])?");
  std::vector<UniformDecl> out;
  for (auto it = std::sregex_iterator(code.begin(), code.end(), kUniform); it != std::sregex_iterator(); ++it) {
    UniformDecl u;
    u.glslType = (*it)[1];
    u.name = (*it)[2];
    if ((*it)[3].matched) u.elements = unsigned(std::stoul((*it)[3].str()));
    out.push_back(u);
  }
  return out;
}

void ScanSamplers(const std::string& code, std::vector<int>& used, std::vector<int>& declared) {
  static const std::regex kUse("\\bvk_Sampler([0-7])\\b");
  static const std::regex kDecl("\\buniform\\s+sampler(?:2D|Cube)\\s+vk_Sampler([0-7])\\b");
  for (auto it = std::sregex_iterator(code.begin(), code.end(), kUse); it != std::sregex_iterator(); ++it) {
    const int n = std::stoi((*it)[1]);
    if (std::find(used.begin(), used.end(), n) == used.end()) used.push_back(n);
  }
  for (auto it = std::sregex_iterator(code.begin(), code.end(), kDecl); it != std::sregex_iterator(); ++it)
    declared.push_back(std::stoi((*it)[1]));
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
  const std::regex anyDefinition("\\b([A-Za-z_][A-Za-z0-9_]*)\\s+" + e + "\\s*\\(([^)]*)\\)\\s*\\{");
  std::smatch m;
  if (!std::regex_search(code, m, anyDefinition)) {
    error = "error: entry point '" + e + "' not found";
    return false;
  }
  std::string params = m[2];
  params.erase(std::remove_if(params.begin(), params.end(), [](char c) { return std::isspace((unsigned char)c); }),
               params.end());
  const std::string wantReturn = (e == "main" || r.stage == ShaderStage::Vertex) ? "void" : "vec4";
  if (m[1] != wantReturn || !(params.empty() || params == "void")) {
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
  s += r.stage == ShaderStage::Vertex ? kVertexPrelude : kPixelPrelude;

  // Samplers: the bindings asked for, then any vk_Sampler<N> the code uses undeclared.
  std::vector<int> used, declared;
  ScanSamplers(code, used, declared);
  std::vector<int> done = declared;
  for (const SamplerBinding& b : r.samplers) {
    if (std::find(done.begin(), done.end(), b.stage) == done.end()) {
      s += std::string("uniform ") + (b.cube ? "samplerCube" : "sampler2D") + " vk_Sampler" +
           std::to_string(b.stage) + ";\n";
      done.push_back(b.stage);
    }
    if (!b.alias.empty()) s += "#define " + b.alias + " vk_Sampler" + std::to_string(b.stage) + "\n";
  }
  for (int n : used)
    if (std::find(done.begin(), done.end(), n) == done.end())
      s += "uniform sampler2D vk_Sampler" + std::to_string(n) + ";\n";
  for (const UniformDecl& u : r.uniforms) s += Declaration(u);

  s += "#line 1\n";
  s += ReplaceVarying(r.source, r.stage);
  s += "\n";
  if (r.entry != "main") {
    if (r.stage == ShaderStage::Pixel) {
      s += "void main() {\n  vk_FragColor = " + r.entry + "();\n}\n";
    } else {
      s += "void main() {\n  vk_Color0 = vec4(1.0);\n  vk_Color1 = vec4(0.0);\n  vk_Fog = 1.0;\n"
           "  vk_Tex0 = vec4(0.0, 0.0, 0.0, 1.0);\n  vk_Tex1 = vk_Tex0;\n  vk_Tex2 = vk_Tex0;\n  vk_Tex3 = vk_Tex0;\n"
           "  " + r.entry + "();\n}\n";
    }
  }
  return s;
}

}  // namespace vkd3dx
