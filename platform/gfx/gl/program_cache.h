#pragma once
// Linked GLSL programs, one per fixed-function key and custom shader pair,
// with the locations of the device's uniforms looked up once.

#include "platform/gfx/gl/flavour.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gfx/ff_key.h"
#include "platform/gfx/resources.h"

namespace gx {

// Groups of device uniforms; each program remembers which version of each it holds.
enum UniformGroup { kGroupTransform, kGroupProjection, kGroupViewport, kGroupMaterial, kGroupAmbient, kGroupLights, kGroupFog,
                    kGroupTFactor, kGroupAlphaRef, kGroupTexMatrix, kGroupCount };

struct ProgramKey {
  FixedFunctionKey ff;
  std::uint64_t pixelShader = 0;   // serials of the custom shaders, 0 for none
  std::uint64_t vertexShader = 0;
  bool operator==(const ProgramKey& o) const {
    return ff == o.ff && pixelShader == o.pixelShader && vertexShader == o.vertexShader;
  }
};

struct ProgramKeyHash {
  size_t operator()(const ProgramKey& k) const {
    return size_t(HashKey(k.ff) ^ (k.pixelShader * 0x9E3779B97F4A7C15ull) ^ (k.vertexShader * 0xC2B2AE3D27D4EB4Full));
  }
};

struct DeviceUniforms {
  GLint worldViewNormal = -1, projection = -1, world = -1, view = -1;
  GLint pixelAdjust = -1, viewport = -1;
  GLint matDiffuse = -1, matAmbient = -1, matSpecular = -1, matEmissive = -1, matPower = -1;
  GLint globalAmbient = -1;
  GLint lightDir = -1, lightDiffuse = -1, lightSpecular = -1, lightAmbient = -1;
  GLint pLightPos = -1, pLightAtt = -1, pLightSpot = -1, pLightCone = -1;
  GLint pLightDiffuse = -1, pLightSpecular = -1, pLightAmbient = -1;
  GLint fogParams = -1, fogColor = -1, tfactor = -1, alphaRef = -1;
  std::array<GLint, kMaxStages> texMatrix{};
};

struct ActiveUniform {
  GLint location;
  GLenum type;
  GLint size;
};

struct GlProgram {
  GLuint id = 0;
  bool ok = false;
  ProgramKey key;
  std::unordered_map<std::string, ActiveUniform> active;
  DeviceUniforms loc;
  std::array<std::uint64_t, kGroupCount> stamps{};

  // The device's shader constants this program declares, bound to its locations.
  struct Bound {
    int stage;     // ShaderStageIndex
    size_t index;  // in DeviceState::constants[stage].values
    ActiveUniform uniform;
    std::uint64_t version;
  };
  std::vector<Bound> bound;
  std::uint64_t pixelLayout = 0, vertexLayout = 0;
};

// Compiles a shader; 0 and the compiler's log on failure.
GLuint CompileShader(GLenum type, const std::string& source, std::string& log);

// Compiled shader objects, one per distinct stage text: vertex and fragment
// stages are cached apart, so programs that share a stage (the same vertex
// processing under different texture stages, say) compile it once.
class ShaderCache {
 public:
  ~ShaderCache() = default;  // the GL objects go with the context (Clear while it is current)
  // The shader for the source, compiled on first use; 0 and the compiler's log on failure.
  GLuint Get(GLenum type, const std::string& source, std::string& log);
  void Clear();
  // Forgets every shader without deleting it (its context is gone).
  void Abandon() { vertex_.clear(), fragment_.clear(); }
  std::uint64_t compiled = 0;  // shader objects compiled so far

 private:
  std::unordered_map<std::string, GLuint> vertex_, fragment_;
};

// Links a vertex and a fragment shader into a program (ok == false on failure). `sources` is the
// shaders' text: GL ES sets the uniforms it declares with an initialiser once, after linking.
std::unique_ptr<GlProgram> LinkProgram(GLuint vs, GLuint fs, std::string& log, const std::string& sources = {});

}  // namespace gx
