#pragma once
// The fixed-function pipeline reduced to what shapes a program. Every field is
// a byte, so the struct has no padding and compares and hashes as bytes; state
// that cannot affect the result (arguments of unused stages, lighting settings
// while lighting is off...) never reaches it, so it cannot split the cache.

#include <cstdint>
#include <string>

#include "platform/gfx/device_state.h"

namespace gx {

enum : std::uint8_t { kTexNone = 0, kTex2D = 1, kTexCube = 2 };
enum : std::uint8_t { kPosNone = 0, kPosXyz = 1, kPosRhw = 2 };
enum : std::uint8_t { kFogNone = 0, kFogVertex = 1, kFogTable = 2 };

struct StageKey {
  std::uint8_t colorOp;     // D3DTOP_*, 0 past the last active stage
  std::uint8_t colorArg[3];  // D3DTA_* with modifiers; unused arguments 0
  std::uint8_t alphaOp;
  std::uint8_t alphaArg[3];
  std::uint8_t texture;     // kTexNone / kTex2D / kTexCube (only when an argument reads it)
  std::uint8_t coordSet;    // texture coordinate set the stage reads
  std::uint8_t coordGen;    // D3DTSS_TCI_* >> 16
  std::uint8_t transform;   // D3DTTFF count (low bits) | 0x80 projected | 0x40 no matrix (PROJECTED
                            // alone: the set's own last coordinate divides, the count is the set's size)
};

struct FixedFunctionKey {
  // Vertex input
  std::uint8_t position;    // kPos*
  std::uint8_t hasNormal;
  std::uint8_t hasDiffuse;
  std::uint8_t hasSpecular;
  std::uint8_t texSets;     // texture coordinate sets in the vertex
  std::uint8_t texSize[8];  // their sizes
  // Vertex processing
  std::uint8_t customVertex;
  std::uint8_t lighting;
  std::uint8_t lightCount;  // enabled directional lights
  std::uint8_t positionalCount;  // enabled point and spot lights
  std::uint8_t normalize;
  std::uint8_t localViewer;
  std::uint8_t specular;
  std::uint8_t diffuseSource, ambientSource, specularSource, emissiveSource;  // D3DMCS_*
  std::uint8_t fog;         // kFog*
  std::uint8_t fogMode;     // D3DFOG_*
  std::uint8_t rangeFog;
  std::uint8_t fogBlack;    // fog on and the fog colour black
  std::uint8_t fogOnZ;      // table fog under a projection without perspective: on the projected z
  // Pixel processing
  std::uint8_t customPixel;
  std::uint8_t flatShade;
  std::uint8_t alphaFunc;   // D3DCMP_*, 0 when the test is off
  std::uint8_t stageCount;
  StageKey stages[kMaxStages];
};
static_assert(sizeof(StageKey) == 12);
static_assert(alignof(FixedFunctionKey) == 1);

// Builds the key for the state in force with vertex format fvf.
void BuildKey(const DeviceState& state, FixedFunctionKey& key);

std::uint64_t HashKey(const FixedFunctionKey& key);
bool operator==(const FixedFunctionKey& a, const FixedFunctionKey& b);

// Keys as text, for logs and tests.
std::string KeyToString(const FixedFunctionKey& key);
// False for text that is not a key BuildKey could have made (counts, operations,
// arguments and unused stages are checked).
bool KeyFromString(const std::string& text, FixedFunctionKey& key);
bool ValidKey(const FixedFunctionKey& key);

// True for a stage that hands the current colour and alpha on unchanged (the generator
// writes nothing for it; BuildKey drops such stages from the end of the list).
bool PassesOn(const StageKey& stage);

// True for the render states BuildKey reads: only they can change the key (ALPHAREF and
// FOGCOLOR only in so far as a test nothing fails leaves it and black fog is keyed).
bool RenderStateShapesKey(DWORD state);

}  // namespace gx
