// D3DX vector and matrix helpers. Row vectors (v' = v · M), left-handed
// coordinates, single precision, with the matrices D3DX 9 documents.

#include <cmath>
#include <cstring>

#include "platform/gfx/d3dx/d3dx9.h"

// ---------------------------------------------------------------------------
// Types

D3DXMATRIX::D3DXMATRIX(const float* f) : D3DMATRIX{} { std::memcpy(&_11, f, sizeof(float) * 16); }

D3DXMATRIX::D3DXMATRIX(float f11, float f12, float f13, float f14, float f21, float f22, float f23, float f24,
                       float f31, float f32, float f33, float f34, float f41, float f42, float f43, float f44)
    : D3DMATRIX{} {
  _11 = f11; _12 = f12; _13 = f13; _14 = f14;
  _21 = f21; _22 = f22; _23 = f23; _24 = f24;
  _31 = f31; _32 = f32; _33 = f33; _34 = f34;
  _41 = f41; _42 = f42; _43 = f43; _44 = f44;
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& b) {
  D3DXMatrixMultiply(this, this, &b);
  return *this;
}

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& b) const {
  D3DXMATRIX r;
  D3DXMatrixMultiply(&r, this, &b);
  return r;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& b) const {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (m[i][j] != b.m[i][j]) return false;
  return true;
}

D3DXCOLOR::D3DXCOLOR(D3DCOLOR argb)
    : r(((argb >> 16) & 0xFF) / 255.0f),
      g(((argb >> 8) & 0xFF) / 255.0f),
      b((argb & 0xFF) / 255.0f),
      a(((argb >> 24) & 0xFF) / 255.0f) {}

D3DXCOLOR::operator D3DCOLOR() const {
  auto byte = [](float v) -> DWORD {
    if (!(v > 0.0f)) return 0;  // also catches NaN
    if (v >= 1.0f) return 255;
    return static_cast<DWORD>(v * 255.0f + 0.5f);
  };
  return (byte(a) << 24) | (byte(r) << 16) | (byte(g) << 8) | byte(b);
}

// ---------------------------------------------------------------------------
// Matrices

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
  *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

BOOL D3DXMatrixIsIdentity(const D3DXMATRIX* m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (m->m[i][j] != (i == j ? 1.0f : 0.0f)) return FALSE;
  return TRUE;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
  // out may alias a or b: compute into a temporary.
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                  a->m[i][3] * b->m[3][j];
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
  *out = r;
  return out;
}

namespace {

// Cofactor expansion through the 2x2 minors of the upper and lower row pairs.
struct Minors {
  float s[6];  // from rows 0 and 1
  float c[6];  // from rows 2 and 3
  explicit Minors(const D3DMATRIX& a) {
    s[0] = a.m[0][0] * a.m[1][1] - a.m[1][0] * a.m[0][1];
    s[1] = a.m[0][0] * a.m[1][2] - a.m[1][0] * a.m[0][2];
    s[2] = a.m[0][0] * a.m[1][3] - a.m[1][0] * a.m[0][3];
    s[3] = a.m[0][1] * a.m[1][2] - a.m[1][1] * a.m[0][2];
    s[4] = a.m[0][1] * a.m[1][3] - a.m[1][1] * a.m[0][3];
    s[5] = a.m[0][2] * a.m[1][3] - a.m[1][2] * a.m[0][3];
    c[5] = a.m[2][2] * a.m[3][3] - a.m[3][2] * a.m[2][3];
    c[4] = a.m[2][1] * a.m[3][3] - a.m[3][1] * a.m[2][3];
    c[3] = a.m[2][1] * a.m[3][2] - a.m[3][1] * a.m[2][2];
    c[2] = a.m[2][0] * a.m[3][3] - a.m[3][0] * a.m[2][3];
    c[1] = a.m[2][0] * a.m[3][2] - a.m[3][0] * a.m[2][2];
    c[0] = a.m[2][0] * a.m[3][1] - a.m[3][0] * a.m[2][1];
  }
  float Determinant() const {
    return s[0] * c[5] - s[1] * c[4] + s[2] * c[3] + s[3] * c[2] - s[4] * c[1] + s[5] * c[0];
  }
};

}  // namespace

float D3DXMatrixDeterminant(const D3DXMATRIX* m) { return Minors(*m).Determinant(); }

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
  const D3DMATRIX& a = *m;
  Minors k(a);
  const float det = k.Determinant();
  if (determinant) *determinant = det;
  if (det == 0.0f || !std::isfinite(det)) return nullptr;
  const float inv = 1.0f / det;
  const float* s = k.s;
  const float* c = k.c;
  D3DXMATRIX r;
  r.m[0][0] = (a.m[1][1] * c[5] - a.m[1][2] * c[4] + a.m[1][3] * c[3]) * inv;
  r.m[0][1] = (-a.m[0][1] * c[5] + a.m[0][2] * c[4] - a.m[0][3] * c[3]) * inv;
  r.m[0][2] = (a.m[3][1] * s[5] - a.m[3][2] * s[4] + a.m[3][3] * s[3]) * inv;
  r.m[0][3] = (-a.m[2][1] * s[5] + a.m[2][2] * s[4] - a.m[2][3] * s[3]) * inv;
  r.m[1][0] = (-a.m[1][0] * c[5] + a.m[1][2] * c[2] - a.m[1][3] * c[1]) * inv;
  r.m[1][1] = (a.m[0][0] * c[5] - a.m[0][2] * c[2] + a.m[0][3] * c[1]) * inv;
  r.m[1][2] = (-a.m[3][0] * s[5] + a.m[3][2] * s[2] - a.m[3][3] * s[1]) * inv;
  r.m[1][3] = (a.m[2][0] * s[5] - a.m[2][2] * s[2] + a.m[2][3] * s[1]) * inv;
  r.m[2][0] = (a.m[1][0] * c[4] - a.m[1][1] * c[2] + a.m[1][3] * c[0]) * inv;
  r.m[2][1] = (-a.m[0][0] * c[4] + a.m[0][1] * c[2] - a.m[0][3] * c[0]) * inv;
  r.m[2][2] = (a.m[3][0] * s[4] - a.m[3][1] * s[2] + a.m[3][3] * s[0]) * inv;
  r.m[2][3] = (-a.m[2][0] * s[4] + a.m[2][1] * s[2] - a.m[2][3] * s[0]) * inv;
  r.m[3][0] = (-a.m[1][0] * c[3] + a.m[1][1] * c[1] - a.m[1][2] * c[0]) * inv;
  r.m[3][1] = (a.m[0][0] * c[3] - a.m[0][1] * c[1] + a.m[0][2] * c[0]) * inv;
  r.m[3][2] = (-a.m[3][0] * s[3] + a.m[3][1] * s[1] - a.m[3][2] * s[0]) * inv;
  r.m[3][3] = (a.m[2][0] * s[3] - a.m[2][1] * s[1] + a.m[2][2] * s[0]) * inv;
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
  *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
  *out = D3DXMATRIX(sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float angle) {
  D3DXVECTOR3 n;
  D3DXVec3Normalize(&n, axis);
  const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
  *out = D3DXMATRIX(t * n.x * n.x + c, t * n.x * n.y + s * n.z, t * n.x * n.z - s * n.y, 0,
                    t * n.x * n.y - s * n.z, t * n.y * n.y + c, t * n.y * n.z + s * n.x, 0,
                    t * n.x * n.z + s * n.y, t * n.y * n.z - s * n.x, t * n.z * n.z + c, 0,
                    0, 0, 0, 1);
  return out;
}

// Roll about z first, then pitch about x, then yaw about y: Rz · Rx · Ry.
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll) {
  const float cy = std::cos(yaw), sy = std::sin(yaw);
  const float cp = std::cos(pitch), sp = std::sin(pitch);
  const float cr = std::cos(roll), sr = std::sin(roll);
  *out = D3DXMATRIX(cr * cy + sr * sp * sy, sr * cp, sr * sp * cy - cr * sy, 0,
                    cr * sp * sy - sr * cy, cr * cp, sr * sy + cr * sp * cy, 0,
                    cp * sy, -sp, cp * cy, 0,
                    0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  *out = D3DXMATRIX(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0,
                    2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0,
                    2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0,
                    0, 0, 0, 1);
  return out;
}

namespace {

D3DXMATRIX ViewFromAxes(const D3DXVECTOR3& xa, const D3DXVECTOR3& ya, const D3DXVECTOR3& za,
                        const D3DXVECTOR3& eye) {
  return D3DXMATRIX(xa.x, ya.x, za.x, 0,
                    xa.y, ya.y, za.y, 0,
                    xa.z, ya.z, za.z, 0,
                    -D3DXVec3Dot(&xa, &eye), -D3DXVec3Dot(&ya, &eye), -D3DXVec3Dot(&za, &eye), 1);
}

// The view from eye with za (not yet normalised) as the axis that points into the picture.
D3DXMATRIX ViewAlong(D3DXVECTOR3 za, const D3DXVECTOR3& up, const D3DXVECTOR3& eye) {
  D3DXVECTOR3 xa, ya;
  D3DXVec3Normalize(&za, &za);
  D3DXVec3Cross(&xa, &up, &za);
  D3DXVec3Normalize(&xa, &xa);
  D3DXVec3Cross(&ya, &za, &xa);
  return ViewFromAxes(xa, ya, za, eye);
}

}  // namespace

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
  *out = ViewAlong(*at - *eye, *up, *eye);
  return out;
}

D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
  *out = ViewAlong(*eye - *at, *up, *eye);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf) {
  const float ys = 1.0f / std::tan(fovy / 2.0f);
  const float xs = ys / aspect;
  *out = D3DXMATRIX(xs, 0, 0, 0, 0, ys, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, -zn * zf / (zf - zn), 0);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf) {
  const float ys = 1.0f / std::tan(fovy / 2.0f);
  const float xs = ys / aspect;
  *out = D3DXMATRIX(xs, 0, 0, 0, 0, ys, 0, 0, 0, 0, zf / (zn - zf), -1, 0, 0, zn * zf / (zn - zf), 0);
  return out;
}

D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, float w, float h, float zn, float zf) {
  *out = D3DXMATRIX(2 / w, 0, 0, 0, 0, 2 / h, 0, 0, 0, 0, 1 / (zf - zn), 0, 0, 0, zn / (zn - zf), 1);
  return out;
}

D3DXMATRIX* D3DXMatrixOrthoRH(D3DXMATRIX* out, float w, float h, float zn, float zf) {
  *out = D3DXMATRIX(2 / w, 0, 0, 0, 0, 2 / h, 0, 0, 0, 0, 1 / (zn - zf), 0, 0, 0, zn / (zn - zf), 1);
  return out;
}

D3DXMATRIX* D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* out, float l, float r, float b, float t, float zn, float zf) {
  *out = D3DXMATRIX(2 / (r - l), 0, 0, 0, 0, 2 / (t - b), 0, 0, 0, 0, 1 / (zf - zn), 0,
                    (l + r) / (l - r), (t + b) / (b - t), zn / (zn - zf), 1);
  return out;
}

// ---------------------------------------------------------------------------
// Quaternions

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out) {
  *out = D3DXQUATERNION(0, 0, 0, 1);
  return out;
}

// The same rotation as D3DXMatrixRotationYawPitchRoll: roll, then pitch, then yaw.
D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* out, float yaw, float pitch, float roll) {
  const float cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
  const float cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const float cr = std::cos(roll / 2), sr = std::sin(roll / 2);
  *out = D3DXQUATERNION(cy * sp * cr + sy * cp * sr,
                        sy * cp * cr - cy * sp * sr,
                        cy * cp * sr - sy * sp * cr,
                        cy * cp * cr + sy * sp * sr);
  return out;
}

D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle) {
  D3DXVECTOR3 n;
  D3DXVec3Normalize(&n, axis);
  const float s = std::sin(angle / 2);
  *out = D3DXQUATERNION(n.x * s, n.y * s, n.z * s, std::cos(angle / 2));
  return out;
}

D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
  const float len = std::sqrt(q->x * q->x + q->y * q->y + q->z * q->z + q->w * q->w);
  if (len == 0.0f) {
    *out = D3DXQUATERNION(0, 0, 0, 0);
  } else {
    *out = D3DXQUATERNION(q->x / len, q->y / len, q->z / len, q->w / len);
  }
  return out;
}

// D3DX orders the product so that a acts first (as with matrices): the
// Hamilton product b * a.
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* a, const D3DXQUATERNION* b) {
  const D3DXQUATERNION p = *b, q = *a;
  *out = D3DXQUATERNION(p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
                        p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x,
                        p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w,
                        p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z);
  return out;
}

// ---------------------------------------------------------------------------
// Vectors

float D3DXVec2Length(const D3DXVECTOR2* v) { return std::sqrt(v->x * v->x + v->y * v->y); }

D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* out, const D3DXVECTOR2* v) {
  const float len = D3DXVec2Length(v);
  *out = len == 0.0f ? D3DXVECTOR2(0, 0) : D3DXVECTOR2(v->x / len, v->y / len);
  return out;
}

float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(D3DXVec3LengthSq(v)); }
float D3DXVec3LengthSq(const D3DXVECTOR3* v) { return v->x * v->x + v->y * v->y + v->z * v->z; }
float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = D3DXVECTOR3(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
  return out;
}

D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = *a + *b;
  return out;
}

D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = *a - *b;
  return out;
}

D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s) {
  *out = *v * s;
  return out;
}

D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b, float s) {
  *out = *a + (*b - *a) * s;
  return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
  const float len = D3DXVec3Length(v);
  *out = len == 0.0f ? D3DXVECTOR3(0, 0, 0) : D3DXVECTOR3(v->x / len, v->y / len, v->z / len);
  return out;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const D3DXVECTOR4 in(*v, 1.0f);
  return D3DXVec4Transform(out, &in, m);
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  D3DXVECTOR4 r;
  D3DXVec3Transform(&r, v, m);
  *out = D3DXVECTOR3(r.x / r.w, r.y / r.w, r.z / r.w);
  return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const D3DXVECTOR3 in = *v;
  *out = D3DXVECTOR3(in.x * m->_11 + in.y * m->_21 + in.z * m->_31, in.x * m->_12 + in.y * m->_22 + in.z * m->_32,
                     in.x * m->_13 + in.y * m->_23 + in.z * m->_33);
  return out;
}

D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* out, const D3DXVECTOR4* v, const D3DXMATRIX* m) {
  const D3DXVECTOR4 in = *v;
  *out = D3DXVECTOR4(in.x * m->_11 + in.y * m->_21 + in.z * m->_31 + in.w * m->_41,
                     in.x * m->_12 + in.y * m->_22 + in.z * m->_32 + in.w * m->_42,
                     in.x * m->_13 + in.y * m->_23 + in.z * m->_33 + in.w * m->_43,
                     in.x * m->_14 + in.y * m->_24 + in.z * m->_34 + in.w * m->_44);
  return out;
}

float D3DXVec4Dot(const D3DXVECTOR4* a, const D3DXVECTOR4* b) {
  return a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
}
