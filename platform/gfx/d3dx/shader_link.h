#pragma once
// Helpers the shader compiler and effects share.

#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/d3dx/d3dx9.h"
#include "platform/gfx/d3dx/glsl_build.h"

namespace d3dx {

// "ps_2_0" and friends; false for an unknown profile.
bool ProfileStage(const char* profile, ShaderStage& stage);
// "#define" lines from a D3DXMACRO list (terminated by a null name).
std::vector<std::string> MacroLines(const D3DXMACRO* defines);

}  // namespace d3dx
