#include "platform/gfx/ff_key.h"

#include <cstring>

#include "platform/gfx/diagnostics.h"
#include "platform/gfx/formats.h"
#include "platform/gfx/resources.h"

namespace gx {

namespace {

bool ReadsTexture(DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; }

// The operations the generator implements (glsl_gen.cpp, Op).
bool KnownOp(DWORD op) {
  switch (op) {
    case D3DTOP_SELECTARG1: case D3DTOP_SELECTARG2:
    case D3DTOP_MODULATE: case D3DTOP_MODULATE2X: case D3DTOP_MODULATE4X:
    case D3DTOP_ADD: case D3DTOP_ADDSIGNED: case D3DTOP_ADDSIGNED2X: case D3DTOP_SUBTRACT: case D3DTOP_ADDSMOOTH:
    case D3DTOP_BLENDDIFFUSEALPHA: case D3DTOP_BLENDTEXTUREALPHA: case D3DTOP_BLENDFACTORALPHA:
    case D3DTOP_BLENDTEXTUREALPHAPM: case D3DTOP_BLENDCURRENTALPHA: case D3DTOP_PREMODULATE:
    case D3DTOP_MODULATEALPHA_ADDCOLOR: case D3DTOP_MODULATECOLOR_ADDALPHA:
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR: case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
    case D3DTOP_DOTPRODUCT3: case D3DTOP_MULTIPLYADD: case D3DTOP_LERP:
      return true;
    default:
      return false;
  }
}

// The arguments the generator implements (glsl_gen.cpp, Arg): D3DTA_TEMP and D3DTA_CONSTANT are not kept.
bool KnownArg(DWORD arg) {
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: case D3DTA_CURRENT: case D3DTA_TEXTURE: case D3DTA_TFACTOR: case D3DTA_SPECULAR: return true;
    default: return false;
  }
}

// The arguments a known operation reads: bit 0 = arg1, bit 1 = arg2, bit 2 = arg0.
unsigned ArgsOf(DWORD op) {
  switch (op) {
    case D3DTOP_SELECTARG1: case D3DTOP_PREMODULATE: return 1;
    case D3DTOP_SELECTARG2: return 2;
    case D3DTOP_MULTIPLYADD: case D3DTOP_LERP: return 7;
    default: return 3;
  }
}

// Fills op and arguments of one channel. A stage whose operation reads an
// unbound texture passes the current value on unchanged; so does an operation the
// generator does not implement (said once).
void Channel(DWORD stage, const char* channel, DWORD op, DWORD a1, DWORD a2, DWORD a0, bool textureBound,
             std::uint8_t& outOp, std::uint8_t* outArgs, bool& readsTexture) {
  if (!KnownOp(op)) {
    ReportOnce(Why("texture stage %u: %s operation %u (D3DTOP_*) is not handled; the stage passes the current "
                   "value on",
                   stage, channel, op));
    op = D3DTOP_SELECTARG1, a1 = D3DTA_CURRENT;
  }
  unsigned used = ArgsOf(op);
  DWORD args[3] = {a1, a2, a0};
  bool texture = false;
  for (int i = 0; i < 3; ++i)
    if ((used >> i) & 1) {
      texture |= ReadsTexture(args[i]);
      if (!KnownArg(args[i]))
        ReportOnce(Why("texture stage %u: %s argument %u (D3DTA_TEMP or D3DTA_CONSTANT) is not handled; it reads "
                       "as zero",
                       stage, channel, unsigned(args[i] & D3DTA_SELECTMASK)));
    }
  // Texture-alpha blends read the texture implicitly.
  if (op == D3DTOP_BLENDTEXTUREALPHA || op == D3DTOP_BLENDTEXTUREALPHAPM) texture = true;
  if (texture && !textureBound) {
    op = D3DTOP_SELECTARG1, used = 1, args[0] = D3DTA_CURRENT;
    texture = false;
  }
  readsTexture |= texture;
  // Stage 0's current value is the diffuse colour: one name for it, so a stage that selects
  // it is seen to pass it on.
  if (stage == 0)
    for (DWORD& a : args)
      if ((a & D3DTA_SELECTMASK) == D3DTA_DIFFUSE) a = (a & ~D3DTA_SELECTMASK) | D3DTA_CURRENT;
  // Selecting the second argument is selecting it first: one key, one program.
  if (op == D3DTOP_SELECTARG2) op = D3DTOP_SELECTARG1, used = 1, args[0] = args[1];
  outOp = std::uint8_t(op);
  for (int i = 0; i < 3; ++i) outArgs[i] = ((used >> i) & 1) ? std::uint8_t(args[i] & 0x3F) : 0;
}

// An alpha test that every 8-bit alpha passes: the program need not test (nor discard, which
// also keeps the rasteriser from testing depth before shading).
bool AlphaTestPassesAll(DWORD func, DWORD ref) {
  return (func == D3DCMP_GREATEREQUAL && ref == 0) || (func == D3DCMP_LESSEQUAL && ref == 255);
}

// PREMODULATE multiplies by the next stage's texture; without one it is SELECTARG1.
void SelectInsteadOfPremodulate(StageKey& k) {
  if (k.colorOp == D3DTOP_PREMODULATE) k.colorOp = D3DTOP_SELECTARG1;
  if (k.alphaOp == D3DTOP_PREMODULATE) k.alphaOp = D3DTOP_SELECTARG1;
}

}  // namespace

bool PassesOn(const StageKey& st) {
  return st.colorOp == D3DTOP_SELECTARG1 && st.colorArg[0] == D3DTA_CURRENT && st.alphaOp == D3DTOP_SELECTARG1 &&
         st.alphaArg[0] == D3DTA_CURRENT;
}

void BuildKey(const DeviceState& s, FixedFunctionKey& key) {
  std::memset(&key, 0, sizeof key);
  const auto& r = s.render;
  FvfLayout layout = LayoutOf(s.fvf);

  key.customVertex = s.vertexShader != nullptr;
  key.customPixel = s.pixelShader != nullptr;

  if (!key.customVertex) {
    key.position = layout.position < 0 ? kPosNone : (layout.rhw ? kPosRhw : kPosXyz);
    key.hasNormal = layout.normal >= 0;
    key.hasDiffuse = layout.diffuse >= 0;
    key.hasSpecular = layout.specular >= 0;
    key.texSets = std::uint8_t(layout.texCount);
    for (UINT i = 0; i < layout.texCount; ++i) key.texSize[i] = std::uint8_t(layout.texSize[i]);
  }

  bool transformed = !key.customVertex && key.position == kPosXyz;
  if (transformed && r[D3DRS_LIGHTING]) {
    key.lighting = 1;
    for (DWORD i = 0; i < kMaxLights; ++i)
      if (s.lightEnabled[i] && s.lights[i].Type == D3DLIGHT_DIRECTIONAL)
        ++key.lightCount;
      else if (s.lightEnabled[i] && (s.lights[i].Type == D3DLIGHT_POINT || s.lights[i].Type == D3DLIGHT_SPOT))
        ++key.positionalCount;
    key.normalize = r[D3DRS_NORMALIZENORMALS] != 0 && key.hasNormal;
    key.specular = r[D3DRS_SPECULARENABLE] != 0 && key.lightCount + key.positionalCount > 0;
    key.localViewer = r[D3DRS_LOCALVIEWER] != 0 && key.specular;
    // A material source naming a colour the vertex lacks (or with COLORVERTEX
    // off) falls back to the material.
    auto source = [&](DWORD v) -> std::uint8_t {
      if (!r[D3DRS_COLORVERTEX]) return D3DMCS_MATERIAL;
      if (v == D3DMCS_COLOR1) return key.hasDiffuse ? D3DMCS_COLOR1 : D3DMCS_MATERIAL;
      if (v == D3DMCS_COLOR2) return key.hasSpecular ? D3DMCS_COLOR2 : D3DMCS_MATERIAL;
      return D3DMCS_MATERIAL;
    };
    key.diffuseSource = source(r[D3DRS_DIFFUSEMATERIALSOURCE]);
    key.ambientSource = source(r[D3DRS_AMBIENTMATERIALSOURCE]);
    key.emissiveSource = source(r[D3DRS_EMISSIVEMATERIALSOURCE]);
    key.specularSource = key.specular ? source(r[D3DRS_SPECULARMATERIALSOURCE]) : 0;
  }

  if (!key.lighting && !key.customVertex)
    key.specular = r[D3DRS_SPECULARENABLE] != 0 && key.hasSpecular;  // unlit: the vertex specular is added
  if (key.customVertex) key.specular = r[D3DRS_SPECULARENABLE] != 0;

  if (r[D3DRS_FOGENABLE]) {
    DWORD table = r[D3DRS_FOGTABLEMODE], vertex = r[D3DRS_FOGVERTEXMODE];
    if (table >= D3DFOG_EXP && table <= D3DFOG_LINEAR) {
      key.fog = kFogTable, key.fogMode = std::uint8_t(table);
      // Without perspective (no w to take the eye depth from) table fog reads the projected z;
      // pre-transformed vertices then read their own z, not 1 / rhw.
      const D3DMATRIX& p = s.projection;
      key.fogOnZ = (transformed || key.position == kPosRhw) && p._14 == 0.0f && p._24 == 0.0f && p._34 == 0.0f &&
                   p._44 == 1.0f;
    } else if (vertex >= D3DFOG_EXP && vertex <= D3DFOG_LINEAR && transformed) {
      key.fog = kFogVertex, key.fogMode = std::uint8_t(vertex);
      key.rangeFog = r[D3DRS_RANGEFOGENABLE] != 0;
    } else if (key.customVertex) {
      key.fog = kFogVertex;  // the vertex shader supplies gx_Fog
    }
    // Fogging towards black only scales the colour: the program multiplies instead of mixing.
    key.fogBlack = key.fog && (r[D3DRS_FOGCOLOR] & 0xFFFFFF) == 0;
  }

  key.flatShade = r[D3DRS_SHADEMODE] == D3DSHADE_FLAT && !key.customPixel && !key.customVertex;
  if (r[D3DRS_ALPHATESTENABLE] && r[D3DRS_ALPHAFUNC] != D3DCMP_ALWAYS && r[D3DRS_ALPHAFUNC] >= D3DCMP_NEVER &&
      r[D3DRS_ALPHAFUNC] <= D3DCMP_ALWAYS && !AlphaTestPassesAll(r[D3DRS_ALPHAFUNC], r[D3DRS_ALPHAREF] & 0xFF))
    key.alphaFunc = std::uint8_t(r[D3DRS_ALPHAFUNC]);

  if (key.customPixel) return;  // the pixel shader replaces the stages (and their coordinates)

  bool premodulated = false;  // the previous stage multiplies by this stage's texture
  for (DWORD i = 0; i < kMaxStages; ++i) {
    const auto& st = s.stage[i];
    if (st[D3DTSS_COLOROP] == D3DTOP_DISABLE || st[D3DTSS_COLOROP] == 0) break;
    StageKey& k = key.stages[i];
    bool bound = s.textures[i] != nullptr;
    bool reads = premodulated && bound;
    Channel(i, "colour", st[D3DTSS_COLOROP], st[D3DTSS_COLORARG1], st[D3DTSS_COLORARG2], st[D3DTSS_COLORARG0], bound,
            k.colorOp, k.colorArg, reads);
    // A disabled alpha operation passes the current alpha on (except stage 0,
    // where current is the diffuse alpha: same thing).
    DWORD aop = st[D3DTSS_ALPHAOP];
    if (aop == D3DTOP_DISABLE || aop == 0)
      Channel(i, "alpha", D3DTOP_SELECTARG1, D3DTA_CURRENT, 0, 0, bound, k.alphaOp, k.alphaArg, reads);
    else
      Channel(i, "alpha", aop, st[D3DTSS_ALPHAARG1], st[D3DTSS_ALPHAARG2], st[D3DTSS_ALPHAARG0], bound, k.alphaOp,
              k.alphaArg, reads);
    if (reads) {
      auto* core = CoreOf(s.textures[i].get());
      k.texture = core && core->store.type == D3DRTYPE_CUBETEXTURE ? kTexCube : kTex2D;
      DWORD tci = st[D3DTSS_TEXCOORDINDEX];
      k.coordGen = std::uint8_t((tci >> 16) & 0xF);
      k.coordSet = k.coordGen ? 0 : std::uint8_t(tci & 7);
      if (!key.customVertex) {
        DWORD ttff = st[D3DTSS_TEXTURETRANSFORMFLAGS];
        // Generated sets have 3 coordinates.
        DWORD size = key.position == kPosXyz && k.coordGen ? 3 : k.coordSet < layout.texCount ? key.texSize[k.coordSet] : 0;
        // A count past 4 (0xFFFFFFFF, say) counts the set's own coordinates, as drivers do.
        DWORD count = ttff & 0xFF;
        if (count > 4) count = size;
        // Pre-transformed vertices skip the texture transform as they skip every transform.
        if (key.position == kPosXyz && count) {
          k.transform = std::uint8_t(count | ((ttff & D3DTTFF_PROJECTED) ? 0x80 : 0));
        } else if ((ttff & D3DTTFF_PROJECTED) && k.texture == kTex2D) {
          // PROJECTED alone: no matrix, the last coordinate of the set divides.
          if (size >= 2) k.transform = std::uint8_t(size | 0xC0);
        }
        if (key.position != kPosXyz) k.coordGen = 0;
      } else {
        k.coordGen = 0, k.coordSet = std::uint8_t(i);
      }
    }
    key.stageCount = std::uint8_t(i + 1);
    if (premodulated && !bound) SelectInsteadOfPremodulate(key.stages[i - 1]);
    premodulated = k.colorOp == D3DTOP_PREMODULATE || k.alphaOp == D3DTOP_PREMODULATE;
  }
  // Premodulating with a stage that does not run is selecting the first argument.
  if (key.stageCount > 0) SelectInsteadOfPremodulate(key.stages[key.stageCount - 1]);
  // Stages at the end that only pass the current value on change nothing.
  // (A stage whose texture the one before premodulates with still samples it.)
  auto premodulates = [](const StageKey& k) {
    return k.colorOp == D3DTOP_PREMODULATE || k.alphaOp == D3DTOP_PREMODULATE;
  };
  while (key.stageCount > 0 && PassesOn(key.stages[key.stageCount - 1]) &&
         !(key.stageCount > 1 && premodulates(key.stages[key.stageCount - 2])))
    key.stages[--key.stageCount] = StageKey{};
  // The viewer's position also shapes reflection and sphere-map coordinates.
  for (int i = 0; i < key.stageCount; ++i)
    if (key.stages[i].coordGen == 3 || key.stages[i].coordGen == 4)
      key.localViewer = key.localViewer || r[D3DRS_LOCALVIEWER] != 0;
}

std::uint64_t HashKey(const FixedFunctionKey& key) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&key);
  std::uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < sizeof key; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

bool operator==(const FixedFunctionKey& a, const FixedFunctionKey& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string KeyToString(const FixedFunctionKey& key) {
  static const char* kHex = "0123456789abcdef";
  const auto* p = reinterpret_cast<const std::uint8_t*>(&key);
  std::string out;
  out.reserve(sizeof key * 2);
  for (size_t i = 0; i < sizeof key; ++i) out += kHex[p[i] >> 4], out += kHex[p[i] & 15];
  return out;
}

bool KeyFromString(const std::string& text, FixedFunctionKey& key) {
  if (text.size() != sizeof key * 2) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  auto* p = reinterpret_cast<std::uint8_t*>(&key);
  for (size_t i = 0; i < sizeof key; ++i) {
    int hi = nibble(text[i * 2]), lo = nibble(text[i * 2 + 1]);
    if (hi < 0 || lo < 0) return false;
    p[i] = std::uint8_t(hi << 4 | lo);
  }
  return ValidKey(key);
}

// What BuildKey can produce, so a stored key cannot make the generator index past
// its arrays or emit operations it does not implement.
bool ValidKey(const FixedFunctionKey& k) {
  auto knownArg = [](std::uint8_t a) { return (a & ~0x30) <= D3DTA_CONSTANT; };
  if (k.position > kPosRhw || k.texSets > 8 || k.lightCount + k.positionalCount > int(kMaxLights) ||
      k.fogOnZ > (k.fog == kFogTable ? 1 : 0) || k.fog > kFogTable ||
      k.fogMode > D3DFOG_LINEAR || k.fogBlack > (k.fog ? 1 : 0) || k.alphaFunc > D3DCMP_ALWAYS ||
      k.stageCount > kMaxStages)
    return false;
  for (int i = 0; i < 8; ++i)
    if (k.texSize[i] > 4 || (i >= k.texSets && k.texSize[i] != 0)) return false;
  for (int i = 0; i < int(kMaxStages); ++i) {
    const StageKey& st = k.stages[i];
    if (i >= k.stageCount) {
      static const StageKey kUnused{};
      if (std::memcmp(&st, &kUnused, sizeof st) != 0) return false;
      continue;
    }
    if (!KnownOp(st.colorOp) || !KnownOp(st.alphaOp)) return false;
    if ((st.colorOp == D3DTOP_PREMODULATE || st.alphaOp == D3DTOP_PREMODULATE) &&
        (i + 1 >= k.stageCount || !k.stages[i + 1].texture))
      return false;
    for (int a = 0; a < 3; ++a)
      if (!knownArg(st.colorArg[a]) || !knownArg(st.alphaArg[a])) return false;
    if (st.texture > kTexCube || st.coordSet >= 8 || st.coordGen > (D3DTSS_TCI_SPHEREMAP >> 16) ||
        (st.transform & 0x3F) > 4 || (st.transform & 0x40 && !(st.transform & 0x80)))
      return false;
  }
  return true;
}

bool RenderStateShapesKey(DWORD state) {
  switch (state) {
    case D3DRS_LIGHTING: case D3DRS_NORMALIZENORMALS: case D3DRS_SPECULARENABLE: case D3DRS_LOCALVIEWER:
    case D3DRS_COLORVERTEX: case D3DRS_DIFFUSEMATERIALSOURCE: case D3DRS_AMBIENTMATERIALSOURCE:
    case D3DRS_EMISSIVEMATERIALSOURCE: case D3DRS_SPECULARMATERIALSOURCE:
    case D3DRS_FOGENABLE: case D3DRS_FOGTABLEMODE: case D3DRS_FOGVERTEXMODE: case D3DRS_RANGEFOGENABLE:
    case D3DRS_FOGCOLOR:
    case D3DRS_SHADEMODE: case D3DRS_ALPHATESTENABLE: case D3DRS_ALPHAFUNC: case D3DRS_ALPHAREF:
      return true;
    default:
      return false;
  }
}

}  // namespace gx
