#pragma once
// Turns the GLSL-flavoured sources of shader writers into the complete GLSL 330
// programs the device takes (docs/effect-format.md): declares the device's
// attributes, varyings, transforms and samplers, the given uniforms and
// sampler aliases, and a main that runs the entry point.

#include <string>
#include <vector>

#include "platform/gfx/d3dx/d3dx9.h"

namespace d3dx {

enum class ShaderStage { Vertex, Pixel };

struct UniformDecl {
  std::string glslType;  // float, int, bool, vec2..vec4, ivec2..ivec4, mat3, mat4, sampler2D, samplerCube
  std::string name;
  unsigned elements = 0;  // 0: not an array
};

// A texture stage the shader reads, and the name that stands for it.
struct SamplerBinding {
  int stage = 0;
  bool cube = false;
  std::string alias;  // empty: only gx_Sampler<stage>
};

struct GlslRequest {
  ShaderStage stage = ShaderStage::Pixel;
  std::string source;             // the writer's text
  std::string entry = "main";     // "main": the source has its own main
  std::vector<std::string> defines;       // "NAME VALUE" lines for #define
  std::vector<UniformDecl> uniforms;      // declared ahead of the source
  std::vector<SamplerBinding> samplers;   // declared ahead of the source
  std::string marker;             // a comment line identifying the program
};

// Comments replaced by spaces (newlines kept), so scans see only code.
std::string StripComments(const std::string& source);
// True when `word` occurs as a whole identifier in code (comments ignored).
bool MentionsIdentifier(const std::string& codeWithoutComments, const std::string& word);
// Uniform declarations of a source ("uniform type name[N] = ...;").
std::vector<UniformDecl> ScanUniforms(const std::string& codeWithoutComments);
// Stages of gx_Sampler<N> names the code uses, and those it declares itself.
void ScanSamplers(const std::string& codeWithoutComments, std::vector<int>& used, std::vector<int>& declared);

// Checks the entry point and the bracket balance; on failure fills error.
bool CheckSource(const GlslRequest& request, std::string& error);
std::string BuildGlsl(const GlslRequest& request);

}  // namespace d3dx
