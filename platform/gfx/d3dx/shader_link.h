#pragma once
// How compiled code, constant tables and the device's shader objects meet.

#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/d3dx/glsl_build.h"
#include "platform/gfx/d3dx9.h"

namespace vkd3dx {

// Called for every shader object the device creates: links it to the constant
// table of the code it was made from, if any.
void LinkCreatedShader(const DWORD* function, const std::shared_ptr<IDirect3DShader9Base>& shader);

// "ps_2_0" and friends; false for an unknown profile.
bool ProfileStage(const char* profile, ShaderStage& stage);
// "#define" lines from a D3DXMACRO list (terminated by a null name).
std::vector<std::string> MacroLines(const D3DXMACRO* defines);

}  // namespace vkd3dx
