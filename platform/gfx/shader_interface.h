#pragma once
// The one table of names and slots through which vertex data reaches every
// program the layer runs: the fixed-function generator, the D3DX shader
// compiler's prelude, the program linker and the gl backend's attribute
// pointers all read it (docs/gfx.md, "Custom shaders").

#include <string>

namespace gx {

// A vertex attribute's slot is its index in kAttributes.
enum Attribute : int {
  kAttrPosition = 0,   // w = 1 for XYZ, rhw for XYZRHW
  kAttrNormal = 1,
  kAttrDiffuse = 2,    // rgba 0..1; reads as white when the vertex has none
  kAttrTexCoord0 = 3,
  kAttrSpecular = 4,   // reads as zero when the vertex has none
  kAttrTexCoord1 = 5,  // ... kAttrTexCoord1 + 6 = gx_TexCoord7
  kAttrCount = 12
};

struct AttributeInfo {
  const char* name;
  const char* glslType;
};

inline constexpr AttributeInfo kAttributes[kAttrCount] = {
    {"gx_Position", "vec4"},  {"gx_Normal", "vec3"},    {"gx_Diffuse", "vec4"},   {"gx_TexCoord0", "vec4"},
    {"gx_Specular", "vec4"},  {"gx_TexCoord1", "vec4"}, {"gx_TexCoord2", "vec4"}, {"gx_TexCoord3", "vec4"},
    {"gx_TexCoord4", "vec4"}, {"gx_TexCoord5", "vec4"}, {"gx_TexCoord6", "vec4"}, {"gx_TexCoord7", "vec4"}};

// The slot of texture coordinate set `set` (0..7).
constexpr int TexCoordAttribute(int set) { return set == 0 ? kAttrTexCoord0 : kAttrTexCoord1 + set - 1; }

static_assert(TexCoordAttribute(0) == 3 && TexCoordAttribute(1) == 5 && TexCoordAttribute(7) == kAttrCount - 1);
static_assert(kAttributes[kAttrPosition].name[3] == 'P' && kAttributes[kAttrSpecular].name[3] == 'S');
static_assert(kAttributes[TexCoordAttribute(7)].name[11] == '7');

// "layout(location = N) in TYPE NAME;\n"
inline std::string AttributeDeclaration(int slot) {
  return "layout(location = " + std::to_string(slot) + ") in " + kAttributes[slot].glslType + " " +
         kAttributes[slot].name + ";\n";
}

// What a pixel stage writes.
inline constexpr const char* kFragColorName = "gx_FragColor";

}  // namespace gx
