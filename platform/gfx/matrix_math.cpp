#include "platform/gfx/matrix_math.h"

#include <cmath>

namespace gx {

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
  return r;
}

D3DMATRIX Transpose(const D3DMATRIX& m) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = m.m[j][i];
  return r;
}

bool Invert(const D3DMATRIX& in, D3DMATRIX& out) {
  // Gauss-Jordan with partial pivoting, in double for headroom.
  double a[4][8];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[i][j] = in.m[i][j], a[i][j + 4] = i == j ? 1.0 : 0.0;
  for (int c = 0; c < 4; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    if (std::fabs(a[pivot][c]) < 1e-30) return false;
    if (pivot != c)
      for (int j = 0; j < 8; ++j) std::swap(a[c][j], a[pivot][j]);
    double inv = 1.0 / a[c][c];
    for (int j = 0; j < 8; ++j) a[c][j] *= inv;
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      double f = a[r][c];
      for (int j = 0; j < 8; ++j) a[r][j] -= f * a[c][j];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out.m[i][j] = float(a[i][j + 4]);
  return true;
}

D3DVECTOR TransformNormal(const D3DVECTOR& v, const D3DMATRIX& m) {
  return {v.x * m._11 + v.y * m._21 + v.z * m._31, v.x * m._12 + v.y * m._22 + v.z * m._32,
          v.x * m._13 + v.y * m._23 + v.z * m._33};
}

}  // namespace gx

namespace gx {

D3DVECTOR TransformPoint(const D3DVECTOR& v, const D3DMATRIX& m) {
  D3DVECTOR r = TransformNormal(v, m);
  return {r.x + m._41, r.y + m._42, r.z + m._43};
}

}  // namespace gx
