#pragma once
// The effect text format (docs/effect-format.md) read into a plain
// description: parameters with defaults, shared GLSL, named vertex and pixel
// shaders, and techniques made of passes that assign device states. The
// parser checks every name and value; the effect object only runs what it got.

#include <string>
#include <vector>

#include "platform/gfx/d3d9types.h"
#include "platform/gfx/d3dx/glsl_build.h"

namespace d3dx {

enum class ParamType { Float, Int, Bool, Vector, Matrix, Texture2D, TextureCube };

struct ParamDesc {
  std::string name;
  ParamType type = ParamType::Float;
  unsigned components = 1;        // 1 for scalars, 2..4 for vectors, 16 for matrices, 0 for textures
  std::vector<float> defaults;    // components values (identity for matrices without a default)
  int line = 0;

  bool IsTexture() const { return type == ParamType::Texture2D || type == ParamType::TextureCube; }
  bool IsNumeric() const { return !IsTexture(); }
  std::string GlslType() const;
};

struct ShaderBlock {
  std::string name;
  ShaderStage stage = ShaderStage::Pixel;
  std::string source;
  int line = 0;
};

enum class StateKind { Render, Stage, Sampler, Texture, TextureTransform, VertexShader, PixelShader };

struct StateAssign {
  StateKind kind = StateKind::Render;
  DWORD id = 0;          // D3DRS_*, D3DTSS_* or D3DSAMP_*
  DWORD index = 0;       // stage or sampler
  DWORD value = 0;       // literal value (floats as their bits)
  int param = -1;        // parameter giving the value (textures, matrices, numeric states), or -1
  bool floatState = false;  // the state takes a float: a parameter's value goes as its bits
  int shader = -1;       // shader block index for VertexShader / PixelShader; -1 = none
  int line = 0;
};

struct PassDesc {
  std::string name;
  std::vector<StateAssign> states;
};

// What a technique asks of the device beyond what its passes imply.
struct Requirements {
  bool cubemap = false;
  DWORD pixelShader = 0;   // D3DPS_VERSION, 0 = none asked
  DWORD vertexShader = 0;  // D3DVS_VERSION, 0 = none asked
};

struct TechniqueDesc {
  std::string name;
  Requirements needs;
  std::vector<PassDesc> passes;
};

struct EffectDesc {
  std::vector<ParamDesc> params;
  std::string common;
  int commonLine = 0;
  std::vector<ShaderBlock> shaders;
  std::vector<TechniqueDesc> techniques;
};

// Fails with "line N: message" on the first error.
bool ParseEffect(const std::string& text, EffectDesc& out, std::string& error);

}  // namespace d3dx
