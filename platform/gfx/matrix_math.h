#pragma once
// The few matrix operations the device needs itself (row vectors, as Direct3D).

#include "platform/gfx/d3d9types.h"

namespace gx {

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b);
D3DMATRIX Transpose(const D3DMATRIX& m);
// false (and m unchanged) when m is singular.
bool Invert(const D3DMATRIX& m, D3DMATRIX& out);
// A direction (w = 0) through the upper 3x3 of m.
D3DVECTOR TransformNormal(const D3DVECTOR& v, const D3DMATRIX& m);
// A point (w = 1) through m, affine part only.
D3DVECTOR TransformPoint(const D3DVECTOR& v, const D3DMATRIX& m);

}  // namespace gx
