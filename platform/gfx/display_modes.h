#pragma once
// The display modes adapter 0 reports, and its desktop mode.

#include <vector>

#include "platform/gfx/d3d9types.h"

namespace gx {

const std::vector<D3DDISPLAYMODE>& DisplayModes();
D3DDISPLAYMODE DesktopMode();

}  // namespace gx
