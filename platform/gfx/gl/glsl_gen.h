#pragma once
// GLSL 330 for a fixed-function key, and the wrappers that fit custom shaders
// into the device's conventions (see docs/gfx.md).

#include <string>

#include "platform/gfx/ff_key.h"

namespace gx {

std::string FixedVertexShader(const FixedFunctionKey& key);
std::string FixedFragmentShader(const FixedFunctionKey& key);

// A custom pixel shader gets the device's fog and alpha test after its main.
std::string WrapPixelShader(const std::string& source, const FixedFunctionKey& key);
// A custom vertex shader's gx_ClipPos is turned into GL clip coordinates.
std::string WrapVertexShader(const std::string& source);

}  // namespace gx
