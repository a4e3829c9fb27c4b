// GLSL for the fixed-function pipeline, following the formulas Direct3D 9
// documents: vertex lighting with directional lights, material sources,
// linear/exp fog, generated texture coordinates with the texture transform,
// and the texture stage cascade.

#include "platform/gfx/gl/glsl_gen.h"

#include <cstdio>

#include "platform/gfx/gl/flavour.h"
#include "platform/gfx/shader_interface.h"

namespace gx {

namespace {

// D3D9 samples at integer pixel coordinates, GL at half-integers. Shifting by a
// hair under half a pixel reproduces D3D's coverage without ties on edges.
const char* const kHeader = GlslPrologue();

// Direct3D colours are bytes B, G, R, A in memory. Desktop GL reads them in that order itself
// (attribute size GL_BGRA); GL ES reads R, G, B, A, so the shader swaps them back under the
// name the rest of the source uses.
std::string ColorAttributeName(const std::string& name) {
  return kGlEs ? name + "_bgra;\n#define " + name + " (" + name + "_bgra.bgra)" : name + ";";
}

// The table's declaration of a slot, with the colour slots read the ES way on GL ES.
std::string DeclareAttribute(int slot) {
  if (!kGlEs || (slot != kAttrDiffuse && slot != kAttrSpecular)) return AttributeDeclaration(slot);
  return "layout(location = " + std::to_string(slot) + ") in vec4 " + ColorAttributeName(kAttributes[slot].name) + "\n";
}

std::string Fmt(const char* fmt, int a, int b = 0) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

const char* kToGl =
    "uniform vec4 gx_PixelAdjust;\n"
    "vec4 gx_ToGl(vec4 c) {\n"
    "  return vec4(c.x + c.w * gx_PixelAdjust.x, -c.y + c.w * gx_PixelAdjust.y, 2.0 * c.z - c.w, c.w);\n"
    "}\n";

// Colours the vertex stage would hand on unchanged at every vertex: the pixel stage reads them as
// constants, so nothing is interpolated and the compiler folds what they take part in (a
// modulation by white, an added black). A pixel shader reads the varyings itself.
bool DiffuseIsWhite(const FixedFunctionKey& k) {
  return !k.customPixel && !k.customVertex && !k.lighting && !k.hasDiffuse;
}
bool SpecularIsBlack(const FixedFunctionKey& k) {
  return !k.customPixel && !k.customVertex && !k.hasSpecular && !(k.lighting && k.specular);
}

// Components of stage i's coordinates the pixel stage reads: (u, v) for a 2D lookup, three for
// a cube, and the divisor of a projected lookup (u, v, w where it is the fourth).
int TexWidth(const FixedFunctionKey& k, int i) {
  if (k.customPixel) return 4;  // the shader declares them as vec4
  const StageKey& st = k.stages[i];
  if (st.texture == kTexCube) return 3;
  int count = st.transform & 7;
  if ((st.transform & 0x80) && count >= 2) return count == 2 ? 2 : count;
  return 2;
}

std::string VecType(int width) { return width == 4 ? "vec4" : "vec" + std::to_string(width); }

// The varyings a stage list reads; a custom pixel shader may read any coordinate set.
std::string Varyings(const FixedFunctionKey& k) {
  // Flat shading must be declared on both sides of the interface.
  std::string q = k.flatShade ? "flat out" : "out";
  std::string s;
  if (!DiffuseIsWhite(k)) s += q + " vec4 gx_Color0;\n";
  if (!SpecularIsBlack(k)) s += q + " vec4 gx_Color1;\n";
  s += "out float gx_Fog;\n";
  for (int i = 0; i < int(kMaxStages); ++i)
    if (k.customPixel || (i < k.stageCount && k.stages[i].texture))
      s += "out " + VecType(TexWidth(k, i)) + " gx_Tex" + std::to_string(i) + ";\n";
  return s;
}

// A vec4 expression cut to the components TexWidth keeps.
std::string Narrowed(const std::string& v, int width) {
  switch (width) {
    case 2: return "(" + v + ").xy";
    case 3: return "(" + v + ").xyz";
    default: return v;
  }
}

// Missing components of a coordinate set read as Direct3D pads them before the
// texture transform: the one after the last given is 1, the rest 0.
std::string Padded(int set, int size) {
  std::string in = kAttributes[TexCoordAttribute(set)].name;
  switch (size) {
    case 1: return "vec4(" + in + ".x, 1.0, 0.0, 0.0)";
    case 2: return "vec4(" + in + ".xy, 1.0, 0.0)";
    case 3: return "vec4(" + in + ".xyz, 1.0)";
    default: return in;
  }
}

std::string FogFactor(int mode, const std::string& d) {
  switch (mode) {
    case 1: return "exp(-(" + d + ") * gx_FogParams.z)";
    case 2: return "exp(-((" + d + ") * gx_FogParams.z) * ((" + d + ") * gx_FogParams.z))";
    default: return "(gx_FogParams.y - (" + d + ")) / (gx_FogParams.y - gx_FogParams.x)";
  }
}

std::string Arg(int arg, int stage) {
  std::string v;
  switch (DWORD(arg) & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: v = "gx_Color0"; break;
    case D3DTA_CURRENT: v = stage == 0 ? "gx_Color0" : "cur"; break;  // stage 0's current is the diffuse
    case D3DTA_TEXTURE: v = "tex" + std::to_string(stage); break;
    case D3DTA_TFACTOR: v = "gx_TFactor"; break;
    case D3DTA_SPECULAR: v = "gx_Color1"; break;
    default: v = "vec4(0.0)"; break;  // D3DTA_TEMP, D3DTA_CONSTANT: not kept (the key builder says so)
  }
  if (arg & D3DTA_ALPHAREPLICATE) v = "(" + v + ").aaaa";
  if (arg & D3DTA_COMPLEMENT) v = "(vec4(1.0) - " + v + ")";
  return v;
}

// The stage's current value before this stage: the diffuse colour at stage 0.
std::string Current(int stage) { return stage == 0 ? "gx_Color0" : "cur"; }

std::string Op(int op, const std::string& a1, const std::string& a2, int stage) {
  std::string tex = "tex" + std::to_string(stage);
  switch (D3DTEXTUREOP(op)) {
    case D3DTOP_SELECTARG1: return a1;
    case D3DTOP_SELECTARG2: return a2;
    case D3DTOP_MODULATE: return a1 + " * " + a2;
    case D3DTOP_MODULATE2X: return "2.0 * " + a1 + " * " + a2;
    case D3DTOP_MODULATE4X: return "4.0 * " + a1 + " * " + a2;
    case D3DTOP_ADD: return a1 + " + " + a2;
    case D3DTOP_ADDSIGNED: return a1 + " + " + a2 + " - vec4(0.5)";
    case D3DTOP_ADDSIGNED2X: return "2.0 * (" + a1 + " + " + a2 + " - vec4(0.5))";
    case D3DTOP_SUBTRACT: return a1 + " - " + a2;
    case D3DTOP_ADDSMOOTH: return a1 + " + " + a2 + " - " + a1 + " * " + a2;
    case D3DTOP_BLENDDIFFUSEALPHA: return "mix(" + a2 + ", " + a1 + ", gx_Color0.a)";
    case D3DTOP_BLENDTEXTUREALPHA: return "mix(" + a2 + ", " + a1 + ", " + tex + ".a)";
    case D3DTOP_BLENDFACTORALPHA: return "mix(" + a2 + ", " + a1 + ", gx_TFactor.a)";
    case D3DTOP_BLENDTEXTUREALPHAPM: return a1 + " + " + a2 + " * (1.0 - " + tex + ".a)";
    case D3DTOP_BLENDCURRENTALPHA: return "mix(" + a2 + ", " + a1 + ", " + Current(stage) + ".a)";
    default: return a1;  // never in a valid key (ff_key.cpp passes other operations on as SELECTARG1)
  }
}

// Operations whose result stays in 0..1 when their inputs do: no saturation needed.
bool StaysInRange(int op) {
  switch (D3DTEXTUREOP(op)) {
    case D3DTOP_SELECTARG1: case D3DTOP_SELECTARG2: case D3DTOP_MODULATE:
    case D3DTOP_BLENDDIFFUSEALPHA: case D3DTOP_BLENDTEXTUREALPHA: case D3DTOP_BLENDFACTORALPHA:
    case D3DTOP_BLENDCURRENTALPHA:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string FixedVertexShader(const FixedFunctionKey& k) {
  std::string s = kHeader;
  s += AttributeDeclaration(kAttrPosition);
  if (k.hasNormal) s += AttributeDeclaration(kAttrNormal);
  if (k.hasDiffuse) s += DeclareAttribute(kAttrDiffuse);
  if (k.hasSpecular) s += DeclareAttribute(kAttrSpecular);
  for (int i = 0; i < k.texSets; ++i) s += AttributeDeclaration(TexCoordAttribute(i));
  s += Varyings(k);
  s += kToGl;
  s += "uniform vec4 gx_Viewport;\n";
  bool xyz = k.position == kPosXyz;
  // World-view and its inverse transpose travel together: one upload per draw.
  if (xyz) s += "uniform mat4 gx_WorldViewNormal[2];\nuniform mat4 gx_Projection;\n";
  if (k.lighting) {
    s += "uniform vec4 gx_MatDiffuse;\nuniform vec4 gx_MatAmbient;\nuniform vec4 gx_MatSpecular;\n"
         "uniform vec4 gx_MatEmissive;\nuniform float gx_MatPower;\nuniform vec4 gx_GlobalAmbient;\n";
    if (k.lightCount)
      s += Fmt("uniform vec3 gx_LightDir[%d];\nuniform vec4 gx_LightDiffuse[%d];\n", k.lightCount, k.lightCount) +
           Fmt("uniform vec4 gx_LightSpecular[%d];\nuniform vec4 gx_LightAmbient[%d];\n", k.lightCount, k.lightCount);
  }
  if (k.fog) s += "uniform vec4 gx_FogParams;\n";
  for (int i = 0; i < k.stageCount; ++i)
    if (k.stages[i].transform) s += Fmt("uniform mat4 gx_TexMatrix%d;\n", i);

  s += "void main() {\n";
  if (xyz) {
    s += "  vec4 eye = gx_WorldViewNormal[0] * vec4(gx_Position.xyz, 1.0);\n"
         "  gl_Position = gx_ToGl(gx_Projection * eye);\n";
    s += k.hasNormal ? "  vec3 n = mat3(gx_WorldViewNormal[1]) * gx_Normal;\n" : "  vec3 n = vec3(0.0);\n";
    if (k.normalize) s += "  n = normalize(n);\n";
  } else {
    // Pre-transformed: screen pixels with D3D's centres, depth as given, 1/rhw for perspective.
    s += "  float w = gx_Position.w != 0.0 ? 1.0 / gx_Position.w : 1.0;\n"
         "  vec2 ndc = (gx_Position.xy + vec2(63.0 / 128.0) - gx_Viewport.xy) / gx_Viewport.zw * 2.0 - 1.0;\n"
         "  gl_Position = vec4(ndc * w, (2.0 * gx_Position.z - 1.0) * w, w);\n";
  }
  std::string diffuse = k.hasDiffuse ? "gx_Diffuse" : "vec4(1.0)";
  std::string specular = k.hasSpecular ? "gx_Specular" : "vec4(0.0)";
  if (k.lighting) {
    auto src = [&](int source, const char* material) -> std::string {
      if (source == 1) return diffuse;
      if (source == 2) return specular;
      return material;
    };
    s += "  vec4 cd = " + src(k.diffuseSource, "gx_MatDiffuse") + ";\n";
    s += "  vec4 ca = " + src(k.ambientSource, "gx_MatAmbient") + ";\n";
    s += "  vec4 ce = " + src(k.emissiveSource, "gx_MatEmissive") + ";\n";
    s += "  vec3 amb = gx_GlobalAmbient.rgb;\n  vec3 dif = vec3(0.0);\n  vec3 spe = vec3(0.0);\n";
    if (k.lightCount) {
      s += Fmt("  for (int i = 0; i < %d; ++i) {\n", k.lightCount);
      s += "    vec3 l = gx_LightDir[i];\n"
           "    amb += gx_LightAmbient[i].rgb;\n"
           "    float nl = dot(n, l);\n"
           "    dif += gx_LightDiffuse[i].rgb * max(nl, 0.0);\n";
      if (k.specular) {
        s += k.localViewer ? "    vec3 h = normalize(normalize(-eye.xyz) + l);\n"
                           : "    vec3 h = normalize(vec3(0.0, 0.0, -1.0) + l);\n";
        s += "    if (nl > 0.0) spe += gx_LightSpecular[i].rgb * pow(max(dot(n, h), 0.0), gx_MatPower);\n";
      }
      s += "  }\n";
    }
    s += "  gx_Color0 = vec4(clamp(ca.rgb * amb + cd.rgb * dif + ce.rgb, 0.0, 1.0), cd.a);\n";
    if (k.specular)
      s += "  gx_Color1 = vec4(clamp(" + src(k.specularSource, "gx_MatSpecular") + ".rgb * spe, 0.0, 1.0), 0.0);\n";
    else if (!SpecularIsBlack(k))
      s += "  gx_Color1 = " + specular + ";\n";
  } else {
    if (!DiffuseIsWhite(k)) s += "  gx_Color0 = " + diffuse + ";\n";
    if (!SpecularIsBlack(k)) s += "  gx_Color1 = " + specular + ";\n";
  }

  if (k.fog == kFogVertex && xyz) {
    std::string d = k.rangeFog ? "length(eye.xyz)" : "eye.z";
    s += "  gx_Fog = clamp(" + FogFactor(k.fogMode, d) + ", 0.0, 1.0);\n";
  } else if (k.fog == kFogTable && xyz) {
    s += "  gx_Fog = eye.z;\n";  // the factor is taken per pixel
  } else if (k.fog == kFogTable) {
    s += "  gx_Fog = w;\n";
  } else {
    s += "  gx_Fog = 1.0;\n";
  }

  if (k.customPixel) {
    // A pixel shader reads the coordinate sets as they are.
    for (int i = 0; i < (k.texSets ? k.texSets : 1); ++i) {
      std::string value = i < k.texSets ? Padded(i, k.texSize[i]) : "vec4(0.0, 0.0, 0.0, 1.0)";
      s += "  gx_Tex" + std::to_string(i) + " = " + value + ";\n";
    }
  } else {
    for (int i = 0; i < k.stageCount; ++i) {
      const StageKey& st = k.stages[i];
      if (!st.texture) continue;
      std::string tc;
      bool gen = xyz && st.coordGen;
      if (gen && st.coordGen == 1) {
        tc = "vec4(n, 1.0)";
      } else if (gen && st.coordGen == 2) {
        tc = "vec4(eye.xyz, 1.0)";
      } else if (gen && (st.coordGen == 3 || st.coordGen == 4)) {
        // Reflection of the view direction about the normal, in camera space.
        std::string e = "e" + std::to_string(i), r = "r" + std::to_string(i);
        // Toward the eye: from the vertex with a local viewer, else straight down -z.
        s += "  vec3 " + e + (k.localViewer ? " = normalize(-eye.xyz);\n" : " = vec3(0.0, 0.0, -1.0);\n");
        s += "  vec3 " + r + " = 2.0 * dot(" + e + ", n) * n - " + e + ";\n";
        if (st.coordGen == 3) {
          tc = "vec4(r" + std::to_string(i) + ", 1.0)";
        } else {
          // Sphere map: the reflection folded onto the unit disc, v pointing down.
          s += "  float m" + std::to_string(i) + " = 2.0 * sqrt(" + r + ".x * " + r + ".x + " + r + ".y * " + r +
               ".y + (" + r + ".z - 1.0) * (" + r + ".z - 1.0));\n";
          std::string m = "max(m" + std::to_string(i) + ", 1e-6)";
          tc = "vec4(" + r + ".x / " + m + " + 0.5, -" + r + ".y / " + m + " + 0.5, 1.0, 0.0)";
        }
      } else if (st.coordSet < k.texSets) {
        tc = Padded(st.coordSet, k.texSize[st.coordSet]);
      } else {
        tc = "vec4(0.0, 0.0, 0.0, 1.0)";
      }
      if (st.transform && xyz) tc = Fmt("(gx_TexMatrix%d * ", i) + tc + ")";
      s += Fmt("  gx_Tex%d = ", i) + Narrowed(tc, TexWidth(k, i)) + ";\n";
    }
  }
  s += "}\n";
  return s;
}

// inRange: the alpha is known to lie in 0..1 (the stages' result), so the clamp a shader's own
// output needs would change nothing.
static std::string AlphaTest(int func, const std::string& alpha, bool inRange) {
  static const char* kOps[] = {"", "false", "<", "==", "<=", ">", "!=", ">=", "true"};
  if (func <= 0 || func > 8) return "";
  std::string cmp = func == 1 ? "false" : "ai " + std::string(kOps[func]) + " gx_AlphaRef";
  std::string a = inRange ? alpha : "clamp(" + alpha + ", 0.0, 1.0)";
  return "  int ai = int(" + a + " * 255.0 + 0.5);\n  if (!(" + cmp + ")) discard;\n";
}

static std::string FogApply(const FixedFunctionKey& k, const std::string& color, const std::string& fogIn) {
  if (!k.fog) return "";
  std::string f = fogIn;
  if (k.fog == kFogTable) f = "clamp(" + FogFactor(k.fogMode, fogIn) + ", 0.0, 1.0)";
  // mix(0, c, f) is c * f to the last bit.
  if (k.fogBlack) return "  " + color + ".rgb *= " + f + ";\n";
  return "  " + color + ".rgb = mix(gx_FogColor, " + color + ".rgb, " + f + ");\n";
}

static std::string FogDeclarations(const FixedFunctionKey& k) {
  if (!k.fog) return "";
  return std::string("in float gx_Fog;\n") + (k.fogBlack ? "" : "uniform vec3 gx_FogColor;\n") +
         (k.fog == kFogTable ? "uniform vec4 gx_FogParams;\n" : "");
}

std::string FixedFragmentShader(const FixedFunctionKey& k) {
  std::string s = kHeader;
  const char* interp = k.flatShade ? "flat " : "";
  s += DiffuseIsWhite(k) ? "const vec4 gx_Color0 = vec4(1.0);\n" : std::string(interp) + "in vec4 gx_Color0;\n";
  s += SpecularIsBlack(k) ? "const vec4 gx_Color1 = vec4(0.0);\n" : std::string(interp) + "in vec4 gx_Color1;\n";
  s += FogDeclarations(k);
  s += "uniform vec4 gx_TFactor;\nuniform int gx_AlphaRef;\nout vec4 gx_FragColor;\n";
  for (int i = 0; i < k.stageCount; ++i) {
    if (!k.stages[i].texture) continue;
    s += "in " + VecType(TexWidth(k, i)) + Fmt(" gx_Tex%d;\n", i);
    s += std::string("uniform ") + (k.stages[i].texture == kTexCube ? "samplerCube" : "sampler2D") +
         Fmt(" gx_Sampler%d;\n", i);
  }
  s += "void main() {\n  vec4 cur = gx_Color0;\n";
  for (int i = 0; i < k.stageCount; ++i) {
    const StageKey& st = k.stages[i];
    if (PassesOn(st)) continue;
    std::string n = std::to_string(i);
    if (st.texture) {
      std::string tc = "gx_Tex" + n;
      int count = st.transform & 7;
      bool projected = (st.transform & 0x80) != 0 && count >= 2;
      if (st.texture == kTexCube) {
        s += "  vec4 tex" + n + " = texture(gx_Sampler" + n + ", " + tc + ".xyz);\n";
      } else if (projected) {
        const char* last = count == 2 ? "y" : count == 3 ? "z" : "w";
        s += "  vec4 tex" + n + " = texture(gx_Sampler" + n + ", " + tc + ".xy / " + tc + "." + last + ");\n";
      } else {
        s += "  vec4 tex" + n + " = texture(gx_Sampler" + n + ", " + tc + ".xy);\n";
      }
    }
    std::string c = Op(st.colorOp, Arg(st.colorArg[0], i), Arg(st.colorArg[1], i), i);
    std::string a = Op(st.alphaOp, Arg(st.alphaArg[0], i), Arg(st.alphaArg[1], i), i);
    // Every input lies in 0..1; only operations that can leave it need the saturation.
    std::string v = "vec4((" + c + ").rgb, (" + a + ").a)";
    if (c == a) v = c;
    if (StaysInRange(st.colorOp) && StaysInRange(st.alphaOp))
      s += "  cur = " + v + ";\n";
    else
      s += "  cur = clamp(" + v + ", 0.0, 1.0);\n";
  }
  if (k.specular) s += "  cur.rgb = clamp(cur.rgb + gx_Color1.rgb, 0.0, 1.0);\n";
  // Every stage's result lies in 0..1: its inputs do, and operations that can leave the range
  // are clamped.
  s += AlphaTest(k.alphaFunc, "cur.a", true);
  s += FogApply(k, "cur", "gx_Fog");
  s += "  gx_FragColor = cur;\n}\n";
  return s;
}

// GLSL ES: the version line becomes the ES prologue and the colour attributes are read the ES
// way (see ColorAttributeName); desktop sources pass unchanged.
static std::string ForThisGl(const std::string& source) {
  if (!kGlEs) return source;
  std::string s = source;
  size_t pos = s.find("#version");
  if (pos != std::string::npos) {
    size_t eol = s.find('\n', pos);
    if (eol == std::string::npos) eol = s.size();
    std::string prologue = GlslPrologue();
    prologue.pop_back();  // the source's own line end stays
    s.replace(pos, eol - pos, prologue);
  }
  for (const char* name : {"gx_Diffuse", "gx_Specular"}) {
    std::string decl = std::string("in vec4 ") + name + ";";
    size_t at = s.find(decl);
    if (at != std::string::npos) s.replace(at, decl.size(), "in vec4 " + ColorAttributeName(name));
  }
  // GLSL ES has no uniform initialisers: "uniform float f = 4.0;" becomes "uniform float f;" and
  // a line "// vk_default f 4.0" that the program cache reads to set the value after linking.
  for (size_t at = s.find("uniform "); at != std::string::npos; at = s.find("uniform ", at + 1)) {
    if (at > 0 && s[at - 1] != '\n' && s[at - 1] != ' ' && s[at - 1] != '\t') continue;
    size_t end = s.find(';', at), eq = s.find('=', at), eol = s.find('\n', at);
    if (end == std::string::npos || eq == std::string::npos || eq > end || (eol != std::string::npos && eol < end))
      continue;
    size_t nameEnd = s.find_last_not_of(" \t", eq - 1) + 1;
    size_t nameBegin = s.find_last_of(" \t", nameEnd - 1) + 1;
    std::string name = s.substr(nameBegin, nameEnd - nameBegin), value = s.substr(eq + 1, end - eq - 1);
    std::string decl = s.substr(at, nameEnd - at) + ";  // vk_default " + name + " " + value;
    s.replace(at, end + 1 - at, decl);
  }
  return s;
}

// Puts "#define main vk_user_main" right after the #version line (and the ES prologue) so the
// device's own main can run the user's first.
static std::string RenameMain(const std::string& original, const char* prelude) {
  std::string out;
  const std::string source = ForThisGl(original);
  size_t pos = source.find("#version");
  if (pos == std::string::npos) {
    out = std::string(kHeader) + "#define main vk_user_main\n" + prelude + "#line 1\n" + source;
  } else {
    size_t eol = source.find('\n', pos);
    if (eol == std::string::npos) eol = source.size();
    out = source.substr(0, eol) + "\n#define main vk_user_main\n" + prelude + "#line 2\n" +
          (eol < source.size() ? source.substr(eol + 1) : std::string());
  }
  return out + "\n#undef main\n";
}

std::string WrapPixelShader(const std::string& source, const FixedFunctionKey& k) {
  std::string s = RenameMain(source, "");
  // All of them, whether or not the fog reads them: the shader's own code may.
  if (k.fog) s += "in float gx_Fog;\nuniform vec3 gx_FogColor;\nuniform vec4 gx_FogParams;\n";
  if (k.alphaFunc) s += "uniform int gx_AlphaRef;\n";
  s += "void main() {\n  vk_user_main();\n";
  s += AlphaTest(k.alphaFunc, "gx_FragColor.a", false);
  s += FogApply(k, "gx_FragColor", "gx_Fog");
  s += "}\n";
  return s;
}

std::string WrapVertexShader(const std::string& source) {
  std::string s = RenameMain(source, "vec4 gx_ClipPos;\n");
  s += kToGl;
  s += "void main() {\n  vk_user_main();\n  gl_Position = gx_ToGl(gx_ClipPos);\n}\n";
  return s;
}

}  // namespace gx
